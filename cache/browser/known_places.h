// Where caches live, as tables: the places programs keep per-user data, where the walk for
// caches starts and which name the program of a cache found below them; the folders the known
// browsers keep their caches in, looked at before the walk; and the folder names a user knows
// a program by. The walk (walk.cpp) reads them; a new browser or layout is a row here.
#pragma once

#include <initializer_list>
#include <string_view>

namespace browser::detail {

// Places programs keep per-user data: `places` below the root (a home, a copied profile), or
// below each folder in `programs` when it is set (one per installed program: a Flatpak, a
// snap, a Store package), where `form` says how the program is installed and the folder's
// name is the program's when the folders below give none.
struct DataPlacePattern {
    std::string_view programs;
    std::initializer_list<std::string_view> places;
    std::string_view form;
};

// Below a Linux home, after the XDG config and cache folders. Names are matched exactly.
inline const DataPlacePattern kLinuxDataPlaces[] = {
    {"", {".mozilla", ".thunderbird"}, ""},
    {".var/app", {"config", "cache", "data"}, "Flatpak"},
    {"snap", {"current/.config", "current/.cache", "common/.config", "common/.cache"}, "snap"},
};
// Below a copied Windows profile, names matched in any letter case (copied disks vary). Store
// apps first: their folders are also below AppData/Local, deeper than the walk goes from
// there, and a folder is walked only once.
inline const DataPlacePattern kWindowsDataPlaces[] = {
    {"AppData/Local/Packages", {"LocalCache"}, "Store"},
    {"", {"AppData/Roaming", "AppData/Local"}, ""},
};
// Below a copied macOS home, in any letter case.
inline const DataPlacePattern kMacDataPlaces[] = {
    {"", {"Library/Application Support", "Library/Caches"}, ""},
    // A sandboxed app's own Library: its WebKit cache is Caches/WebKit/NetworkCache, with no
    // level naming the app but the container's.
    {"Library/Containers", {"Data/Library/Caches"}, ""},
};

// Folders that hold compiled scripts, shaders or a site's storage, never an HTTP cache, some
// of them in the Simple Cache format (whose entries would only count as unreadable), and
// trees that are large and hold no cache. The walk never enters them.
inline constexpr std::string_view kNeverEntered[] = {
    "Code Cache",    "GPUCache",          "GrShaderCache",   "GraphiteDawnCache", "DawnCache",
    "ShaderCache",   "DawnGraphiteCache", "DawnWebGPUCache", "Service Worker",    "IndexedDB",
    "Local Storage", "Session Storage",   "blob_storage",    "node_modules",      ".git",
};

// Linux: the Chromium-family browsers' folders below a cache root (~/.cache, a snap's
// common/.cache, a Flatpak's cache), each holding a Cache level, or one per profile.
inline constexpr std::string_view kChromiumFolders[] = {
    "chromium",
    "google-chrome",
    "google-chrome-beta",
    "google-chrome-unstable",
    "BraveSoftware/Brave-Browser",
    "BraveSoftware/Brave-Browser-Beta",
    "BraveSoftware/Brave-Browser-Nightly",
    "microsoft-edge",
    "microsoft-edge-beta",
    "microsoft-edge-dev",
    "vivaldi",
    "vivaldi-snapshot",
    "opera",
    "opera-beta",
    "opera-developer",
};
// Linux: the Flatpaks of those browsers, whose cache root is .var/app/<id>/cache.
inline constexpr std::string_view kChromiumFlatpaks[] = {
    "com.google.Chrome",  "org.chromium.Chromium", "com.brave.Browser",
    "com.microsoft.Edge", "com.vivaldi.Vivaldi",   "com.opera.Opera",
};

// Linux: the folders a profile list's paths start from: the home, and the XDG folders.
enum class LinuxRoot { Home, Config, Cache };
// Linux: a folder holding a profiles.ini (Firefox, Thunderbird), and the folder that keeps the
// caches of its relative profiles (they may also keep theirs in themselves).
struct ProfileList {
    LinuxRoot iniRoot;
    std::string_view ini;
    LinuxRoot cacheRoot;
    std::string_view cache;
};
inline constexpr ProfileList kFirefoxProfileLists[] = {
    {LinuxRoot::Home, ".mozilla/firefox", LinuxRoot::Cache, "mozilla/firefox"},
    {LinuxRoot::Config, "mozilla/firefox", LinuxRoot::Cache, "mozilla/firefox"},
};
// Thunderbird's own install and the Flatpak and snap ones: the Firefox format.
inline constexpr ProfileList kThunderbirdProfileLists[] = {
    {LinuxRoot::Home, ".thunderbird", LinuxRoot::Cache, "thunderbird"},
    {LinuxRoot::Home, ".var/app/org.mozilla.Thunderbird/.thunderbird", LinuxRoot::Home,
     ".var/app/org.mozilla.Thunderbird/cache/thunderbird"},
    {LinuxRoot::Home, "snap/thunderbird/common/.thunderbird", LinuxRoot::Home,
     "snap/thunderbird/common/.cache/thunderbird"},
};
// Linux: folders below a home holding one Firefox profile folder each, with its cache2 inside.
inline constexpr std::string_view kFirefoxProfileFolders[] = {
    "snap/firefox/common/.cache/mozilla/firefox",
    ".var/app/org.mozilla.firefox/cache/mozilla/firefox",
};

// Windows: the Chromium family's user-data folders, one profile folder each, below the local
// application data folder (AppData/Local or, before Vista, Local Settings/Application Data).
inline constexpr std::string_view kWindowsLocalData[] = {"AppData/Local",
                                                         "Local Settings/Application Data"};
inline constexpr std::string_view kWindowsChromium[] = {
    "Google/Chrome/User Data",
    "Google/Chrome Beta/User Data",
    "Google/Chrome Dev/User Data",
    "Google/Chrome SxS/User Data",
    "Chromium/User Data",
    "Microsoft/Edge/User Data",
    "Microsoft/Edge Beta/User Data",
    "Microsoft/Edge Dev/User Data",
    "Microsoft/Edge SxS/User Data",
    "BraveSoftware/Brave-Browser/User Data",
    "Vivaldi/User Data",
};
// Windows: Opera keeps no profile level: "Opera Software/Opera Stable/Cache" (and Opera GX
// Stable...), under Roaming or, for the cache, Local.
inline constexpr std::string_view kWindowsOpera[] = {
    "AppData/Roaming/Opera Software",
    "AppData/Local/Opera Software",
    "Application Data/Opera Software",
    "Local Settings/Application Data/Opera Software",
};
// Windows: Firefox's folders of profiles (the caches are below Local, not Roaming).
inline constexpr std::string_view kWindowsFirefoxProfiles[] = {
    "AppData/Local/Mozilla/Firefox/Profiles",
    "Local Settings/Application Data/Mozilla/Firefox/Profiles",
};
// Windows: Internet Explorer's index files, by version and integrity level.
inline constexpr std::string_view kUrlCacheIndexes[] = {
    "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5/index.dat",
    "AppData/Local/Microsoft/Windows/Temporary Internet Files/Low/Content.IE5/index.dat",
    "AppData/Local/Microsoft/Windows/INetCache/IE/index.dat",
    "AppData/Local/Microsoft/Windows/INetCache/Low/IE/index.dat",
    "AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat",
    "AppData/Local/Microsoft/Windows/INetCache/Low/Content.IE5/index.dat",
    "Local Settings/Temporary Internet Files/Content.IE5/index.dat",
};

// macOS: browser folders below Library/Caches: profiles inside, Cache below each.
inline constexpr std::string_view kMacCaches = "Library/Caches";
inline constexpr std::string_view kMacChromium[] = {
    "Google/Chrome",
    "Google/Chrome Beta",
    "Google/Chrome Dev",
    "Google/Chrome Canary",
    "Chromium",
    "Microsoft Edge",
    "Microsoft Edge Beta",
    "Microsoft Edge Dev",
    "Microsoft Edge Canary",
    "BraveSoftware/Brave-Browser",
    "BraveSoftware/Brave-Browser-Beta",
    "BraveSoftware/Brave-Browser-Nightly",
    "Vivaldi",
    "com.operasoftware.Opera",
    "com.operasoftware.OperaGX",
};
inline constexpr std::string_view kMacFirefoxProfiles = "Firefox/Profiles";

// Known program folders, as a user names the program: the first levels below a data place.
struct KnownProgram {
    std::initializer_list<std::string_view> folders;
    std::string_view name;
};
inline const KnownProgram kKnownPrograms[] = {
    {{"mozilla", "firefox"}, "Firefox"},
    {{"firefox"}, "Firefox"},
    {{"thunderbird"}, "Thunderbird"},
    {{"chromium"}, "Chromium"},
    {{"google-chrome"}, "Chrome"},
    {{"google-chrome-beta"}, "Chrome Beta"},
    {{"google-chrome-unstable"}, "Chrome Dev"},
    {{"Google", "Chrome"}, "Chrome"},
    {{"Google", "Chrome Beta"}, "Chrome Beta"},
    {{"BraveSoftware", "Brave-Browser"}, "Brave"},
    {{"BraveSoftware", "Brave-Browser-Beta"}, "Brave Beta"},
    {{"BraveSoftware", "Brave-Browser-Nightly"}, "Brave Nightly"},
    {{"microsoft-edge"}, "Edge"},
    {{"microsoft-edge-beta"}, "Edge Beta"},
    {{"microsoft-edge-dev"}, "Edge Dev"},
    {{"Microsoft", "Edge"}, "Edge"},
    {{"Microsoft", "MSTeams"}, "Teams"},
    {{"Microsoft", "Teams"}, "Teams classic"},
    {{"vivaldi"}, "Vivaldi"},
    {{"vivaldi-snapshot"}, "Vivaldi Snapshot"},
    {{"opera"}, "Opera"},
    {{"Opera Software", "Opera Stable"}, "Opera"},
    {{"discord"}, "Discord"},
    {{"discordcanary"}, "Discord Canary"},
    {{"discordptb"}, "Discord PTB"},
    {{"Slack"}, "Slack"},
    {{"Signal"}, "Signal"},
    {{"Element"}, "Element"},
    {{"teams-for-linux"}, "Teams for Linux"},
    {{"Code"}, "Visual Studio Code"},
    {{"qutebrowser"}, "qutebrowser"},
    {{"falkon"}, "Falkon"},
    {{"epiphany"}, "GNOME Web"},
    {{"com.apple.Safari"}, "Safari"},
};

// Levels that say how a cache is kept, not whose it is.
inline constexpr std::string_view kLayoutLevels[] = {"User Data", "Profiles", "EBWebView",
                                                     "QtWebEngine", "webengine"};
// The levels of a cache itself, below its program's and profile's.
inline constexpr std::string_view kCacheLevels[] = {"Cache_Data",  "Cache",        "cache2",
                                                    "WebKitCache", "NetworkCache", "WebKit"};

} // namespace browser::detail
