// Where the user's browser caches are, and what a folder the user names holds.
#include "cache/browser/browser.h"
#include "cache_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;
using browser::CacheKind;

void FirefoxCacheAt(const fs::path& cache2) {
    MakeFirefoxCache(cache2);
}
void ChromiumCacheAt(const fs::path& folder) {
    WriteFile(folder / "index", std::string(24, '\0'));
}

std::vector<std::string> Paths(const std::vector<browser::CacheFolder>& folders, CacheKind kind) {
    std::vector<std::string> out;
    for (const auto& f : folders)
        if (f.kind == kind)
            out.push_back(f.path);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Sorted(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    out.reserve(paths.size());
    for (const auto& p : paths)
        out.push_back(p.lexically_normal().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A home with Firefox profiles listed in both places profiles.ini is kept, and several
// Chromium-family browsers with and without the Cache_Data level.
struct LinuxHome {
    TempDir dir;
    fs::path home = dir.path() / "home";
    fs::path elsewhere = dir.path() / "profiles/work";
    LinuxHome() {
        WriteFile(home / ".config/mozilla/firefox/profiles.ini",
                  "[Profile0]\nName=esr\nIsRelative=1\nPath=ab12.default-esr\n\n"
                  "[Profile1]\nName=unused\nIsRelative=1\nPath=never.used\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=ab12.default-esr\n");
        WriteFile(home / ".mozilla/firefox/profiles.ini",
                  "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=old\nIsRelative=1\n"
                  "Path=cd34.default\n\n[Profile1]\nName=work\nIsRelative=0\nPath=" +
                      elsewhere.string() + "\n");
        FirefoxCacheAt(home / ".cache/mozilla/firefox/ab12.default-esr/cache2");
        FirefoxCacheAt(home / ".cache/mozilla/firefox/cd34.default/cache2");
        FirefoxCacheAt(elsewhere / "cache2");
        // A cache whose profile is in no profiles.ini: found by what it holds.
        FirefoxCacheAt(home / ".cache/mozilla/firefox/orphan.default/cache2");
        FirefoxCacheAt(home / "snap/firefox/common/.cache/mozilla/firefox/sn4p.default/cache2");
        FirefoxCacheAt(home /
                       ".var/app/org.mozilla.firefox/cache/mozilla/firefox/fl4t.default/cache2");

        ChromiumCacheAt(home / ".cache/google-chrome/Default/Cache/Cache_Data");
        ChromiumCacheAt(home / ".cache/google-chrome/Profile 2/Cache/Cache_Data");
        ChromiumCacheAt(home / ".cache/BraveSoftware/Brave-Browser/Default/Cache");
        fs::create_directories(home / ".cache/chromium/Default/Code Cache/js");
        ChromiumCacheAt(home / "snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data");
        ChromiumCacheAt(home /
                        ".var/app/com.vivaldi.Vivaldi/cache/vivaldi/Default/Cache/Cache_Data");
    }
    std::vector<std::string> firefox() const {
        return Sorted(
            {home / ".cache/mozilla/firefox/ab12.default-esr/cache2",
             home / ".cache/mozilla/firefox/cd34.default/cache2", elsewhere / "cache2",
             home / ".cache/mozilla/firefox/orphan.default/cache2",
             home / "snap/firefox/common/.cache/mozilla/firefox/sn4p.default/cache2",
             home / ".var/app/org.mozilla.firefox/cache/mozilla/firefox/fl4t.default/cache2"});
    }
    std::vector<std::string> chromium() const {
        return Sorted(
            {home / ".cache/google-chrome/Default/Cache/Cache_Data",
             home / ".cache/google-chrome/Profile 2/Cache/Cache_Data",
             home / ".cache/BraveSoftware/Brave-Browser/Default/Cache",
             home / "snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data",
             home / ".var/app/com.vivaldi.Vivaldi/cache/vivaldi/Default/Cache/Cache_Data"});
    }
};

TEST(FindUserCaches, EveryListedProfileAndEveryChromiumProfileWithACache) {
    LinuxHome h;
    const auto found = browser::FindUserCaches({h.home.string(), "", ""});
    EXPECT_EQ(Paths(found, CacheKind::Firefox), h.firefox());
    EXPECT_EQ(Paths(found, CacheKind::Chromium), h.chromium());
}

TEST(FindUserCaches, XdgFoldersMoveTheCacheAndTheNewProfileList) {
    LinuxHome h;
    const fs::path xdgCache = h.dir.path() / "xcache", xdgConfig = h.dir.path() / "xconfig";
    WriteFile(xdgConfig / "mozilla/firefox/profiles.ini",
              "[Profile0]\nIsRelative=1\nPath=x9.default\n");
    FirefoxCacheAt(xdgCache / "mozilla/firefox/x9.default/cache2");
    ChromiumCacheAt(xdgCache / "chromium/Default/Cache/Cache_Data");
    const auto found =
        browser::FindUserCaches({h.home.string(), xdgCache.string(), xdgConfig.string()});
    // ~/.mozilla's relative profile now looks for its cache under the XDG cache folder too.
    EXPECT_EQ(
        Paths(found, CacheKind::Firefox),
        Sorted(
            {xdgCache / "mozilla/firefox/x9.default/cache2", h.elsewhere / "cache2",
             h.home / "snap/firefox/common/.cache/mozilla/firefox/sn4p.default/cache2",
             h.home / ".var/app/org.mozilla.firefox/cache/mozilla/firefox/fl4t.default/cache2"}));
    const auto chromium = Paths(found, CacheKind::Chromium);
    EXPECT_EQ(std::count(chromium.begin(), chromium.end(),
                         (xdgCache / "chromium/Default/Cache/Cache_Data").string()),
              1);
    EXPECT_EQ(chromium.size(), 3u); // plus the snap and Flatpak ones

    // Relative XDG values are ignored; no home and no XDG folders finds nothing.
    EXPECT_EQ(browser::FindUserCaches({h.home.string(), "rel/cache", "rel/config"}).size(),
              browser::FindUserCaches({h.home.string(), "", ""}).size());
    EXPECT_TRUE(browser::FindUserCaches({"", "", ""}).empty());
}

TEST(ClassifyFolder, AHomeAProfileOrACacheFolderIsRecognised) {
    LinuxHome h;
    const auto home = browser::ClassifyFolder(h.home.string());
    EXPECT_EQ(Paths(home.browserCaches, CacheKind::Firefox), h.firefox());
    EXPECT_EQ(Paths(home.browserCaches, CacheKind::Chromium), h.chromium());
    EXPECT_TRUE(home.urlCacheIndexes.empty());

    const fs::path esr = h.home / ".cache/mozilla/firefox/ab12.default-esr/cache2";
    EXPECT_EQ(browser::ClassifyFolder(esr.string()).browserCaches,
              (std::vector<browser::CacheFolder>{{CacheKind::Firefox, esr.string()}}));
    EXPECT_EQ(browser::ClassifyFolder(esr.parent_path().string()).browserCaches.size(), 1u);
    const fs::path chrome = h.home / ".cache/google-chrome/Default";
    EXPECT_EQ(browser::ClassifyFolder(chrome.string()).browserCaches,
              (std::vector<browser::CacheFolder>{
                  {CacheKind::Chromium, (chrome / "Cache/Cache_Data").string()}}));
    // A profile folder under ~/.mozilla: its cache lives under ~/.cache.
    WriteFile(h.home / ".mozilla/firefox/cd34.default/prefs.js", "");
    EXPECT_EQ(Paths(browser::ClassifyFolder((h.home / ".mozilla/firefox/cd34.default").string())
                        .browserCaches,
                    CacheKind::Firefox),
              Sorted({h.home / ".cache/mozilla/firefox/cd34.default/cache2"}));

    TempDir empty;
    const auto nothing = browser::ClassifyFolder(empty.path().string());
    EXPECT_TRUE(nothing.browserCaches.empty());
    EXPECT_TRUE(nothing.urlCacheIndexes.empty());
    EXPECT_TRUE(browser::ClassifyFolder((empty.path() / "missing").string()).browserCaches.empty());
}

TEST(ClassifyFolder, ALinkBelowANamedFolderNeverLeadsOutOfIt) {
    TempDir dir;
    // Elsewhere: caches where each place and each browser's own folder would find them.
    const fs::path out = dir.path() / "elsewhere";
    const auto walked = [](const fs::path& folder) { // a cache the search knows by its index
        WriteFile(folder / "index", std::string("\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc", 8));
    };
    walked(out / "app/Cache");
    ChromiumCacheAt(out / "google-chrome/Default/Cache/Cache_Data"); // as ~/.cache
    ChromiumCacheAt(out / "Google/Chrome/User Data/Default/Cache");  // as AppData/Local
    ChromiumCacheAt(out / "Google/Chrome/Default/Cache");            // as Library/Caches
    FirefoxCacheAt(out / "Firefox/Profiles/x.default/cache2");
    WriteFile(out / "Microsoft/Windows/INetCache/IE/index.dat", "an index");
    const auto linkOut = [&](const fs::path& at) {
        fs::create_directories(at.parent_path());
        fs::create_symlink(out, at);
    };
    const fs::path linux = dir.path() / "linux", windows = dir.path() / "windows",
                   mac = dir.path() / "mac";
    walked(linux / ".config/inside/Cache");
    linkOut(linux / ".cache");
    linkOut(linux / ".var/app/org.example.App/cache");
    walked(linux / "snap/app/x1/.config/app/Cache");
    fs::create_symlink("x1", linux / "snap/app/current"); // a link that stays inside
    linkOut(linux / "snap/app/x1/.cache");
    walked(windows / "AppData/Roaming/inside/Cache");
    linkOut(windows / "AppData/Local");
    walked(mac / "Library/Application Support/inside/Cache");
    linkOut(mac / "Library/Caches");
    // The named folder itself may be a link: it is read as the folder it stands for.
    const fs::path via = dir.path() / "via";
    fs::create_symlink(linux, via);

    const std::pair<fs::path, std::vector<std::string>> cases[] = {
        {linux,
         Sorted({linux / ".config/inside/Cache", linux / "snap/app/current/.config/app/Cache"})},
        {via, Sorted({via / ".config/inside/Cache", via / "snap/app/current/.config/app/Cache"})},
        {windows, Sorted({windows / "AppData/Roaming/inside/Cache"})},
        {mac, Sorted({mac / "Library/Application Support/inside/Cache"})},
    };
    for (const auto& [named, expected] : cases) {
        SCOPED_TRACE(named.string());
        const auto contents = browser::ClassifyFolder(named.string());
        std::vector<fs::path> found;
        for (const auto& c : contents.browserCaches)
            found.emplace_back(c.path);
        EXPECT_EQ(Sorted(found), expected);
        EXPECT_TRUE(contents.urlCacheIndexes.empty());
    }
}

TEST(ClassifyFolder, ACopiedWindowsProfileGivesItsIndexFilesAndFirefoxCaches) {
    const fs::path fixture = fs::path(TAMBERLIN_FIXTURES) / "url-cache/ie-content/index.dat";
    if (!fs::exists(fixture))
        GTEST_SKIP() << "the index.dat test cache is not at " << fixture;
    const std::string index = ReadFile(fixture);
    TempDir dir;
    const fs::path bob = dir.path() / "Users/bob";
    // Names in another case than Windows shows them, as a copied disk may have them.
    const fs::path ie5 =
        bob / "appdata/Local/Microsoft/Windows/Temporary Internet Files/content.ie5/INDEX.DAT";
    const fs::path ie11 = bob / "AppData/Local/Microsoft/Windows/INetCache/IE/index.dat";
    const fs::path ie10 = bob / "AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat";
    const fs::path ff = bob / "AppData/Local/Mozilla/Firefox/Profiles/q1w2.default-release/cache2";
    for (const auto& p : {ie5, ie11, ie10})
        WriteFile(p, index);
    FirefoxCacheAt(ff);
    // Roaming holds the profile settings, not the cache.
    fs::create_directories(bob / "AppData/Roaming/Mozilla/Firefox/Profiles/q1w2.default-release");

    const auto contents = browser::ClassifyFolder(bob.string());
    EXPECT_EQ(Sorted(std::vector<fs::path>(contents.urlCacheIndexes.begin(),
                                           contents.urlCacheIndexes.end())),
              Sorted({ie5, ie11, ie10}));
    EXPECT_EQ(contents.browserCaches,
              (std::vector<browser::CacheFolder>{{CacheKind::Firefox, ff.string()}}));

    // Windows XP's layout, and the Users folder holding several profiles.
    const fs::path xp =
        dir.path() / "Users/carol/Local Settings/Temporary Internet Files/Content.IE5/index.dat";
    WriteFile(xp, index);
    EXPECT_EQ(
        browser::ClassifyFolder(xp.parent_path().parent_path().parent_path().parent_path().string())
            .urlCacheIndexes,
        std::vector<std::string>{xp.string()});
    const auto users = browser::ClassifyFolder((dir.path() / "Users").string());
    EXPECT_EQ(users.urlCacheIndexes.size(), 4u);
    EXPECT_EQ(users.browserCaches.size(), 1u);
}

} // namespace

TEST(ClassifyFolder, UsersFolderGivesEveryChromiumFamilyCacheOfWindowsAndMacHomes) {
    const fs::path fixtures = fs::path(TAMBERLIN_FIXTURES) / "browser-caches";
    const fs::path blockfile = fixtures / "chromium-blockfile/home/AppData/Local/Microsoft/Edge/"
                                          "User Data/Profile 1/Cache/Cache_Data";
    const fs::path simple = fixtures / "chromium/home/.cache/chromium/Default/Cache/Cache_Data";
    if (!fs::is_directory(blockfile) || !fs::is_directory(simple))
        GTEST_SKIP() << "the browser-cache test caches are not at " << fixtures;
    TempDir dir;
    const fs::path users = dir.path() / "Users";
    std::vector<fs::path> expected;
    // Each place holds a cache of its own (one reached twice would be read once): the files a
    // cache is recognised by, copied from the fixture's.
    const auto place = [&](const fs::path& at, const fs::path& from,
                           std::initializer_list<const char*> files) {
        for (const char* f : files) {
            fs::create_directories((at / f).parent_path());
            testing_support::CopyTree(from / f, at / f);
        }
        expected.push_back(at);
    };
    const auto windows = [&](const std::string& profile) {
        place(users / "bob" / profile / "Cache/Cache_Data", blockfile, {"index"});
    };
    windows("AppData/Local/Google/Chrome Beta/User Data/Default");
    windows("AppData/Local/Google/Chrome SxS/User Data/Profile 3");
    windows("AppData/Local/Chromium/User Data/Guest Profile");
    windows("AppData/Local/Microsoft/Edge Dev/User Data/Default");
    windows("AppData/Local/BraveSoftware/Brave-Browser/User Data/Profile 12");
    windows("AppData/Local/Vivaldi/User Data/Default");
    windows("AppData/Roaming/Opera Software/Opera Stable");
    windows("AppData/Local/Opera Software/Opera GX Stable");
    // Another letter case, and the older level without Cache_Data.
    place(users / "bob/appdata/local/microsoft/edge/user data/default/cache", blockfile, {"index"});
    // Not profile folders: passed over.
    for (const char* other : {"GrShaderCache", "System Profile"}) {
        const fs::path at = users / "bob/AppData/Local/Google/Chrome/User Data" / other;
        fs::create_directories(at);
        fs::create_directory_symlink(blockfile.parent_path(), at / "Cache");
    }

    const fs::path mac = users / "alice/Library/Caches";
    for (const char* profile : {"Google/Chrome/Default", "BraveSoftware/Brave-Browser/Profile 1"})
        place(mac / profile / "Cache/Cache_Data", simple, {"index", "index-dir/the-real-index"});
    const fs::path firefox = mac / "Firefox/Profiles/x9y8.default-release/cache2";
    fs::create_directories(firefox / "entries");
    expected.push_back(firefox);

    std::vector<std::string> found;
    for (const auto& cache : browser::ClassifyFolder(users.string()).browserCaches) {
        found.push_back(cache.path);
        const bool mine = cache.path.starts_with((users / "bob").string());
        EXPECT_EQ(cache.kind == CacheKind::Blockfile, mine) << cache.path;
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, Sorted(expected));
    // A macOS home named itself.
    EXPECT_EQ(browser::ClassifyFolder((users / "alice").string()).browserCaches.size(), 3u);
}
