// The toolkit-free procedures behind the main window's list buttons: "Start Retrieving Cached
// Files", "Select All Items" and "Deselect All Items". The work they start (the scan, the
// retrieve, ticking rows) is callable without them.
#pragma once

#include "cache/scan/found_file_list.h"
#include "cache/scan/retrieve.h"
#include "cache/scan/url_cache.h"

namespace cache {

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
void PushButton1_Click(FoundFileList& list, const FileTypeSwitches& boxes, PointerTarget& window,
                       const CacheSelection& selection);
// "Select All Items" and "Deselect All Items".
void PushButton5_Click(FoundFileList& list);
void PushButton6_Click(FoundFileList& list);

} // namespace cache
