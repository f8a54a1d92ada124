// What "Start Retrieving Cached Files" reads: the WinINet cache through the cache scan,
// then the browser caches, into one list.
#pragma once

#include "cache/browser/browser.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/url_cache.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cache {

inline constexpr const char* kBrowserScanTag = "in Orrery2021/08/31.URLCache.getBrowserCaches ";

// Where to look: nothing named means the current user's own caches.
struct CacheSelection {
    std::vector<std::string> folders;
};

struct FolderProblem {
    std::string folder;
    std::string reason;
};

// The caches a selection stands for.
struct CacheSet {
    std::vector<std::string> urlCacheIndexes; // with no folders: empty, the Wine prefix's is used
    std::vector<browser::CacheFolder> browserCaches;
    std::size_t unreadableFolders = 0; // skipped while looking for caches
};
CacheSet CachesFor(const CacheSelection& selection);

// Each named folder must exist, be readable and hold a cache this program reads.
std::vector<FolderProblem> CheckFolders(const std::vector<std::string>& folders);

struct RetrieveReport {
    std::vector<FolderProblem> problems; // browser caches in a format this program cannot read
    std::size_t browserEntries = 0;      // entry files looked at in the browser caches
    std::size_t unreadable = 0;          // of those, entries that could not be read
    std::size_t unreadableFolders = 0;   // folders skipped while looking for caches
};

inline constexpr const char* kWinInetSource = "Internet Explorer";

// Empties the list and fills it: the WinINet rows first (getIECache, as always), then one
// row per picture or video of the browser caches that a ticked box admits; each row's source
// is its cache's (kWinInetSource for the WinINet rows). A browser cache
// that fails is reported once under its own tag and the others are still read.
RetrieveReport RetrieveAll(FoundFileList& list, const FileTypeSwitches& boxes,
                           const CacheSelection& selection,
                           const std::function<void(std::size_t entries)>& progress = {});

} // namespace cache
