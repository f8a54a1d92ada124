// Caches found by what they hold, below the places programs keep per-user data, and named for
// their program and profile.
#include "browser_fixture.h"
#include "cache/browser/discover.h"
#include "cache_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
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
    const std::pair<fs::path, std::optional<CacheKind>> cases[] = {
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

} // namespace
