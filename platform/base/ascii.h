// ASCII-only text helpers. Protocol tokens, file extensions, registry keys and header names
// compare without regard to ASCII letter case, whatever the user's locale (a Turkish locale
// would otherwise lower-case "I" to a dotless i).
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr char AsciiLower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;

// The value of a hexadecimal digit, -1 for any other character.
constexpr int HexDigitValue(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Lower-case hexadecimal digits of `value`, at least `width` of them (zeros in front).
std::string LowerHex(unsigned long long value, std::size_t width = 1);

} // namespace platform
