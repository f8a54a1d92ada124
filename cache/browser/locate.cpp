#include "cache/browser/browser.h"
#include "cache/browser/discover.h"
#include "cache/browser/source.h"
#include "cache/browser/sql_cache.h"
#include "cache/formats/http.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace browser {

namespace {

using namespace detail;
namespace fs = std::filesystem;

// Sub-folders, sorted; none when the folder cannot be listed.
std::vector<fs::path> SubFolders(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (IsDirectory(it->path().string()))
            out.push_back(it->path());
    std::sort(out.begin(), out.end());
    return out;
}

// Every entry of `folder` called `name` without regard to case: a profile copied from
std::optional<fs::path> ChildNoCase(const fs::path& folder, std::string_view name) {
    const auto all = ChildrenNoCase(folder, name);
    if (all.empty())
        return std::nullopt;
    return all.front();
}

bool IsFirefoxCache(const fs::path& p) {
    return IsDirectory((p / "entries").string());
}

// The Chromium cache at or just below `p` (the Cache_Data level, in any letter case). Which of
// the three back-ends wrote it is told by its own files.
std::optional<CacheFolder> ChromiumCacheAt(const fs::path& p) {
    for (const fs::path& data : ChildrenNoCase(p, "Cache_Data"))
        if (IsDirectory(data.string()))
            return CacheFolder{RecogniseCacheFolder(data.string()).value_or(CacheKind::Chromium),
                               data.string(),
                               {}};
    if (const auto kind = RecogniseCacheFolder(p.string()); kind && *kind != CacheKind::Firefox)
        return CacheFolder{*kind, p.string(), {}};
    if (IsRegularFile((p / "index").string()) || IsDirectory((p / "index-dir").string()))
        return CacheFolder{CacheKind::Chromium, p.string(), {}};
    return std::nullopt;
}

class Collector {
  public:
    Collector() = default;
    // What is found below a named folder stays inside it.
    explicit Collector(const std::string& named) : root_(named) {}

    // A cache reached by two paths (a place that is a link, a bind mount) is one cache.
    // False when the cache is not taken: it lies, its links followed, outside the named folder.
    bool add(CacheKind kind, const fs::path& path) {
        CacheFolder f{kind, path.lexically_normal().string(), {}};
        if (!admits(f.path))
            return false;
        struct stat st {};
        if (::stat(f.path.c_str(), &st) == 0 && !ids_.insert({st.st_dev, st.st_ino}).second)
            return true;
        if (std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(std::move(f));
        return true;
    }
    void addFirefox(const fs::path& cache2) {
        if (IsFirefoxCache(cache2))
            add(CacheKind::Firefox, cache2);
    }
    // The cache below a "Cache" level; true when there is one.
    bool addChromium(const fs::path& cacheLevel) {
        const auto c = ChromiumCacheAt(cacheLevel);
        return c && add(c->kind, c->path);
    }
    // Every cache below the places; the places also name each cache's program. A place that
    // leads out of the named folder is not walked at all.
    bool walk(std::vector<DataPlace> places) {
        std::erase_if(places, [&](const DataPlace& p) { return !admits(p.path); });
        WalkStats stats;
        const auto found = WalkForCaches(places, kWalkDepth, &stats);
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
    std::optional<NamedRoot> root_;
    std::set<std::pair<dev_t, ino_t>> ids_;
    std::vector<DataPlace> places_;
};

struct IniProfile {
    std::string path;
    bool relative = true;
};

std::vector<IniProfile> ReadProfilesIni(const fs::path& ini) {
    std::vector<IniProfile> profiles;
    std::error_code ec;
    if (!fs::is_regular_file(ini, ec)) // (a link to one is fine; a FIFO would block)
        return profiles;
    std::ifstream in(ini);
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

constexpr std::string_view kChromiumFolders[] = {
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

constexpr std::string_view kChromiumFlatpaks[] = {
    "com.google.Chrome",  "org.chromium.Chromium", "com.brave.Browser",
    "com.microsoft.Edge", "com.vivaldi.Vivaldi",   "com.opera.Opera",
};

// Every profile of every Chromium-family browser below a cache root (~/.cache or the like).
void AddChromiumRoot(const fs::path& root, Collector& out) {
    for (std::string_view browserFolder : kChromiumFolders) {
        const fs::path b = root / browserFolder;
        if (!IsDirectory(b.string()))
            continue;
        out.addChromium(b / "Cache"); // browsers that keep no profile level
        for (const fs::path& profile : SubFolders(b))
            out.addChromium(profile / "Cache");
    }
}

void AddFirefoxProfilesBelow(const fs::path& root, Collector& out) {
    for (const fs::path& profile : SubFolders(root))
        out.addFirefox(profile / "cache2");
}

// The profiles a profiles.ini in `folder` names (Firefox, Thunderbird): a relative one keeps
// its cache2 below `cache` (the program's folder in the XDG cache folder) or in itself.
void AddIniProfiles(const fs::path& folder, const fs::path& cache, Collector& out) {
    for (const IniProfile& p : ReadProfilesIni(folder / "profiles.ini")) {
        if (p.relative && p.path.front() != '/') {
            if (!cache.empty())
                out.addFirefox(cache / p.path / "cache2");
            out.addFirefox(folder / p.path / "cache2");
        } else {
            out.addFirefox(fs::path(p.path) / "cache2");
        }
    }
}

void FindFirefox(const fs::path& home, const fs::path& cache, const fs::path& config,
                 Collector& out) {
    const fs::path cacheFolder = cache.empty() ? fs::path() : cache / "mozilla/firefox";
    if (!home.empty())
        AddIniProfiles(home / ".mozilla/firefox", cacheFolder, out);
    if (!config.empty())
        AddIniProfiles(config / "mozilla/firefox", cacheFolder, out);
    if (home.empty())
        return;
    AddFirefoxProfilesBelow(home / "snap/firefox/common/.cache/mozilla/firefox", out);
    AddFirefoxProfilesBelow(home / ".var/app/org.mozilla.firefox/cache/mozilla/firefox", out);
}

void FindChromium(const fs::path& home, const fs::path& cache, Collector& out) {
    if (!cache.empty())
        AddChromiumRoot(cache, out);
    if (home.empty())
        return;
    for (const fs::path& snap : SubFolders(home / "snap"))
        AddChromiumRoot(snap / "common/.cache", out);
    for (std::string_view app : kChromiumFlatpaks)
        AddChromiumRoot(home / ".var/app" / app / "cache", out);
}

// Thunderbird's profiles, its own install and the Flatpak and snap ones: the Firefox format.
void FindThunderbird(const fs::path& home, const fs::path& cache, Collector& out) {
    AddIniProfiles(home / ".thunderbird", cache.empty() ? fs::path() : cache / "thunderbird", out);
    const fs::path flatpak = home / ".var/app/org.mozilla.Thunderbird";
    AddIniProfiles(flatpak / ".thunderbird", flatpak / "cache/thunderbird", out);
    const fs::path snap = home / "snap/thunderbird/common";
    AddIniProfiles(snap / ".thunderbird", snap / ".cache/thunderbird", out);
}

void FindUser(const Environment& env, Collector& out) {
    const fs::path cache = XdgFolder(env.xdgCacheHome, env.home, ".cache");
    const fs::path config = XdgFolder(env.xdgConfigHome, env.home, ".config");
    const fs::path home = env.home.empty() ? fs::path() : fs::path(env.home);
    FindFirefox(home, cache, config, out);
    FindChromium(home, cache, out);
    if (!home.empty())
        FindThunderbird(home, cache, out);
    out.walk(LinuxDataPlaces(env.home, cache.string(), config.string()));
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
bool AddChromiumProfiles(const fs::path& userData, Collector& out) {
    bool found = false;
    for (const fs::path& profile : SubFolders(userData))
        if (IsChromiumProfile(profile))
            for (const fs::path& cache : ChildrenNoCase(profile, "Cache"))
                found = out.addChromium(cache) || found;
    return found;
}

// User-data folders of the Chromium family on Windows, below AppData/Local (or, before Vista,
// Local Settings/Application Data).
constexpr std::string_view kWindowsChromium[] = {
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

// Opera keeps no profile level: "Opera Software/Opera Stable/Cache" (and Opera GX Stable...),
// under Roaming or, for the cache, Local.
constexpr std::string_view kWindowsOpera[] = {
    "AppData/Roaming/Opera Software",
    "AppData/Local/Opera Software",
    "Application Data/Opera Software",
    "Local Settings/Application Data/Opera Software",
};

bool AddWindowsChromium(const fs::path& profile, Collector& caches) {
    bool found = false;
    for (std::string_view local : {"AppData/Local", "Local Settings/Application Data"})
        for (const fs::path& base : PathsNoCase(profile, local))
            for (std::string_view userData : kWindowsChromium)
                for (const fs::path& folder : PathsNoCase(base, userData))
                    found = AddChromiumProfiles(folder, caches) || found;
    for (std::string_view opera : kWindowsOpera)
        for (const fs::path& vendor : PathsNoCase(profile, opera))
            for (const fs::path& browserProfile : SubFolders(vendor))
                for (const fs::path& cache : ChildrenNoCase(browserProfile, "Cache"))
                    found = caches.addChromium(cache) || found;
    return found;
}

// Browser folders below Library/Caches of a macOS home: profiles inside, Cache below each.
constexpr std::string_view kMacChromium[] = {
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

// The caches of a home copied from a Mac (/Users/<name>).
bool AddMacHome(const fs::path& home, Collector& caches) {
    bool found = false;
    for (const fs::path& library : PathsNoCase(home, "Library/Caches")) {
        for (std::string_view browserFolder : kMacChromium) {
            for (const fs::path& b : PathsNoCase(library, browserFolder)) {
                for (const fs::path& cache : ChildrenNoCase(b, "Cache"))
                    found = caches.addChromium(cache) || found; // Opera: no profile level
                found = AddChromiumProfiles(b, caches) || found;
            }
        }
        for (const fs::path& profiles : PathsNoCase(library, "Firefox/Profiles")) {
            for (const fs::path& p : SubFolders(profiles)) {
                for (const fs::path& cache2 : ChildrenNoCase(p, "cache2"))
                    if (IsFirefoxCache(cache2) && caches.add(CacheKind::Firefox, cache2))
                        found = true;
            }
        }
    }
    return found;
}

// Internet Explorer's index files and Firefox's caches in a profile copied from Windows.
bool AddWindowsProfile(const fs::path& profile, Collector& caches,
                       std::vector<std::string>& indexes) {
    bool found = false;
    const auto addIndex = [&](std::string_view parts) {
        for (const fs::path& p : PathsNoCase(profile, parts)) {
            if (IsRegularFile(p.string()) && caches.admits(p.string()) &&
                std::find(indexes.begin(), indexes.end(), p.string()) == indexes.end()) {
                indexes.push_back(p.string());
                found = true;
            }
        }
    };
    addIndex("AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5/index.dat");
    addIndex("AppData/Local/Microsoft/Windows/Temporary Internet Files/Low/Content.IE5/index.dat");
    addIndex("AppData/Local/Microsoft/Windows/INetCache/IE/index.dat");
    addIndex("AppData/Local/Microsoft/Windows/INetCache/Low/IE/index.dat");
    addIndex("AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat");
    addIndex("AppData/Local/Microsoft/Windows/INetCache/Low/Content.IE5/index.dat");
    addIndex("Local Settings/Temporary Internet Files/Content.IE5/index.dat");
    found = AddWindowsChromium(profile, caches) || found;
    if (caches.walk(WindowsDataPlaces(profile.string())))
        found = true;
    for (const auto& profiles :
         {PathsNoCase(profile, "AppData/Local/Mozilla/Firefox/Profiles"),
          PathsNoCase(profile, "Local Settings/Application Data/Mozilla/Firefox/Profiles")}) {
        for (const fs::path& folder : profiles) {
            for (const fs::path& p : SubFolders(folder)) {
                for (const fs::path& cache2 : ChildrenNoCase(p, "cache2"))
                    if (IsFirefoxCache(cache2) && caches.add(CacheKind::Firefox, cache2))
                        found = true;
            }
        }
    }
    return found;
}

// A Linux browser profile folder whose cache lives under the XDG cache folder of its home:
// ~/.mozilla/firefox/<p>, ~/.config/mozilla/firefox/<p>, ~/.config/<browser>/<Profile>.
void AddFromLinuxProfile(const fs::path& profile, Collector& out) {
    const fs::path parent = profile.parent_path();
    if (IsRegularFile((profile / "prefs.js").string()) ||
        IsRegularFile((profile / "times.json").string())) {
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
    if (IsRegularFile((profile / "Preferences").string())) {
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

std::vector<CacheFolder> FindUserCaches(const Environment& env,
                                        std::vector<ScanProblem>* skippedFolders) {
    Collector out;
    FindUser(env, out);
    if (skippedFolders)
        *skippedFolders = out.skipped;
    return out.finish();
}

FolderContents ClassifyFolder(const std::string& folder) {
    FolderContents result;
    Collector caches(folder);
    const fs::path p = fs::path(folder).lexically_normal();
    if (!IsDirectory(p.string()))
        return result;

    // A cache folder itself, or a profile-level folder just above one.
    caches.addFirefox(p);
    caches.addFirefox(p / "cache2");
    caches.addChromium(p);
    caches.addChromium(p / "Cache");
    AddFromLinuxProfile(p, caches);

    // A Linux home.
    for (const char* marker : {".mozilla", ".cache", ".config", "snap", ".var"}) {
        if (IsDirectory((p / marker).string())) {
            FindUser(Environment{p.string(), "", ""}, caches);
            break;
        }
    }

    // A Windows or macOS home, a folder of them (Users), or a Wine prefix's users.
    const auto addHome = [&](const fs::path& home) {
        const bool windows = AddWindowsProfile(home, caches, result.urlCacheIndexes);
        bool mac = AddMacHome(home, caches);
        if (ChildNoCase(home, "Library"))
            mac = caches.walk(MacDataPlaces(home.string())) || mac;
        return mac || windows;
    };
    if (!addHome(p)) {
        std::vector<fs::path> users;
        for (const fs::path& u : PathsNoCase(p, "drive_c/users"))
            for (fs::path& user : SubFolders(u))
                users.push_back(std::move(user));
        if (users.empty() && !ChildNoCase(p, "AppData") && !ChildNoCase(p, "Library"))
            users = SubFolders(p);
        for (const fs::path& user : users)
            if (ChildNoCase(user, "AppData") || ChildNoCase(user, "Local Settings") ||
                ChildNoCase(user, "Library"))
                addHome(user);
    }

    result.skippedFolders = std::move(caches.skipped);
    result.browserCaches = caches.finish();
    return result;
}

} // namespace browser
