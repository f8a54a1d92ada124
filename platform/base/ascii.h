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

// How many times `byte` occurs in `text` (memchr from one to the next: the separators a parse
// counts before it reserves are few in kilobytes of text).
std::size_t CountByte(std::string_view text, char byte) noexcept;

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

// The program's one hex encoder.
// Lower-case hexadecimal digits of `value`, at least `width` of them (zeros in front).
std::string LowerHex(unsigned long long value, std::size_t width = 1);
enum class HexCase { Lower, Upper };
// Appends the two hexadecimal digits of `byte` (as in a percent-encoded name).
void AppendHexByte(std::string& out, unsigned char byte, HexCase letters);
// The two hexadecimal digits of each byte, in order (as a digest is shown).
std::string HexBytes(std::string_view bytes, HexCase letters = HexCase::Lower);

} // namespace platform
