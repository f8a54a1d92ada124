// Retrieve over real caches: the WinINet rows as the scan lists them, then the browsers'.
#include "blockfile_builder.h"
#include "browser_fixture.h"
#include "cache/scan/commands.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/retrieve.h"
#include "cache/scan/url_cache.h"
#include "platform/urlcache/urlcache.h"
#include "sql_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using cache::FileType;
using cache::FoundFile;
using cache::FoundFileList;
using testing_support::ListableBodies;
using testing_support::ScopedEnv;
using testing_support::ScratchFolder;

struct Boxes final : cache::FileTypeSwitches {
    std::set<FileType> ticked = {FileType::JPG, FileType::BMP,    FileType::GIF, FileType::PNG,
                                 FileType::ICO, FileType::Videos, FileType::WEBP};
    int value(FileType box) const override { return ticked.count(box) ? 1 : 0; }
};

Boxes Only(std::set<FileType> ticked) {
    Boxes b;
    b.ticked = std::move(ticked);
    return b;
}

// Each named folder of which nothing could be read, as it is told: "folder: why".
std::vector<std::string> Told(const std::vector<cache::FolderProblem>& folders) {
    std::vector<std::string> out;
    out.reserve(folders.size());
    for (const auto& f : folders)
        out.push_back(f.folder + ": " + f.reason);
    return out;
}

std::vector<FoundFile> RowsInAppendOrder(const FoundFileList& list) {
    std::vector<FoundFile> rows;
    for (cache::RowId r = 0; r < list.count(); ++r)
        rows.push_back(list.row(r));
    return rows;
}

// What the scan alone lists from the Wine prefix at `prefix`.
std::vector<FoundFile> WinInetRows(const std::string& prefix, const Boxes& boxes) {
    ScopedEnv wineprefix("WINEPREFIX", prefix.c_str());
    FoundFileList list;
    cache::getIECache(list, boxes);
    return RowsInAppendOrder(list);
}

// The browser rows are exactly the fixtures' listable bodies, each once, ticked, with the
// decoded size, a name of the real type and the entry file as its path.
void ExpectBrowserRows(const std::vector<FoundFile>& rows,
                       const std::vector<std::pair<std::string, std::string>>& fixtureHomes) {
    std::map<std::string, const FoundFile*> byUrl;
    for (const auto& r : rows) {
        EXPECT_NE(r.body, nullptr) << r.url;
        EXPECT_TRUE(byUrl.emplace(r.url, &r).second) << "listed twice: " << r.url;
    }
    std::size_t expected = 0;
    for (const auto& [name, home] : fixtureHomes) {
        for (const auto& e : ListableBodies(name)) {
            ++expected;
            SCOPED_TRACE(e.url);
            auto it = byUrl.find(e.url);
            ASSERT_NE(it, byUrl.end());
            const FoundFile& r = *it->second;
            EXPECT_TRUE(r.ticked);
            EXPECT_TRUE(r.fileName.ends_with("." + e.type)) << r.fileName;
            EXPECT_EQ(cache::ColumnText(r, cache::kSizeColumn), std::to_string(e.size));
            ASSERT_NE(r.body, nullptr);
            EXPECT_EQ(r.body->decodedSize, e.size);
            EXPECT_EQ(fs::path(r.path), fs::path(home) / e.entryFile);
            EXPECT_TRUE(r.cached && r.lastUsed); // every fixture cache keeps both
        }
    }
    EXPECT_EQ(rows.size(), expected);
    for (const auto& r : rows) {
        EXPECT_EQ(r.url.find("no-store"), std::string::npos) << r.url;
        EXPECT_FALSE(r.fileName.ends_with(".svg")) << "no box admits an SVG: " << r.url;
    }
}

void ExpectSameRows(const std::vector<FoundFile>& actual, const std::vector<FoundFile>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(expected[i].url);
        EXPECT_EQ(actual[i].url, expected[i].url);
        EXPECT_EQ(actual[i].fileName, expected[i].fileName);
        EXPECT_EQ(actual[i].size, expected[i].size);
        EXPECT_EQ(actual[i].path, expected[i].path);
        EXPECT_EQ(actual[i].ticked, expected[i].ticked);
        EXPECT_EQ(actual[i].body, nullptr);
    }
}

// Splits rows into the WinINet head and the browser tail, failing when they interleave.
std::pair<std::vector<FoundFile>, std::vector<FoundFile>>
Split(const std::vector<FoundFile>& rows) {
    std::size_t n = 0;
    while (n < rows.size() && !rows[n].body)
        ++n;
    for (std::size_t i = n; i < rows.size(); ++i)
        EXPECT_NE(rows[i].body, nullptr) << "a WinINet row after the browser rows: " << rows[i].url;
    return {{rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n)},
            {rows.begin() + static_cast<std::ptrdiff_t>(n), rows.end()}};
}

class RetrieveFixtures : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_WITHOUT_BROWSER_FIXTURES(); }
    std::string home(const std::string& name) {
        return testing_support::BrowserFixture(name) + "/home";
    }
};

TEST_F(RetrieveFixtures, TheUsersOwnHomeListsEachBrowsersPicturesAndVideos) {
    for (const std::string name : {"firefox", "chromium"}) {
        SCOPED_TRACE(name);
        ScopedEnv h("HOME", home(name).c_str());
        ScopedEnv c("XDG_CACHE_HOME", nullptr);
        ScopedEnv g("XDG_CONFIG_HOME", nullptr);
        testing_support::RecordingReporter reporter;
        FoundFileList list;
        list.append("left over from the last retrieve");
        const cache::RetrieveReport report = cache::RetrieveAll(list, Boxes{}, {});
        EXPECT_TRUE(reporter.reports.empty());
        EXPECT_TRUE(report.problems.empty());
        EXPECT_EQ(report.unreadable, 0u);
        ExpectBrowserRows(RowsInAppendOrder(list), {{name, home(name)}});
    }
}

TEST_F(RetrieveFixtures, AHomeWithAWinePrefixListsTheScansRowsFirstThenTheBrowsers) {
    testing_support::MergedHome merged;
    const auto wine = WinInetRows(merged.home() + "/.wine", Boxes{});
    ASSERT_EQ(wine.size(), 62u); // with the WEBP box, the prefix's WebP picture too
    for (const auto& r : wine) {
        // Committed at 14:00:24 UTC: the last-checked FAT time (2 s steps) and the access time.
        EXPECT_EQ(r.cached, 1796738424) << r.url;
        EXPECT_EQ(r.lastUsed, 1796738424) << r.url;
    }
    const std::vector<std::pair<std::string, std::string>> homes = {{"firefox", merged.home()},
                                                                    {"chromium", merged.home()}};

    {
        SCOPED_TRACE("the home named as a folder");
        FoundFileList list;
        cache::RetrieveAll(list, Boxes{}, cache::CacheSelection{{merged.home()}});
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        ExpectSameRows(head, wine);
        ExpectBrowserRows(tail, homes);
        // Named folders stand in for the prefix only while they are read.
        EXPECT_FALSE(platform::LocateUrlCache().has_value());
    }
    {
        SCOPED_TRACE("named folders replace the user's own prefix");
        ScopedEnv wineprefix("WINEPREFIX", (merged.home() + "/.wine").c_str());
        FoundFileList list;
        cache::RetrieveAll(list, Boxes{}, cache::CacheSelection{{home("firefox")}});
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        EXPECT_TRUE(head.empty());
        ExpectBrowserRows(tail, {{"firefox", home("firefox")}});
    }
    {
        SCOPED_TRACE("the user's own home");
        ScopedEnv h("HOME", merged.home().c_str());
        ScopedEnv c("XDG_CACHE_HOME", nullptr);
        ScopedEnv g("XDG_CONFIG_HOME", nullptr);
        FoundFileList list;
        cache::RetrieveAll(list, Boxes{}, {});
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        ExpectSameRows(head, wine);
        ExpectBrowserRows(tail, homes);
    }
}

TEST_F(RetrieveFixtures, EveryProgramsCacheInTheUsersHomeIsListedWithItsSource) {
    testing_support::MergedHome merged;
    const fs::path h = merged.home();
    const fs::path simple = h / ".cache/chromium/Default/Cache/Cache_Data";
    for (const char* app : {".config/discord/Cache/Cache_Data",
                            ".var/app/com.slack.Slack/config/Slack/Partitions/team-t7/Cache"})
        testing_support::CopyTree(simple, h / app);
    testing_support::CopyTree(h / ".cache/mozilla/firefox/pylwchot.default-esr",
                              h / ".cache/thunderbird/ab12cd34.default-release");
    ScopedEnv home("HOME", h.c_str());
    ScopedEnv c("XDG_CACHE_HOME", nullptr);
    ScopedEnv g("XDG_CONFIG_HOME", nullptr);
    FoundFileList list;
    cache::RetrieveAll(list, Boxes{}, {});
    std::map<std::string, std::size_t> bySource;
    for (const auto& r : RowsInAppendOrder(list))
        ++bySource[r.source];
    const std::size_t ff = ListableBodies("firefox").size(), cr = ListableBodies("chromium").size();
    EXPECT_EQ(bySource,
              (std::map<std::string, std::size_t>{{"Internet Explorer", 62},
                                                  {"Firefox default-esr", ff},
                                                  {"Chromium Default", cr},
                                                  {"Discord", cr},
                                                  {"Slack (Flatpak), partition team-t7", cr},
                                                  {"Thunderbird default-release", ff}}));
}

TEST_F(RetrieveFixtures, TheBoxesFilterTheBrowserRowsByTheirRealType) {
    testing_support::MergedHome merged;
    const cache::CacheSelection selection{{merged.home()}};
    struct Case {
        const char* what;
        std::set<FileType> ticked;
        std::set<std::string> extensions;
    } cases[] = {
        {"WEBP", {FileType::WEBP}, {"webp"}},
        {"Videos", {FileType::Videos}, {"mp4", "flv", "avi"}},
        {"JPG and GIF", {FileType::JPG, FileType::GIF}, {"jpg", "gif"}},
        {"none", {}, {}},
    };
    FoundFileList list;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Boxes boxes = Only(c.ticked);
        cache::RetrieveAll(list, boxes, selection);
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        ExpectSameRows(head, WinInetRows(merged.home() + "/.wine", boxes));
        std::size_t expected = 0;
        for (const std::string name : {"firefox", "chromium"})
            for (const auto& e : ListableBodies(name))
                expected += c.extensions.count(e.type);
        EXPECT_EQ(tail.size(), expected);
        for (const auto& r : tail) {
            const std::string ext = r.fileName.substr(r.fileName.rfind('.') + 1);
            EXPECT_TRUE(c.extensions.count(ext)) << r.fileName;
        }
    }
    // A JPEG served as image/png under a .png URL is a JPG: the PNG box does not take it.
    cache::RetrieveAll(list, Only({FileType::PNG}), selection);
    for (const auto& r : Split(RowsInAppendOrder(list)).second)
        EXPECT_EQ(r.url.find("mislabeled"), std::string::npos) << r.url;
}

TEST_F(RetrieveFixtures, ACopiedWindowsProfileGivesItsIndexAndItsFirefoxCache) {
    testing_support::CopiedWindowsProfile copy;
    for (const std::string& folder : {copy.profile(), copy.users()}) {
        SCOPED_TRACE(folder);
        const cache::CacheSet set = cache::CachesFor({{folder}});
        ASSERT_EQ(set.urlCacheIndexes.size(), 1u);
        EXPECT_EQ(fs::path(set.urlCacheIndexes[0]),
                  fs::path(copy.profile()) /
                      "AppData/Local/Microsoft/Windows/INetCache/IE/index.dat");
        ASSERT_EQ(set.browserCaches.size(), 1u);
        EXPECT_EQ(set.browserCaches[0].kind, browser::CacheKind::Firefox);
        EXPECT_EQ(fs::path(set.browserCaches[0].path), fs::path(copy.cache2()));
        EXPECT_TRUE(cache::CheckFolders({folder}).empty());

        FoundFileList list;
        cache::RetrieveAll(list, Boxes{}, {{folder}});
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        // The index's icons are listed from the copy, their files being where it says.
        EXPECT_FALSE(head.empty());
        for (const auto& r : head)
            EXPECT_EQ(
                r.path.rfind(copy.profile() + "/AppData/Local/Microsoft/Windows/INetCache/IE/", 0),
                0u)
                << r.path;
        ASSERT_EQ(tail.size(), ListableBodies("firefox").size());
        for (const auto& r : tail)
            EXPECT_EQ(r.path.rfind(copy.cache2() + "/entries/", 0), 0u) << r.path;
    }
}

TEST_F(RetrieveFixtures, ABrowserCacheThatFailsIsToldOnceAndTheOthersAreStillRead) {
    testing_support::MergedHome merged;
    testing_support::RecordingReporter reporter;
    int scans = 0;
    app::setStepHook([&](const std::string& tag, int line) {
        if (tag == cache::kBrowserScanTag && line == 102 && scans++ == 0)
            throw std::runtime_error("the first cache could not be read");
    });
    FoundFileList list;
    cache::RetrieveAll(list, Boxes{}, {{merged.home()}});
    app::setStepHook({});
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].tag, cache::kBrowserScanTag);
    EXPECT_EQ(reporter.reports[0].line, 102);
    // Firefox's cache comes first and was lost; Chromium's rows are all there.
    const auto tail = Split(RowsInAppendOrder(list)).second;
    ExpectBrowserRows(tail, {{"chromium", merged.home()}});
}

TEST_F(RetrieveFixtures, AFailureLocatingTheBrowserCachesLeavesTheWinInetPartAsItIs) {
    testing_support::MergedHome merged;
    ScopedEnv h("HOME", merged.home().c_str());
    ScopedEnv w("WINEPREFIX", (merged.home() + "/.wine").c_str());
    for (const cache::CacheSelection& selection :
         {cache::CacheSelection{}, cache::CacheSelection{{merged.home()}}}) {
        SCOPED_TRACE(selection.folders.size());
        FoundFileList whole;
        cache::RetrieveAll(whole, Boxes{}, selection);
        testing_support::RecordingReporter reporter;
        app::setStepHook([&](const std::string& tag, int line) {
            if (tag == cache::kBrowserScanTag && line == 100)
                throw std::bad_alloc();
        });
        FoundFileList list;
        cache::RetrieveAll(list, Boxes{}, selection);
        app::setStepHook({});
        ASSERT_EQ(reporter.reports.size(), 1u);
        EXPECT_EQ(reporter.reports[0].tag, cache::kBrowserScanTag);
        EXPECT_EQ(reporter.reports[0].line, 100);
        const auto [head, tail] = Split(RowsInAppendOrder(list));
        EXPECT_FALSE(head.empty());
        ExpectSameRows(head, Split(RowsInAppendOrder(whole)).first);
        EXPECT_TRUE(tail.empty());
    }
}

TEST_F(RetrieveFixtures,
       AFolderThatCouldNotBeLookedIntoIsToldUnderTheBrowsersTagAfterTheWinInetPart) {
    testing_support::CopiedWindowsProfile copy;
    ScratchFolder vanished;
    const auto good = cache::ClassifyNamedFolders({copy.profile()});
    ASSERT_EQ(good.size(), 1u);
    const cache::NamedFolder failed{
        vanished.str(), {}, std::make_exception_ptr(std::runtime_error("went away"))};
    FoundFileList alone;
    cache::RetrieveNamed(alone, Boxes{}, good);
    testing_support::RecordingReporter reporter;
    FoundFileList list;
    const auto report = cache::RetrieveNamed(list, Boxes{}, {failed, good[0]});
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].tag, cache::kBrowserScanTag);
    EXPECT_EQ(reporter.reports[0].line, 100);
    EXPECT_NE(reporter.reports[0].description.find("went away"), std::string::npos);
    // The other folder's index and cache are read as if it had been named alone.
    const auto [head, tail] = Split(RowsInAppendOrder(list));
    EXPECT_FALSE(head.empty());
    ExpectSameRows(head, Split(RowsInAppendOrder(alone)).first);
    EXPECT_EQ(tail.size(), ListableBodies("firefox").size());
    EXPECT_EQ(Told(report.unreadableFolders),
              std::vector<std::string>{vanished.str() + ": nothing in it could be read"});
    // Checked before a run, the failed look is not passed off as an empty folder.
    EXPECT_THROW(cache::CheckNamedFolders({failed}), std::runtime_error);
}

// A Firefox cache2 folder whose only entry is damaged.
std::string DamagedCache(const ScratchFolder& d, const std::string& at) {
    d.file(at + "/entries/" + std::string(40, 'A'), "not an entry");
    return d.str() + "/" + at;
}

TEST(RetrieveUnreadable, WhatCouldNotBeReadIsNamedNeverPassedOffAsEmpty) {
    ScratchFolder d;
    const std::string damaged = DamagedCache(d, "damaged/cache2");
    fs::create_directories(d.path() / "empty/cache2/entries");
    const std::string empty = d.str() + "/empty/cache2";
    FoundFileList list;
    const cache::RetrieveReport r = cache::RetrieveAll(list, Boxes{}, {{damaged, empty}});
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0].folder, damaged + "/entries/" + std::string(40, 'A'));
    EXPECT_EQ(r.problems[0].reason, "is damaged"); // its last bytes are no trailer at all
    // Nothing could be read from the first; the second is really empty.
    EXPECT_EQ(Told(r.unreadableFolders),
              std::vector<std::string>{damaged + ": nothing in it could be read"});

    // A folder that cannot be listed is named too (a file stands where the folder should;
    // unlike permission bits, that stops root as well).
    const std::string notListable = d.str() + "/file-for-entries/cache2";
    d.file("file-for-entries/cache2/entries", "a file");
    browser::ScanStats stats;
    browser::ScanCacheFolder({browser::CacheKind::Firefox, notListable}, &stats);
    ASSERT_EQ(stats.problems.size(), 1u);
    EXPECT_EQ(stats.problems[0].path, notListable + "/entries");
    EXPECT_NE(stats.problems[0].reason.find("cannot be read"), std::string::npos);

    // The window tells it all once, under the browser caches' tag.
    testing_support::RecordingReporter reporter;
    struct : cache::PointerTarget {
        void setMousePointer(int) override {}
    } pointer;
    cache::PushButton1_Click(list, Boxes{}, pointer, {{damaged, empty}});
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].tag, cache::kBrowserScanTag);
    EXPECT_NE(reporter.reports[0].description.find(damaged + "/entries/"), std::string::npos);
}

TEST(RetrieveUnreadable, AnEntriesFolderWithoutPermissionsIsNamed) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits do not stop root from reading";
    ScratchFolder d;
    const std::string cache2 = DamagedCache(d, "locked/cache2");
    fs::permissions(cache2 + "/entries", fs::perms::none);
    FoundFileList list;
    const cache::RetrieveReport r = cache::RetrieveAll(list, Boxes{}, {{cache2}});
    fs::permissions(cache2 + "/entries", fs::perms::owner_all);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_EQ(r.problems[0].folder, cache2 + "/entries");
    EXPECT_NE(r.problems[0].reason.find("Permission denied"), std::string::npos);
    EXPECT_EQ(Told(r.unreadableFolders),
              std::vector<std::string>{cache2 + ": nothing in it could be read"});
}

// A cache whose shards or block files cannot be read has had nothing read, however its index
// looks: the folder is named as unreadable and so is the file.
TEST(RetrieveUnreadable, ADamagedOrLinkedShardOrBlockFileIsNamedAndNothingWasRead) {
    ScratchFolder d;
    const auto sqlIndex = [&](const std::string& at, unsigned shards) {
        browser_test::WriteSqlIndex(d.path() / at, "Truncate", shards);
        return d.str() + "/" + at;
    };
    // 513 entries; small bodies are in data_1 with the records, larger ones in data_2.
    const auto blockfile = [&](const std::string& at, std::size_t body) {
        browser_test::BlockfileBuilder b;
        for (int i = 0; i < 513; ++i)
            b.addPicture("http://example.com/" + std::to_string(i) + ".png",
                         browser_test::Png(body));
        b.write(d.path() / at);
        return d.str() + "/" + at;
    };
    struct Case {
        std::string folder;
        std::string file; // the file named as the cause, and why
        std::string reason;
    };
    std::vector<Case> cases;
    {
        const std::string folder = sqlIndex("random/Cache", 1);
        std::string noise(8192, '\0');
        for (std::size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 2654435761u) >> 13);
        d.file("random/Cache/sqldb0", noise);
        cases.push_back({folder, folder + "/sqldb0", "is damaged"});
    }
    {
        const std::string folder = sqlIndex("links/Cache", 3);
        for (unsigned shard = 0; shard < 3; ++shard) {
            const auto real = d.path() / ("elsewhere/sqldb" + std::to_string(shard));
            fs::create_directories(real.parent_path());
            browser_test::WriteSqlShard(
                real, {browser_test::SqlBody("https://a.example/1.png", browser_test::Png(500))});
            fs::create_symlink(real, folder + "/sqldb" + std::to_string(shard));
        }
        cases.push_back({folder, folder + "/sqldb0",
                         "is a link, which Tamberlin does not follow inside a cache"});
    }
    {
        const std::string folder = blockfile("empty/Cache_Data", 300);
        fs::resize_file(folder + "/data_1", 0);
        cases.push_back({folder, folder + "/data_1", "is empty"});
    }
    {
        const std::string folder = blockfile("fifo/Cache_Data", 300);
        fs::remove(folder + "/data_1");
        ASSERT_EQ(::mkfifo((folder + "/data_1").c_str(), 0600), 0);
        cases.push_back({folder, folder + "/data_1", "is not a regular file"});
    }
    {
        const std::string folder = blockfile("bodies/Cache_Data", 2000);
        fs::rename(folder + "/data_2", d.path() / "data_2");
        fs::create_symlink(d.path() / "data_2", folder + "/data_2");
        cases.push_back({folder, folder + "/data_2",
                         "is a link, which Tamberlin does not follow inside a cache"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        FoundFileList list;
        const cache::RetrieveReport r = cache::RetrieveAll(list, Boxes{}, {{c.folder}});
        EXPECT_EQ(list.count(), 0u);
        EXPECT_EQ(Told(r.unreadableFolders),
                  std::vector<std::string>{c.folder + ": nothing in it could be read"});
        EXPECT_TRUE(std::any_of(r.problems.begin(), r.problems.end(),
                                [&](const cache::FolderProblem& p) {
                                    return p.folder == c.file && p.reason == c.reason;
                                }))
            << (r.problems.empty() ? "no problem named"
                                   : r.problems[0].folder + " " + r.problems[0].reason);
    }
}

TEST(RetrieveUnreadable, FoldersTheSearchForCachesCannotReadAreNamed) {
    ScratchFolder d;
    const fs::path home = d.path() / "home";
    fs::create_directories(home / ".cache/good/cache2/entries");
    // Locked; listed but not searchable, above a cache or as the cache folder itself.
    const fs::path locked = home / ".cache/locked", listed = home / ".cache/listed",
                   cache2 = home / ".cache/app/cache2";
    for (const fs::path& p :
         {locked / "app/cache2/entries", listed / "app/cache2/entries", cache2 / "entries"})
        fs::create_directories(p);
    // Everything else open to the ordinary user, whatever the umask.
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(d.path(), open);
    for (const auto& e : fs::recursive_directory_iterator(d.path()))
        fs::permissions(e.path(), open);
    fs::permissions(locked, fs::perms::none);
    const auto listOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(listed, listOnly);
    fs::permissions(cache2, listOnly);
    const auto told = testing_support::AsOrdinaryUser([&] {
        FoundFileList list;
        const cache::RetrieveReport r = cache::RetrieveAll(list, Boxes{}, {{home.string()}});
        std::string out;
        for (const auto& line : Told(r.problems))
            out += line + "\n";
        for (const auto& line : Told(r.unreadableFolders))
            out += line + "\n";
        return out + std::to_string(r.skippedFolders);
    });
    for (const fs::path& p : {locked, listed, cache2})
        fs::permissions(p, fs::perms::owner_all);
    ASSERT_TRUE(told);
    const std::string why = ": cannot be read (Permission denied)\n";
    EXPECT_EQ(*told, cache2.string() + why + listed.string() + why + locked.string() + why + "3");
}

TEST(RetrieveFolders, EachNamedFolderMustExistBeReadableAndHoldACache) {
    ScratchFolder d;
    const std::string missing = d.str() + "/missing";
    const std::string file = d.file("a-file", "x");
    const std::string empty = d.str() + "/empty";
    fs::create_directories(empty);
    // A Chromium cache copied from Windows (blockfile): found, so nothing to say about it.
    const std::string windowsChromium = d.str() + "/Chrome/Default/Cache";
    fs::create_directories(windowsChromium);
    for (const char* name : {"index", "data_0", "data_1", "data_2", "f_000001"})
        d.file(std::string("Chrome/Default/Cache/") + name, "x");
    // A WinINet cache folder named directly, with a trailing separator.
    const std::string ieFolder = d.str() + "/Content.IE5/";
    d.file("Content.IE5/index.dat", "not an index, but a file of that name");
    const auto problems =
        cache::CheckFolders({missing, file, empty, d.str() + "/Chrome/Default", ieFolder});
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].folder, missing);
    EXPECT_EQ(problems[0].reason, "does not exist");
    EXPECT_EQ(problems[1].reason, "is not a folder, nor a disk image");
    EXPECT_NE(problems[2].reason.find("holds no browser cache"), std::string::npos);

    // Nothing is listed from a folder without caches, and the user's prefix is not read
    // in its place.
    FoundFileList list;
    cache::RetrieveAll(list, Boxes{}, {{empty}});
    EXPECT_EQ(list.count(), 0u);

    // Read without that check (the window), a folder is told for what it is.
    const cache::RetrieveReport r = cache::RetrieveAll(list, Boxes{}, {{missing, file, empty}});
    EXPECT_EQ(Told(r.unreadableFolders),
              (std::vector<std::string>{missing + ": does not exist",
                                        file + ": is not a folder, nor a disk image",
                                        empty + ": nothing in it could be read"}));
}

TEST(RetrieveFolders, ALinkBelowANamedFolderNeverLeadsToAnIndexOutsideIt) {
    ScratchFolder d;
    // Elsewhere: a Wine prefix with its Internet Explorer index, and an index of its own.
    const std::string prefix = d.str() + "/elsewhere/prefix";
    d.file("elsewhere/prefix/drive_c/users/bob/AppData/Local/Microsoft/Windows/INetCache/IE/"
           "index.dat",
           "x");
    const std::string index = d.file("elsewhere/index.dat", "x");
    fs::create_directories(d.path() / "home/.config");
    fs::create_symlink(prefix, d.path() / "home/.wine");
    fs::create_directories(d.path() / "IE");
    fs::create_symlink(index, d.path() / "IE/index.dat");
    for (const std::string& folder : {d.str() + "/home", d.str() + "/IE"}) {
        SCOPED_TRACE(folder);
        const auto problems = cache::CheckFolders({folder});
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].reason.find("holds no browser cache"), std::string::npos);
    }
    // Named itself, the prefix is read.
    EXPECT_TRUE(cache::CheckFolders({prefix}).empty());
}

TEST(RetrieveFolders, AFolderThatCannotBeListedIsNamedAsUnreadable) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits do not stop root from reading";
    ScratchFolder d;
    const std::string locked = d.str() + "/locked";
    fs::create_directories(locked + "/.cache/mozilla");
    fs::permissions(locked, fs::perms::none);
    const auto locks = cache::CheckFolders({locked});
    fs::permissions(locked, fs::perms::owner_all);
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_NE(locks[0].reason.find("cannot be read"), std::string::npos) << locks[0].reason;
}

} // namespace
