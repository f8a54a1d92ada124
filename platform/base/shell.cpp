#include "platform/base/shell.h"

#include "platform/base/files.h"
#include "platform/base/paths.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace platform {
namespace {

std::optional<std::string> homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return std::string(h);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return std::string(pw->pw_dir);
    return std::nullopt;
}

// The folder user-dirs.dirs names under `key` (XDG_DESKTOP_DIR), else $HOME/`fallback`;
// whether it exists or not.
std::optional<std::string> namedUserFolder(const std::optional<std::string>& home,
                                           const std::string& key, const char* fallback) {
    std::string config;
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c == kPathSeparator)
        config = c;
    else if (home)
        config = JoinPath(*home, ".config");
    if (!config.empty()) {
        std::ifstream in(JoinPath(config, "user-dirs.dirs"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(key + "=", 0) != 0)
                continue;
            std::string value = line.substr(key.size() + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            if (value.rfind("$HOME", 0) == 0) {
                if (!home)
                    break;
                value = *home + value.substr(5);
            }
            if (!value.empty() && value.front() == kPathSeparator) {
                while (value.size() > 1 && value.back() == kPathSeparator)
                    value.pop_back();
                return value;
            }
        }
    }
    if (!home)
        return std::nullopt;
    return *home + "/" + fallback;
}

} // namespace

std::optional<std::string> XdgDesktopFolder() {
    // A minimal or non-desktop system often has no desktop folder. Saved pictures then go to
    // the user's pictures folder where there is one, so that a first save does not scatter
    // them across the home folder, which is the last resort: the one folder certain to exist.
    auto home = homeFolder();
    auto desktop = namedUserFolder(home, "XDG_DESKTOP_DIR", "Desktop");
    if (desktop && !IsFolder(*desktop) && home) {
        auto pictures = namedUserFolder(home, "XDG_PICTURES_DIR", "Pictures");
        return pictures && IsFolder(*pictures) ? pictures : home;
    }
    return desktop;
}

int SHGetSpecialFolderLocation(int, int folder, ITEMIDLIST* list) {
    if (!list || folder != CSIDL_DESKTOP)
        return 1;
    const auto desktop = XdgDesktopFolder();
    if (!desktop)
        return 1;
    list->path = *desktop;
    return 0;
}

bool SHGetPathFromIDListA(const ITEMIDLIST& list, char* buffer, std::size_t bufferSize) {
    if (!buffer || list.path.empty() || list.path.size() + 1 > bufferSize)
        return false;
    std::memcpy(buffer, list.path.data(), list.path.size());
    buffer[list.path.size()] = '\0';
    return true;
}

} // namespace platform
