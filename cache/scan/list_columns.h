// The found-file list's columns: what the window shows and the command line's --list prints.
#pragma once

#include <array>

namespace cache {

// The columns by number, as the list control counts them: the row's own text, then its
// sub-items 1 to 3.
inline constexpr int kUrlColumn = 0;
inline constexpr int kFileNameColumn = 1;
inline constexpr int kSizeColumn = 2;
inline constexpr int kFilePathColumn = 3;

struct ListColumn {
    const char* caption;
    int width; // in twips, as the window sets it up
};

// In the order shown, each at its number. The file path is there to be found, not read: a
// column one twip wide.
inline constexpr std::array<ListColumn, 4> kListColumns{{
    {"URL", 3200},
    {"Filename(s)", 3200},
    {"Size", 1000},
    {"File Path", 1},
}};

} // namespace cache
