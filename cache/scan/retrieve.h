// What "Start Retrieving Cached Files" reads: the WinINet cache through the cache scan,
// then the browser caches, into one list.
#pragma once

#include "cache/browser/browser.h"
#include "cache/scan/found_file_list.h"
#include "cache/scan/url_cache.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cache {

inline constexpr const char* kBrowserScanTag = "in Orrery2021/08/31.URLCache.getBrowserCaches ";

// Where to look: nothing named means the current user's own caches.
struct CacheSelection {
    std::vector<std::string> folders;
};

struct FolderProblem {
    std::string folder; // the folder, or the file in it, concerned
    std::string reason;
};

// The caches a selection stands for.
struct CacheSet {
    std::vector<std::string> urlCacheIndexes; // with no folders: empty, the Wine prefix's is used
    std::vector<browser::CacheFolder> browserCaches;
    std::vector<browser::ScanProblem> skippedFolders; // could not be read while looking
};
CacheSet CachesFor(const CacheSelection& selection);

// A named folder as one look into it found it. A disk image may be named as a folder is:
// each file system in it is then looked into as a named folder would be.
// An Internet Explorer index in a disk image, read through the image.
struct ImageUrlCache {
    std::string index;       // the path inside the file system
    std::string shownFolder; // where its folder is, as the user is shown it
    std::shared_ptr<const platform::FileAccess> files;
    std::string image, partition;
};

struct NamedFolder {
    std::string folder;
    browser::FolderContents contents; // an image's indexes named as shown
    std::exception_ptr failure;       // why the look failed; contents then hold nothing
    // A named file: whether it is a disk image that could be opened, and if not, why.
    bool image = false;
    std::string notImage = {};
    // For an image: why its reader stopped, once it has ("the disk image reader crashed...").
    std::function<std::string()> imageFailure = {};
    std::vector<ImageUrlCache> imageUrlCaches = {}; // an image's Internet Explorer indexes
};
// Looks into each named folder once, for the WinINet indexes and the browser caches alike.
// A look that fails is kept, not thrown, so that it is told where it belongs. With
// `withDeleted`, the disk images among them are read with their deleted files too: the
// entries the caches' own checks prove come back as rows marked deleted.
std::vector<NamedFolder> ClassifyNamedFolders(const std::vector<std::string>& folders,
                                              bool withDeleted = false);

// Each named folder must exist, be readable and hold a cache this program reads. A look
// into a folder that failed is thrown again.
std::vector<FolderProblem> CheckNamedFolders(const std::vector<NamedFolder>& folders);
std::vector<FolderProblem> CheckFolders(const std::vector<std::string>& folders);

// What Retrieve could not read: a cache that cannot be read is never passed off as empty.
struct RetrieveReport {
    // Each cache folder, index or entry that could not be read, and why; a cache in a format
    // this program does not read is one of them.
    std::vector<FolderProblem> problems;
    // The named folders of which nothing at all could be read, each with why: "nothing in
    // it could be read", or what kept it from being read at all ("does not exist").
    std::vector<FolderProblem> unreadableFolders;
    std::size_t browserEntries = 0; // entry files looked at in the browser caches
    std::size_t unreadable = 0;     // of those, entries that could not be read
    // Folders that could not be read while looking for caches (each is also a problem).
    std::size_t skippedFolders = 0;
};

inline constexpr const char* kWinInetSource = "Internet Explorer";

// Empties the list and fills it: the WinINet rows first (getIECache, as always), then one
// row per picture or video of the browser caches that a ticked box admits; each row's source
// is its cache's (kWinInetSource for the WinINet rows). The browser caches are located and
// read under their own tag, so that nothing there can change the WinINet part; a browser
// cache that fails is reported once and the others are still read. The named folders are
// looked into once, before the WinINet scan, which needs their indexes; a look that failed
// is reported under the browser caches' tag, where locating the caches is told, and the
// folder's indexes and caches are then not read.
RetrieveReport RetrieveAll(FoundFileList& list, const FileTypeSwitches& boxes,
                           const CacheSelection& selection,
                           const std::function<void(std::size_t entries)>& progress = {});
// The same over folders already looked into (the command line checks them first).
RetrieveReport RetrieveNamed(FoundFileList& list, const FileTypeSwitches& boxes,
                             const std::vector<NamedFolder>& named,
                             const std::function<void(std::size_t entries)>& progress = {});

// The window's word on what could not be read: one error report under the browser caches'
// tag naming the folders and entries (the first few, then how many more), none when
// everything was read.
void ReportUnreadable(const RetrieveReport& report);

} // namespace cache
