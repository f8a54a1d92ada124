#include "cache/url_cache.h"
#include "index_builder.h"
#include "platform/codepage.h"
#include "platform/memory.h"
#include "platform/urlcache.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace cache;
using testing_support::RecordingReporter;
using testing_support::ScratchFolder;

namespace {

struct Switches final : FileTypeSwitches {
    int jpg = 1, bmp = 1, gif = 1, png = 1, ico = 1, videos = 1;
    mutable int reads = 0;
    int value(FileType box) const override {
        ++reads;
        switch (box) {
        case FileType::JPG:
            return jpg;
        case FileType::BMP:
            return bmp;
        case FileType::GIF:
            return gif;
        case FileType::PNG:
            return png;
        case FileType::ICO:
            return ico;
        case FileType::Videos:
            return videos;
        }
        return 0;
    }
};

struct Pointer final : PointerTarget {
    std::vector<int> codes;
    void setMousePointer(int code) override { codes.push_back(code); }
};

struct Cache {
    explicit Cache(const testdata::IndexBuilder& b) { use(b); }
    void use(const testdata::IndexBuilder& b) {
        testdata::WriteFile(folder.str() + "/index.dat", b.build());
        platform::SetUrlCacheLocator([this] {
            return platform::UrlCacheSource{folder.str() + "/index.dat", folder.str()};
        });
    }
    ~Cache() { platform::SetUrlCacheLocator({}); }
    ScratchFolder folder;
};

testdata::Record entry(std::string url, std::string name, std::uint32_t size = 100) {
    testdata::Record r;
    r.url = std::move(url);
    r.fileName = std::move(name);
    r.sizeLow = size;
    return r;
}

// Rows in the order they were appended: (url, file name, size, path, ticked).
std::vector<std::string> rows(const FoundFileList& list) {
    std::vector<std::string> out;
    for (RowId r = 0; r < list.count(); ++r) {
        const auto& f = list.row(r);
        out.push_back(f.url + "|" + f.fileName + "|" + f.size +
                      (f.ticked ? "|ticked" : "|unticked"));
    }
    return out;
}

} // namespace

TEST(CacheScan, KeepsTheEntriesWhoseExtensionATickedBoxAdmits) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/PHOTO.JPG", "PHOTO[0].JPG"));
    b.add(entry("http://a/photo.jpeg", "photo[0].jpeg"));
    b.add(entry("http://a/clip.tar.flv", "clip.tar[0].flv"));
    b.add(entry("Cookie:user@a/", "cookie.txt.jpg"));
    b.add(entry("cookie:lower-case.jpg", "lower[0].jpg"));
    b.add(entry("http://a/noext", "noext[0]"));
    b.add(entry("http://a/nofile.jpg", ""));
    b.add(entry("http://a/x.bmp", "x[0].bmp"));
    b.add(entry("http://a/x.gif", "x[0].GIF"));
    b.add(entry("http://a/x.png", "x[0].png"));
    b.add(entry("http://a/x.ico", "x[0].ico"));
    b.add(entry("http://a/x.mp4", "x[0].mp4"));
    b.add(entry("http://a/x.avi", "x[0].AVI"));
    b.add(entry("http://a/x.webm", "x[0].webm"));
    b.add(entry("http://a/same.png", "same[0].png"));
    b.add(entry("http://a/same.png", "same[1].png"));
    Cache cache(b);
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    EXPECT_TRUE(reporter.reports.empty());
    const auto got = rows(list);
    EXPECT_EQ(got, (std::vector<std::string>{
                       "http://a/PHOTO.JPG|PHOTO[0].JPG|100|ticked",
                       "http://a/clip.tar.flv|clip.tar[0].flv|100|ticked",
                       "cookie:lower-case.jpg|lower[0].jpg|100|ticked",
                       "http://a/x.bmp|x[0].bmp|100|ticked", "http://a/x.gif|x[0].GIF|100|ticked",
                       "http://a/x.png|x[0].png|100|ticked", "http://a/x.ico|x[0].ico|100|ticked",
                       "http://a/x.mp4|x[0].mp4|100|ticked", "http://a/x.avi|x[0].AVI|100|ticked",
                       "http://a/same.png|same[0].png|100|ticked",
                       "http://a/same.png|same[1].png|100|ticked"}));
    EXPECT_EQ(list.row(0).path, cache.folder.str() + "/AAAAAAAA/PHOTO[0].JPG");

    // Each box admits only its own types.
    Switches onlyVideo;
    onlyVideo.jpg = onlyVideo.bmp = onlyVideo.gif = onlyVideo.png = onlyVideo.ico = 0;
    getIECache(list, onlyVideo);
    EXPECT_EQ(list.count(), 3u);
    Switches none;
    none.jpg = none.bmp = none.gif = none.png = none.ico = none.videos = 0;
    getIECache(list, none);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(none.reads, 6 * 15); // every entry with a URL that is not a cookie is tested
}

TEST(CacheScan, AFolderWithADotDoesNotLendItsExtension) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/pic", "pic[0]"));
    Cache cache(b);
    std::filesystem::create_directories(cache.folder.path() / "v1.jpg");
    platform::SetUrlCacheLocator([&] {
        return platform::UrlCacheSource{cache.folder.str() + "/index.dat",
                                        cache.folder.str() + "/v1.jpg"};
    });
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    EXPECT_EQ(list.count(), 0u); // the extension is "jpg/AAAAAAAA/pic[0]"
}

TEST(CacheScan, SizesShowTheFull64BitValue) {
    testdata::IndexBuilder b;
    auto big = entry("http://a/big.mp4", "big.mp4", 0xC0000000u);
    b.add(big);
    auto huge = entry("http://a/huge.mp4", "huge.mp4", 5);
    huge.sizeHigh = 1;
    b.add(huge);
    Cache cache(b);
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.row(0).size, "3221225472");
    EXPECT_EQ(list.row(1).size, "4294967301");
}

TEST(CacheScan, AnEmptyOrMissingCacheEmptiesTheListAndClosesHandleZero) {
    FoundFileList list;
    list.append("old row");
    Cache cache{testdata::IndexBuilder{}};
    RecordingReporter reporter;
    Switches all;
    getIECache(list, all);
    EXPECT_EQ(list.count(), 0u);
    platform::SetUrlCacheLocator([] { return std::nullopt; });
    list.append("old row");
    getIECache(list, all);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_TRUE(reporter.reports.empty());
    EXPECT_EQ(platform::OpenUrlCacheEnumerations(), 0u);
}

TEST(CacheScan, FailedConditionsRunTheirBodiesAndReportUnderTheScansTag) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/1.jpg", "1.jpg"));
    b.add(entry("http://a/2.txt", "2.txt"));
    b.add(entry("http://a/3.jpg", "3.jpg"));
    Cache cache(b);
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;

    // A failing filter builds the row; a failing cookie test skips the entry.
    app::setStepHook([](const std::string& tag, int line) {
        if (tag == kScanTag && (line == 126 || line == 172 || line == 160))
            throw std::runtime_error("Type mismatch");
    });
    getIECache(list, all);
    app::setStepHook({});
    // First entry: filter failed, row built. Entries 2 and 3: cookie test failed, skipped.
    EXPECT_EQ(rows(list), (std::vector<std::string>{"http://a/1.jpg|1.jpg|100|ticked"}));
    EXPECT_EQ(reporter.lines(), (std::vector<int>{126, 160, 160}));
    for (const auto& r : reporter.reports) {
        EXPECT_EQ(r.tag, "in Orrery2021/08/31.URLCache.getIECache ");
        EXPECT_EQ(r.description, "Type mismatch");
    }

    // A failing extension test goes on into the branch that takes the last piece.
    reporter.reports.clear();
    app::setStepHook([](const std::string& tag, int line) {
        if (tag == kScanTag && (line == 120 || line == 164))
            throw std::runtime_error("x");
    });
    getIECache(list, all);
    app::setStepHook({});
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(reporter.lines(), (std::vector<int>{120, 164, 164}));
}

TEST(CacheScan, AnEntryWithoutABufferIsSkippedAndTheWalkGoesOn) {
    testdata::IndexBuilder b;
    auto fat = entry("http://a/fat.jpg", "fat.jpg");
    fat.headers = std::string(std::size_t{64} * 1024, 'h'); // needs far more memory than the others
    b.add(fat);
    b.add(entry("http://a/2.jpg", "2.jpg"));
    b.add(fat);
    b.add(entry("http://a/4.jpg", "4.jpg"));
    Cache cache(b);
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;
    platform::SetAllocationLimit(platform::MappedBlockCount() * platform::kPageSize +
                                 std::uint64_t{16} * platform::kPageSize);
    getIECache(list, all);
    platform::SetAllocationLimit(0);
    EXPECT_EQ(rows(list), (std::vector<std::string>{"http://a/2.jpg|2.jpg|100|ticked",
                                                    "http://a/4.jpg|4.jpg|100|ticked"}));
    EXPECT_EQ(platform::OpenUrlCacheEnumerations(), 0u);
}

TEST(RetrieveCommand, ShowsTheHourglassAroundTheScanAndResetsItAfterAFailure) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/1.jpg", "1.jpg"));
    Cache cache(b);
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;
    Pointer pointer;
    app::setStepHook([](const std::string& tag, int line) {
        if (tag == kScanTag && line == 100)
            throw std::runtime_error("scan failed");
    });
    PushButton1_Click(list, all, pointer);
    app::setStepHook({});
    EXPECT_EQ(pointer.codes, (std::vector<int>{11, 0}));
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].tag, "in Orrery2021/08/31.URLCache.getIECache ");
    EXPECT_EQ(list.count(), 1u);

    // Twice: the second scan replaces the rows, ticks the user changed are lost.
    list.setTick(0, false);
    PushButton1_Click(list, all, pointer);
    EXPECT_EQ(list.count(), 1u);
    EXPECT_TRUE(list.row(0).ticked);
}

TEST(CacheScan, WineFixtureRowsFollowFromItsEntries) {
    SKIP_WITHOUT_FIXTURES();
    const std::string prefix = testing_support::FixturesFolder() + "/url-cache/wine/prefix";
    testing_support::ScopedEnv wineprefix("WINEPREFIX", prefix.c_str());
    platform::SetAnsiCodePage(1252);
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    platform::SetAnsiCodePage(0);
    EXPECT_TRUE(reporter.reports.empty());
    std::map<std::string, const FoundFile*> byUrl;
    for (RowId r = 0; r < list.count(); ++r)
        byUrl[list.row(r).url] = &list.row(r);
    EXPECT_TRUE(byUrl.count("http://www.example.com/photos/PHOTO.JPG"));
    EXPECT_TRUE(byUrl.count("http://video.example.com/media/clip.tar.flv"));
    EXPECT_FALSE(byUrl.count("http://www.example.com/photos/holiday.jpeg"));
    EXPECT_FALSE(byUrl.count("http://www.example.com/deleted/removed-entry.gif"));
    EXPECT_FALSE(byUrl.count("http://www.example.com/nofile/entry"));
    EXPECT_FALSE(byUrl.count("http://www.example.com/img/emptyext.png"));
    const FoundFile* cafe = byUrl.at("http://www.example.com/photos/caf\xC3\xA9.jpg");
    EXPECT_EQ(cafe->fileName, "caf\xC3\xA9[0].jpg");
    EXPECT_EQ(cafe->size, "301");
    EXPECT_TRUE(std::filesystem::exists(cafe->path)) << cafe->path;
    EXPECT_EQ(byUrl.at("http://www.example.com/empty-video.mp4")->size, "0");
    EXPECT_EQ(std::count_if(byUrl.begin(), byUrl.end(),
                            [](auto& kv) { return kv.second->fileName.rfind("image[", 0) == 0; }),
              30);
}
