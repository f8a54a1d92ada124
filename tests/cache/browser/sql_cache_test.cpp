// Chromium's SQL cache: shards written with SQLite, well-formed and broken, and the real cache
// of the fixtures, which must come out of a scan and a full read exactly as it went in.
#include "cache/browser/browser.h"
#include "cache/browser/sql_cache.h"
#include "sha256.h"
#include "sql_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        GTEST_SKIP() << "the browser-cache test caches are not at " << fixture;
    TempDir dir;
    testing_support::CopyTree(fixture, dir.path() / "Cache");
    const fs::path folder = dir.path() / "Cache/Cache_Data";
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

std::vector<fs::path> ShardCopies() {
    std::vector<fs::path> copies;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
        if (e.path().filename().string().starts_with("tamberlin-sqlcache-"))
            copies.push_back(e.path());
    return copies;
}

TEST(SqlCache, AWalModeShardIsCopiedOnceAndTheCopyGoesWithTheLastRow) {
    TempDir dir;
    const fs::path folder = dir.path() / "Cache_Data";
    WriteSqlIndex(folder, "Wal", 1);
    // A brotli body's decoded size is known only by decoding it, which the scan reads from
    // the copy too.
    SqlResource encoded = SqlBody("https://a.example/br.png", Brotli(kGood));
    encoded.entry.headers = {"Content-Encoding: br"};
    WriteSqlShard(
        folder / "sqldb0",
        {SqlBody(kGoodUrl, kGood), SqlBody("https://a.example/split.jpg", kSplit, 999), encoded}, 8,
        true);
    ASSERT_GT(fs::file_size(folder / "sqldb0-wal"), 0u);
    const auto before = Snapshot(folder);
    const std::size_t copiesBefore = ShardCopies().size();

    auto rows = browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()});
    ASSERT_EQ(rows.size(), 3u); // the rows live only in the log
    EXPECT_EQ(rows[0].body.segments[0].file, (folder / "sqldb0").string());
    EXPECT_EQ(Snapshot(folder), before);
    // Bodies are read from the scan's copy: no second copy, and none of the log as it is now.
    EXPECT_EQ(ShardCopies().size(), copiesBefore + 1);
    fs::remove(folder / "sqldb0-wal");
    EXPECT_EQ(Read(rows[0].body) + Read(rows[1].body) + Read(rows[2].body), kGood + kSplit + kGood);
    EXPECT_EQ(ShardCopies().size(), copiesBefore + 1);
    rows.clear();
    EXPECT_EQ(ShardCopies().size(), copiesBefore);
}

void Exec(const fs::path& shard, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(shard.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// `resources` made again with `head` declared as `head` says, the rows kept.
std::string RemakeResources(const std::string& head) {
    const std::string columns =
        "res_id, last_used, hints, body_end, bytes_usage, doomed, check_sum, cache_key_hash, "
        "cache_key";
    return "PRAGMA writable_schema=0; CREATE TABLE r2(res_id NUMERIC, last_used, hints, "
           "body_end, bytes_usage, doomed, check_sum, cache_key_hash, cache_key, " +
           head + "); INSERT INTO r2(" + columns + ") SELECT " + columns +
           " FROM resources; DROP TABLE resources; ALTER TABLE r2 RENAME TO resources;";
}

TEST(SqlCache, HostileShardsCostLittleAndAreNamed) {
    struct Hostile {
        const char* what;
        std::string sql; // run on sqldb1, which holds a second good picture
        std::string counts;
    };
    const std::vector<Hostile> cases = {
        {"a head computed by the schema",
         RemakeResources("head GENERATED ALWAYS AS (replace(hex(zeroblob(30000000)),'00','ab'))"),
         "1 entries, 1 unreadable, 0 partial"},
        {"a hidden column of a virtual table",
         "DROP TABLE blobs; CREATE VIRTUAL TABLE blobs USING rtree(blob_id, start, end);",
         "1 entries, 1 unreadable, 0 partial"},
        {"a value larger than any head", "UPDATE meta SET value = zeroblob(20000000)",
         "1 entries, 1 unreadable, 0 partial"},
        {"a res_id between two integers, in one share or in two",
         RemakeResources("head") +
             "UPDATE resources SET res_id = 1000.5; UPDATE blobs SET res_id = 1000.5;"
             "INSERT INTO resources SELECT 1, last_used, hints, body_end, bytes_usage, 0, "
             "check_sum, cache_key_hash, cache_key, head FROM resources;"
             "INSERT INTO resources SELECT 2000, last_used, hints, body_end, bytes_usage, 0, "
             "check_sum, cache_key_hash, cache_key, head FROM resources WHERE res_id = 1;",
         "4 entries, 1 unreadable, 0 partial"},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path folder = dir.path() / "Cache_Data";
        WriteSqlIndex(folder, "Truncate", 2);
        Good(folder, 0);
        WriteSqlShard(folder / "sqldb1", {SqlBody("https://a.example/b.png", Png(400))});
        Exec(folder / "sqldb1", c.sql);
        for (const unsigned shares : {1u, 2u}) {
            browser::detail::SetScanShares(shares);
            browser::ScanStats stats;
            const auto rows =
                browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()}, &stats);
            browser::detail::SetScanShares(0);
            ASSERT_EQ(rows.size(), 1u) << shares << " shares";
            EXPECT_EQ(Read(rows[0].body), kGood);
            EXPECT_EQ(Counts(stats), c.counts) << shares << " shares";
        }
    }
}

TEST(SqlCache, AStretchedShardIsCopiedWithoutItsHolesAndOneTooLargeIsRefused) {
    TempDir dir;
    const fs::path folder = dir.path() / "Cache_Data";
    WriteSqlIndex(folder, "Wal", 2);
    for (const char* shard : {"sqldb0", "sqldb1"})
        WriteSqlShard(folder / shard, {SqlBody(kGoodUrl, kGood)}, 8, true);
    fs::resize_file(folder / "sqldb0", std::uint64_t{2} << 30);
    fs::resize_file(folder / "sqldb1", std::uint64_t{9} << 30);
    struct stat st {};
    ASSERT_EQ(::stat((folder / "sqldb0").c_str(), &st), 0);
    if (static_cast<std::uint64_t>(st.st_blocks) * 512 > (std::uint64_t{1} << 30))
        GTEST_SKIP() << "this file system keeps no holes";
    const auto copiesBefore = ShardCopies();

    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()}, &stats);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Read(rows[0].body), kGood);
    ASSERT_EQ(stats.problems.size(), 1u);
    EXPECT_EQ(stats.problems[0].path, (folder / "sqldb1").string());
    EXPECT_EQ(stats.problems[0].reason,
              "is larger than any cache keeps (more than 8 GiB with its log)");
    for (const fs::path& copy : ShardCopies())
        if (std::find(copiesBefore.begin(), copiesBefore.end(), copy) == copiesBefore.end()) {
            ASSERT_EQ(::stat((copy / "sqldb").c_str(), &st), 0);
            EXPECT_LT(st.st_blocks * 512, 1 << 20);
        }
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

TEST(SqlCache, AShardOpensByTheNameItHasHoweverItsFoldersAreNamedButNotThroughALinkOfItsOwn) {
    TempDir dir;
    // '?' and '#' would end a URI's path, '%' starts an escape, 0xFF is not UTF-8; a decoy
    // waits at the name a careless URI would reach. The folders are reached through links
    // (TMPDIR too, for the Wal shard's copy), while the link that is sqldb1 is refused.
    const fs::path real = dir.path() / "a?mode=rw#x%41\xff b" / "Cache_Data";
    WriteSqlShard(dir.path() / "a", {SqlBody("https://a.example/decoy.png", Png(300))});
    WriteSqlIndex(real, "Truncate", 2);
    Good(real, 0);
    WriteSqlShard(dir.path() / "elsewhere", {SqlBody("https://a.example/x.png", Png(300))});
    fs::create_symlink(dir.path() / "elsewhere", real / "sqldb1");
    fs::create_symlink(real.parent_path(), dir.path() / "link");
    const fs::path wal = dir.path() / "wal" / "Cache_Data";
    WriteSqlIndex(wal, "Wal", 1);
    WriteSqlShard(wal / "sqldb0", {SqlBody(kGoodUrl, kGood)}, 8, true);
    fs::create_directories(dir.path() / "tmp");
    fs::create_symlink(dir.path() / "tmp", dir.path() / "tmplink");
    const testing_support::ScopedEnv tmp("TMPDIR", (dir.path() / "tmplink").c_str());
    const fs::path throughLink = dir.path() / "link" / ".." / "wal";
    for (const fs::path& folder : {real, dir.path() / "link" / "Cache_Data", throughLink}) {
        SCOPED_TRACE(folder.string());
        browser::ScanStats stats;
        const auto rows =
            browser::ScanCacheFolder({browser::CacheKind::Sql, folder.string()}, &stats);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].url, kGoodUrl);
        EXPECT_EQ(Read(rows[0].body), kGood);
        EXPECT_EQ(stats.unreadable, folder == throughLink ? 0u : 1u);
    }
    EXPECT_EQ(browser::detail::ImmutableUri("/x/a?b#c%d\xff"),
              "file:///x/a%3Fb%23c%25d%FF?mode=ro&immutable=1");
}
