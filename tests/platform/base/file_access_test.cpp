#include "platform/base/file_access.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using testing_support::ScratchFolder;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A tree holding one of everything a cache folder may hold, planted or not.
struct Tree {
    ScratchFolder scratch;
    fs::path root = scratch.path();
    Tree() {
        Write(root / "file", "0123456789");
        fs::create_directory(root / "folder");
        Write(root / "folder" / "inner", "abc");
        fs::create_symlink(root / "file", root / "link-to-file");
        fs::create_symlink(root / "folder", root / "link-to-folder");
        ::mkfifo((root / "fifo").c_str(), 0600);
    }
};

TEST(FileAccess, OpensOnlyRegularFilesAndFoldersAndNeverFollowsLinksByName) {
    Tree t;
    const FileAccess& files = HostFiles();
    int error = 0;
    auto root = files.openFolder(t.root.string(), error);
    ASSERT_TRUE(root);
    struct Case {
        const char* name;
        bool file, folder; // what opens as what
        int fileError;     // errno of opening it as a file when it does not open
    } cases[] = {
        {"file", true, false, 0},
        {"folder", false, true, EISDIR},
        {"link-to-file", false, false, ELOOP},
        {"link-to-folder", false, false, ELOOP},
        {"fifo", false, false, EINVAL},
        {"missing", false, false, ENOENT},
        {"folder/inner", false, false, EINVAL},
        {"..", false, false, EINVAL},
        {"", false, false, EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        error = 0;
        EXPECT_EQ(files.openFile(*root, c.name, error) != nullptr, c.file);
        if (!c.file) {
            EXPECT_EQ(error, c.fileError);
        }
        EXPECT_EQ(files.openFolder(*root, c.name, error) != nullptr, c.folder);
    }
    // A path the user names is taken however it is reached, except a file that is a link.
    EXPECT_TRUE(files.openFolder((t.root / "link-to-folder").string(), error));
    EXPECT_FALSE(files.openFile((t.root / "link-to-file").string(), error));
    EXPECT_TRUE(files.openFile((t.root / "link-to-folder" / "inner").string(), error));
}

TEST(FileAccess, ListsEveryEntryWithItsKind) {
    Tree t;
    int error = 0;
    auto root = HostFiles().openFolder(t.root.string(), error);
    ASSERT_TRUE(root);
    for (int round = 0; round < 2; ++round) { // a second listing sees the same
        std::vector<FolderEntry> entries;
        EXPECT_EQ(root->list(entries), 0);
        std::map<std::string, EntryKind> kinds;
        for (const auto& e : entries)
            kinds[e.name] = e.kind;
        EXPECT_EQ(kinds, (std::map<std::string, EntryKind>{{"fifo", EntryKind::Other},
                                                           {"file", EntryKind::File},
                                                           {"folder", EntryKind::Folder},
                                                           {"link-to-file", EntryKind::Link},
                                                           {"link-to-folder", EntryKind::Link}}));
    }
    EXPECT_TRUE(root->searchable());
}

TEST(FileAccess, ReadsWithinTheSizeAtOpeningAndSeesChange) {
    Tree t;
    int error = 0;
    auto file = HostFiles().openFile((t.root / "file").string(), error);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 10u);
    char buffer[16] = {};
    EXPECT_TRUE(file->readAt(6, buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_FALSE(file->readAt(7, buffer, 4));
    EXPECT_FALSE(file->readAt(~0ull, buffer, 1));
    std::uint64_t start = 0, end = 0;
    EXPECT_TRUE(file->dataRun(3, start, end));
    EXPECT_EQ(start, 3u);
    EXPECT_EQ(end, 10u);
    EXPECT_FALSE(file->dataRun(10, start, end));

    FileIdentity now;
    ASSERT_TRUE(file->currentIdentity(now));
    EXPECT_EQ(now, file->identity());
    ::truncate((t.root / "file").c_str(), 5); // the browser rewrites it underneath
    ASSERT_TRUE(file->currentIdentity(now));
    EXPECT_NE(now, file->identity());
    EXPECT_FALSE(file->readAt(6, buffer, 4)); // short data is never returned
}

TEST(FileAccess, AFolderWithoutSearchPermissionIsNamedAsSuch) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    Tree t;
    ::chmod((t.root / "folder").c_str(), 0400);
    int error = 0;
    auto folder = HostFiles().openFolder((t.root / "folder").string(), error);
    ASSERT_TRUE(folder);
    std::vector<FolderEntry> entries;
    EXPECT_EQ(folder->list(entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "inner");
    EXPECT_FALSE(folder->searchable());
    EXPECT_FALSE(HostFiles().openFile(*folder, "inner", error));
    EXPECT_EQ(error, EACCES);
    ::chmod((t.root / "folder").c_str(), 0700);
}

TEST(FileAccess, AFolderWithoutReadPermissionIsHeldButCannotBeListed) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root";
    Tree t;
    ::chmod((t.root / "folder").c_str(), 0100);
    int error = 0;
    auto folder = HostFiles().openFolder((t.root / "folder").string(), error);
    ASSERT_TRUE(folder);
    std::vector<FolderEntry> entries;
    EXPECT_EQ(folder->list(entries), EACCES);
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(folder->searchable());
    EXPECT_TRUE(HostFiles().openFile(*folder, "inner", error)); // held to open what it holds
    ::chmod((t.root / "folder").c_str(), 0700);
}

} // namespace
