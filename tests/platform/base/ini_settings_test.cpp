// The settings file the window writes, as the command line reads it without Qt.
#include "platform/base/ini_settings.h"

#include <gtest/gtest.h>

TEST(CommandLineSettings, ReadsTheWindowsIniFile) {
    const auto ini = platform::ParseIniText("[General]\n"
                                            "x=1\n"
                                            "[Tamberlin]\n"
                                            "Download%20Location=/home/ann/Pictures/\n"
                                            "JPG=0\n"
                                            "PNG=\"1\"\n"
                                            "Odd=\" 1\"\n"
                                            "ICO = 1 \r\n"
                                            "Name=caf%U00e9\n");
    const auto& s = ini.at("Tamberlin");
    EXPECT_EQ(s.at("Download Location"), "/home/ann/Pictures/");
    EXPECT_EQ(s.at("JPG"), "0");
    EXPECT_EQ(s.at("PNG"), "1");
    EXPECT_EQ(s.at("Odd"), " 1"); // quoted blanks are part of the value: not ticked
    EXPECT_EQ(s.at("ICO"), "1");
    EXPECT_EQ(ini.at("General").at("x"), "1");
    const auto keys = platform::ParseIniText("[Tamberlin]\ncaf%U00e9=2\n");
    EXPECT_EQ(keys.at("Tamberlin").at("caf\xc3\xa9"), "2");
}
