// Where things sit in a WinINet URL cache index ("index.dat"). All integers are
// little-endian; every record offset stored in the file is absolute. docs/url-cache-index.md
// describes the format in prose.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::urlcache::layout {

// --- the file header -----------------------------------------------------------------------
inline constexpr std::uint64_t kSignatureSize = 28;    // ASCII signature, its NUL inside
inline constexpr std::uint64_t kFileSize = 0x1C;       // u32: the file's length as recorded
inline constexpr std::uint64_t kFirstHashTable = 0x20; // u32: offset of the first HASH table
inline constexpr std::uint64_t kCapacityBlocks = 0x24; // u32: blocks the record area holds
inline constexpr std::uint64_t kUsedBlocks = 0x28;     // u32: blocks allocated
inline constexpr std::uint64_t kDirectoryCount = 0x48; // u32 (u8 in Wine's 2005 format)
inline constexpr std::uint64_t kDirectoryTable = 0x4C; // the cache folders, 12 bytes each

inline constexpr std::string_view kNativeSignature = "Client UrlCache MMF Ver 5.2";
inline constexpr std::string_view kWine2012Signature = "WINE URLCache Ver 0.2012001";
inline constexpr std::string_view kWine2005Signature = "WINE URLCache Ver 0.2005001";

// --- one cache folder entry -----------------------------------------------------------------
inline constexpr std::uint64_t kDirectoryEntrySize = 12;
inline constexpr std::uint64_t kDirectoryFileCount = 0; // u32: files kept in the folder
inline constexpr std::uint64_t kDirectoryName = 4;      // 8 ASCII characters, no NUL
inline constexpr std::uint64_t kDirectoryNameSize = 8;
inline constexpr std::uint32_t kMaxDirectories = 32; // room in the header for no more

// --- the record area ------------------------------------------------------------------------
inline constexpr std::uint64_t kRecordAreaStart = 0x4000; // block 0
inline constexpr std::uint64_t kBlockSize = 128;          // records are whole blocks, aligned
inline constexpr std::uint64_t kRecordTag = 0;            // 4 ASCII bytes: HASH, URL , REDR, LEAK
inline constexpr std::uint64_t kRecordTagSize = 4;
inline constexpr std::uint64_t kRecordBlocks = 4; // u32: the record's length in blocks
inline constexpr std::uint64_t kRecordHeaderSize = 8;

inline constexpr char kHashTag[] = "HASH";
inline constexpr char kUrlTag[] = "URL ";

// --- a HASH table ---------------------------------------------------------------------------
inline constexpr std::uint64_t kHashNextTable = 8;    // u32: offset of the next table; 0 ends
inline constexpr std::uint64_t kHashSlots = 16;       // the slots start here
inline constexpr std::uint64_t kHashSlotSize = 8;     // one slot: key, then record offset
inline constexpr std::uint64_t kSlotKey = 0;          // u32: hash bits and the slot's state
inline constexpr std::uint64_t kSlotRecord = 4;       // u32: offset of the record it names
inline constexpr std::uint64_t kHashTableBlocks = 32; // a table's usual length (4096 bytes)

// Slots that name no live entry.
inline constexpr std::uint32_t kSlotUninitialisedBadFood = 0x0BADF00D;  // never written
inline constexpr std::uint32_t kSlotUninitialisedDeadBeef = 0xDEADBEEF; // Wine's fill pattern
inline constexpr std::uint32_t kSlotStateMask = 0x3F; // the key's low bits: the slot state
inline constexpr std::uint32_t kSlotStateDeleted = 1; // its record may still read "URL "
// (A free slot has its key equal to its offset: Wine writes 3 and 3.)

// --- a URL record ---------------------------------------------------------------------------
inline constexpr std::uint64_t kUrlLastModified = 8;     // FILETIME from the server
inline constexpr std::uint64_t kUrlLastAccess = 16;      // FILETIME
inline constexpr std::uint64_t kUrlExpiry = 24;          // FAT date/time; 0 none
inline constexpr std::uint64_t kUrlSizeLow = 32;         // u32: cached file size, low half
inline constexpr std::uint64_t kUrlSizeHigh = 36;        // u32: cached file size, high half
inline constexpr std::uint64_t kUrlExemptDelta = 44;     // u32: seconds a sticky entry is kept
inline constexpr std::uint64_t kUrlUrlOffset = 52;       // u32: URL, from the record start
inline constexpr std::uint64_t kUrlDirectory = 56;       // u8: index into the cache folders
inline constexpr std::uint64_t kUrlFileNameOffset = 60;  // u32: local file name; 0 none
inline constexpr std::uint64_t kUrlEntryType = 64;       // u32: cache entry type flags
inline constexpr std::uint64_t kUrlHeaderOffset = 68;    // u32: response headers; 0 none
inline constexpr std::uint64_t kUrlHeaderSize = 72;      // u32: their length, no NUL stored
inline constexpr std::uint64_t kUrlExtensionOffset = 76; // u32: file extension; 0 none
inline constexpr std::uint64_t kUrlLastSync = 80;        // FAT: last fetched or checked
inline constexpr std::uint64_t kUrlHitRate = 84;         // u32: hit count
inline constexpr std::uint64_t kUrlUseCount = 88;        // u32: use (lock) count
inline constexpr std::uint64_t kUrlFixedSize = 0x68;     // the string area starts here

} // namespace platform::urlcache::layout
