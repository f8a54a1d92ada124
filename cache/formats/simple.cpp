#include "cache/formats/simple.h"
#include "cache/formats/blockfile.h"
#include "cache/formats/simple_layout.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <nettle/sha1.h>
#include <string>
#include <string_view>
#include <zlib.h>

namespace formats {

using namespace simple;

namespace {

// A file too large to read whole is read by its head (the header, the key and the body's first
// bytes, as many as sniffing a text wants) and its tail (stream 0 and both EOF records):
// copying out kilobytes of a photo nothing looks at costs more than the reading itself.
constexpr std::size_t kHeadRead = 1536;
// Response info holds headers and a certificate chain; a few MiB is far beyond any real one.
constexpr std::uint64_t kMaxStream0 = 4ull * 1024 * 1024;
constexpr std::uint64_t kMaxKey = 1024ull * 1024;
// Chromium extends the last range when a write continues it, so a real file holds few ranges,
// each many bytes long. A file claiming more than one range per KiB it holds (and a few more)
// is refused before its ranges can fill memory.
constexpr std::uint64_t kMaxSparseRangesBase = 64;
constexpr std::uint64_t kMinSparseRangeBytes = 1024;
// 24 bytes an entry: far more entries than any cache Chromium sizes holds.
constexpr std::uint64_t kMaxIndexFile = 64ull * 1024 * 1024;

SimpleFileHeader ReadHeader(const platform::ByteReader& r) {
    return {r.u64(kHeaderMagicAt), r.u32(kHeaderVersionAt), r.u32(kHeaderKeyLengthAt),
            r.u32(kHeaderKeyHashAt)};
}

SimpleEof ReadEof(std::string_view bytes) {
    const platform::ByteReader r(bytes);
    return {r.u64(kEofMagicAt), r.u32(kEofFlagsAt), r.u32(kEofDataCrcAt), r.u32(kEofStreamSizeAt)};
}

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
    return static_cast<std::uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

} // namespace

bool SimpleChecksHold(const Source& file, const SimpleEntry& entry, std::uint64_t nameHash) {
    std::uint8_t digest[SHA1_DIGEST_SIZE] = {};
    sha1_ctx sha{};
    sha1_init(&sha);
    sha1_update(&sha, entry.key.size(), reinterpret_cast<const std::uint8_t*>(entry.key.data()));
    sha1_digest(&sha, sizeof digest, digest);
    if (platform::LoadLE64(digest) != nameHash || SuperFastHash(entry.key) != entry.header.keyHash)
        return false;
    if (!(entry.eof0.flags & kEofFlagHasCrc) || Crc32(0, entry.responseInfo) != entry.eof0.dataCrc)
        return false;
    if (entry.bodySize == 0)
        return true;
    if (!(entry.eof1.flags & kEofFlagHasCrc))
        return false;
    std::uint32_t crc = 0;
    std::string part;
    for (std::uint64_t at = 0; at < entry.bodySize; at += part.size()) {
        part.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(entry.bodySize - at, 1 << 20)));
        if (!file.readAt(entry.bodyAt + at, part.data(), part.size()))
            return false;
        crc = Crc32(crc, part);
    }
    return crc == entry.eof1.dataCrc;
}

std::string ChromiumKeyUrl(std::string_view key) {
    // "<credentials>/<upload id>/" in front, then for a split cache "_dk_<sites> " before the URL.
    for (int i = 0; i < 2; ++i) {
        std::size_t digits = 0;
        while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9')
            ++digits;
        if (digits == 0 || digits >= key.size() || key[digits] != '/')
            break;
        key.remove_prefix(digits + 1);
    }
    if (key.starts_with("_dk_")) {
        const std::size_t space = key.rfind(' ');
        if (space == std::string_view::npos)
            return "";
        key.remove_prefix(space + 1);
    }
    return std::string(key);
}

bool ParseSimpleIndex(const Source& index, SimpleIndex& out) {
    const std::uint64_t size = index.size();
    if (size < kIndexEntriesAt + kIndexTrailerSize || size > kMaxIndexFile)
        return false;
    std::string b(static_cast<std::size_t>(size), '\0');
    const platform::ByteReader r(b);
    if (!index.readAt(0, b.data(), b.size()) || r.u32(kIndexPayloadLengthAt) != size - 8 ||
        r.u64(kIndexMagicAt) != kIndexMagic)
        return false;
    const uLong crc =
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(b.data() + kIndexPayloadAt),
              static_cast<uInt>(size - kIndexPayloadAt));
    out.version = r.u32(kIndexVersionAt);
    const std::uint64_t count = r.u64(kIndexEntryCountAt);
    if (crc != r.u32(kIndexCrcAt) || out.version < kIndexVersionMin ||
        out.version > kIndexVersionMax ||
        count > (size - kIndexEntriesAt - kIndexTrailerSize) / kIndexEntrySize)
        return false;
    out.cacheSize = r.u64(kIndexCacheSizeAt);
    out.entries.resize(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = kIndexEntriesAt + i * kIndexEntrySize;
        out.entries[static_cast<std::size_t>(i)] = {r.u64(at + kIndexEntryHashAt),
                                                    r.i64(at + kIndexEntryLastUsedAt),
                                                    r.u64(at + kIndexEntrySizeAt)};
    }
    return true;
}

ParseError ParseSimpleEntryFile(const Source& file, SimpleEntry& out) {
    const std::uint64_t size = file.size();
    if (size < kHeaderSize + 2 * kEofSize)
        return ParseError::Damaged;
    const std::size_t headLen =
        size <= TailRead::kWholeRead ? static_cast<std::size_t>(size) : kHeadRead;
    // Both ends of the file are read into buffers kept from entry to entry of this thread.
    thread_local std::string head, tailBuffer;
    thread_local TailRead tailRead;
    head.resize(headLen);
    if (!file.readAt(0, head.data(), headLen))
        return ParseError::Damaged;
    out.header = ReadHeader(platform::ByteReader(head));
    if (out.header.magic != kInitialMagic)
        return ParseError::Damaged;
    if (out.header.version != kEntryVersion)
        return ParseError::UnknownVersion;
    const std::uint64_t keyLen = out.header.keyLength;
    if (keyLen > kMaxKey || keyLen > size - kHeaderSize - 2 * kEofSize)
        return ParseError::Damaged;
    const std::uint64_t bodyAt = kHeaderSize + keyLen;
    if (bodyAt <= headLen) {
        out.key = head.substr(kHeaderSize, static_cast<std::size_t>(keyLen));
    } else {
        out.key.resize(static_cast<std::size_t>(keyLen));
        if (!file.readAt(kHeaderSize, out.key.data(), out.key.size()))
            return ParseError::Damaged;
    }

    // From the end: EOF record of stream 0, the optional key hash, stream 0, EOF of stream 1.
    const bool whole = headLen == size;
    const std::size_t tailLen = tailRead.length(size);
    const std::uint64_t tailStart = size - tailLen;
    if (!whole) {
        tailBuffer.resize(tailLen);
        if (!file.readAt(tailStart, tailBuffer.data(), tailLen))
            return ParseError::Damaged;
    }
    const std::string& tail = whole ? head : tailBuffer;
    auto readRange = [&](std::uint64_t at, std::uint64_t len, char* into) {
        if (at >= tailStart) {
            if (len > tail.size() - (at - tailStart))
                return false;
            std::memcpy(into, tail.data() + (at - tailStart), static_cast<std::size_t>(len));
            return true;
        }
        return file.readAt(at, into, static_cast<std::size_t>(len));
    };
    char eofBytes[kEofSize];
    const std::string_view eof(eofBytes, kEofSize);
    if (!readRange(size - kEofSize, kEofSize, eofBytes))
        return ParseError::Damaged;
    out.eof0 = ReadEof(eof);
    if (out.eof0.magic != kFinalMagic)
        return ParseError::Damaged;
    const std::uint64_t s0Len = out.eof0.streamSize;
    const std::uint64_t s0End =
        size - kEofSize - ((out.eof0.flags & kEofFlagHasKeySha256) ? kKeySha256Size : 0);
    if (s0Len > kMaxStream0 || s0End < bodyAt + kEofSize || s0Len > s0End - bodyAt - kEofSize)
        return ParseError::Damaged;
    const std::uint64_t s0At = s0End - s0Len;
    const std::uint64_t eof1At = s0At - kEofSize;
    if (!readRange(eof1At, kEofSize, eofBytes))
        return ParseError::Damaged;
    out.eof1 = ReadEof(eof);
    out.responseInfo.resize(static_cast<std::size_t>(s0Len));
    if (out.eof1.magic != kFinalMagic || !readRange(s0At, s0Len, out.responseInfo.data()))
        return ParseError::Damaged;

    out.bodyAt = bodyAt;
    out.bodySize = eof1At - bodyAt;
    tailRead.needed(size - eof1At + kGzipTrailerBytes); // with the body's end
    if (out.bodySize >= kGzipTrailerBytes && eof1At - kGzipTrailerBytes >= tailStart)
        out.lastBytes = tail.substr(
            static_cast<std::size_t>(eof1At - kGzipTrailerBytes - tailStart), kGzipTrailerBytes);
    if (bodyAt < headLen)
        out.firstBytes = head.substr(static_cast<std::size_t>(bodyAt),
                                     static_cast<std::size_t>(std::min<std::uint64_t>(
                                         {out.bodySize, headLen - bodyAt, 1024})));
    return ParseError::None;
}

ParseError ParseSimpleSparseFile(const Source& file, std::string_view key,
                                 std::vector<SimpleSparseRange>& ranges) {
    ranges.clear();
    const std::uint64_t size = file.size();
    std::string header(kHeaderSize, '\0');
    if (size < kHeaderSize || !file.readAt(0, header.data(), header.size()))
        return ParseError::Damaged;
    const SimpleFileHeader h = ReadHeader(platform::ByteReader(header));
    if (h.magic != kInitialMagic)
        return ParseError::Damaged;
    if (h.version < kSparseVersionMin || h.version > kSparseVersionMax)
        return ParseError::UnknownVersion;
    const std::uint64_t keyLen = h.keyLength;
    if (keyLen != key.size() || keyLen > size - kHeaderSize)
        return ParseError::Damaged;
    std::string storedKey(static_cast<std::size_t>(keyLen), '\0');
    if (!file.readAt(kHeaderSize, storedKey.data(), storedKey.size()) || storedKey != key)
        return ParseError::Damaged;

    const std::uint64_t maxRanges = kMaxSparseRangesBase + size / kMinSparseRangeBytes;
    std::uint64_t at = kHeaderSize + keyLen;
    std::string rh(kRangeHeaderSize, '\0');
    const platform::ByteReader r(rh);
    for (std::uint64_t count = 0; size - at >= kRangeHeaderSize; ++count) {
        if (!file.readAt(at, rh.data(), rh.size()) || r.u64(kRangeMagicAt) != kSparseRangeMagic)
            return ParseError::Damaged;
        const std::int64_t offset = r.i64(kRangeOffsetAt);
        const std::int64_t length = r.i64(kRangeLengthAt);
        const std::uint64_t dataAt = at + kRangeHeaderSize;
        if (offset < 0 || length < 0 || static_cast<std::uint64_t>(length) > size - dataAt ||
            static_cast<std::uint64_t>(offset) > UINT64_MAX / 2)
            return ParseError::Damaged;
        if (count >= maxRanges)
            return ParseError::Damaged;
        if (length > 0)
            ranges.push_back(
                {static_cast<std::uint64_t>(offset), dataAt, static_cast<std::uint64_t>(length)});
        at = dataAt + static_cast<std::uint64_t>(length);
    }
    return ParseError::None;
}

} // namespace formats
