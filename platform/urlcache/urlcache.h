// WinINet URL cache enumeration, ANSI forms, reading the current user's content cache.
//
// Probe-then-fill: a call whose buffer is null or smaller than the entry copies nothing,
// does not advance and writes the size the entry needs into *size (0 when there is no
// entry). A call with a large enough buffer writes the 80-byte record, then its strings,
// into the buffer (the record's string fields hold addresses inside it) and advances.
#pragma once

#include "platform/base/file_access.h"
#include "platform/base/memory.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The record in its 32-bit layout; string fields are addresses in the simulated space.
struct INTERNET_CACHE_ENTRY_INFOA {
    std::uint32_t dwStructSize;
    Address lpszSourceUrlName;
    Address lpszLocalFileName;
    std::uint32_t CacheEntryType;
    std::uint32_t dwUseCount;
    std::uint32_t dwHitRate;
    std::uint32_t dwSizeLow;
    std::uint32_t dwSizeHigh;
    std::uint32_t LastModifiedTime[2];
    std::uint32_t ExpireTime[2];
    std::uint32_t LastAccessTime[2];
    std::uint32_t LastSyncTime[2];
    Address lpHeaderInfo;
    std::uint32_t dwHeaderInfoSize;
    Address lpszFileExtension;
    std::uint32_t dwExemptDelta;
};
static_assert(sizeof(INTERNET_CACHE_ENTRY_INFOA) == 80);

// Where the index lives. By default: the content cache of $WINEPREFIX (else ~/.wine).
struct UrlCacheSource {
    std::string indexFile;
    std::string containerFolder; // file-system path (bytes); the local file names start with it
    // The tree the index is in: null for the host's files; else a file system in a disk
    // image, where indexFile is a path from its root and containerFolder says where the cache
    // folder is in the image, as the user is shown it.
    std::shared_ptr<const FileAccess> files = nullptr;
};
// Index files named by the user, read one after the other as one enumeration in place of
// the located one.
using UrlCacheSources = std::vector<UrlCacheSource>;

// Returns an enumeration handle (non-zero) after a successful fill, else 0. `sources`, when
// given, are the indexes the user named; null reads the located cache, as Windows does.
std::uint32_t FindFirstUrlCacheEntryA(const char* searchPattern, Address entryInfo,
                                      std::int32_t* entryInfoSize,
                                      const UrlCacheSources* sources = nullptr);
bool FindNextUrlCacheEntryA(std::uint32_t handle, Address entryInfo, std::int32_t* entryInfoSize);
bool FindCloseUrlCache(std::uint32_t handle);

// The leading bytes that every local file name of this enumeration starts with and that
// are a path of the file system rather than ANSI text: the container folder and its
// separator. On a system whose paths are ANSI this is empty. "" for an unknown handle. The
// text stays as it is while the enumeration is open.
const std::string& UrlCacheFolderPrefix(std::uint32_t handle);

// How many entries the enumeration has still to give after the one last filled: the most
// rows a walk may yet add, to make room for at once. 0 for an unknown handle.
std::size_t UrlCacheEntriesLeft(std::uint32_t handle);

// When no buffer can be had for an entry, the walk can still step past it: the first
// opens an enumeration already past the first entry, the second advances one entry.
// Both return 0/false when there is nothing to step over.
std::uint32_t FindFirstUrlCacheEntrySkipA(const UrlCacheSources* sources = nullptr);
bool SkipUrlCacheEntry(std::uint32_t handle);

using UrlCacheLocator = std::function<std::optional<UrlCacheSource>()>;
void SetUrlCacheLocator(UrlCacheLocator locator); // for tests; empty: back to the default
std::optional<UrlCacheSource> LocateUrlCache();

std::size_t OpenUrlCacheEnumerations(); // for tests: handles not yet closed
// For tests: told the handle of every FindCloseUrlCache call (empty: no one is told).
void SetUrlCacheCloseObserver(std::function<void(std::uint32_t)> observer);

} // namespace platform
