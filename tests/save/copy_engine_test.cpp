#include "save/copy_engine.h"
#include "test_support.h"

#include "platform/base/files.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace save;
using testing_support::ReadAll;
using testing_support::ScratchFolder;

TEST(PathHelpers, CollapseAndFolderPartWithTheNativeSeparator) {
    EXPECT_EQ(CollapseBackslashes("C://Pics//a.jpg"), "C:/Pics/a.jpg");
    EXPECT_EQ(CollapseBackslashes("///server/share//a.jpg"), "//server/share/a.jpg");
    EXPECT_EQ(CollapseBackslashes("//server/share/a.jpg"), "//server/share/a.jpg");
    EXPECT_EQ(CollapseBackslashes("/home///x////y"), "/home//x//y"); // runs of 3 and 4 become 2
    EXPECT_EQ(CollapseBackslashes("/Pics/a.jpg"), "/Pics/a.jpg");    // an ordinary absolute path
    EXPECT_EQ(CollapseBackslashes("/"), "/");
    EXPECT_EQ(CollapseBackslashes("//"), "//");
    EXPECT_EQ(CollapseBackslashes(""), "");
    EXPECT_EQ(FolderPart("/Pics/a.jpg"), "/Pics/");
    EXPECT_EQ(FolderPart("/Pics/"), "/Pics/");
    EXPECT_EQ(FolderPart("a.jpg"), "");
    EXPECT_THROW(FolderPart(std::string(40000, 'a') + "/x"), std::overflow_error);
}

TEST(CopyFileChecked, CopiesOnlyAnExistingFileIntoAnExistingFolder) {
    ScratchFolder d;
    const auto src = d.file("cache/a.jpg", "picture");
    const auto out = (d.path() / "out").string();
    std::filesystem::create_directories(out);

    EXPECT_EQ(CopyFileChecked("", out + "/a.jpg").result, CopyResult::Skipped);
    EXPECT_EQ(CopyFileChecked(src, "   ").result, CopyResult::Skipped);
    EXPECT_EQ(CopyFileChecked(d.str() + "/cache", out + "/a.jpg").result,
              CopyResult::Skipped); // a folder
    EXPECT_EQ(CopyFileChecked(d.str() + "/cache/gone.jpg", out + "/a.jpg").result,
              CopyResult::Skipped);
    EXPECT_EQ(CopyFileChecked(d.str() + "/cache/?.jpg", out + "/a.jpg").result,
              CopyResult::Skipped);
    EXPECT_EQ(CopyFileChecked(src, out + "/missing/a.jpg").result, CopyResult::Skipped);
    EXPECT_FALSE(std::filesystem::exists(out + "/missing"));              // no folder is made
    EXPECT_EQ(CopyFileChecked(src, "a.jpg").result, CopyResult::Skipped); // no folder part
    EXPECT_TRUE(std::filesystem::is_empty(out));

    // Doubled separators are tidied before the tests and the copy.
    EXPECT_EQ(CopyFileChecked(d.str() + "//cache//a.jpg", out + "//a.jpg").result,
              CopyResult::Copied);
    EXPECT_EQ(ReadAll(out + "/a.jpg"), "picture");
    // The same target twice: the second replaces the first.
    const auto src2 = d.file("cache/b.jpg", "second");
    EXPECT_EQ(CopyFileChecked(src2, out + "/a.jpg").result, CopyResult::Copied);
    EXPECT_EQ(ReadAll(out + "/a.jpg"), "second");
    // Into the cache folder itself: the file is already there and stays untouched.
    EXPECT_EQ(CopyFileChecked(src, d.str() + "/cache/a.jpg").result, CopyResult::AlreadyThere);
    EXPECT_EQ(ReadAll(src), "picture");
}

TEST(CopyFileChecked, PathBytesReachTheFileSystemUnchangedAndFailuresChangeNothing) {
    ScratchFolder d;
    // A cache folder and a destination whose names are not valid UTF-8.
    const auto src = d.file("cache\xFF/IE\x80//pic\xE9.jpg", "picture bytes");
    const std::string out = d.str() + "/saved\xFE\xFF";
    std::filesystem::create_directories(out);
    const std::string target = out + "//pic\xE9.jpg";
    EXPECT_EQ(CopyFileChecked(d.str() + "/cache\xFF/IE\x80//pic\xE9.jpg", target).result,
              CopyResult::Copied);
    EXPECT_EQ(ReadAll(out + "/pic\xE9.jpg"), "picture bytes");
    EXPECT_EQ(ReadAll(src), "picture bytes");

    // The disk fills up in the middle of replacing it: the old file stays, no temporary.
    const auto bigger = d.file("cache\xFF/big.jpg", std::string(300000, 'b'));
    platform::SetCopyWriteLimit(100000);
    const CopyReport full = CopyFileChecked(bigger, out + "/pic\xE9.jpg");
    platform::SetCopyWriteLimit(std::nullopt);
    EXPECT_EQ(full.result, CopyResult::Failed);
    EXPECT_FALSE(full.reason.empty());
    EXPECT_EQ(ReadAll(out + "/pic\xE9.jpg"), "picture bytes");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(out))
        ++entries;
    EXPECT_EQ(entries, 1u);
}
