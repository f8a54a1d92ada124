#include "platform/base/ascii.h"

#include <cstring>

namespace platform {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

} // namespace

void AppendHexByte(std::string& out, unsigned char byte, HexCase letters) {
    const char* digits = letters == HexCase::Upper ? kUpperDigits : kLowerDigits;
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 15]);
}

std::string HexBytes(std::string_view bytes, HexCase letters) {
    std::string out;
    out.reserve(2 * bytes.size());
    for (const char c : bytes)
        AppendHexByte(out, static_cast<unsigned char>(c), letters);
    return out;
}

std::string LowerHex(unsigned long long value, std::size_t width) {
    char digits[16];
    std::size_t n = 0;
    do {
        digits[n++] = kLowerDigits[value & 15];
        value >>= 4;
    } while (value != 0);
    std::string text(width > n ? width - n : 0, '0');
    while (n > 0)
        text.push_back(digits[--n]);
    return text;
}

std::size_t CountByte(std::string_view text, char byte) noexcept {
    std::size_t n = 0;
    for (const char *p = text.data(), *end = p + text.size();
         (p = static_cast<const char*>(std::memchr(p, byte, static_cast<std::size_t>(end - p))));
         ++p)
        ++n;
    return n;
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
