#include "platform/base/settings.h"

#include <map>
#include <tuple>

namespace platform {
namespace {

class MemorySettings final : public SettingsBackend {
  public:
    std::optional<std::string> read(const std::string& app, const std::string& section,
                                    const std::string& key) override {
        auto it = values_.find({app, section, key});
        if (it == values_.end())
            return std::nullopt;
        return it->second;
    }
    bool write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value, std::string*) override {
        values_[{app, section, key}] = value;
        return true;
    }

  private:
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
};

SettingsBackend* g_backend = nullptr;

} // namespace

SettingsBackend& settingsBackend() {
    static MemorySettings fallback;
    return g_backend ? *g_backend : fallback;
}
void setSettingsBackend(SettingsBackend* backend) {
    g_backend = backend;
}

} // namespace platform
