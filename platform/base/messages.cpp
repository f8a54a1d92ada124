#include "platform/base/messages.h"

#include <cstdio>

namespace platform {
namespace {

class ConsoleDialogs final : public Dialogs {
  public:
    void information(const std::string& text, const std::string& title) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
    std::string pickFolder(const std::string&) override { return {}; }
};

Dialogs* g_dialogs = nullptr;
std::function<void()> g_pump;

} // namespace

Dialogs& dialogs() {
    static ConsoleDialogs fallback;
    return g_dialogs ? *g_dialogs : fallback;
}
void setDialogs(Dialogs* d) {
    g_dialogs = d;
}

void DoEvents() {
    if (g_pump)
        g_pump();
}
void setDoEvents(std::function<void()> pump) {
    g_pump = std::move(pump);
}

} // namespace platform
