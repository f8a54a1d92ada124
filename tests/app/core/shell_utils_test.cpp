#include "app/core/settings_store.h"
#include "app/core/shell_utils.h"
#include "platform/base/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using testing_support::ScratchFolder;

using Env = testing_support::ScopedEnv;

TEST(DesktopFolder, TheXdgDesktopWithOneSeparatorAndNoBlanks) {
    ScratchFolder home;
    Env h("HOME", home.str().c_str());
    Env x("XDG_CONFIG_HOME", nullptr);
    std::filesystem::create_directory(home.path() / "Desktop");
    EXPECT_EQ(app::GetDesktopFolder(), home.str() + "/Desktop/");
    const std::string raw = app::GetSpecialFolderPath(0);
    EXPECT_EQ(raw.size(), 512u);
    EXPECT_EQ(raw[home.str().size() + 8], '\0');
    EXPECT_EQ(raw.back(), ' ');
    EXPECT_EQ(app::GetSpecialFolderPath(5), ""); // a folder we do not know
}

TEST(DesktopFolder, ThePicturesThenTheHomeFolderWhenTheDesktopDoesNotExist) {
    ScratchFolder home;
    Env h("HOME", home.str().c_str());
    Env x("XDG_CONFIG_HOME", nullptr);
    const struct {
        const char* userDirs; // nullptr: no user-dirs.dirs
        const char* folder;   // created under the home, or nullptr
        const char* other;    // another one, or nullptr
        std::string expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, home.str() + "/"},
        {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", nullptr, nullptr, home.str() + "/"},
        {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "Desktop", nullptr, home.str() + "/"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "Schreibtisch", "Pictures",
         home.str() + "/Schreibtisch/"},
        {nullptr, "Desktop", "Pictures", home.str() + "/Desktop/"},
        {nullptr, "Pictures", nullptr, home.str() + "/Pictures/"},
        {"XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "Pictures", nullptr, home.str() + "/"},
        {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "Bilder",
         nullptr, home.str() + "/Bilder/"},
    };
    for (const auto& c : cases) {
        for (const char* folder : {".config", "Desktop", "Schreibtisch", "Pictures", "Bilder"})
            std::filesystem::remove_all(home.path() / folder);
        if (c.userDirs)
            home.file(".config/user-dirs.dirs", c.userDirs);
        for (const char* folder : {c.folder, c.other})
            if (folder)
                std::filesystem::create_directory(home.path() / folder);
        EXPECT_EQ(app::GetDesktopFolder(), c.expected)
            << (c.userDirs ? c.userDirs : "-") << " " << (c.folder ? c.folder : "-");
    }
}

TEST(DesktopFolder, NoPathFailsWithAnInvalidArgument) {
    Env h("HOME", "");
    Env x("XDG_CONFIG_HOME", nullptr);
    // Without HOME the password database still knows a home; a path that cannot fit the
    // shell's buffer is the other way to get none.
    const std::string longHome = "/" + std::string(600, 'h');
    Env h2("HOME", longHome.c_str());
    EXPECT_THROW(app::GetDesktopFolder(), std::invalid_argument);
}

TEST(FileIsPresent, TrueOnlyForFilesAndNeverThrows) {
    ScratchFolder d;
    EXPECT_TRUE(app::FileIsPresent(d.file("HAND-M.CUR", "x")));
    EXPECT_FALSE(app::FileIsPresent(d.str() + "/missing.cur"));
    EXPECT_FALSE(app::FileIsPresent(d.str() + "/missing/x.cur"));
    EXPECT_FALSE(app::FileIsPresent(""));
    EXPECT_FALSE(app::FileIsPresent(std::string("a\0b", 3)));
}

TEST(ApplicationTitle, CutBackWordByWordToFortyCharacters) {
    EXPECT_EQ(app::TitleForProductName("Tamberlin"), "Tamberlin");
    // 41 characters whose last word has 5: that word and its blank go.
    const std::string name41 = "Alpha Bravo Charlie Delta Echo Foxt Hotel";
    ASSERT_EQ(name41.size(), 41u);
    EXPECT_EQ(app::TitleForProductName(name41), "Alpha Bravo Charlie Delta Echo Foxt");
    EXPECT_EQ(app::TitleForProductName(name41).size(), 35u);
    EXPECT_EQ(app::TitleForProductName(std::string(50, 'x')), std::string(40, 'x'));
    app::SetApplicationTitle();
    EXPECT_EQ(app::ApplicationTitle(), "Tamberlin");
}

namespace {

struct FailingBackend final : platform::SettingsBackend {
    std::optional<std::string> read(const std::string&, const std::string&,
                                    const std::string&) override {
        throw std::runtime_error("unreadable");
    }
    bool write(const std::string&, const std::string&, const std::string&, const std::string&,
               std::string* error) override {
        *error = "disk full";
        return false;
    }
};

} // namespace

TEST(SettingsStore, EmptyValuesStayEmptyAndAFailingWriteIsToldOnce) {
    testing_support::ScriptedDialogs dialogs;
    app::WriteSetting("Varnholt", "Tamberlin", "Download Location", "");
    EXPECT_EQ(app::ReadSetting("Varnholt", "Tamberlin", "Download Location", "default"), "");
    EXPECT_EQ(app::ReadSetting("Varnholt", "Tamberlin", "Never Written", "default"), "default");

    FailingBackend failing;
    platform::setSettingsBackend(&failing);
    app::ResetSettingsFailureNotice();
    EXPECT_EQ(app::ReadSetting("Varnholt", "Tamberlin", "JPG", "1"), "1"); // reading never fails
    app::WriteSetting("Varnholt", "Tamberlin", "JPG", "0");
    app::WriteSetting("Varnholt", "Tamberlin", "GIF", "0");
    platform::setSettingsBackend(nullptr);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].find("disk full"), std::string::npos);
}
