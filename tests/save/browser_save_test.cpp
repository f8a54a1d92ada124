// Saving rows whose content is a body inside a browser cache's entry file.
#include "browser_fixture.h"
#include "cache/scan/retrieve.h"
#include "save/save_command.h"
#include "save/save_row.h"
#include "sha256.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using cache::FileType;
using cache::FoundFileList;
using testing_support::FileSha256;
using testing_support::ListableBodies;
using testing_support::ReadAll;
using testing_support::ScratchFolder;
using testing_support::ScriptedDialogs;

struct AllBoxes final : cache::FileTypeSwitches {
    int value(FileType) const override { return 1; }
};

struct Window final : save::SaveWindow {
    std::string folder;
    std::string destinationText() const override { return folder; }
    void setProgress(std::size_t, std::size_t) override {}
    std::string messageTitle() const override { return {}; }
};

// url -> expected SHA-256 over the given fixtures.
std::map<std::string, std::string> ExpectedHashes(std::initializer_list<const char*> names) {
    std::map<std::string, std::string> out;
    for (const char* n : names)
        for (const auto& e : ListableBodies(n))
            out[e.url] = e.sha256;
    return out;
}

std::map<std::string, std::string> FolderContents(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out[e.path().filename().string()] = ReadAll(e.path());
    return out;
}

std::string Home(const char* name) {
    return testing_support::BrowserFixture(name) + "/home";
}

std::string FirefoxSha256(const std::string& urlPath) {
    for (const auto& e : ListableBodies("firefox"))
        if (e.urlPath == urlPath)
            return e.sha256;
    return "not in the fixture: " + urlPath;
}

class BrowserSave : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_WITHOUT_BROWSER_FIXTURES(); }
};

TEST_F(BrowserSave, EverySavedFileHoldsTheBodyTheSiteServed) {
    FoundFileList list;
    cache::RetrieveAll(list, AllBoxes{}, {{Home("firefox"), Home("chromium")}});
    const auto expected = ExpectedHashes({"firefox", "chromium"});
    ASSERT_EQ(list.count(), expected.size());

    // Row by row: each target holds its own row's decoded body, names that two browsers
    // share are numbered rather than overwritten.
    ScratchFolder one;
    save::UsedTargets used;
    for (cache::RowId r = 0; r < list.count(); ++r) {
        const auto& row = list.row(r);
        SCOPED_TRACE(row.url);
        const save::RowSaveResult result = save::SaveFoundFile(row, one.str() + "/", used);
        ASSERT_TRUE(result.saved) << result.reason;
        EXPECT_EQ(FileSha256(result.target), expected.at(row.url));
        EXPECT_EQ(fs::file_size(result.target), row.size.value());
    }
    EXPECT_TRUE(fs::exists(one.path() / "anim.gif"));
    EXPECT_TRUE(fs::exists(one.path() / "anim (2).gif"));

    // The button saves the same set of contents and says so.
    ScriptedDialogs dialogs;
    ScratchFolder two;
    Window w;
    w.folder = two.str() + "/";
    save::PushButton3_Click(list, w);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done."});
    std::multiset<std::string> saved, wanted;
    for (const auto& [name, content] : FolderContents(two.path()))
        saved.insert(browser_test::Sha256Hex(content));
    for (const auto& [url, sha] : expected)
        wanted.insert(sha);
    EXPECT_EQ(saved, wanted);
}

TEST_F(BrowserSave, AFileAlreadyThereIsReplacedByRenameNeverRewrittenInPlace) {
    FoundFileList list;
    cache::RetrieveAll(list, AllBoxes{}, {{Home("firefox")}});
    ScratchFolder d;
    const std::string out = d.str() + "/out";
    fs::create_directories(out);
    d.file("out/photo-large.jpg", "the user's old photo");
    // A second name for the old file: a copy written into the old file's inode would show here.
    fs::create_hard_link(out + "/photo-large.jpg", d.str() + "/old-link.jpg");

    ScriptedDialogs dialogs;
    Window w;
    w.folder = out + "/";
    save::PushButton3_Click(list, w);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Done."});
    EXPECT_EQ(FileSha256(out + "/photo-large.jpg"), FirefoxSha256("/photo-large.jpg"));
    EXPECT_EQ(ReadAll(d.str() + "/old-link.jpg"), "the user's old photo");
    // No temporary file is left beside the saved ones.
    EXPECT_EQ(FolderContents(out).size(), list.count());
}

TEST_F(BrowserSave, ABodyCutShortAfterTheScanLeavesTheOldTargetAndIsNotCalledDone) {
    // A private copy of the cache, so that an entry file can shrink as a running browser
    // would shrink it.
    ScratchFolder copy;
    testing_support::CopyTree(Home("firefox"), copy.path());
    FoundFileList list;
    cache::RetrieveAll(list, AllBoxes{}, {{copy.str()}});
    ASSERT_EQ(list.count(), ListableBodies("firefox").size());
    std::string entry;
    for (cache::RowId r = 0; r < list.count(); ++r)
        if (list.row(r).fileName == "photo-large.jpg")
            entry = list.row(r).path;
    ASSERT_FALSE(entry.empty());
    fs::resize_file(entry, fs::file_size(entry) / 2);

    ScratchFolder out;
    out.file("photo-large.jpg", "precious");
    ScriptedDialogs dialogs;
    Window w;
    w.folder = out.str() + "/";
    save::PushButton3_Click(list, w);
    EXPECT_EQ(ReadAll(out.path() / "photo-large.jpg"), "precious");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0], "Done.");
    EXPECT_NE(dialogs.messages[0].find("1 file could not be saved"), std::string::npos)
        << dialogs.messages[0];
    EXPECT_NE(dialogs.messages[0].find("photo-large.jpg (the cache entry changed since it was "
                                       "listed)"),
              std::string::npos);
    // The others were saved whole, and nothing half-written stayed behind.
    EXPECT_EQ(FolderContents(out.path()).size(), list.count());
    EXPECT_EQ(FileSha256(out.str() + "/photo.jpg"), FirefoxSha256("/photo.jpg"));
}

} // namespace
