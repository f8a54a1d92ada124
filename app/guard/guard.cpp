#include "app/guard/guard.h"

#include <cstdio>

namespace app {
namespace {

class StderrReporter final : public ErrorReporter {
  public:
    void report(const std::string& description, const std::string& tag, int line) override {
        std::fprintf(stderr, "Application Error: %s\n",
                     ComposeErrorMessage(description, tag, line).c_str());
    }
};

ErrorReporter* g_reporter = nullptr;
StepHook g_stepHook;

} // namespace

std::string ComposeErrorMessage(const std::string& description, const std::string& tag, int line) {
    return description + "\r\n" + tag + "at line " + std::to_string(line) + "\r\r" +
           "Please email screenshot of this message to " + kSupportAddress;
}

ErrorReporter& errorReporter() {
    static StderrReporter fallback;
    return g_reporter ? *g_reporter : fallback;
}

void setErrorReporter(ErrorReporter* reporter) {
    g_reporter = reporter;
}
void setStepHook(StepHook hook) {
    g_stepHook = std::move(hook);
}

void Guard::beforeStep() {
    if (g_stepHook)
        g_stepHook(tag_, line_);
}

void Guard::reportFailure(const char* description) {
    errorReporter().report(description ? description : "", tag_, line_);
}

} // namespace app
