#include "cache/browser/browser.h"
#include "cache/browser/discover.h"
#include "cache/browser/http.h"
#include "cache/browser/source.h"

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
// Windows may say "appdata" or "INETCACHE", and a merge of two copies may hold both spellings.
std::vector<fs::path> ChildrenNoCase(const fs::path& folder, std::string_view name) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (EqualsNoCase(it->path().filename().string(), name))
            out.push_back(it->path());
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<fs::path> ChildNoCase(const fs::path& folder, std::string_view name) {
    const auto all = ChildrenNoCase(folder, name);
    if (all.empty())
        return std::nullopt;
    return all.front();
}

std::vector<fs::path> PathsNoCase(const fs::path& at,
                                  std::initializer_list<std::string_view> parts) {
    std::vector<fs::path> current{at};
    for (std::string_view part : parts) {
        std::vector<fs::path> next;
        for (const fs::path& p : current)
            for (fs::path& child : ChildrenNoCase(p, part))
                next.push_back(std::move(child));
        current = std::move(next);
    }
    return current;
}

bool IsFirefoxCache(const fs::path& p) {
    return IsDirectory((p / "entries").string());
}

// The folder holding a Simple Cache's files at or just below `p` (Cache_Data level).
std::optional<fs::path> ChromiumCacheAt(const fs::path& p) {
    if (IsDirectory((p / "Cache_Data").string()))
        return p / "Cache_Data";
    if (IsRegularFile((p / "index").string()) || IsDirectory((p / "index-dir").string()))
        return p;
    return std::nullopt;
}

class Collector {
  public:
    // A cache reached by two paths (a place that is a link, a bind mount) is one cache.
    void add(CacheKind kind, const fs::path& path) {
        CacheFolder f{kind, path.lexically_normal().string(), {}};
        struct stat st {};
        if (::stat(f.path.c_str(), &st) == 0 && !ids_.insert({st.st_dev, st.st_ino}).second)
            return;
        if (std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(std::move(f));
    }
    void addFirefox(const fs::path& cache2) {
        if (IsFirefoxCache(cache2))
            add(CacheKind::Firefox, cache2);
    }
    void addChromium(const fs::path& cacheLevel) {
        if (const auto c = ChromiumCacheAt(cacheLevel))
            add(RecogniseCacheFolder(c->string()).value_or(CacheKind::Chromium), *c);
    }
    // Every cache below the places; the places also name each cache's program.
    bool walk(const std::vector<DataPlace>& places) {
        WalkStats stats;
        const auto found = WalkForCaches(places, kWalkDepth, &stats);
        for (const CacheFolder& f : found)
            add(f.kind, f.path);
        unreadable += stats.unreadable;
        places_.insert(places_.end(), places.begin(), places.end());
        return !found.empty();
    }
    std::vector<CacheFolder> finish() {
        for (CacheFolder& f : folders)
            f.source = SourceName(f, places_);
        return std::move(folders);
    }
    std::vector<CacheFolder> folders;
    std::size_t unreadable = 0;

  private:
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

// Internet Explorer's index files and Firefox's caches in a profile copied from Windows.
bool AddWindowsProfile(const fs::path& profile, Collector& caches,
                       std::vector<std::string>& indexes) {
    bool found = false;
    const auto addIndex = [&](std::initializer_list<std::string_view> parts) {
        for (const fs::path& p : PathsNoCase(profile, parts)) {
            if (IsRegularFile(p.string()) &&
                std::find(indexes.begin(), indexes.end(), p.string()) == indexes.end()) {
                indexes.push_back(p.string());
                found = true;
            }
        }
    };
    addIndex({"AppData", "Local", "Microsoft", "Windows", "Temporary Internet Files", "Content.IE5",
              "index.dat"});
    addIndex({"AppData", "Local", "Microsoft", "Windows", "Temporary Internet Files", "Low",
              "Content.IE5", "index.dat"});
    addIndex({"AppData", "Local", "Microsoft", "Windows", "INetCache", "IE", "index.dat"});
    addIndex({"AppData", "Local", "Microsoft", "Windows", "INetCache", "Low", "IE", "index.dat"});
    addIndex({"AppData", "Local", "Microsoft", "Windows", "INetCache", "Content.IE5", "index.dat"});
    addIndex({"AppData", "Local", "Microsoft", "Windows", "INetCache", "Low", "Content.IE5",
              "index.dat"});
    addIndex({"Local Settings", "Temporary Internet Files", "Content.IE5", "index.dat"});
    if (caches.walk(WindowsDataPlaces(profile.string())))
        found = true;
    for (const auto& profiles :
         {PathsNoCase(profile, {"AppData", "Local", "Mozilla", "Firefox", "Profiles"}),
          PathsNoCase(profile,
                      {"Local Settings", "Application Data", "Mozilla", "Firefox", "Profiles"})}) {
        for (const fs::path& folder : profiles) {
            for (const fs::path& p : SubFolders(folder)) {
                for (const fs::path& cache2 : ChildrenNoCase(p, "cache2")) {
                    if (IsFirefoxCache(cache2)) {
                        caches.add(CacheKind::Firefox, cache2);
                        found = true;
                    }
                }
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

std::vector<CacheFolder> FindUserCaches(const Environment& env, std::size_t* unreadableFolders) {
    Collector out;
    FindUser(env, out);
    if (unreadableFolders)
        *unreadableFolders = out.unreadable;
    return out.finish();
}

FolderContents ClassifyFolder(const std::string& folder) {
    FolderContents result;
    Collector caches;
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

    // A Windows profile, a folder of them (Users), or a Wine prefix's users.
    if (!AddWindowsProfile(p, caches, result.urlCacheIndexes)) {
        std::vector<fs::path> users;
        for (const fs::path& u : PathsNoCase(p, {"drive_c", "users"}))
            for (fs::path& user : SubFolders(u))
                users.push_back(std::move(user));
        if (users.empty() && !ChildNoCase(p, "AppData"))
            users = SubFolders(p);
        for (const fs::path& user : users) {
            if (ChildNoCase(user, "AppData") || ChildNoCase(user, "Local Settings"))
                AddWindowsProfile(user, caches, result.urlCacheIndexes);
            else if (ChildNoCase(user, "Library"))
                caches.walk(MacDataPlaces(user.string()));
        }
    }

    // A macOS home.
    if (ChildNoCase(p, "Library"))
        caches.walk(MacDataPlaces(p.string()));
    result.unreadableFolders = caches.unreadable;
    result.browserCaches = caches.finish();
    return result;
}

} // namespace browser
