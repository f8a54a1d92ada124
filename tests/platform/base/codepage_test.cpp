#include "platform/base/codepage.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(AnsiCodePage, ChosenFromTheLocaleAsWineDoes) {
    EXPECT_EQ(AnsiCodePageForLocale("en_US.UTF-8"), 1252u);
    EXPECT_EQ(AnsiCodePageForLocale("C"), 1252u);
    EXPECT_EQ(AnsiCodePageForLocale("ja_JP.UTF-8"), 932u);
    EXPECT_EQ(AnsiCodePageForLocale("zh_CN.GB18030"), 936u);
    EXPECT_EQ(AnsiCodePageForLocale("zh_TW.UTF-8"), 950u);
    EXPECT_EQ(AnsiCodePageForLocale("ko_KR"), 949u);
    EXPECT_EQ(AnsiCodePageForLocale("ru_RU.UTF-8"), 1251u);
    EXPECT_EQ(AnsiCodePageForLocale("sr_RS@latin"), 1250u);
    EXPECT_EQ(AnsiCodePageForLocale("pl_PL"), 1250u);
    EXPECT_EQ(AnsiCodePageForLocale("el_GR"), 1253u);
    EXPECT_EQ(AnsiCodePageForLocale("tr_TR"), 1254u);
}

TEST(AnsiCodePage, DecodesSingleAndDoubleByteTextExactly) {
    SetAnsiCodePage(1252);
    EXPECT_EQ(AnsiToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(Utf8ToAnsi("\xE7\x8C\xAB"), "?"); // not in 1252
    EXPECT_EQ(AnsiToUtf8("plain"), "plain");

    SetAnsiCodePage(932);
    // "テスト.jpg" in Shift-JIS: three double-byte characters, nothing trailing.
    EXPECT_EQ(AnsiToUtf8("\x83\x65\x83\x58\x83\x67.jpg"),
              "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.jpg");
    // A lead byte cut off at the end decodes to a replacement, not garbage.
    EXPECT_EQ(AnsiToUtf8("a\x83"), "a\xEF\xBF\xBD");

    SetAnsiCodePage(1251);
    EXPECT_EQ(AnsiToUtf8("\xEA\xEE\xF2"), "\xD0\xBA\xD0\xBE\xD1\x82"); // "кот"
    SetAnsiCodePage(0);
}
