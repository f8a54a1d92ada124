#include "platform/files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace platform;
using testing_support::ReadAll;
using testing_support::ScratchFolder;
namespace fs = std::filesystem;

namespace {

bool onlyTheseFiles(const fs::path& folder, const std::set<std::string>& names) {
    std::set<std::string> found;
    for (const auto& e : fs::directory_iterator(folder))
        found.insert(e.path().filename().string());
    return found == names;
}

struct WriteLimit {
    explicit WriteLimit(std::uint64_t n) { SetCopyWriteLimit(n); }
    ~WriteLimit() { SetCopyWriteLimit(std::nullopt); }
};

} // namespace

TEST(CopyFileReplacing, CopiesByteForByteAndReplacesAnExistingFile) {
    ScratchFolder d;
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 4096);
    const auto src = d.file("src/a.bin", content);
    const auto dst = d.file("out/a.bin", "old content");
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(dst), content);
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"a.bin"}));
    // The replaced file keeps the permissions the user gave it.
    EXPECT_EQ(fs::status(dst).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const auto fresh = (d.path() / "out/new.bin").string();
    EXPECT_EQ(CopyFileReplacing(src, fresh).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(fresh), content);
    EXPECT_EQ(CopyFileReplacing(d.file("empty", ""), fresh).status, CopyStatus::Copied);
    EXPECT_EQ(ReadAll(fresh), "");
}

TEST(CopyFileReplacing, AFailedCopyLeavesTheTargetAsItWasAndNoTemporaryFile) {
    ScratchFolder d;
    const auto src = d.file("src/big.bin", std::string(200000, 'n'));
    const auto dst = d.file("out/big.bin", "precious old bytes");
    {
        WriteLimit full(65536); // the disk fills up part-way
        const auto r = CopyFileReplacing(src, dst);
        EXPECT_EQ(r.status, CopyStatus::Failed);
        EXPECT_FALSE(r.error.empty());
    }
    EXPECT_EQ(ReadAll(dst), "precious old bytes");
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"big.bin"}));

    // The source vanishes before the copy: nothing changes.
    fs::remove(src);
    EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Failed);
    EXPECT_EQ(ReadAll(dst), "precious old bytes");

    // A target folder that is gone, and a target that is a folder.
    const auto src2 = d.file("src/x.bin", "x");
    EXPECT_EQ(CopyFileReplacing(src2, d.str() + "/missing/x.bin").status, CopyStatus::Failed);
    fs::create_directories(d.path() / "out/folder.bin");
    EXPECT_EQ(CopyFileReplacing(src2, d.str() + "/out/folder.bin").status, CopyStatus::Failed);
    EXPECT_TRUE(fs::is_directory(d.path() / "out/folder.bin"));
    EXPECT_TRUE(onlyTheseFiles(d.path() / "out", {"big.bin", "folder.bin"}));
}

TEST(CopyFileReplacing, ReadOnlyTargetsAndTheSourceItselfAreLeftAlone) {
    ScratchFolder d;
    const auto src = d.file("a.jpg", "source");
    const auto ro = d.file("out/ro.jpg", "read-only");
    fs::permissions(ro, fs::perms::owner_read);
    EXPECT_EQ(CopyFileReplacing(src, ro).status, CopyStatus::Failed);
    EXPECT_EQ(ReadAll(ro), "read-only");
    EXPECT_EQ(CopyFileReplacing(src, src).status, CopyStatus::SameFile);
    EXPECT_EQ(ReadAll(src), "source");
    fs::create_symlink(src, d.path() / "out/link.jpg");
    EXPECT_EQ(CopyFileReplacing(src, d.str() + "/out/link.jpg").status, CopyStatus::SameFile);
    EXPECT_EQ(ReadAll(src), "source");
    EXPECT_TRUE(fs::is_symlink(d.path() / "out/link.jpg"));
}

TEST(CopyFileReplacing, AChangeOfSizeDuringTheCopyIsAFailure) {
    ScratchFolder d;
    const auto src = d.file("a.bin", std::string(1000, 'a'));
    const auto dst = d.file("out/a.bin", "old");
    // Grow the source after it was measured: the kernel copy must not pass off a copy of
    // the wrong length. Simulated through the write limit's read/write path.
    SetCopyBeforeRenameHook([&] { ADD_FAILURE() << "must not reach the rename"; });
    {
        WriteLimit limit(999);
        EXPECT_EQ(CopyFileReplacing(src, dst).status, CopyStatus::Failed);
    }
    SetCopyBeforeRenameHook({});
    EXPECT_EQ(ReadAll(dst), "old");
}

TEST(FileTests, OpenableFilesAndFolders) {
    ScratchFolder d;
    const auto f = d.file("a.txt", "x");
    EXPECT_TRUE(CanOpenExistingFile(f));
    EXPECT_FALSE(CanOpenExistingFile(d.str()));
    EXPECT_FALSE(CanOpenExistingFile(d.str() + "/missing"));
    EXPECT_FALSE(CanOpenExistingFile(""));
    EXPECT_FALSE(CanOpenExistingFile(d.file("a?.txt", "x")));
    EXPECT_TRUE(IsFolder(d.str()));
    EXPECT_TRUE(IsFolder(d.str() + "/"));
    EXPECT_FALSE(IsFolder(f));
    EXPECT_FALSE(IsFolder(""));
    EXPECT_TRUE(FileDateTime(f).has_value());
    EXPECT_FALSE(FileDateTime(d.str()).has_value());
}
