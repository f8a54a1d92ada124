// The program's per-user settings: text values under "Varnholt" / "Tamberlin".
#pragma once

#include <string>

namespace platform {
class SettingsBackend;
}

namespace app {

inline constexpr const char* kSettingsApplication = "Varnholt";
inline constexpr const char* kSettingsSection = "Tamberlin";

// The destination's key under that section; each file type's key is in its row of
// cache::kFileTypes.
inline constexpr const char* kKeyDownloadLocation = "Download Location";

// The stored value when the key exists (even when empty), else the default. Never throws.
std::string ReadSetting(const std::string& app, const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// The same, from the given store rather than the program's own (the command line reads the
// window's file without ever writing it).
std::string ReadSetting(platform::SettingsBackend& from, const std::string& app,
                        const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// Stores the value at once. A value that cannot be stored is not fatal: the user is told
// once per run, and the program goes on.
void WriteSetting(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value);

// For tests: forget that the user was already told about a failed write.
void ResetSettingsFailureNotice();

} // namespace app
