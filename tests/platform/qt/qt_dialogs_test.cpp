#include "message_box_probe.h"
#include "platform/qt/qt_dialogs.h"

#include <gtest/gtest.h>

using namespace platform;
using message_box_probe::answerBox;
using message_box_probe::inspect;
using message_box_probe::kLinkName;
using message_box_probe::SeenBox;

TEST(MessageBoxes, TextIsShownAsPlainTextNeverAsMarkup) {
    const auto info = MakeInformationBox("Could not save " + kLinkName, "Tamberlin", nullptr);
    const SeenBox seen = inspect(*info);
    EXPECT_EQ(seen.text.toStdString(), "Could not save " + kLinkName);
    EXPECT_EQ(seen.boxFormat, Qt::PlainText);
    EXPECT_EQ(seen.labelFormat, Qt::PlainText);
    EXPECT_EQ(seen.title, "Tamberlin");
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
}

TEST(MessageBoxes, TheInformationBoxAsTheDialogsShowIt) {
    QtDialogs dialogs;
    const auto info = answerBox([&] { dialogs.information("Saved <b>3</b> files", "Done"); });
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->text, "Saved <b>3</b> files");
    EXPECT_EQ(info->labelFormat, Qt::PlainText);
    EXPECT_EQ(info->buttons, 1);
}
