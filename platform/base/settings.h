// Per-user settings storage: text values by application, section and key.
#pragma once

#include <optional>
#include <string>

namespace platform {

class SettingsBackend {
  public:
    virtual ~SettingsBackend() = default;
    // The stored value, or nothing when the key is absent. Never throws.
    virtual std::optional<std::string> read(const std::string& app, const std::string& section,
                                            const std::string& key) = 0;
    // Stores the value durably; false (with a reason) when it could not be stored.
    virtual bool write(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& value, std::string* error) = 0;
};

// The backend in use; an in-memory one until the program installs its own.
SettingsBackend& settingsBackend();
void setSettingsBackend(SettingsBackend* backend);

} // namespace platform
