// Finding caches: where the user's browser caches are, what a folder the user names holds,
// caches found by what they hold below the places programs keep per-user data, and each
// named for its program and profile.
#include "browser_fixture.h"
#include "cache/browser/browser.h"
#include "cache/browser/source.h"
#include "cache/browser/walk.h"
#include "cache_builder.h"
#include "image_builder.h"
#include "platform/sleuthkit/tsk_image.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;
using browser::CacheKind;
using testing_support::BrowserFixture;

const fs::path kSimple = "chromium/home/.cache/chromium/Default/Cache/Cache_Data";
const fs::path kBlockfile =
    "chromium-blockfile/home/AppData/Local/Google/Chrome/User Data/Default/Cache/Cache_Data";
const fs::path kSql = "chromium-sql/home/.cache/chromium/Default/Cache/Cache_Data";
const fs::path kCache2 = "firefox/home/.cache/mozilla/firefox/pylwchot.default-esr/cache2";

fs::path Fixture(const fs::path& relative) {
    return fs::path(BrowserFixture("")) / relative;
}
void CopyFixture(const fs::path& relative, const fs::path& to) {
    testing_support::CopyTree(Fixture(relative), to);
}
// The smallest Simple Cache the walk recognises: its `index` with the entry magic.
void TinyCache(const fs::path& folder) {
    WriteFile(folder / "index", std::string("\x30\x5c\x72\xa7\x1b\x6d\xfb\xfc", 8));
}

std::map<std::string, std::pair<CacheKind, std::string>>
ByPath(const std::vector<browser::CacheFolder>& found) {
    std::map<std::string, std::pair<CacheKind, std::string>> out;
    for (const auto& f : found)
        EXPECT_TRUE(out.emplace(f.path, std::pair(f.kind, f.source)).second) << "twice: " << f.path;
    return out;
}

class Discover : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_WITHOUT_BROWSER_FIXTURES(); }
    TempDir dir;
};

TEST_F(Discover, EachKindIsRecognisedFromItsOwnFiles) {
    TempDir t;
    const fs::path& p = t.path();
    WriteFile(p / "sql-alone/index", "SQLCacheTruncate3"); // no sqldb0
    WriteFile(p / "zeros/index", std::string(24, '\0'));
    WriteFile(p / "other/entries/x", "");
    fs::create_directories(p / "linked/index-dir");
    WriteFile(p / "linked/index-dir/the-real-index", "");
    fs::create_symlink(Fixture(kSimple) / "index", p / "linked/index");
    // A Chromium cache is told by its index, even beside what looks like WebKit's folders;
    // an `index` that is no Chromium one leaves a WebKit cache one.
    for (const char* at : {"both", "webkit"}) {
        fs::create_directories(p / at / "Version 16/Records");
        WriteFile(p / at / "Version 16/salt", std::string(8, 's'));
    }
    TinyCache(p / "both");
    WriteFile(p / "webkit/index", "a page");
    const std::pair<fs::path, std::optional<CacheKind>> cases[] = {
        {p / "both", CacheKind::Chromium},
        {p / "webkit", CacheKind::WebKit},
        {Fixture(kSimple), CacheKind::Chromium},
        {Fixture(kBlockfile), CacheKind::Blockfile},
        {Fixture(kSql), CacheKind::Sql},
        {Fixture(kCache2), CacheKind::Firefox},
        {p / "sql-alone", std::nullopt},
        {p / "zeros", std::nullopt},
        {p / "other", std::nullopt},
        {p / "linked", std::nullopt},
        {Fixture(kSimple).parent_path(), std::nullopt},
    };
    for (const auto& [folder, kind] : cases)
        EXPECT_EQ(browser::RecogniseCacheFolder(folder.string()), kind) << folder;
}

TEST_F(Discover, EveryProgramsCacheInAHomeIsFoundOnceAndNamed) {
    const fs::path h = dir.path() / "home";
    CopyFixture("chromium/home", h); // Chromium's own place, found directly and by the walk
    const std::pair<const char*, const char*> apps[] = {
        {".config/discord/Cache/Cache_Data", "Discord"},
        {".var/app/com.slack.Slack/config/Slack/Partitions/team-t7/Cache/Cache_Data",
         "Slack (Flatpak), partition team-t7"},
        {"snap/signal-desktop/42/.config/Signal/Cache/Cache_Data", "Signal (snap)"},
        {".cache/falkon/QtWebEngine/Default/Cache", "Falkon Default"},
        {".config/Zyxt Notes/Cache/Cache_Data", "Zyxt Notes"},
    };
    for (const auto& [at, source] : apps)
        CopyFixture(kSimple, h / at);
    fs::create_symlink("42", h / "snap/signal-desktop/current");
    // The second profile is the first one again, reached through a link.
    fs::create_directory_symlink(h / ".cache/thunderbird", dir.path() / "tb-link");
    WriteFile(h / ".thunderbird/profiles.ini",
              "[Profile0]\nName=default-release\nPath=ab12cd34.default-release\nIsRelative=1\n"
              "[Profile1]\nIsRelative=0\nPath=" +
                  (dir.path() / "tb-link/ab12cd34.default-release").string() + "\n");
    CopyFixture(kCache2, h / ".cache/thunderbird/ab12cd34.default-release/cache2");
    const fs::path tb = h / ".var/app/org.mozilla.Thunderbird";
    WriteFile(tb / ".thunderbird/profiles.ini", "[Profile0]\nPath=zz99yy88.work\n");
    CopyFixture(kCache2, tb / "cache/thunderbird/zz99yy88.work/cache2");
    // Never entered: a shader cache, a cache's own folders, links out of the home and round.
    TinyCache(h / ".config/discord/GPUCache");
    TinyCache(h / ".config/discord/Cache/Cache_Data/index-dir/nested");
    TinyCache(dir.path() / "outside/Cache");
    fs::create_symlink(dir.path() / "outside", h / ".config/outside");
    fs::create_symlink("..", h / ".config/discord/loop");

    std::vector<browser::ScanProblem> unreadable = {{"stale", "stale"}};
    const auto found = ByPath(browser::FindUserCaches({h.string(), "", ""}, &unreadable));
    std::map<std::string, std::pair<CacheKind, std::string>> expected = {
        {(h / kSimple.lexically_relative("chromium/home")).string(),
         {CacheKind::Chromium, "Chromium Default"}},
        {(h / ".cache/thunderbird/ab12cd34.default-release/cache2").string(),
         {CacheKind::Firefox, "Thunderbird default-release"}},
        {(tb / "cache/thunderbird/zz99yy88.work/cache2").string(),
         {CacheKind::Firefox, "Thunderbird work (Flatpak)"}},
    };
    for (const auto& [at, source] : apps)
        expected[(h / std::string(at)).string()] = {CacheKind::Chromium, source};
    expected.erase((h / apps[2].first).string()); // found through snap's `current`
    expected[(h / "snap/signal-desktop/current/.config/Signal/Cache/Cache_Data").string()] = {
        CacheKind::Chromium, "Signal (snap)"};
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(unreadable.empty());
    // An XDG folder written with a trailing slash is the same place.
    EXPECT_EQ(ByPath(browser::FindUserCaches({h.string(), h.string() + "/.cache/", ""})), found);

    // Each lists the fixture's pictures and videos, and each row says whose it is.
    for (const auto& [path, kindAndSource] : found) {
        const auto& [kind, source] = kindAndSource;
        std::set<std::pair<std::string, std::uint64_t>> rows;
        for (const auto& r : browser::ScanCacheFolder({kind, path, source})) {
            rows.emplace(testing_support::UrlPath(r.url), r.size);
            EXPECT_EQ(r.source, source);
        }
        for (const auto& b :
             testing_support::ListableBodies(kind == CacheKind::Firefox ? "firefox" : "chromium"))
            EXPECT_TRUE(rows.count({b.urlPath, b.size})) << path << ": " << b.url;
    }
}

TEST_F(Discover, CopiedWindowsAndMacHomesInAUsersFolder) {
    const fs::path bob = dir.path() / "Users/bob", carol = dir.path() / "Users/carol";
    const fs::path roaming = bob / "AppData/Roaming/Wobbly Chat/Cache/Cache_Data";
    const fs::path store = bob / "AppData/Local/Packages/MSTeams_8wekyb3d8bbwe/LocalCache/"
                                 "Microsoft/MSTeams/EBWebView/WV2Profile_tfw/Cache/Cache_Data";
    const fs::path edge = bob / "appdata/local/Microsoft/Edge/User Data/Profile 1/Cache/Cache_Data";
    const fs::path macApp = carol / "Library/Application Support/discord/Cache/Cache_Data";
    const fs::path macFox =
        carol / "Library/Caches/Firefox/Profiles/x1y2z3w4.default-release/cache2";
    for (const auto& p : {roaming, store, edge})
        CopyFixture(kBlockfile, p);
    CopyFixture(kSimple, macApp);
    CopyFixture(kCache2, macFox);
    const std::map<std::string, std::pair<CacheKind, std::string>> windows = {
        {roaming.string(), {CacheKind::Blockfile, "Wobbly Chat"}},
        {store.string(), {CacheKind::Blockfile, "Teams WV2Profile_tfw (Store)"}},
        {edge.string(), {CacheKind::Blockfile, "Edge Profile 1"}},
    };
    EXPECT_EQ(ByPath(browser::ClassifyFolder(bob.string()).browserCaches), windows);
    auto all = windows;
    all[macApp.string()] = {CacheKind::Chromium, "Discord"};
    all[macFox.string()] = {CacheKind::Firefox, "Firefox default-release"};
    EXPECT_EQ(ByPath(browser::ClassifyFolder(carol.string()).browserCaches).size(), 2u);
    EXPECT_EQ(ByPath(browser::ClassifyFolder((dir.path() / "Users").string()).browserCaches), all);
}

TEST(Walk, StopsAtItsDepthAndCountsWhatItCannotRead) {
    TempDir t;
    const fs::path place = t.path() / "place";
    TinyCache(place / "1/2/3/4/5/6/seven");
    TinyCache(place / "a/2/3/4/5/6/7/eight");
    fs::create_symlink("self", t.path() / "self"); // a place that cannot be opened, even by root
    browser::WalkStats stats;
    const auto found =
        browser::WalkForCaches({{place.string(), "", ""}, {(t.path() / "self").string(), "", ""}},
                               browser::kWalkDepth, &stats);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, (place / "1/2/3/4/5/6/seven").string());
    EXPECT_EQ(stats.unreadable, 1u);
    ASSERT_EQ(stats.skipped.size(), stats.unreadable); // each one named
    EXPECT_EQ(stats.skipped.back().path, (t.path() / "self").string());
    EXPECT_EQ(stats.skipped.back().reason, "cannot be read (Too many levels of symbolic links)");
    EXPECT_EQ(browser::WalkForCaches({{place.string(), "", ""}}, 6).size(), 0u);
    // A folder already taken for a cache (at a known browser's folder) is passed over.
    struct stat st {};
    ASSERT_EQ(::stat((place / "1/2/3/4/5/6/seven").c_str(), &st), 0);
    EXPECT_EQ(browser::WalkForCaches({{place.string(), "", ""}}, browser::kWalkDepth, &stats,
                                     platform::HostFiles(), {{st.st_dev, st.st_ino}})
                  .size(),
              0u);
}

// While caches are being found, each folder is opened and listed once: a later look sees the
// listing taken then, and files in it still open from the tree itself.
TEST(Walk, AFolderIsListedOnceWhileCachesAreFound) {
    TempDir t;
    fs::create_directories(t.path() / "home/sub");
    std::ofstream(t.path() / "home/a") << "a";
    const browser::detail::ListedOnce once(platform::HostFiles());
    const auto names = [&](const platform::Folder& f) {
        std::vector<platform::FolderEntry> entries;
        EXPECT_EQ(f.list(entries), 0);
        std::set<std::string> out;
        for (const auto& e : entries)
            out.insert(e.name);
        return out;
    };
    int error = 0;
    const auto home = once.openFolder((t.path() / "home").string(), error);
    ASSERT_TRUE(home);
    EXPECT_EQ(names(*home), (std::set<std::string>{"a", "sub"}));
    std::ofstream(t.path() / "home/b") << "b";
    EXPECT_EQ(names(*once.openFolder((t.path() / "home").string(), error)),
              (std::set<std::string>{"a", "sub"}));
    // The same listing however the folder is reached: by name in its parent, through a link.
    fs::create_directory_symlink(t.path() / "home", t.path() / "link");
    const auto top = once.openFolder(t.path().string(), error);
    ASSERT_TRUE(top);
    EXPECT_EQ(names(*once.openFolder(*top, "home", error)), (std::set<std::string>{"a", "sub"}));
    EXPECT_EQ(names(*once.openFolder((t.path() / "link").string(), error)),
              (std::set<std::string>{"a", "sub"}));
    // Only the names that start with a prefix, kept or not, and in addition to what is there.
    const auto unkept = platform::HostFiles().openFolder((t.path() / "home").string(), error);
    ASSERT_TRUE(unkept);
    for (const platform::Folder* f : {home.get(), unkept.get()}) {
        std::vector<platform::FolderEntry> some{{"before"}};
        EXPECT_EQ(f->listStartingWith("s", some), 0);
        ASSERT_EQ(some.size(), 2u);
        EXPECT_EQ(some[0].name, "before");
        EXPECT_EQ(some[1].name, "sub");
    }
    EXPECT_TRUE(once.openFile(*home, "b", error)); // the tree's own answer
    const auto sub = once.openFolder(*home, "sub", error);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->path(), (t.path() / "home/sub").string());
    EXPECT_FALSE(once.openFolder(*home, "missing", error));
    EXPECT_EQ(error, ENOENT);
    error = 0;
    EXPECT_FALSE(once.openFolder((t.path() / "home/missing").string(), error));
    EXPECT_EQ(error, ENOENT);
}

// Listings are kept, not folders: a home of more folders than a process may hold open at once
// still has its caches found, whatever the limit of open files (often 1,024).
TEST(Walk, AHomeOfMoreFoldersThanOpenFilesIsWalkedWhole) {
    TempDir t;
    const fs::path home = t.path() / "home";
    for (int i = 0; i < 300; ++i)
        fs::create_directories(home / ".config" / ("app" + std::to_string(i)) / "sub");
    TinyCache(home / ".config/zz/Cache");
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
    rlimit low = was;
    low.rlim_cur = 200;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const auto found = browser::ClassifyFolder(home.string());
    const auto user = browser::FindUserCaches({home.string(), "", ""});
    ::setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_EQ(ByPath(found.browserCaches).size(), 1u);
    EXPECT_TRUE(found.skippedFolders.empty());
    EXPECT_EQ(user.size(), 1u);
}

TEST(Walk, CountsAFolderItMayNotListAndGoesOn) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits do not stop root from listing a folder";
    TempDir t;
    const fs::path place = t.path() / "place";
    TinyCache(place / "open/Cache");
    TinyCache(place / "locked/Cache");
    fs::permissions(place / "locked", fs::perms::none);
    browser::WalkStats stats;
    const auto found =
        browser::WalkForCaches({{place.string(), "", ""}}, browser::kWalkDepth, &stats);
    fs::permissions(place / "locked", fs::perms::owner_all); // so that the folder can be removed
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, (place / "open/Cache").string());
    EXPECT_EQ(stats.unreadable, 1u);
    ASSERT_EQ(stats.skipped.size(), 1u);
    EXPECT_EQ(stats.skipped[0].path, (place / "locked").string());
}

TEST(SourceName, FromTheFoldersBetweenThePlaceAndTheCache) {
    const std::vector<browser::DataPlace> places = {
        {"/h/.cache", "", ""},
        {"/h/.var/app/com.example.Zed/config", "Flatpak", "Zed"},
        {"/u/AppData/Local", "", ""},
        {"/u/AppData/Local/Packages/Slack_8she/LocalCache", "Store", "Slack"},
    };
    const std::tuple<CacheKind, const char*, const char*> cases[] = {
        {CacheKind::Chromium, "/h/.cache/google-chrome/Default/Cache/Cache_Data", "Chrome Default"},
        {CacheKind::Chromium, "/h/.cache/BraveSoftware/Brave-Browser/Profile 2/Cache",
         "Brave Profile 2"},
        {CacheKind::Firefox, "/h/.cache/mozilla/firefox/pylwchot.default-esr/cache2",
         "Firefox default-esr"},
        {CacheKind::Chromium, "/h/.var/app/com.example.Zed/config/Cache", "Zed (Flatpak)"},
        {CacheKind::Blockfile, "/u/AppData/Local/Google/Chrome/User Data/Default/Cache/Cache_Data",
         "Chrome Default"},
        {CacheKind::Blockfile,
         "/u/AppData/Local/Packages/Slack_8she/LocalCache/Roaming/Slack/Cache/Cache_Data",
         "Slack (Store)"},
        {CacheKind::Firefox, "/elsewhere/work/cache2", "Firefox work"},
        {CacheKind::Chromium, "/copy/of/discord/Cache", "Discord"},
    };
    for (const auto& [kind, path, source] : cases)
        EXPECT_EQ(browser::SourceName({kind, path, ""}, places), source) << path;
}

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

// A disk image's file system made from `tree` and opened, as its one volume; else why not
// ("missing tool: ..." when a tool to make it is missing).
std::string ImageOf(const std::string& type, const fs::path& tree, const fs::path& image,
                    std::shared_ptr<const platform::DiskImage>& opened) {
    std::string error = testing_support::MakeFileSystem(type, tree, image);
    if (error.empty())
        opened = platform::OpenDiskImage(image.string(), error);
    if (error.empty() && opened->volumes.size() != 1)
        error = std::to_string(opened->volumes.size()) + " volumes";
    return error;
}
// What a look into a folder found, each path as below the folder: caches with their kind and
// source, then the index files.
std::vector<std::string> FoundBelow(const browser::FolderContents& found, const std::string& root) {
    std::vector<std::string> out;
    for (const auto& c : found.browserCaches)
        out.push_back(std::to_string(static_cast<int>(c.kind)) + " " + c.path.substr(root.size()) +
                      " | " + c.source);
    for (const auto& index : found.urlCacheIndexes)
        out.push_back("index " + index.substr(root.size()));
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(Discover, ADiskImagesFileSystemIsSearchedAsTheFolderItWasMadeOf) {
    // One home holding every kind: Linux caches, a Windows profile's blockfile caches and
    // Wine's index.dat, an SQL cache found by the walk.
    const fs::path tree = dir.path() / "tree";
    for (const char* home :
         {"firefox/home", "chromium/home", "chromium-blockfile/home", "webkit/home"})
        CopyFixture(home, tree);
    CopyFixture("chromium-sql/home/.cache/chromium/Default/Cache", tree / ".config/SqlApp/Cache");
    testing_support::CopyTree(
        fs::path(TAMBERLIN_FIXTURES) / "url-cache/wine/prefix/drive_c/users/root", tree);
    const auto onHost = FoundBelow(browser::ClassifyFolder(tree.string()), tree.string());
    for (const CacheKind kind : {CacheKind::Firefox, CacheKind::Chromium, CacheKind::Blockfile,
                                 CacheKind::Sql, CacheKind::WebKit})
        EXPECT_TRUE(std::any_of(onHost.begin(), onHost.end(), [&](const std::string& f) {
            return f.starts_with(std::to_string(static_cast<int>(kind)) + " ");
        })) << static_cast<int>(kind);
    ASSERT_TRUE(onHost.back().starts_with("index /AppData/")) << onHost.back();

    for (const std::string type : {"ext4", "fat32", "ntfs"}) {
        SCOPED_TRACE(type);
        std::shared_ptr<const platform::DiskImage> image;
        const std::string error = ImageOf(type, tree, dir.path() / type, image);
        SKIP_WITHOUT_IMAGE_TOOLS(error);
        EXPECT_EQ(FoundBelow(browser::ClassifyFolder("/", *image->volumes[0].files), ""), onHost);
    }
}

TEST_F(Discover, ALinkInADiskImageIsNeverFollowed) {
    // /home/.cache leads to the root, which holds a cache where ~/.cache/chromium would: the
    // home shows it only if the link is followed.
    const fs::path tree = dir.path() / "linked";
    CopyFixture(kSimple, tree / "chromium/Default/Cache/Cache_Data");
    fs::create_directories(tree / "home/.config");
    fs::create_symlink("/", tree / "home/.cache");
    std::shared_ptr<const platform::DiskImage> image;
    const std::string error = ImageOf("ext4", tree, dir.path() / "ext4", image);
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    const platform::FileAccess& files = *image->volumes[0].files;
    int code = 0;
    EXPECT_EQ(files.kindAt("/home/.cache", true, code), platform::EntryKind::Link);
    EXPECT_EQ(files.kindAt("/home/.cache/chromium", true, code), platform::EntryKind::Unknown);
    EXPECT_EQ(code, ELOOP);
    EXPECT_TRUE(browser::ClassifyFolder("/home", files).browserCaches.empty());
    EXPECT_EQ(Paths(browser::ClassifyFolder("/chromium/Default", files).browserCaches,
                    CacheKind::Chromium),
              std::vector<std::string>{"/chromium/Default/Cache/Cache_Data"});
}

} // namespace
