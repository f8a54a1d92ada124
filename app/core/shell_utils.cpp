#include "app/core/shell_utils.h"

#include "app/guard/guard.h"
#include "platform/base/files.h"
#include "platform/base/paths.h"
#include "platform/base/shell.h"

#include <vector>

namespace app {
namespace {

std::string g_title = kProductName;

} // namespace

std::string GetSpecialFolderPath(int folder) {
    platform::ITEMIDLIST list;
    if (platform::SHGetSpecialFolderLocation(100, folder, &list) != 0)
        return {};
    std::vector<char> buffer(512, ' ');
    platform::SHGetPathFromIDListA(list, buffer.data(), buffer.size());
    return std::string(buffer.data(), buffer.size());
}

std::string GetDesktopFolder() {
    const std::string t = GetSpecialFolderPath(0);
    std::size_t p = 0; // 1-based position of the last NUL, 0 when none
    for (std::size_t i = 0; i < t.size(); ++i)
        if (t[i] == '\0')
            p = i + 1;
    if (p == 0)
        throw InvalidArgument();
    return t.substr(0, p - 1) + platform::kPathSeparator;
}

bool FileIsPresent(const std::string& path) {
    try {
        return platform::FileDateTime(path).has_value();
    } catch (...) {
        return false;
    }
}

std::string TitleForProductName(const std::string& name) {
    std::string t = name;
    while (t.size() > 40) {
        const auto blank = t.rfind(' ');
        // A long name without a blank to cut at keeps its first 40 characters.
        if (blank == std::string::npos) {
            t.resize(40);
            break;
        }
        t.resize(blank);
    }
    return t;
}

void SetApplicationTitle() {
    g_title = TitleForProductName(kProductName);
}
const std::string& ApplicationTitle() {
    return g_title;
}

} // namespace app
