// Shell calls: where the user's special folders are.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

inline constexpr int CSIDL_DESKTOP = 0;

struct ITEMIDLIST {
    std::string path;
};

// 0 on success, with *list filled; any other value means failure. The Desktop is the
// user's XDG desktop folder (user-dirs.dirs, else $HOME/Desktop) when that folder exists,
// else the XDG pictures folder (else $HOME/Pictures) when that one exists, else the home
// folder.
int SHGetSpecialFolderLocation(int ownerWindow, int folder, ITEMIDLIST* list);
// Writes the folder's path and a NUL at the start of buffer (bufferSize bytes); writes
// nothing when the path does not fit.
bool SHGetPathFromIDListA(const ITEMIDLIST& list, char* buffer, std::size_t bufferSize);

// The XDG desktop folder, as above; nothing when no home is known.
std::optional<std::string> XdgDesktopFolder();

} // namespace platform
