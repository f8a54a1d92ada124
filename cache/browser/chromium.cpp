#include "cache/browser/entry.h"

#include <algorithm>
#include <zlib.h>

namespace browser::detail {

namespace {

constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8ull;
constexpr std::uint64_t kSparseRangeMagic = 0xeb97bf016553676bull;
constexpr std::uint32_t kEntryVersion = 5;
// Sparse files were written at backend versions 7 to 9 with the same range layout.
constexpr std::uint32_t kSparseVersionMin = 7, kSparseVersionMax = 9;
constexpr std::uint32_t kFlagHasKeySha256 = 2;
constexpr std::uint64_t kHeaderLen = 24, kEofLen = 24, kKeySha256Len = 32;
constexpr std::size_t kEndRead = 4096;
// Response info holds headers and a certificate chain; a few MiB is far beyond any real one.
constexpr std::uint64_t kMaxStream0 = 4ull * 1024 * 1024;
constexpr std::uint64_t kMaxKey = 1024ull * 1024;
constexpr std::uint32_t kResponseTruncated = 1u << 12;
constexpr std::uint32_t kHasExtraFlags = 1u << 31;
constexpr std::uint32_t kExtraHasOriginalResponseTime = 1u << 2;
constexpr std::uint64_t kMaxSparseRangesBase = 64, kMinSparseRangeBytes = 1024;
// the-real-index: a pickle header (payload length, CRC-32 of the payload), then the payload:
// magic, version, entry count, cache size, last write reason, the entries, a timestamp.
constexpr std::uint64_t kIndexMagic = 0x656e74657220796full;
constexpr std::uint32_t kIndexVersionMin = 7, kIndexVersionMax = 9;
constexpr std::uint64_t kIndexEntriesAt = 40, kIndexEntryLen = 24, kIndexTrailerLen = 8;
// 24 bytes an entry: far more entries than any cache Chromium sizes holds.
constexpr std::uint64_t kMaxIndexFile = 64ull * 1024 * 1024;

template <typename T> T Le(std::string_view s, std::size_t at) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<T>(static_cast<unsigned char>(s[at + i])) << (8 * i);
    return v;
}

} // namespace

std::optional<std::int64_t> UnixSeconds(std::int64_t windowsMicros) {
    constexpr std::int64_t kEpochDelta = 11644473600000000ll; // 1601 -> 1970, microseconds
    constexpr std::int64_t kYear10000 = 253402300800ll;       // seconds since 1970
    if (windowsMicros <= kEpochDelta || (windowsMicros - kEpochDelta) / 1000000 >= kYear10000)
        return std::nullopt;
    return (windowsMicros - kEpochDelta) / 1000000;
}

// The raw headers of an HttpResponseInfo pickle: "HTTP/1.1 200 OK\0Name: value\0...\0\0".
// Read by the pickle's fields; when they do not add up (an older or newer layout), the
// status line is searched for instead.
void ParseChromiumResponseInfo(std::string_view s0, ParsedEntry& out) {
    std::string_view headers;
    if (s0.size() >= 8) {
        const std::uint64_t payload = Le<std::uint32_t>(s0, 0);
        const std::string_view p =
            s0.substr(4, static_cast<std::size_t>(std::min<std::uint64_t>(payload, s0.size() - 4)));
        const std::uint32_t flags = Le<std::uint32_t>(p, 0);
        out.truncated = (flags & kResponseTruncated) != 0;
        std::size_t at = 4;
        std::uint32_t extra = 0;
        if ((flags & kHasExtraFlags) && p.size() >= at + 4) {
            extra = Le<std::uint32_t>(p, at);
            at += 4;
        }
        if (p.size() >= at + 16) {
            // Request time, then response time: when the response arrived and was stored.
            if (const auto t = UnixSeconds(Le<std::int64_t>(p, at + 8)))
                out.cached = t;
            at += 16;
            if (extra & kExtraHasOriginalResponseTime)
                at += 8;
            if (p.size() >= at + 4) {
                const std::uint64_t len = Le<std::uint32_t>(p, at);
                if (len <= p.size() - at - 4)
                    headers = p.substr(at + 4, static_cast<std::size_t>(len));
            }
        }
    }
    if (!headers.starts_with("HTTP/")) {
        const std::size_t start = s0.find("HTTP/");
        if (start == std::string_view::npos)
            return;
        headers = s0.substr(start);
        const std::size_t end = headers.find(std::string_view("\0\0", 2));
        headers = headers.substr(0, end == std::string_view::npos ? headers.size() : end + 2);
    }
    out.head = ParseResponseHead(headers, '\0');
}

std::unordered_map<std::uint64_t, std::int64_t> ReadSimpleIndexLastUsed(const Source& index) {
    std::unordered_map<std::uint64_t, std::int64_t> times;
    const std::uint64_t size = index.size();
    if (size < kIndexEntriesAt + kIndexTrailerLen || size > kMaxIndexFile)
        return times;
    std::string b(static_cast<std::size_t>(size), '\0');
    if (!index.readAt(0, b.data(), b.size()) || Le<std::uint32_t>(b, 0) != size - 8 ||
        Le<std::uint64_t>(b, 8) != kIndexMagic)
        return times;
    const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(b.data() + 8),
                            static_cast<uInt>(size - 8));
    const std::uint32_t version = Le<std::uint32_t>(b, 16);
    const std::uint64_t count = Le<std::uint64_t>(b, 20);
    if (crc != Le<std::uint32_t>(b, 4) || version < kIndexVersionMin ||
        version > kIndexVersionMax ||
        count > (size - kIndexEntriesAt - kIndexTrailerLen) / kIndexEntryLen)
        return times;
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(kIndexEntriesAt + i * kIndexEntryLen);
        // Chromium keeps whole seconds, stored as microseconds since 1601.
        if (const auto t = UnixSeconds(Le<std::int64_t>(b, at + 8)))
            times[Le<std::uint64_t>(b, at)] = *t;
    }
    return times;
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

ParseError ParseChromiumEntry(const Source& file, const std::string& path, ParsedEntry& out) {
    const std::uint64_t size = file.size();
    if (size < kHeaderLen + 2 * kEofLen)
        return ParseError::Damaged;
    const std::size_t headLen = static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndRead));
    std::string head(headLen, '\0');
    if (!file.readAt(0, head.data(), headLen))
        return ParseError::Damaged;
    if (Le<std::uint64_t>(head, 0) != kSimpleInitialMagic)
        return ParseError::Damaged;
    if (Le<std::uint32_t>(head, 8) != kEntryVersion)
        return ParseError::UnknownVersion;
    const std::uint64_t keyLen = Le<std::uint32_t>(head, 12);
    if (keyLen > kMaxKey || keyLen > size - kHeaderLen - 2 * kEofLen)
        return ParseError::Damaged;
    const std::uint64_t bodyAt = kHeaderLen + keyLen;
    if (bodyAt <= headLen) {
        out.key = head.substr(kHeaderLen, static_cast<std::size_t>(keyLen));
    } else {
        out.key.resize(static_cast<std::size_t>(keyLen));
        if (!file.readAt(kHeaderLen, out.key.data(), out.key.size()))
            return ParseError::Damaged;
    }
    out.url = ChromiumKeyUrl(out.key);

    // From the end: EOF record of stream 0, the optional key hash, stream 0, EOF of stream 1.
    const std::size_t tailLen = headLen;
    const std::uint64_t tailStart = size - tailLen;
    std::string tailBuffer;
    if (tailStart != 0) {
        tailBuffer.resize(tailLen);
        if (!file.readAt(tailStart, tailBuffer.data(), tailLen))
            return ParseError::Damaged;
    }
    const std::string& tail = tailStart == 0 ? head : tailBuffer;
    auto readRange = [&](std::uint64_t at, std::uint64_t len, std::string& into) {
        if (at >= tailStart) {
            into = tail.substr(static_cast<std::size_t>(at - tailStart),
                               static_cast<std::size_t>(len));
            return true;
        }
        into.resize(static_cast<std::size_t>(len));
        return file.readAt(at, into.data(), into.size());
    };
    std::string eof0;
    if (!readRange(size - kEofLen, kEofLen, eof0) || Le<std::uint64_t>(eof0, 0) != kFinalMagic)
        return ParseError::Damaged;
    const std::uint32_t flags0 = Le<std::uint32_t>(eof0, 8);
    const std::uint64_t s0Len = Le<std::uint32_t>(eof0, 16);
    const std::uint64_t s0End = size - kEofLen - ((flags0 & kFlagHasKeySha256) ? kKeySha256Len : 0);
    if (s0Len > kMaxStream0 || s0End < bodyAt + kEofLen || s0Len > s0End - bodyAt - kEofLen)
        return ParseError::Damaged;
    const std::uint64_t s0At = s0End - s0Len;
    const std::uint64_t eof1At = s0At - kEofLen;
    std::string eof1, s0;
    if (!readRange(eof1At, kEofLen, eof1) || Le<std::uint64_t>(eof1, 0) != kFinalMagic ||
        !readRange(s0At, s0Len, s0))
        return ParseError::Damaged;
    ParseChromiumResponseInfo(s0, out);

    out.storedSize = eof1At - bodyAt;
    if (out.storedSize > 0)
        out.body.push_back(Segment(path, bodyAt, out.storedSize));
    if (bodyAt < headLen)
        out.firstBytes = head.substr(static_cast<std::size_t>(bodyAt),
                                     static_cast<std::size_t>(std::min<std::uint64_t>(
                                         {out.storedSize, headLen - bodyAt, 1024})));
    return ParseError::None;
}

ParseError ParseChromiumSparse(const Source& file, const std::string& path, std::string_view key,
                               std::vector<BodySegment>& joined, std::uint64_t& reach) {
    joined.clear();
    reach = 0;
    const std::uint64_t size = file.size();
    std::string header(kHeaderLen, '\0');
    if (size < kHeaderLen || !file.readAt(0, header.data(), header.size()))
        return ParseError::Damaged;
    if (Le<std::uint64_t>(header, 0) != kSimpleInitialMagic)
        return ParseError::Damaged;
    const std::uint32_t version = Le<std::uint32_t>(header, 8);
    if (version < kSparseVersionMin || version > kSparseVersionMax)
        return ParseError::UnknownVersion;
    const std::uint64_t keyLen = Le<std::uint32_t>(header, 12);
    if (keyLen != key.size() || keyLen > size - kHeaderLen)
        return ParseError::Damaged;
    std::string storedKey(static_cast<std::size_t>(keyLen), '\0');
    if (!file.readAt(kHeaderLen, storedKey.data(), storedKey.size()) || storedKey != key)
        return ParseError::Damaged;

    struct Range {
        std::uint64_t offset, fileOffset, length;
    };
    std::vector<Range> ranges;
    constexpr std::uint64_t kRangeHeader = 32;
    // Chromium extends the last range when a write continues it, so a real file holds few
    // ranges, each many bytes long. A file claiming more than one range per KiB it holds (and
    // a few more) is refused before its ranges can fill memory.
    const std::uint64_t maxRanges = kMaxSparseRangesBase + size / kMinSparseRangeBytes;
    std::uint64_t at = kHeaderLen + keyLen;
    std::string rh(kRangeHeader, '\0');
    for (std::uint64_t count = 0; size - at >= kRangeHeader; ++count) {
        if (!file.readAt(at, rh.data(), rh.size()) || Le<std::uint64_t>(rh, 0) != kSparseRangeMagic)
            return ParseError::Damaged;
        const std::int64_t offset = Le<std::int64_t>(rh, 8);
        const std::int64_t length = Le<std::int64_t>(rh, 16);
        const std::uint64_t dataAt = at + kRangeHeader;
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
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    for (const Range& r : ranges) {
        if (r.offset > reach)
            break; // a gap: the body is known only up to here
        const std::uint64_t end = r.offset + r.length;
        if (end <= reach)
            continue;
        const std::uint64_t skip = reach - r.offset;
        joined.push_back(Segment(path, r.fileOffset + skip, r.length - skip));
        reach = end;
    }
    return ParseError::None;
}

} // namespace browser::detail
