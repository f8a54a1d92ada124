// The times each real cache keeps, checked against the same fields read here on their own
// (straight from the files, or through SQLite), or, where that would mean writing a second
// parser of the format, against the day the fixtures were written.
#include "cache/browser/browser.h"
#include "cache/browser/entry.h"
#include "cache/browser/source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sqlite3.h>

namespace {

namespace fs = std::filesystem;
using Times = std::map<std::string, std::pair<std::int64_t, std::int64_t>>; // URL: cached, used

const fs::path kCaches = fs::path(TAMBERLIN_FIXTURES) / "browser-caches";
constexpr std::int64_t kFixtureDay = 1796688000;        // 2026-12-08 00:00 UTC
constexpr std::int64_t kEpochDelta = 11644473600000000; // 1601 -> 1970, microseconds

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
std::uint64_t Be32(const std::string& s, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}
std::int64_t Le64(const std::string& s, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 8; i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return static_cast<std::int64_t>(v);
}

std::vector<browser::BrowserFile> Scan(browser::CacheKind kind, const fs::path& folder) {
    browser::ScanStats stats;
    auto rows = browser::ScanCacheFolder({kind, folder.string()}, &stats);
    EXPECT_EQ(rows.size(), stats.listed);
    EXPECT_GE(rows.size(), 12u) << folder;
    return rows;
}

class CacheTimes : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(kCaches))
            GTEST_SKIP() << "the browser-cache test caches are not at " << kCaches;
    }
};

TEST_F(CacheTimes, FirefoxGivesLastModifiedAsCachedAndLastFetchedAsLastUsed) {
    for (const auto& row :
         Scan(browser::CacheKind::Firefox, kCaches / "firefox/home/.cache/mozilla/firefox/"
                                                     "pylwchot.default-esr/cache2")) {
        // Trailer [version][metadata offset D]; the header follows the hash and chunk hashes.
        const std::string f = Slurp(row.entryPath);
        const std::uint64_t d = Be32(f, f.size() - 4) & 0x7FFFFFFF;
        const std::size_t h = static_cast<std::size_t>(d + 4 + 2 * ((d + 262143) / 262144));
        EXPECT_EQ(row.lastUsed, static_cast<std::int64_t>(Be32(f, h + 8))) << row.url;
        EXPECT_EQ(row.cached, static_cast<std::int64_t>(Be32(f, h + 12))) << row.url;
        EXPECT_GE(*row.cached, kFixtureDay);
    }
}

TEST_F(CacheTimes, SqlGivesTheResourcesLastUsedColumn) {
    const fs::path folder = kCaches / "chromium-sql/home/.cache/chromium/Default/Cache/Cache_Data";
    std::map<std::string, std::int64_t> lastUsed; // by URL, the key's last word
    for (const char* shard : {"sqldb0", "sqldb1", "sqldb2"}) {
        sqlite3* db = nullptr;
        const std::string uri = "file:" + (folder / shard).string() + "?mode=ro&immutable=1";
        ASSERT_EQ(
            sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
            SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT cache_key, last_used FROM resources", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const std::string key = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            lastUsed[key.substr(key.rfind(' ') + 1)] =
                (sqlite3_column_int64(st, 1) - kEpochDelta) / 1000000;
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    for (const auto& row : Scan(browser::CacheKind::Sql, folder)) {
        EXPECT_EQ(row.lastUsed, lastUsed.at(row.url)) << row.url;
        // The head's response time: stored on the day, and not after the entry's last use.
        ASSERT_TRUE(row.cached) << row.url;
        EXPECT_GE(*row.cached, kFixtureDay);
        EXPECT_LE(*row.cached, *row.lastUsed);
    }
}

TEST_F(CacheTimes, SimpleCacheGivesTheResponseTimeAndTheIndexsLastUsed) {
    const fs::path folder = kCaches / "chromium/home/.cache/chromium/Default/Cache/Cache_Data";
    // the-real-index: 40 bytes of header, then (hash, last used, size) records.
    const std::string index = Slurp(folder / "index-dir/the-real-index");
    std::map<std::string, std::int64_t> byFile;
    for (std::size_t at = 40; at + 24 + 8 <= index.size(); at += 24) {
        char name[24];
        std::snprintf(name, sizeof name, "%016llx",
                      static_cast<unsigned long long>(Le64(index, at)));
        byFile[std::string(name) + "_0"] = (Le64(index, at + 8) - kEpochDelta) / 1000000;
    }
    for (const auto& row : Scan(browser::CacheKind::Chromium, folder)) {
        EXPECT_EQ(row.lastUsed, byFile.at(fs::path(row.entryPath).filename().string()));
        ASSERT_TRUE(row.cached) << row.url;
        EXPECT_GE(*row.cached, kFixtureDay);
        EXPECT_LT(*row.cached, kFixtureDay + 86400);
    }

    // A damaged index is no source of times at all.
    auto read = [](const std::string& bytes) {
        return browser::detail::ReadSimpleIndexLastUsed(browser::detail::MemorySource(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    };
    std::string bad = index;
    EXPECT_EQ(read(bad).size(), 15u);
    for (std::size_t at : {std::size_t{9}, std::size_t{16}, std::size_t{52}, bad.size() - 1}) {
        bad = index;
        bad[at] = static_cast<char>(bad[at] ^ 1); // the magic, the version, a time, the CRC'd tail
        EXPECT_TRUE(read(bad).empty()) << at;
    }
    EXPECT_TRUE(read(index.substr(0, 100)).empty()); // cut short

    // An index naming a hash twice: the later record counts.
    const browser::detail::LastUsedTimes times({{5, 1}, {3, 2}, {5, 3}, {9, 4}});
    EXPECT_EQ(times.size(), 3u);
    for (const auto& [hash, time] :
         std::vector<std::pair<std::uint64_t, std::optional<std::int64_t>>>{
             {3, 2}, {5, 3}, {9, 4}, {4, std::nullopt}, {0, std::nullopt}, {10, std::nullopt}})
        EXPECT_EQ(times.find(hash), time) << hash;
}

TEST_F(CacheTimes, BlockfileGivesTheResponseTimeAndTheRankingsLastUsed) {
    const fs::path data = kCaches / "chromium-blockfile/home/AppData/Local";
    for (const char* profile :
         {"Google/Chrome/User Data/Default", "Microsoft/Edge/User Data/Profile 1"}) {
        for (const auto& row :
             Scan(browser::CacheKind::Blockfile, data / profile / "Cache/Cache_Data")) {
            ASSERT_TRUE(row.cached && row.lastUsed) << row.url;
            EXPECT_GE(*row.cached, kFixtureDay);
            EXPECT_LT(*row.lastUsed, kFixtureDay + 86400);
            EXPECT_LE(*row.cached, *row.lastUsed) << row.url;
        }
    }
}

} // namespace
