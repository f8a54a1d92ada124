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
    std::string out(folder);
    if (out.empty() || out.back() != kPathSeparator)
        out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

} // namespace platform
