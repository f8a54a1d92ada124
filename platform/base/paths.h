// The path separator of the file system the program runs on, and joining by it.
//
// Paths the program builds or takes apart use these, so that a port to another system
// changes one place.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparatorText{&kPathSeparator, 1};

// folder + one separator + name; a folder that already ends in a separator gets none more.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out;
    out.reserve(folder.size() + 1 + name.size()); // one allocation: a scan joins one per entry
    out.append(folder);
    if (out.empty() || out.back() != kPathSeparator)
        out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

// How a file inside a disk image is named for the user: the image, the partition (left out
// for an image with no partition table) and the path inside, "carol.E01 › p2 › /Users/carol/…".
inline constexpr std::string_view kImagePartSeparator = " \u203a ";
inline std::string ImageFilePath(std::string_view image, std::string_view partition,
                                 std::string_view inside) {
    std::string out(image);
    if (!partition.empty())
        out.append(kImagePartSeparator).append(partition);
    return out.append(kImagePartSeparator).append(inside);
}

} // namespace platform
