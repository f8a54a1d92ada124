#include "platform/base/ascii.h"

namespace platform {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

} // namespace platform
