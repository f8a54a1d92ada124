#include "app/window/form1.h"
#include "app/window/skin.h"
#include "test_support.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <gtest/gtest.h>

using testing_support::ScratchFolder;

namespace {

QColor background(QWidget* w) {
    return w->palette().color(QPalette::Window);
}

} // namespace

TEST(Skin, AbsentSkinChangesNothingAndTheEngineIsNeverCalled) {
    ScratchFolder d;
    app::Form1 form(QString::fromStdString(d.str()));
    app::ApplySkin(&form, form.skinFramework(), QString::fromStdString(d.str()));
    EXPECT_TRUE(form.skinFramework().calls().isEmpty());
    EXPECT_EQ(background(&form), QColor(Qt::white));
    EXPECT_EQ(background(form.Frame2), QColor(Qt::white));
    // A folder or a hidden file of that name is no skin either.
    std::filesystem::create_directories(d.path() / "x/o.cjs");
    app::ApplySkin(&form, form.skinFramework(), QString::fromStdString(d.str()));
    EXPECT_TRUE(form.skinFramework().calls().isEmpty());
}

TEST(Skin, PresentSkinColoursTheFramesAndBoxesThenDrivesTheEngineInOrder) {
    ScratchFolder d;
    d.file("x/o.cjs", "QPushButton { color: red; }");
    app::Form1 form(QString::fromStdString(d.str()));
    const QColor face = app::ButtonFaceColour();
    ASSERT_NE(face, QColor(Qt::white));
    const QPalette text3 = form.Text3->palette();
    const QPalette list = form.ListView1->palette();
    app::ApplySkin(&form, form.skinFramework(), QString::fromStdString(d.str()));
    for (QWidget* w :
         std::initializer_list<QWidget*>{&form, form.Frame1, form.Frame2, form.Check2, form.Check4,
                                         form.Check7, form.Check9, form.Check10, form.Check11})
        EXPECT_EQ(background(w), face) << w->objectName().toStdString();
    // The text box and the list keep the colour they paint their contents with.
    EXPECT_EQ(form.Text3->palette().color(QPalette::Base), text3.color(QPalette::Base));
    EXPECT_EQ(form.ListView1->palette().color(QPalette::Base), list.color(QPalette::Base));
    EXPECT_NE(form.Text3->palette().color(QPalette::Base), face);
    EXPECT_FALSE(form.Text3->autoFillBackground());
    EXPECT_EQ(form.skinFramework().calls(),
              (QStringList{"LoadSkin", "Options", "Option5", "Option10", "ApplyWindow"}));
    EXPECT_EQ(form.skinFramework().GetProperty(1).toInt() & 1, 1);
    EXPECT_EQ(form.styleSheet(), "QPushButton { color: red; }");
}

TEST(Skin, AFailureStopsTheSkinWhereItHappened) {
    app::SkinFramework engine;
    EXPECT_THROW(engine.Invoke(3, {QVariant::fromValue(qulonglong{1})}),
                 std::runtime_error); // nothing loaded
    EXPECT_THROW(engine.Invoke(2, {QString("/no/such/file")}), std::runtime_error);
    EXPECT_THROW(engine.GetProperty(42), std::runtime_error);
}
