#include "platform/image/reader_protocol.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace platform::reader_protocol {

namespace {

// Extents as the reader sends them, after their count; false when they do not cover a file of
// `size` bytes.
bool ReadExtents(Reader& in, std::uint64_t size, std::vector<ImageExtent>& out) {
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i) {
        ImageExtent e;
        e.fileOffset = in.u64();
        e.length = in.u64();
        e.imageOffset = in.u64();
        e.hole = in.u8() != 0;
        out.push_back(e);
    }
    return in.ok() && (out.empty() || CoversFile(out, size));
}

// Where the files of a folder lie; false (and none) for what cannot be.
bool ReadPlaced(Reader& in, PlacedFiles& out) {
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i) {
        std::string name = in.text();
        PlacedFile file;
        file.identity = in.identity();
        if (!ReadExtents(in, file.identity.size, file.extents) ||
            (file.extents.empty() && file.identity.size != 0)) {
            out.clear();
            return false;
        }
        out.emplace(std::move(name), std::move(file));
    }
    if (!in.ok())
        out.clear();
    return in.ok();
}

} // namespace

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string>
Messages::next(std::optional<std::chrono::steady_clock::time_point> deadline) {
    silent_ = false;
    for (;;) {
        const std::size_t have = end_ - begin_;
        std::uint32_t n = 0;
        if (have >= 4) {
            n = LoadLE32(reinterpret_cast<const std::uint8_t*>(buffer_.data() + begin_));
            if (n > kMostMessage)
                return std::nullopt;
            if (have - 4 >= n) {
                std::string message(buffer_.data() + begin_ + 4, n);
                begin_ += 4 + std::size_t{n};
                return message;
            }
        }
        if (deadline && std::chrono::steady_clock::now() >= *deadline) {
            silent_ = true;
            return std::nullopt;
        }
        // Room for a good part of what may come; for a long message, room that doubles as it
        // arrives (its length alone, which may be untrue, takes no memory).
        std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                  buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
        end_ = have;
        begin_ = 0;
        std::size_t room = end_ + chunk_;
        if (have >= 4)
            room = std::max(room, std::min<std::size_t>(4 + std::size_t{n},
                                                        std::max(buffer_.size() * 2, room)));
        buffer_.resize(std::max(buffer_.size(), room));
        const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            silent_ = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            return std::nullopt;
        }
        end_ += static_cast<std::size_t>(got);
    }
}

bool CoversFile(const std::vector<ImageExtent>& extents, std::uint64_t size) {
    std::uint64_t covered = 0;
    for (const ImageExtent& e : extents) {
        if (e.fileOffset != covered || e.length == 0 || e.length > size - covered)
            return false;
        covered += e.length;
    }
    return covered == size;
}

int StatusError(std::uint64_t status) {
    return status > 0 && status < 4096 ? static_cast<int>(status) : EIO;
}

int ReadListing(std::string_view answer, Listing& out) {
    out = {};
    Reader in(answer);
    if (const std::uint64_t status = in.u64(); status != 0 || !in.ok())
        return out.error = in.ok() ? StatusError(status) : EIO;
    out.identity = in.identity();
    out.listed = static_cast<int>(std::min<std::uint64_t>(in.u64(), 4095));
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i) {
        FolderEntry e;
        e.name = in.text();
        const std::uint8_t flagged = in.u8();
        e.deleted = (flagged & kDeletedEntry) != 0;
        const auto kind = static_cast<std::uint8_t>(flagged & ~kDeletedEntry);
        e.kind = kind <= static_cast<std::uint8_t>(EntryKind::Unknown)
                     ? static_cast<EntryKind>(kind)
                     : EntryKind::Unknown;
        if (in.ok())
            out.entries.push_back(std::move(e));
    }
    if (in.u8() == 1) {
        auto placed = std::make_shared<PlacedFiles>();
        if (ReadPlaced(in, *placed))
            out.placed = std::move(placed);
    }
    if (!in.ok()) {
        out = {};
        return out.error = EIO;
    }
    return 0;
}

int ReadOpenedFile(std::string_view answer, OpenedFile& out) {
    out = {};
    Reader in(answer);
    const std::uint64_t status = in.u64();
    if (status != 0 || !in.ok())
        return in.ok() ? StatusError(status) : EIO;
    out.id = in.u64();
    out.identity = in.identity();
    const bool placed = ReadExtents(in, out.identity.size, out.extents);
    out.head = in.text();
    if (!placed || !in.ok() || out.head.size() > out.identity.size || out.id == 0) {
        out = {};
        return EIO;
    }
    return 0;
}

int ReadPlacedFiles(std::string_view answer, PlacedFiles& out) {
    out.clear();
    Reader in(answer);
    const std::uint64_t status = in.u64();
    if (status != 0 || !in.ok())
        return in.ok() ? StatusError(status) : EIO;
    return ReadPlaced(in, out) ? 0 : EIO;
}

int ReadOpenedImage(std::string_view answer, DiskImage& out, std::string& error) {
    Reader in(answer);
    if (const std::uint64_t status = in.u64(); status != 0 || !in.ok()) {
        error = in.text();
        return in.ok() ? StatusError(status) : EIO;
    }
    out.format = in.text();
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i)
        out.segments.push_back(in.text());
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i) {
        ImageVolume v;
        v.partition = in.text();
        v.fileSystem = in.text();
        v.offset = in.u64();
        v.caseless = in.u8() != 0;
        out.volumes.push_back(std::move(v));
    }
    for (std::uint64_t i = 0, n = in.u64(); i < n && in.ok(); ++i)
        out.problems.push_back(in.text());
    if (!in.ok() || out.segments.empty()) {
        out.segments.clear();
        out.volumes.clear();
        out.problems.clear();
        return EIO;
    }
    return 0;
}

int ReadBytes(std::string_view answer, std::size_t n, std::string& out) {
    Reader in(answer);
    const std::uint64_t status = in.u64();
    out = in.text();
    if (!in.ok() || status != 0 || out.size() > n) {
        out.clear();
        return in.ok() && status != 0 ? StatusError(status) : EIO;
    }
    return 0;
}

} // namespace platform::reader_protocol
