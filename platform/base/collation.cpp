#include "platform/base/collation.h"

#include "platform/base/utf8.h"

#include <clocale>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace platform {
namespace {

locale_t userLocale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", nullptr);
        if (!l)
            l = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", nullptr);
        return l;
    }();
    return loc;
}

locale_t caseLocale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return loc;
}

} // namespace

std::string WeightBytes(const wchar_t* weights, std::size_t n) {
    std::string bytes;
    bytes.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(weights[i]));
        if (v < 0x80) {
            bytes.push_back(static_cast<char>(v));
            continue;
        }
        // UTF-8's leads (0xC0, 0xE0 ... 0xFC), and 0xFE with six more bytes past 31 bits:
        // a longer form always has the larger lead, so the order of values holds.
        int more = 1;
        while (more < 6 && v >= std::uint64_t{1} << (5 * more + 6))
            ++more;
        const auto wide = std::uint64_t{v};
        bytes.push_back(static_cast<char>(((0xFFu << (7 - more)) & 0xFFu) | (wide >> (6 * more))));
        for (int k = more - 1; k >= 0; --k)
            bytes.push_back(static_cast<char>(0x80u | (wide >> (6 * k) & 0x3Fu)));
    }
    return bytes;
}

std::string CollationKey(std::string_view utf8) {
    // Kept from call to call: a list is sorted by thousands of keys at once.
    thread_local std::wstring text;
    thread_local std::vector<wchar_t> key;
    text.clear();
    text.reserve(utf8.size());
    locale_t lower = caseLocale();
    for (std::size_t i = 0; i < utf8.size();) {
        if (const auto byte = static_cast<unsigned char>(utf8[i]); byte < 0x80) {
            // ASCII, nearly every file name: lower case is the same in every locale here.
            text.push_back(static_cast<wchar_t>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte));
            ++i;
            continue;
        }
        const Utf8Decoded d = DecodeUtf8(utf8, i);
        const auto ch = static_cast<wint_t>(d.codePoint);
        text.push_back(static_cast<wchar_t>(lower ? towlower_l(ch, lower) : std::towlower(ch)));
        i += d.length;
    }
    locale_t loc = userLocale();
    if (loc) {
        if (key.size() < text.size() * 4 + 16)
            key.resize(text.size() * 4 + 16);
        std::size_t n = wcsxfrm_l(key.data(), text.c_str(), key.size(), loc);
        if (n >= key.size()) {
            key.resize(n + 1);
            n = wcsxfrm_l(key.data(), text.c_str(), key.size(), loc);
        }
        return WeightBytes(key.data(), n);
    }
    return WeightBytes(text.data(), text.size());
}

} // namespace platform
