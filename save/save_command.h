// "Start Saving Files": copies the ticked rows' cached files into the destination folder.
#pragma once

#include "cache/scan/found_file_list.h"

#include <set>
#include <string>

namespace save {

inline constexpr const char* kSaveTag = "in Orrery2021/08/31.Form1.PushButton3_Click ";

// What the command needs of the main window.
class SaveWindow {
  public:
    virtual ~SaveWindow() = default;
    virtual std::string destinationText() const = 0;                   // Text3, read afresh
    virtual void setProgress(std::size_t done, std::size_t total) = 0; // ProgressBar1
    virtual bool closing() const { return false; } // the user closed the window mid-walk
};

void PushButton3_Click(cache::FoundFileList& list, SaveWindow& window);

// Saves one row into a folder (ending in the separator) under the row's file name: a file
// that was there before is replaced; a name this walk already wrote, in any letter case,
// gets " (2)", " (3)"... usedTargets holds the targets written, as FoldNameCase gives them.
// The command line's --save and the button share it.
struct RowSaveResult {
    bool saved = false;
    std::string target; // where it went, or would have gone
    std::string reason; // why not, when not saved
};
RowSaveResult SaveFoundFile(const cache::FoundFile& row, const std::string& folder,
                            std::set<std::string>& usedTargets);

// "name (2).ext" style names for the second and later file of one name in one walk. The
// name's stem is shortened, between characters, so that the result fits 255 bytes.
std::string NumberedName(const std::string& fileName, int number);
// A name as the walk compares it with the names it already wrote: letters folded to small
// ones (ASCII, Latin-1 and Latin Extended-A; other scripts are compared as they are).
std::string FoldNameCase(const std::string& name);

} // namespace save
