#include "cache/formats/firefox.h"
#include "cache/formats/firefox_layout.h"
#include "cache/formats/http.h"
#include "platform/base/ascii.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <optional>

namespace formats {

using namespace firefox;

namespace {

// Chunk hashes for a 4 GiB body, a long key and Firefox's 64 KiB of elements fit easily.
constexpr std::uint64_t kMaxMetadata = 1024ull * 1024;

ParseError VersionError(std::uint32_t version) {
    return version > kLastVersion && version <= kMaxFutureVersion ? ParseError::UnknownVersion
                                                                  : ParseError::Damaged;
}

// The last bytes of the file, where the trailer and (nearly always) the metadata are.
struct Tail {
    std::string_view bytes;
    std::uint64_t start = 0; // the offset of bytes[0] in the file
};

// The trailer: the metadata's offset, and the version when the trailer is the new form.
ParseError ReadTrailer(const Tail& tail, std::uint64_t fileSize, FirefoxEntry& out,
                       std::uint64_t& trailerSize) {
    const platform::ByteReader r(tail.bytes);
    const std::uint64_t end = tail.bytes.size();
    trailerSize = kOldTrailerSize;
    const std::uint32_t word = r.be32(end - kTrailerOffsetFromEnd);
    if (r.u8(end - kTrailerTellByteFromEnd) != 0) {
        out.trailerVersion = r.be32(end - kTrailerVersionFromEnd);
        if (out.trailerVersion != kLastVersion)
            return VersionError(out.trailerVersion);
        if (word & kTrailerEncryptedBit)
            return ParseError::Encrypted;
        trailerSize = kTrailerSize;
    }
    out.metadataOffset = word;
    if (out.metadataOffset > fileSize - trailerSize ||
        fileSize - trailerSize - out.metadataOffset > kMaxMetadata)
        return ParseError::Damaged;
    return ParseError::None;
}

// The metadata header and the key after it; `keyEnd` is the offset of the key's NUL.
ParseError ParseHeaderAndKey(std::string_view meta, FirefoxEntry& out, std::uint64_t& keyEnd) {
    const platform::ByteReader r(meta);
    const std::uint64_t hashCount = (out.metadataOffset + kChunkSize - 1) / kChunkSize;
    const std::uint64_t h = kMetadataHashSize + kChunkHashSize * hashCount;
    if (!r.has(h, kHeaderSizeVersion1))
        return ParseError::Damaged;
    FirefoxMetadataHeader& head = out.header;
    head.version = r.be32(h + kHeaderVersionAt);
    if (head.version < kFirstVersion || head.version > kLastVersion)
        return VersionError(head.version);
    if ((head.version == kLastVersion) != (out.trailerVersion == kLastVersion))
        return ParseError::Damaged; // header and trailer disagree
    const std::uint64_t headerSize =
        head.version == kFirstVersion ? kHeaderSizeVersion1 : kHeaderSize;
    if (!r.has(h, headerSize))
        return ParseError::Damaged;
    head.fetchCount = r.be32(h + kHeaderFetchCountAt);
    head.lastFetched = r.be32(h + kHeaderLastFetchedAt);
    head.lastModified = r.be32(h + kHeaderLastModifiedAt);
    head.frecency = r.be32(h + kHeaderFrecencyAt);
    head.expirationTime = r.be32(h + kHeaderExpirationTimeAt);
    head.keySize = r.be32(h + kHeaderKeySizeAt);
    head.flags = headerSize > kHeaderFlagsAt ? r.be32(h + kHeaderFlagsAt) : 0;
    const std::uint64_t keyAt = h + headerSize;
    const std::uint64_t keyLen = head.keySize;
    if (keyLen >= meta.size() - keyAt || meta[static_cast<std::size_t>(keyAt + keyLen)] != '\0')
        return ParseError::Damaged;
    out.key = meta.substr(static_cast<std::size_t>(keyAt), static_cast<std::size_t>(keyLen));
    keyEnd = keyAt + keyLen;
    return ParseError::None;
}

// Elements: name NUL value NUL, repeated, from `at` to the end of out.metadata. The body ends
// where alt-data starts.
ParseError ParseElements(std::size_t from, FirefoxEntry& out) {
    const std::string_view elements = std::string_view(out.metadata).substr(from);
    const std::size_t nuls = platform::CountByte(elements, '\0');
    if (!elements.empty() && (elements.back() != '\0' || nuls % 2 != 0))
        return ParseError::Damaged;
    out.elements.reserve(nuls / 2);
    out.bodyEnd = out.metadataOffset;
    for (std::size_t at = 0; at < elements.size();) {
        const std::size_t nameEnd = elements.find('\0', at);
        const std::size_t valueEnd = elements.find('\0', nameEnd + 1);
        const std::string_view name = elements.substr(at, nameEnd - at);
        const std::string_view value = elements.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        const std::size_t nameAt = from + at;
        at = valueEnd + 1;
        if (name == kElementAltData) {
            // "1;<offset>,<type>"
            const std::size_t semi = value.find(';'), comma = value.find(',');
            const auto altAt =
                semi == std::string_view::npos || comma == std::string_view::npos || comma < semi
                    ? std::nullopt
                    : ParseDecimal(value.substr(semi + 1, comma - semi - 1));
            if (!altAt || *altAt > out.metadataOffset)
                return ParseError::Damaged;
            out.bodyEnd = *altAt;
        }
        out.elements.push_back({nameAt, name.size(), from + nameEnd + 1, value.size()});
    }
    return ParseError::None;
}

void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a -= b, a -= c, a ^= c >> 13;
    b -= c, b -= a, b ^= a << 8;
    c -= a, c -= b, c ^= b >> 13;
    a -= b, a -= c, a ^= c >> 12;
    b -= c, b -= a, b ^= a << 16;
    c -= a, c -= b, c ^= b >> 5;
    a -= b, a -= c, a ^= c >> 3;
    b -= c, b -= a, b ^= a << 10;
    c -= a, c -= b, c ^= b >> 15;
}

} // namespace

std::uint32_t FirefoxCacheHash(std::string_view bytes) {
    const auto* k = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto word = [&](std::size_t at) {
        return std::uint32_t{k[at]} | std::uint32_t{k[at + 1]} << 8 |
               std::uint32_t{k[at + 2]} << 16 | std::uint32_t{k[at + 3]} << 24;
    };
    std::uint32_t a = 0x9E3779B9u, b = a, c = 0;
    std::size_t at = 0;
    for (; bytes.size() - at >= 12; at += 12) {
        a += word(at), b += word(at + 4), c += word(at + 8);
        Mix(a, b, c);
    }
    c += static_cast<std::uint32_t>(bytes.size());
    // The last bytes, the lowest byte of c taken by the length.
    static constexpr int kShift[11] = {0, 8, 16, 24, 0, 8, 16, 24, 8, 16, 24};
    for (std::size_t i = 0; at + i < bytes.size(); ++i) {
        std::uint32_t& to = i < 4 ? a : i < 8 ? b : c;
        to += std::uint32_t{k[at + i]} << kShift[i];
    }
    Mix(a, b, c);
    return c;
}

bool FirefoxHashesHold(const Source& file, const FirefoxEntry& entry) {
    const std::uint64_t trailer = entry.trailerVersion != 0 ? kTrailerSize : kOldTrailerSize;
    const std::uint64_t size = file.size();
    if (size < trailer || entry.metadataOffset > size - trailer ||
        size - trailer - entry.metadataOffset > kMaxMetadata)
        return false;
    std::string meta(static_cast<std::size_t>(size - trailer - entry.metadataOffset), '\0');
    const std::uint64_t chunks = (entry.metadataOffset + kChunkSize - 1) / kChunkSize;
    if (meta.size() < kMetadataHashSize + kChunkHashSize * chunks ||
        !file.readAt(entry.metadataOffset, meta.data(), meta.size()))
        return false;
    const platform::ByteReader r(meta);
    if (FirefoxCacheHash(std::string_view(meta).substr(kMetadataHashSize)) != r.be32(0))
        return false;
    std::string chunk;
    for (std::uint64_t i = 0; i < chunks; ++i) {
        const std::uint64_t at = i * kChunkSize;
        chunk.resize(static_cast<std::size_t>(std::min(kChunkSize, entry.metadataOffset - at)));
        if (!file.readAt(at, chunk.data(), chunk.size()) ||
            (FirefoxCacheHash(chunk) & 0xFFFFu) != r.be16(kMetadataHashSize + kChunkHashSize * i))
            return false;
    }
    return true;
}

std::optional<std::string_view> FirefoxEntry::element(std::string_view wanted) const {
    const auto it = std::find_if(elements.rbegin(), elements.rend(),
                                 [&](const FirefoxElement& e) { return name(e) == wanted; });
    if (it == elements.rend())
        return std::nullopt;
    return value(*it);
}

std::string FirefoxKeyUrl(std::string_view key) {
    // Tags are one character, an optional value and a ',' (",," stands for a comma in a
    // value); the first ':' where a tag would start ends them.
    std::size_t i = 0;
    while (i < key.size()) {
        if (key[i] == ':')
            return std::string(key.substr(i + 1));
        std::size_t j = i + 1;
        for (;;) {
            if (j >= key.size())
                return "";
            if (key[j] == ',') {
                if (j + 1 < key.size() && key[j + 1] == ',') {
                    j += 2;
                    continue;
                }
                break;
            }
            ++j;
        }
        i = j + 1;
    }
    return "";
}

ParseError ParseFirefoxFile(const Source& file, FirefoxEntry& out) {
    const std::uint64_t size = file.size();
    if (size < kTrailerSize)
        return ParseError::Damaged;
    Tail tail;
    // Read into a buffer kept from entry to entry of this thread.
    thread_local std::string tailBuffer;
    // The tail holds the whole metadata (key, elements) of nearly every entry.
    thread_local TailRead tailRead;
    const std::size_t tailLen = tailRead.length(size);
    tail.start = size - tailLen;
    if (tailBuffer.size() < tailLen)
        tailBuffer.resize(tailLen);
    tail.bytes = std::string_view(tailBuffer).substr(0, tailLen);
    if (!file.readAt(tail.start, tailBuffer.data(), tailLen))
        return ParseError::Damaged;

    std::uint64_t trailerSize = 0;
    if (const ParseError e = ReadTrailer(tail, size, out, trailerSize); e != ParseError::None)
        return e;
    const std::uint64_t metaLen = size - trailerSize - out.metadataOffset;
    tailRead.needed(size - out.metadataOffset + kGzipTrailerBytes); // with the body's end
    std::string meta;
    if (out.metadataOffset >= tail.start) {
        meta = tail.bytes.substr(static_cast<std::size_t>(out.metadataOffset - tail.start),
                                 static_cast<std::size_t>(metaLen));
    } else {
        meta.resize(static_cast<std::size_t>(metaLen));
        if (!file.readAt(out.metadataOffset, meta.data(), meta.size()))
            return ParseError::Damaged;
    }

    std::uint64_t keyEnd = 0;
    if (const ParseError e = ParseHeaderAndKey(meta, out, keyEnd); e != ParseError::None)
        return e;
    out.metadata = std::move(meta);
    if (const ParseError e = ParseElements(static_cast<std::size_t>(keyEnd + 1), out);
        e != ParseError::None)
        return e;
    if (tail.start == 0)
        out.firstBytes = tail.bytes.substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(out.bodyEnd, 1024)));
    if (out.bodyEnd >= kGzipTrailerBytes && out.bodyEnd - kGzipTrailerBytes >= tail.start)
        out.lastBytes = tail.bytes.substr(
            static_cast<std::size_t>(out.bodyEnd - kGzipTrailerBytes - tail.start),
            kGzipTrailerBytes);
    return ParseError::None;
}

} // namespace formats
