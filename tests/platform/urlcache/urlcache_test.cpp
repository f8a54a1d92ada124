#include "expected_tsv.h"
#include "index_builder.h"
#include "platform/base/codepage.h"
#include "platform/base/memory.h"
#include "platform/urlcache/locator.h"
#include "platform/urlcache/urlcache.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace platform;
using testing_support::ScratchFolder;

namespace {

using Buffer = testing_support::SimBlock;
using EnvVar = testing_support::ScopedEnv;

std::string stringAt(Address a) {
    std::string s(static_cast<std::size_t>(lstrlenA(a)), '\0');
    ReadMemory(a, s.data(), s.size());
    return s;
}

// Points the enumeration at an index written into a scratch folder.
struct BuiltCache {
    explicit BuiltCache(const testdata::IndexBuilder& b) {
        testdata::WriteFile(folder.str() + "/index.dat", b.build());
        SetUrlCacheLocator([this] {
            return UrlCacheSource{folder.str() + "/index.dat", folder.str()};
        });
    }
    ~BuiltCache() { SetUrlCacheLocator({}); }
    ScratchFolder folder;
};

} // namespace

TEST(UrlCacheEnumeration, ProbeThenFillAndTheRecordPointsInsideTheBuffer) {
    testdata::IndexBuilder b;
    testdata::Record r;
    r.url = "http://example.com/pic.jpg";
    r.fileName = "pic[1].jpg";
    r.directory = 1;
    r.sizeLow = 5;
    r.sizeHigh = 1;
    r.extension = "jpg";
    b.add(r);
    r.url = "http://example.com/second.gif";
    r.fileName = "second[1].gif";
    b.add(r);
    BuiltCache cache(b);

    std::int32_t size = 0;
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, 0, &size), 0u); // probe
    ASSERT_GT(size, 80);
    const std::int32_t needed = size;
    std::int32_t small = needed - 1;
    Buffer tooSmall(kPageSize);
    // Too small a size: nothing copied, the size needed written back.
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, tooSmall.address, &small), 0u);
    EXPECT_EQ(small, needed);
    EXPECT_EQ(lstrlenA(tooSmall.address), 0);

    Buffer buf(static_cast<std::uint32_t>(needed));
    const std::uint32_t h = FindFirstUrlCacheEntryA(nullptr, buf.address, &size);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(UrlCacheEntriesLeft(h), 1u); // (the room a walk makes for its rows)
    INTERNET_CACHE_ENTRY_INFOA rec{};
    ReadMemory(buf.address, &rec, sizeof rec);
    EXPECT_EQ(rec.dwStructSize, 80u);
    EXPECT_GE(rec.lpszSourceUrlName, buf.address + 80);
    EXPECT_LT(rec.lpszLocalFileName, buf.address + static_cast<std::uint32_t>(needed));
    EXPECT_EQ(stringAt(rec.lpszSourceUrlName), "http://example.com/pic.jpg");
    EXPECT_EQ(stringAt(rec.lpszLocalFileName), cache.folder.str() + "/BBBBBBBB/pic[1].jpg");
    EXPECT_EQ(stringAt(rec.lpszFileExtension), "jpg");
    EXPECT_EQ(rec.dwSizeLow, 5u);
    EXPECT_EQ(rec.dwSizeHigh, 1u);

    // A probe does not advance: probing twice gives the same size, the fill the entry.
    size = 0;
    FindNextUrlCacheEntryA(h, 0, &size);
    std::int32_t again = 0;
    FindNextUrlCacheEntryA(h, 0, &again);
    EXPECT_EQ(size, again);
    Buffer second(static_cast<std::uint32_t>(size));
    EXPECT_EQ(UrlCacheEntriesLeft(h), 1u); // probes take nothing
    EXPECT_TRUE(FindNextUrlCacheEntryA(h, second.address, &size));
    EXPECT_EQ(UrlCacheEntriesLeft(h), 0u);
    ReadMemory(second.address, &rec, sizeof rec);
    EXPECT_EQ(stringAt(rec.lpszSourceUrlName), "http://example.com/second.gif");
    // The end: size 0.
    size = 0;
    EXPECT_FALSE(FindNextUrlCacheEntryA(h, 0, &size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(FindCloseUrlCache(h));
    EXPECT_FALSE(FindCloseUrlCache(h));
    EXPECT_FALSE(FindCloseUrlCache(0));
    EXPECT_EQ(UrlCacheEntriesLeft(h), 0u); // closed
    size = 0;
    EXPECT_FALSE(FindNextUrlCacheEntryA(h, 0, &size)); // closed handle
    EXPECT_EQ(size, 0);
}

TEST(UrlCacheEnumeration, NoPrefixNoFolderOrNoIndexIsAnEmptyCache) {
    ScratchFolder home;
    EnvVar prefix("WINEPREFIX", (home.str() + "/no-such-prefix").c_str());
    std::int32_t size = 0;
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, 0, &size), 0u);
    EXPECT_EQ(size, 0);

    // A prefix with the folder but no index.
    std::filesystem::create_directories(
        home.path() / "p/drive_c/users/u/AppData/Local/Microsoft/Windows/INetCache/Content.IE5");
    EnvVar prefix2("WINEPREFIX", (home.str() + "/p").c_str());
    EnvVar user("USER", "u");
    ASSERT_TRUE(LocateUrlCache().has_value()); // found by the default path
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, 0, &size), 0u);
    EXPECT_EQ(size, 0);
    // A pattern for another container gives nothing.
    EXPECT_EQ(FindFirstUrlCacheEntryA("Cookie:", 0, &size), 0u);
}

TEST(UrlCacheLocator, ReadsTheCacheFolderFromTheRegistryAsWineDoes) {
    const std::string reg =
        "WINE REGISTRY Version 2\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders] 1\n"
        "\"Cache\"=str(2):\"%USERPROFILE%\\\\Caches\\\\Web\"\n";
    EXPECT_EQ(urlcache::ReadRegistryString(
                  reg, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                  "cache"),
              "%USERPROFILE%\\Caches\\Web");
    EXPECT_FALSE(urlcache::ReadRegistryString(
        reg, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Cache"));
    // Wine writes each UTF-16 unit outside ASCII as \xNNNN; a pair of them is one character.
    const std::pair<std::string, std::string> escapes[] = {
        {"\\x141\\x00f3d\\x17a", "\u0141\u00f3d\u017a"}, // Łódź
        {"\\xd83d\\xde00", "\U0001F600"},                // a surrogate pair
        {"a\\xd83db", "a\uFFFDb"},                       // a lone high surrogate
        {"\\\\ \\\" \\n", "\\ \" \n"},
    };
    for (const auto& [stored, meant] : escapes)
        EXPECT_EQ(urlcache::ReadRegistryString("[K]\n\"V\"=\"" + stored + "\"\n", "K", "V"), meant)
            << stored;

    ScratchFolder p;
    std::ofstream(p.path() / "user.reg") << reg;
    std::filesystem::create_directories(p.path() / "drive_c/users/ann/Caches/Web/Content.IE5");
    const auto where = urlcache::LocateContentCache(p.str(), "ann");
    ASSERT_TRUE(where);
    EXPECT_EQ(where->indexFile, p.str() + "/drive_c/users/ann/Caches/Web/Content.IE5/index.dat");
    EXPECT_EQ(urlcache::MapWindowsPath(p.str(), "c:\\x\\y\\"), p.str() + "/drive_c/x/y");
    EXPECT_FALSE(urlcache::MapWindowsPath(p.str(), "\\\\server\\share"));
}

TEST(UrlCacheEnumeration, WineFixtureGivesWhatWinesOwnEnumerationGave) {
    SKIP_WITHOUT_FIXTURES();
    const std::string root = testing_support::FixturesFolder() + "/url-cache/wine";
    EnvVar prefix("WINEPREFIX", (root + "/prefix").c_str());
    EnvVar user("USER", "root");
    SetAnsiCodePage(1252);

    struct Row {
        std::string url, local, sizeLow, sizeHigh;
    };
    std::vector<Row> expected;
    for (const auto& cols : testdata::ReadExpectedTsv(root + "/expected.tsv", 4)) {
        // Wine lists the cookie and history containers too; a null pattern means content.
        if (cols[0].rfind("Cookie:", 0) == 0 || cols[0].rfind("Visited:", 0) == 0)
            continue;
        std::string local = cols[1];
        if (!local.empty()) {
            local = std::string(root).append("/prefix/drive_c").append(local, 2);
            std::replace(local.begin(), local.end(), '\\', '/');
        }
        expected.push_back({cols[0], local, cols[2], cols[3]});
    }
    ASSERT_GT(expected.size(), 40u);

    std::vector<Row> ours;
    std::int32_t size = 0;
    FindFirstUrlCacheEntryA(nullptr, 0, &size);
    Buffer first(static_cast<std::uint32_t>(size));
    std::uint32_t h = FindFirstUrlCacheEntryA(nullptr, first.address, &size);
    ASSERT_NE(h, 0u);
    Address at = first.address;
    std::vector<std::unique_ptr<Buffer>> buffers;
    for (;;) {
        INTERNET_CACHE_ENTRY_INFOA rec{};
        ReadMemory(at, &rec, sizeof rec);
        ours.push_back({AnsiToUtf8(stringAt(rec.lpszSourceUrlName)),
                        rec.lpszLocalFileName ? AnsiToUtf8(stringAt(rec.lpszLocalFileName)) : "",
                        std::to_string(rec.dwSizeLow), std::to_string(rec.dwSizeHigh)});
        size = 0;
        FindNextUrlCacheEntryA(h, 0, &size);
        if (size < 1)
            break;
        buffers.push_back(std::make_unique<Buffer>(static_cast<std::uint32_t>(size)));
        at = buffers.back()->address;
        FindNextUrlCacheEntryA(h, at, &size);
    }
    FindCloseUrlCache(h);
    SetAnsiCodePage(0);

    ASSERT_EQ(ours.size(), expected.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(ours[i].url, expected[i].url) << i;
        EXPECT_EQ(ours[i].local, expected[i].local) << i;
        EXPECT_EQ(ours[i].sizeLow, expected[i].sizeLow) << i;
        EXPECT_EQ(ours[i].sizeHigh, expected[i].sizeHigh) << i;
    }
}

TEST(UrlCacheEnumeration, AnIndexRewrittenBetweenProbeAndFillIsReadAfresh) {
    testdata::IndexBuilder b;
    testdata::Record r;
    r.url = "http://example.com/old.jpg";
    r.fileName = "old.jpg";
    b.add(r);
    BuiltCache cache(b);
    std::int32_t size = 0;
    FindFirstUrlCacheEntryA(nullptr, 0, &size);
    const std::int32_t probed = size;

    // The cache's writer replaces the index: the fill must not hand out what the probe saw.
    testdata::IndexBuilder changed;
    r.url = "http://example.com/a-much-longer-address/new.jpg";
    changed.add(r);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    testdata::WriteFile(cache.folder.str() + "/index.dat", changed.build());
    Buffer buf(kPageSize);
    EXPECT_EQ(FindFirstUrlCacheEntryA(nullptr, buf.address, &size), 0u); // too small now
    EXPECT_GT(size, probed);
    const std::uint32_t h = FindFirstUrlCacheEntryA(nullptr, buf.address, &size);
    ASSERT_NE(h, 0u);
    INTERNET_CACHE_ENTRY_INFOA rec{};
    ReadMemory(buf.address, &rec, sizeof rec);
    EXPECT_EQ(stringAt(rec.lpszSourceUrlName), "http://example.com/a-much-longer-address/new.jpg");
    FindCloseUrlCache(h);
}

TEST(UrlCacheEnumeration, TheFolderPartOfALocalNameIsTheFileSystemsOwnBytes) {
    ScratchFolder root;
    const std::string folder = root.str() + "/\xC5\x81\xC3\xB3\x64\xC5\xBA \xFF"; // not ANSI
    std::filesystem::create_directories(folder);
    testdata::IndexBuilder b;
    testdata::Record r;
    r.url = "http://example.com/a.jpg";
    r.fileName = "a[1].jpg";
    b.add(r);
    testdata::WriteFile(folder + "/index.dat", b.build());
    SetUrlCacheLocator([&] { return UrlCacheSource{folder + "/index.dat", folder}; });
    SetAnsiCodePage(1252);
    std::int32_t size = 0;
    FindFirstUrlCacheEntryA(nullptr, 0, &size);
    Buffer buf(static_cast<std::uint32_t>(size));
    const std::uint32_t h = FindFirstUrlCacheEntryA(nullptr, buf.address, &size);
    SetAnsiCodePage(0);
    SetUrlCacheLocator({});
    ASSERT_NE(h, 0u);
    INTERNET_CACHE_ENTRY_INFOA rec{};
    ReadMemory(buf.address, &rec, sizeof rec);
    EXPECT_EQ(stringAt(rec.lpszLocalFileName), folder + "/AAAAAAAA/a[1].jpg");
    EXPECT_EQ(UrlCacheFolderPrefix(h), folder + "/");
    EXPECT_EQ(UrlCacheFolderPrefix(h + 1), "");
    FindCloseUrlCache(h);
    EXPECT_EQ(UrlCacheFolderPrefix(h), "");
}
