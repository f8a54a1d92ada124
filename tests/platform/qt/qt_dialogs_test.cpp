#include "app/guard_qt/message_box_reporter.h"
#include "platform/qt/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace platform;
using app::MakeErrorBox;
using app::MessageBoxReporter;

namespace {

struct SeenBox {
    QString title;
    QString text;
    Qt::TextFormat boxFormat = Qt::AutoText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QMessageBox::StandardButtons standard;
    Qt::WindowModality modality = Qt::NonModal;
};

SeenBox inspect(QMessageBox& box) {
    SeenBox seen;
    seen.title = box.windowTitle();
    seen.text = box.text();
    seen.boxFormat = box.textFormat();
    // What the box actually draws the text with.
    if (const auto* label = box.findChild<QLabel*>("qt_msgbox_label"))
        seen.labelFormat = label->textFormat();
    seen.icon = box.icon();
    seen.buttons = static_cast<int>(box.buttons().size());
    seen.standard = box.standardButtons();
    seen.modality = box.windowModality();
    return seen;
}

// Runs show, which opens a modal box, and answers the box with OK once it is up.
std::optional<SeenBox> answerBox(const std::function<void()>& show) {
    std::optional<SeenBox> seen;
    int polls = 0;
    std::function<void()> poll = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = inspect(*box);
            box->button(QMessageBox::Ok)->click();
        } else if (++polls < 500) {
            QTimer::singleShot(10, poll);
        }
    };
    QTimer::singleShot(0, poll);
    show();
    return seen;
}

const std::string kLinkName = "<a href=\"http://example.com/\">holiday.jpg</a> <b>bold</b>";

} // namespace

TEST(MessageBoxes, TextIsShownAsPlainTextNeverAsMarkup) {
    const auto info = MakeInformationBox("Could not save " + kLinkName, "Tamberlin", nullptr);
    const SeenBox seen = inspect(*info);
    EXPECT_EQ(seen.text.toStdString(), "Could not save " + kLinkName);
    EXPECT_EQ(seen.boxFormat, Qt::PlainText);
    EXPECT_EQ(seen.labelFormat, Qt::PlainText);
    EXPECT_EQ(seen.title, "Tamberlin");
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);

    const auto error = MakeErrorBox(kLinkName, "in <i>Form1</i> ", 7, nullptr);
    EXPECT_EQ(inspect(*error).labelFormat, Qt::PlainText);
    EXPECT_TRUE(error->text().startsWith(QString::fromStdString(kLinkName)));
}

TEST(MessageBoxes, TheApplicationErrorBoxAsTheReporterShowsIt) {
    MessageBoxReporter reporter;
    const auto seen = answerBox([&] { reporter.report("first\r\nsecond\rthird", kLinkName, 42); });
    ASSERT_TRUE(seen.has_value()) << "no box appeared";
    EXPECT_EQ(seen->title, "Application Error");
    EXPECT_EQ(seen->icon, QMessageBox::Warning);
    EXPECT_EQ(seen->buttons, 1);
    EXPECT_EQ(seen->standard, QMessageBox::Ok);
    EXPECT_EQ(seen->modality, Qt::ApplicationModal);
    EXPECT_EQ(seen->boxFormat, Qt::PlainText);
    EXPECT_EQ(seen->labelFormat, Qt::PlainText);
    // CR LF and a lone CR each start a new line; the doubled CR leaves a blank line.
    const QStringList lines = seen->text.split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "second");
    EXPECT_EQ(lines[2], "third");
    EXPECT_EQ(lines[3].toStdString(), kLinkName + "at line 42");
    EXPECT_EQ(lines[4], "");
    EXPECT_FALSE(seen->text.contains('\r'));

    QtDialogs dialogs;
    const auto info = answerBox([&] { dialogs.information("Saved <b>3</b> files", "Done"); });
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->text, "Saved <b>3</b> files");
    EXPECT_EQ(info->labelFormat, Qt::PlainText);
    EXPECT_EQ(info->buttons, 1);
}
