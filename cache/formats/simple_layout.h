// Chromium's Simple Cache, as laid out on disk (little-endian throughout). The Linux, macOS and
// Android builds of every Chromium-family browser write it. docs/browser-caches.md describes
// how the reader uses each field.
//
// An entry's stream file (<hash>_0):
//   [header][key][stream 1: the body][EOF record of stream 1]
//   [stream 0: the response info][key SHA-256, when flagged][EOF record of stream 0]
// Its sparse file (<hash>_s): [header][key], then ranges, each [range header][its bytes].
#pragma once

#include <cstdint>
#include <string_view>

namespace formats::simple {

// The first eight bytes of an entry file, of a sparse file and of the small `index` file.
inline constexpr std::uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ull;
// The small file beside index-dir: kInitialMagic and the index's version where an entry file
// has them, nothing the reader uses after them.
inline constexpr std::string_view kSmallIndexName = "index";

// SimpleFileHeader, at the start of a stream or sparse file; the key follows it.
inline constexpr std::uint64_t kHeaderMagicAt = 0;      // u64, kInitialMagic
inline constexpr std::uint64_t kHeaderVersionAt = 8;    // u32
inline constexpr std::uint64_t kHeaderKeyLengthAt = 12; // u32
inline constexpr std::uint64_t kHeaderKeyHashAt = 16;   // u32
inline constexpr std::uint64_t kHeaderSize = 24;
inline constexpr std::uint32_t kEntryVersion = 5;
// Sparse files were written at backend versions 7 to 9 with the same range layout.
inline constexpr std::uint32_t kSparseVersionMin = 7;
inline constexpr std::uint32_t kSparseVersionMax = 9;

// SimpleFileEOF, after each stream.
inline constexpr std::uint64_t kEofMagicAt = 0;       // u64, kFinalMagic
inline constexpr std::uint64_t kEofFlagsAt = 8;       // u32
inline constexpr std::uint64_t kEofDataCrcAt = 12;    // u32
inline constexpr std::uint64_t kEofStreamSizeAt = 16; // u32, stream 0's size (in its record)
inline constexpr std::uint64_t kEofSize = 24;
inline constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8ull;
inline constexpr std::uint32_t kEofFlagHasCrc = 1;
inline constexpr std::uint32_t kEofFlagHasKeySha256 = 2; // the key's SHA-256 precedes the record
inline constexpr std::uint64_t kKeySha256Size = 32;

// SimpleFileSparseRangeHeader, before each range of a sparse file.
inline constexpr std::uint64_t kRangeMagicAt = 0;   // u64, kSparseRangeMagic
inline constexpr std::uint64_t kRangeOffsetAt = 8;  // int64, in the resource
inline constexpr std::uint64_t kRangeLengthAt = 16; // int64
inline constexpr std::uint64_t kRangeCrcAt = 24;    // u32
inline constexpr std::uint64_t kRangeHeaderSize = 32;
inline constexpr std::uint64_t kSparseRangeMagic = 0xeb97bf016553676bull;

// index-dir/the-real-index: a pickle header (payload length, CRC-32 of the payload), then the
// payload: magic, version, entry count, cache size, last write reason, the entries, a
// timestamp.
inline constexpr std::uint64_t kIndexPayloadLengthAt = 0; // u32, the file's size - 8
inline constexpr std::uint64_t kIndexCrcAt = 4;           // u32, of everything after it
inline constexpr std::uint64_t kIndexPayloadAt = 8;
inline constexpr std::uint64_t kIndexMagicAt = 8;       // u64, kIndexMagic
inline constexpr std::uint64_t kIndexVersionAt = 16;    // u32
inline constexpr std::uint64_t kIndexEntryCountAt = 20; // u64
inline constexpr std::uint64_t kIndexCacheSizeAt = 28;  // u64
inline constexpr std::uint64_t kIndexEntriesAt = 40;
inline constexpr std::uint64_t kIndexTrailerSize = 8; // the timestamp after the entries
inline constexpr std::uint64_t kIndexMagic = 0x656e74657220796full;
inline constexpr std::uint32_t kIndexVersionMin = 7;
inline constexpr std::uint32_t kIndexVersionMax = 9;
// An entry of the index: the entry's hash (its file's name), its last-used time
// (microseconds since 1601, whole seconds) and its size.
inline constexpr std::uint64_t kIndexEntryHashAt = 0;     // u64
inline constexpr std::uint64_t kIndexEntryLastUsedAt = 8; // int64
inline constexpr std::uint64_t kIndexEntrySizeAt = 16;    // u64
inline constexpr std::uint64_t kIndexEntrySize = 24;

} // namespace formats::simple
