// Chromium's blockfile cache (blockfile_layout.h), record by record: the index header, a block
// file's header, cache addresses, the entry record (EntryStore), the rankings node and the
// sparse header. Each parse reads the fields of one record out of bytes the caller read, and
// never outside them (a field that does not fit reads as 0); walking the hash table and
// following addresses from file to file is the reader's (cache/browser/blockfile.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace formats {

// The index's header (kIndexHeaderSize bytes), as stored.
struct BlockfileIndexHeader {
    std::uint32_t magic = 0;
    std::uint32_t version = 0;
    std::int32_t entryCount = 0;
    std::uint32_t tableLength = 0; // as stored: 0 stands for kDefaultTableLength
    bool crashed = false;          // not closed cleanly
};
BlockfileIndexHeader ParseBlockfileIndexHeader(std::string_view bytes);
bool IsKnownIndexVersion(std::uint32_t version);

// A block file's header (its first kBlockFieldsRead bytes are enough), as stored.
struct BlockFileHeader {
    std::uint32_t magic = 0;
    std::uint32_t version = 0;
    std::int16_t thisFile = 0;
    std::int16_t nextFile = 0; // 0: none
    std::uint32_t blockSize = 0;
};
BlockFileHeader ParseBlockFileHeader(std::string_view bytes);
bool IsKnownBlockFileVersion(std::uint32_t version);

// A cache address, its fields taken apart.
struct BlockfileAddress {
    bool initialized = false;
    std::uint32_t type = 0;           // blockfile::FileType
    std::uint32_t fileNumber = 0;     // data_N's N (block files)
    std::uint32_t startBlock = 0;     // (block files)
    std::uint32_t blockCount = 0;     // 1 to 4 (block files)
    std::uint32_t externalNumber = 0; // f_XXXXXX's number (external files)
    bool reservedBitsSet = false;     // must be clear in a block address
};
BlockfileAddress DecodeBlockfileAddress(std::uint32_t address);

// An entry record (EntryStore), as stored. The key is inline (from kEntryKeyAt) unless
// longKey names the blocks holding it.
struct BlockfileEntryStore {
    std::uint32_t hash = 0; // of the key
    std::uint32_t next = 0; // the next entry of the bucket's chain
    std::uint32_t rankingsNode = 0;
    std::int32_t state = 0;        // blockfile::EntryState
    std::int64_t creationTime = 0; // microseconds since 1601
    std::int32_t keyLength = 0;
    std::uint32_t longKey = 0;
    std::array<std::int32_t, 4> streamSizes{};
    std::array<std::uint32_t, 4> streamAddresses{};
    std::uint32_t flags = 0;
    std::uint32_t selfHash = 0; // of the record's first kEntrySelfHashAt bytes
};
BlockfileEntryStore ParseBlockfileEntryStore(std::string_view record);
// Whether the record's own hash matches its bytes (index version 2.1 and later keep one).
bool BlockfileEntrySelfHashMatches(std::string_view record);

// A rankings node, as stored.
struct BlockfileRankingsNode {
    std::int64_t lastUsed = 0;  // microseconds since 1601
    std::uint32_t contents = 0; // the address of its entry
};
BlockfileRankingsNode ParseBlockfileRankingsNode(std::string_view node);

// The sparse header at the start of a sparse parent's or child's stream 2, as stored.
struct BlockfileSparseHeader {
    std::int64_t signature = 0; // shared by a parent and its children
    std::uint32_t magic = 0;    // blockfile::kIndexMagic
    std::int32_t lastBlock = 0;
    std::int32_t lastBlockLength = 0;
};
BlockfileSparseHeader ParseBlockfileSparseHeader(std::string_view stream);

// The fields of an entry record that its body (stream 1) depends on: the key's hash, length
// and long-key address, the state, the creation time, the flags and the body's size and
// address. `record` holds at least the record's first kRecordFieldsBytes bytes. The record
// check of a segment in a block file keeps them; whatever else the browser changes in the
// record (its chain link, its use counts, its other streams) leaves the body as it was.
inline constexpr std::size_t kRecordFieldsBytes = 76;
std::string BlockfileRecordFields(std::string_view record);

// The names of block file N ("data_N") and of external file N ("f_00002a").
std::string BlockFileName(std::uint32_t number);
std::string ExternalFileName(std::uint32_t number);

// Chromium's key hash (Paul Hsieh's SuperFastHash), which also guards each entry record.
std::uint32_t SuperFastHash(std::string_view data);

} // namespace formats
