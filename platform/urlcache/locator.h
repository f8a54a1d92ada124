// Finding the current user's content cache in a Wine prefix, the way Wine finds it.
#pragma once

#include <optional>
#include <string>

namespace platform::urlcache {

struct CacheLocation {
    std::string containerFolder; // the folder holding index.dat (no trailing separator)
    std::string indexFile;       // containerFolder + "/index.dat"
};

// The prefix: $WINEPREFIX, else ~/.wine.
std::optional<std::string> DefaultWinePrefix();

// The content container of the prefix: the "Cache" value under Shell Folders (then User
// Shell Folders, with %USERPROFILE% expanded) in user.reg, drive letters mapped into the
// prefix, else the default INetCache folder; then "Content.IE5". Returns nothing when the
// prefix has no such folder.
std::optional<CacheLocation> LocateContentCache(const std::string& prefix,
                                                const std::string& userName);

// Maps a Windows path of the prefix ("C:\users\x") to the Unix path inside the prefix.
std::optional<std::string> MapWindowsPath(const std::string& prefix,
                                          const std::string& windowsPath);

// The value of a string value in a Wine registry file (user.reg), with its escapes undone.
std::optional<std::string> ReadRegistryString(const std::string& regFileText,
                                              const std::string& key, const std::string& valueName);

std::string CurrentUserName();

} // namespace platform::urlcache
