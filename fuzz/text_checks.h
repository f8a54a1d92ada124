// What the text targets check written text against, kept apart from the program's own UTF-8
// coder so that a fault in it is not taken for the truth.
#pragma once

#include "platform/base/ascii.h"
#include "platform/base/utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text_checks {

inline constexpr char32_t kReplacement = 0xFFFD;

// The well-formed UTF-8 sequence at s[i]: its code point and length; length 0 when there is
// none (a stray byte, an overlong form, a surrogate, past U+10FFFF, cut short).
struct Sequence {
    char32_t codePoint = 0;
    std::size_t length = 0;
};
inline Sequence SequenceAt(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t n = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, c = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, c = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, c = lead & 0x07u, least = 0x10000;
    } else {
        return {};
    }
    if (s.size() - i < n)
        return {};
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(k) & 0xC0) != 0x80)
            return {};
        c = (c << 6) | (byte(k) & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {};
    return {c, n};
}

// The code points of well-formed UTF-8; false when it is not.
inline bool Strict(std::string_view s, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const Sequence q = SequenceAt(s, i);
        if (q.length == 0)
            return false;
        out += q.codePoint;
        i += q.length;
    }
    return true;
}

// The code points of any bytes, each byte outside a well-formed sequence as U+FFFD.
inline std::u32string Lenient(std::string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const Sequence q = SequenceAt(s, i);
        out += q.length ? q.codePoint : kReplacement;
        i += q.length ? q.length : 1;
    }
    return out;
}

// Whether `written` keeps the text of `original`: the same code points in the same order, but
// for those the writer shows as U+FFFD (the bytes that are not UTF-8, and any code point
// `replaced` names), which are left out of both sides.
template <typename Replaced>
bool KeepsText(const std::u32string& written, std::string_view original, Replaced replaced) {
    std::u32string a, b;
    for (const char32_t c : written)
        if (c != kReplacement)
            a += c;
    for (const char32_t c : Lenient(original))
        if (c != kReplacement && !replaced(c))
            b += c;
    return a == b;
}
inline bool KeepsText(const std::u32string& written, std::string_view original) {
    return KeepsText(written, original, [](char32_t) { return false; });
}

// C0 and C1 controls, DEL and the invisible bidirectional controls: never shown raw.
// What no text leaving the program may show as it is: the program's one rule for controls,
// bidirectional and other invisible characters.
inline bool Hidden(char32_t c) {
    return platform::IsHiddenCharacter(c);
}

inline int HexValue(char c) {
    return platform::HexDigitValue(c);
}

} // namespace text_checks
