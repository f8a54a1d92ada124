// The command line's argument rules and output encodings.
#include "app/core/arguments.h"
#include "cli/command_line.h"
#include "cli/report.h"
#include "platform/base/ini_settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using cli::CommandMode;
using cli::ParseCommandLine;

TEST(CommandLineArguments, ModesFoldersAndTypes) {
    auto c = ParseCommandLine({});
    EXPECT_EQ(c.mode, CommandMode::Window);
    EXPECT_FALSE(cli::WantsCommandLine(c));

    c = ParseCommandLine({"/mnt/old/Users/bob", "/home/ann"});
    EXPECT_EQ(c.mode, CommandMode::Window); // folders alone open the window over them
    EXPECT_EQ(c.folders, (std::vector<std::string>{"/mnt/old/Users/bob", "/home/ann"}));
    EXPECT_FALSE(cli::WantsCommandLine(c));

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
        EXPECT_TRUE(cli::WantsCommandLine(parsed));
        EXPECT_NE(parsed.error.find(c.mentions), std::string::npos)
            << "error for " << c.args[0] << ": " << parsed.error;
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCommandLine(parsed, {out, err, false}), cli::kExitUsage);
        EXPECT_TRUE(out.str().empty());
        EXPECT_NE(err.str().find("tamberlin: "), std::string::npos);
    }
}

TEST(CommandLineArguments, HelpAndVersionGoToStandardOutput) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine(ParseCommandLine({"--help"}), {out, err, false}), 0);
    EXPECT_NE(out.str().find("--list"), std::string::npos);
    EXPECT_NE(out.str().find("jpg,bmp,gif,png,ico,webp,videos"), std::string::npos);
    EXPECT_TRUE(err.str().empty());
    out.str("");
    EXPECT_EQ(cli::RunCommandLine(ParseCommandLine({"--version"}), {out, err, false}), 0);
    EXPECT_EQ(out.str().rfind("tamberlin ", 0), 0u);
}

// The window takes from its arguments the folders the command line would: `tamberlin`
// passes it the arguments of a window start as they are.
TEST(CommandLineArguments, TheWindowFindsTheSameFolders) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"/home/ann", "relative", ""},
        {"-", "--", "--list", "-x"},
        {"a", "--", "--", "b"},
    };
    for (const auto& arguments : cases) {
        const auto command = ParseCommandLine(arguments);
        EXPECT_EQ(command.mode, CommandMode::Window);
        EXPECT_EQ(command.error, "");
        EXPECT_EQ(app::FolderArguments(arguments), command.folders);
    }
}

// A failed step's report on standard error goes through the escaping of every text there.
TEST(CommandLineOutput, AFailedStepsReportIsEscaped) {
    std::ostringstream err;
    cli::TerminalErrorReporter reporter(err);
    reporter.report("cannot read /tmp/\x1b]2;PWNED\x07", "in Tag ", 7);
    EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("/tmp/\\x1b]2;PWNED\\x07"), std::string::npos) << err.str();
}

} // namespace
