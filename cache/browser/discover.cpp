#include "cache/browser/discover.h"
#include "cache/browser/entry.h"
#include "cache/browser/source.h"
#include "cache/formats/blockfile_layout.h"
#include "cache/formats/http.h"
#include "cache/formats/simple_layout.h"
#include "platform/base/endian.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace browser {

namespace {

using namespace detail;
namespace fs = std::filesystem;

bool IsFolderNoFollow(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Folders that hold compiled scripts, shaders or a site's storage, never an HTTP cache, some
// of them in the Simple Cache format (whose entries would only count as unreadable), and
// trees that are large and hold no cache.
constexpr std::string_view kNeverEntered[] = {
    "Code Cache",    "GPUCache",          "GrShaderCache",   "GraphiteDawnCache", "DawnCache",
    "ShaderCache",   "DawnGraphiteCache", "DawnWebGPUCache", "Service Worker",    "IndexedDB",
    "Local Storage", "Session Storage",   "blob_storage",    "node_modules",      ".git",
};

class Walker {
  public:
    explicit Walker(int depth) : depth_(depth) {}

    void walkPlace(const std::string& place) {
        // A place may be a link (~/.config kept elsewhere, snap's `current`); below it none is
        // followed.
        const int fd = ::open(place.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                skip(place, errno);
            return;
        }
        visit(fd, place, 0);
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

    // True when names in the open folder can be looked up: a folder may be listed (read
    // permission) and still not searched (no execute permission), which stops every open
    // and stat in it. Asked only once something in it failed, so the walk costs no more.
    static bool Searchable(int fd) {
        const int self = ::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (self < 0)
            return errno != EACCES;
        ::close(self);
        return true;
    }

    // Takes `fd`, a folder `depth` levels below its place.
    void visit(int fd, const std::string& path, int depth) {
        struct stat st {};
        if (const int bad = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR) {
            ::close(fd);
            skip(path, bad);
            return;
        }
        if (!seen_.insert({st.st_dev, st.st_ino}).second) { // a bind mount or overlapping places
            ::close(fd);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            const int error = errno;
            ::close(fd);
            skip(path, error);
            return;
        }
        ++stats.folders;
        std::vector<std::string> subfolders;
        bool hasIndex = false, hasEntries = false, unsearchable = false;
        errno = 0;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (name == "." || name == "..")
                continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat s {};
                if (::fstatat(::dirfd(dir), e->d_name, &s, AT_SYMLINK_NOFOLLOW) != 0) {
                    unsearchable = unsearchable || errno == EACCES;
                    errno = 0;
                    continue;
                }
                type = S_ISDIR(s.st_mode) ? DT_DIR : S_ISREG(s.st_mode) ? DT_REG : DT_LNK;
            }
            if (type == DT_DIR) {
                hasEntries = hasEntries || name == "entries";
                subfolders.emplace_back(name);
            } else if (type == DT_REG && name == "index") {
                hasIndex = true;
            }
        }
        if (errno != 0)
            skip(path, errno); // what was listed is still looked at
        const std::string_view base = std::string_view(path).substr(path.rfind('/') + 1);
        if (hasIndex || (hasEntries && EqualsNoCase(base, "cache2"))) {
            if (const auto kind = RecogniseCacheFolder(path)) {
                found.push_back({*kind, path, {}});
                ::closedir(dir);
                return; // its own folders hold entries, not caches
            }
        }
        if (unsearchable || ((hasIndex || hasEntries) && !Searchable(::dirfd(dir)))) {
            skip(path, EACCES); // listed, but nothing in it can be opened
            ::closedir(dir);
            return;
        }
        if (depth < depth_) {
            std::sort(subfolders.begin(), subfolders.end());
            for (const std::string& name : subfolders) {
                if (std::find(std::begin(kNeverEntered), std::end(kNeverEntered), name) !=
                    std::end(kNeverEntered))
                    continue;
                const int child = ::openat(::dirfd(dir), name.c_str(),
                                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child < 0) {
                    const int error = errno;
                    if (error == EACCES && !Searchable(::dirfd(dir))) {
                        skip(path, error); // the folder itself, once, not each of its names
                        break;
                    }
                    if (error != ENOENT && error != ELOOP && error != ENOTDIR)
                        skip(Child(path, name), error); // (gone, or now a link or a file)
                    continue;
                }
                visit(child, Child(path, name), depth + 1);
            }
        }
        ::closedir(dir);
    }

    int depth_;
    std::set<std::pair<dev_t, ino_t>> seen_;
};

void AddPlace(std::vector<DataPlace>& places, const fs::path& path, std::string form = {},
              std::string fallback = {}) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path(); // "/a/b/" -> "/a/b"
    if (IsDirectory(normal.string()))
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

// Known program folders, as a user names the program.
struct KnownProgram {
    std::initializer_list<std::string_view> folders;
    std::string_view name;
};
const KnownProgram kKnownPrograms[] = {
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
};

// Levels that say how a cache is kept, not whose it is.
bool IsLayoutLevel(std::string_view name) {
    for (std::string_view n : {"User Data", "Profiles", "EBWebView", "QtWebEngine", "webengine"})
        if (EqualsNoCase(name, n))
            return true;
    return false;
}
bool IsCacheLevel(std::string_view name) {
    for (std::string_view n : {"Cache_Data", "Cache", "cache2"})
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

} // namespace

NamedRoot::NamedRoot(const std::string& folder) : written_(Normal(folder)) {
    std::error_code ec;
    real_ = fs::canonical(folder, ec).string();
}

bool NamedRoot::admits(const std::string& path) const {
    const std::string normal = Normal(path);
    if (real_.empty() || !IsAtOrBelow(normal, written_))
        return true;
    std::error_code ec;
    const std::string real = fs::canonical(normal, ec).string();
    return !ec && IsAtOrBelow(real, real_);
}

std::vector<fs::path> ChildrenNoCase(const fs::path& folder, std::string_view name) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (name.empty() || EqualsNoCase(it->path().filename().string(), name))
            out.push_back(it->path());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<fs::path> PathsNoCase(const fs::path& at, std::string_view slashed) {
    std::vector<fs::path> current{at};
    while (!slashed.empty()) {
        const std::size_t slash = slashed.find('/');
        std::string_view part = slashed.substr(0, slash);
        slashed = slash == std::string_view::npos ? std::string_view() : slashed.substr(slash + 1);
        if (part == "*")
            part = {};
        std::vector<fs::path> next;
        for (const fs::path& p : current)
            for (fs::path& child : ChildrenNoCase(p, part))
                next.push_back(std::move(child));
        current = std::move(next);
    }
    return current;
}

std::optional<CacheKind> RecogniseCacheFolder(const std::string& folder) {
    const fs::path p(folder);
    if (EqualsNoCase(p.filename().string(), "cache2") && IsFolderNoFollow((p / "entries").string()))
        return CacheKind::Firefox;
    ReadOnlyFile index; // (refuses a link or anything but a regular file)
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
        return IsRegularFile((p / "sqldb0").string()) ? std::optional(CacheKind::Sql)
                                                      : std::nullopt;
    // The small `index` file carries the entry magic; the real index is written later, so a
    // cache whose program never closed cleanly may have only the former.
    if ((n == 8 && bytes.u64(0) == formats::simple::kInitialMagic) ||
        (IsFolderNoFollow((p / "index-dir").string()) &&
         IsRegularFile((p / "index-dir/the-real-index").string())))
        return CacheKind::Chromium;
    return std::nullopt;
}

std::vector<DataPlace> LinuxDataPlaces(const std::string& home, const std::string& cache,
                                       const std::string& config) {
    std::vector<DataPlace> places;
    if (!config.empty())
        AddPlace(places, config);
    if (!cache.empty())
        AddPlace(places, cache);
    if (home.empty())
        return places;
    const fs::path h(home);
    AddPlace(places, h / ".mozilla");
    AddPlace(places, h / ".thunderbird");
    for (const fs::path& app : ChildrenNoCase(h / ".var/app", {}))
        for (const char* sub : {"config", "cache", "data"})
            AddPlace(places, app / sub, "Flatpak", LastDotted(app.filename().string()));
    for (const fs::path& snap : ChildrenNoCase(h / "snap", {}))
        for (const char* sub :
             {"current/.config", "current/.cache", "common/.config", "common/.cache"})
            AddPlace(places, snap / sub, "snap", snap.filename().string());
    return places;
}

std::vector<DataPlace> WindowsDataPlaces(const std::string& profile) {
    std::vector<DataPlace> places;
    // Store apps first: their folders are also below AppData/Local, deeper than the walk
    // goes from there, and a folder is walked only once.
    for (const fs::path& local : PathsNoCase(profile, "AppData/Local/Packages/*/LocalCache"))
        AddPlace(places, local, "Store", PackageName(local.parent_path().filename().string()));
    for (const fs::path& p : PathsNoCase(profile, "AppData/Roaming"))
        AddPlace(places, p);
    for (const fs::path& p : PathsNoCase(profile, "AppData/Local"))
        AddPlace(places, p);
    return places;
}

std::vector<DataPlace> MacDataPlaces(const std::string& home) {
    std::vector<DataPlace> places;
    for (const fs::path& p : PathsNoCase(home, "Library/Application Support"))
        AddPlace(places, p);
    for (const fs::path& p : PathsNoCase(home, "Library/Caches"))
        AddPlace(places, p);
    return places;
}

std::vector<CacheFolder> WalkForCaches(const std::vector<DataPlace>& places, int depth,
                                       WalkStats* stats) {
    Walker walker(depth);
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

} // namespace browser
