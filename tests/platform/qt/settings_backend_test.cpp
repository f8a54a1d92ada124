#include "platform/qt/qt_settings_backend.h"
#include "test_support.h"

#include <QFile>
#include <gtest/gtest.h>

using platform::QtSettingsBackend;
using testing_support::ScratchFolder;

TEST(QtSettingsBackend, ValuesPerApplicationSectionAndKeySharedBetweenCopies) {
    ScratchFolder d;
    QtSettingsBackend one(QString::fromStdString(d.str()));
    QtSettingsBackend two(QString::fromStdString(d.str()));
    std::string error;
    EXPECT_FALSE(one.read("Varnholt", "Tamberlin", "JPG"));
    ASSERT_TRUE(one.write("Varnholt", "Tamberlin", "JPG", "0", &error)) << error;
    ASSERT_TRUE(one.write("Varnholt", "Tamberlin", "Download Location", "", &error));
    ASSERT_TRUE(two.write("Varnholt", "Tamberlin", "GIF", " 1", &error));
    EXPECT_EQ(two.read("Varnholt", "Tamberlin", "JPG"), "0");
    EXPECT_EQ(one.read("Varnholt", "Tamberlin", "GIF"), " 1");
    EXPECT_EQ(one.read("Varnholt", "Tamberlin", "Download Location"), ""); // present, empty
    EXPECT_FALSE(one.read("Varnholt", "Other", "JPG"));
    ASSERT_TRUE(two.write("Varnholt", "Tamberlin", "JPG", "1", &error)); // the last write wins
    EXPECT_EQ(one.read("Varnholt", "Tamberlin", "JPG"), "1");
    EXPECT_EQ(one.fileFor("Varnholt"), QString::fromStdString(d.str() + "/Varnholt.ini"));
    // No temporary or lock files left beside the settings.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()), {}), 1);
}

TEST(QtSettingsBackend, AWriteThatCannotBeStoredSaysSo) {
    ScratchFolder d;
    // Where the settings file should be there is a folder: nothing can be written there,
    // whoever runs the test.
    std::filesystem::create_directories(d.path() / "Varnholt.ini");
    QtSettingsBackend s(QString::fromStdString(d.str()));
    std::string error;
    EXPECT_FALSE(s.write("Varnholt", "Tamberlin", "JPG", "0", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(d.path() / "Varnholt.ini"));
    EXPECT_FALSE(s.read("Varnholt", "Tamberlin", "JPG"));
}
