// Settings in INI form under the user's XDG configuration folder:
// $XDG_CONFIG_HOME/<application>.ini (normally ~/.config/Varnholt.ini), one group per section.
#pragma once

#include "platform/base/settings.h"

#include <QString>

namespace platform {

class QtSettingsBackend final : public SettingsBackend {
  public:
    // folder: where the .ini files live; empty for the user's XDG configuration folder.
    explicit QtSettingsBackend(QString folder = {});
    std::optional<std::string> read(const std::string& app, const std::string& section,
                                    const std::string& key) override;
    bool write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value, std::string* error) override;
    QString fileFor(const std::string& app) const;

  private:
    QString folder_;
};

} // namespace platform
