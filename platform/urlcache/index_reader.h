// Reading a WinINet URL cache index ("index.dat") into its content entries.
//
// The file is untrusted: every offset, count and string is checked against the bytes
// actually read, hash-table chains cannot loop, and a damaged file gives the entries that
// can still be read. Nothing here touches the file system.
//
// ReadIndex runs four stages, each usable alone (the diagnostic tool shows them): the
// header, the table of cache folders, the walk over the chain of hash tables, and the
// decoding of one URL record.
#pragma once

#include "platform/base/endian.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::urlcache {

enum class IndexFormat { Unknown, Native52, Wine2012, Wine2005 };

// Something wrong met while reading; reading goes on past it where it can.
enum class IndexWarningKind {
    UnknownSignature,   // not an index this reader knows; nothing is read
    SizeMismatch,       // the recorded file size differs from the bytes there are
    TooManyDirectories, // more cache folders than the header has room for
    BadHashTable,       // a table offset points outside the record area or at no HASH
    HashChainLoops,     // the chain comes back to a table already read
    HashTableCutShort,  // a table runs past the end of the file
    RecordCutShort,     // a URL record runs past the end of the file
    UnterminatedUrl,    // a URL without its NUL inside the record
};

struct IndexWarning {
    IndexWarningKind kind;
    std::uint64_t offset; // the file offset of the header field, table or record at fault
    bool operator==(const IndexWarning&) const = default;
};

// A short lower-case phrase for a warning kind ("hash table cut short").
const char* Describe(IndexWarningKind kind);

struct IndexHeader {
    IndexFormat format = IndexFormat::Unknown;
    std::uint32_t recordedSize = 0;   // the file size the header claims
    std::uint64_t usableLength = 0;   // what is read: the smaller of that and the real length
    std::uint32_t firstHashTable = 0; // offset of the first HASH table; 0 none
    std::uint32_t capacityBlocks = 0;
    std::uint32_t usedBlocks = 0;
    std::uint32_t directoryCount = 0; // as stored, before any cap
};

struct IndexEntry {
    std::uint64_t recordOffset = 0;       // where the URL record starts in the file
    std::string url;                      // ANSI bytes as stored
    std::optional<std::string> fileName;  // stored name, when usable
    std::optional<std::string> directory; // 8-character cache folder name, when usable
    std::uint32_t sizeLow = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t entryType = 0;
    std::uint64_t lastModified = 0; // FILETIME
    std::uint64_t lastAccess = 0;   // FILETIME
    // FILETIMEs from the record's FAT date/times, taken as UTC (as Wine writes them); 0 when
    // unset or not a date.
    std::uint64_t expiry = 0;
    std::uint64_t lastSync = 0; // when the entry was last fetched or checked with the server
    std::string headers;        // raw response headers (no terminator)
    std::string extension;
    std::uint32_t useCount = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t exemptDelta = 0;
};

struct IndexContents {
    IndexFormat format = IndexFormat::Unknown;
    IndexHeader header;
    std::vector<std::string> directories;           // names as stored; "" when unusable
    std::vector<std::uint32_t> directoryFileCounts; // beside each name, as recorded
    std::vector<std::uint64_t> hashTables;          // the tables walked, in chain order
    std::vector<IndexEntry> entries;                // hash-table order
    std::vector<IndexWarning> warnings;             // in the order met
};

using IndexWarnings = std::vector<IndexWarning>;

// The header; its format is Unknown (with a warning) when the signature is not one we read.
IndexHeader ReadIndexHeader(std::span<const std::uint8_t> file, IndexWarnings& warnings);

struct DirectoryTable {
    std::vector<std::string> names;
    std::vector<std::uint32_t> fileCounts;
};
// The cache folders; a name that is not 8 letters and digits reads as "".
DirectoryTable ReadDirectoryTable(const LittleEndianReader& index, const IndexHeader& header,
                                  IndexWarnings& warnings);

struct HashWalk {
    std::vector<std::uint64_t> tables;  // in chain order
    std::vector<std::uint64_t> records; // each candidate record once, in slot order
};
// Follows the chain of hash tables and collects the records their live slots name.
HashWalk WalkHashTables(const LittleEndianReader& index, const IndexHeader& header,
                        IndexWarnings& warnings);

// The URL record at the offset, or nothing when it is no usable URL record.
std::optional<IndexEntry> DecodeUrlRecord(const LittleEndianReader& index, std::uint64_t offset,
                                          const std::vector<std::string>& directories,
                                          IndexWarnings& warnings);

// All four in turn.
IndexContents ReadIndex(std::span<const std::uint8_t> file);
// The same, each entry handed to `take` as it is decoded rather than kept in `entries`
// (which stays empty); `expect` is told first how many records the hash tables name, the
// most there can be.
IndexContents ReadIndex(std::span<const std::uint8_t> file,
                        const std::function<void(std::size_t)>& expect,
                        const std::function<void(IndexEntry&)>& take);

// A FAT date (low half) and time (high half) as a FILETIME; 0 for 0 and for anything that
// is no date (month 0 or past 12, day 0, a time past 23:59:58).
std::uint64_t FatToFileTime(std::uint32_t fat);

// A stored file or folder name that could point outside the cache folder, or is empty.
bool IsUnsafeName(const std::string& name);

} // namespace platform::urlcache
