// Finding caches: one walk. Every program that embeds Chromium (Electron and WebView2 apps,
// QtWebEngine browsers) or Gecko (Thunderbird) keeps a browser's cache in a folder of its own,
// and nobody can list every program. So the walk starts at the places programs keep per-user
// data (known_places.h), which also name the program and profile of each cache found below
// them, and takes a folder for a cache by its own files (RecogniseCacheFolder): the one test.
// The folders the known browsers keep their caches in (known_places.h too) are put to the
// same test, where a damaged cache still counts, so that its scan names it unreadable rather
// than the list passing it over.
//
// FindUserCaches and ClassifyFolder (browser.h) are this search over the user's own home,
// and over a folder the user names. Every question they ask of the files goes through a
// platform::FileAccess (the host's unless told otherwise), so that a disk image's file
// system is searched exactly as a folder is.
#pragma once

#include "cache/browser/browser.h"
#include "platform/base/file_access.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace browser {

// Entries of `folder` called `name` without regard to case (copied disks vary), sorted; an
// empty name gives every entry.
std::vector<std::filesystem::path>
ChildrenNoCase(const std::filesystem::path& folder, std::string_view name,
               const platform::FileAccess& files = platform::HostFiles());
// The paths below `at` that a relative path leads to ("AppData/Local"), each name matched
// without regard to case; "*" matches every entry.
std::vector<std::filesystem::path>
PathsNoCase(const std::filesystem::path& at, std::string_view slashed,
            const platform::FileAccess& files = platform::HostFiles());

// The kind of cache `folder` itself is, from its own files, or none:
//   Simple Cache  `index` + `index-dir/the-real-index` (or an `index` with the entry magic)
//   blockfile     `index` starting with 0xC103CAC3 (little-endian)
//   SQL           `index` starting "SQLCache", and `sqldb0`
//   Firefox       a folder named cache2 holding `entries/`
//   WebKit        a `Version N` folder holding `salt` and `Records/`, or a folder holding one
// Links are not followed to reach those files.
//
// `known`: the folder is where a known browser of that family keeps its cache. A Firefox
// cache there is any folder holding `entries/` (which may be a link); a Chromium-family one,
// when its files are not recognised as one kind, is a Simple Cache as long as it has an
// `index` or an `index-dir`: damaged or of a version to come, its scan names it unreadable.
std::optional<CacheKind>
RecogniseCacheFolder(const std::string& folder, std::optional<CacheKind> known = std::nullopt,
                     const platform::FileAccess& files = platform::HostFiles());

// A folder the user named, and the real folder it stands for (every link on its path
// followed, so that a folder named through a link is read as it is). Whatever is found below
// it must stay inside that real folder: a link there (`.cache` -> `/`, an `AppData/Local`
// kept on another disk) never leads the search out of what the user named. In a tree whose
// links are never followed (a disk image's file system) nothing below it can lead out.
class NamedRoot {
  public:
    explicit NamedRoot(const std::string& folder,
                       const platform::FileAccess& files = platform::HostFiles());
    // False for a path below the named folder, as written, that leads out of it once its
    // links are followed, or that cannot be resolved; true for any other path (a profile's
    // cache kept elsewhere on purpose is not below the folder, and is read).
    bool admits(const std::string& path) const;

  private:
    std::string written_, real_;
    bool linksFollowed_ = true;
};

// How deep below a data place the walk looks: a cache folder may sit at most this many
// levels down. The deepest layouts in use are six levels down (Chrome on Windows:
// Google/Chrome/User Data/Default/Cache/Cache_Data; new Teams: Microsoft/MSTeams/EBWebView/
// <profile>/Cache/Cache_Data); one more leaves room for a vendor folder above an app's own,
// while keeping a walk of a large data folder (a game library, a build cache) bounded.
inline constexpr int kWalkDepth = 7;

// A place programs keep per-user data, and how a cache below it is named.
struct DataPlace {
    std::string path;
    std::string form;     // how the program is installed: "Flatpak", "snap", "Store" or ""
    std::string fallback; // the program's name when the folders below it give none
};

// The places of a Linux home (XDG folders given as absolute paths), a copied Windows profile
// and a copied macOS home. Only places that exist.
std::vector<DataPlace> LinuxDataPlaces(const std::string& home, const std::string& cache,
                                       const std::string& config,
                                       const platform::FileAccess& files = platform::HostFiles());
std::vector<DataPlace> WindowsDataPlaces(const std::string& profile,
                                         const platform::FileAccess& files = platform::HostFiles());
std::vector<DataPlace> MacDataPlaces(const std::string& home,
                                     const platform::FileAccess& files = platform::HostFiles());

struct WalkStats {
    std::size_t folders = 0;    // folders listed
    std::size_t unreadable = 0; // folders that could not be opened, listed or searched (skipped)
    std::vector<ScanProblem> skipped; // each of those, with why
};

// The caches below the places, `depth` levels down at most. A link is never followed below a
// place (a place itself may be one: ~/.config kept elsewhere, snap's `current`); each folder
// is read once however it is reached; a cache's own folders are not entered. Each folder
// costs one open, its listing and one fstat; a name costs a stat only when the file system
// does not give its type.
// `known` are the folders (device, inode) already taken for caches, which the walk passes
// over unlisted: a cache folder holds thousands of files.
using FolderIds = std::set<std::pair<std::uint64_t, std::uint64_t>>;
std::vector<CacheFolder> WalkForCaches(const std::vector<DataPlace>& places, int depth = kWalkDepth,
                                       WalkStats* stats = nullptr,
                                       const platform::FileAccess& files = platform::HostFiles(),
                                       const FolderIds& known = {});

// The program and profile a cache belongs to as a user names them ("Discord", "Chrome
// Default", "Slack (Flatpak), partition team-t7", "Thunderbird default-release"), from the
// folders between the place holding it and the cache.
std::string SourceName(const CacheFolder& folder, const std::vector<DataPlace>& places);

} // namespace browser
