// Firefox's cache2 entry file (cache2/entries/<SHA-1 of the key>), as laid out on disk
// (big-endian throughout):
//
//   [data: the response body, then any alternative data]
//   [metadata: its hash, one hash per data chunk, the header, the key and a NUL, elements]
//   [trailer: the metadata's offset; or, from version 4, the version and then the offset]
//
// docs/browser-caches.md describes how the reader uses each field.
#pragma once

#include <cstdint>
#include <string_view>

namespace formats::firefox {

// The data is hashed in chunks, one 16-bit hash each in the metadata.
inline constexpr std::uint64_t kChunkSize = 256ull * 1024;

// The trailer, counted back from the end of the file. The old trailer is the offset alone;
// the new one puts the version before it. The old metadata always ends in a NUL, where the
// new trailer holds the version's low byte: kTrailerTellByteFromEnd tells the two apart.
inline constexpr std::uint64_t kOldTrailerSize = 4;
inline constexpr std::uint64_t kTrailerSize = 8;
inline constexpr std::uint64_t kTrailerOffsetFromEnd = 4;  // u32, the metadata's offset
inline constexpr std::uint64_t kTrailerVersionFromEnd = 8; // u32, new form only
inline constexpr std::uint64_t kTrailerTellByteFromEnd = 5;
inline constexpr std::uint32_t kTrailerEncryptedBit = 0x80000000u; // in the offset word

// The metadata: a hash of itself, the chunk hashes, then the header.
inline constexpr std::uint64_t kMetadataHashSize = 4;
inline constexpr std::uint64_t kChunkHashSize = 2;

// The metadata header (CacheFileMetadataHeader).
inline constexpr std::uint64_t kHeaderVersionAt = 0;
inline constexpr std::uint64_t kHeaderFetchCountAt = 4;
inline constexpr std::uint64_t kHeaderLastFetchedAt = 8;   // seconds since 1970, 0: never
inline constexpr std::uint64_t kHeaderLastModifiedAt = 12; // seconds since 1970: stored
inline constexpr std::uint64_t kHeaderFrecencyAt = 16;
inline constexpr std::uint64_t kHeaderExpirationTimeAt = 20;
inline constexpr std::uint64_t kHeaderKeySizeAt = 24; // the key follows the header
inline constexpr std::uint64_t kHeaderFlagsAt = 28;   // from version 2
inline constexpr std::uint64_t kHeaderSizeVersion1 = 28;
inline constexpr std::uint64_t kHeaderSize = 32;

inline constexpr std::uint32_t kFirstVersion = 1;
inline constexpr std::uint32_t kLastVersion = 4; // the first with the new trailer
// Versions past those read that a later Firefox could write. A number beyond them is not a
// version at all but damage (a trailer of garbage).
inline constexpr std::uint32_t kMaxFutureVersion = 64;

// Elements: name NUL value NUL, repeated, after the key's NUL.
inline constexpr std::string_view kElementResponseHead = "response-head";
// "1;<offset>,<type>": the response body ends where the alternative data starts.
inline constexpr std::string_view kElementAltData = "alt-data";

} // namespace formats::firefox
