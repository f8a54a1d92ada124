// WebKit caches found and scanned as the other browsers' are: the real GNOME Web and WebKitGTK
// program caches, and copies of them damaged the ways a copied disk or a live cache is.
#include "cache/browser/browser.h"
#include "cache/browser/walk.h"
#include "expected_tsv.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

const fs::path kFixture = fs::path(TAMBERLIN_FIXTURES) / "browser-caches/webkit";
const std::set<std::string> kListable = {"jpg", "png", "gif", "bmp", "ico", "webp", "svg", "mp4"};

struct Body {
    std::string type, sha256, entryFile;
    std::uint64_t size = 0;
};

// The listable bodies of the fixture whose entry file is below `cacheFolder`, by URL.
std::map<std::string, Body> Listable(const std::string& cacheFolder) {
    std::map<std::string, Body> bodies;
    for (const auto& f : testdata::ReadExpectedTsv(kFixture / "expected.tsv"))
        if (kListable.count(f[4]) && f[7].starts_with(cacheFolder))
            bodies[f[0]] = {f[4], f[6], f[7], std::stoull(f[5])};
    return bodies;
}

std::string Sha256Of(const browser::BrowserFile& row, std::string& error) {
    auto stream = browser::OpenDecodedBody(row.body);
    std::string bytes, chunk(4093, '\0');
    for (std::ptrdiff_t got; (got = stream->read(chunk.data(), chunk.size())) != 0;) {
        if (got < 0) {
            error = stream->error();
            return "";
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return browser_test::Sha256Hex(bytes);
}

class WebKitCaches : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(kFixture))
            GTEST_SKIP() << "the WebKit test caches are not at " << kFixture;
    }
};

// Every file below a folder with its SHA-256, to show a scan leaves the cache as it was.
std::map<std::string, std::string> TreeHashes(const fs::path& folder) {
    std::map<std::string, std::string> hashes;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            hashes[e.path().string()] = browser_test::Sha256Hex(testing_support::ReadAll(e.path()));
    return hashes;
}

TEST_F(WebKitCaches, BothProgramsCachesAreFoundNamedAndListWhatWasServed) {
    const fs::path home = kFixture / "home";
    const auto before = TreeHashes(home);
    const auto caches = browser::FindUserCaches({home.string(), "", ""});
    ASSERT_EQ(caches.size(), 2u);
    EXPECT_EQ(browser::ClassifyFolder(home.string()).browserCaches, caches);
    const std::map<std::string, std::string> kSources = {
        {".cache/epiphany/WebKitCache", "GNOME Web"},
        {".cache/webkit-viewer/WebKitCache", "webkit-viewer"}};
    for (const auto& cache : caches) {
        const std::string relative = fs::relative(cache.path, home).string();
        SCOPED_TRACE(relative);
        EXPECT_EQ(cache.kind, browser::CacheKind::WebKit);
        EXPECT_EQ(browser::ClassifyFolder(cache.path).browserCaches,
                  std::vector<browser::CacheFolder>{cache}); // the cache folder named itself
        ASSERT_TRUE(kSources.count(relative));
        EXPECT_EQ(cache.source, kSources.at(relative));

        browser::ScanStats stats;
        const auto rows = browser::ScanCacheFolder(cache, &stats);
        const auto expected = Listable(relative);
        EXPECT_EQ(rows.size(), expected.size());
        EXPECT_EQ(stats.unreadable, 0u);
        EXPECT_EQ(stats.partial, 0u);
        EXPECT_TRUE(stats.problems.empty());
        for (const auto& row : rows) {
            SCOPED_TRACE(row.url);
            ASSERT_TRUE(expected.count(row.url));
            const Body& e = expected.at(row.url);
            EXPECT_EQ(row.extension, e.type);
            EXPECT_EQ(row.size, e.size); // stored decoded, although sent gzip
            EXPECT_EQ(fs::path(row.entryPath), home / e.entryFile);
            EXPECT_EQ(row.source, kSources.at(relative));
            EXPECT_TRUE(row.cached.has_value());
            EXPECT_FALSE(row.lastUsed.has_value());
            std::string error;
            EXPECT_EQ(Sha256Of(row, error), e.sha256) << error;
        }
    }
    EXPECT_EQ(TreeHashes(home), before);
}

// A copy of the GNOME Web cache, for damaging.
class WebKitCopy : public WebKitCaches {
  protected:
    void SetUp() override {
        WebKitCaches::SetUp();
        if (IsSkipped())
            return;
        testing_support::CopyTree(kFixture / "home/.cache/epiphany/WebKitCache", cache());
        version_ = cache() / "Version 17";
    }
    fs::path cache() const { return scratch_.path() / "WebKitCache"; }
    // The record (not a -blob) of the row for `urlEnd`, and the blob it points at (if any).
    const browser::BrowserFile& row(const std::vector<browser::BrowserFile>& rows,
                                    const std::string& urlEnd) {
        for (const auto& r : rows)
            if (r.url.ends_with(urlEnd))
                return r;
        throw std::runtime_error("no row for " + urlEnd);
    }
    std::vector<browser::BrowserFile> scan(browser::ScanStats& stats) {
        return browser::ScanCacheFolder({browser::CacheKind::WebKit, cache().string()}, &stats);
    }
    static void Flip(const fs::path& file, std::uint64_t fromEnd) {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(-static_cast<std::streamoff>(fromEnd), std::ios::end);
        const char c = static_cast<char>(f.get() ^ 0x55);
        f.seekp(-static_cast<std::streamoff>(fromEnd), std::ios::end);
        f.put(c);
    }
    testing_support::ScratchFolder scratch_;
    fs::path version_;
};

TEST_F(WebKitCopy, ADamagedRecordIsSkippedAndNamedAndABodyChangedSinceIsNotRead) {
    browser::ScanStats before;
    const auto rows = scan(before);
    ASSERT_EQ(before.unreadable, 0u);
    const fs::path damaged = row(rows, "/logo.png").entryPath;
    const fs::path inlineRecord = row(rows, "/bg.png").entryPath;
    const fs::path truncated = row(rows, "/photo.jpg").entryPath;
    const fs::path blob = row(rows, "/big.bmp").entryPath;
    ASSERT_EQ(blob.parent_path().filename(), "Blobs");

    const auto size = fs::file_size(damaged);
    Flip(damaged, size - 30); // a byte of the meta data: its check sum fails
    fs::resize_file(truncated, fs::file_size(truncated) - 100);
    Flip(inlineRecord, 10); // a byte of the inline body
    Flip(blob, 1000);
    browser::ScanStats stats;
    const auto after = scan(stats);
    EXPECT_EQ(after.size(), rows.size() - 2);
    EXPECT_EQ(stats.unreadable, 2u);
    ASSERT_EQ(stats.problems.size(), 2u);
    for (const auto& problem : stats.problems) {
        EXPECT_TRUE(problem.path == damaged.string() || problem.path == truncated.string());
        EXPECT_NE(problem.reason.find("is damaged"), std::string::npos) << problem.reason;
    }

    // A body is listed by its record; its hash is checked as a save or the preview reads it.
    for (const char* changed : {"/bg.png", "/big.bmp"}) {
        std::string error;
        EXPECT_EQ(Sha256Of(row(after, changed), error), "") << changed;
        EXPECT_EQ(error, browser::kChangedSinceListed);
    }
}

TEST_F(WebKitCopy, MissingBlobsAndUnknownVersionsAreNamed) {
    browser::ScanStats stats;
    const auto rows = scan(stats);
    const fs::path blob = row(rows, "/big.bmp").entryPath;
    // A copy without hard links keeps the body beside its record too: either one does.
    fs::remove(blob);
    auto again = scan(stats);
    ASSERT_EQ(again.size(), rows.size());
    EXPECT_TRUE(row(again, "/big.bmp").entryPath.ends_with("-blob"));
    std::string error;
    EXPECT_NE(Sha256Of(row(again, "/big.bmp"), error), "") << error;
    for (const auto& e : fs::recursive_directory_iterator(version_))
        if (e.path().filename().string().ends_with("-blob"))
            fs::remove(e.path());
    again = scan(stats);
    EXPECT_LT(again.size(), rows.size());
    EXPECT_EQ(stats.unreadable, rows.size() - again.size());
    EXPECT_NE(stats.problems.at(0).reason.find("is missing"), std::string::npos);

    // A version whose records do not verify with the layout this reader knows.
    fs::rename(version_, cache() / "Version 99");
    const auto none = scan(stats);
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(stats.unsupported);
    ASSERT_EQ(stats.problems.size(), 1u);
    EXPECT_NE(stats.problems[0].reason.find("format version 99"), std::string::npos);
}

TEST(WebKitWalk, MacContainerAndFlatpakLayoutsAreFoundAndNamed) {
    if (!fs::is_directory(kFixture))
        GTEST_SKIP();
    testing_support::ScratchFolder home;
    const fs::path version = kFixture / "home/.cache/epiphany/WebKitCache/Version 17";
    const std::map<std::string, std::string> kLayouts = {
        {"Library/Caches/com.apple.Safari/WebKitCache", "Safari"},
        {"Library/Caches/com.example.reader/WebKit/NetworkCache", "com.example.reader"},
        {"Library/Containers/com.example.mail/Data/Library/Caches/WebKit/NetworkCache",
         "com.example.mail"},
        {".var/app/org.gnome.Epiphany/cache/epiphany/WebKitCache", "GNOME Web (Flatpak)"},
    };
    for (const auto& [at, source] : kLayouts) {
        testing_support::CopyTree(version, home.path() / at / "Version 17");
    }
    const auto caches = browser::ClassifyFolder(home.str()).browserCaches;
    ASSERT_EQ(caches.size(), kLayouts.size());
    for (const auto& cache : caches) {
        const std::string relative = fs::relative(cache.path, home.path()).string();
        EXPECT_EQ(cache.kind, browser::CacheKind::WebKit) << relative;
        ASSERT_TRUE(kLayouts.count(relative)) << relative;
        EXPECT_EQ(cache.source, kLayouts.at(relative));
    }
}

} // namespace
