// Chromium's blockfile disk cache, as laid out on disk (little-endian throughout). The
// Windows builds of every Chromium-family browser write it. docs/browser-caches.md describes
// how the reader uses each field.
#pragma once

#include <cstdint>

namespace formats::blockfile {

// index: a header, then the hash table of entry addresses, one per bucket.
inline constexpr std::uint32_t kIndexMagic = 0xC103CAC3;
inline constexpr std::uint32_t kIndexVersion2_0 = 0x20000;
inline constexpr std::uint32_t kIndexVersion2_1 = 0x20001; // entries carry their own hash
inline constexpr std::uint32_t kIndexVersion3_0 = 0x30000;
inline constexpr std::uint64_t kIndexMagicAt = 0;
inline constexpr std::uint64_t kIndexVersionAt = 4;
inline constexpr std::uint64_t kIndexEntryCountAt = 8;
inline constexpr std::uint64_t kIndexTableLengthAt = 28; // 0: the historic 65,536
inline constexpr std::uint64_t kIndexCrashAt = 32;       // not closed cleanly
inline constexpr std::uint64_t kIndexHeaderSize = 368;   // where the table starts
inline constexpr std::uint64_t kIndexBucketSize = 4;     // an entry address per bucket
inline constexpr std::uint32_t kDefaultTableLength = 0x10000;
// Chromium sizes the table from the cache size; 2^22 buckets would be a 16 MiB index, far
// beyond any cache it creates.
inline constexpr std::uint32_t kMaxTableLength = 1u << 22;

// data_N: a header with the allocation bitmap, then fixed-size blocks.
inline constexpr std::uint32_t kBlockMagic = 0xC104CAC3;
inline constexpr std::uint32_t kBlockVersion2_0 = 0x20000;
inline constexpr std::uint32_t kBlockVersion3_0 = 0x30000;
inline constexpr std::uint64_t kBlockMagicAt = 0;
inline constexpr std::uint64_t kBlockVersionAt = 4;
inline constexpr std::uint64_t kBlockThisFileAt = 8;  // int16
inline constexpr std::uint64_t kBlockNextFileAt = 10; // int16, 0: none
inline constexpr std::uint64_t kBlockSizeAt = 12;
inline constexpr std::uint64_t kBlockCountAt = 16;
inline constexpr std::uint64_t kBlockFieldsRead = 16; // magic to block size, as the reader reads
inline constexpr std::uint64_t kBlockHeaderSize = 8192;
// The four files a cache starts with; further ones (data_4...) extend one of them.
inline constexpr std::uint32_t kFirstBlockFiles = 4;

// A cache address: where an entry, a key or a stream lives.
inline constexpr std::uint32_t kAddrInitialized = 0x80000000;
inline constexpr std::uint32_t kAddrTypeMask = 0x70000000;
inline constexpr unsigned kAddrTypeShift = 28;
inline constexpr std::uint32_t kAddrReservedMask = 0x0C000000;   // zero in block addresses
inline constexpr std::uint32_t kAddrBlockCountMask = 0x03000000; // count - 1
inline constexpr unsigned kAddrBlockCountShift = 24;
inline constexpr std::uint32_t kAddrFileNumberMask = 0x00FF0000;
inline constexpr unsigned kAddrFileNumberShift = 16;
inline constexpr std::uint32_t kAddrStartBlockMask = 0x0000FFFF;
inline constexpr std::uint32_t kAddrExternalNumberMask = 0x0FFFFFFF;
inline constexpr std::uint32_t kMaxBlocksPerAddress = 4;

enum class FileType : std::uint32_t {
    External = 0, // f_XXXXXX, the whole file
    Rankings = 1, // 36-byte blocks (data_0)
    Block256 = 2, // entries, keys and small streams (data_1)
    Block1K = 3,  // data_2
    Block4K = 4,  // data_3
};
inline constexpr std::uint32_t kRankingsBlockSize = 36;
inline constexpr std::uint32_t kBlock256Size = 256;
inline constexpr std::uint32_t kBlock1KSize = 1024;
inline constexpr std::uint32_t kBlock4KSize = 4096;
// The block size of a block-file type, 0 for the types the HTTP cache does not use.
constexpr std::uint32_t BlockSize(std::uint32_t type) {
    switch (static_cast<FileType>(type)) {
    case FileType::Rankings:
        return kRankingsBlockSize;
    case FileType::Block256:
        return kBlock256Size;
    case FileType::Block1K:
        return kBlock1KSize;
    case FileType::Block4K:
        return kBlock4KSize;
    case FileType::External:
        break;
    }
    return 0;
}

// EntryStore: one to four 256-byte blocks in a Block256 file.
inline constexpr std::uint64_t kEntryBlockSize = kBlock256Size;
inline constexpr std::uint64_t kEntryHashAt = 0;
inline constexpr std::uint64_t kEntryNextAt = 4;
inline constexpr std::uint64_t kEntryRankingsAt = 8; // address of its rankings node
inline constexpr std::uint64_t kEntryStateAt = 20;
inline constexpr std::uint64_t kEntryCreationTimeAt = 24; // int64, microseconds since 1601
inline constexpr std::uint64_t kEntryKeyLengthAt = 32;
inline constexpr std::uint64_t kEntryLongKeyAt = 36;
inline constexpr std::uint64_t kEntryStreamSizesAt = 40;     // 4 x int32
inline constexpr std::uint64_t kEntryStreamAddressesAt = 56; // 4 x address
inline constexpr std::uint64_t kEntryStreamFieldSize = 4;    // of each size and address
inline constexpr std::uint64_t kEntryFlagsAt = 72;
inline constexpr std::uint64_t kEntrySelfHashAt = 92; // hash of bytes [0, 92)
inline constexpr std::uint64_t kEntrySelfHashSize = 4;
inline constexpr std::uint64_t kEntryKeyAt = 96; // inline key, NUL-terminated
inline constexpr std::uint32_t kStreamCount = 4;
inline constexpr std::uint32_t kStreamResponseInfo = 0;
inline constexpr std::uint32_t kStreamBody = 1;
inline constexpr std::uint32_t kStreamSparse = 2;

// RankingsNode: one 36-byte block in a Rankings file (data_0), the entry's place in the
// eviction lists.
inline constexpr std::uint64_t kRankingsNodeSize = kRankingsBlockSize;
inline constexpr std::uint64_t kRankingsLastUsedAt = 0;  // int64, microseconds since 1601
inline constexpr std::uint64_t kRankingsContentsAt = 24; // address of its entry

enum class EntryState : std::int32_t { Normal = 0, Evicted = 1, Doomed = 2 };
inline constexpr std::uint32_t kFlagParentEntry = 1; // has sparse children
inline constexpr std::uint32_t kFlagChildEntry = 2;  // holds one MiB of a parent's range

// Stream 2 of a sparse parent or child: SparseHeader, then a bitmap (of children for a
// parent, of filled 1 KiB blocks for a child).
inline constexpr std::uint64_t kSparseSignatureAt = 0; // int64, shared by parent and children
inline constexpr std::uint64_t kSparseMagicAt = 8;     // kIndexMagic
inline constexpr std::uint64_t kSparseLastBlockAt = 16;
inline constexpr std::uint64_t kSparseLastBlockLengthAt = 20;
inline constexpr std::uint64_t kSparseHeaderSize = 64;
inline constexpr std::uint64_t kChildSpan = 1024ull * 1024; // bytes of the resource per child
inline constexpr std::uint64_t kChildBlock = 1024;          // one bitmap bit
inline constexpr std::uint64_t kChildBitmapBytes = kChildSpan / kChildBlock / 8;
// The most children followed for one parent: 4 GiB of a resource.
inline constexpr std::uint32_t kMaxChildren = 4096;

} // namespace formats::blockfile
