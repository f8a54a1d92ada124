#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::optional<std::uint64_t> g_writeLimit;
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

// Copies everything from in to out; false with errno set on failure.
bool copyContent(int in, int out, std::uint64_t expected, std::string& error) {
    std::uint64_t written = 0;
    bool useKernelCopy = !g_writeLimit.has_value();
    while (useKernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
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
        std::vector<char> buffer(1u << 20);
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
            std::size_t done = 0;
            while (done < static_cast<std::size_t>(n)) {
                std::size_t chunk = static_cast<std::size_t>(n) - done;
                if (g_writeLimit) {
                    if (written >= *g_writeLimit) {
                        error = errorText(ENOSPC);
                        return false;
                    }
                    chunk = static_cast<std::size_t>(
                        std::min<std::uint64_t>(chunk, *g_writeLimit - written));
                }
                const ssize_t w = ::write(out, buffer.data() + done, chunk);
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    error = errorText(errno);
                    return false;
                }
                done += static_cast<std::size_t>(w);
                written += static_cast<std::uint64_t>(w);
            }
        }
    }
    if (written != expected) {
        // The source changed size under us: do not pass a partial file off as the copy.
        error = "the file changed while it was being copied";
        return false;
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool CanOpenExistingFile(const std::string& path) {
    if (path.empty() || path.find_first_of("?*") != std::string::npos)
        return false;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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

CopyOutcome CopyFileReplacing(const std::string& source, const std::string& target) {
    CopyOutcome outcome;
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (in.get() < 0) {
        outcome.error = errorText(errno);
        return outcome;
    }
    struct stat src {};
    if (::fstat(in.get(), &src) != 0 || !S_ISREG(src.st_mode)) {
        outcome.error = "not a regular file";
        return outcome;
    }
    mode_t mode = 0666;
    bool replacing = false;
    struct stat dst {};
    if (::stat(target.c_str(), &dst) == 0) {
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
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
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp = folderOf(target) + "/." + nameOf(target) + ".tamberlin-XXXXXX";
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
    if (!copyContent(in.get(), out.get(), static_cast<std::uint64_t>(src.st_size), error))
        return discard(error);
    if (::fchmod(out.get(), mode) != 0)
        return discard(errorText(errno));
    // Replacing a file the user had: make sure the new bytes are on disk before the old
    // ones go, so that a crash cannot leave an empty file in its place.
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

void SetCopyWriteLimit(std::optional<std::uint64_t> bytes) {
    g_writeLimit = bytes;
}
void SetCopyBeforeRenameHook(std::function<void()> hook) {
    g_beforeRename = std::move(hook);
}

} // namespace platform
