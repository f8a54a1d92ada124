// Disk images named as folders are: the caches in every file system of the image listed as
// the same trees copied out list, their bodies read through the image byte for byte, the
// image left as it was; hostile images answered quickly with what could be read.
#include "cache/scan/retrieve.h"
#include "cli/body_hash.h"
#include "platform/base/paths.h"
#include "platform/image/image_reader.h"

#include "image_builder.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

struct AllBoxes final : cache::FileTypeSwitches {
    int value(cache::FileType) const override { return 1; }
};

// Each row as URL, name, size, source and the decoded body's hash, in the list's order.
using Row = std::tuple<std::string, std::string, std::uint64_t, std::string, std::string>;
// With `deleted`, the images are read with their deleted files, and `deleted` counts the rows
// read back from them.
std::multiset<Row> Rows(const std::vector<std::string>& folders, cache::RetrieveReport* report,
                        std::vector<std::string>* paths = nullptr, std::size_t* deleted = nullptr) {
    cache::FoundFileList list;
    const cache::RetrieveReport r =
        deleted ? cache::RetrieveNamed(list, AllBoxes{}, cache::ClassifyNamedFolders(folders, true))
                : cache::RetrieveAll(list, AllBoxes{}, {folders});
    if (report)
        *report = r;
    std::multiset<Row> rows;
    for (cache::RowId i = 0; i < list.count(); ++i) {
        const cache::FoundFile& f = list.row(i);
        std::string error;
        rows.insert({f.url, f.fileName, f.size.value_or(0), f.source,
                     cli::RowBodySha256(f, error).value_or("unreadable: " + error)});
        if (paths)
            paths->push_back(f.path);
        if (deleted)
            *deleted += f.deleted;
    }
    return rows;
}

std::string Hash(const fs::path& file) {
    return browser_test::Sha256Hex(testing_support::ReadAll(file));
}

class ImageRetrieve : public testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_FIXTURES();
        const fs::path caches = fs::path(testing_support::FixturesFolder()) / "browser-caches";
        // A Linux home with Firefox, Chromium (Simple Cache and SQL) and GNOME Web caches.
        for (const char* kind : {"firefox", "chromium", "chromium-sql", "webkit"})
            testing_support::CopyTree(caches / kind / "home",
                                      at("linux/home/" + std::string(kind)));
        // A copied Windows profile with Chrome's and Edge's blockfile caches and the
        // Internet Explorer cache Wine's WinINet wrote.
        testing_support::CopyTree(caches / "chromium-blockfile/home", at("windows/Users/carol"));
        testing_support::CopyTree(fs::path(testing_support::FixturesFolder()) /
                                      "url-cache/wine/prefix/drive_c/users/root/AppData",
                                  at("windows/Users/carol/AppData"));
    }
    fs::path at(const std::string& name) const { return scratch_.path() / name; }
    std::vector<std::string> homes() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(at("linux/home")))
            out.push_back(e.path().string());
        out.push_back(at("windows/Users/carol").string());
        return out;
    }
    ScratchFolder scratch_;
};

TEST_F(ImageRetrieve, AnExt4ImageAndAnE01OfAGptNtfsDiskListWhatTheTreesCopiedOutList) {
    for (const auto& [type, tree] : {std::pair{"ext4", "linux"}, std::pair{"ntfs", "windows"}}) {
        const std::string error = testing_support::MakeFileSystem(type, at(tree), at(type));
        SKIP_WITHOUT_IMAGE_TOOLS(error);
    }
    std::string error = testing_support::MakePartitionedDisk("gpt", {at("ntfs")}, at("disk.raw"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    fs::path e01;
    error = testing_support::ConvertImage(at("disk.raw"), "E01", at("carol"), e01);
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    fs::path split;
    error = testing_support::ConvertImage(at("disk.raw"), "split", at("pieces"), split);
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    const std::string before = Hash(at("ext4")) + Hash(e01);

    cache::RetrieveReport copied, imaged;
    const auto expected = Rows(homes(), &copied);
    std::vector<std::string> paths;
    const auto got = Rows({at("ext4").string(), e01.string()}, &imaged, &paths);
    EXPECT_GT(expected.size(), 60u);
    EXPECT_GT(std::count_if(expected.begin(), expected.end(),
                            [](const Row& r) { return std::get<3>(r) == cache::kWinInetSource; }),
              3);
    EXPECT_EQ(got, expected); // bodies included, read through the images
    // Read where they lie in the pieces of a split raw image, the bodies are the same.
    EXPECT_EQ(Rows({at("ext4").string(), split.string()}, nullptr), expected);
    EXPECT_EQ(imaged.problems.size(), copied.problems.size());
    EXPECT_TRUE(imaged.unreadableFolders.empty());
    // Each row names the image, the partition and the path inside.
    for (const std::string& path : paths)
        EXPECT_TRUE(path.starts_with(platform::ImageFilePath(at("ext4").string(), "", "/home/")) ||
                    path.starts_with(platform::ImageFilePath(e01.string(), "p1", "/Users/carol/")))
            << path;
    EXPECT_EQ(Hash(at("ext4")) + Hash(e01), before);
}

// Deleted cache entries that a FAT file system still names come back, marked, when asked for
// and only while their bytes pass the cache's own checks: Firefox's whole cache2 folder
// deleted (its short names lose their first letter), Chromium entries deleted one by one, a
// whole WebKit cache deleted; then a byte changed in one deleted entry of each.
TEST_F(ImageRetrieve, DeletedEntriesComeBackOnlyWhenTheirChecksHold) {
    testing_support::CopyTree(at("linux/home/firefox"), at("fat/ff"));
    testing_support::CopyTree(at("linux/home/chromium"), at("fat/cr"));
    testing_support::CopyTree(at("linux/home/webkit"), at("fat/wk"));
    // Clusters of 4 KiB, as on real disks: a deleted folder's names are read from its first
    // cluster alone (the chain that led on is gone).
    const std::string image = at("fat.img").string();
    fs::resize_file(scratch_.file("fat.img", ""), std::uint64_t{260} << 20);
    std::string error = testing_support::RunTool({"mkfs.fat", "-F", "32", "-s", "8", image});
    if (error.empty())
        error = testing_support::RunTool({"mcopy", "-s", "-Q", "-i", image, at("fat/ff").string(),
                                          at("fat/cr").string(), at("fat/wk").string(), "::/"});
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    const auto expected =
        Rows({at("fat/ff").string(), at("fat/cr").string(), at("fat/wk").string()}, nullptr);
    ASSERT_EQ(Rows({image}, nullptr), expected);

    fs::path cache2, simple, webkit;
    std::vector<fs::path> gone; // the Chromium entries deleted
    for (const auto& e : fs::recursive_directory_iterator(at("fat")))
        if (e.path().filename() == "cache2")
            cache2 = e.path();
        else if (e.path().filename() == "Cache_Data")
            simple = e.path();
        else if (e.path().filename() == "WebKitCache" && webkit.empty())
            webkit = e.path();
    for (const auto& e : fs::directory_iterator(simple))
        if (e.path().string().ends_with("_0") && gone.size() < 4)
            gone.push_back(e.path());
    const auto inside = [&](const fs::path& p) {
        return "::/" + fs::relative(p, at("fat")).string();
    };
    error = testing_support::RunTool({"mdeltree", "-i", image, inside(cache2), inside(webkit)});
    for (const fs::path& p : gone)
        if (error.empty())
            error = testing_support::RunTool({"mdel", "-i", image, inside(p)});
    SKIP_WITHOUT_IMAGE_TOOLS(error);

    const auto live = Rows({image}, nullptr);
    std::size_t deleted = 0;
    const auto all = Rows({image}, nullptr, nullptr, &deleted);
    EXPECT_LT(live.size() + 10, expected.size());
    EXPECT_EQ(all.size(), live.size() + deleted);
    EXPECT_EQ(all, expected); // every entry back, the same bodies byte for byte

    // One byte changed in the stored body of a deleted entry of each cache: both are refused.
    std::string bytes = testing_support::ReadAll(at("fat.img"));
    const auto largest = [](std::vector<fs::path> files) { // a picture's, not a page's
        return *std::max_element(files.begin(), files.end(), [](const auto& x, const auto& y) {
            return fs::file_size(x) < fs::file_size(y);
        });
    };
    std::vector<fs::path> firefox, records;
    for (const auto& e : fs::directory_iterator(cache2 / "entries"))
        firefox.push_back(e.path());
    for (const auto& e : fs::recursive_directory_iterator(webkit))
        if (e.is_regular_file() && e.path().parent_path().filename() == "Blobs")
            records.push_back(e.path());
    for (const fs::path& entry : {largest(firefox), largest(gone), largest(records)}) {
        const std::string body = testing_support::ReadAll(entry).substr(0, 400);
        const std::size_t where = bytes.find(body);
        ASSERT_NE(where, std::string::npos) << entry;
        bytes[where + 399] = static_cast<char>(bytes[where + 399] ^ 1);
    }
    std::ofstream(at("fat.img"), std::ios::binary | std::ios::trunc) << bytes;
    std::size_t proven = 0;
    const auto after = Rows({image}, nullptr, nullptr, &proven);
    EXPECT_EQ(proven + 3, deleted);
    for (const Row& row : after)
        EXPECT_EQ(expected.count(row), 1u) << std::get<0>(row);
}

// A deleted name whose record a live file has taken since leads nowhere: on ext2, an entry
// removed and its inode given to a copy of another entry elsewhere comes back only while the
// inode is free.
TEST_F(ImageRetrieve, ADeletedNameWhoseRecordWasTakenIsNotRead) {
    testing_support::CopyTree(at("linux/home/firefox"), at("ext2/home/ff"));
    std::vector<fs::path> entries;
    for (const auto& e : fs::recursive_directory_iterator(at("ext2")))
        if (e.path().parent_path().filename() == "entries")
            entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    const std::string image = at("ext2.img").string();
    const auto inside = [&](const fs::path& p) {
        return "/" + fs::relative(p, at("ext2")).string();
    };
    std::string error = testing_support::RunTool(
        {"mke2fs", "-q", "-F", "-t", "ext2", "-d", at("ext2").string(), image, "16M"});
    for (const std::string& command :
         {"rm \"" + inside(entries[0]) + "\"", "rm \"" + inside(entries[1]) + "\""})
        if (error.empty())
            error = testing_support::RunTool({"debugfs", "-w", "-R", command, image});
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    std::size_t freed = 0, taken = 0;
    const auto before = Rows({image}, nullptr, nullptr, &freed);
    // The lowest free inode, the first entry's, goes to the copy.
    error = testing_support::RunTool(
        {"debugfs", "-w", "-R", "write \"" + entries[2].string() + "\" /copy", image});
    ASSERT_EQ(error, "");
    const auto after = Rows({image}, nullptr, nullptr, &taken);
    EXPECT_EQ(freed, 2u);
    EXPECT_EQ(taken, 1u);
    EXPECT_EQ(after.size() + 1, before.size());
}

// Hostile or damaged images: each is answered within seconds, the readable rest listed and
// the damaged part named.
TEST_F(ImageRetrieve, DamagedImagesAreAnsweredQuicklyWithWhatCanBeRead) {
    for (const auto& [type, name] : {std::pair{"ext4", "linux"}, std::pair{"fat", "other"}}) {
        if (std::string(name) == "other")
            testing_support::CopyTree(at("linux/home/firefox"), at("other/firefox"));
        const std::string error = testing_support::MakeFileSystem(type, at(name), at(type));
        SKIP_WITHOUT_IMAGE_TOOLS(error);
    }
    std::string error =
        testing_support::MakePartitionedDisk("dos", {at("fat"), at("ext4")}, at("cut.raw"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    // The disk ends inside its second partition, which is named; the first is still read.
    fs::resize_file(at("cut.raw"), fs::file_size(at("cut.raw")) - fs::file_size(at("ext4")));
    // A directory loop: a folder holding a name for its own grandparent.
    fs::copy_file(at("ext4"), at("loop.img"));
    error = testing_support::RunTool(
        {"debugfs", "-w", "-R", "link /home /home/firefox/.cache/up", at("loop.img").string()});
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    // A cache entry file whose record claims 2 TiB.
    fs::path entry;
    for (const auto& e : fs::recursive_directory_iterator(at("linux/home/firefox")))
        if (e.path().parent_path().filename() == "entries" && entry.empty())
            entry = e.path();
    fs::copy_file(at("ext4"), at("huge.img"));
    error = testing_support::RunTool(
        {"debugfs", "-w", "-R",
         "sif \"/home/" + fs::relative(entry, at("linux/home")).string() + "\" size 2199023255552",
         at("huge.img").string()});
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    // An NTFS disk whose master file table has noise over its user files' records (the file
    // system still opens), and one whose own records are noise too; an E01 of it whose last
    // segment is cut in half.
    error = testing_support::MakeFileSystem("ntfs", at("windows"), at("ntfs"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    std::uint64_t mft = 0;
    {
        std::ifstream in(at("ntfs"), std::ios::binary);
        unsigned char boot[0x38] = {};
        in.read(reinterpret_cast<char*>(boot), sizeof boot);
        for (int i = 7; i >= 0; --i)
            mft = mft << 8 | boot[0x30 + i];
        mft *= std::uint64_t{boot[0x0B]} | std::uint64_t{boot[0x0C]} << 8;
        mft *= boot[0x0D];
    }
    for (const auto& [name, from] : {std::pair{"mft-users.img", mft + std::uint64_t{40} * 1024},
                                     std::pair{"mft-all.img", mft}}) {
        fs::copy_file(at("ntfs"), at(name));
        std::fstream out(at(name), std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(from));
        for (int i = 0; i < 256 << 10; ++i)
            out.put(static_cast<char>(i * 131 + (i >> 7)));
    }
    fs::path cutE01;
    error = testing_support::ConvertImage(at("ntfs"), "E01", at("cut-e01"), cutE01);
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    fs::path last = cutE01;
    for (char c = '2'; fs::exists(fs::path(cutE01).replace_extension(std::string(".E0") + c)); ++c)
        last = fs::path(cutE01).replace_extension(std::string(".E0") + c);
    fs::resize_file(last, fs::file_size(last) / 2);
    // Noise over the file system's own records, and over the middle of its data.
    for (const auto& [name, at_] : {std::pair{"noise.img", std::uint64_t{1024}},
                                    std::pair{"holes.img", fs::file_size(at("ext4")) / 2}}) {
        fs::copy_file(at("ext4"), at(name));
        std::fstream out(at(name), std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(at_));
        for (int i = 0; i < 1 << 20; ++i)
            out.put(static_cast<char>(i * 131 + (i >> 7)));
    }
    const std::string plain = scratch_.file("notes.txt", "not a disk");
    struct Case {
        std::string image;
        std::size_t rows;  // at least
        std::string named; // a problem or the folder's answer holding this
    };
    const std::vector<Case> cases = {
        {at("cut.raw").string(), 10, "p2: ends past the end of the image"},
        {at("loop.img").string(), 10, ""},
        {at("huge.img").string(), 10, "is damaged"},
        {at("noise.img").string(), 0, "is not a folder, nor a disk image"},
        {at("holes.img").string(), 0, ""},
        {at("mft-users.img").string(), 0, ""},
        {at("mft-all.img").string(), 0, "a damaged ntfs file system that cannot be read"},
        {cutE01.string(), 0, ""},
        {plain, 0, "is not a folder, nor a disk image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const auto start = std::chrono::steady_clock::now();
        cache::RetrieveReport report;
        const auto rows = Rows({c.image}, &report);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_GE(rows.size(), c.rows);
        std::string told;
        for (const auto& p : report.problems)
            told += p.folder + ": " + p.reason + "\n";
        for (const auto& p : report.unreadableFolders)
            told += p.folder + ": " + p.reason + "\n";
        EXPECT_NE(told.find(c.named), std::string::npos) << told;
        for (const Row& row : rows) // never a row whose bytes cannot be read
            EXPECT_FALSE(std::get<4>(row).starts_with("unreadable")) << std::get<0>(row);
    }
}

// A reader that crashes or hangs inside the library stops alone: the program goes on, the
// image's reads fail, and it says why, within the time allowed.
TEST_F(ImageRetrieve, AReaderThatCrashesOrHangsStopsAloneAndIsNamed) {
    const std::string error = testing_support::MakeFileSystem("ext4", at("linux"), at("ext4"));
    SKIP_WITHOUT_IMAGE_TOOLS(error);
    for (const auto& [fault, said] : {std::pair{"crash", "the disk image reader crashed"},
                                      std::pair{"hang", "did not answer within 300 ms"}}) {
        SCOPED_TRACE(fault);
        testing_support::ScopedEnv env("TAMBERLIN_IMAGE_READER_FAULT", fault);
        const auto start = std::chrono::steady_clock::now();
        std::string why;
        const auto image = platform::OpenDiskImageApart(at("ext4").string(), why,
                                                        {std::chrono::milliseconds(300), {}});
        ASSERT_TRUE(image) << why;
        int code = 0;
        EXPECT_TRUE(image->volumes.at(0).files->openFolder("/home", code)); // still well
        EXPECT_FALSE(image->volumes.at(0).files->openFile(
            "/home/firefox/.config/mozilla/firefox/profiles.ini", code));
        EXPECT_EQ(code, EIO);
        EXPECT_TRUE(std::regex_search(image->failure(), std::regex(said))) << image->failure();
        EXPECT_FALSE(image->volumes.at(0).files->openFolder("/home/firefox", code));
        EXPECT_EQ(code, EIO);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    // Retrieve names the stopped reader once.
    testing_support::ScopedEnv env("TAMBERLIN_IMAGE_READER_FAULT", "crash");
    cache::RetrieveReport report;
    Rows({at("ext4").string()}, &report);
    std::size_t said = 0;
    for (const auto& p : report.problems)
        said += p.reason.starts_with("the disk image reader") && p.folder == at("ext4").string();
    EXPECT_EQ(said, 1u);
}

} // namespace
