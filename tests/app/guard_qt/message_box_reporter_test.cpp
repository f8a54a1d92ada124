#include "app/guard_qt/message_box_reporter.h"
#include "message_box_probe.h"

#include <gtest/gtest.h>

using app::MakeErrorBox;
using app::MessageBoxReporter;
using message_box_probe::answerBox;
using message_box_probe::inspect;
using message_box_probe::kLinkName;

TEST(MessageBoxes, TheErrorBoxShowsItsTextAsPlainTextNeverAsMarkup) {
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
}
