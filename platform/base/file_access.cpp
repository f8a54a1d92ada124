#include "platform/base/file_access.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

int Folder::listStartingWith(std::string_view prefix, std::vector<FolderEntry>& entries) const {
    const std::size_t before = entries.size();
    const int error = list(entries);
    entries.erase(std::remove_if(entries.begin() + static_cast<std::ptrdiff_t>(before),
                                 entries.end(),
                                 [&](const FolderEntry& e) { return !e.name.starts_with(prefix); }),
                  entries.end());
    return error;
}

bool OpenFile::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    if (offset > size() || n > size() - offset)
        return false;
    auto* out = static_cast<char*>(buffer);
    while (n > 0) {
        const std::ptrdiff_t got = readSome(offset, out, n);
        if (got <= 0)
            return false; // the file shrank under us, or the read failed
        out += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool OpenFile::dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const {
    if (offset >= size())
        return false;
    start = offset;
    end = size();
    return true;
}

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size < 0 ? 0 : st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

EntryKind KindOfMode(mode_t mode) {
    return S_ISREG(mode)   ? EntryKind::File
           : S_ISDIR(mode) ? EntryKind::Folder
           : S_ISLNK(mode) ? EntryKind::Link
                           : EntryKind::Other;
}

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

class HostFile final : public OpenFile {
  public:
    HostFile(int fd, const FileIdentity& identity) : fd_(fd) { identity_ = identity; }

    std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX))
            return -1;
        for (;;) {
            const ssize_t got = ::pread(fd_.get(), buffer, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            return got;
        }
    }

    bool currentIdentity(FileIdentity& now) const override {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0)
            return false;
        now = IdentityOf(st);
        return true;
    }

    bool dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const override {
        if (offset >= size())
            return false;
        const off_t data = ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                return false;                             // only a hole is left
            return OpenFile::dataRun(offset, start, end); // the file system cannot tell
        }
        const off_t hole = ::lseek(fd_.get(), data, SEEK_HOLE);
        start = static_cast<std::uint64_t>(data);
        end = hole < 0 ? size() : std::min(size(), static_cast<std::uint64_t>(hole));
        return start < end;
    }

  private:
    Descriptor fd_;
};

class HostFolder final : public Folder {
  public:
    HostFolder(int fd, bool listable, std::string path, const FileIdentity& identity)
        : fd_(fd), listable_(listable) {
        path_ = std::move(path);
        identity_ = identity;
    }
    int fd() const { return fd_.get(); }

    int list(std::vector<FolderEntry>& entries) const override {
        // Read straight from the held descriptor, rewound: listing moves its position, so one
        // folder is listed by one thread at a time. A folder held only for opening (no read
        // permission) cannot be listed.
        if (!listable_)
            return EACCES;
        if (::lseek(fd_.get(), 0, SEEK_SET) < 0)
            return errno;
        alignas(dirent64) char buffer[32768];
        for (;;) {
            const ssize_t got = ::getdents64(fd_.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return got < 0 ? (errno == EBADF ? EACCES : errno) : 0;
            for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
                const auto* e = reinterpret_cast<const dirent64*>(buffer + at);
                if (e->d_reclen == 0 || e->d_reclen > static_cast<std::size_t>(got) - at)
                    return EIO; // (the kernel never gives this)
                at += e->d_reclen;
                const std::string_view name = e->d_name;
                if (name != "." && name != "..")
                    entries.push_back({std::string(name), KindOf(fd_.get(), e->d_type, e->d_name)});
            }
        }
    }

    bool searchable() const override {
        const int self = ::openat(fd_.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (self < 0)
            return errno != EACCES;
        ::close(self);
        return true;
    }

  private:
    static EntryKind KindOf(int dir, unsigned char type, const char* name) {
        switch (type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
            return EntryKind::Link;
        case DT_UNKNOWN:
            break; // some file systems do not say: ask
        default:
            return EntryKind::Other;
        }
        struct stat st {};
        if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Unknown;
        return KindOfMode(st.st_mode);
    }

    Descriptor fd_;
    bool listable_; // opened for reading, not only as a place (O_PATH)
};

// One name of a folder, never a path: a slash or ".." would walk out of the folder past the
// no-follow rule, which holds only for the last part of a path.
bool IsOneName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string Join(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::unique_ptr<Folder> OpenFolderAt(int at, const std::string& name, std::string path, bool follow,
                                     int& error) {
    const int flags = O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    int fd = ::openat(at, name.c_str(), O_RDONLY | flags);
    const bool listable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = ::openat(at, name.c_str(), O_PATH | flags); // files in it may still be opened
    Descriptor held(fd);
    struct stat st {};
    if (held.get() < 0 || ::fstat(held.get(), &st) != 0) {
        error = errno;
        return nullptr;
    }
    return std::make_unique<HostFolder>(held.release(), listable, std::move(path), IdentityOf(st));
}

std::unique_ptr<OpenFile> OpenFileAt(int at, const std::string& name, int& error,
                                     bool follow = false) {
    // Non-blocking, so that opening a FIFO does not wait for a writer; no controlling tty.
    Descriptor fd(
        ::openat(at, name.c_str(),
                 O_RDONLY | (follow ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        error = errno;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    return std::make_unique<HostFile>(fd.release(), IdentityOf(st));
}

class HostFileAccess final : public FileAccess {
  public:
    std::unique_ptr<Folder> openFolder(const std::string& path, int& error) const override {
        return OpenFolderAt(AT_FDCWD, path, path, true, error);
    }
    std::unique_ptr<Folder> openFolder(const Folder& in, const std::string& name,
                                       int& error) const override {
        const int at = Fd(in, name, error);
        return at < 0 ? nullptr : OpenFolderAt(at, name, Join(in.path(), name), false, error);
    }
    std::unique_ptr<OpenFile> openFile(const std::string& path, int& error) const override {
        return OpenFileAt(AT_FDCWD, path, error);
    }
    std::unique_ptr<OpenFile> openFile(const Folder& in, const std::string& name,
                                       int& error) const override {
        const int at = Fd(in, name, error);
        return at < 0 ? nullptr : OpenFileAt(at, name, error);
    }
    EntryKind kindAt(const std::string& path, bool followLinks, int& error) const override {
        struct stat st {};
        if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
            error = errno;
            return EntryKind::Unknown;
        }
        return KindOfMode(st.st_mode);
    }
    bool followsLinks() const override { return true; }
    std::unique_ptr<OpenFile> openFileFollowingLinks(const std::string& path,
                                                     int& error) const override {
        return OpenFileAt(AT_FDCWD, path, error, true);
    }

  private:
    // The descriptor of a folder this file system opened, for one name in it; -1 with the
    // error for a name that is not one or a folder of another file system.
    static int Fd(const Folder& folder, const std::string& name, int& error) {
        const auto* host = dynamic_cast<const HostFolder*>(&folder);
        if (!host || !IsOneName(name)) {
            error = host ? EINVAL : EXDEV;
            return -1;
        }
        return host->fd();
    }
};

} // namespace

FileIdentity HostIdentityOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? IdentityOf(st) : FileIdentity{};
}

FileIdentity HostIdentityOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? IdentityOf(st) : FileIdentity{};
}

const FileAccess& HostFiles() {
    static const HostFileAccess files;
    return files;
}

} // namespace platform
