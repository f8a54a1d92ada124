#include "platform/base/files.h"
#include "platform/base/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

CopyCallHook g_callHook;
std::function<void()> g_beforeRename;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int f = fd_;
        fd_ = -1;
        return f;
    }

  private:
    int fd_;
};

std::string errorText(int err) {
    return std::strerror(err);
}

// Opens for reading without ever blocking: a named pipe with no writer would otherwise hold
// the caller forever, and what the path is gets decided from the descriptor afterwards.
int openForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// The two calls that put bytes into a temporary file, with the test seam in front of them.
ssize_t kernelCopy(int in, int out, std::size_t count, std::uint64_t written) {
    if (g_callHook) {
        if (const int err = g_callHook(CopyCall::KernelCopy, written, count)) {
            errno = err;
            return -1;
        }
    }
    return ::copy_file_range(in, nullptr, out, nullptr, count, 0);
}

ssize_t writeSome(int out, const char* data, std::size_t count, std::uint64_t written) {
    if (g_callHook) {
        if (const int err = g_callHook(CopyCall::Write, written, count)) {
            errno = err;
            return -1;
        }
    }
    return ::write(out, data, count);
}

// Writes all of data; false with the reason in error.
bool writeAll(int out, const char* data, std::size_t size, std::uint64_t& written,
              std::string& error) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t w = writeSome(out, data + done, size - done, written);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            error = errorText(w < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(w);
        written += static_cast<std::uint64_t>(w);
    }
    return true;
}

constexpr std::size_t kBufferBytes = 1u << 20;

// Copies everything from in to out, in the kernel where the file systems allow it.
bool copyContent(int in, int out, std::uint64_t expected, std::string& error) {
    std::uint64_t written = 0;
    bool useKernelCopy = true;
    for (;;) {
        const ssize_t n = kernelCopy(in, out, 1u << 30, written);
        if (n > 0) {
            written += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EBADF) {
            if (written != 0 && ::lseek(in, static_cast<off_t>(written), SEEK_SET) < 0) {
                error = errorText(errno);
                return false;
            }
            useKernelCopy = false;
            break;
        }
        error = errorText(errno);
        return false;
    }
    if (!useKernelCopy) {
        std::vector<char> buffer(kBufferBytes);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = errorText(errno);
                return false;
            }
            if (n == 0)
                break;
            if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n), written, error))
                return false;
        }
    }
    if (written != expected) {
        // The source changed size under us: do not pass a partial file off as the copy.
        error = "the file changed while it was being copied";
        return false;
    }
    return true;
}

// The folder a temporary file for target goes into, with its trailing separator.
std::string folderWithSeparator(const std::string& path) {
    const auto slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

mode_t newFileMode() {
    // Read once: umask can only be read by setting it, which is not safe to repeat while
    // other threads create files.
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return 0666 & ~mask;
}

using Filler = std::function<bool(int out, std::string& error)>;

// The shared half of every replacing write: checks the target, fills a temporary file
// beside it and renames that over the target only when complete. source, when given, is
// the file being copied, so that copying a file onto itself leaves it alone.
CopyOutcome replaceTarget(const std::string& target, const struct stat* source,
                          const Filler& fill) {
    CopyOutcome outcome;
    mode_t mode = newFileMode();
    bool replacing = false;
    struct stat dst {};
    if (::stat(target.c_str(), &dst) == 0) {
        if (source && dst.st_dev == source->st_dev && dst.st_ino == source->st_ino) {
            outcome.status = CopyStatus::SameFile;
            return outcome;
        }
        if (S_ISDIR(dst.st_mode)) {
            outcome.error = errorText(EISDIR);
            return outcome;
        }
        // A file the user made read-only stays as it is, as it would on Windows (even for
        // a user who could write it anyway).
        if (::access(target.c_str(), W_OK) != 0 || (dst.st_mode & S_IWUSR) == 0) {
            outcome.error = errorText(EACCES);
            return outcome;
        }
        mode = dst.st_mode & 07777;
        replacing = true;
    }

    // A short name of fixed length, so that any name the folder can hold can be saved.
    std::string temp = folderWithSeparator(target) + ".tamberlin-XXXXXX";
    Fd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0) {
        outcome.error = errorText(errno);
        return outcome;
    }
    auto discard = [&](std::string why) {
        ::close(out.release());
        ::unlink(temp.c_str());
        outcome.error = std::move(why);
        return outcome;
    };
    std::string error;
    if (!fill(out.get(), error))
        return discard(error);
    if (::fchmod(out.get(), mode) != 0)
        return discard(errorText(errno));
    // Replacing a file the user had: make sure the new bytes are on disk before the old
    // ones go, so that a crash cannot leave an empty file in its place. A new file has no
    // old content to lose and is left to the ordinary write-back.
    if (replacing && ::fsync(out.get()) != 0)
        return discard(errorText(errno));
    if (::close(out.release()) != 0) {
        ::unlink(temp.c_str());
        outcome.error = errorText(errno);
        return outcome;
    }
    if (g_beforeRename)
        g_beforeRename();
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        outcome.error = errorText(err);
        return outcome;
    }
    outcome.status = CopyStatus::Copied;
    return outcome;
}

} // namespace

bool CanOpenExistingFile(const std::string& path) {
    if (path.empty() || path.find_first_of("?*") != std::string::npos)
        return false;
    Fd fd(openForReading(path));
    if (fd.get() < 0)
        return false;
    struct stat st {};
    return ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> FileDateTime(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtime);
}

ReadOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    ReadOutcome r;
    Fd fd(path.empty() ? -1 : openForReading(path));
    if (fd.get() < 0) {
        const int err = path.empty() ? ENOENT : errno;
        r.status = err == ENOENT || err == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
        r.error = errorText(err);
        return r;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        r.error = errorText(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = ReadStatus::NotAFile;
        r.error = "not a regular file";
        return r;
    }
    const auto tooLarge = [&] {
        r.status = ReadStatus::TooLarge;
        r.error = "the file is too large";
        return r;
    };
    if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return tooLarge();
    // The size is only a hint (files under /proc say 0, a file may grow while it is read):
    // read until the end, but never more than one byte past the limit.
    const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    std::string buffer;
    buffer.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(st.st_size) + 1));
    std::size_t used = 0;
    for (;;) {
        if (used == buffer.size()) {
            if (used >= limit)
                break;
            buffer.resize(std::min(limit, std::max(used * 2, std::size_t{64} << 10)));
        }
        const ssize_t n = ::read(fd.get(), buffer.data() + used, buffer.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.error = errorText(errno);
            return r;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    if (used > maxBytes)
        return tooLarge();
    buffer.resize(used);
    r.status = ReadStatus::Read;
    r.bytes = std::move(buffer);
    return r;
}

CopyOutcome CopyFileReplacing(const std::string& source, const std::string& target) {
    CopyOutcome outcome;
    Fd in(openForReading(source));
    if (in.get() < 0) {
        outcome.error = errorText(errno);
        return outcome;
    }
    struct stat src {};
    if (::fstat(in.get(), &src) != 0 || !S_ISREG(src.st_mode)) {
        outcome.error = "not a regular file";
        return outcome;
    }
    return replaceTarget(target, &src, [&](int out, std::string& error) {
        return copyContent(in.get(), out, static_cast<std::uint64_t>(src.st_size), error);
    });
}

CopyOutcome WriteStreamReplacing(const ByteSource& source, const std::string& target,
                                 std::function<std::string()> sourceError) {
    return replaceTarget(target, nullptr, [&](int out, std::string& error) {
        std::vector<char> buffer(kBufferBytes);
        std::uint64_t written = 0;
        for (;;) {
            const std::ptrdiff_t n = source ? source(buffer.data(), buffer.size()) : 0;
            if (n == 0)
                return true;
            if (n < 0 || static_cast<std::size_t>(n) > buffer.size()) {
                error = sourceError ? sourceError() : std::string();
                if (error.empty())
                    error = "the data could not be read";
                return false;
            }
            if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n), written, error))
                return false;
        }
    });
}

void SetCopyCallHook(CopyCallHook hook) {
    g_callHook = std::move(hook);
}

void SetCopyWriteLimit(std::optional<std::uint64_t> bytes) {
    if (!bytes) {
        g_callHook = {};
        return;
    }
    const std::uint64_t limit = *bytes;
    g_callHook = [limit](CopyCall, std::uint64_t written, std::size_t& count) {
        if (written >= limit)
            return ENOSPC;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, limit - written));
        return 0;
    };
}

void SetCopyBeforeRenameHook(std::function<void()> hook) {
    g_beforeRename = std::move(hook);
}

} // namespace platform
