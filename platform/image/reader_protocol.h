// What the program and its image reader (tamberlin-image-reader) say to each other, and how
// the program reads the reader's answers. The reader holds a library that reads untrusted
// images, so its answers are checked like any untrusted input: every count, length and
// stretch of a file is bounds-checked, and an answer that does not hold together is refused
// whole.
#pragma once

#include "platform/base/endian.h"
#include "platform/base/file_access.h"
#include "platform/image/disk_image.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::reader_protocol {

// One request: its length (u32), then an operation and its fields. One answer: its length,
// then a status (0, or an errno value) and its fields. Numbers little-endian; texts as their
// length (u64) and bytes.
// A folder is listed whole and kept by the program; a file stays open in the reader until
// closed. A file of a raw image whose bytes lie plainly in it comes with where they lie, and
// the program reads them from the image's own files: the reader then only finds files.
enum class Op : std::uint8_t { Open = 1, Folder, File, Read, Close, FolderFiles };

inline constexpr std::uint32_t kMostMessage = 64u << 20; // a folder of some 200,000 names at most
inline constexpr std::size_t kMostRead = 1u << 20;
inline constexpr std::uint64_t kHeadBytes = 64u << 10;
// Where the files of a folder lie is told for folders and files up to this size (a cache's
// folders are well within it); the rest are asked for one by one.
inline constexpr std::size_t kMostFolderFiles = 20000;
inline constexpr std::size_t kMostFolderFileExtents = 64;
inline constexpr std::size_t kPlacedWithListing = 64;
// Set in a listed entry's kind for a deleted one.
inline constexpr std::uint8_t kDeletedEntry = 0x80;

class Writer {
  public:
    Writer& u8(std::uint8_t v) {
        bytes_.push_back(static_cast<char>(v));
        return *this;
    }
    Writer& u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            bytes_.push_back(static_cast<char>(v >> (8 * i)));
        return *this;
    }
    Writer& text(std::string_view s) {
        u64(s.size());
        bytes_.append(s);
        return *this;
    }
    Writer& identity(const FileIdentity& id) {
        return u64(id.device).u64(id.inode).u64(id.size).u64(
            static_cast<std::uint64_t>(id.modifiedNs));
    }
    Writer& raw(const Writer& fields) {
        bytes_ += fields.bytes_;
        return *this;
    }
    // The message with its length in front.
    std::string framed() const {
        std::string out;
        const auto n = static_cast<std::uint32_t>(bytes_.size());
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>(n >> (8 * i)));
        return out + bytes_;
    }

  private:
    std::string bytes_;
};

// Reads fields in order; past the end everything reads as zero or empty and ok() turns false.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : in_(bytes) {}
    bool ok() const { return ok_; }
    std::uint8_t u8() { return take(1) ? in_.u8(at_ - 1) : 0; }
    std::uint64_t u64() { return take(8) ? in_.u64(at_ - 8) : 0; }
    std::string text() {
        const std::uint64_t n = u64();
        if (!take(n))
            return {};
        const auto* start = in_.bytes().data() + (at_ - n);
        return std::string(reinterpret_cast<const char*>(start), static_cast<std::size_t>(n));
    }
    FileIdentity identity() {
        FileIdentity id;
        id.device = u64();
        id.inode = u64();
        id.size = u64();
        id.modifiedNs = static_cast<std::int64_t>(u64());
        return id;
    }

  private:
    bool take(std::uint64_t n) {
        ok_ = ok_ && in_.has(at_, n);
        if (ok_)
            at_ += n;
        return ok_;
    }
    ByteReader in_;
    std::uint64_t at_ = 0;
    bool ok_ = true;
};

// Writes all of `bytes`; false when the pipe ends or fails. The program's end of the pipe has
// a send time-out: a reader that stopped reading ends the write.
bool WriteAll(int fd, std::string_view bytes);

// The messages that arrive on a pipe, read as many bytes at a time as are there: an answer,
// or the closes and the request that came with it, takes one read.
class Messages {
  public:
    // `chunk`: how much is read at a time, at least (more when a message is longer).
    explicit Messages(int fd, std::size_t chunk = 256u << 10) : fd_(fd), chunk_(chunk) {}
    // The next message; nothing when the pipe ends, fails, brings what is too long to be a
    // message, or (on the program's end, which has a receive time-out) stays silent too long
    // or past the deadline.
    std::optional<std::string>
    next(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    // Whether the last message failed to come in time.
    bool silent() const { return silent_; }

  private:
    int fd_;
    std::size_t chunk_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool silent_ = false;
};

// The files of a folder whose bytes the program reads where they lie, by name.
struct PlacedFile {
    FileIdentity identity;
    std::vector<ImageExtent> extents;
};
using PlacedFiles = std::unordered_map<std::string, PlacedFile>;

// A folder as the reader listed it.
struct Listing {
    std::shared_ptr<const PlacedFiles> placed; // when told with the listing
    int error = 0;                             // why it could not be opened
    FileIdentity identity;
    std::vector<FolderEntry> entries;
    int listed = 0;       // why the listing stopped early, or 0
    bool deleted = false; // the folder is deleted (as its parent lists it)
};

// A file the reader opened: its bytes where they lie in the image, or else its first bytes.
struct OpenedFile {
    std::uint64_t id = 0;
    FileIdentity identity;
    std::vector<ImageExtent> extents;
    std::string head;
};

// Whether extents cover a file of `size` bytes from its start, each stretch after the last.
bool CoversFile(const std::vector<ImageExtent>& extents, std::uint64_t size);

// An errno value for an answer's status (EIO for what is none).
int StatusError(std::uint64_t status);

// The answers, read. Each returns 0 or an errno value (EIO for an answer that does not hold
// together); what it fills is then complete, else left empty.
int ReadListing(std::string_view answer, Listing& out);
int ReadOpenedFile(std::string_view answer, OpenedFile& out);
int ReadPlacedFiles(std::string_view answer, PlacedFiles& out);
// An opened image: `out` gets its format, segments, volumes (without their files) and
// problems; `error` what the reader said when it could not open it.
int ReadOpenedImage(std::string_view answer, DiskImage& out, std::string& error);
// The bytes of a read of at most n bytes.
int ReadBytes(std::string_view answer, std::size_t n, std::string& out);

} // namespace platform::reader_protocol
