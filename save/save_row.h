// Saving one found file: what "Start Saving Files" and the command line's --save both do
// for each row, with no window or dialog involved.
#pragma once

#include "cache/scan/found_file_list.h"

#include <map>
#include <set>
#include <string>

namespace save {

// The targets one walk of saves has written, as FoldNameCase gives them, and for each name
// the number its next copy tries first: the thousandth row of one name ("image.jpg") then
// costs what the second does, instead of trying every number below its own.
struct UsedTargets {
    std::set<std::string> folded;
    std::map<std::string, int> nextNumber; // by the folded target the row's own name gives
};

// Saves one row into a folder (its path, with or without the final separator) under the
// row's file name: a file
// that was there before is replaced; a name this walk already wrote, in any letter case,
// gets " (2)", " (3)"... (a numbered name that was there before is left alone).
struct RowSaveResult {
    bool saved = false;
    std::string target; // where it went, or would have gone
    std::string reason; // why not, when not saved
};
RowSaveResult SaveFoundFile(const cache::FoundFile& row, const std::string& folder,
                            UsedTargets& usedTargets);

// "name (2).ext" style names for the second and later file of one name in one walk. The
// name's stem is shortened, between characters, so that the result fits 255 bytes.
std::string NumberedName(const std::string& fileName, int number);
// A name as the walk compares it with the names it already wrote: letters folded to small
// ones (ASCII, Latin-1 and Latin Extended-A; other scripts are compared as they are).
std::string FoldNameCase(const std::string& name);

} // namespace save
