// Both entry formats, written by the builder: what is listed, what is counted as partial or
// unreadable, and hostile entries that must be skipped without stopping the walk.
#include "blockfile_builder.h"
#include "cache/browser/blockfile.h"
#include "cache/browser/browser.h"
#include "cache/browser/decode.h"
#include "cache/browser/entry.h"
#include "cache/browser/shares.h"
#include "cache/browser/source.h"
#include "cache/formats/blockfile_layout.h"
#include "cache_builder.h"
#include "sql_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sched.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace browser_test;
namespace fs = std::filesystem;

std::string Read(const browser::BodyLocation& body, std::string* error = nullptr) {
    auto stream = browser::OpenDecodedBody(body);
    std::string out;
    char buffer[4096];
    for (;;) {
        const auto got = stream->read(buffer, sizeof buffer);
        if (got < 0) {
            if (error)
                *error = stream->error();
            return "<failed>";
        }
        if (got == 0)
            return out;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

const browser::BrowserFile* Find(const std::vector<browser::BrowserFile>& rows,
                                 const std::string& url) {
    for (const auto& r : rows)
        if (r.url == url)
            return &r;
    return nullptr;
}

FirefoxEntry Ff(const std::string& path, std::string body,
                const std::string& head = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n") {
    FirefoxEntry e;
    e.key = "O^partitionKey=%28https%2Cexample.org%29,:https://example.com" + path;
    e.body = std::move(body);
    e.responseHead = head;
    return e;
}

class FirefoxEntries : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path cache2 = MakeFirefoxCache(dir.path() / "cache2");
    unsigned next = 1;
    void put(const std::string& bytes) { PutFirefox(cache2, FirefoxName(next++), bytes); }
    std::vector<browser::BrowserFile> scan(browser::ScanStats& stats) {
        return browser::ScanCacheFolder({browser::CacheKind::Firefox, cache2.string()}, &stats);
    }
};

TEST_F(FirefoxEntries, EveryMetadataVersionAndBodyShapeIsRead) {
    for (std::uint32_t v = 1; v <= 4; ++v) {
        FirefoxEntry e = Ff("/v" + std::to_string(v) + ".png", Png(100 + v));
        e.version = v;
        e.lastFetched = 1700000100 + v;
        e.lastModified = v == 3 ? 0 : 1700000000 + v; // 0: never written, so no time
        put(BuildFirefoxEntry(e));
    }
    // Alternative data after the body is not part of it.
    FirefoxEntry alt = Ff("/alt.png", Png(300));
    alt.altData = std::string(5000, 'A');
    put(BuildFirefoxEntry(alt));
    // Past one 256 KiB chunk (two chunk hashes) and past the first tail read.
    put(BuildFirefoxEntry(Ff("/big.jpg", Jpeg(300000), "HTTP/1.1 200 OK\r\n")));
    // Encoded bodies: their decoded size is the one listed.
    put(BuildFirefoxEntry(Ff("/g.bmp", Gzip(Png(5000)),
                             "HTTP/1.1 200 OK\r\ncontent-encoding: GZIP\r\nContent-Length: " +
                                 std::to_string(Gzip(Png(5000)).size()) + "\r\n")));
    put(BuildFirefoxEntry(Ff("/chain.png", Brotli(Gzip(Png(7000))),
                             "HTTP/1.1 200 OK\r\nContent-Encoding: gzip, br\r\n")));
    put(BuildFirefoxEntry(
        Ff("/raw.png", RawDeflate(Png(900)), "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n")));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    EXPECT_EQ(stats.entries, 9u);
    EXPECT_EQ(stats.unreadable, 0u);
    ASSERT_EQ(rows.size(), 9u);
    for (std::uint32_t v = 1; v <= 4; ++v) {
        const auto* r = Find(rows, "https://example.com/v" + std::to_string(v) + ".png");
        ASSERT_NE(r, nullptr) << v;
        EXPECT_EQ(Read(r->body), Png(100 + v));
        // Last modified is when the entry was stored; last fetched when it was last used.
        EXPECT_EQ(r->cached, v == 3 ? std::nullopt : std::optional<std::int64_t>(1700000000 + v));
        EXPECT_EQ(r->lastUsed, 1700000100 + v);
    }
    EXPECT_EQ(Read(Find(rows, "https://example.com/alt.png")->body), Png(300));
    const auto* big = Find(rows, "https://example.com/big.jpg");
    EXPECT_EQ(big->size, 300000u);
    EXPECT_EQ(Read(big->body), Jpeg(300000));
    const auto* g = Find(rows, "https://example.com/g.bmp");
    EXPECT_EQ(g->fileName, "g.png"); // the sniffed type wins over the URL
    EXPECT_EQ(g->size, 5000u);
    EXPECT_EQ(Read(g->body), Png(5000));
    EXPECT_EQ(Read(Find(rows, "https://example.com/chain.png")->body), Png(7000));
    EXPECT_EQ(Find(rows, "https://example.com/chain.png")->size, 7000u);
    EXPECT_EQ(Read(Find(rows, "https://example.com/raw.png")->body), Png(900));
}

TEST_F(FirefoxEntries, OnlyCompleteSuccessfulPicturesAndVideosAreListed) {
    put(BuildFirefoxEntry(Ff("/ok.png", Png(64))));
    put(BuildFirefoxEntry(Ff("/moved.png", Png(64), "HTTP/1.1 301 Moved\r\nLocation: /x\r\n")));
    put(BuildFirefoxEntry(Ff("/nochange.png", "", "HTTP/1.1 304 Not Modified\r\n")));
    put(BuildFirefoxEntry(Ff("/empty.png", "", "HTTP/1.1 200 OK\r\n")));
    put(BuildFirefoxEntry(Ff("/page.html", "<html><body>hi</body></html>", "HTTP/1.1 200 OK\r\n")));
    FirefoxEntry nohead = Ff("/nohead.png", Png(64), "");
    put(BuildFirefoxEntry(nohead));
    FirefoxEntry about = Ff("", Png(64));
    about.key = ":about:home";
    put(BuildFirefoxEntry(about));
    FirefoxEntry ftp = Ff("", Png(64));
    ftp.key = "a,:ftp://example.com/x.png";
    put(BuildFirefoxEntry(ftp));
    // Partial: a range that does not cover the resource, and a body shorter than announced.
    put(BuildFirefoxEntry(
        Ff("/range.mp4", Png(100),
           "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/5000\r\n")));
    put(BuildFirefoxEntry(
        Ff("/short.png", Png(100), "HTTP/1.1 200 OK\r\nContent-Length: 101\r\n")));
    // A complete range response is listed.
    put(BuildFirefoxEntry(Ff("/whole.png", Png(100),
                             "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/100\r\n")));
    // Bodies that cannot be decoded here, and encrypted entries: counted as unreadable.
    put(BuildFirefoxEntry(
        Ff("/dict.png", "\xFF\x44\x43\x42xxxx", "HTTP/1.1 200 OK\r\nContent-Encoding: dcb\r\n")));
    put(BuildFirefoxEntry(
        Ff("/broken.png", "not gzip at all", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n")));
    FirefoxEntry secret = Ff("/secret.png", Png(64));
    secret.encrypted = true;
    put(BuildFirefoxEntry(secret));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(Find(rows, "https://example.com/ok.png"), nullptr);
    EXPECT_NE(Find(rows, "https://example.com/whole.png"), nullptr);
    EXPECT_EQ(stats.entries, 14u);
    EXPECT_EQ(stats.partial, 2u);
    EXPECT_EQ(stats.unreadable, 3u);
}

TEST_F(FirefoxEntries, OneUrlInSeveralPartitionsIsOneRowUnlessTheBodiesDiffer) {
    for (const char* site : {"a.org", "b.org", "c.org"}) {
        FirefoxEntry e = Ff("/same.png", Png(500));
        e.key =
            std::string("O^partitionKey=%28https%2C") + site + "%29,:https://example.com/same.png";
        put(BuildFirefoxEntry(e));
    }
    FirefoxEntry changed = Ff("/same.png", Png(500, 'q'));
    changed.key = "a,:https://example.com/same.png";
    put(BuildFirefoxEntry(changed));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(stats.duplicates, 2u);
    EXPECT_EQ(stats.listed, 2u);
}

TEST_F(FirefoxEntries, HostileEntriesAreSkippedAndTheWalkGoesOn) {
    const std::string good = BuildFirefoxEntry(Ff("/good.png", Png(200)));
    const auto withWord = [](std::string f, std::size_t fromEnd, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[f.size() - fromEnd + static_cast<std::size_t>(i)] =
                static_cast<char>(v >> (24 - 8 * i));
        return f;
    };
    put(withWord(good, 4, 0x7FFFFFF0));    // metadata offset beyond the file
    put(withWord(good, 8, 7));             // a trailer version nobody wrote
    put(good.substr(0, good.size() - 30)); // cut in the middle of the metadata
    put(good.substr(0, 5));                // shorter than any trailer
    put("");                               // empty
    // The key length in the header pointing far past the metadata.
    {
        std::string f = good;
        const std::size_t header = 200 + 4 + 2; // body, hash, one chunk hash
        f = withWord(f, f.size() - header - 24, 0x00FFFFFF);
        put(f);
    }
    // A header version that disagrees with the trailer, and an unknown one.
    {
        FirefoxEntry e = Ff("/v.png", Png(200));
        std::string f = BuildFirefoxEntry(e);
        f[200 + 4 + 2 + 3] = 3;
        put(f);
        f[200 + 4 + 2 + 3] = 9;
        put(f);
    }
    // The elements missing their last NUL, and an alt-data offset past the body.
    {
        FirefoxEntry e = Ff("/e.png", Png(200));
        std::string f = BuildFirefoxEntry(e);
        f[f.size() - 9] = 'x';
        put(f);
        e.elements.emplace_back("alt-data", "1;999999,x");
        put(BuildFirefoxEntry(e));
    }
    // Not files: a link to a picture elsewhere and a FIFO (which must not block the scan).
    WriteFile(dir.path() / "outside.bin", good);
    fs::create_symlink(dir.path() / "outside.bin", cache2 / "entries" / FirefoxName(next++));
    ASSERT_EQ(::mkfifo((cache2 / "entries" / FirefoxName(next++)).c_str(), 0600), 0);
    put(good);

    browser::ScanStats stats;
    const auto rows = scan(stats);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].url, "https://example.com/good.png");
    EXPECT_EQ(stats.entries, 13u);
    EXPECT_EQ(stats.unreadable, 12u);
}

TEST(FirefoxVersions, OnlyAPlausibleNumberIsAnUnknownVersionGarbageIsDamage) {
    const std::string good = BuildFirefoxEntry(Ff("/good.png", Png(200)));
    const std::size_t headerVersion = 200 + 4 + 2; // body, hash, one chunk hash
    const struct {
        std::size_t at; // where the big-endian word goes, from the start
        std::uint32_t word;
        browser::detail::ParseError expected;
    } cases[] = {
        {good.size() - 8, 5, browser::detail::ParseError::UnknownVersion},
        {good.size() - 8, 0x6e747279, browser::detail::ParseError::Damaged}, // "ntry"
        {good.size() - 8, 0, browser::detail::ParseError::Damaged},
        {headerVersion, 9, browser::detail::ParseError::UnknownVersion},
        {headerVersion, 0xFFFFFFFF, browser::detail::ParseError::Damaged},
    };
    for (const auto& c : cases) {
        std::string f = good;
        for (std::size_t i = 0; i < 4; ++i)
            f[c.at + i] = static_cast<char>(c.word >> (24 - 8 * i));
        browser::detail::ParsedEntry parsed;
        const browser::detail::MemorySource source(
            {reinterpret_cast<const std::uint8_t*>(f.data()), f.size()});
        EXPECT_EQ(browser::detail::ParseFirefoxEntry(source, "x", parsed), c.expected)
            << c.at << " " << c.word;
    }
}

TEST_F(FirefoxEntries, ADecompressionBombIsRefusedWithoutHoldingItsOutput) {
    // A bitmap header, then frames of 16 MiB of zeros each, together past the cap on
    // decoded bodies.
    const std::string member = Zstd(std::string(16u << 20, '\0'));
    std::string bomb = Zstd(std::string("BM\0\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18));
    for (std::uint64_t i = 0; i * (16u << 20) <= browser::kMaxDecodedBody; ++i)
        bomb += member;
    put(BuildFirefoxEntry(Ff("/bomb.bmp", bomb, "HTTP/1.1 200 OK\r\nContent-Encoding: zstd\r\n")));
    browser::ScanStats stats;
    EXPECT_TRUE(scan(stats).empty());
    EXPECT_EQ(stats.unreadable, 1u);

    browser::BodyLocation body;
    const std::string entry = (cache2 / "entries" / FirefoxName(1)).string();
    browser::detail::ReadOnlyFile file;
    ASSERT_TRUE(file.open(entry));
    body.segments.push_back({entry, 0, bomb.size(), file.identity()});
    body.encodings = {"zstd"};
    body.decodedSize = browser::kMaxDecodedBody + 1;
    std::string error;
    EXPECT_EQ(Read(body, &error), "<failed>");
    EXPECT_NE(error.find("decodes to more than"), std::string::npos) << error;
}

TEST_F(FirefoxEntries, AnEntryChangedAfterTheScanFailsToReadInsteadOfGivingOtherBytes) {
    put(BuildFirefoxEntry(Ff("/a.png", Png(10000))));
    put(BuildFirefoxEntry(
        Ff("/b.png", Gzip(Png(10000)), "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n")));
    put(BuildFirefoxEntry(Ff("/c.png", Png(10000))));
    browser::ScanStats stats;
    const auto rows = scan(stats);
    ASSERT_EQ(rows.size(), 3u);
    // Shrunk below the body, rewritten with a different body, removed.
    fs::resize_file(rows[0].entryPath, 5000);
    WriteFile(rows[1].entryPath,
              BuildFirefoxEntry(
                  Ff("/b.png", Gzip(Png(20000)), "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n")));
    fs::remove(rows[2].entryPath);
    for (const auto& row : rows) {
        std::string error;
        EXPECT_EQ(Read(row.body, &error), "<failed>") << row.url;
        EXPECT_EQ(error, "the cache entry changed since it was listed") << row.url;
    }
}

// Bytes that do not compress, after a picture's signature.
std::string NoisyPng(std::size_t n) {
    std::string s = Png(n);
    std::uint64_t x = 88172645463325252ull;
    for (std::size_t i = 16; i < s.size(); ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        s[i] = static_cast<char>(x);
    }
    return s;
}

TEST(ChangedEntries, AFileSwappedOrRewrittenAtAnyPointOfAReadNeverGivesOtherBytes) {
    using browser::detail::StoredReadPoint;
    // What browsers do to an entry file: rename another over it, cut it, write more to it,
    // rewrite it in place, delete it.
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> changes = {
        {"renamed over",
         [](const fs::path& p) {
             WriteFile(p.string() + ".new", BuildFirefoxEntry(Ff("/a.png", Png(400000))));
             fs::rename(p.string() + ".new", p);
         }},
        {"truncated", [](const fs::path& p) { fs::resize_file(p, fs::file_size(p) / 2); }},
        {"extended", [](const fs::path& p) { fs::resize_file(p, fs::file_size(p) + 10); }},
        {"rewritten in place",
         [](const fs::path& p) {
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(20);
             f.write("changed", 7);
         }},
        {"deleted", [](const fs::path& p) { fs::remove(p); }},
    };
    // The descriptor being read keeps the bytes that were listed once a file is open, so a
    // rename or delete after that point changes nothing that is read; a change to the file
    // itself is seen whenever it happens.
    const std::map<std::pair<std::string, StoredReadPoint>, bool> stillTheListedBody = {
        {{"renamed over", StoredReadPoint::BetweenReads}, true},
        {{"renamed over", StoredReadPoint::AfterLastByte}, true},
        {{"deleted", StoredReadPoint::BetweenReads}, true},
        {{"deleted", StoredReadPoint::AfterLastByte}, true},
    };
    const std::string picture = NoisyPng(300000);
    for (const std::string coding : {"", "gzip"})
        for (const auto& [name, change] : changes)
            for (StoredReadPoint point :
                 {StoredReadPoint::BeforeOpen, StoredReadPoint::BetweenReads,
                  StoredReadPoint::AfterLastByte}) {
                SCOPED_TRACE(std::string(name) + " at point " +
                             std::to_string(static_cast<int>(point)) + ", coding '" + coding + "'");
                TempDir dir;
                const fs::path cache2 = MakeFirefoxCache(dir.path() / "cache2");
                PutFirefox(cache2, FirefoxName(1),
                           BuildFirefoxEntry(
                               Ff("/a.png", coding.empty() ? picture : Gzip(picture),
                                  "HTTP/1.1 200 OK\r\nContent-Encoding: " + coding + "\r\n")));
                const fs::path entry = cache2 / "entries" / FirefoxName(1);
                // Written long ago, so that a rewrite now shows in the modification time.
                fs::last_write_time(entry, fs::last_write_time(entry) - std::chrono::hours(1));
                const auto rows =
                    browser::ScanCacheFolder({browser::CacheKind::Firefox, cache2.string()});
                ASSERT_EQ(rows.size(), 1u);
                int changed = 0;
                const auto& doChange = change; // (a structured binding is not captured)
                browser::detail::SetStoredReadHook([&](StoredReadPoint at) {
                    if (at == point && changed++ == 0)
                        doChange(entry);
                });
                std::string error;
                const std::string read = Read(rows[0].body, &error);
                browser::detail::SetStoredReadHook({});
                EXPECT_EQ(changed > 0, true);
                if (stillTheListedBody.count({name, point}) != 0) {
                    EXPECT_TRUE(read == picture) << error;
                } else {
                    EXPECT_EQ(read, "<failed>");
                    EXPECT_EQ(error, "the cache entry changed since it was listed");
                }
            }
}

// A blockfile block file or an SQL shard holds many entries, and a browser writes others
// while a body is saved: that changes the file, not the body, which is saved as listed. A
// write to the entry's own record or rows, before its body is read, while it is or after its
// last byte, refuses it.
class SharedFile {
  public:
    SharedFile(browser::CacheKind kind, const fs::path& folder, bool wal = false)
        : kind_(kind), folder_(folder) {
        if (kind == browser::CacheKind::Blockfile) {
            // Bodies in each kind of block file: 1 KiB blocks of data_1 (beside the records),
            // 4 KiB blocks of data_3, and a range response's child in data_3.
            b.addPicture("http://example.com/small.png", Png(600, 's'));
            b.addPicture("http://example.com/picture.png", NoisyPng(12000));
            std::string video(10000, 'v');
            video.replace(0, 12,
                          std::string("\0\0\0\x1c"
                                      "ftypisom",
                                      12));
            b.addSparse("http://example.com/clip.mp4", video);
            b.write(folder);
        } else {
            WriteSqlIndex(folder, wal ? "Wal" : "Truncate", 1);
            WriteSqlShard(folder / "sqldb0",
                          {SqlBody("https://a.example/picture.png", NoisyPng(12000)),
                           SqlBody("https://a.example/split.jpg", Jpeg(10000, 's'), 999)},
                          8, wal);
        }
    }
    // The same cache, copied to `folder`.
    SharedFile copyTo(const fs::path& folder) const {
        fs::copy(folder_, folder, fs::copy_options::recursive);
        // Written long ago, so that a write now shows in the modification time.
        for (const auto& e : fs::directory_iterator(folder))
            fs::last_write_time(e.path(), fs::last_write_time(e.path()) - std::chrono::hours(1));
        SharedFile copy = *this;
        copy.folder_ = folder;
        return copy;
    }
    // Another entry written into the same files.
    void writeAnother() {
        if (kind_ == browser::CacheKind::Blockfile) {
            b.addPicture("http://example.com/other-small.png", Png(700, 'o'));
            b.addPicture("http://example.com/other.png", NoisyPng(9000));
            b.write(folder_);
        } else {
            sql("INSERT INTO resources SELECT NULL, last_used, hints, body_end, bytes_usage, "
                "doomed, check_sum, cache_key_hash, cache_key || 'x', head FROM resources "
                "WHERE res_id = 1; INSERT INTO blobs SELECT NULL, last_insert_rowid(), start, "
                "end, check_sum, blob FROM blobs WHERE res_id = 1");
        }
    }
    // Sets a field of every listed entry's record (a sparse child's, not its parent's).
    void patchRecords(std::size_t at, std::uint32_t value) {
        browser::detail::BlockfileMemory files;
        files.files = b.files;
        for (const auto& e : browser::detail::ReadBlockfile(files).entries)
            if (e.streamSizes[1] > 0)
                b.patchEntry(e.address, at, value);
        b.write(folder_);
    }
    void sql(const std::string& statements) const {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((folder_ / "sqldb0").c_str(), &db), SQLITE_OK);
        const std::string unsynced = "PRAGMA synchronous=OFF; " + statements;
        EXPECT_EQ(sqlite3_exec(db, unsynced.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

  private:
    browser::CacheKind kind_;
    fs::path folder_;
    BlockfileBuilder b;
};

TEST(SharedFiles, WritesOfOtherEntriesLeaveABodyToBeSavedAndWritesToItsOwnRecordRefuseIt) {
    using browser::detail::StoredReadPoint;
    const auto blockfile = browser::CacheKind::Blockfile, sql = browser::CacheKind::Sql;
    namespace bf = formats::blockfile;
    const struct {
        const char* what;
        browser::CacheKind kind;
        bool wal;
        std::function<void(SharedFile&)> change;
        bool saved;
    } cases[] = {
        {"another entry written into the block files", blockfile, false,
         [](SharedFile& f) { f.writeAnother(); }, true},
        {"its record's body size changed", blockfile, false,
         [](SharedFile& f) { f.patchRecords(bf::kEntryStreamSizesAt + 4, 500); }, false},
        {"its record's body moved", blockfile, false,
         [](SharedFile& f) { f.patchRecords(bf::kEntryStreamAddressesAt + 4, 0); }, false},
        {"its entry doomed", blockfile, false,
         [](SharedFile& f) { f.patchRecords(bf::kEntryStateAt, 2); }, false},
        {"its record's block taken by an entry of another key", blockfile, false,
         [](SharedFile& f) { f.patchRecords(bf::kEntryHashAt, 0x12345678); }, false},
        {"another resource written into the shard", sql, false,
         [](SharedFile& f) { f.writeAnother(); }, true},
        {"another resource written into a shard in Wal mode", sql, true,
         [](SharedFile& f) { f.writeAnother(); }, true},
        {"its blobs rewritten", sql, false,
         [](SharedFile& f) {
             f.sql("UPDATE blobs SET blob = randomblob(length(blob)), check_sum = check_sum + 1");
         },
         false},
        {"its resource doomed", sql, false,
         [](SharedFile& f) { f.sql("UPDATE resources SET doomed = 1"); }, false},
        {"its resource removed", sql, false,
         [](SharedFile& f) { f.sql("DELETE FROM resources; DELETE FROM blobs"); }, false},
    };
    const StoredReadPoint points[] = {StoredReadPoint::BeforeOpen, StoredReadPoint::BetweenReads,
                                      StoredReadPoint::AfterLastByte};
    for (const auto& c : cases) {
        TempDir written;
        const SharedFile original(c.kind, written.path() / "Cache_Data", c.wal);
        for (const StoredReadPoint point : points)
            for (std::size_t i = 0; i < (c.kind == blockfile ? 3u : 2u); ++i) {
                TempDir dir;
                const fs::path folder = dir.path() / "Cache_Data";
                SharedFile file = original.copyTo(folder);
                const auto rows = browser::ScanCacheFolder({c.kind, folder.string()});
                ASSERT_EQ(rows.size(), c.kind == blockfile ? 3u : 2u);
                const browser::BrowserFile& row = rows[i];
                SCOPED_TRACE(std::string(c.what) + " at point " +
                             std::to_string(static_cast<int>(point)) + ", " + row.url);
                const std::string listed = Read(row.body);
                ASSERT_EQ(listed.size(), row.size);
                int changed = 0;
                browser::detail::SetStoredReadHook([&](StoredReadPoint at) {
                    if (at == point && changed++ == 0)
                        c.change(file);
                });
                std::string error;
                const std::string read = Read(row.body, &error);
                browser::detail::SetStoredReadHook({});
                if (changed == 0)
                    continue; // read in one go: there is no point between two reads
                if (c.saved) {
                    EXPECT_TRUE(read == listed) << error;
                } else {
                    EXPECT_EQ(read, "<failed>");
                    EXPECT_EQ(error, browser::kChangedSinceListed);
                }
            }
    }
}

struct EncodedBody {
    std::string path, coding, stored; // no coding: a picture as it is
    std::string length = {};          // a Content-Length header's value, if any
};

// Writes bodies into a cache of the kind, with the headers the four formats keep alike; a
// blockfile cache also gets `sparse` as a range response in sparse children.
browser::CacheFolder WriteEncodedBodies(browser::CacheKind kind, const fs::path& folder,
                                        const std::vector<EncodedBody>& bodies,
                                        const std::string& sparse = "") {
    const auto key = [](const std::string& path) {
        return "1/0/_dk_https://example.org https://example.org https://example.com" + path;
    };
    BlockfileBuilder blocks;
    std::vector<SqlResource> rows;
    if (kind == browser::CacheKind::Firefox)
        MakeFirefoxCache(folder);
    unsigned n = 0;
    for (const auto& [path, coding, stored, length] : bodies) {
        ++n;
        std::vector<std::string> headers = {coding.empty() ? "Content-Type: image/png"
                                                           : "Content-Encoding: " + coding};
        if (!length.empty())
            headers.push_back("Content-Length: " + length);
        if (kind == browser::CacheKind::Firefox) {
            PutFirefox(
                folder, FirefoxName(n),
                BuildFirefoxEntry(Ff(path, stored, "HTTP/1.1 200 OK\r\n" + headers[0] + "\r\n")));
        } else if (kind == browser::CacheKind::Chromium) {
            ChromiumEntry e;
            e.key = key(path);
            e.body = stored;
            e.headers = headers;
            fs::create_directories(folder);
            WriteFile(folder / (ChromiumName(n) + "_0"), BuildChromiumEntry(e));
        } else if (kind == browser::CacheKind::Blockfile) {
            blocks.add({key(path), BuildResponseInfo("HTTP/1.1 200 OK", headers), stored, {}});
        } else {
            rows.push_back(SqlBody("https://example.com" + path, stored));
            rows.back().entry.key = key(path);
            rows.back().entry.headers = headers;
        }
    }
    if (kind == browser::CacheKind::Blockfile && !sparse.empty())
        blocks.addSparse("https://example.com/clip.mp4", sparse);
    if (kind == browser::CacheKind::Blockfile)
        blocks.write(folder);
    if (kind == browser::CacheKind::Sql) {
        fs::create_directories(folder);
        WriteSqlIndex(folder, "Truncate", 1);
        WriteSqlShard(folder / "sqldb0", rows);
    }
    return {kind, folder.string()};
}

TEST(EveryFormat, AnEncodedBodyIsListedAtTheSizeItDecodesToOrCannotBeSaved) {
    const std::string big = NoisyPng(65000), small = Png(13000);
    const struct {
        EncodedBody body;
        std::uint64_t listed;
        bool reads;
    } cases[] = {
        {{"/one.png", "gzip", Gzip(big)}, big.size(), true},
        // The last member's trailer counts only that member.
        {{"/two.png", "gzip", Gzip(big) + Gzip(small)}, big.size() + small.size(), true},
        {{"/tiny.png", "gzip", Gzip(Png(100))}, 100, true},
        // A small first member: the last one's size passes for the whole, and is wrong.
        {{"/fooled.png", "gzip", Gzip(Png(100)) + Gzip(big)}, big.size(), false},
        // zstd's frame header states the first frame's size: the same, the other way round.
        {{"/z.png", "zstd", Zstd(big)}, big.size(), true},
        {{"/z-two.png", "zstd", Zstd(Png(100)) + Zstd(big)}, 100 + big.size(), true},
        {{"/z-fooled.png", "zstd", Zstd(big) + Zstd(small)}, big.size(), false},
    };
    std::vector<EncodedBody> bodies;
    for (const auto& c : cases)
        bodies.push_back(c.body);
    for (const auto kind : {browser::CacheKind::Firefox, browser::CacheKind::Chromium,
                            browser::CacheKind::Blockfile, browser::CacheKind::Sql}) {
        TempDir dir;
        const auto rows =
            browser::ScanCacheFolder(WriteEncodedBodies(kind, dir.path() / "c", bodies));
        for (const auto& c : cases) {
            const std::string what =
                c.body.path + " in format " + std::to_string(static_cast<int>(kind));
            const auto* row = Find(rows, "https://example.com" + c.body.path);
            ASSERT_NE(row, nullptr) << what;
            EXPECT_EQ(row->size, c.listed) << what;
            std::string error;
            const std::string read = Read(row->body, &error);
            EXPECT_EQ(read != "<failed>", c.reads) << what << ": " << error;
            if (!c.reads) {
                EXPECT_EQ(error, "the cache entry changed since it was listed") << what;
            }
        }
    }
}

TEST(EveryFormat, ABodyChromiumCompressedItselfIsWholeWhenItsFrameHoldsTheLengthSent) {
    // Sent gzipped, stored zstd-compressed by the cache with the headers as sent: the frame
    // header says how many bytes were sent, against Content-Length, without decoding.
    const std::string png = NoisyPng(20000), sent = Gzip(png);
    const std::vector<EncodedBody> bodies = {
        {"/whole.png", "gzip", Zstd(sent), std::to_string(sent.size())},
        {"/short.png", "gzip", Zstd(sent), std::to_string(sent.size() + 1)},
    };
    for (const auto kind :
         {browser::CacheKind::Chromium, browser::CacheKind::Blockfile, browser::CacheKind::Sql}) {
        TempDir dir;
        browser::ScanStats stats;
        const auto rows =
            browser::ScanCacheFolder(WriteEncodedBodies(kind, dir.path() / "c", bodies), &stats);
        ASSERT_EQ(rows.size(), 1u) << static_cast<int>(kind);
        EXPECT_EQ(rows[0].url, "https://example.com/whole.png");
        EXPECT_EQ(rows[0].size, png.size());
        EXPECT_TRUE(Read(rows[0].body) == png);
        EXPECT_EQ(stats.partial, 1u);
    }
}

// One share per core the process may run on: bound to one (taskset, a container's cpuset), a
// second thread would only take turns with the first.
TEST(EveryFormat, ASharePerCoreTheProcessMayRunOn) {
    cpu_set_t all;
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned bound = browser::detail::SharesFor(100000);
    ::sched_setaffinity(0, sizeof all, &all);
    EXPECT_EQ(bound, 1u);
    EXPECT_EQ(browser::detail::SharesFor(100000),
              std::min(4u, static_cast<unsigned>(CPU_COUNT(&all))));
}

// Shares take chunks of the entries as they get to them: a slow one takes fewer, and what
// they took is put back in the order of the entries.
TEST(EveryFormat, ASlowShareTakesFewerChunksAndTheOrderStays) {
    const auto slow = std::this_thread::get_id(); // the first share runs on this thread
    std::vector<browser::BrowserFile> rows;
    browser::ScanStats stats;
    std::atomic<std::size_t> readHere{0};
    browser::detail::InChunks(
        3, 400,
        [&](browser::detail::Share& share, std::size_t k) {
            if (std::this_thread::get_id() == slow) {
                ++readHere;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ++share.stats.entries;
            if (k % 7 == 0)
                share.stats.problems.push_back({std::to_string(k), "damaged"});
            else if (k % 5 != 0) // (no row for these)
                share.rows.emplace_back().url = std::to_string(k);
        },
        rows, stats);
    std::string got, want;
    for (const auto& row : rows)
        got += row.url + " ";
    for (const auto& problem : stats.problems)
        got += problem.path + "! ";
    for (std::size_t k = 0; k < 400; ++k)
        if (k % 7 != 0 && k % 5 != 0)
            want += std::to_string(k) + " ";
    for (std::size_t k = 0; k < 400; k += 7)
        want += std::to_string(k) + "! ";
    EXPECT_EQ(got, want);
    EXPECT_EQ(stats.entries, 400u);
    EXPECT_LT(readHere, 134u); // fewer than the third dealing them out at first would give
}

TEST(EveryFormat, ReadingInSharesAtOnceGivesWhatOnePassGives) {
    std::vector<EncodedBody> bodies;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        if (i % 10 == 3)
            bodies.push_back({"/bad" + n + ".png", "gzip", "not gzip at all"}); // named problems
        else if (i % 10 == 7)
            bodies.push_back(
                {"/p" + std::to_string(i - 2) + ".png", "", Png(498 + i, 'x')}); // twice
        else if (i % 5 == 1)
            bodies.push_back({"/g" + n + ".png", "gzip", Gzip(Png(3000 + i))});
        else
            bodies.push_back({"/p" + n + ".png", "", Png(500 + i, 'x')});
    }
    std::string video(3 * 1024 * 1024 + 100, 'v');
    video.replace(0, 12,
                  std::string("\0\0\0\x1c"
                              "ftypisom",
                              12));
    for (const auto kind : {browser::CacheKind::Firefox, browser::CacheKind::Chromium,
                            browser::CacheKind::Blockfile, browser::CacheKind::Sql}) {
        TempDir dir;
        const auto folder = WriteEncodedBodies(kind, dir.path() / "c", bodies, video);
        std::string one, shared;
        for (const unsigned shares : {1u, 3u}) {
            browser::detail::SetScanShares(shares);
            browser::ScanStats stats;
            std::string& out = shares == 1 ? one : shared;
            for (const auto& row : browser::ScanCacheFolder(folder, &stats))
                out += row.url + " " + std::to_string(row.size) + " " + row.entryPath + "\n";
            out += std::to_string(stats.entries) + " entries, " + std::to_string(stats.listed) +
                   " listed, " + std::to_string(stats.unreadable) + " unreadable, " +
                   std::to_string(stats.duplicates) + " duplicates\n";
            for (const auto& problem : stats.problems)
                out += problem.path + ": " + problem.reason + "\n";
        }
        browser::detail::SetScanShares(0);
        EXPECT_EQ(shared, one) << static_cast<int>(kind);
        EXPECT_NE(one.find("4 unreadable, 4 duplicates"), std::string::npos) << one;
        if (kind == browser::CacheKind::Blockfile) {
            EXPECT_NE(one.find("clip.mp4 " + std::to_string(video.size())), std::string::npos);
        }
    }
}

// --- Chromium ---------------------------------------------------------------------------

ChromiumEntry Cr(const std::string& path, std::string body,
                 std::vector<std::string> headers = {"Content-Type: image/png"}) {
    ChromiumEntry e;
    e.key = "1/0/_dk_https://example.org https://example.org https://example.com" + path;
    e.body = std::move(body);
    e.headers = std::move(headers);
    return e;
}

class ChromiumEntries : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path folder = dir.path() / "Cache_Data";
    unsigned next = 1;
    std::string put(const std::string& bytes, const std::string& suffix = "_0") {
        std::string name = ChromiumName(next++);
        WriteFile(folder / (name + suffix), bytes);
        return name;
    }
    std::vector<browser::BrowserFile> scan(browser::ScanStats& stats) {
        return browser::ScanCacheFolder({browser::CacheKind::Chromium, folder.string()}, &stats);
    }
};

TEST_F(ChromiumEntries, StreamFilesOfEveryShapeAreRead) {
    put(BuildChromiumEntry(Cr("/plain.png", Png(300))));
    ChromiumEntry old = Cr("/old.png", Png(301));
    old.oldPickle = true;
    old.keySha256 = false;
    old.key = "https://example.com/old.png"; // keys from before the split cache
    put(BuildChromiumEntry(old));
    ChromiumEntry longKey = Cr("/" + std::string(6000, 'k') + ".jpg", Jpeg(5000), {});
    put(BuildChromiumEntry(longKey));
    put(BuildChromiumEntry(Cr("/z.svg", Zstd("<svg xmlns='http://www.w3.org/2000/svg'/>"),
                              {"Content-Type: image/svg+xml", "Content-Encoding: zstd"})));
    // A body the cache compressed for itself, the headers as sent.
    put(BuildChromiumEntry(Cr("/stored.png", Zstd(Png(4000)), {"Content-Length: 4000"})));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    EXPECT_EQ(stats.unreadable, 0u);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(Read(Find(rows, "https://example.com/plain.png")->body), Png(300));
    EXPECT_EQ(Read(Find(rows, "https://example.com/old.png")->body), Png(301));
    const auto* l = Find(rows, longKey.key.substr(longKey.key.rfind(' ') + 1));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(Read(l->body), Jpeg(5000));
    EXPECT_EQ(l->fileName.size(), 255u);
    EXPECT_TRUE(l->fileName.ends_with("k.jpg"));
    EXPECT_EQ(Find(rows, "https://example.com/z.svg")->extension, "svg");
    const auto* s = Find(rows, "https://example.com/stored.png");
    EXPECT_EQ(s->size, 4000u);
    EXPECT_EQ(Read(s->body), Png(4000));
}

// A file is read by its two ends, the tail's length learnt from the entries before it: every
// mix of key, body and metadata around those lengths, in one share so that each entry follows
// the others' needs, reads the same.
TEST(FirefoxAndSimpleCache, EveryLengthOfKeyBodyAndMetadataIsReadFromTheFilesEnds) {
    const std::string noisy = NoisyPng(40000);
    const struct {
        std::string body, coding;
        std::uint64_t listed;
    } bodies[] = {{Png(300), "", 300},
                  {Png(5000), "", 5000},
                  {Jpeg(100000), "", 100000},
                  {Gzip(noisy), "gzip", noisy.size()},
                  {Gzip(Png(3000)), "gzip", 3000}};
    browser::detail::SetScanShares(1);
    for (const auto kind : {browser::CacheKind::Firefox, browser::CacheKind::Chromium}) {
        TempDir dir;
        const fs::path folder = kind == browser::CacheKind::Firefox
                                    ? MakeFirefoxCache(dir.path() / "cache2")
                                    : dir.path() / "Cache_Data";
        std::map<std::string, std::uint64_t> listed;
        unsigned n = 0;
        for (const std::size_t keyPad : {0, 1480, 5000})
            for (const std::size_t headerPad : {0, 900, 3000, 20000})
                for (std::size_t b = 0; b < std::size(bodies); ++b) {
                    const std::string path = "/" + std::string(keyPad, 'k') +
                                             std::to_string(headerPad) + "-" + std::to_string(b) +
                                             ".png";
                    std::vector<std::string> headers = {"Content-Type: image/png",
                                                        "X-Pad: " + std::string(headerPad, 'p')};
                    if (!bodies[b].coding.empty())
                        headers.push_back("Content-Encoding: " + bodies[b].coding);
                    listed["https://example.com" + path] = bodies[b].listed;
                    if (kind == browser::CacheKind::Chromium) {
                        WriteFile(folder / (ChromiumName(++n) + "_0"),
                                  BuildChromiumEntry(Cr(path, bodies[b].body, headers)));
                        continue;
                    }
                    std::string head = "HTTP/1.1 200 OK\r\n";
                    for (const std::string& h : headers)
                        head += h + "\r\n";
                    PutFirefox(folder, FirefoxName(++n),
                               BuildFirefoxEntry(Ff(path, bodies[b].body, head)));
                }
        browser::ScanStats stats;
        const auto rows = browser::ScanCacheFolder({kind, folder.string()}, &stats);
        EXPECT_EQ(stats.unreadable, 0u);
        ASSERT_EQ(rows.size(), listed.size());
        for (const auto& row : rows) {
            const std::string what = row.url.substr(row.url.size() - 12);
            EXPECT_EQ(row.size, listed[row.url]) << what;
            EXPECT_EQ(Read(row.body).size(), row.size) << what;
        }
    }
    browser::detail::SetScanShares(0);
}

TEST_F(ChromiumEntries, RangeResponsesAreRebuiltFromTheirSparseFile) {
    const std::string video = std::string("\0\0\0\x18"
                                          "ftypisom",
                                          12) +
                              std::string(20000, 'v');
    const auto rangeEntry = [&](const std::string& path, const std::string& contentRange) {
        ChromiumEntry e =
            Cr(path, "", {"Content-Type: video/mp4", "Content-Range: " + contentRange});
        e.statusLine = "HTTP/1.1 206 Partial Content";
        return e;
    };
    // Out of order and overlapping ranges that join up from 0: complete.
    ChromiumEntry whole = rangeEntry("/whole.mp4", "bytes 0-20011/20012");
    const std::string a = put(BuildChromiumEntry(whole));
    WriteFile(folder / (a + "_s"), BuildChromiumSparse(whole.key, {{9000, video.substr(9000)},
                                                                   {0, video.substr(0, 10000)}}));
    // A gap: only the first part is known.
    ChromiumEntry gap = rangeEntry("/gap.mp4", "bytes 0-20011/20012");
    const std::string b = put(BuildChromiumEntry(gap));
    WriteFile(folder / (b + "_s"), BuildChromiumSparse(gap.key, {{0, video.substr(0, 10000)},
                                                                 {12000, video.substr(12000)}}));
    // A sparse file of another key, and one whose range runs past its end.
    ChromiumEntry other = rangeEntry("/other.mp4", "bytes 0-20011/20012");
    const std::string c = put(BuildChromiumEntry(other));
    WriteFile(folder / (c + "_s"), BuildChromiumSparse(whole.key, {{0, video}}));
    ChromiumEntry cut = rangeEntry("/cut.mp4", "bytes 0-20011/20012");
    const std::string d = put(BuildChromiumEntry(cut));
    WriteFile(folder / (d + "_s"), BuildChromiumSparse(cut.key, {{0, video}}).substr(0, 5000));
    // Complete, but in more ranges than any real writer leaves: one per byte.
    ChromiumEntry many = rangeEntry("/many.mp4", "bytes 0-20011/20012");
    std::vector<std::pair<std::uint64_t, std::string>> bytes;
    for (std::size_t i = 0; i < video.size(); ++i)
        bytes.emplace_back(i, video.substr(i, 1));
    WriteFile(folder / (put(BuildChromiumEntry(many)) + "_s"),
              BuildChromiumSparse(many.key, bytes));
    // The flag that marks a body the browser did not finish.
    ChromiumEntry truncated = Cr("/t.png", Png(100));
    truncated.truncated = true;
    put(BuildChromiumEntry(truncated));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].url, "https://example.com/whole.mp4");
    EXPECT_EQ(rows[0].extension, "mp4");
    EXPECT_EQ(rows[0].size, video.size());
    EXPECT_EQ(Read(rows[0].body), video);
    EXPECT_EQ(stats.partial, 2u);
    EXPECT_EQ(stats.unreadable, 3u);
}

TEST_F(ChromiumEntries, HostileStreamFilesAreSkippedAndTheWalkGoesOn) {
    const std::string good = BuildChromiumEntry(Cr("/good.png", Png(200)));
    const auto patch = [](std::string f, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return f;
    };
    put(patch(good, 0, 0x12345678));               // initial magic
    put(patch(good, 8, 6));                        // entry version
    put(patch(good, 12, 0x7FFFFFFF));              // key longer than the file
    put(patch(good, good.size() - 24, 0));         // last EOF record's magic
    put(patch(good, good.size() - 8, 0x7FFFFFF0)); // stream 0 larger than the file
    put(patch(good, good.size() - 8, 8));          // stream 0 too short: EOF of stream 1 missed
    put(good.substr(0, good.size() - 1));          // a byte short
    put(good.substr(0, 40));
    // Response info that is not a pickle, without a status line anywhere.
    {
        std::string f = good;
        const std::size_t s0 = f.size() - 24 - 32 - (f[f.size() - 8] & 0xFF) -
                               std::size_t(f[f.size() - 7] & 0xFF) * 256;
        for (std::size_t i = s0; i < f.size() - 24 - 32; ++i)
            f[i] = 'Z';
        put(f);
    }
    WriteFile(folder / "todelete_0000000000000001_0_1", good); // doomed: not an entry
    put(good);
    // A folder that looks like a blockfile cache but whose index is not one: named as unreadable.
    TempDir windows;
    for (const char* n : {"index", "data_0", "data_1", "data_2", "data_3", "f_000001"})
        WriteFile(windows.path() / n, std::string(8192, '\x01'));

    browser::ScanStats stats;
    const auto rows = scan(stats);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].url, "https://example.com/good.png");
    EXPECT_EQ(stats.entries, 10u);
    EXPECT_EQ(stats.unreadable, 8u); // the last of the damaged ones has no response: not listed

    browser::ScanStats blockfile;
    EXPECT_TRUE(browser::ScanCacheFolder({browser::CacheKind::Chromium, windows.path().string()},
                                         &blockfile)
                    .empty());
    EXPECT_TRUE(blockfile.unsupported);
}

} // namespace
