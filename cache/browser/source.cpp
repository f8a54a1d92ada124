#include "cache/browser/source.h"
#include "cache/browser/entry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace browser::detail {

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

ReadOnlyFile::~ReadOnlyFile() {
    close();
}

void ReadOnlyFile::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
    identity_ = {};
}

bool ReadOnlyFile::open(const std::string& path) {
    return open(AT_FDCWD, path);
}

bool ReadOnlyFile::open(int folder, const std::string& name) {
    close();
    const int fd =
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    identity_ = IdentityOf(st);
    return true;
}

std::ptrdiff_t ReadOnlyFile::readSome(std::uint64_t offset, void* buffer, std::size_t n) const {
    if (fd_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX))
        return -1;
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        return got;
    }
}

bool ReadOnlyFile::readAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    if (offset > size_ || n > size_ - offset)
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

bool ReadOnlyFile::currentSize(std::uint64_t& size) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0)
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool ReadOnlyFile::dataRun(std::uint64_t offset, std::uint64_t& start, std::uint64_t& end) const {
    if (fd_ < 0 || offset >= size_)
        return false;
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO)
            return false; // only a hole is left
        start = offset;   // no such question on this file system: all of it is data
        end = size_;
        return true;
    }
    const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
    start = static_cast<std::uint64_t>(data);
    end = hole < 0 ? size_ : std::min(size_, static_cast<std::uint64_t>(hole));
    return start < end;
}

bool ReadOnlyFile::currentIdentity(FileIdentity& now) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    now = IdentityOf(st);
    return true;
}

OpenFolder::OpenFolder(std::string path)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

bool OpenFolder::open(ReadOnlyFile& file, const std::string& name) const {
    return fd_ >= 0 ? file.open(fd_, name) : file.open(path_ + "/" + name);
}

OpenFolder::~OpenFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace browser::detail

namespace browser {

std::optional<BodyLocation> WholeFileBody(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    BodyLocation body;
    body.segments.push_back(detail::Segment(path, 0, static_cast<std::uint64_t>(st.st_size)));
    body.segments.back().identity = detail::IdentityOf(st);
    body.decodedSize = static_cast<std::uint64_t>(st.st_size);
    return body;
}

} // namespace browser
