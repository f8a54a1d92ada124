// Which window-system platform the toolkit is asked for.
#pragma once

#include <string>

namespace app {

// On a Wayland session a client cannot place its own windows, so the main window could not
// be centred nor the preview put beside it. Where XWayland offers an X display, the X11
// platform is asked for first, Wayland staying the fall-back. A platform the user chose
// (QT_QPA_PLATFORM) is always kept. Returns the value to give QT_QPA_PLATFORM, or an empty
// string to leave the toolkit's own choice. Null arguments are unset variables.
std::string ChooseQtPlatform(const char* qtQpaPlatform, const char* waylandDisplay,
                             const char* x11Display, const char* sessionType);

} // namespace app
