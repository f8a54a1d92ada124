// Chromium's SQL cache: shards written with SQLite, well-formed and broken, and the real cache
// of the fixtures, which must come out of a scan and a full read exactly as it went in.
#include "cache/browser/browser.h"
#include "cache/browser/sql_cache.h"
#include "sha256.h"
#include "sql_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;

std::string Read(const browser::BodyLocation& body) {
    auto stream = browser::OpenDecodedBody(body);
    std::string out;
    char buffer[1000]; // smaller than a blob, so reads stop inside one
    for (std::ptrdiff_t got; (got = stream->read(buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            return "<failed: " + stream->error() + ">";
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

const std::string kGood = Png(5000, 'g'), kSplit = Jpeg(10000, 's');
const std::string kGoodUrl = "https://a.example/good.png";

// Three shards; the first always holds one good picture, the case writes more. `listed` are
// the rows besides that picture; `counts` sums up the scan's statistics.
struct Case {
    const char* what;
    std::function<void(const fs::path&)> write;
    std::map<std::string, std::string> listed; // URL -> body
    std::string counts;
};

std::string Counts(const browser::ScanStats& s) {
    return std::to_string(s.entries) + " entries, " + std::to_string(s.unreadable) +
           " unreadable, " + std::to_string(s.partial) + " partial" +
           (s.unsupported ? ", unsupported" : "");
}

void Good(const fs::path& folder, unsigned shard, std::vector<SqlResource> more = {}) {
    more.insert(more.begin(), SqlBody(kGoodUrl, kGood));
    WriteSqlShard(folder / ("sqldb" + std::to_string(shard)), more);
}

SqlResource Doomed() {
    SqlResource r = SqlBody("https://a.example/doomed.png", Png(300));
    r.doomed = true;
    return r;
}

SqlResource Gap() {
    SqlResource r = SqlBody("https://a.example/gap.png", Png(300));
    r.blobs.emplace_back(400, std::string(100, 'x')); // 300..400 never stored
    return r;
}

SqlResource Overlap() {
    // Pieces that overlap are joined once each byte is covered.
    SqlResource r = SqlBody("https://a.example/overlap.png", kGood.substr(0, 3000));
    r.blobs.emplace_back(2000, kGood.substr(2000));
    return r;
}

SqlResource BadCheckSum() {
    SqlResource r = SqlBody("https://a.example/bad.png", Png(300));
    r.badCheckSum = true;
    return r;
}

TEST(SqlCache, ShardsAndRowsThatCannotBeListedAreCountedAndTheRestRead) {
    const std::vector<Case> cases = {
        {"a doomed row is dead, not counted",
         [](const fs::path& f) { Good(f, 0, {Doomed()}); },
         {},
         "1 entries, 0 unreadable, 0 partial"},
        {"a gap between blobs is partial",
         [](const fs::path& f) { Good(f, 0, {Gap()}); },
         {},
         "2 entries, 0 unreadable, 1 partial"},
        {"a body split over several blobs, and overlapping blobs, are joined",
         [](const fs::path& f) {
             Good(f, 0, {SqlBody("https://a.example/split.jpg", kSplit, 999), Overlap()});
         },
         {{"https://a.example/split.jpg", kSplit}, {"https://a.example/overlap.png", kGood}},
         "3 entries, 0 unreadable, 0 partial"},
        {"a head whose check sum is wrong is unreadable",
         [](const fs::path& f) { Good(f, 0, {BadCheckSum()}); },
         {},
         "2 entries, 1 unreadable, 0 partial"},
        {"a damaged shard is skipped, the others read",
         [](const fs::path& f) { WriteFile(f / "sqldb1", std::string(8192, '\x5A')); },
         {},
         "1 entries, 1 unreadable, 0 partial"},
        {"a shard of another schema version is recognised, not read",
         [](const fs::path& f) {
             WriteSqlShard(f / "sqldb1", {SqlBody("https://a.example/v9.png", Png(300))}, 9);
         },
         {},
         "1 entries, 0 unreadable, 0 partial, unsupported"},
        {"a missing shard loses its entries only",
         [](const fs::path& f) { fs::remove(f / "sqldb2"); },
         {},
         "1 entries, 1 unreadable, 0 partial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path folder = dir.path() / "Cache_Data";
        WriteSqlIndex(folder);
        Good(folder, 0);
        WriteSqlShard(folder / "sqldb1", {});
        WriteSqlShard(folder / "sqldb2", {});
        c.write(folder);
        browser::ScanStats stats;
        const auto rows =
            browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()}, &stats);
        std::map<std::string, std::string> listed;
        for (const auto& row : rows) {
            listed[row.url] = Read(row.body);
            EXPECT_EQ(row.entryPath, (folder / "sqldb0").string());
            EXPECT_EQ(row.size, listed[row.url].size());
        }
        auto expected = c.listed;
        expected[kGoodUrl] = kGood;
        EXPECT_EQ(listed, expected);
        EXPECT_EQ(Counts(stats), c.counts);
    }
}

TEST(SqlCache, IndexFileNamesTheBackEndItsModeAndShards) {
    using browser::detail::ParseSqlIndex;
    EXPECT_EQ(ParseSqlIndex("SQLCacheTruncate3")->shards, 3u);
    EXPECT_FALSE(ParseSqlIndex("SQLCacheTruncate3")->wal);
    EXPECT_TRUE(ParseSqlIndex("SQLCacheWal12")->wal);
    for (const char* bad : {"SQLCache", "SQLCacheTruncate", "SQLCacheTruncate0",
                            "SQLCacheTruncate999", "SQLCacheDelete3", "SQLCacheWal3x", ""})
        EXPECT_FALSE(ParseSqlIndex(bad)) << bad;
}

TEST(SqlCache, AFolderWhoseNameIsNotAUriStillOpensTheShardItNames) {
    TempDir dir;
    // '?' and '#' would end a URI's path, '%' starts an escape, 0xFF is not UTF-8.
    const fs::path folder = dir.path() / "a?mode=rw#x%41\xff b" / "Cache_Data";
    WriteSqlIndex(folder, "Truncate", 1);
    Good(folder, 0);
    // A decoy at the name a careless URI would reach.
    WriteSqlShard(dir.path() / "a", {SqlBody("https://a.example/decoy.png", Png(300))});
    const auto rows =
        browser::ScanCacheFolder({browser::CacheKind::Chromium, folder.parent_path().string()});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].url, kGoodUrl);
    EXPECT_EQ(Read(rows[0].body), kGood);
    EXPECT_EQ(browser::detail::ImmutableUri("/x/a?b#c%d\xff"),
              "file:///x/a%3Fb%23c%25d%FF?mode=ro&immutable=1");
}

// Everything about the files a reader could change: bytes, size, inode, times.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        files[e.path().filename().string()] =
            Sha256Hex(ReadFile(e.path())) + " size " + std::to_string(st.st_size) + " inode " +
            std::to_string(st.st_ino) + " mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
            std::to_string(st.st_mtim.tv_nsec) + " ctime " + std::to_string(st.st_ctim.tv_sec) +
            "." + std::to_string(st.st_ctim.tv_nsec);
    }
    return files;
}

// A browser that died in the middle of a write: its hot -journal holds the pages it changed.
void LeaveHotJournal(const fs::path& shard) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(shard.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA journal_mode=TRUNCATE; PRAGMA cache_size=1; BEGIN;"
                     "UPDATE resources SET doomed = 1; DELETE FROM blobs;",
                     nullptr, nullptr, nullptr);
        std::_Exit(0); // no commit, no rollback
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

TEST(SqlCache, ReadingTheFixtureChangesNoFileEvenWithAHotJournal) {
    const fs::path fixture = fs::path(TAMBERLIN_FIXTURES) /
                             "browser-caches/chromium-sql/home/.cache/chromium/Default/Cache";
    if (!fs::is_directory(fixture))
        GTEST_SKIP() << "the shared browser-cache fixtures are not at " << fixture;
    TempDir dir;
    fs::copy(fixture, dir.path() / "Cache", fs::copy_options::recursive);
    const fs::path folder = dir.path() / "Cache/Cache_Data";
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    for (const auto& e : fs::directory_iterator(folder))
        fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add);
    LeaveHotJournal(folder / "sqldb1");
    ASSERT_GT(fs::file_size(folder / "sqldb1-journal"), 0u);
    const auto before = Snapshot(folder);

    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()}, &stats);
    for (const auto& row : rows)
        EXPECT_EQ(Read(row.body).size(), row.size) << row.url;
    EXPECT_GE(rows.size(), 5u); // sqldb0 and sqldb2 are untouched

    EXPECT_EQ(Snapshot(folder), before);
}

TEST(SqlCache, AWalModeShardIsReadFromAPrivateCopyThatIsThenRemoved) {
    TempDir dir;
    const fs::path folder = dir.path() / "Cache_Data";
    WriteSqlIndex(folder, "Wal", 1);
    WriteSqlShard(folder / "sqldb0",
                  {SqlBody(kGoodUrl, kGood), SqlBody("https://a.example/split.jpg", kSplit, 999)},
                  8, true);
    ASSERT_GT(fs::file_size(folder / "sqldb0-wal"), 0u);
    const auto before = Snapshot(folder);
    const auto temporaries = [] {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
            n += e.path().filename().string().starts_with("tamberlin-sqlcache-");
        return n;
    };
    const std::size_t copiesBefore = temporaries();

    const auto rows = browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()});
    ASSERT_EQ(rows.size(), 2u); // the rows live only in the log
    EXPECT_EQ(rows[0].body.segments[0].file, (folder / "sqldb0").string());
    EXPECT_EQ(Read(rows[0].body) + Read(rows[1].body), kGood + kSplit);
    EXPECT_EQ(Snapshot(folder), before);
    EXPECT_EQ(temporaries(), copiesBefore);
}

// The fuzzer reads a shard from its image in memory: that must read what the file reads.
TEST(SqlCache, AShardImageInMemoryReadsAsTheShardFileDoes) {
    TempDir dir;
    const fs::path shard = dir.path() / "sqldb0";
    WriteSqlShard(shard, {SqlBody(kGoodUrl, kGood), SqlBody("https://a.example/s.jpg", kSplit, 999),
                          Doomed(), Gap(), Overlap(), BadCheckSum()});
    const auto describe = [](browser::detail::SqlShard& s) {
        std::vector<std::string> rows;
        EXPECT_EQ(s.read([&](browser::detail::ParsedEntry& e, browser::detail::ParseError error,
                             std::int64_t id) {
            std::string d = std::to_string(id) + " " + std::to_string(static_cast<int>(error)) +
                            " " + e.url + " " + std::to_string(e.storedSize) + " " +
                            std::to_string(e.truncated) + " " + e.firstBytes;
            for (const auto& b : e.body)
                d += " " + b.file + "@" + std::to_string(b.offset) + "+" + std::to_string(b.length);
            rows.push_back(d);
        }),
                  browser::detail::ShardResult::Read);
        return rows;
    };
    browser::detail::SqlShard file, image;
    ASSERT_EQ(file.open(shard.string()), browser::detail::ShardResult::Read);
    ASSERT_EQ(image.openImage(ReadFile(shard), shard.string()), browser::detail::ShardResult::Read);
    const auto rows = describe(file);
    EXPECT_EQ(rows.size(), 5u); // the doomed row is passed over
    EXPECT_EQ(describe(image), rows);
    for (const std::string& bytes : {std::string(), std::string(4096, 'x')}) {
        browser::detail::SqlShard bad;
        EXPECT_EQ(bad.openImage(bytes, "x"), browser::detail::ShardResult::Damaged);
    }
}

} // namespace
