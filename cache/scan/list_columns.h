// The found-file list's columns: what the window shows and the command line's --list prints.
#pragma once

#include "cache/scan/found_file_list.h"

#include <array>
#include <string>

namespace cache {

struct ListColumn {
    const char* caption;
    int width;                     // in twips, as the window sets it up
    std::string FoundFile::*field; // the row's text in this column
};

// In the order shown; the first is the row's own text, the others its sub-items 1 to 3.
// The file path is there to be found, not read: a column one twip wide.
inline constexpr std::array<ListColumn, 4> kListColumns{{
    {"URL", 3200, &FoundFile::url},
    {"Filename(s)", 3200, &FoundFile::fileName},
    {"Size", 1000, &FoundFile::size},
    {"File Path", 1, &FoundFile::path},
}};

} // namespace cache
