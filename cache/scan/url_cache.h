// The cache scan: walks the user's URL cache and lists the files of the ticked types.
#pragma once

#include "cache/scan/found_file_list.h"

#include <string>

namespace cache {

inline constexpr const char* kScanTag = "in Orrery2021/08/31.URLCache.getIECache ";

// The six file-type boxes of the main window, read afresh for every entry tested.
// The boxes in the order the window shows them; WEBP sits to the right of the videos.
enum class FileType { JPG, BMP, GIF, PNG, ICO, Videos, WEBP };
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
// extension a ticked box admits. Reports its own failures and always returns.
void getIECache(FoundFileList& list, const FileTypeSwitches& boxes);

// The main window's pointer codes: the arrow, the hourglass, and the custom pointer (the
// hand over the buttons).
enum MousePointerCode : int { Default = 0, Hourglass = 11, Custom = 99 };

// The main window's pointer, set by MousePointerCode.
class PointerTarget {
  public:
    virtual ~PointerTarget() = default;
    virtual void setMousePointer(int code) = 0;
};

// "Start Retrieving Cached Files".
// The folders the user named (none: the current user's own caches) decide what is read.
struct CacheSelection;
void PushButton1_Click(FoundFileList& list, const FileTypeSwitches& boxes, PointerTarget& window,
                       const CacheSelection& selection);
// "Select All Items" and "Deselect All Items".
void PushButton5_Click(FoundFileList& list);
void PushButton6_Click(FoundFileList& list);

} // namespace cache
