// The command line's argument rules and output encodings.
#include "cli/command_line.h"
#include "cli/report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using app::CommandMode;
using app::ParseCommandLine;

TEST(CommandLineArguments, ModesFoldersAndTypes) {
    auto c = ParseCommandLine({});
    EXPECT_EQ(c.mode, CommandMode::Window);
    EXPECT_FALSE(app::WantsCommandLine(c));

    c = ParseCommandLine({"/mnt/old/Users/bob", "/home/ann"});
    EXPECT_EQ(c.mode, CommandMode::Window); // folders alone open the window over them
    EXPECT_EQ(c.folders, (std::vector<std::string>{"/mnt/old/Users/bob", "/home/ann"}));
    EXPECT_FALSE(app::WantsCommandLine(c));

    c = ParseCommandLine({"--list", "--json", "--types", "JPG,webp,,videos", "/x"});
    EXPECT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.mode, CommandMode::List);
    EXPECT_TRUE(c.json);
    ASSERT_TRUE(c.types.has_value());
    EXPECT_EQ(*c.types, (std::vector<std::string>{"jpg", "webp", "videos"}));
    EXPECT_EQ(c.folders, std::vector<std::string>{"/x"});

    c = ParseCommandLine({"--save=/tmp/out", "--", "--list"});
    EXPECT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.mode, CommandMode::Save);
    EXPECT_EQ(c.saveFolder, "/tmp/out");
    EXPECT_EQ(c.folders, std::vector<std::string>{"--list"}); // after "--", a folder

    c = ParseCommandLine({"-s", "/tmp/out", "-t", "png"});
    EXPECT_EQ(c.saveFolder, "/tmp/out");
    EXPECT_EQ(*c.types, std::vector<std::string>{"png"});
}

TEST(CommandLineArguments, UsageErrorsAreNamed) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--frobnicate"}, "--frobnicate"},
        {{"--save"}, "--save"},
        {{"--save", ""}, "empty"},
        {{"--list", "--types", "jpg,tiff"}, "tiff"},
        {{"--list", "--save", "/tmp/x"}, "--save"},
        {{"--json"}, "--json"},
        {{"--types", "jpg"}, "--types"},
        {{"--list", "--types"}, "--types"},
        // A list that names nothing would list nothing and call it success.
        {{"--list", "--types="}, "'--types' names no file type"},
        {{"--list", "--types", ",,,"}, "'--types' names no file type"},
        {{"--list", "-t", "png", "--types=jpg"}, "'--types' is given twice"},
        {{"--save", "/a", "--save=/b"}, "'--save' is given twice"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.args);
        EXPECT_TRUE(app::WantsCommandLine(parsed));
        EXPECT_NE(parsed.error.find(c.mentions), std::string::npos)
            << "error for " << c.args[0] << ": " << parsed.error;
        std::ostringstream out, err;
        EXPECT_EQ(app::RunCommandLine(parsed, {out, err, false}), app::kExitUsage);
        EXPECT_TRUE(out.str().empty());
        EXPECT_NE(err.str().find("tamberlin: "), std::string::npos);
    }
}

TEST(CommandLineArguments, HelpAndVersionGoToStandardOutput) {
    std::ostringstream out, err;
    EXPECT_EQ(app::RunCommandLine(ParseCommandLine({"--help"}), {out, err, false}), 0);
    EXPECT_NE(out.str().find("--list"), std::string::npos);
    EXPECT_NE(out.str().find("jpg,bmp,gif,png,ico,webp,videos"), std::string::npos);
    EXPECT_TRUE(err.str().empty());
    out.str("");
    EXPECT_EQ(app::RunCommandLine(ParseCommandLine({"--version"}), {out, err, false}), 0);
    EXPECT_EQ(out.str().rfind("tamberlin ", 0), 0u);
}

TEST(CommandLineOutput, TsvFieldsCannotBreakALine) {
    EXPECT_EQ(app::TsvField("plain name.jpg"), "plain name.jpg");
    EXPECT_EQ(app::TsvField("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(app::TsvField("\xff\xfe"), "\xff\xfe"); // the real bytes, for scripts
    // No other control character reaches a terminal: C0, DEL, and C1 in UTF-8 or alone.
    const std::pair<std::string, std::string> escaped[] = {
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b]0;title\x07\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b"
         "31m",
         "csi\\xc2\\x9b31m"},
        {"lone\x9b", "lone\\x9b"},
        {"\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
        {"\\x1b", "\\\\x1b"}, // a backslash written by the URL stays told apart
    };
    for (const auto& [raw, shown] : escaped)
        EXPECT_EQ(app::TsvField(raw), shown) << shown;
}

TEST(CommandLineOutput, JsonStringsAreValidUtf8) {
    EXPECT_EQ(app::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(app::JsonString(std::string("x\x01y\n", 4)), "\"x\\u0001y\\n\"");
    EXPECT_EQ(app::JsonString("\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x9d\xb1"),
              "\"\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x9d\xb1\"");
    // Bytes that are not UTF-8: one replacement mark each, never raw.
    EXPECT_EQ(app::JsonString("a\xff"
                              "b"),
              "\"a\xEF\xBF\xBD"
              "b\"");
    EXPECT_EQ(app::JsonString("\xe6\x9d"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""); // cut short
    EXPECT_EQ(app::JsonString("\xed\xa0\x80"),
              "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");                  // surrogate
    EXPECT_EQ(app::JsonString("\xc0\xaf"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""); // overlong
}

// One rule hides the same characters wherever text leaves the program: escaped byte by byte
// in --list and on standard error, as \u escapes in JSON, as U+FFFD in the report.
TEST(CommandLineOutput, OneRuleHidesTheSameCharactersInEveryOutput) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string raw, tsv, json, replaced;
    };
    const Case cases[] = {
        {"\x1b]2;PWNED\x07\x1b[2J", "\\x1b]2;PWNED\\x07\\x1b[2J",
         "\\u001b]2;PWNED\\u0007\\u001b[2J", fffd + "]2;PWNED" + fffd + fffd + "[2J"},
        {"evil\xE2\x80\xAEgpj.png", "evil\\xe2\\x80\\xaegpj.png", "evil\\u202egpj.png",
         "evil" + fffd + "gpj.png"},
        {"\xE2\x81\xA6x\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9",
         "\\xe2\\x81\\xa6x\\xe2\\x81\\xa7\\xe2\\x81\\xa8\\xe2\\x81\\xa9",
         "\\u2066x\\u2067\\u2068\\u2069", fffd + "x" + fffd + fffd + fffd},
        {"zero\xE2\x80\x8Bwidth\xEF\xBB\xBF", "zero\\xe2\\x80\\x8bwidth\\xef\\xbb\\xbf",
         "zero\\u200bwidth\\ufeff", "zero" + fffd + "width" + fffd},
        {"line\xE2\x80\xA8"
         "break",
         "line\\xe2\\x80\\xa8break", "line\\u2028break", "line" + fffd + "break"},
        {"tag\xF3\xA0\x81\x81", "tag\\xf3\\xa0\\x81\\x81", "tag\\udb40\\udc41", "tag" + fffd},
        {"del\x7f csi\xC2\x9B", "del\\x7f csi\\xc2\\x9b", "del\\u007f csi\\u009b",
         "del" + fffd + " csi" + fffd},
        // Not UTF-8: the bytes as they are for scripts (but a lone C1 byte), U+FFFD elsewhere.
        {"\xff lone\x9b", "\xff lone\\x9b", fffd + " lone" + fffd, fffd + " lone" + fffd},
        {"\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
         "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tsv);
        EXPECT_EQ(app::TsvField(c.raw), c.tsv);
        EXPECT_EQ(app::JsonString(c.raw), "\"" + c.json + "\"");
        EXPECT_EQ(app::HtmlText(c.raw), c.replaced);
        EXPECT_EQ(app::CsvField(c.raw), c.replaced);
    }

    // A failed step's report on standard error goes through the same escaping.
    std::ostringstream err;
    app::TerminalErrorReporter reporter(err);
    reporter.report("cannot read /tmp/\x1b]2;PWNED\x07", "in Tag ", 7);
    EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("/tmp/\\x1b]2;PWNED\\x07"), std::string::npos) << err.str();
}

} // namespace
