#include "platform/base/ascii.h"

namespace platform {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

std::string LowerHex(unsigned long long value, std::size_t width) {
    char digits[16];
    std::size_t n = 0;
    do {
        digits[n++] = "0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value != 0);
    std::string text(width > n ? width - n : 0, '0');
    while (n > 0)
        text.push_back(digits[--n]);
    return text;
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
