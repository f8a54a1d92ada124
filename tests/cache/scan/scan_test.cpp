#include "cache/scan/commands.h"
#include "cache/scan/file_types.h"
#include "cache/scan/list_columns.h"
#include "cache/scan/retrieve.h"
#include "cache/scan/url_cache.h"
#include "index_builder.h"
#include "platform/base/codepage.h"
#include "platform/base/memory.h"
#include "platform/urlcache/urlcache.h"
#include "save/save_command.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

using namespace cache;
using testing_support::RecordingReporter;
using testing_support::ScratchFolder;

namespace {

struct Switches final : FileTypeSwitches {
    int jpg = 1, bmp = 1, gif = 1, png = 1, ico = 1, videos = 1;
    int webp = 0; // the seventh box, at the right of the six others
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
        case FileType::WEBP:
            return webp;
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
        out.push_back(f.url + "|" + f.fileName + "|" + ColumnText(f, kSizeColumn) +
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
    b.add(entry("http://a/x.webp", "x[0].WebP"));
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
    // The WEBP box admits "webp" from this cache too, and nothing else.
    Switches onlyWebp;
    onlyWebp.jpg = onlyWebp.bmp = onlyWebp.gif = onlyWebp.png = onlyWebp.ico = onlyWebp.videos = 0;
    onlyWebp.webp = 1;
    getIECache(list, onlyWebp);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.row(0).fileName, "x[0].WebP");
    Switches none;
    none.jpg = none.bmp = none.gif = none.png = none.ico = none.videos = 0;
    getIECache(list, none);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(none.reads, 7 * 16); // every entry with a URL that is not a cookie is tested
}

TEST(FileTypes, EachExtensionNameKeyAndBoxBelongsToOneTypeWhoseBoxAloneAdmitsIt) {
    std::set<std::string> names, keys, controls, extensions;
    for (const auto& type : cache::kFileTypes) {
        EXPECT_TRUE(names.insert(type.name).second) << type.name;
        EXPECT_TRUE(keys.insert(type.settingsKey).second) << type.settingsKey;
        EXPECT_TRUE(controls.insert(type.box.control).second) << type.box.control;
        struct Only final : FileTypeSwitches {
            explicit Only(FileType t) : ticked(t) {}
            FileType ticked;
            int value(FileType box) const override { return box == ticked ? 1 : 0; }
        };
        for (const auto& extension : cache::kExtensions) {
            if (extension.type != type.type)
                continue;
            const std::string_view e = extension.extension;
            EXPECT_TRUE(extensions.insert(std::string(e)).second) << e;
            for (const auto& other : cache::kFileTypes)
                EXPECT_EQ(FileTypeFilter::admits(std::string(e), Only(other.type)),
                          other.type == type.type)
                    << e << " under " << other.name;
        }
    }
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
    EXPECT_EQ(ColumnText(list.row(0), kSizeColumn), "3221225472");
    EXPECT_EQ(ColumnText(list.row(1), kSizeColumn), "4294967301");
}

TEST(CacheScan, AnEmptyOrMissingCacheEmptiesTheListAndClosesHandleZero) {
    FoundFileList list;
    list.append("old row");
    Cache cache{testdata::IndexBuilder{}};
    RecordingReporter reporter;
    Switches all;
    std::vector<std::uint32_t> closed;
    platform::SetUrlCacheCloseObserver([&](std::uint32_t h) { closed.push_back(h); });
    getIECache(list, all);
    EXPECT_EQ(list.count(), 0u);
    platform::SetUrlCacheLocator([] { return std::nullopt; });
    list.append("old row");
    {
        testing_support::StepRecorder steps(kScanTag);
        getIECache(list, all);
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 190, 192}));
    }
    platform::SetUrlCacheCloseObserver({});
    EXPECT_EQ(list.count(), 0u);
    EXPECT_TRUE(reporter.reports.empty());
    EXPECT_EQ(closed, (std::vector<std::uint32_t>{0, 0}));
}

TEST(CacheScan, StepsInOrderForBothCopiesAndWhereEachFailureGoesOn) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/1.jpg", "1.jpg"));  // first entry, kept
    b.add(entry("http://a/2.txt", "2.txt"));  // not kept
    b.add(entry("http://a/3.gif", "3.gif"));  // kept
    b.add(entry("Cookie:ann@a/", "ann.txt")); // a cookie
    b.add(entry("http://a/noext", "noext"));  // no "." in the path
    Cache cache(b);
    ASSERT_EQ(cache.folder.str().find('.'), std::string::npos);

    // The first entry's copy of the steps, then the later entries' copy.
    const std::vector<int> firstHead = {106, 108, 110, 114, 116, 118, 120, 122, 126};
    const std::vector<int> firstRow = {128, 130, 132, 134, 136, 138, 140, 142};
    const std::vector<int> next = {146, 148, 152, 154, 156, 160};
    const std::vector<int> ext = {162, 164, 166, 168, 172};
    const std::vector<int> noExt = {162, 164, 170, 172};
    const std::vector<int> row = {174, 176, 178, 180, 182, 184, 186, 188};
    const std::vector<int> start = {100, 102};
    const std::vector<int> end = {146, 148, 190, 192};
    const std::vector<int> normal = testing_support::Concat(
        {start, firstHead, firstRow, next, ext, next, ext, row, next, next, noExt, end});

    struct Case {
        int failing;
        std::vector<int> lines;
        std::vector<std::string> urls; // rows, in the order they were appended
    };
    const std::vector<std::string> kept = {"http://a/1.jpg", "http://a/3.gif"};
    const Case cases[] = {
        {-1, normal, kept},
        // The cookie test fails: the entry is skipped.
        {114,
         testing_support::Concat(
             {start, {106, 108, 110, 114}, next, ext, next, ext, row, next, next, noExt, end}),
         {"http://a/3.gif"}},
        {160,
         testing_support::Concat({start, firstHead, firstRow, next, next, next, next, end}),
         {"http://a/1.jpg"}},
        // The "." test fails: the last piece is taken (the whole path); no box admits it.
        {164,
         testing_support::Concat(
             {start, firstHead, firstRow, next, ext, next, ext, row, next, next, ext, end}),
         kept},
        // No fill: each later entry is stepped past, never read from the previous record.
        {154,
         testing_support::Concat({start,
                                  firstHead,
                                  firstRow,
                                  {146, 148, 152, 154, 156},
                                  {146, 148, 152, 154, 156},
                                  {146, 148, 152, 154, 156},
                                  {146, 148, 152, 154, 156},
                                  end}),
         {"http://a/1.jpg"}},
        // The first entry's fill fails: it is stepped past, and the walk goes on.
        {108,
         testing_support::Concat(
             {start, {106, 108, 110}, next, ext, next, ext, row, next, next, noExt, end}),
         {"http://a/3.gif"}},
        // The filter fails: the row is built.
        {172,
         testing_support::Concat({start, firstHead, firstRow, next, ext, row, next, ext, row, next,
                                  next, noExt, row, end}),
         {"http://a/1.jpg", "http://a/2.txt", "http://a/3.gif", "http://a/noext"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("failing line " + std::to_string(c.failing));
        RecordingReporter reporter;
        FoundFileList list;
        Switches all;
        testing_support::StepRecorder steps(kScanTag, c.failing);
        getIECache(list, all);
        EXPECT_EQ(steps.lines, c.lines);
        std::vector<std::string> urls;
        for (RowId r = 0; r < list.count(); ++r)
            urls.push_back(list.row(r).url);
        EXPECT_EQ(urls, c.urls);
    }

    // Every other step goes on with the step after it (what it failed to do may change
    // what happens later), and its failure is reported at its own line under the scan's tag.
    for (std::size_t k = 0; k < normal.size(); ++k) {
        const int line = normal[k];
        if (line == 114 || line == 160 || line == 164 || line == 172 ||
            std::find(normal.begin(), normal.begin() + static_cast<long>(k), line) !=
                normal.begin() + static_cast<long>(k))
            continue;
        SCOPED_TRACE("failing line " + std::to_string(line));
        RecordingReporter reporter;
        FoundFileList list;
        Switches all;
        testing_support::StepRecorder steps(kScanTag, line);
        getIECache(list, all);
        // Where what the failed step left decides a plain comparison after it: no entry
        // size ends the walk (102, 148); an empty record goes to the loop head (110).
        const std::map<int, int> decided = {{102, 190}, {110, 146}, {148, 190}};
        std::vector<int> expected(normal.begin(), normal.begin() + static_cast<long>(k) + 1);
        if (decided.count(line))
            expected.push_back(decided.at(line));
        else if (k + 1 < normal.size())
            expected.push_back(normal[k + 1]);
        ASSERT_GE(steps.lines.size(), expected.size());
        EXPECT_EQ(std::vector<int>(steps.lines.begin(),
                                   steps.lines.begin() + static_cast<long>(expected.size())),
                  expected);
        ASSERT_FALSE(reporter.reports.empty());
        EXPECT_EQ(reporter.reports[0].line, line);
        EXPECT_EQ(reporter.reports[0].tag, kScanTag);
    }
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
    const std::size_t open = platform::OpenUrlCacheEnumerations();
    platform::SetAllocationLimit(platform::MappedBlockCount() * platform::kPageSize +
                                 std::uint64_t{16} * platform::kPageSize);
    getIECache(list, all);
    platform::SetAllocationLimit(0);
    EXPECT_EQ(rows(list), (std::vector<std::string>{"http://a/2.jpg|2.jpg|100|ticked",
                                                    "http://a/4.jpg|4.jpg|100|ticked"}));
    EXPECT_EQ(platform::OpenUrlCacheEnumerations(), open);
}

TEST(CacheScan, AFirstEntryThatGrewBetweenProbeAndFillIsSkippedAndTheWalkGoesOn) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/1.jpg", "1.jpg"));
    b.add(entry("http://a/2.jpg", "2.jpg"));
    b.add(entry("http://a/3.jpg", "3.jpg"));
    Cache cache(b);
    testdata::IndexBuilder grown;
    grown.add(entry("http://a/" + std::string(4000, 'x') + ".jpg", "1.jpg"));
    grown.add(entry("http://a/2.jpg", "2.jpg"));
    grown.add(entry("http://a/3.jpg", "3.jpg"));
    // The browser rewrites the index after the probe: the first entry no longer fits.
    app::setStepHook([&](const std::string& tag, int line) {
        if (tag == kScanTag && line == 108)
            cache.use(grown);
    });
    RecordingReporter reporter;
    FoundFileList list;
    Switches all;
    const std::size_t open = platform::OpenUrlCacheEnumerations();
    getIECache(list, all);
    app::setStepHook({});
    EXPECT_EQ(rows(list), (std::vector<std::string>{"http://a/2.jpg|2.jpg|100|ticked",
                                                    "http://a/3.jpg|3.jpg|100|ticked"}));
    EXPECT_TRUE(reporter.reports.empty());
    EXPECT_EQ(platform::OpenUrlCacheEnumerations(), open);
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
    PushButton1_Click(list, all, pointer, cache::CacheSelection{});
    app::setStepHook({});
    EXPECT_EQ(pointer.codes, (std::vector<int>{11, 0}));
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].tag, "in Orrery2021/08/31.URLCache.getIECache ");
    EXPECT_EQ(list.count(), 1u);

    // Twice: the second scan replaces the rows, ticks the user changed are lost.
    list.setTick(0, false);
    PushButton1_Click(list, all, pointer, cache::CacheSelection{});
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
    EXPECT_EQ(ColumnText(*cafe, kSizeColumn), "301");
    EXPECT_TRUE(std::filesystem::exists(cafe->path)) << cafe->path;
    EXPECT_EQ(ColumnText(*byUrl.at("http://www.example.com/empty-video.mp4"), kSizeColumn), "0");
    EXPECT_EQ(std::count_if(byUrl.begin(), byUrl.end(),
                            [](auto& kv) { return kv.second->fileName.rfind("image[", 0) == 0; }),
              30);
}

namespace {

// The Wine fixture's prefix copied under a folder of the given name; the user's own folders
// may be named with any bytes.
struct PrefixUnder {
    explicit PrefixUnder(const std::string& folderName) {
        prefix = root.str() + "/" + folderName + "/.wine";
        testing_support::CopyTree(testing_support::FixturesFolder() + "/url-cache/wine/prefix",
                                  prefix);
    }
    ScratchFolder root;
    std::string prefix;
};

// Lists, "previews" (opens the path a row click would open) and saves every row of the
// fixture prefix found at `prefix`; the path bytes under `prefix` must be the real ones.
void listPreviewAndSave(const std::string& prefix) {
    testing_support::ScopedEnv wineprefix("WINEPREFIX", prefix.c_str());
    platform::SetAnsiCodePage(1252);
    RecordingReporter reporter;
    testing_support::ScriptedDialogs dialogs;
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    platform::SetAnsiCodePage(0);
    EXPECT_TRUE(reporter.reports.empty());
    ASSERT_EQ(list.count(), 61u); // as from the prefix where the fixture lies

    const std::string original = testing_support::FixturesFolder() + "/url-cache/wine/prefix";
    std::size_t present = 0;
    for (RowId r = 0; r < list.count(); ++r) {
        const FoundFile& f = list.row(r);
        ASSERT_EQ(f.path.rfind(prefix + "/", 0), 0u) << f.path;
        const std::string inside = f.path.substr(prefix.size());
        EXPECT_EQ(f.path.substr(f.path.size() - f.fileName.size()), f.fileName);
        if (!std::filesystem::exists(original + inside))
            continue;
        ++present;
        // What the preview opens is the cached file itself.
        list.select(r);
        EXPECT_EQ(testing_support::ReadAll(list.subItem(list.selected(), cache::kFilePathColumn)),
                  testing_support::ReadAll(original + inside))
            << inside;
    }
    EXPECT_EQ(present, 60u);

    ScratchFolder out;
    struct Window final : save::SaveWindow {
        std::string folder;
        std::string destinationText() const override { return folder; }
        void setProgress(std::size_t, std::size_t) override {}
        std::string messageTitle() const override { return {}; }
    } window;
    window.folder = out.str() + "/";
    save::PushButton3_Click(list, window);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].rfind("60 files were saved; 1 file could not be saved", 0), 0u)
        << dialogs.messages[0];
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()),
                            std::filesystem::directory_iterator()),
              60);
}

} // namespace

TEST(CacheScan, APrefixUnderAFolderTheAnsiCodePageCannotSpellStillListsPreviewsAndSaves) {
    SKIP_WITHOUT_FIXTURES();
    {
        SCOPED_TRACE("Polish and Japanese letters");
        PrefixUnder p("\xC5\x81\xC3\xB3\x64\xC5\xBA \xE6\x9D\xB1\xE4\xBA\xAC"); // "Łódź 東京"
        listPreviewAndSave(p.prefix);
    }
    {
        SCOPED_TRACE("a name that is not UTF-8");
        PrefixUnder p("Fotos \xE9t\xE9 \xFF\xFE"); // Latin-1 bytes, as an old disk named it
        listPreviewAndSave(p.prefix);
    }
}

TEST(CacheScan, OnlyTheNamesFromTheIndexAreDecodedFromTheAnsiCodePage) {
    ScratchFolder root;
    const std::string folder = root.str() + "/\xC5\x81ukasz \xFF/Content.IE5"; // "Łukasz"
    std::filesystem::create_directories(folder + "/AAAAAAAA");
    testdata::IndexBuilder b;
    b.add(entry("http://a/caf\xE9.jpg", "caf\xE9[0].jpg")); // Windows-1252 in the index
    testdata::WriteFile(folder + "/index.dat", b.build());
    std::ofstream(folder + "/AAAAAAAA/caf\xC3\xA9[0].jpg") << "jpeg";
    platform::SetUrlCacheLocator([&] {
        return platform::UrlCacheSource{folder + "/index.dat", folder};
    });
    platform::SetAnsiCodePage(1252);
    FoundFileList list;
    Switches all;
    getIECache(list, all);
    platform::SetAnsiCodePage(0);
    platform::SetUrlCacheLocator({});
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.row(0).url, "http://a/caf\xC3\xA9.jpg");
    EXPECT_EQ(list.row(0).fileName, "caf\xC3\xA9[0].jpg");
    EXPECT_EQ(list.row(0).path, folder + "/AAAAAAAA/caf\xC3\xA9[0].jpg");
    EXPECT_EQ(testing_support::ReadAll(list.row(0).path), "jpeg");
}

TEST(RetrieveCommand, StepsInOrderAndWhereEachFailureGoesOn) {
    testdata::IndexBuilder b;
    b.add(entry("http://a/1.jpg", "1.jpg"));
    Cache cache(b);
    const std::string tag = "in Orrery2021/08/31.Form1.PushButton1_Click ";
    struct Case {
        int failing;
        std::vector<int> pointer;
        std::size_t rows;
    };
    // A failure goes on with the next step; after a failure at the last the hourglass stays.
    const Case cases[] = {{-1, {11, 0}, 1}, {100, {0}, 1}, {102, {11, 0}, 0}, {104, {11}, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("failing line " + std::to_string(c.failing));
        RecordingReporter reporter;
        FoundFileList list;
        Switches all;
        Pointer pointer;
        testing_support::StepRecorder steps(tag, c.failing);
        PushButton1_Click(list, all, pointer, cache::CacheSelection{});
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 104}));
        EXPECT_EQ(pointer.codes, c.pointer);
        EXPECT_EQ(list.count(), c.rows);
        EXPECT_EQ(reporter.lines(),
                  c.failing < 0 ? std::vector<int>{} : std::vector<int>{c.failing});
    }
}

TEST(SelectCommands, StepsInOrderAndWhereEachFailureGoesOn) {
    struct Command {
        const char* tag;
        void (*run)(FoundFileList&);
        bool ticks;
    };
    const Command commands[] = {
        {"in Orrery2021/08/31.Form1.PushButton5_Click ", PushButton5_Click, true},
        {"in Orrery2021/08/31.Form1.PushButton6_Click ", PushButton6_Click, false}};
    struct Case {
        int failing;
        std::vector<int> lines;
        std::vector<bool> changed; // which of the three rows the command changed
    };
    const Case cases[] = {
        {-1, {100, 102, 104, 102, 104, 102, 104}, {true, true, true}},
        {100, {100}, {false, false, false}}, // no row count, no walk
        {102, {100, 102, 104, 102, 104, 102, 104}, {false, false, false}},
        {104, {100, 102, 104}, {true, false, false}}, // a failed loop close ends the loop
    };
    for (const Command& command : commands) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(command.tag) + "failing line " + std::to_string(c.failing));
            RecordingReporter reporter;
            FoundFileList list;
            for (const char* name : {"a", "b", "c"})
                list.setTick(list.append(name), !command.ticks);
            testing_support::StepRecorder steps(command.tag, c.failing);
            command.run(list);
            EXPECT_EQ(steps.lines, c.lines);
            for (std::size_t i = 1; i <= 3; ++i)
                EXPECT_EQ(list.row(list.rowAt(i)).ticked == command.ticks, c.changed[i - 1]) << i;
        }
    }
}
