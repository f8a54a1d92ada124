#include "app/form1.h"
#include "app/shell_utils.h"
#include "index_builder.h"
#include "platform/qt/qt_settings_backend.h"
#include "platform/settings.h"
#include "platform/urlcache.h"
#include "test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdlib>

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
    EXPECT_EQ(form.Check9->geometry().topLeft(), QPoint(form.px(2790), form.px(360)));
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_TRUE(form.PushButton1->font().bold());
    EXPECT_DOUBLE_EQ(form.PushButton1->font().pointSizeF(), 11.25);
    EXPECT_DOUBLE_EQ(form.Text3->font().pointSizeF(), 9);
    // The keyboard order: the list first, then the retrieve button.
    QWidget* next = form.ListView1->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus || next->parentWidget() == form.ListView1)
        next = next->nextInFocusChain();
    EXPECT_EQ(next, form.PushButton1);
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
    moveOver(form.ListView1->viewport());
    EXPECT_EQ(form.mousePointer(), 0);
    form.setMousePointer(11);
    for (QWidget* w : {static_cast<QWidget*>(form.PushButton1), form.ListView1->viewport(),
                       static_cast<QWidget*>(form.Frame2), static_cast<QWidget*>(&form)})
        moveOver(w);
    EXPECT_EQ(form.mousePointer(), 11);
    EXPECT_EQ(form.PushButton1->cursor().shape(), Qt::WaitCursor);
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
    form.list().setSubItem(r, 1, "x.jpg");
    form.list().setSubItem(r, 3, src);
    QTest::mouseClick(form.PushButton3, Qt::LeftButton);
    EXPECT_EQ(user.dialogs.messages.back(), "Done.");
    EXPECT_EQ(testing_support::ReadAll(out.path() / "x.jpg"), "data");
    EXPECT_EQ(form.ProgressBar1->value(), form.ProgressBar1->maximum());
}
