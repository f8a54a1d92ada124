#include "app/core/settings_store.h"

#include "app/core/shell_utils.h"
#include "platform/base/messages.h"
#include "platform/base/settings.h"

namespace app {
namespace {

bool g_toldAboutFailure = false;

} // namespace

std::string ReadSetting(const std::string& app, const std::string& section, const std::string& key,
                        const std::string& defaultValue) {
    return ReadSetting(platform::settingsBackend(), app, section, key, defaultValue);
}

std::string ReadSetting(platform::SettingsBackend& from, const std::string& app,
                        const std::string& section, const std::string& key,
                        const std::string& defaultValue) {
    try {
        if (auto v = from.read(app, section, key))
            return *v;
    } catch (...) {
    }
    return defaultValue;
}

void WriteSetting(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value) {
    std::string error;
    bool ok = false;
    try {
        ok = platform::settingsBackend().write(app, section, key, value, &error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (ok || g_toldAboutFailure)
        return;
    g_toldAboutFailure = true;
    platform::dialogs().information(
        "Your settings could not be saved" + (error.empty() ? std::string() : " (" + error + ")") +
            ".\n\nTamberlin goes on working, but the file types and the destination folder "
            "you choose now may not be remembered next time.",
        ApplicationTitle());
}

void ResetSettingsFailureNotice() {
    g_toldAboutFailure = false;
}

} // namespace app
