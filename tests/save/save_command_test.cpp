#include "cache/scan/list_columns.h"
#include "platform/base/files.h"
#include "platform/base/messages.h"
#include "save/folder_chooser.h"
#include "save/save_command.h"
#include "save/save_row.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace save;
using cache::FoundFileList;
using testing_support::ReadAll;
using testing_support::RecordingReporter;
using testing_support::ScratchFolder;
using testing_support::ScriptedDialogs;

namespace {

struct Window final : SaveWindow {
    std::string destination;
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::string destinationText() const override { return destination; }
    void setProgress(std::size_t done, std::size_t total) override {
        progress.emplace_back(done, total);
    }
    std::string messageTitle() const override { return "Tamberlin"; }
};

struct Box final : DestinationBox {
    std::vector<std::string> texts;
    void setText(const std::string& t) override { texts.push_back(t); }
};

cache::RowId addRow(FoundFileList& list, const std::string& path, bool ticked = true) {
    const auto r = list.append("http://example.com/" + path);
    list.setTick(r, ticked);
    list.setSubItem(r, cache::kFileNameColumn, path.substr(path.rfind('/') + 1));
    list.setSubItem(r, cache::kFilePathColumn, path);
    return r;
}

struct Fixture {
    ScratchFolder d;
    std::string cache = (d.path() / "cache").string();
    std::string out = (d.path() / "out").string();
    Fixture() { std::filesystem::create_directories(out); }
    std::string cached(const std::string& rel, const std::string& content) {
        return d.file("cache/" + rel, content);
    }
};

} // namespace

TEST(SaveCommand, TheThreeMessagesInTheirOrderOfChecks) {
    ScriptedDialogs dialogs;
    RecordingReporter reporter;
    Fixture f;
    FoundFileList list;
    Window w;
    w.destination = f.d.str() + "/nowhere/";
    PushButton3_Click(list, w); // empty list: no folder test at all
    addRow(list, f.cached("A/a.jpg", "a"), false);
    PushButton3_Click(list, w); // rows, none ticked
    list.setTick(0, true);
    PushButton3_Click(list, w);
    w.destination = "";
    PushButton3_Click(list, w);
    w.destination = f.cached("A/a.jpg", "a"); // a file, not a folder
    PushButton3_Click(list, w);
    w.destination = f.out + "/";
    PushButton3_Click(list, w);
    EXPECT_EQ(dialogs.messages,
              (std::vector<std::string>{"Nothing to save.", "Nothing to save.",
                                        "Folder does not exist. Please select another folder.",
                                        "Folder does not exist. Please select another folder.",
                                        "Folder does not exist. Please select another folder.",
                                        "Done."}));
    EXPECT_EQ(dialogs.titles.back(), "Tamberlin");
    EXPECT_TRUE(reporter.reports.empty());
}

TEST(SaveCommand, OnlyTickedRowsAreSavedAndDuplicateNamesDoNotOverwriteEachOther) {
    ScriptedDialogs dialogs;
    Fixture f;
    FoundFileList list;
    addRow(list, f.cached("A/favicon[1].ico", "first"));
    addRow(list, f.cached("B/favicon[1].ico", "second"));
    addRow(list, f.cached("C/favicon[1].ico", "third"));
    addRow(list, f.cached("A/skip.jpg", "skip"), false);
    addRow(list, f.cached("A/photo.jpg", "new photo"));
    f.d.file("out/photo.jpg", "old photo");               // there before: replaced
    f.d.file("out/favicon[1] (2).ico", "someone else's"); // there before: left alone
    Window w;
    w.destination = f.out + "/";
    PushButton3_Click(list, w);
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Done."}));
    EXPECT_EQ(ReadAll(f.out + "/favicon[1].ico"), "first");
    EXPECT_EQ(ReadAll(f.out + "/favicon[1] (2).ico"), "someone else's");
    EXPECT_EQ(ReadAll(f.out + "/favicon[1] (3).ico"), "second");
    EXPECT_EQ(ReadAll(f.out + "/favicon[1] (4).ico"), "third");
    EXPECT_EQ(ReadAll(f.out + "/photo.jpg"), "new photo");
    EXPECT_FALSE(std::filesystem::exists(f.out + "/skip.jpg"));
    // Progress: reset, then one step per ticked row.
    ASSERT_FALSE(w.progress.empty());
    EXPECT_EQ(w.progress.front(), (std::pair<std::size_t, std::size_t>{0, 4}));
    EXPECT_EQ(w.progress.back(), (std::pair<std::size_t, std::size_t>{4, 4}));
    EXPECT_EQ(NumberedName("noext", 2), "noext (2)");
    EXPECT_EQ(NumberedName(".hidden", 2), ".hidden (2)");
}

TEST(SaveCommand, NumberedNamesFitTheNameLimitAndAreCutBetweenCharacters) {
    const std::string euros = [] {
        std::string e;
        for (int i = 0; i < 83; ++i)
            e += "\xE2\x82\xAC"; // 249 bytes
        return e;
    }();
    const struct {
        std::string name;
        int number;
        std::string numbered;
    } cases[] = {
        {std::string(251, 'a') + ".jpg", 2, std::string(247, 'a') + " (2).jpg"},
        {std::string(251, 'a') + ".jpg", 10, std::string(246, 'a') + " (10).jpg"},
        {euros + ".jpg", 2, euros.substr(0, 246) + " (2).jpg"}, // 247 would split a euro
        {std::string(255, 'n'), 3, std::string(251, 'n') + " (3)"},
        {"a." + std::string(253, 'x'), 2, ("a." + std::string(249, 'x')) + " (2)"},
        {"short.png", 2, "short (2).png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.size());
        EXPECT_EQ(NumberedName(c.name, c.number), c.numbered);
        EXPECT_LE(NumberedName(c.name, c.number).size(), 255u);
    }
    // Saved for real: two rows of one 255-byte name both land, the second shortened.
    Fixture f;
    FoundFileList list;
    addRow(list, f.cached("A/" + std::string(251, 'a') + ".jpg", "first"));
    addRow(list, f.cached("B/" + std::string(251, 'a') + ".jpg", "second"));
    save::UsedTargets used;
    for (cache::RowId r = 0; r < 2; ++r)
        EXPECT_TRUE(SaveFoundFile(list.row(r), f.out + "/", used).saved);
    EXPECT_EQ(ReadAll(f.out + "/" + std::string(247, 'a') + " (2).jpg"), "second");
}

TEST(SaveCommand, NamesDifferingOnlyInLetterCaseAreNumbered) {
    // On FAT, exFAT and casefolded folders these are one file each: the second must not
    // replace the first, whatever the file system of the test machine.
    const std::pair<std::string, std::string> pairs[] = {
        {"Photo.jpg", "photo.JPG"},
        {"\xC3\x84pfel.png", "\xC3\xA4pfel.png"}, // Ä, ä
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA.gif",
         "\xC5\x82\xC3\x93"
         "D\xC5\xB9.gif"}, // Łódź, łÓDŹ
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first);
        Fixture f;
        FoundFileList list;
        addRow(list, f.cached("A/" + first, "first"));
        addRow(list, f.cached("B/" + second, "second"));
        save::UsedTargets used;
        EXPECT_EQ(SaveFoundFile(list.row(0), f.out + "/", used).target, f.out + "/" + first);
        EXPECT_EQ(SaveFoundFile(list.row(1), f.out + "/", used).target,
                  f.out + "/" + NumberedName(second, 2));
    }
    EXPECT_EQ(FoldNameCase("A\xC3\x9E\xC4\x80\xC4\xB9\xC5\xB8\xC3\x97\xCE\x91"),
              "a\xC3\xBE\xC4\x81\xC4\xBA\xC3\xBF\xC3\x97\xCE\x91"); // Greek left as is
}

TEST(SaveCommand, RowsOfOneNameTakeTheNextFreeNumberLeavingNumberedFilesThatWereThere) {
    Fixture f;
    FoundFileList list;
    const char* names[] = {"image.jpg", "image.jpg", "image.jpg", "IMAGE.JPG", "image.jpg"};
    for (int i = 0; i < 5; ++i)
        addRow(list, f.cached("D" + std::to_string(i) + "/" + names[i], "row" + std::to_string(i)));
    const std::string mine = f.out + "/image (3).jpg";
    f.d.file("out/image (3).jpg", "mine");
    UsedTargets used;
    std::string targets;
    for (cache::RowId r = 0; r < 5; ++r)
        targets +=
            SaveFoundFile(list.row(r), f.out + "/", used).target.substr(f.out.size() + 1) + "|";
    EXPECT_EQ(targets, "image.jpg|image (2).jpg|image (4).jpg|IMAGE (5).JPG|image (6).jpg|");
    EXPECT_EQ(ReadAll(mine), "mine");
}

TEST(SaveCommand, SavingTheSameRowsAgainAddsNothing) {
    ScriptedDialogs dialogs;
    Fixture f;
    FoundFileList list;
    // Two bodies of one name, one of them twice, a name in other letters, and a row whose
    // bytes differ from the file of its name that was there before.
    const std::pair<const char*, const char*> rows[] = {
        {"A/bg.png", "one"},   {"B/bg.png", "two"},  {"C/bg.png", "one"},
        {"D/BG.PNG", "three"}, {"E/new.gif", "gif"}, {"F/bg.png", "two"},
    };
    for (const auto& [path, content] : rows)
        addRow(list, f.cached(path, content));
    Window w;
    w.destination = f.out + "/";
    PushButton3_Click(list, w);
    const auto first = testing_support::FolderContents(f.out);
    EXPECT_EQ(first.size(), 6u);
    for (int run = 0; run < 2; ++run) {
        PushButton3_Click(list, w);
        EXPECT_EQ(testing_support::FolderContents(f.out), first);
    }
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>(3, "Done.")));
    // Each row finds a file of its own holding its bytes, and says which.
    UsedTargets used;
    std::set<std::string> targets;
    for (cache::RowId r = 0; r < 6; ++r) {
        const RowSaveResult result = SaveFoundFile(list.row(r), f.out + "/", used);
        EXPECT_TRUE(result.saved && result.alreadySaved) << result.target;
        EXPECT_EQ(ReadAll(result.target), rows[r].second);
        targets.insert(result.target);
    }
    EXPECT_EQ(targets.size(), 6u);
    // A different body of a saved name still gets the next number.
    addRow(list, f.cached("G/bg.png", "four"));
    EXPECT_EQ(SaveFoundFile(list.row(6), f.out + "/", used).target, f.out + "/bg (6).png");
    EXPECT_EQ(UnnumberedName("bg (12).png"), "bg.png");
    for (const char* plain : {"bg (1).png", "bg (02).png", "bg ().png", "bg(2).png", "(2)"})
        EXPECT_EQ(UnnumberedName(plain), plain);
}

TEST(SaveCommand, TheClosingMessageTellsTheTruthAboutFilesNotSaved) {
    ScriptedDialogs dialogs;
    Fixture f;
    FoundFileList list;
    addRow(list, f.cached("A/here.jpg", "x"));
    addRow(list, f.cache + "/A/gone.jpg");
    Window w;
    w.destination = f.out + "/";
    PushButton3_Click(list, w);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0], "Done.");
    EXPECT_NE(dialogs.messages[0].find("1 file was saved; 1 file could not be saved"),
              std::string::npos);
    EXPECT_NE(dialogs.messages[0].find("gone.jpg"), std::string::npos);

    // A copy that fails part-way leaves the old file byte-identical.
    f.d.file("out/here.jpg", "old");
    list.setTick(1, false);
    dialogs.messages.clear();
    platform::SetCopyWriteLimit(0);
    f.cached("A/here.jpg", std::string(10000, 'n'));
    PushButton3_Click(list, w);
    platform::SetCopyWriteLimit(std::nullopt);
    EXPECT_EQ(ReadAll(f.out + "/here.jpg"), "old");
    EXPECT_NE(dialogs.messages.at(0).find("0 files were saved"), std::string::npos);
}

TEST(SaveCommand, ADestinationWithOrWithoutAFinalSeparatorIsTheFolderSavedInto) {
    ScriptedDialogs dialogs;
    Fixture f;
    std::filesystem::create_directories(f.out + "/Pics");
    FoundFileList list;
    addRow(list, f.cached("A/a.jpg", "a"));
    addRow(list, f.cached("B/a.jpg", "b")); // a second name: numbered inside the folder too
    Window w;
    for (const char* typed : {"/Pics", "/Pics/"}) {
        SCOPED_TRACE(typed);
        w.destination = f.out + typed;
        PushButton3_Click(list, w);
        EXPECT_EQ(ReadAll(f.out + "/Pics/a.jpg"), "a");
        EXPECT_EQ(ReadAll(f.out + "/Pics/a (2).jpg"), "b");
        EXPECT_EQ(dialogs.messages.back(), "Done.");
    }
    // Nothing beside the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.out),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SaveCommand, BetweenRowsTheUserMayEmptyTheListOrSaveAgain) {
    ScriptedDialogs dialogs;
    RecordingReporter reporter;
    Fixture f;
    FoundFileList list;
    addRow(list, f.cached("A/1.jpg", "1"));
    addRow(list, f.cached("A/2.jpg", "2"));
    addRow(list, f.cached("A/3.jpg", "3"));
    Window w;
    w.destination = f.out + "/";

    // A new scan empties the list after the first row.
    int pumps = 0;
    platform::setDoEvents([&] {
        if (++pumps == 2)
            list.clear();
    });
    PushButton3_Click(list, w);
    platform::setDoEvents({});
    EXPECT_TRUE(std::filesystem::exists(f.out + "/1.jpg"));
    EXPECT_FALSE(std::filesystem::exists(f.out + "/2.jpg"));
    // Each vanished row: one report for reading its path, one for its name.
    EXPECT_EQ(reporter.lines(), (std::vector<int>{114, 116, 114, 116}));
    EXPECT_EQ(reporter.reports[0].tag, kSaveTag);

    // A second save between two rows runs to its own end first.
    reporter.reports.clear();
    dialogs.messages.clear();
    addRow(list, f.cached("B/4.jpg", "4"));
    addRow(list, f.cached("B/5.jpg", "5"));
    bool nested = false;
    platform::setDoEvents([&] {
        if (!nested) {
            nested = true;
            PushButton3_Click(list, w);
        }
    });
    PushButton3_Click(list, w);
    platform::setDoEvents({});
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Done.", "Done."}));
    EXPECT_TRUE(reporter.reports.empty());
}

TEST(FolderChooser, PathRules) {
    ScriptedDialogs dialogs;
    Box box;
    dialogs.folderAnswers = {"", "/home/ann/Pictures", "/", "//server/share",
                             std::string("/x\0junk", 7)};
    for (int i = 0; i < 5; ++i)
        PushButton8_Click(box);
    EXPECT_EQ(box.texts,
              (std::vector<std::string>{"/home/ann/Pictures/", "/", "//server/share/", "/x/"}));
    EXPECT_EQ(dialogs.prompts.at(0), "Please select folder:");
    EXPECT_EQ(InitialBrowseFolder, std::string(1, '\0'));
    EXPECT_EQ(BrowseCallback(0, 1, 0, 0), 0);
}

TEST(SaveCommand, StepsInOrderAndWhereEachFailureGoesOn) {
    using testing_support::StepRecorder;
    const std::vector<int> row = {112, 114, 116, 118};
    const std::vector<int> walk = testing_support::Concat({{106, 108, 110}, row, row, {120}});
    const std::string allNotSaved = "0 files were saved; 2 files could not be saved";
    struct Case {
        int failing;
        std::vector<int> lines;
        std::string message; // "" for none; otherwise how the message starts
        int copies;
    };
    const Case cases[] = {
        {-1, walk, "Done.", 2},
        {106, walk, "Done.", 2}, // goes on at 108, not into "Nothing to save."
        {108, walk, "Done.", 2}, // goes on at 110: the walk starts
        {110, {106, 108, 110, 120}, "No file was saved", 0},
        {112, walk, "Done.", 2},
        {114, walk, allNotSaved, 0},
        {116, walk, allNotSaved, 0},
        {118, testing_support::Concat({{106, 108, 110}, row, {120}}),
         "1 file was saved; 1 file could not be saved", 1}, // the walk ends at a failed loop close
        {120, walk, "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("failing line " + std::to_string(c.failing));
        ScriptedDialogs dialogs;
        RecordingReporter reporter;
        Fixture f;
        FoundFileList list;
        addRow(list, f.cached("A/1.jpg", "1"));
        addRow(list, f.cached("A/2.jpg", "2"));
        Window w;
        w.destination = f.out + "/";
        StepRecorder steps(kSaveTag, c.failing);
        PushButton3_Click(list, w);
        EXPECT_EQ(steps.lines, c.lines);
        if (c.message.empty()) {
            EXPECT_TRUE(dialogs.messages.empty());
        } else {
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0].rfind(c.message, 0), 0u) << dialogs.messages[0];
        }
        const auto copied = std::distance(std::filesystem::directory_iterator(f.out),
                                          std::filesystem::directory_iterator());
        EXPECT_EQ(copied, c.copies);
        for (const auto& r : reporter.reports)
            EXPECT_EQ(r.line, c.failing);
    }

    // The short routes, and a failure on each of their closing messages.
    for (int failing : {-1, 124}) {
        ScriptedDialogs dialogs;
        FoundFileList empty;
        Window w;
        StepRecorder steps(kSaveTag, failing);
        RecordingReporter reporter;
        PushButton3_Click(empty, w);
        EXPECT_EQ(steps.lines, (std::vector<int>{106, 124}));
        EXPECT_EQ(dialogs.messages.size(), failing == 124 ? 0u : 1u);
    }
    for (int failing : {-1, 122}) {
        ScriptedDialogs dialogs;
        Fixture f;
        FoundFileList list;
        addRow(list, f.cached("A/1.jpg", "1"));
        Window w;
        w.destination = f.d.str() + "/missing/";
        StepRecorder steps(kSaveTag, failing);
        RecordingReporter reporter;
        PushButton3_Click(list, w);
        EXPECT_EQ(steps.lines, (std::vector<int>{106, 108, 122}));
        EXPECT_EQ(dialogs.messages.size(), failing == 122 ? 0u : 1u);
    }
}

TEST(SaveCommand, AFailedFolderTestStillNeverClaimsSuccess) {
    // The save goes on into the walk after a failed folder test; the copies into a
    // missing folder fail and the message says so.
    ScriptedDialogs dialogs;
    RecordingReporter reporter;
    Fixture f;
    FoundFileList list;
    addRow(list, f.cached("A/1.jpg", "1"));
    Window w;
    w.destination = f.d.str() + "/missing/";
    testing_support::StepRecorder steps(kSaveTag, 108);
    PushButton3_Click(list, w);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].rfind("0 files were saved; 1 file could not be saved", 0), 0u)
        << dialogs.messages[0];
}

TEST(FolderChooser, StepsInOrderAndWhereEachFailureGoesOn) {
    const std::string tag = "in Orrery2021/08/31.Form1.PushButton8_Click ";
    struct Case {
        std::string answer;
        int failing;
        std::vector<int> lines;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"/home/ann", -1, {100, 102, 104, 108}, {"/home/ann/"}},
        {"//server/share", -1, {100, 102, 104, 106}, {"//server/share/"}},
        {"", -1, {100, 102}, {}},
        {"/home/ann", 100, {100, 102}, {}},                       // no path: as if cancelled
        {"/home/ann", 102, {100, 102}, {}},                       // the test's body ends the click
        {"/home/ann", 104, {100, 102, 104, 106}, {"/home/ann/"}}, // the test's body runs
        {"/home/ann", 108, {100, 102, 104, 108}, {}},
        {"//server/share", 106, {100, 102, 104, 106}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer + " failing line " + std::to_string(c.failing));
        ScriptedDialogs dialogs;
        RecordingReporter reporter;
        dialogs.folderAnswers = {c.answer};
        Box box;
        testing_support::StepRecorder steps(tag, c.failing);
        PushButton8_Click(box);
        EXPECT_EQ(steps.lines, c.lines);
        EXPECT_EQ(box.texts, c.texts);
    }
}
