#include "app/window/form1.h"
#include "cache/scan/list_columns.h"
#include "metafile_samples.h"
#include "platform/base/settings.h"
#include "platform/qt/qt_settings_backend.h"
#include "preview/window/form2.h"
#include "test_support.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

using testing_support::RecordingReporter;
using testing_support::ScratchFolder;

namespace {

struct Preview {
    ScratchFolder d;
    platform::QtSettingsBackend settings{QString::fromStdString(d.str() + "/config")};
    RecordingReporter reporter;
    std::unique_ptr<app::Form1> form;

    Preview() {
        platform::setSettingsBackend(&settings);
        form = std::make_unique<app::Form1>(QString::fromStdString(d.str()));
        form->Form_Load();
        form->show();
        form->move(100, 50);
    }
    ~Preview() {
        form.reset();
        platform::setSettingsBackend(nullptr);
    }
    std::string picture(const std::string& name, int w, int h, const char* format = "JPG") {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return d.file(name, bytes.toStdString());
    }
    // Adds a row for the file and clicks it.
    void click(const std::string& path) {
        auto& list = form->list();
        const auto r = list.append("http://example.com/" + path);
        list.setSubItem(r, cache::kFileNameColumn, path.substr(path.rfind('/') + 1));
        list.setSubItem(r, cache::kFilePathColumn, path);
        list.select(r);
        form->ListView1_Click();
    }
    preview::Form2* window() { return form->previewWindow(); }
    QSize sizeTwips() { return window()->outerSizeTwips(); }
};

void expectNear(QSize actual, QSize twips) {
    EXPECT_NEAR(actual.width(), twips.width(), 15) << actual.width() << "x" << actual.height();
    EXPECT_NEAR(actual.height(), twips.height(), 15) << actual.width() << "x" << actual.height();
}

} // namespace

TEST(Preview, AClickInAnEmptyListCreatesNoWindow) {
    Preview p;
    p.form->ListView1_Click();
    EXPECT_EQ(p.window(), nullptr);
    EXPECT_TRUE(p.reporter.reports.empty());
}

TEST(Preview, ASmallPictureKeepsTheInitialSizeBesideTheMainWindow) {
    Preview p;
    p.click(p.picture("small.jpg", 100, 80));
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.reporter.reports.empty());
    EXPECT_TRUE(p.window()->isVisible());
    EXPECT_EQ(p.window()->windowTitle(), "Preview");
    EXPECT_EQ(p.window()->size(),
              QSize(p.window()->px(3690), p.window()->px(3675))); // the client area
    EXPECT_EQ(p.window()->Picture1->geometry().topLeft(),
              QPoint(p.window()->px(90), p.window()->px(90)));
    EXPECT_EQ(p.window()->Picture1->picture().size(), QSize(100, 80));
    const QRect main = p.form->frameGeometry();
    EXPECT_EQ(p.window()->frameGeometry().topLeft(), QPoint(main.x() + main.width(), main.y()));

    // Moved away by the user: the next click puts it back.
    p.window()->move(5, 5);
    p.click(p.picture("small2.jpg", 10, 10));
    EXPECT_EQ(p.window()->frameGeometry().topLeft(), QPoint(main.x() + main.width(), main.y()));
}

TEST(Preview, AWideLowPictureGrowsAndLowersTheWindowAndItNeverShrinks) {
    Preview p;
    p.click(p.picture("wide.png", 400, 50, "PNG"));
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.reporter.reports.empty());
    expectNear(p.sizeTwips(), QSize(6300, 1300));
    p.click(p.picture("big.jpg", 500, 400));
    expectNear(p.sizeTwips(), QSize(7800, 6550));
    p.click(p.picture("tiny.jpg", 20, 20));
    expectNear(p.sizeTwips(), QSize(7800, 6550));
    EXPECT_EQ(p.window()->Picture1->picture().size(), QSize(20, 20));
}

TEST(Preview, ABoxJustWithinTheLimitDoesNotResizeTheWindow) {
    Preview p;
    const int border = 4;                  // the picture box's sunken frame, both sides
    const int within = 3500 / 15 - border; // the box's outer width stays at or below 3500 twips
    p.click(p.picture("edge.jpg", within, within));
    EXPECT_EQ(p.window()->size(), QSize(p.window()->px(3690), p.window()->px(3675)));
    p.click(p.picture("over.jpg", within + 1, 10));
    expectNear(p.sizeTwips(), QSize((within + 1) * 15 + 300, 10 * 15 + 550));
}

TEST(Preview, FilesThatAreNoPictureAreReportedAtLine102AndTheWindowStillShows) {
    Preview p;
    p.click(p.picture("first.jpg", 30, 30));
    p.click(p.d.file("clip.mp4", std::string("\0\0\0\x18"
                                             "ftypmp42",
                                             12) +
                                     std::string(200, 'v')));
    p.click(p.d.file("fake.png", "not a png at all"));
    p.click(p.d.str() + "/gone.jpg");
    EXPECT_EQ(p.reporter.lines(), (std::vector<int>{102, 102, 102}));
    EXPECT_EQ(p.reporter.reports[0].tag, "in Orrery2021/08/31.Form1.ListView1_Click ");
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.window()->isVisible());
    EXPECT_EQ(p.window()->Picture1->picture().size(), QSize(30, 30)); // the previous picture stays

    // The very first click on a video: a new, empty window is still shown.
    Preview q;
    q.click(q.d.file("v.avi", "RIFF....AVI LIST"));
    EXPECT_EQ(q.reporter.lines(), (std::vector<int>{102}));
    ASSERT_NE(q.window(), nullptr);
    EXPECT_TRUE(q.window()->isVisible());
    EXPECT_TRUE(q.window()->Picture1->picture().isNull());
}

TEST(Preview, ClosedByTheUserItComesBackAtItsInitialSize) {
    Preview p;
    p.click(p.picture("big.jpg", 500, 400));
    expectNear(p.sizeTwips(), QSize(7800, 6550));
    p.window()->close();
    QApplication::processEvents(); // the window deletes itself
    EXPECT_EQ(p.window(), nullptr);
    p.click(p.picture("small.jpg", 50, 50));
    ASSERT_NE(p.window(), nullptr);
    EXPECT_EQ(p.window()->size(), QSize(p.window()->px(3690), p.window()->px(3675)));
}

TEST(Preview, MetafilesAreDrawn) {
    Preview p;
    const QByteArray wmf = samples::Wmf(300, 40);
    p.click(p.d.file("chart.wmf", wmf.toStdString()));
    ASSERT_NE(p.window(), nullptr);
    EXPECT_TRUE(p.reporter.reports.empty());
    EXPECT_EQ(p.window()->Picture1->picture().size(), QSize(300, 40));
    expectNear(p.sizeTwips(), QSize(300 * 15 + 300, 40 * 15 + 550));
    const QByteArray emf = samples::Emf(60, 60);
    p.click(p.d.file("chart.png", emf.toStdString())); // named as something else
    EXPECT_TRUE(p.reporter.reports.empty());
    EXPECT_EQ(p.window()->Picture1->picture().pixelColor(10, 30), QColor(255, 0, 0));
}

TEST(Preview, ClosingTheMainWindowClosesThePreview) {
    Preview p;
    p.click(p.picture("a.jpg", 10, 10));
    QPointer<preview::Form2> preview = p.window();
    ASSERT_TRUE(preview);
    p.form->close();
    QApplication::processEvents();
    EXPECT_TRUE(!preview || !preview->isVisible());
}
