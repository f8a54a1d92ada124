// Reading a WinINet URL cache index ("index.dat") into its content entries.
//
// The file is untrusted: every offset, count and string is checked against the bytes
// actually read, hash-table chains cannot loop, and a damaged file gives the entries that
// can still be read. Nothing here touches the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::urlcache {

enum class IndexFormat { Unknown, Native52, Wine2012, Wine2005 };

struct IndexEntry {
    std::string url;                      // ANSI bytes as stored
    std::optional<std::string> fileName;  // stored name, when usable
    std::optional<std::string> directory; // 8-character cache folder name, when usable
    std::uint32_t sizeLow = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t entryType = 0;
    std::uint64_t lastModified = 0; // FILETIME
    std::uint64_t lastAccess = 0;   // FILETIME
    std::string headers;            // raw response headers (no terminator)
    std::string extension;
    std::uint32_t useCount = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t exemptDelta = 0;
};

struct IndexContents {
    IndexFormat format = IndexFormat::Unknown;
    std::vector<std::string> directories; // names as stored; empty text when unusable
    std::vector<IndexEntry> entries;      // hash-table order
    // Problems met while reading (for diagnostics and tests); reading goes on past them.
    std::vector<std::string> warnings;
};

IndexContents ReadIndex(std::span<const std::uint8_t> file);

// A stored file or folder name that could point outside the cache folder, or is empty.
bool IsUnsafeName(const std::string& name);

} // namespace platform::urlcache
