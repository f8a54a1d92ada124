// The cache scan: walks the user's URL cache and lists the files of the ticked types.
#pragma once

#include "cache/scan/file_types.h"
#include "cache/scan/found_file_list.h"

#include <string>
#include <vector>

namespace platform {
struct UrlCacheSource;
}

namespace cache {

inline constexpr const char* kScanTag = "in Orrery2021/08/31.URLCache.getIECache ";

// The file-type boxes of the main window, read afresh for every entry tested.
class FileTypeSwitches {
  public:
    virtual ~FileTypeSwitches() = default;
    virtual int value(FileType box) const = 0; // 1 ticked, 0 not
};

struct FileTypeFilter {
    // True when a ticked box admits the extension (compared in lower case).
    static bool admits(const std::string& extension, const FileTypeSwitches& boxes);
};

// Empties the list and appends one ticked row per cache entry whose local file has an
// extension a ticked box admits. Reports its own failures and always returns. `sources` are
// the index files of the folders the user named; null reads the current user's cache.
void getIECache(FoundFileList& list, const FileTypeSwitches& boxes,
                const std::vector<platform::UrlCacheSource>* sources = nullptr);

} // namespace cache
