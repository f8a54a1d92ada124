#include "app/core/platform_choice.h"

#include <string_view>

namespace app {

namespace {
bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}
} // namespace

std::string ChooseQtPlatform(const char* qtQpaPlatform, const char* waylandDisplay,
                             const char* x11Display, const char* sessionType) {
    if (isSet(qtQpaPlatform))
        return {};
    const bool wayland =
        isSet(waylandDisplay) || (isSet(sessionType) && std::string_view(sessionType) == "wayland");
    if (!wayland || !isSet(x11Display))
        return {};
    return "xcb;wayland";
}

} // namespace app
