#include "platform/base/files.h"
#include "platform/base/paths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <sys/uio.h>
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

// Temporary files that a signal ending the program must not leave behind. The handler may
// only do what is async-signal-safe, so the paths sit in a fixed table it can read without
// locks: a slot is claimed (1), filled, then published (2); the handler unlinks published
// slots only.
constexpr std::size_t kPendingSlots = 8;
struct PendingTemporary {
    std::atomic<int> state{0};
    char path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);
PendingTemporary g_pending[kPendingSlots];
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removePendingThenEnd(int signal) {
    const int savedErrno = errno;
    for (auto& slot : g_pending)
        if (slot.state.load() == 2)
            ::unlink(slot.path);
    // The handler was installed to run once (SA_RESETHAND): the signal raised again is
    // delivered when it returns, with the default action.
    ::raise(signal);
    errno = savedErrno;
}

// Holds off the ending signals while a temporary file and its entry in the table come into
// being or go away together.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld() {
        sigset_t set;
        ::sigemptyset(&set);
        for (const int sig : kEndingSignals)
            ::sigaddset(&set, sig);
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  private:
    sigset_t old_;
};

// A named temporary file listed for removal on a signal for as long as it lives. Create and
// dispose of it while the ending signals are held.
class NamedTemporary {
  public:
    NamedTemporary() = default;
    ~NamedTemporary() { forget(); }
    NamedTemporary(const NamedTemporary&) = delete;
    NamedTemporary& operator=(const NamedTemporary&) = delete;

    // Lists `path` (a table that is full, or a path too long for it, lists nothing: the
    // write still works, it is only not cleaned up after a signal).
    void remember(const std::string& path) {
        forget();
        path_ = path;
        if (path.size() >= PATH_MAX)
            return;
        for (std::size_t i = 0; i < kPendingSlots; ++i) {
            int expected = 0;
            if (g_pending[i].state.compare_exchange_strong(expected, 1)) {
                std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
                g_pending[i].state.store(2);
                slot_ = static_cast<int>(i);
                return;
            }
        }
    }
    // The file is gone (renamed or removed): nothing to clean up any more.
    void forget() {
        if (slot_ >= 0)
            g_pending[slot_].state.store(0);
        slot_ = -1;
        path_.clear();
    }
    const std::string& path() const { return path_; }
    bool named() const { return !path_.empty(); }

  private:
    std::string path_;
    int slot_ = -1;
};

bool g_unnamedAllowed = true;

// A name of fixed length, so that any name the folder can hold can be saved.
std::string temporaryName(const std::string& target) {
    static std::minstd_rand random(std::random_device{}());
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folderWithSeparator(target) + ".tamberlin-";
    for (int i = 0; i < 6; ++i)
        name += kChars[random() % (sizeof kChars - 1)];
    return name;
}

// An unnamed file in the target's folder (O_TMPFILE), which nothing can leave behind: it
// only gets a name when linked in, complete. -1 where the file system cannot make one, or
// where /proc, through which it is linked, is not there.
int openUnnamed(const std::string& target, mode_t mode) {
    if (!g_unnamedAllowed)
        return -1;
    const int fd =
        ::open(folderWithSeparator(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &st) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Gives the unnamed file `fd` the name `path`; fails with EEXIST when the name is taken.
int linkUnnamed(int fd, const std::string& path) {
    return ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD,
                    path.c_str(), AT_SYMLINK_FOLLOW);
}

using Filler = std::function<bool(int out, std::string& error)>;

// The target as found: the mode the new file takes (a replaced file keeps its own) and
// whether there is a file to replace; or, when the target must be left alone, the outcome.
struct TargetFound {
    mode_t mode = newFileMode();
    bool replacing = false;
    std::optional<CopyOutcome> leftAlone;
};

// source, when given, is the file being copied, so that copying a file onto itself leaves it
// alone.
TargetFound examineTarget(const std::string& target, const struct stat* source) {
    TargetFound found;
    struct stat dst {};
    if (::stat(target.c_str(), &dst) != 0)
        return found;
    const auto leave = [&](CopyStatus status, std::string error) {
        found.leftAlone = CopyOutcome{status, std::move(error)};
        return found;
    };
    if (source && dst.st_dev == source->st_dev && dst.st_ino == source->st_ino)
        return leave(CopyStatus::SameFile, {});
    if (S_ISDIR(dst.st_mode))
        return leave(CopyStatus::Failed, errorText(EISDIR));
    // A file the user made read-only stays as it is, as it would on Windows (even for a user
    // who could write it anyway).
    if (::access(target.c_str(), W_OK) != 0 || (dst.st_mode & S_IWUSR) == 0)
        return leave(CopyStatus::Failed, errorText(EACCES));
    found.mode = dst.st_mode & 07777;
    found.replacing = true;
    return found;
}

// The file the bytes go to before they take the target's place: unnamed where the file
// system allows it, else a named file listed for removal should a signal end the program
// before it is renamed. -1, with why, when neither can be made.
int openTemporary(const std::string& target, mode_t mode, NamedTemporary& temp,
                  std::string& error) {
    const int unnamed = openUnnamed(target, mode);
    if (unnamed >= 0)
        return unnamed;
    EndingSignalsHeld held;
    std::string name = folderWithSeparator(target) + ".tamberlin-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errorText(errno);
        return -1;
    }
    temp.remember(name);
    return fd;
}

// Gives the unnamed file `fd` a free temporary name beside the target, from which it can be
// renamed over a file there. 0, or the error of the attempt that gave up.
int linkUnderTemporaryName(int fd, const std::string& target, NamedTemporary& temp) {
    for (int attempt = 0;; ++attempt) {
        EndingSignalsHeld held;
        const std::string name = temporaryName(target);
        if (linkUnnamed(fd, name) == 0) {
            temp.remember(name);
            return 0;
        }
        if (errno != EEXIST || attempt == 100)
            return errno;
    }
}

// The shared half of every replacing write: checks the target, fills a temporary file
// beside it and puts that in place of the target only when complete. source, when given, is
// the file being copied.
CopyOutcome replaceTarget(const std::string& target, const struct stat* source,
                          const Filler& fill) {
    const TargetFound found = examineTarget(target, source);
    if (found.leftAlone)
        return *found.leftAlone;

    CopyOutcome outcome;
    NamedTemporary temp;
    std::string error;
    Fd out(openTemporary(target, found.mode, temp, error));
    if (out.get() < 0) {
        outcome.error = std::move(error);
        return outcome;
    }
    const auto removeTemp = [&] {
        if (temp.named()) {
            EndingSignalsHeld held;
            ::unlink(temp.path().c_str());
            temp.forget();
        }
    };
    auto discard = [&](std::string why) {
        ::close(out.release());
        removeTemp();
        outcome.error = std::move(why);
        return outcome;
    };
    if (!fill(out.get(), error))
        return discard(error);
    if (::fchmod(out.get(), found.mode) != 0)
        return discard(errorText(errno));
    // Replacing a file the user had: make sure the new bytes are on disk before the old
    // ones go, so that a crash cannot leave an empty file in its place. A new file has no
    // old content to lose and is left to the ordinary write-back.
    if (found.replacing && ::fsync(out.get()) != 0)
        return discard(errorText(errno));
    bool hooked = false;
    const auto beforePlacing = [&] {
        if (g_beforeRename && !hooked)
            g_beforeRename();
        hooked = true;
    };
    if (!temp.named()) {
        // A new target gets its name in one step; one that is (or meanwhile became) taken is
        // replaced through a named link renamed over it.
        if (!found.replacing) {
            beforePlacing();
            if (linkUnnamed(out.get(), target) == 0) {
                ::close(out.release());
                outcome.status = CopyStatus::Copied;
                return outcome;
            }
            if (errno != EEXIST)
                return discard(errorText(errno));
        }
        if (const int err = linkUnderTemporaryName(out.get(), target, temp))
            return discard(errorText(err));
    }
    if (::close(out.release()) != 0) {
        const int err = errno;
        removeTemp();
        outcome.error = errorText(err);
        return outcome;
    }
    beforePlacing();
    EndingSignalsHeld held;
    if (::rename(temp.path().c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.path().c_str());
        outcome.error = errorText(err);
        return outcome;
    }
    temp.forget();
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

void ReadAhead(const std::string& path, std::uint64_t limit, const std::stop_token& stop) {
    // The kernel reads at most a few megabytes for one request: the file is asked for in parts
    // of this size.
    constexpr std::uint64_t kPart = std::uint64_t{8} << 20;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const std::uint64_t end = std::min(static_cast<std::uint64_t>(st.st_size), limit);
        for (std::uint64_t at = 0; at < end && !stop.stop_requested(); at += kPart) {
            // A part whose first and last bytes are in memory is taken to be there whole:
            // a cache read a moment ago costs two reads that never wait, not a walk of it.
            const std::uint64_t last = std::min(at + kPart, end) - 1;
            char byte = 0;
            const auto inMemory = [&](std::uint64_t offset) {
                iovec v{&byte, 1};
                return ::preadv2(fd, &v, 1, static_cast<off_t>(offset), RWF_NOWAIT) == 1;
            };
            if (!inMemory(at) || !inMemory(last))
                ::posix_fadvise(fd, static_cast<off_t>(at), static_cast<off_t>(last - at + 1),
                                POSIX_FADV_WILLNEED);
        }
    }
    ::close(fd);
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

void RemoveTemporaryFilesOnSignal() {
    for (const int sig : kEndingSignals) {
        struct sigaction previous {};
        if (::sigaction(sig, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue; // started ignoring it (nohup, a background job): it stays ignored
        struct sigaction action {};
        action.sa_handler = removePendingThenEnd;
        ::sigemptyset(&action.sa_mask);
        for (const int other : kEndingSignals)
            ::sigaddset(&action.sa_mask, other);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(sig, &action, nullptr);
    }
}

void SetUnnamedTemporaryFiles(bool allowed) {
    g_unnamedAllowed = allowed;
}

void SetCopyBeforeRenameHook(std::function<void()> hook) {
    g_beforeRename = std::move(hook);
}

} // namespace platform
