// The program's per-user settings: text values under "Varnholt" / "Tamberlin".
#pragma once

#include <string>

namespace app {

inline constexpr const char* kSettingsApplication = "Varnholt";
inline constexpr const char* kSettingsSection = "Tamberlin";

// The keys under that section.
inline constexpr const char* kKeyDownloadLocation = "Download Location";
inline constexpr const char* kKeyJpg = "JPG";
inline constexpr const char* kKeyBmp = "BMP";
inline constexpr const char* kKeyGif = "GIF";
inline constexpr const char* kKeyPng = "PNG";
inline constexpr const char* kKeyIco = "ICO";
inline constexpr const char* kKeyVideos = "Videos";
inline constexpr const char* kKeyWebp = "WEBP";

// The stored value when the key exists (even when empty), else the default. Never throws.
std::string ReadSetting(const std::string& app, const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// Stores the value at once. A value that cannot be stored is not fatal: the user is told
// once per run, and the program goes on.
void WriteSetting(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value);

// For tests: forget that the user was already told about a failed write.
void ResetSettingsFailureNotice();

} // namespace app
