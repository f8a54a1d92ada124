#include "cache/browser/listing_rules.h"

#include "cache/browser/decode.h"
#include "cache/browser/entry.h"
#include "cache/browser/media.h"
#include "cache/formats/http.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>
#include <zstd.h>

namespace browser::detail {

namespace {

// Takes `size` bytes from the front of the segments.
void Truncate(std::vector<BodySegment>& segments, std::uint64_t size) {
    std::uint64_t kept = 0;
    std::size_t i = 0;
    for (; i < segments.size() && kept < size; ++i) {
        segments[i].length = std::min(segments[i].length, size - kept);
        kept += segments[i].length;
    }
    segments.resize(i);
}

// Reads a decoded body on from where `size` bytes were taken, keeping the first bytes in
// `first`: up to kSniffTextBytes of it when `firstOnly`, else to its end, which gives its
// size. Used only for encoded bodies, whose decoded size nothing else tells.
bool ReadDecoded(BodyStream& stream, std::string& first, std::uint64_t& size, bool firstOnly) {
    std::vector<char> buffer(firstOnly ? kSniffTextBytes : std::size_t{64} * 1024);
    for (;;) {
        if (firstOnly && first.size() >= kSniffTextBytes)
            return true;
        const std::ptrdiff_t got = stream.read(buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (first.size() < kSniffTextBytes)
            first.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(got),
                                                              kSniffTextBytes - first.size()));
        size += static_cast<std::uint64_t>(got);
    }
}

bool Measure(const BodyLocation& body, std::uint64_t& size) {
    auto stream = DecodeStream(OpenStoredBody(body.segments), body.encodings, kMaxDecodedBody);
    std::string first;
    size = 0;
    return ReadDecoded(*stream, first, size, false);
}

// The first decoded bytes, as many as sniffing needs, from the stored bytes already read when
// they are enough; from the files otherwise. `wholeSize` is set when the decoded body ended
// within those first bytes, so that its decoded size is known as well.
bool DecodeFirst(const ParsedEntry& e, const BodyLocation& body, std::string& first,
                 std::optional<std::uint64_t>& wholeSize) {
    if (!e.firstBytes.empty()) {
        const bool all = e.firstBytes.size() >= e.storedSize;
        auto stream = DecodeStream(
            MemoryStream(std::string_view(e.firstBytes)
                             .substr(0, static_cast<std::size_t>(
                                            std::min<std::uint64_t>(e.storedSize, SIZE_MAX)))),
            body.encodings, kMaxDecodedBody, e.firstBytes.size());
        std::string got;
        std::uint64_t size = 0;
        const bool decoded = ReadDecoded(*stream, got, size, true);
        if (all) {
            if (decoded && size < kSniffTextBytes)
                wholeSize = size; // it ended before sniffing had enough
            first = std::move(got);
            return decoded;
        }
        // Stopped by the end of the bytes read, or by having enough.
        if (got.size() >= kSniffTextBytes || (got.size() >= kSniffBytes && !MayBeText(got))) {
            first = std::move(got);
            return true;
        }
    }
    auto stream = DecodeStream(OpenStoredBody(body.segments), body.encodings, kMaxDecodedBody);
    std::uint64_t size = 0;
    first.clear();
    return ReadDecoded(*stream, first, size, true);
}

// The decoded size a gzip body states in its trailer, when it can be taken for the body's:
// ISIZE counts only the last member, modulo 2^32. A single member decodes to at least about
// its stored size (deflate grows incompressible data by a few bytes per block), so a stated
// size well below the stored one means several members, or a wrap, and the body is decoded
// instead. Whatever is listed, a save checks the decoded length is exactly this.
std::optional<std::uint64_t> StatedGzipSize(const ParsedEntry& e, const BodyLocation& body) {
    if (body.encodings.size() != 1 ||
        (body.encodings[0] != "gzip" && body.encodings[0] != "x-gzip") ||
        e.lastBytes.size() != kGzipTrailerBytes || !e.firstBytes.starts_with("\x1F\x8B\x08"))
        return std::nullopt;
    const std::uint64_t stated = platform::ByteReader(e.lastBytes).u32(4);
    if (stated == 0 || stated > kMaxDecodedBody || e.storedSize > stated + stated / 64 + 1024)
        return std::nullopt;
    return stated;
}

// The decoded size a zstd body states in its frame header, when it can be taken for the
// body's: the header counts only the first frame, so, as for gzip, a stated size well below the
// stored one means more frames and the body is decoded instead. Whatever is listed, a save
// checks the decoded length is exactly this.
std::optional<std::uint64_t> StatedZstdSize(const ParsedEntry& e) {
    if (!e.firstBytes.starts_with(kZstdMagic))
        return std::nullopt;
    const unsigned long long stated =
        ZSTD_getFrameContentSize(e.firstBytes.data(), e.firstBytes.size());
    if (stated == ZSTD_CONTENTSIZE_UNKNOWN || stated == ZSTD_CONTENTSIZE_ERROR || stated == 0 ||
        stated > kMaxDecodedBody || e.storedSize > stated + stated / 64 + 1024)
        return std::nullopt;
    return stated;
}

// The first stored bytes of the body, as many as sniffing needs.
bool FirstBytes(const ParsedEntry& e, const std::vector<BodySegment>& stored, std::string& first) {
    const std::size_t all =
        static_cast<std::size_t>(std::min<std::uint64_t>(e.storedSize, kSniffTextBytes));
    first = e.firstBytes.substr(0, all);
    if (first.size() >= all || (first.size() >= kSniffBytes && !MayBeText(first)))
        return true;
    first.resize(all);
    auto stream = OpenStoredBody(stored);
    for (std::size_t have = 0; have < all;) {
        const std::ptrdiff_t got = stream->read(first.data() + have, all - have);
        if (got <= 0)
            return false;
        have += static_cast<std::size_t>(got);
    }
    return true;
}

// A body on its way to becoming a row's.
struct Candidate {
    BodyLocation body;
    std::string first;              // its first stored bytes, then its first decoded bytes
    bool compressedByCache = false; // its last coding is the one the cache added
};

// Nothing when `e` holds a whole successful response to a web URL; the verdict otherwise. A
// range response whose stored ranges cover the whole resource is cut to that resource.
std::optional<Verdict> CheckResponse(ParsedEntry& e) {
    if (!IsWebUrl(e.url) || !e.head)
        return Verdict::NotListed;
    const ResponseHead& head = *e.head;
    if (head.status != 200 && head.status != 203 && head.status != 206)
        return Verdict::NotListed;
    if (head.status == 206) {
        // Complete only when the stored ranges cover the whole resource.
        const auto range = ParseContentRange(head.get("Content-Range").value_or(""));
        if (!range || !range->total || e.storedSize < *range->total)
            return Verdict::Partial;
        if (e.storedSize != *range->total)
            e.lastBytes.clear(); // no longer the end of the body
        Truncate(e.body, *range->total);
        e.storedSize = *range->total;
    } else if (e.truncated) {
        return Verdict::Partial;
    }
    if (e.storedSize == 0)
        return Verdict::NotListed;
    return std::nullopt;
}

// Takes the stored body of `e` and its content codings, and reads its first stored bytes;
// false when they cannot be read, or a coding is one no decoder here undoes.
bool TakeStoredBody(ParsedEntry& e, CacheKind kind, Candidate& c) {
    c.body.segments = std::move(e.body);
    c.body.encodings = ParseContentEncoding(e.head->get("Content-Encoding").value_or(""));
    for (const std::string& coding : c.body.encodings)
        if (!IsKnownCoding(coding))
            return false; // dictionary codings and the like
    if (!FirstBytes(e, c.body.segments, c.first))
        return false;
    // Chromium may zstd-compress a body for its own storage and leave the headers as sent;
    // a zstd frame that no declared coding accounts for is that. Content-Length then counts
    // the bytes as they were before the cache compressed them.
    const bool chromium = kind != CacheKind::Firefox && kind != CacheKind::WebKit;
    c.compressedByCache = chromium && c.first.starts_with(kZstdMagic) &&
                          (c.body.encodings.empty() || c.body.encodings.back() == "gzip" ||
                           c.body.encodings.back() == "x-gzip");
    if (c.compressedByCache)
        c.body.encodings.emplace_back("zstd");
    return true;
}

// Sets the decoded size of an encoded body: known already (`wholeSize`), stated by the body,
// or else decoded to the end. False when it does not decode, or decodes to nothing.
bool SetDecodedSize(const ParsedEntry& e, BodyLocation& body,
                    std::optional<std::uint64_t> wholeSize) {
    if (!wholeSize)
        wholeSize = StatedGzipSize(e, body);
    if (!wholeSize && body.encodings.size() == 1 && body.encodings[0] == "zstd")
        wholeSize = StatedZstdSize(e);
    if (!wholeSize && !Measure(body, body.decodedSize))
        return false;
    if (wholeSize)
        body.decodedSize = *wholeSize;
    return body.decodedSize != 0;
}

// Nothing when the cache holds as many bytes as the server said it sent (its Content-Length);
// the verdict otherwise. A range response was held to its Content-Range already.
std::optional<Verdict> CheckSentLength(const ParsedEntry& e, const Candidate& c) {
    if (e.head->status == 206)
        return std::nullopt;
    // Content-Length counts the bytes as sent, before any decoding of ours.
    const auto length = ParseDecimal(e.head->get("Content-Length").value_or(""));
    std::uint64_t asSent = e.storedSize;
    if (c.compressedByCache && length) {
        BodyLocation inner = c.body;
        inner.encodings.pop_back();
        const auto stated = StatedZstdSize(e); // what the cache's frame holds
        if (inner.encodings.empty())
            asSent = c.body.decodedSize;
        else if (stated)
            asSent = *stated;
        else if (!Measure(inner, asSent))
            return Verdict::Unreadable;
    }
    if (length && asSent < *length)
        return Verdict::Partial;
    return std::nullopt;
}

} // namespace

Verdict Evaluate(ParsedEntry& e, CacheKind kind, std::string_view fallbackName, BrowserFile& row) {
    if (const auto verdict = CheckResponse(e))
        return *verdict;
    Candidate c;
    if (!TakeStoredBody(e, kind, c))
        return Verdict::Unreadable;

    // Encoded bodies are decoded whole only once their first bytes show a picture or video:
    // scripts and pages, most of what is encoded, cost a few kilobytes of decoding.
    const std::string contentType(e.head->get("Content-Type").value_or(""));
    std::optional<std::uint64_t> wholeSize;
    if (c.body.encodings.empty())
        c.body.decodedSize = e.storedSize;
    else if (!DecodeFirst(e, c.body, c.first, wholeSize))
        return Verdict::Unreadable;
    const std::string extension = Sniff(c.first, contentType);
    if (extension.empty())
        return Verdict::NotListed;
    if (!c.body.encodings.empty() && !SetDecodedSize(e, c.body, wholeSize))
        return Verdict::Unreadable;
    if (const auto verdict = CheckSentLength(e, c))
        return *verdict;

    row.fileName = MakeFileName(e.url, extension, fallbackName);
    row.url = std::move(e.url);
    row.extension = extension;
    row.size = c.body.decodedSize;
    row.contentType = contentType;
    row.cached = e.cached;
    row.lastUsed = e.lastUsed;
    row.body = std::move(c.body);
    return Verdict::Listed;
}

} // namespace browser::detail
