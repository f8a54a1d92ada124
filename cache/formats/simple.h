// Chromium Simple Cache files (simple_layout.h): an entry's stream file (<hash>_0, entry
// version 5), its sparse file (<hash>_s) and the index's last-used times (the-real-index).
#pragma once

#include "cache/formats/source.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// SimpleFileHeader, as stored.
struct SimpleFileHeader {
    std::uint64_t magic = 0;
    std::uint32_t version = 0;
    std::uint32_t keyLength = 0;
    std::uint32_t keyHash = 0;
};

// SimpleFileEOF, as stored.
struct SimpleEof {
    std::uint64_t magic = 0;
    std::uint32_t flags = 0;
    std::uint32_t dataCrc = 0;
    std::uint32_t streamSize = 0;
};

// One stream file, checked: its magic numbers, its version, and streams that fit between the
// key and the end.
struct SimpleEntry {
    SimpleFileHeader header;
    std::string key;          // as stored
    SimpleEof eof0;           // after stream 0, at the file's end
    SimpleEof eof1;           // after stream 1
    std::uint64_t bodyAt = 0; // stream 1, the (still encoded) body
    std::uint64_t bodySize = 0;
    std::string responseInfo; // stream 0
    // The first stored bytes of the body (up to 1 KiB), when read with the header anyway.
    std::string firstBytes;
    // Its last kGzipTrailerBytes, when read with the tail.
    std::string lastBytes;
};
ParseError ParseSimpleEntryFile(const Source& file, SimpleEntry& out);

// Whether the stream file's bytes are those Chromium wrote for `nameHash` (the number its
// name gives): the key's hashes match the name and the header, and both streams carry their
// CRC-32 and match it. A stream written without its CRC cannot be vouched for. The body is
// read whole: this is for files whose bytes nothing else vouches for (a deleted entry read
// back from a disk image).
bool SimpleChecksHold(const Source& file, const SimpleEntry& entry, std::uint64_t nameHash);

// The ranges of a sparse file, in the order stored, empty ones left out.
struct SimpleSparseRange {
    std::uint64_t offset = 0;     // in the resource
    std::uint64_t fileOffset = 0; // of its bytes in the sparse file
    std::uint64_t length = 0;
};
// The ranges of a sparse file written for `key` (the stored key must be the same).
ParseError ParseSimpleSparseFile(const Source& file, std::string_view key,
                                 std::vector<SimpleSparseRange>& ranges);

struct SimpleIndexEntry {
    std::uint64_t hash = 0;    // the entry file's name
    std::int64_t lastUsed = 0; // microseconds since 1601, whole seconds
    std::uint64_t size = 0;    // as packed
};
struct SimpleIndex {
    std::uint32_t version = 0;
    std::uint64_t cacheSize = 0;
    std::vector<SimpleIndexEntry> entries;
};
// The index (index versions 7 to 9); false when it is damaged, of another version or fails
// its CRC.
bool ParseSimpleIndex(const Source& index, SimpleIndex& out);

// The URL of a Simple Cache (or blockfile, or SQL) key ("1/0/_dk_<site> <site> http://...").
std::string ChromiumKeyUrl(std::string_view key);

} // namespace formats
