#include "app/core/shell_utils.h"
#include "app/window/form1.h"
#include "cache/scan/commands.h"
#include "cache/scan/list_columns.h"
#include "index_builder.h"
#include "platform/base/settings.h"
#include "platform/qt/qt_settings_backend.h"
#include "platform/urlcache/urlcache.h"
#include "preview/window/form2.h"
#include "test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using testing_support::RecordingReporter;
using testing_support::ScratchFolder;
using testing_support::ScriptedDialogs;

namespace {

// A user with a home folder of their own, empty settings and the seams installed.
struct User {
    ScratchFolder home;
    std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    platform::QtSettingsBackend settings{QString::fromStdString(home.str() + "/.config")};
    RecordingReporter reporter;
    ScriptedDialogs dialogs;
    ScratchFolder programFolder;

    User() {
        ::setenv("HOME", home.str().c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        platform::setSettingsBackend(&settings);
    }
    ~User() {
        platform::setSettingsBackend(nullptr);
        ::setenv("HOME", oldHome.c_str(), 1);
    }
    std::optional<std::string> stored(const char* key) {
        return settings.read("Varnholt", "Tamberlin", key);
    }
    void store(const char* key, const std::string& value) {
        std::string e;
        settings.write("Varnholt", "Tamberlin", key, value, &e);
    }
    QString program() const { return QString::fromStdString(programFolder.str()); }
};

void moveOver(QWidget* w) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

} // namespace

TEST(MainWindow, FirstStartTicksEveryTypeAndOffersTheDesktop) {
    User user;
    std::filesystem::create_directory(user.home.path() / "Desktop");
    app::Form1 form(user.program());
    form.Form_Load();
    EXPECT_TRUE(user.reporter.reports.empty());
    for (QCheckBox* box :
         {form.Check2, form.Check4, form.Check7, form.Check9, form.Check10, form.Check11})
        EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();
    const std::string desktop = user.home.str() + "/Desktop/";
    EXPECT_EQ(form.Text3->text().toStdString(), desktop);
    for (const char* key : {"JPG", "BMP", "GIF", "PNG", "ICO", "Videos"})
        EXPECT_EQ(user.stored(key), "1") << key;
    EXPECT_EQ(user.stored("Download Location"), desktop);
    EXPECT_EQ(form.windowTitle(), "Tamberlin");
    EXPECT_EQ(app::ApplicationTitle(), "Tamberlin");
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.list().columnCaptions(),
              (std::vector<std::string>{"URL", "Filename(s)", "Size", "File Path"}));
    EXPECT_EQ(form.list().columnWidths(), (std::vector<int>{3200, 3200, 1000, 1}));
    EXPECT_EQ(form.ListView1->header()->sectionSize(0), form.px(3200));
    EXPECT_FALSE(form.hasHandCursor()); // no HAND-M.CUR beside this program: no report either
}

TEST(MainWindow, StoredValuesAreUsedAsTheyStand) {
    User user;
    user.store("GIF", "0");
    user.store("JPG", " 1");
    user.store("PNG", "yes");
    user.store("ICO", "");
    user.store("Download Location", "");
    app::Form1 form(user.program());
    form.Form_Load();
    EXPECT_FALSE(form.Check7->isChecked());
    EXPECT_FALSE(form.Check2->isChecked());
    EXPECT_FALSE(form.Check9->isChecked());
    EXPECT_FALSE(form.Check10->isChecked());
    EXPECT_TRUE(form.Check4->isChecked());
    EXPECT_EQ(form.Text3->text(), "");
    EXPECT_EQ(user.stored("PNG"), "yes"); // an unticked box stores nothing at start-up
    EXPECT_EQ(user.stored("Download Location"), "");

    // Every change is stored at once.
    form.Check10->click();
    EXPECT_EQ(user.stored("ICO"), "1");
    form.Check10->click();
    EXPECT_EQ(user.stored("ICO"), "0");
    form.Text3->setFocus();
    QTest::keyClicks(form.Text3, "/tm");
    EXPECT_EQ(user.stored("Download Location"), "/tm");
}

TEST(MainWindow, NoDesktopPathIsReportedAtLine128AndTheStartGoesOn) {
    User user;
    const std::string longHome = "/" + std::string(600, 'h');
    ::setenv("HOME", longHome.c_str(), 1);
    app::Form1 form(user.program());
    form.Form_Load();
    ASSERT_EQ(user.reporter.reports.size(), 1u);
    EXPECT_EQ(user.reporter.reports[0].line, 128);
    EXPECT_EQ(user.reporter.reports[0].tag, "in Orrery2021/08/31.Form1.Form_Load ");
    EXPECT_EQ(form.Text3->text(), "");
    EXPECT_TRUE(form.Check11->isChecked()); // the steps after it still ran
}

TEST(MainWindow, NoDesktopFolderOffersTheHomeAndAStoredFolderStaysAsItIs) {
    User user;
    {
        app::Form1 form(user.program());
        form.Form_Load();
        EXPECT_EQ(form.Text3->text().toStdString(), user.home.str() + "/");
    }
    user.store("Download Location", "/no/such/folder/");
    app::Form1 form(user.program());
    form.Form_Load();
    EXPECT_EQ(form.Text3->text(), "/no/such/folder/");
    EXPECT_EQ(user.stored("Download Location"), "/no/such/folder/");
    EXPECT_TRUE(user.reporter.reports.empty());
}

TEST(MainWindow, LayoutAsDesigned) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    EXPECT_EQ(form.size(), QSize(form.px(8040), form.px(6330)));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // not resizable
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.Check11->text(), " Videos (FLV, MP4,AVI)");
    EXPECT_EQ(form.Frame2->title(), "Filetypes To Retrieve");
    EXPECT_EQ(form.Frame1->title(), "Save Selected File(s) To This Folder");
    EXPECT_EQ(form.PushButton1->text(), "Start Retrieving Cached Files");
    EXPECT_EQ(form.PushButton8->text(), "...");
    EXPECT_EQ(form.ListView1->geometry(),
              QRect(form.px(120), form.px(1550), form.px(7800), form.px(2235)));
    EXPECT_EQ(form.PushButton8->geometry(),
              QRect(form.px(7080), form.px(300), form.px(495), form.px(345)));
    EXPECT_EQ(form.PushButton8->parentWidget(), form.Frame1);
    EXPECT_EQ(form.Check9->geometry().left(), form.px(2790));
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_TRUE(form.PushButton1->font().bold());
    EXPECT_DOUBLE_EQ(form.PushButton1->font().pointSizeF(), 11.25);
    EXPECT_DOUBLE_EQ(form.Text3->font().pointSizeF(), 9);
}

TEST(MainWindow, PointerSchemeHandOverButtonsArrowElsewhereHourglassUntouched) {
    User user;
    std::filesystem::copy_file(TAMBERLIN_SOURCE_DIR "/resources/HAND-M.CUR",
                               user.programFolder.path() / "HAND-M.CUR");
    app::Form1 form(user.program());
    form.Form_Load();
    form.show();
    EXPECT_TRUE(form.hasHandCursor());
    EXPECT_TRUE(user.reporter.reports.empty());
    moveOver(form.PushButton5);
    EXPECT_EQ(form.mousePointer(), 99);
    EXPECT_EQ(form.cursor().shape(), Qt::BitmapCursor);
    moveOver(form.Check2); // no change over the check boxes
    EXPECT_EQ(form.mousePointer(), 99);
    moveOver(form.Frame1);
    EXPECT_EQ(form.mousePointer(), 0);
    moveOver(form.PushButton8);
    EXPECT_EQ(form.mousePointer(), 99);
    // The arrow over every part of the list, not only over its rows.
    QTreeView* list = form.ListView1;
    const std::vector<QWidget*> parts = {list->viewport(),
                                         list,
                                         list->header(),
                                         list->header()->viewport(),
                                         list->verticalScrollBar(),
                                         list->horizontalScrollBar()};
    for (QWidget* part : parts) {
        SCOPED_TRACE(part->metaObject()->className());
        moveOver(form.PushButton8);
        ASSERT_EQ(form.mousePointer(), 99);
        moveOver(part);
        EXPECT_EQ(form.mousePointer(), 0);
    }
    form.setMousePointer(11);
    for (QWidget* w : {static_cast<QWidget*>(form.PushButton1), form.ListView1->viewport(),
                       static_cast<QWidget*>(form.Frame2), static_cast<QWidget*>(&form)})
        moveOver(w);
    EXPECT_EQ(form.mousePointer(), 11);
    EXPECT_EQ(form.PushButton1->cursor().shape(), Qt::WaitCursor);
}

TEST(MainWindow, TheHandPointerBesideTheProgramFirstThenInTheDataFolder) {
    const std::string real = TAMBERLIN_SOURCE_DIR "/resources/HAND-M.CUR";
    const struct {
        const char* beside; // "real", "bad" or nullptr for none
        const char* data;
        bool hand;
        std::vector<int> reportedLines;
    } cases[] = {
        {nullptr, "real", true, {}},
        {"bad", "real", false, {106}}, // the program's own folder wins
        {"real", "bad", true, {}},
        {nullptr, nullptr, false, {}},
    };
    for (const auto& c : cases) {
        User user;
        ScratchFolder data;
        const auto place = [&](const char* kind, const ScratchFolder& folder) {
            if (kind && std::string(kind) == "real")
                std::filesystem::copy_file(real, folder.path() / "HAND-M.CUR");
            else if (kind)
                folder.file("HAND-M.CUR", "not a cursor");
        };
        place(c.beside, user.programFolder);
        place(c.data, data);
        app::Form1 form(user.program(), QString::fromStdString(data.str()));
        form.Form_Load();
        EXPECT_EQ(form.hasHandCursor(), c.hand)
            << (c.beside ? c.beside : "-") << " " << (c.data ? c.data : "-");
        EXPECT_EQ(user.reporter.lines(), c.reportedLines);
    }
}

TEST(MainWindow, AnUnreadableHandPointerIsReportedAtLine106) {
    User user;
    user.programFolder.file("HAND-M.CUR", "not a cursor");
    app::Form1 form(user.program());
    form.Form_Load();
    EXPECT_EQ(user.reporter.lines(), (std::vector<int>{106}));
    EXPECT_FALSE(form.hasHandCursor());
    form.show();
    moveOver(form.PushButton1);
    EXPECT_EQ(form.PushButton1->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindow, RetrievesSelectsAndDeselectsInPlace) {
    User user;
    testdata::IndexBuilder b;
    for (const char* name : {"c.jpg", "A.gif", "b.png", "d.txt"}) {
        testdata::Record r;
        r.url = std::string("http://example.com/") + name;
        r.fileName = name;
        r.sizeLow = 10;
        b.add(r);
    }
    ScratchFolder cache;
    testdata::WriteFile(cache.str() + "/index.dat", b.build());
    platform::SetUrlCacheLocator([&] {
        return platform::UrlCacheSource{cache.str() + "/index.dat", cache.str()};
    });
    app::Form1 form(user.program());
    form.Form_Load();
    form.Check9->setChecked(false); // no PNG
    QTest::mouseClick(form.PushButton1, Qt::LeftButton);
    platform::SetUrlCacheLocator({});
    EXPECT_EQ(form.mousePointer(), 0);
    auto& model = form.model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(),
              "A.gif"); // sorted, case ignored
    EXPECT_EQ(model.data(model.index(1, 1), Qt::DisplayRole).toString(), "c.jpg");
    EXPECT_EQ(model.data(model.index(0, 2), Qt::DisplayRole).toString(), "10");
    EXPECT_EQ(model.data(model.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
    model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole); // the user unticks a row
    EXPECT_FALSE(form.list().row(form.list().rowAt(1)).ticked);
    QTest::mouseClick(form.PushButton5, Qt::LeftButton);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
    QTest::mouseClick(form.PushButton6, Qt::LeftButton);
    EXPECT_EQ(model.data(model.index(1, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(form.list().count(), 2u);
}

TEST(MainWindow, SavingMovesTheProgressBarAndTheChooserFillsTheDestination) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    ScratchFolder out;
    user.dialogs.folderAnswers = {out.str()};
    QTest::mouseClick(form.PushButton8, Qt::LeftButton);
    EXPECT_EQ(form.Text3->text().toStdString(), out.str() + "/");
    EXPECT_EQ(user.stored("Download Location"), out.str() + "/");
    user.dialogs.folderAnswers = {""}; // cancelled: nothing changes
    QTest::mouseClick(form.PushButton8, Qt::LeftButton);
    EXPECT_EQ(form.Text3->text().toStdString(), out.str() + "/");

    const std::string src = user.home.file("cache/x.jpg", "data");
    const auto r = form.list().append("http://example.com/x.jpg");
    form.list().setTick(r, true);
    form.list().setSubItem(r, cache::kFileNameColumn, "x.jpg");
    form.list().setSubItem(r, cache::kFilePathColumn, src);
    QTest::mouseClick(form.PushButton3, Qt::LeftButton);
    EXPECT_EQ(user.dialogs.messages.back(), "Done.");
    EXPECT_EQ(testing_support::ReadAll(out.path() / "x.jpg"), "data");
    EXPECT_EQ(form.ProgressBar1->value(), form.ProgressBar1->maximum());
}

namespace {

// A cache of one file of each picture type, found through the locator for its lifetime.
struct OneOfEach {
    ScratchFolder folder;
    OneOfEach() {
        testdata::IndexBuilder b;
        for (const char* name : {"a.jpg", "b.bmp", "c.gif", "d.png", "e.ico", "f.mp4"}) {
            testdata::Record r;
            r.url = std::string("http://example.com/") + name;
            r.fileName = name;
            r.sizeLow = 1;
            b.add(r);
        }
        testdata::WriteFile(folder.str() + "/index.dat", b.build());
        platform::SetUrlCacheLocator([this] {
            return platform::UrlCacheSource{folder.str() + "/index.dat", folder.str()};
        });
    }
    ~OneOfEach() { platform::SetUrlCacheLocator({}); }
};

std::string focused() {
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                       : "nothing";
}

void postClick(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            w, new QMouseEvent(t, at, w->mapToGlobal(at), Qt::LeftButton,
                               t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                               Qt::NoModifier));
}

} // namespace

TEST(MainWindow, InputWaitingWhenAScanStartsIsHandledAfterItInOrder) {
    User user;
    OneOfEach cache;
    app::Form1 form(user.program());
    form.Form_Load();
    form.show();
    QApplication::processEvents();

    // Watch every step of every scan: how deep scans nest, and the pointer meanwhile.
    std::vector<std::string> order;
    int depth = 0;
    int deepest = 0;
    int stepsWithoutHourglass = 0;
    app::setStepHook([&](const std::string& tag, int line) {
        if (tag != cache::kScanTag)
            return;
        if (line == 100) {
            deepest = std::max(deepest, ++depth);
            order.emplace_back(form.Check7->isChecked() ? "scan with GIF" : "scan without GIF");
        }
        const bool hourglass = form.mousePointer() == 11 &&
                               form.cursor().shape() == Qt::WaitCursor &&
                               form.PushButton1->cursor().shape() == Qt::WaitCursor &&
                               form.ListView1->cursor().shape() == Qt::WaitCursor;
        stepsWithoutHourglass += hourglass ? 0 : 1;
        if (line == 192)
            --depth;
    });
    QObject::connect(form.Check7, &QCheckBox::toggled,
                     [&](bool on) { order.emplace_back(on ? "GIF ticked" : "GIF unticked"); });

    // A second click on the button and a click on the GIF box wait in the queue, one posted
    // as input, one as a queued call, when the first scan starts.
    postClick(form.PushButton1);
    QMetaObject::invokeMethod(
        form.Check7, [&] { form.Check7->click(); }, Qt::QueuedConnection);
    form.PushButton1_Click();
    EXPECT_EQ(order, (std::vector<std::string>{"scan with GIF"}));
    EXPECT_EQ(form.list().count(), 6u);
    EXPECT_EQ(form.mousePointer(), 0);

    QApplication::processEvents();
    app::setStepHook({});
    EXPECT_EQ(order, (std::vector<std::string>{"scan with GIF", "scan with GIF", "GIF unticked"}));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(stepsWithoutHourglass, 0);
    EXPECT_EQ(form.mousePointer(), 0);
    EXPECT_EQ(form.PushButton1->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindow, TheListHasTheFocusAtStartAndTabFollowsTheDesignedOrder) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    form.showCentred();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(focused(), "ListView1");

    // A Space right after start reaches no file-type box.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(form.Check2->isChecked());
    EXPECT_EQ(user.stored("JPG"), "1");

    // Tab places 0 to 15, and the WEBP box beside the videos; frames and the progress bar
    // take no focus.
    const std::vector<QWidget*> cycle = {
        form.ListView1, form.PushButton1, form.PushButton5, form.PushButton6, form.PushButton3,
        form.Text3,     form.PushButton8, form.Check12,     form.Check11,     form.Check10,
        form.Check9,    form.Check7,      form.Check4,      form.Check2,      form.ListView1};
    for (std::size_t i = 1; i < cycle.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(focused(), cycle[i]->objectName().toStdString())
            << "after " << cycle[i - 1]->objectName().toStdString();
    }
    for (std::size_t i = cycle.size() - 1; i-- > 0;) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        EXPECT_EQ(focused(), cycle[i]->objectName().toStdString())
            << "back from " << cycle[i + 1]->objectName().toStdString();
    }
}

TEST(MainWindow, FileTypeBoxesShowWholeOnTheirDesignedRowAndEachStoresItsOwnKey) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    form.show();
    const std::pair<QCheckBox*, const char*> boxes[] = {
        {form.Check2, "JPG"},  {form.Check4, "BMP"},  {form.Check7, "GIF"},
        {form.Check9, "PNG"},  {form.Check10, "ICO"}, {form.Check11, "Videos"},
        {form.Check12, "WEBP"}};
    const int lefts[] = {240, 1080, 1980, 2790, 3600, 4410, 6870};
    const int designedMiddle = form.px(360) + form.px(195) / 2;
    for (std::size_t i = 0; i < std::size(boxes); ++i) {
        QCheckBox* box = boxes[i].first;
        SCOPED_TRACE(box->objectName().toStdString());
        const QRect g = box->geometry();
        EXPECT_EQ(g.left(), form.px(lefts[i]));
        EXPECT_EQ(g.width(), form.px(i == 5 ? 2340 : i == 6 ? 840 : 690));
        EXPECT_NEAR(g.center().y(), designedMiddle, 1);
        // The indicator and the caption fit the box, and the box fits its frame.
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        EXPECT_TRUE(box->rect().contains(indicator)) << indicator.height() << " in " << g.height();
        EXPECT_GE(g.height(), box->fontMetrics().height());
        EXPECT_GE(g.height(), box->sizeHint().height());
        EXPECT_TRUE(form.Frame2->contentsRect().contains(g));
    }

    // Each box writes its own key, and only that key.
    for (const auto& [box, key] : boxes) {
        box->click();
        for (const auto& [other, otherKey] : boxes)
            EXPECT_EQ(user.stored(otherKey), other == box ? "0" : "1") << key << " / " << otherKey;
        box->click();
        EXPECT_EQ(user.stored(key), "1");
    }
}

TEST(MainWindow, APathThatIsNotUtf8IsShownReadableAndKeptExact) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    const std::string path = "/tmp/Fotos \xE9t\xE9/AAAAAAAA/a.jpg";
    const auto r = form.list().append("http://example.com/a.jpg");
    form.list().setSubItem(r, cache::kFilePathColumn, path);
    form.model().catchUp();
    const QString shown = form.model().data(form.model().index(0, 3), Qt::DisplayRole).toString();
    EXPECT_EQ(shown, QString::fromUtf8("/tmp/Fotos \xEF\xBF\xBDt\xEF\xBF\xBD/AAAAAAAA/a.jpg"));
    EXPECT_EQ(form.list().row(r).path, path);
}

// The list shows what the one rule hides as U+FFFD, as the report does: a bidirectional
// override would make "gpj.exe" read as "exe.jpg", a control has nothing to show. The row
// keeps its bytes; the tooltip shows the same text as the cell.
TEST(MainWindow, HiddenCharactersShowAsReplacementMarks) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"evil\xE2\x80\xAEgpj.png", "evil" + fffd + "gpj.png"},
        {"a\tb\x1b[2J\x7f", "a" + fffd + "b" + fffd + "[2J" + fffd},
        {"zero\xE2\x80\x8Bwidth\xEF\xBB\xBF", "zero" + fffd + "width" + fffd},
        {"line\xE2\x80\xA8"
         "break csi\xC2\x9B",
         "line" + fffd + "break csi" + fffd},
        {"\xe2\x82\xac \xc2\xa0", "\xe2\x82\xac \xc2\xa0"},
    };
    for (const auto& [raw, shown] : cases) {
        SCOPED_TRACE(shown);
        form.list().clear();
        const auto r = form.list().append(raw);
        // The size column holds a number, never a cached text.
        for (int column : {cache::kFileNameColumn, cache::kFilePathColumn})
            form.list().setSubItem(r, column, raw);
        form.model().catchUp();
        for (int column : {cache::kUrlColumn, cache::kFileNameColumn, cache::kFilePathColumn}) {
            const QModelIndex cell = form.model().index(0, column);
            EXPECT_EQ(form.model().data(cell, Qt::DisplayRole).toString().toStdString(), shown);
            EXPECT_TRUE(
                form.model()
                    .data(cell, Qt::ToolTipRole)
                    .toString()
                    .startsWith(
                        app::PlainTextToolTip(QString::fromStdString(shown + "\n")).chopped(4)));
        }
        EXPECT_EQ(form.list().row(r).url, raw);
    }
}

TEST(MainWindow, StartUpStepsInOrderAndEachFailureGoesOnWithTheNext) {
    const std::string tag = "in Orrery2021/08/31.Form1.Form_Load ";
    const std::vector<int> tail = {126, 126, 126, 128, 130, 132, 134, 136, 138, 140, 142,
                                   144, 146, 148, 150, 152, 154, 156, 158, 160, 162};
    auto with = [&](std::vector<int> head) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    for (bool hand : {false, true}) {
        SCOPED_TRACE(hand ? "with HAND-M.CUR" : "without HAND-M.CUR");
        const std::vector<int> normal =
            with(hand ? std::vector<int>{102, 104, 106} : std::vector<int>{102, 104});
        // Every line once; with the pointer file only the lines it changes.
        std::vector<int> failing = {-1};
        for (int line : hand ? std::vector<int>{104, 106} : normal)
            if (std::find(failing.begin(), failing.end(), line) == failing.end())
                failing.push_back(line);
        for (int line : failing) {
            SCOPED_TRACE("failing line " + std::to_string(line));
            User user;
            if (hand)
                std::filesystem::copy_file(TAMBERLIN_SOURCE_DIR "/resources/HAND-M.CUR",
                                           user.programFolder.path() / "HAND-M.CUR");
            app::Form1 form(user.program());
            testing_support::StepRecorder steps(tag, line);
            form.Form_Load();
            // A failed test of the pointer file runs its body: the load is tried anyway.
            const std::vector<int> expected = line == 104 && !hand ? with({102, 104, 106}) : normal;
            EXPECT_EQ(steps.lines, expected);
            // The first report names the failed step; later ones follow from what it left
            // undone (no columns, then no column widths).
            ASSERT_EQ(user.reporter.reports.empty(), line < 0);
            if (line >= 0) {
                EXPECT_EQ(user.reporter.reports[0].line, line);
            }
            // The steps after a failure still ran: the last box is set from its setting.
            EXPECT_EQ(form.Check11->isChecked(), line != 160);
            EXPECT_EQ(form.Check12->isChecked(), line != 162);
        }
    }
}

TEST(MainWindow, RowClickStepsInOrderAndEachFailureGoesOnWithTheNext) {
    User user;
    const std::string click = "in Orrery2021/08/31.Form1.ListView1_Click ";
    const std::string load = "in Orrery2021/08/31.Form2.Form_Load ";
    app::Form1 form(user.program());
    form.Form_Load();
    form.show();
    {
        // An empty list: the test fails to hold and nothing else runs.
        testing_support::StepRecorder steps(click);
        form.ListView1_Click();
        EXPECT_EQ(steps.lines, (std::vector<int>{100}));
        EXPECT_EQ(form.previewWindow(), nullptr);
    }
    const std::string picture = user.home.file("cache/a.png", "");
    QImage(4, 4, QImage::Format_RGB32).save(QString::fromStdString(picture), "PNG");
    const auto r = form.list().append("http://example.com/a.png");
    form.list().setSubItem(r, cache::kFilePathColumn, picture);
    form.list().select(r);
    {
        testing_support::StepRecorder steps(click);
        form.ListView1_Click();
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 104, 106, 108}));
        ASSERT_NE(form.previewWindow(), nullptr);
    }
    {
        // The preview window's own load, on its first use, under its own tag.
        form.previewWindow()->close();
        delete form.previewWindow();
        testing_support::StepRecorder loadSteps(load);
        form.ListView1_Click();
        EXPECT_EQ(loadSteps.lines, (std::vector<int>{100, 102}));
    }
    for (int line : {100, 102, 104, 106, 108}) {
        SCOPED_TRACE("failing line " + std::to_string(line));
        user.reporter.reports.clear();
        testing_support::StepRecorder steps(click, line);
        form.ListView1_Click();
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 104, 106, 108}));
        EXPECT_EQ(user.reporter.lines(), std::vector<int>{line});
    }
    {
        // The first click after the preview was closed fails before the window exists:
        // each later step reports that it has no window, none crashes.
        form.previewWindow()->close();
        delete form.previewWindow();
        user.reporter.reports.clear();
        testing_support::StepRecorder steps(click, 102);
        form.ListView1_Click();
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 104, 106, 108}));
        EXPECT_EQ(user.reporter.lines(), (std::vector<int>{102, 104, 106, 108}));
        EXPECT_EQ(form.previewWindow(), nullptr);
    }
}

TEST(MainWindow, AClickBelowTheRowsShowsTheSelectedRowAgainAndWithNoneSelectedNothing) {
    User user;
    app::Form1 form(user.program());
    form.Form_Load();
    form.show();
    for (int side : {4, 6}) {
        const std::string name = "p" + std::to_string(side) + ".bmp";
        const std::string path = user.home.file("cache/" + name, "");
        QImage(side, side, QImage::Format_RGB32).save(QString::fromStdString(path), "BMP");
        form.list().setSubItem(form.list().append("http://example.com/" + name),
                               cache::kFilePathColumn, path);
    }
    form.model().catchUp();
    QWidget* viewport = form.ListView1->viewport();
    const QPoint below(10, viewport->height() - 4);
    ASSERT_FALSE(form.ListView1->indexAt(below).isValid());
    const std::string click = "in Orrery2021/08/31.Form1.ListView1_Click ";
    const auto shown = [&] {
        return form.previewWindow() ? form.previewWindow()->Picture1->picture().size() : QSize();
    };
    {
        // No row selected: no preview, no step, no report.
        testing_support::StepRecorder steps(click);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, below);
        EXPECT_TRUE(steps.lines.empty());
        EXPECT_EQ(form.previewWindow(), nullptr);
    }
    const QPoint second = form.ListView1->visualRect(form.model().index(1, 1)).center();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second);
    EXPECT_EQ(shown(), QSize(6, 6));
    // Shown again on every click below the rows, though the first takes the highlight off.
    for (int again = 0; again < 2; ++again) {
        form.previewWindow()->close();
        delete form.previewWindow();
        testing_support::StepRecorder steps(click);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, below);
        EXPECT_EQ(steps.lines, (std::vector<int>{100, 102, 104, 106, 108}));
        EXPECT_EQ(shown(), QSize(6, 6));
    }
    // The keys move the highlight: a click below the rows shows the row highlighted now.
    QTest::keyClick(form.ListView1, Qt::Key_Up);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, below);
    EXPECT_EQ(shown(), QSize(4, 4));
    {
        // A press on a row released below the rows, or the other way round, is no click.
        testing_support::StepRecorder steps(click);
        QTest::mousePress(viewport, Qt::LeftButton, {}, second);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, below);
        QTest::mousePress(viewport, Qt::LeftButton, {}, below);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, second);
        EXPECT_TRUE(steps.lines.empty());
    }
    EXPECT_TRUE(user.reporter.reports.empty());
}
