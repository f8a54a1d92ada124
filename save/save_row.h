// Saving one found file: what "Start Saving Files" and the command line's --save both do
// for each row, with no window or dialog involved.
#pragma once

#include "cache/scan/found_file_list.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace save {

// The targets one walk of saves has written, as FoldNameCase gives them, and for each name
// the number its next copy tries first: the thousandth row of one name ("image.jpg") then
// costs what the second does, instead of trying every number below its own.
struct UsedTargets {
    std::set<std::string> folded;
    std::map<std::string, int> nextNumber; // by the folded target the row's own name gives
    // The regular files that were in the folder when the walk first needed them, by the
    // folded name they are numbered copies of ("bg (2).png" under "bg.png"), then by size.
    // A file a row was found in is taken out: no other row claims it.
    using Existing = std::map<std::string, std::multimap<std::uint64_t, std::string>>;
    std::optional<Existing> existing;
};

// Saves one row into a folder (its path, with or without the final separator) under the
// row's file name: a file
// that was there before is replaced; a name this walk already wrote, in any letter case,
// gets " (2)", " (3)"... (a numbered name that was there before is left alone). A row whose
// bytes the folder already holds under its name or one of its numbered names is not copied
// again: it is already saved, there, so that saving the same rows twice adds nothing.
struct RowSaveResult {
    bool saved = false;
    bool alreadySaved = false; // saved before: `target` holds its bytes and was left alone
    std::string target;        // where it went, or would have gone
    std::string reason;        // why not, when not saved
};
RowSaveResult SaveFoundFile(const cache::FoundFile& row, const std::string& folder,
                            UsedTargets& usedTargets);

// "name (2).ext" style names for the second and later file of one name in one walk. The
// name's stem is shortened, between characters, so that the result fits 255 bytes.
std::string NumberedName(const std::string& fileName, int number);
// A name as the walk compares it with the names it already wrote: letters folded to small
// ones (ASCII, Latin-1 and Latin Extended-A; other scripts are compared as they are).
std::string FoldNameCase(const std::string& name);
// The name a numbered copy is a copy of ("bg (2).png" gives "bg.png"); the name itself
// when it is not a numbered one.
std::string UnnumberedName(const std::string& fileName);

} // namespace save
