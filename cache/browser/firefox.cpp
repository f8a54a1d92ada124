#include "cache/browser/entry.h"

#include <algorithm>

namespace browser::detail {

namespace {

constexpr std::uint64_t kChunkSize = 256ull * 1024;
// The tail read first: it holds the whole metadata of nearly every entry.
constexpr std::size_t kTailRead = 4096;
// Chunk hashes for a 4 GiB body, a long key and Firefox's 64 KiB of elements fit easily.
constexpr std::uint64_t kMaxMetadata = 1024ull * 1024;
constexpr std::uint32_t kEncryptedBit = 0x80000000u;
// Versions past those we read that a later Firefox could write. A number beyond them is not a
// version at all but damage (a trailer of garbage), and is told as such.
constexpr std::uint32_t kLastVersion = 4, kMaxFutureVersion = 64;

ParseError VersionError(std::uint32_t version) {
    return version > kLastVersion && version <= kMaxFutureVersion ? ParseError::UnknownVersion
                                                                  : ParseError::Damaged;
}

std::uint32_t Be32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

} // namespace

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

ParseError ParseFirefoxEntry(const Source& file, const std::string& path, ParsedEntry& out) {
    const std::uint64_t size = file.size();
    if (size < 8)
        return ParseError::Damaged;
    const std::size_t tailLen = static_cast<std::size_t>(std::min<std::uint64_t>(size, kTailRead));
    const std::uint64_t tailStart = size - tailLen;
    std::string tail(tailLen, '\0');
    if (!file.readAt(tailStart, tail.data(), tailLen))
        return ParseError::Damaged;

    // The old trailer is the metadata offset alone; the new one is [version][offset]. The old
    // metadata always ends in a NUL; in the new form that byte is the version's low byte.
    std::uint32_t trailerVersion = 0;
    std::uint64_t trailerLen = 4;
    std::uint32_t word = Be32(tail, tailLen - 4);
    if (tail[tailLen - 5] != '\0') {
        trailerVersion = Be32(tail, tailLen - 8);
        if (trailerVersion != kLastVersion)
            return VersionError(trailerVersion);
        if (word & kEncryptedBit)
            return ParseError::Encrypted;
        trailerLen = 8;
    }
    const std::uint64_t metaOffset = word;
    if (metaOffset > size - trailerLen)
        return ParseError::Damaged;
    const std::uint64_t metaLen = size - trailerLen - metaOffset;
    if (metaLen > kMaxMetadata)
        return ParseError::Damaged;

    std::string meta;
    if (metaOffset >= tailStart) {
        meta = tail.substr(static_cast<std::size_t>(metaOffset - tailStart),
                           static_cast<std::size_t>(metaLen));
    } else {
        meta.resize(static_cast<std::size_t>(metaLen));
        if (!file.readAt(metaOffset, meta.data(), meta.size()))
            return ParseError::Damaged;
    }

    const std::uint64_t hashCount = (metaOffset + kChunkSize - 1) / kChunkSize;
    const std::uint64_t headerAt = 4 + 2 * hashCount;
    if (headerAt + 28 > meta.size())
        return ParseError::Damaged;
    const std::size_t h = static_cast<std::size_t>(headerAt);
    const std::uint32_t version = Be32(meta, h);
    if (version < 1 || version > kLastVersion)
        return VersionError(version);
    if ((version == 4) != (trailerVersion == 4))
        return ParseError::Damaged; // header and trailer disagree
    const std::size_t headerLen = version == 1 ? 28 : 32;
    if (h + headerLen > meta.size())
        return ParseError::Damaged;
    const std::uint64_t keyLen = Be32(meta, h + 24);
    const std::uint64_t keyAt = h + headerLen;
    if (keyLen >= meta.size() - keyAt || meta[static_cast<std::size_t>(keyAt + keyLen)] != '\0')
        return ParseError::Damaged;
    out.key = meta.substr(static_cast<std::size_t>(keyAt), static_cast<std::size_t>(keyLen));
    out.url = FirefoxKeyUrl(out.key);
    // Last fetched (h+8) is when the entry was last read; last modified (h+12) when it was
    // last written, that is when the response was stored. Zero: never set.
    if (const std::uint32_t fetched = Be32(meta, h + 8))
        out.lastUsed = fetched;
    if (const std::uint32_t modified = Be32(meta, h + 12))
        out.cached = modified;

    // Elements: name NUL value NUL, repeated.
    const std::string_view elements =
        std::string_view(meta).substr(static_cast<std::size_t>(keyAt + keyLen + 1));
    if (!elements.empty() &&
        (elements.back() != '\0' || std::count(elements.begin(), elements.end(), '\0') % 2 != 0))
        return ParseError::Damaged;
    std::uint64_t bodyEnd = metaOffset;
    for (std::size_t at = 0; at < elements.size();) {
        const std::size_t nameEnd = elements.find('\0', at);
        const std::size_t valueEnd = elements.find('\0', nameEnd + 1);
        const std::string_view name = elements.substr(at, nameEnd - at);
        const std::string_view value = elements.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        at = valueEnd + 1;
        if (name == "response-head") {
            out.head = ParseResponseHead(value, '\n');
        } else if (name == "alt-data") {
            // "1;<offset>,<type>": the response body ends where the alternative data starts.
            const std::size_t semi = value.find(';'), comma = value.find(',');
            const auto altAt =
                semi == std::string_view::npos || comma == std::string_view::npos || comma < semi
                    ? std::nullopt
                    : ParseDecimal(value.substr(semi + 1, comma - semi - 1));
            if (!altAt || *altAt > metaOffset)
                return ParseError::Damaged;
            bodyEnd = *altAt;
        }
    }

    out.storedSize = bodyEnd;
    if (bodyEnd > 0)
        out.body.push_back(Segment(path, 0, bodyEnd));
    if (tailStart == 0)
        out.firstBytes =
            tail.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(bodyEnd, 1024)));
    return ParseError::None;
}

} // namespace browser::detail
