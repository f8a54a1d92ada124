// The caches real browsers wrote, matched entry by entry against what the test site served.
#include "cache/browser/browser.h"
#include "expected_tsv.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct Expected {
    std::string url, status, contentType, encoding, bodyType, entryFile;
    std::uint64_t size = 0;
    std::string sha256;
};

fs::path CachesFolder() {
    return fs::path(TAMBERLIN_FIXTURES) / "browser-caches";
}

std::vector<Expected> ReadExpected(const fs::path& tsv) {
    std::vector<Expected> rows;
    for (const auto& f : testdata::ReadExpectedTsv(tsv)) {
        Expected e{f[0], f[1], f[2], f[3], f[4], f[7], 0, f[6]};
        if (!f[5].empty())
            e.size = std::stoull(f[5]);
        rows.push_back(e);
    }
    return rows;
}

bool IsPictureOrVideo(const std::string& type) {
    static const std::set<std::string> kTypes = {"jpg",  "png", "gif", "bmp",  "ico",
                                                 "webp", "svg", "mp4", "webm", "avif"};
    return kTypes.count(type) != 0;
}

std::string DecodedSha256(const browser::BrowserFile& row, std::uint64_t& size,
                          std::string& error) {
    auto stream = browser::OpenDecodedBody(row.body);
    browser_test::Sha256 sha;
    std::vector<char> buffer(7919); // odd-sized reads cross every boundary somewhere
    size = 0;
    for (;;) {
        const auto got = stream->read(buffer.data(), buffer.size());
        if (got < 0) {
            error = stream->error();
            return "";
        }
        if (got == 0)
            break;
        sha.update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        size += static_cast<std::uint64_t>(got);
    }
    return sha.hexDigest();
}

// Every listable row of expected.tsv is listed once, with the decoded size and content the
// site served, under a name with the real type's extension; nothing else is listed.
void CheckAgainstExpected(const std::vector<browser::BrowserFile>& rows,
                          const std::vector<Expected>& expected, const fs::path& entryBase) {
    std::map<std::string, const browser::BrowserFile*> byUrl;
    for (const auto& row : rows) {
        EXPECT_TRUE(byUrl.emplace(row.url, &row).second) << "listed twice: " << row.url;
    }
    std::size_t listable = 0;
    for (const Expected& e : expected) {
        const bool listed = byUrl.count(e.url) != 0;
        const bool shouldList = IsPictureOrVideo(e.bodyType) && !e.sha256.empty();
        EXPECT_EQ(listed, shouldList) << e.url;
        if (!listed || !shouldList)
            continue;
        ++listable;
        const auto& row = *byUrl[e.url];
        SCOPED_TRACE(e.url);
        EXPECT_EQ(row.extension, e.bodyType);
        EXPECT_TRUE(row.fileName.ends_with("." + e.bodyType)) << row.fileName;
        EXPECT_EQ(row.size, e.size);
        EXPECT_EQ(row.body.decodedSize, e.size);
        EXPECT_EQ(fs::path(row.entryPath), entryBase / e.entryFile);
        std::uint64_t size = 0;
        std::string error;
        EXPECT_EQ(DecodedSha256(row, size, error), e.sha256) << error;
        EXPECT_EQ(size, e.size);
    }
    EXPECT_EQ(rows.size(), listable);
}

std::map<std::string, std::string> NamesByPath(const std::vector<browser::BrowserFile>& rows) {
    std::map<std::string, std::string> names;
    for (const auto& row : rows) {
        const std::size_t authority = row.url.find('/', row.url.find("://") + 3);
        names[row.url.substr(authority)] = row.fileName;
    }
    return names;
}

class BrowserFixtures : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(CachesFolder()))
            GTEST_SKIP() << "the browser-cache test caches are not at " << CachesFolder();
    }
};

TEST_F(BrowserFixtures, FirefoxHomeListsEveryPictureAndVideoWithItsDecodedContent) {
    const fs::path home = CachesFolder() / "firefox/home";
    const auto caches = browser::FindUserCaches({home.string(), "", ""});
    // Two profiles in profiles.ini; only the one that was used has a cache.
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(caches[0].kind, browser::CacheKind::Firefox);
    EXPECT_EQ(fs::path(caches[0].path),
              home / ".cache/mozilla/firefox/pylwchot.default-esr/cache2");

    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder(caches[0], &stats);
    CheckAgainstExpected(rows, ReadExpected(CachesFolder() / "firefox/expected.tsv"), home);
    EXPECT_EQ(stats.entries, 16u);
    EXPECT_EQ(stats.listed, rows.size());
    EXPECT_EQ(stats.unreadable, 0u);
    EXPECT_EQ(stats.partial, 0u);

    const auto names = NamesByPath(rows);
    EXPECT_EQ(names.at("/mislabeled.png"), "mislabeled.jpg");
    EXPECT_EQ(names.at("/img?id=7&size=small"), "img.png");
    EXPECT_EQ(names.at("/clip-video.mp4"), "clip-video.mp4");
    EXPECT_EQ(names.at("/icon.svg"), "icon.svg");
    EXPECT_EQ(names.at("/big.bmp"), "big.bmp");
}

TEST_F(BrowserFixtures, ChromiumHomeListsEveryPictureAndTheVideoRebuiltFromItsRange) {
    const fs::path home = CachesFolder() / "chromium/home";
    const auto caches = browser::FindUserCaches({home.string(), "", ""});
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(caches[0].kind, browser::CacheKind::Chromium);
    EXPECT_EQ(fs::path(caches[0].path), home / ".cache/chromium/Default/Cache/Cache_Data");

    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder(caches[0], &stats);
    CheckAgainstExpected(rows, ReadExpected(CachesFolder() / "chromium/expected.tsv"), home);
    EXPECT_EQ(stats.entries, 15u);
    EXPECT_EQ(stats.unreadable, 0u);
    EXPECT_EQ(stats.partial, 0u);

    // The 206 response's bytes live in the sparse file, not in the stream file.
    for (const auto& row : rows) {
        if (!row.url.ends_with("/clip-video.mp4"))
            continue;
        ASSERT_FALSE(row.body.segments.empty());
        EXPECT_TRUE(row.body.segments[0].file.ends_with("6108634496c8457f_s"));
    }
    const auto names = NamesByPath(rows);
    EXPECT_EQ(names.at("/mislabeled.png"), "mislabeled.jpg");
    EXPECT_EQ(names.at("/img?id=7&size=small"), "img.png");
}

TEST_F(BrowserFixtures, ChromiumSqlHomeListsEveryPictureAndTheVideoJoinedFromTwoBlobs) {
    const fs::path home = CachesFolder() / "chromium-sql/home";
    const auto caches = browser::FindUserCaches({home.string(), "", ""});
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(caches[0].kind, browser::CacheKind::Sql);
    EXPECT_EQ(fs::path(caches[0].path), home / ".cache/chromium/Default/Cache/Cache_Data");
    EXPECT_EQ(browser::ClassifyFolder(home.string()).browserCaches, caches);

    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder(caches[0], &stats);
    CheckAgainstExpected(rows, ReadExpected(CachesFolder() / "chromium-sql/expected.tsv"), home);
    EXPECT_EQ(stats.entries, 15u);
    EXPECT_EQ(stats.unreadable, 0u);
    EXPECT_EQ(stats.partial, 0u);
    EXPECT_FALSE(stats.unsupported);
    for (const auto& row : rows) {
        if (row.url.ends_with("/clip-video.mp4")) {
            EXPECT_EQ(row.body.segments.size(), 2u);
        }
    }
    const auto names = NamesByPath(rows);
    EXPECT_EQ(names.at("/mislabeled.png"), "mislabeled.jpg");
    EXPECT_EQ(names.at("/img?id=7&size=small"), "img.png");
    EXPECT_EQ(names.at("/big.bmp"), "big.bmp");
}

TEST_F(BrowserFixtures, BlockfileProfilesFromWindowsListEveryPictureAndTheSparseVideo) {
    const fs::path home = CachesFolder() / "chromium-blockfile/home";
    const auto expected = ReadExpected(CachesFolder() / "chromium-blockfile/expected.tsv");
    const auto caches = browser::ClassifyFolder(home.string()).browserCaches;
    ASSERT_EQ(caches.size(), 2u);
    for (const auto& cache : caches) {
        SCOPED_TRACE(cache.path);
        EXPECT_EQ(cache.kind, browser::CacheKind::Blockfile);
        const std::string profile = fs::relative(cache.path, home).string();
        std::vector<Expected> mine;
        for (const Expected& e : expected)
            if (e.entryFile.starts_with(profile + "/"))
                mine.push_back(e);
        ASSERT_EQ(mine.size(), 15u) << profile;

        browser::ScanStats stats;
        const auto rows = browser::ScanCacheFolder(cache, &stats);
        CheckAgainstExpected(rows, mine, home);
        EXPECT_EQ(stats.entries, 15u); // the video's sparse child is part of its parent
        EXPECT_EQ(stats.unreadable, 0u);
        EXPECT_EQ(stats.partial, 0u);
        EXPECT_FALSE(stats.unsupported);
        const auto names = NamesByPath(rows);
        EXPECT_EQ(names.at("/mislabeled.png"), "mislabeled.jpg");
        EXPECT_EQ(names.at("/img?id=7&size=small"), "img.png");
        EXPECT_EQ(names.at("/clip-video.mp4"), "clip-video.mp4");
    }
}

TEST_F(BrowserFixtures, OlderFirefoxCacheSkipsTheFileWithAGarbageTrailer) {
    const fs::path folder = CachesFolder() / "firefox-real";
    browser::ScanStats stats;
    const auto rows = browser::ScanCacheFolder(
        {browser::CacheKind::Firefox, (folder / "cache2").string()}, &stats);
    CheckAgainstExpected(rows, ReadExpected(folder / "expected.tsv"), folder);
    EXPECT_EQ(stats.entries, 5u);
    EXPECT_EQ(stats.unreadable, 1u);
    EXPECT_EQ(browser::ClassifyFolder((folder / "cache2").string()).browserCaches.size(), 1u);
}

} // namespace
