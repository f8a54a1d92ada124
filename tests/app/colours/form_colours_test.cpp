#include "app/colours/form_colours.h"

#include <QCheckBox>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QColor background(QWidget* w) {
    return w->palette().color(QPalette::Window);
}

} // namespace

TEST(Skin, ThePreviewColourRoutineNeedsNoSkin) {
    QWidget w;
    auto* box = new QCheckBox("x", &w);
    auto* button = new QPushButton("y", &w);
    app::ApplyFormColours(&w);
    EXPECT_EQ(background(&w), app::ButtonFaceColour());
    EXPECT_EQ(background(box), app::ButtonFaceColour());
    EXPECT_FALSE(button->autoFillBackground());
}
