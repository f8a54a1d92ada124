#include "platform/image/image_reader.h"

#include "platform/image/reader_protocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace platform {

namespace {

using namespace reader_protocol;

// ---- the program's side

// The reader process and the pipe to it, shared by the image's trees, folders and files.
class Connection {
  public:
    Connection(pid_t pid, int fd, std::chrono::milliseconds timeout)
        : pid_(pid), fd_(fd), timeout_(timeout), answers_(fd) {
        // Neither a write nor a read waits longer than an answer may take.
        const auto ms = timeout.count();
        const timeval limit{static_cast<time_t>(ms / 1000),
                            static_cast<suseconds_t>(ms % 1000 * 1000)};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    ~Connection() {
        closeSegments();
        ::close(fd_);
        if (!reaped_) {
            ::kill(pid_, SIGKILL); // (it would end on the closed pipe; a hung one would not)
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The answer to a request; nothing once the reader has stopped or fails to answer in time.
    std::optional<std::string> ask(const Writer& request) {
        const std::lock_guard held(lock_);
        if (!failure_.empty())
            return std::nullopt;
        const auto deadline = std::chrono::steady_clock::now() + timeout_;
        told_ += request.framed();
        const bool written = WriteAll(fd_, told_);
        told_.clear();
        if (written)
            if (auto answer = answers_.next(deadline))
                return answer;
        stop(!written || answers_.silent());
        return std::nullopt;
    }
    // A request that has no answer (a close): sent with the next request.
    void tell(const Writer& request) {
        const std::lock_guard held(lock_);
        if (failure_.empty())
            told_ += request.framed();
    }
    bool failed() const {
        const std::lock_guard held(lock_);
        return !failure_.empty();
    }
    std::string failure() const {
        const std::lock_guard held(lock_);
        return failure_;
    }
    // The image's own files, as they are now: the body checks compare them later. Those of
    // a raw image are held open too, to read files' bytes from them where they lie.
    void watch(const std::vector<std::string>& segments, bool raw) {
        segments_ = segments;
        identities_.clear();
        for (const std::string& s : segments_)
            identities_.push_back(HostIdentityOf(s));
        std::uint64_t start = 0;
        for (std::size_t i = 0; raw && i < segments_.size(); ++i) {
            // (Not blocking: a segment replaced by a FIFO since must not hold the program.)
            const int fd =
                ::open(segments_[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                HostIdentityOf(fd) != identities_[i]) {
                if (fd >= 0)
                    ::close(fd);
                closeSegments();
                return;
            }
            raw_.push_back({fd, start, static_cast<std::uint64_t>(st.st_size)});
            start += static_cast<std::uint64_t>(st.st_size);
        }
    }
    bool readsImage() const { return !raw_.empty(); }
    // Up to n bytes of the image from `offset`, from the one segment it lies in; -1 when
    // they are not there (the image is shorter than when it was opened).
    std::ptrdiff_t readImage(std::uint64_t offset, void* buffer, std::size_t n) const {
        const auto after = std::upper_bound(
            raw_.begin(), raw_.end(), offset,
            [](std::uint64_t at, const RawSegment& segment) { return at < segment.start; });
        if (after == raw_.begin())
            return -1;
        const RawSegment& segment = *std::prev(after);
        const std::uint64_t inside = offset - segment.start;
        if (inside >= segment.size)
            return -1;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, segment.size - inside));
        for (;;) {
            const ssize_t got = ::pread(segment.fd, buffer, n, static_cast<off_t>(inside));
            if (got < 0 && errno == EINTR)
                continue;
            return got > 0 ? got : -1;
        }
    }
    // Whether the image's own files are still the ones opened, unchanged.
    bool unchanged() const {
        for (std::size_t i = 0; i < segments_.size(); ++i)
            if (!(HostIdentityOf(segments_[i]) == identities_[i]))
                return false;
        return true;
    }

  private:
    struct RawSegment {
        int fd;
        std::uint64_t start; // in the image
        std::uint64_t size;
    };
    void closeSegments() {
        for (const RawSegment& segment : raw_)
            ::close(segment.fd);
        raw_.clear();
    }

    // Ends the reader and says how it ended. One that closed the pipe is ending: given a
    // moment to, so that a crash is told as one.
    void stop(bool timedOut) {
        int status = 0;
        pid_t ended = ::waitpid(pid_, &status, WNOHANG);
        for (int wait = 0; !timedOut && ended == 0 && wait < 100; ++wait) {
            ::usleep(5000);
            ended = ::waitpid(pid_, &status, WNOHANG);
        }
        if (ended == pid_ && WIFSIGNALED(status))
            failure_ =
                "the disk image reader crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
        else if (ended == pid_)
            failure_ = "the disk image reader stopped";
        else
            failure_ = "the disk image reader did not answer within " +
                       std::to_string(timeout_.count()) + " ms";
        if (ended != pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        reaped_ = true;
    }

    mutable std::mutex lock_;
    pid_t pid_;
    int fd_;
    std::chrono::milliseconds timeout_;
    Messages answers_;
    std::string told_; // closes not sent yet
    std::vector<std::string> segments_;
    std::vector<FileIdentity> identities_;
    std::vector<RawSegment> raw_;
    std::string failure_;
    bool reaped_ = false;
};

class RemoteFolder final : public Folder {
  public:
    RemoteFolder(std::string path, std::shared_ptr<const Listing> listing)
        : listing_(std::move(listing)) {
        path_ = std::move(path);
        identity_ = listing_->identity;
        deleted_ = listing_->deleted;
    }
    int list(std::vector<FolderEntry>& entries) const override {
        entries.insert(entries.end(), listing_->entries.begin(), listing_->entries.end());
        return listing_->listed;
    }
    bool searchable() const override { return true; }

  private:
    std::shared_ptr<const Listing> listing_;
};

class RemoteFile final : public OpenFile {
  public:
    RemoteFile(std::shared_ptr<Connection> connection, std::uint64_t id, FileIdentity identity,
               std::vector<ImageExtent> extents, std::string head, bool deleted)
        : connection_(std::move(connection)), id_(id), extents_(std::move(extents)),
          head_(std::move(head)) {
        identity_ = identity;
        deleted_ = deleted;
    }
    ~RemoteFile() override {
        if (id_ != 0) // (0: opened by the program alone)
            connection_->tell(Writer().u8(static_cast<std::uint8_t>(Op::Close)).u64(id_));
    }
    std::ptrdiff_t readSome(std::uint64_t offset, void* buffer, std::size_t n) const override {
        if (offset >= size() || n == 0)
            return 0;
        if (!extents_.empty())
            return readInImage(offset, buffer, n);
        if (id_ == 0) // (nothing to read: a file of no bytes)
            return -1;
        if (offset < head_.size()) { // sent with the open
            const std::size_t from = static_cast<std::size_t>(offset);
            const std::size_t take = std::min(n, head_.size() - from);
            std::memcpy(buffer, head_.data() + from, take);
            return static_cast<std::ptrdiff_t>(take);
        }
        n = std::min<std::size_t>(
            {n, kMostRead,
             static_cast<std::size_t>(std::min<std::uint64_t>(size() - offset, SIZE_MAX))});
        const auto answer = connection_->ask(
            Writer().u8(static_cast<std::uint8_t>(Op::Read)).u64(id_).u64(offset).u64(n));
        if (!answer)
            return -1;
        std::string bytes;
        if (reader_protocol::ReadBytes(*answer, n, bytes) != 0)
            return -1;
        std::memcpy(buffer, bytes.data(), bytes.size());
        return static_cast<std::ptrdiff_t>(bytes.size());
    }
    bool currentIdentity(FileIdentity& now) const override {
        if (connection_->failed() || !connection_->unchanged())
            return false;
        now = identity_;
        return true;
    }

  private:
    std::ptrdiff_t readInImage(std::uint64_t offset, void* buffer, std::size_t n) const {
        const auto after = std::upper_bound(
            extents_.begin(), extents_.end(), offset,
            [](std::uint64_t at, const ImageExtent& e) { return at < e.fileOffset; });
        const ImageExtent& e = *std::prev(after); // the first starts at 0
        const std::uint64_t inside = offset - e.fileOffset;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, e.length - inside));
        if (connection_->failed())
            return -1;
        if (e.hole) {
            std::memset(buffer, 0, n);
            return static_cast<std::ptrdiff_t>(n);
        }
        return connection_->readImage(e.imageOffset + inside, buffer, n);
    }

    std::shared_ptr<Connection> connection_;
    std::uint64_t id_;
    std::vector<ImageExtent> extents_; // where its bytes lie in the image, if it is read there
    std::string head_;                 // else its first bytes
};

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

class RemoteFiles final : public FileAccess {
  public:
    RemoteFiles(std::shared_ptr<Connection> connection, std::uint64_t volume, bool caseless)
        : connection_(std::move(connection)), volume_(volume), caseless_(caseless) {}

    std::unique_ptr<Folder> openFolder(const std::string& path, int& error) const override {
        if (connection_->failed()) { // (nothing kept is believed either)
            error = EIO;
            return nullptr;
        }
        const std::string normal = Normal(path);
        const auto listed = listing(normal);
        if (listed->error != 0) {
            error = listed->error;
            return nullptr;
        }
        return std::make_unique<RemoteFolder>(normal, listed);
    }
    std::unique_ptr<Folder> openFolder(const Folder& in, const std::string& name,
                                       int& error) const override {
        if (!dynamic_cast<const RemoteFolder*>(&in) || !OneName(name)) {
            error = EINVAL;
            return nullptr;
        }
        return openFolder(Joined(in.path(), name), error);
    }
    std::unique_ptr<OpenFile> openFile(const std::string& path, int& error) const override {
        if (connection_->failed()) {
            error = EIO;
            return nullptr;
        }
        // What its folder's listing answers is not asked; a file whose folder told where it
        // lies is read there.
        const std::string normal = Normal(path);
        bool deleted = false;
        if (const std::size_t slash = normal.rfind('/');
            slash != std::string::npos && slash + 1 < normal.size()) {
            const std::string folder = slash == 0 ? "/" : normal.substr(0, slash);
            const auto parent = listing(folder);
            const FolderEntry* entry =
                parent->error ? nullptr : find(*parent, normal.substr(slash + 1));
            if (!entry || entry->kind != EntryKind::File) {
                error = parent->error                      ? parent->error
                        : !entry                           ? ENOENT
                        : entry->kind == EntryKind::Link   ? ELOOP
                        : entry->kind == EntryKind::Folder ? EISDIR
                                                           : EINVAL;
                return nullptr;
            }
            deleted = entry->deleted;
            if (connection_->readsImage()) {
                const auto placed = placedIn(folder, *parent);
                if (const auto it = placed->find(entry->name); it != placed->end())
                    return std::make_unique<RemoteFile>(connection_, 0, it->second.identity,
                                                        it->second.extents, std::string(), deleted);
            }
        }
        const auto answer = connection_->ask(
            Writer().u8(static_cast<std::uint8_t>(Op::File)).u64(volume_).text(path));
        if (!answer) {
            error = EIO;
            return nullptr;
        }
        reader_protocol::OpenedFile opened;
        if ((error = reader_protocol::ReadOpenedFile(*answer, opened)) != 0)
            return nullptr;
        if (!connection_->readsImage()) // then the reader reads it all
            opened.extents.clear();
        return std::make_unique<RemoteFile>(connection_, opened.id, opened.identity,
                                            std::move(opened.extents), std::move(opened.head),
                                            deleted);
    }
    std::unique_ptr<OpenFile> openFile(const Folder& in, const std::string& name,
                                       int& error) const override {
        if (!dynamic_cast<const RemoteFolder*>(&in) || !OneName(name)) {
            error = EINVAL;
            return nullptr;
        }
        return openFile(Joined(in.path(), name), error);
    }
    // From the folder's listing, asked for once: links are never followed here.
    EntryKind kindAt(const std::string& path, bool, int& error) const override {
        if (connection_->failed()) {
            error = EIO;
            return EntryKind::Unknown;
        }
        const std::string normal = Normal(path);
        const std::size_t slash = normal.rfind('/');
        if (normal == "/" || slash == std::string::npos) {
            const auto root = listing("/");
            error = root->error;
            return root->error == 0 ? EntryKind::Folder : EntryKind::Unknown;
        }
        const auto parent = listing(slash == 0 ? "/" : normal.substr(0, slash));
        if (parent->error != 0) {
            error = parent->error;
            return EntryKind::Unknown;
        }
        const FolderEntry* found = find(*parent, normal.substr(slash + 1));
        if (!found || found->kind == EntryKind::Unknown) {
            error = found ? EIO : ENOENT;
            return EntryKind::Unknown;
        }
        return found->kind;
    }
    bool followsLinks() const override { return false; }
    std::unique_ptr<OpenFile> openFileFollowingLinks(const std::string& path,
                                                     int& error) const override {
        return openFile(path, error);
    }

  private:
    static bool OneName(const std::string& name) {
        return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
    }
    // "/a/b/" and "/a/b" are one folder; "" and "/" the root.
    static std::string Normal(std::string path) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path.empty() ? "/" : path;
    }
    static bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   const auto lower = [](char c) {
                       return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                   };
                   return lower(x) == lower(y);
               });
    }
    // The entry `name` in a listing, found as the file system would find it.
    const FolderEntry* find(const Listing& in, const std::string& name) const {
        for (const FolderEntry& e : in.entries)
            if (e.name == name)
                return &e;
        if (caseless_)
            for (const FolderEntry& e : in.entries)
                if (SameIgnoringAsciiCase(e.name, name))
                    return &e;
        return nullptr;
    }
    // The folder at `path` as the reader lists it, asked for once (a failure the reader did
    // not survive is not kept: everything fails after it anyway). What its parent's listing
    // already answers is not asked: the walk looks for many places that are not there.
    std::shared_ptr<const Listing> listing(const std::string& path) const {
        {
            const std::lock_guard held(lock_);
            if (const auto it = listings_.find(path); it != listings_.end())
                return it->second;
        }
        auto listed = std::make_shared<Listing>();
        bool deleted = false;
        if (const std::size_t slash = path.rfind('/'); path != "/" && slash != std::string::npos) {
            const auto parent = listing(slash == 0 ? "/" : path.substr(0, slash));
            const FolderEntry* entry =
                parent->error ? nullptr : find(*parent, path.substr(slash + 1));
            if (parent->error || !entry || entry->kind != EntryKind::Folder) {
                listed->error = parent->error                    ? parent->error
                                : !entry                         ? ENOENT
                                : entry->kind == EntryKind::Link ? ELOOP
                                                                 : ENOTDIR;
                return listed;
            }
            deleted = entry->deleted;
        }
        const auto answer = connection_->ask(
            Writer().u8(static_cast<std::uint8_t>(Op::Folder)).u64(volume_).text(path));
        if (!answer)
            listed->error = EIO;
        else
            reader_protocol::ReadListing(*answer, *listed);
        listed->deleted = deleted;
        const std::lock_guard held(lock_);
        if (listed->error != EIO) {
            if (listings_.size() >= kKeptListings)
                listings_.clear();
            listings_.emplace(path, listed);
        }
        return listed;
    }

    // Where the files of the folder at `path` lie, asked for once; none when the reader
    // cannot tell.
    std::shared_ptr<const PlacedFiles> placedIn(const std::string& path,
                                                const Listing& listed) const {
        if (listed.placed)
            return listed.placed;
        {
            const std::lock_guard held(lock_);
            if (const auto it = placed_.find(path); it != placed_.end())
                return it->second;
        }
        auto placed = std::make_shared<PlacedFiles>();
        const auto answer = connection_->ask(
            Writer().u8(static_cast<std::uint8_t>(Op::FolderFiles)).u64(volume_).text(path));
        if (answer) // (a reader that tells what cannot be is not believed: none then)
            reader_protocol::ReadPlacedFiles(*answer, *placed);
        const std::lock_guard held(lock_);
        if (placed_.size() >= kKeptListings)
            placed_.clear();
        placed_.emplace(path, placed);
        return placed;
    }

    static constexpr std::size_t kKeptListings = 8192;
    std::shared_ptr<Connection> connection_;
    std::uint64_t volume_;
    bool caseless_;
    mutable std::mutex lock_;
    mutable std::map<std::string, std::shared_ptr<const Listing>> listings_;
    mutable std::map<std::string, std::shared_ptr<const PlacedFiles>> placed_;
};

// The reader program: the one given, else beside the running program, else installed.
std::string ReaderProgram(const ImageReaderOptions& options) {
    if (!options.program.empty())
        return options.program;
    std::string self(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    self.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    std::string beside = self.substr(0, self.rfind('/') + 1) + "tamberlin-image-reader";
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return std::string(TAMBERLIN_IMAGE_READER_FOLDER) + "/tamberlin-image-reader";
}

} // namespace

std::shared_ptr<const DiskImage> OpenDiskImageApart(const std::string& path, std::string& error,
                                                    const ImageReaderOptions& options) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error =
            std::string("the disk image reader cannot be started (") + std::strerror(errno) + ")";
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
    const std::string program = ReaderProgram(options);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        error = "the disk image reader " + program + " cannot be started (" +
                std::strerror(spawned) + ")";
        return nullptr;
    }
    auto connection = std::make_shared<Connection>(pid, pair[0], options.timeout);
    const auto answer = connection->ask(Writer()
                                            .u8(static_cast<std::uint8_t>(Op::Open))
                                            .text(path)
                                            .u8(options.withDeleted ? 1 : 0));
    if (!answer) {
        error = connection->failure();
        return nullptr;
    }
    auto image = std::make_shared<DiskImage>();
    if (const int status = reader_protocol::ReadOpenedImage(*answer, *image, error); status != 0) {
        if (status == EIO && error.empty())
            error = "the disk image reader answered what cannot be read";
        return nullptr;
    }
    if (image->volumes.empty()) {
        error = "the disk image reader answered what cannot be read";
        return nullptr;
    }
    image->path = path;
    for (std::size_t i = 0; i < image->volumes.size(); ++i)
        image->volumes[i].files =
            std::make_shared<RemoteFiles>(connection, i, image->volumes[i].caseless);
    connection->watch(image->segments, image->format == "raw");
    // (Held as long as it may be asked, after every file of the image is closed too.)
    image->failure = [connection] { return connection->failure(); };
    return image;
}

} // namespace platform
