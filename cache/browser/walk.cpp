#include "cache/browser/walk.h"
#include "cache/browser/webkit_scan.h"
#include "cache/formats/webkit_layout.h"

#include "cache/browser/entry.h"
#include "cache/browser/known_places.h"
#include "cache/browser/source.h"
#include "cache/formats/blockfile_layout.h"
#include "cache/formats/http.h"
#include "cache/formats/simple_layout.h"
#include "platform/base/endian.h"
#include "platform/base/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace browser {

namespace {

using namespace detail;
namespace fs = std::filesystem;

bool IsFolderNoFollow(const std::string& path, const platform::FileAccess& files) {
    int error = 0;
    return files.kindAt(path, false, error) == platform::EntryKind::Folder;
}

// The entries of the folder at `folder` (the links on its path followed where the tree
// follows them); none when it cannot be listed, those listed when the listing stopped.
std::vector<platform::FolderEntry> Entries(const fs::path& folder,
                                           const platform::FileAccess& files) {
    std::vector<platform::FolderEntry> entries;
    int error = 0;
    if (folder.empty())
        return entries;
    if (const auto held = files.openFolder(folder.string(), error))
        held->list(entries);
    return entries;
}

// The walk below the data places, through the file access: each folder costs one open, its
// listing and one fstat on the host's files.
class Walker {
  public:
    Walker(int depth, const platform::FileAccess& files, const FolderIds& known)
        : depth_(depth), files_(files), seen_(known) {}

    void walkPlace(const std::string& place) {
        // A place may be a link (~/.config kept elsewhere, snap's `current`); below it none is
        // followed.
        int error = 0;
        auto folder = files_.openFolder(place, error);
        if (!folder) {
            if (error != ENOENT && error != ENOTDIR)
                skip(place, error);
            return;
        }
        visit(*folder, place, 0);
    }

    std::vector<CacheFolder> found;
    WalkStats stats;

  private:
    // A folder that could not be read is counted and named, never passed over in silence:
    // a cache below it may be missing from the list.
    void skip(const std::string& path, int error) {
        ++stats.unreadable;
        stats.skipped.push_back(
            {path, "cannot be read (" + std::string(std::strerror(error)) + ")"});
    }

    static std::string Child(const std::string& path, std::string_view name) {
        std::string childPath = path;
        childPath += '/';
        childPath += name;
        return childPath;
    }

    // `folder` is `depth` levels below its place.
    void visit(const platform::Folder& folder, const std::string& path, int depth) {
        const std::pair id(folder.identity().device, folder.identity().inode);
        if (seen_.count(id) != 0) // a bind mount, overlapping places, or a cache known already
            return;
        std::vector<platform::FolderEntry> entries;
        const int listError = folder.list(entries);
        if (listError != 0 && entries.empty()) {
            skip(path, listError); // held without read permission: it cannot be listed
            return;
        }
        seen_.insert(id);
        ++stats.folders;
        std::vector<std::string> subfolders;
        bool hasIndex = false, hasEntries = false, hasVersion = false, unsearchable = false;
        for (platform::FolderEntry& e : entries) {
            const std::string_view name = e.name;
            // An entry that could not even be looked at: only a folder that cannot be searched
            // stops that, or an entry gone meanwhile.
            if (e.kind == platform::EntryKind::Unknown) {
                unsearchable = unsearchable || !folder.searchable();
            } else if (e.kind == platform::EntryKind::Folder) {
                hasEntries = hasEntries || name == "entries";
                hasVersion = hasVersion || name.starts_with(formats::webkit::kVersionFolderPrefix);
                subfolders.push_back(std::move(e.name));
            } else if (e.kind == platform::EntryKind::File && name == "index") {
                hasIndex = true;
            }
        }
        if (listError != 0)
            skip(path, listError); // what was listed is still looked at
        const std::string_view base = std::string_view(path).substr(path.rfind('/') + 1);
        if (hasIndex || hasVersion || (hasEntries && EqualsNoCase(base, "cache2"))) {
            if (const auto kind = RecogniseCacheFolder(path, std::nullopt, files_)) {
                found.push_back({*kind, path, {}});
                return; // its own folders hold entries, not caches
            }
        }
        // Searchability is asked only once something in the folder failed, or before reading
        // what looks like a cache's files, so the walk costs no more.
        if (unsearchable || ((hasIndex || hasEntries) && !folder.searchable())) {
            skip(path, EACCES); // listed, but nothing in it can be opened
            return;
        }
        if (depth < depth_) {
            std::sort(subfolders.begin(), subfolders.end());
            for (const std::string& name : subfolders) {
                if (std::find(std::begin(kNeverEntered), std::end(kNeverEntered), name) !=
                    std::end(kNeverEntered))
                    continue;
                int error = 0;
                const auto child = files_.openFolder(folder, name, error);
                if (!child) {
                    if (error == EACCES && !folder.searchable()) {
                        skip(path, error); // the folder itself, once, not each of its names
                        break;
                    }
                    if (error != ENOENT && error != ELOOP && error != ENOTDIR)
                        skip(Child(path, name), error); // (gone, or now a link or a file)
                    continue;
                }
                visit(*child, Child(path, name), depth + 1);
            }
        }
    }

    int depth_;
    const platform::FileAccess& files_;
    FolderIds seen_;
};

void AddPlace(std::vector<DataPlace>& places, const fs::path& path,
              const platform::FileAccess& files, std::string form = {}, std::string fallback = {}) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path(); // "/a/b/" -> "/a/b"
    if (IsDirectory(normal.string(), files))
        places.push_back({normal.string(), std::move(form), std::move(fallback)});
}

// What a user calls a program whose folders give no name: the last part of a Flatpak id
// (com.slack.Slack), a Store package's name without its publisher (MSTeams_8wekyb3d8bbwe).
std::string LastDotted(const std::string& id) {
    return id.substr(id.rfind('.') + 1);
}
std::string PackageName(const std::string& package) {
    return package.substr(0, package.find('_'));
}

// How a user calls a program that `form` installs, from the name of its folder.
std::string ProgramFromFolder(std::string_view form, const std::string& folder) {
    if (form == "Flatpak")
        return LastDotted(folder);
    if (form == "Store")
        return PackageName(folder);
    return folder;
}

// The places a table gives below `root`; its names matched in any letter case when `anyCase`.
template <std::size_t N>
void AddPlaces(std::vector<DataPlace>& places, const fs::path& root,
               const DataPlacePattern (&table)[N], bool anyCase,
               const platform::FileAccess& files) {
    const auto below = [&](const fs::path& at, std::string_view relative) {
        return anyCase ? PathsNoCase(at, relative, files) : std::vector<fs::path>{at / relative};
    };
    for (const DataPlacePattern& pattern : table) {
        if (pattern.programs.empty()) {
            for (std::string_view place : pattern.places)
                for (const fs::path& path : below(root, place))
                    AddPlace(places, path, files);
            continue;
        }
        for (const fs::path& programs : below(root, pattern.programs))
            for (const fs::path& program : ChildrenNoCase(programs, {}, files))
                for (std::string_view place : pattern.places)
                    for (const fs::path& path : below(program, place))
                        AddPlace(places, path, files, std::string(pattern.form),
                                 ProgramFromFolder(pattern.form, program.filename().string()));
    }
}

bool IsLayoutLevel(std::string_view name) {
    for (std::string_view n : kLayoutLevels)
        if (EqualsNoCase(name, n))
            return true;
    return false;
}
bool IsCacheLevel(std::string_view name) {
    for (std::string_view n : kCacheLevels)
        if (EqualsNoCase(name, n))
            return true;
    return false;
}

// A Gecko profile folder's name is eight random characters, a dot and the profile's name.
std::string GeckoProfileName(const std::string& folder) {
    const bool random = folder.size() > 9 && folder[8] == '.' &&
                        std::all_of(folder.begin(), folder.begin() + 8, [](char c) {
                            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
                        });
    return random ? folder.substr(9) : folder;
}

std::ptrdiff_t Offset(std::size_t i) {
    return static_cast<std::ptrdiff_t>(i);
}

std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start)
            out.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

// A path without a trailing separator, "." or ".." steps ("/" stays "/").
std::string Normal(const std::string& path) {
    fs::path normal = fs::path(path).lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path(); // "/a/b/" -> "/a/b"
    return normal.string();
}

// `path` is `folder` or lies below it, compared as written.
bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    if (folder == "/")
        return path.starts_with('/');
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// Sub-folders, sorted, a link to a folder among them where the tree follows links; none when
// the folder cannot be listed. Only a name the listing gives no folder type costs a look.
std::vector<fs::path> SubFolders(const fs::path& folder, const platform::FileAccess& files) {
    std::vector<fs::path> out;
    for (const platform::FolderEntry& e : Entries(folder, files)) {
        fs::path path = folder / e.name;
        if (e.kind == platform::EntryKind::Folder ||
            ((e.kind == platform::EntryKind::Link || e.kind == platform::EntryKind::Unknown) &&
             IsDirectory(path.string(), files)))
            out.push_back(std::move(path));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The first entry of `folder` called `name` without regard to case.
std::optional<fs::path> ChildNoCase(const fs::path& folder, std::string_view name,
                                    const platform::FileAccess& files) {
    const auto all = ChildrenNoCase(folder, name, files);
    if (all.empty())
        return std::nullopt;
    return all.front();
}

// The Chromium cache at or just below `p` (the Cache_Data level, in any letter case). Which of
// the three back-ends wrote it is told by its own files.
std::optional<CacheFolder> ChromiumCacheAt(const fs::path& p, const platform::FileAccess& files) {
    for (const fs::path& data : ChildrenNoCase(p, "Cache_Data", files))
        if (IsDirectory(data.string(), files))
            return CacheFolder{RecogniseCacheFolder(data.string(), std::nullopt, files)
                                   .value_or(CacheKind::Chromium),
                               data.string(),
                               {}};
    if (const auto kind = RecogniseCacheFolder(p.string(), CacheKind::Chromium, files))
        return CacheFolder{*kind, p.string(), {}};
    return std::nullopt;
}

// One search for caches: every cache, at a known browser's folder or found by the walk, goes
// through add(), which keeps what is found below a named folder inside it and takes each
// cache once however it is reached; the places walked name them all at the end.
class Finder {
  public:
    explicit Finder(const platform::FileAccess& files) : files_(files) {}
    // What is found below a named folder stays inside it.
    Finder(const std::string& named, const platform::FileAccess& files)
        : files_(files), root_(std::in_place, named, files) {}
    const platform::FileAccess& files() const { return files_; }

    // A cache reached by two paths (a place that is a link, a bind mount) is one cache.
    // False when the cache is not taken: it lies, its links followed, outside the named folder.
    bool add(CacheKind kind, const fs::path& path) {
        CacheFolder f{kind, path.lexically_normal().string(), {}};
        if (!admits(f.path))
            return false;
        int error = 0;
        if (const auto held = files_.openFolder(f.path, error);
            held && !ids_.insert({held->identity().device, held->identity().inode}).second)
            return true;
        if (std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(std::move(f));
        return true;
    }
    // The cache at a folder where a known browser keeps one (Firefox's cache2, the Chromium
    // family's Cache level), by the test for such a folder. True when there is one.
    bool addFirefox(const fs::path& cache2) {
        return RecogniseCacheFolder(cache2.string(), CacheKind::Firefox, files_) &&
               add(CacheKind::Firefox, cache2);
    }
    bool addChromium(const fs::path& cacheLevel) {
        const auto c = ChromiumCacheAt(cacheLevel, files_);
        return c && add(c->kind, c->path);
    }
    // Every cache below the places; the places also name each cache's program. A place that
    // leads out of the named folder is not walked at all.
    bool walk(std::vector<DataPlace> places) {
        std::erase_if(places, [&](const DataPlace& p) { return !admits(p.path); });
        WalkStats stats;
        const auto found = WalkForCaches(places, kWalkDepth, &stats, files_, ids_);
        bool any = false;
        for (const CacheFolder& f : found)
            any = add(f.kind, f.path) || any;
        skipped.insert(skipped.end(), stats.skipped.begin(), stats.skipped.end());
        places_.insert(places_.end(), places.begin(), places.end());
        return any;
    }
    bool admits(const std::string& path) const { return !root_ || root_->admits(path); }
    std::vector<CacheFolder> finish() {
        for (CacheFolder& f : folders)
            f.source = SourceName(f, places_);
        return std::move(folders);
    }
    std::vector<CacheFolder> folders;
    std::vector<ScanProblem> skipped; // folders the walks could not read

  private:
    const platform::FileAccess& files_;
    std::optional<NamedRoot> root_;
    FolderIds ids_;
    std::vector<DataPlace> places_;
};

struct IniProfile {
    std::string path;
    bool relative = true;
};

// The most of a profiles.ini read: a real one lists a few profiles in a few hundred bytes.
constexpr std::uint64_t kMostIniBytes = 1 << 20;

std::vector<IniProfile> ReadProfilesIni(const fs::path& ini, const platform::FileAccess& files) {
    std::vector<IniProfile> profiles;
    int error = 0;
    // (A link to one is fine where the tree follows links; a FIFO is refused, never waited on.)
    const auto file = files.openFileFollowingLinks(ini.string(), error);
    if (!file)
        return profiles;
    std::string text(static_cast<std::size_t>(std::min(file->size(), kMostIniBytes)), '\0');
    std::size_t read = 0;
    while (read < text.size()) {
        const std::ptrdiff_t got = file->readSome(read, text.data() + read, text.size() - read);
        if (got <= 0)
            break; // what was read is used
        read += static_cast<std::size_t>(got);
    }
    text.resize(read);
    std::istringstream in(text);
    std::string line;
    bool inProfile = false;
    while (std::getline(in, line)) {
        const std::string_view l = Trim(line);
        if (l.starts_with('[')) {
            inProfile = StartsWithNoCase(l, "[Profile");
            if (inProfile)
                profiles.push_back({});
            continue;
        }
        const std::size_t eq = l.find('=');
        if (!inProfile || eq == std::string_view::npos)
            continue;
        const std::string_view key = Trim(l.substr(0, eq)), value = Trim(l.substr(eq + 1));
        if (key == "Path")
            profiles.back().path = std::string(value);
        else if (key == "IsRelative")
            profiles.back().relative = value != "0";
    }
    std::erase_if(profiles, [](const IniProfile& p) { return p.path.empty(); });
    return profiles;
}

// A usable XDG value: absolute, else the default below the home.
fs::path XdgFolder(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && value.front() == '/')
        return value;
    if (home.empty())
        return {};
    return fs::path(home) / fallback;
}

// The caches of the profiles a profiles.ini in `folder` names (Firefox, Thunderbird): a
// relative one keeps its cache2 below `cache` (the program's folder in the XDG cache folder)
// or in itself.
void AddIniProfiles(const fs::path& folder, const fs::path& cache, Finder& out) {
    for (const IniProfile& p : ReadProfilesIni(folder / "profiles.ini", out.files())) {
        if (p.relative && p.path.front() != '/') {
            if (!cache.empty())
                out.addFirefox(cache / p.path / "cache2");
            out.addFirefox(folder / p.path / "cache2");
        } else {
            out.addFirefox(fs::path(p.path) / "cache2");
        }
    }
}

// Every profile of every Chromium-family browser below a cache root (~/.cache or the like).
void AddChromiumRoot(const fs::path& root, Finder& out) {
    if (!IsDirectory(root.string(), out.files()))
        return; // (most homes lack most of these places: one look, not one per browser)
    for (std::string_view browserFolder : kChromiumFolders) {
        const fs::path b = root / browserFolder;
        if (!IsDirectory(b.string(), out.files()))
            continue;
        out.addChromium(b / "Cache"); // browsers that keep no profile level
        for (const fs::path& profile : SubFolders(b, out.files()))
            out.addChromium(profile / "Cache");
    }
}

// The caches of a Linux home: those of the known browsers' own folders, then the walk.
void FindUser(const Environment& env, Finder& out) {
    const fs::path cache = XdgFolder(env.xdgCacheHome, env.home, ".cache");
    const fs::path config = XdgFolder(env.xdgConfigHome, env.home, ".config");
    const fs::path home = env.home.empty() ? fs::path() : fs::path(env.home);
    const auto at = [&](LinuxRoot root, std::string_view relative) {
        const fs::path& base = root == LinuxRoot::Home     ? home
                               : root == LinuxRoot::Config ? config
                                                           : cache;
        return base.empty() ? fs::path() : base / relative;
    };
    const auto addProfileLists = [&](const auto& lists) {
        for (const ProfileList& list : lists)
            if (const fs::path ini = at(list.iniRoot, list.ini); !ini.empty())
                AddIniProfiles(ini, at(list.cacheRoot, list.cache), out);
    };
    addProfileLists(kFirefoxProfileLists);
    if (!home.empty())
        for (std::string_view profiles : kFirefoxProfileFolders)
            for (const fs::path& profile : SubFolders(home / profiles, out.files()))
                out.addFirefox(profile / "cache2");
    if (!cache.empty())
        AddChromiumRoot(cache, out);
    if (!home.empty()) {
        for (const fs::path& snap : SubFolders(home / "snap", out.files()))
            AddChromiumRoot(snap / "common/.cache", out);
        for (std::string_view app : kChromiumFlatpaks)
            AddChromiumRoot(home / ".var/app" / app / "cache", out);
        addProfileLists(kThunderbirdProfileLists);
    }
    out.walk(LinuxDataPlaces(env.home, cache.string(), config.string(), out.files()));
}

// Chromium's profile folders: "Default", "Profile 3", "Guest Profile" (any letter case).
bool IsChromiumProfile(const fs::path& folder) {
    const std::string name = folder.filename().string();
    if (EqualsNoCase(name, "Default") || EqualsNoCase(name, "Guest Profile"))
        return true;
    constexpr std::string_view kNumbered = "Profile ";
    return name.size() > kNumbered.size() && StartsWithNoCase(name, kNumbered) &&
           name.find_first_not_of("0123456789", kNumbered.size()) == std::string::npos;
}

// The cache of every profile folder of a browser's user-data folder; true when one was found.
bool AddChromiumProfiles(const fs::path& userData, Finder& out) {
    bool found = false;
    for (const fs::path& profile : SubFolders(userData, out.files()))
        if (IsChromiumProfile(profile))
            for (const fs::path& cache : ChildrenNoCase(profile, "Cache", out.files()))
                found = out.addChromium(cache) || found;
    return found;
}

// The Chromium family's caches in a profile copied from Windows.
bool AddWindowsChromium(const fs::path& profile, Finder& caches) {
    const platform::FileAccess& files = caches.files();
    bool found = false;
    for (std::string_view local : kWindowsLocalData)
        for (const fs::path& base : PathsNoCase(profile, local, files))
            for (std::string_view userData : kWindowsChromium)
                for (const fs::path& folder : PathsNoCase(base, userData, files))
                    found = AddChromiumProfiles(folder, caches) || found;
    for (std::string_view opera : kWindowsOpera)
        for (const fs::path& vendor : PathsNoCase(profile, opera, files))
            for (const fs::path& browserProfile : SubFolders(vendor, files))
                for (const fs::path& cache : ChildrenNoCase(browserProfile, "Cache", files))
                    found = caches.addChromium(cache) || found;
    return found;
}

// The cache2 folders of the profiles in a Firefox folder of profiles of a copied disk.
bool AddFirefoxProfiles(const fs::path& profiles, Finder& caches) {
    bool found = false;
    for (const fs::path& p : SubFolders(profiles, caches.files()))
        for (const fs::path& cache2 : ChildrenNoCase(p, "cache2", caches.files()))
            found = caches.addFirefox(cache2) || found;
    return found;
}

// The caches of a home copied from a Mac (/Users/<name>).
bool AddMacHome(const fs::path& home, Finder& caches) {
    const platform::FileAccess& files = caches.files();
    bool found = false;
    for (const fs::path& library : PathsNoCase(home, kMacCaches, files)) {
        for (std::string_view browserFolder : kMacChromium) {
            for (const fs::path& b : PathsNoCase(library, browserFolder, files)) {
                for (const fs::path& cache : ChildrenNoCase(b, "Cache", files))
                    found = caches.addChromium(cache) || found; // Opera: no profile level
                found = AddChromiumProfiles(b, caches) || found;
            }
        }
        for (const fs::path& profiles : PathsNoCase(library, kMacFirefoxProfiles, files))
            found = AddFirefoxProfiles(profiles, caches) || found;
    }
    return found;
}

// Internet Explorer's index files and the caches in a profile copied from Windows.
bool AddWindowsProfile(const fs::path& profile, Finder& caches, std::vector<std::string>& indexes) {
    const platform::FileAccess& files = caches.files();
    bool found = false;
    for (std::string_view index : kUrlCacheIndexes) {
        for (const fs::path& p : PathsNoCase(profile, index, files)) {
            if (IsRegularFile(p.string(), files) && caches.admits(p.string()) &&
                std::find(indexes.begin(), indexes.end(), p.string()) == indexes.end()) {
                indexes.push_back(p.string());
                found = true;
            }
        }
    }
    found = AddWindowsChromium(profile, caches) || found;
    if (caches.walk(WindowsDataPlaces(profile.string(), files)))
        found = true;
    for (std::string_view profiles : kWindowsFirefoxProfiles)
        for (const fs::path& folder : PathsNoCase(profile, profiles, files))
            found = AddFirefoxProfiles(folder, caches) || found;
    return found;
}

// A Linux browser profile folder whose cache lives under the XDG cache folder of its home:
// ~/.mozilla/firefox/<p>, ~/.config/mozilla/firefox/<p>, ~/.config/<browser>/<Profile>.
void AddFromLinuxProfile(const fs::path& profile, Finder& out) {
    const fs::path parent = profile.parent_path();
    const platform::FileAccess& files = out.files();
    if (IsRegularFile((profile / "prefs.js").string(), files) ||
        IsRegularFile((profile / "times.json").string(), files)) {
        if (parent.filename() == "firefox") {
            const fs::path mozilla = parent.parent_path();
            fs::path home;
            if (mozilla.filename() == ".mozilla")
                home = mozilla.parent_path();
            else if (mozilla.filename() == "mozilla" &&
                     mozilla.parent_path().filename() == ".config")
                home = mozilla.parent_path().parent_path();
            if (!home.empty())
                out.addFirefox(home / ".cache/mozilla/firefox" / profile.filename() / "cache2");
        }
    }
    if (IsRegularFile((profile / "Preferences").string(), files)) {
        // <home>/.config/<browser folder>/<Profile> -> <home>/.cache/<browser folder>/<Profile>
        fs::path rel;
        for (fs::path at = profile; at.has_relative_path() && at != at.parent_path();
             at = at.parent_path()) {
            if (at.filename() == ".config") {
                out.addChromium(at.parent_path() / ".cache" / rel / "Cache");
                break;
            }
            rel = rel.empty() ? at.filename() : at.filename() / rel;
        }
    }
}

} // namespace

NamedRoot::NamedRoot(const std::string& folder, const platform::FileAccess& files)
    : written_(Normal(folder)), linksFollowed_(files.followsLinks()) {
    if (!linksFollowed_)
        return; // a path below the folder is where it is written
    std::error_code ec;
    real_ = fs::canonical(folder, ec).string();
}

bool NamedRoot::admits(const std::string& path) const {
    if (!linksFollowed_)
        return true;
    const std::string normal = Normal(path);
    if (real_.empty() || !IsAtOrBelow(normal, written_))
        return true;
    std::error_code ec;
    const std::string real = fs::canonical(normal, ec).string();
    return !ec && IsAtOrBelow(real, real_);
}

std::vector<fs::path> ChildrenNoCase(const fs::path& folder, std::string_view name,
                                     const platform::FileAccess& files) {
    std::vector<fs::path> out;
    for (const platform::FolderEntry& e : Entries(folder, files))
        if (name.empty() || EqualsNoCase(e.name, name))
            out.push_back(folder / e.name);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<fs::path> PathsNoCase(const fs::path& at, std::string_view slashed,
                                  const platform::FileAccess& files) {
    std::vector<fs::path> current{at};
    while (!slashed.empty()) {
        const std::size_t slash = slashed.find('/');
        std::string_view part = slashed.substr(0, slash);
        slashed = slash == std::string_view::npos ? std::string_view() : slashed.substr(slash + 1);
        if (part == "*")
            part = {};
        std::vector<fs::path> next;
        for (const fs::path& p : current)
            for (fs::path& child : ChildrenNoCase(p, part, files))
                next.push_back(std::move(child));
        current = std::move(next);
    }
    return current;
}

namespace {

// The Chromium back-end whose `index` file is in `p`, if any.
std::optional<CacheKind> RecogniseByIndex(const fs::path& p, const platform::FileAccess& files) {
    ReadOnlyFile index(files); // (refuses a link or anything but a regular file)
    if (!index.open((p / "index").string()))
        return std::nullopt;
    std::uint8_t head[8] = {};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(index.size(), 8));
    if (!index.readAt(0, head, n))
        return std::nullopt;
    const platform::LittleEndianReader bytes({head, n});
    if (bytes.has(0, 4) && bytes.u32(0) == detail::blockfile::kIndexMagic)
        return CacheKind::Blockfile;
    if (n == 8 && std::memcmp(head, "SQLCache", 8) == 0)
        return IsRegularFile((p / "sqldb0").string(), files) ? std::optional(CacheKind::Sql)
                                                             : std::nullopt;
    // The small `index` file carries the entry magic; the real index is written later, so a
    // cache whose program never closed cleanly may have only the former.
    if ((n == 8 && bytes.u64(0) == formats::simple::kInitialMagic) ||
        (IsFolderNoFollow((p / "index-dir").string(), files) &&
         IsRegularFile((p / "index-dir/the-real-index").string(), files)))
        return CacheKind::Chromium;
    return std::nullopt;
}

// RecogniseCacheFolder for a folder nothing is known of. The index before WebKit's Version
// folders: a Chromium cache folder is told by it without listing its thousands of files.
std::optional<CacheKind> RecogniseByFiles(const fs::path& p, const platform::FileAccess& files) {
    if (EqualsNoCase(p.filename().string(), "cache2") &&
        IsFolderNoFollow((p / "entries").string(), files))
        return CacheKind::Firefox;
    if (const auto kind = RecogniseByIndex(p, files))
        return kind;
    if (IsWebKitCache(p, files))
        return CacheKind::WebKit;
    return std::nullopt;
}

} // namespace

std::optional<CacheKind> RecogniseCacheFolder(const std::string& folder,
                                              std::optional<CacheKind> known,
                                              const platform::FileAccess& files) {
    const fs::path p(folder);
    if (known == CacheKind::Firefox)
        return IsDirectory((p / "entries").string(), files) ? known : std::nullopt;
    const std::optional<CacheKind> kind = RecogniseByFiles(p, files);
    if (!known || (kind && *kind != CacheKind::Firefox))
        return kind;
    if (IsRegularFile((p / "index").string(), files) ||
        IsDirectory((p / "index-dir").string(), files))
        return CacheKind::Chromium;
    return std::nullopt;
}

std::vector<DataPlace> LinuxDataPlaces(const std::string& home, const std::string& cache,
                                       const std::string& config,
                                       const platform::FileAccess& files) {
    std::vector<DataPlace> places;
    if (!config.empty())
        AddPlace(places, config, files);
    if (!cache.empty())
        AddPlace(places, cache, files);
    if (!home.empty())
        AddPlaces(places, home, kLinuxDataPlaces, false, files);
    return places;
}

std::vector<DataPlace> WindowsDataPlaces(const std::string& profile,
                                         const platform::FileAccess& files) {
    std::vector<DataPlace> places;
    AddPlaces(places, profile, kWindowsDataPlaces, true, files);
    return places;
}

std::vector<DataPlace> MacDataPlaces(const std::string& home, const platform::FileAccess& files) {
    std::vector<DataPlace> places;
    AddPlaces(places, home, kMacDataPlaces, true, files);
    return places;
}

std::vector<CacheFolder> WalkForCaches(const std::vector<DataPlace>& places, int depth,
                                       WalkStats* stats, const platform::FileAccess& files,
                                       const FolderIds& known) {
    Walker walker(depth, files, known);
    for (const DataPlace& place : places)
        walker.walkPlace(place.path);
    if (stats)
        *stats = walker.stats;
    return std::move(walker.found);
}

std::string SourceName(const CacheFolder& folder, const std::vector<DataPlace>& places) {
    const std::string path = fs::path(folder.path).lexically_normal().string();
    const DataPlace* place = nullptr;
    for (const DataPlace& p : places) {
        const bool below =
            path.starts_with(p.path) &&
            (path.size() == p.path.size() || path[p.path.size()] == '/' || p.path.ends_with('/'));
        if (below && (!place || p.path.size() > place->path.size()))
            place = &p;
    }
    std::vector<std::string> levels = Components(place ? path.substr(place->path.size()) : path);
    if (place && place->form == "Store" && !levels.empty() &&
        (EqualsNoCase(levels.front(), "Roaming") || EqualsNoCase(levels.front(), "Local")))
        levels.erase(levels.begin()); // a packaged desktop app's redirected AppData
    while (!levels.empty() && IsCacheLevel(levels.back()))
        levels.pop_back();
    const auto knownAt = [&](std::size_t at) -> const KnownProgram* {
        const KnownProgram* best = nullptr;
        for (const KnownProgram& known : kKnownPrograms)
            if (known.folders.size() <= levels.size() - at &&
                (!best || known.folders.size() > best->folders.size()) &&
                std::equal(
                    known.folders.begin(), known.folders.end(), levels.begin() + Offset(at),
                    [](std::string_view a, const std::string& b) { return EqualsNoCase(a, b); }))
                best = &known;
        return best;
    };
    if (!place) {
        // A folder named on its own: from the first program folder known, else its last level.
        std::size_t from = levels.empty() ? 0 : levels.size() - 1;
        for (std::size_t i = 0; i < levels.size(); ++i) {
            if (knownAt(i)) {
                from = i;
                break;
            }
        }
        levels.erase(levels.begin(), levels.begin() + Offset(from));
    }

    std::string program;
    std::size_t used = 0;
    if (const KnownProgram* known = knownAt(0)) {
        program = known->name;
        used = known->folders.size();
    } else if (!place && folder.kind == CacheKind::Firefox) {
        program = "Firefox";
    } else if (!levels.empty()) {
        program = levels.front();
        used = 1;
    } else if (place) {
        program = place->fallback;
    }

    std::string profile, partition;
    for (std::size_t i = used; i < levels.size(); ++i) {
        if (EqualsNoCase(levels[i], "Partitions") && i + 1 < levels.size()) {
            partition = levels[++i];
        } else if (!IsLayoutLevel(levels[i])) {
            profile += (profile.empty() ? "" : " ");
            profile += folder.kind == CacheKind::Firefox ? GeckoProfileName(levels[i]) : levels[i];
        }
    }
    std::string name = program;
    if (!profile.empty())
        name += (name.empty() ? "" : " ") + profile;
    if (place && !place->form.empty())
        name += " (" + place->form + ")";
    if (!partition.empty())
        name += ", partition " + partition;
    return name;
}

std::vector<CacheFolder> FindUserCaches(const Environment& env,
                                        std::vector<ScanProblem>* skippedFolders) {
    const ListedOnce once(platform::HostFiles());
    Finder out(once);
    FindUser(env, out);
    if (skippedFolders)
        *skippedFolders = out.skipped;
    return out.finish();
}

FolderContents ClassifyFolder(const std::string& folder, const platform::FileAccess& tree) {
    // The host's folders are listed once while looking (a disk image's reader keeps its own
    // listings, and its tree must stay the one the caches found are read through).
    std::optional<ListedOnce> once;
    if (&tree == &platform::HostFiles())
        once.emplace(tree);
    const platform::FileAccess& files =
        once ? static_cast<const platform::FileAccess&>(*once) : tree;
    FolderContents result;
    Finder caches(folder, files);
    const fs::path p = fs::path(folder).lexically_normal();
    if (!IsDirectory(p.string(), files))
        return result;

    // A cache folder itself, or a profile-level folder just above one.
    caches.addFirefox(p);
    caches.addFirefox(p / "cache2");
    caches.addChromium(p);
    caches.addChromium(p / "Cache");
    AddFromLinuxProfile(p, caches);

    // A Linux home.
    for (const char* marker : {".mozilla", ".cache", ".config", "snap", ".var"}) {
        if (IsDirectory((p / marker).string(), files)) {
            FindUser(Environment{p.string(), "", ""}, caches);
            break;
        }
    }

    // A Windows or macOS home, a folder of them (Users), or a Wine prefix's users.
    const auto addHome = [&](const fs::path& home) {
        const bool windows = AddWindowsProfile(home, caches, result.urlCacheIndexes);
        bool mac = AddMacHome(home, caches);
        if (ChildNoCase(home, "Library", files))
            mac = caches.walk(MacDataPlaces(home.string(), files)) || mac;
        return mac || windows;
    };
    if (!addHome(p)) {
        std::vector<fs::path> users;
        for (const fs::path& u : PathsNoCase(p, "drive_c/users", files))
            for (fs::path& user : SubFolders(u, files))
                users.push_back(std::move(user));
        if (users.empty() && !ChildNoCase(p, "AppData", files) && !ChildNoCase(p, "Library", files))
            users = SubFolders(p, files);
        for (const fs::path& user : users)
            if (ChildNoCase(user, "AppData", files) || ChildNoCase(user, "Local Settings", files) ||
                ChildNoCase(user, "Library", files))
                addHome(user);
    }

    result.skippedFolders = std::move(caches.skipped);
    result.browserCaches = caches.finish();
    return result;
}

} // namespace browser
