// Reading the settings file the window writes, without Qt: the command line needs the
// user's ticked file types but must run where no window library is loaded.
#pragma once

#include "platform/base/settings.h"

#include <map>
#include <string>

namespace platform {

// $XDG_CONFIG_HOME, else ~/.config: where the window keeps "<application>.ini".
std::string DefaultSettingsFolder();

// A read-only backend over "<folder>/<application>.ini" as the window's settings library
// writes it ([section] lines, key=value lines, keys percent-escaped, values optionally
// quoted). Writing always fails: the command line never changes the settings.
class IniSettingsReader final : public SettingsBackend {
  public:
    explicit IniSettingsReader(std::string folder) : folder_(std::move(folder)) {}
    std::optional<std::string> read(const std::string& app, const std::string& section,
                                    const std::string& key) override;
    bool write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value, std::string* error) override;

  private:
    std::string folder_;
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> cache_;
    std::map<std::string, bool> loaded_;
};

// Parses INI text into section -> key -> value, undoing the escapes (exposed for tests).
std::map<std::string, std::map<std::string, std::string>> ParseIniText(const std::string& text);

} // namespace platform
