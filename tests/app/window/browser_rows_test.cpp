// The window over real browser caches: the preview of a row whose picture lives inside an
// entry file, and the command line agreeing with the window's list.
#include "app/window/form1.h"
#include "browser_fixture.h"
#include "cache/scan/commands.h"
#include "cache/scan/list_columns.h"
#include "cli/command_line.h"
#include "platform/base/escape.h"
#include "platform/base/settings.h"
#include "platform/qt/qt_settings_backend.h"
#include "preview/window/form2.h"
#include "save/copy_engine.h"
#include "test_support.h"

#include <QCheckBox>
#include <QImage>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using testing_support::RecordingReporter;
using testing_support::ScopedEnv;
using testing_support::ScratchFolder;

// The main window with settings of its own, kept where the command line looks for them.
struct Window {
    ScratchFolder d;
    std::string config = d.str() + "/config";
    ScopedEnv xdg{"XDG_CONFIG_HOME", config.c_str()};
    platform::QtSettingsBackend settings{QString::fromStdString(config)};
    RecordingReporter reporter;
    std::unique_ptr<app::Form1> form;

    explicit Window(std::vector<std::string> folders) {
        platform::setSettingsBackend(&settings);
        form = std::make_unique<app::Form1>(QString::fromStdString(d.str()));
        form->Form_Load();
        form->setCacheFolders(std::move(folders));
        form->show();
    }
    ~Window() {
        form.reset();
        platform::setSettingsBackend(nullptr);
    }
    // Clicks the row whose URL has this path; false when there is none.
    bool click(const std::string& urlPath) {
        auto& list = form->list();
        for (cache::RowId r = 0; r < list.count(); ++r) {
            if (testing_support::UrlPath(list.row(r).url) == urlPath) {
                list.select(r);
                form->ListView1_Click();
                return true;
            }
        }
        return false;
    }
    QImage shown() const {
        const preview::Form2* p = form->previewWindow();
        return p ? p->Picture1->picture() : QImage();
    }
};

class BrowserRows : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_WITHOUT_BROWSER_FIXTURES(); }
};

TEST_F(BrowserRows, APreviewShowsThePictureDecodedFromTheEntryFile) {
    for (const std::string browser : {"firefox", "chromium"}) {
        SCOPED_TRACE(browser);
        Window w({testing_support::BrowserFixture(browser) + "/home"});
        w.form->PushButton1_Click();
        ScratchFolder saved;
        for (const auto& e : testing_support::ListableBodies(browser)) {
            if (e.type == "mp4" || e.type == "gif" || e.type == "ico")
                continue; // PNG, JPEG (one labelled PNG), WebP, BMP sent gzip and zstd
            SCOPED_TRACE(e.urlPath);
            ASSERT_TRUE(w.click(e.urlPath));
            EXPECT_TRUE(w.reporter.reports.empty())
                << (w.reporter.reports.empty() ? "" : w.reporter.reports[0].description);
            ASSERT_NE(w.form->previewWindow(), nullptr);
            EXPECT_TRUE(w.form->previewWindow()->isVisible());

            // The same picture as the served file read by Qt itself.
            const std::string file = saved.str() + "/" + fs::path(e.entryFile).filename().string();
            const auto& row = w.form->list().row(w.form->list().selected());
            ASSERT_EQ(save::CopyBodyChecked(*row.body, file).result, save::CopyResult::Copied);
            ASSERT_EQ(testing_support::FileSha256(file), e.sha256);
            const QImage served(QString::fromStdString(file));
            ASSERT_FALSE(served.isNull()) << "Qt cannot read the " << e.type << " file itself";
            EXPECT_EQ(w.shown().size(), served.size());
            EXPECT_EQ(w.shown().convertToFormat(QImage::Format_ARGB32),
                      served.convertToFormat(QImage::Format_ARGB32));
        }
    }
}

TEST_F(BrowserRows, ABodyWhoseEntryFileWentAwayIsReportedAndTheWindowGoesOn) {
    ScratchFolder copy;
    testing_support::CopyTree(testing_support::BrowserFixture("firefox") + "/home", copy.path());
    Window w({copy.str()});
    w.form->PushButton1_Click();
    ASSERT_TRUE(w.click("/photo.jpg"));
    const QSize first = w.shown().size();
    ASSERT_FALSE(first.isEmpty());
    const auto& row = w.form->list().row(w.form->list().selected());
    ASSERT_NE(row.body, nullptr);
    fs::remove(row.body->segments.at(0).file);
    ASSERT_TRUE(w.click("/photo.jpg"));
    ASSERT_EQ(w.reporter.reports.size(), 1u);
    EXPECT_EQ(w.reporter.reports[0].tag, "in Orrery2021/08/31.Form1.ListView1_Click ");
    EXPECT_EQ(w.reporter.reports[0].line, 102);
    ASSERT_TRUE(w.click("/bg.png")); // another row still previews
    EXPECT_EQ(w.reporter.reports.size(), 1u);
    EXPECT_FALSE(w.shown().isNull());
}

TEST_F(BrowserRows, TheCommandLineListsExactlyTheWindowsRowsWithTheBoxesTheWindowStored) {
    const std::vector<std::string> folders = {testing_support::BrowserFixture("firefox") + "/home",
                                              testing_support::BrowserFixture("chromium") + "/home",
                                              testing_support::FixturesFolder() +
                                                  "/url-cache/wine/prefix"};
    Window w(folders);
    // Unticked in the window, stored, and so left out by the command line too.
    w.form->Check9->click();
    w.form->Check4->click();
    ASSERT_FALSE(w.form->Check9->isChecked());
    w.form->PushButton1_Click();
    const auto& list = w.form->list();
    ASSERT_GT(list.count(), 30u);

    std::string expected = "URL\tFilename(s)\tSize\tFile Path\n";
    for (std::size_t i = 1; i <= list.count(); ++i) {
        const auto& r = list.row(list.rowAt(i));
        EXPECT_FALSE(r.fileName.ends_with(".png") || r.fileName.ends_with(".bmp")) << r.fileName;
        expected += platform::TsvField(r.url) + "\t" + platform::TsvField(r.fileName) + "\t" +
                    cache::ColumnText(r, cache::kSizeColumn) + "\t" + platform::TsvField(r.path) +
                    "\n";
    }
    std::vector<std::string> arguments = {"--list"};
    arguments.insert(arguments.end(), folders.begin(), folders.end());
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine(cli::ParseCommandLine(arguments), {out, err, false}),
              cli::kExitOk);
    EXPECT_EQ(out.str(), expected);
    EXPECT_EQ(err.str(), "");
}

// Hovering a row tells its source, when it was cached and its type; the cell keeps its text.
TEST_F(BrowserRows, ARowsToolTipTellsItsSourceCachedTimeAndType) {
    Window w({testing_support::BrowserFixture("chromium-blockfile") + "/home",
              testing_support::FixturesFolder() + "/url-cache/wine/prefix"});
    w.form->PushButton1_Click();
    w.form->model().catchUp();
    const auto& model = w.form->model();
    const struct {
        std::string url;
        int column;
        std::string tip; // after the cell's own text and a line break
    } cases[] = {
        {"http://127.0.0.1:38781/logo.png", 0,
         "Chrome Default\nCached 2026-12-08 19:58 UTC\nimage/png"},
        {"http://127.0.0.1:38781/clip.mp4", 2,
         "Chrome Default\nCached 2026-12-08 19:58 UTC\nvideo/mp4"},
        // A WinINet row: cached when the entry was last fetched from the server.
        {"http://www.example.com/photos/PHOTO.JPG", 1,
         "Internet Explorer\nCached 2026-12-08 14:00 UTC\nimage/jpeg"},
    };
    std::size_t found = 0;
    for (int r = 0; r < model.rowCount(); ++r) {
        for (const auto& c : cases) {
            if (model.data(model.index(r, 0), Qt::DisplayRole).toString().toStdString() != c.url)
                continue;
            ++found;
            SCOPED_TRACE(c.url);
            const QModelIndex cell = model.index(r, c.column);
            const std::string text = model.data(cell, Qt::DisplayRole).toString().toStdString();
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(model.data(cell, Qt::ToolTipRole).toString(),
                      app::PlainTextToolTip(QString::fromStdString(text + "\n" + c.tip)));
        }
    }
    EXPECT_EQ(found, std::size(cases)); // Edge's run was served from another port

    // Text from a cache is never read as markup.
    EXPECT_EQ(app::PlainTextToolTip("http://x/<img src=a>&\n<b>"),
              "<p style='white-space:pre'>http://x/&lt;img src=a&gt;&amp;\n&lt;b&gt;</p>");

    // What a row does not know is left out, never made up.
    cache::FoundFile bare;
    bare.fileName = "x.unknownext";
    EXPECT_EQ(app::RowToolTip(bare), "application/octet-stream");
    bare.fileName = "x.gif";
    bare.lastUsed = 1796738424; // a last use alone is not when it was cached
    EXPECT_EQ(app::RowToolTip(bare), "image/gif");
}

} // namespace
