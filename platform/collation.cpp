#include "platform/collation.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <vector>
#include <wchar.h>

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

std::wstring decodeUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 && i + 1 < s.size()) {
            cp = (char32_t(c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if ((c >> 4) == 0xE && i + 2 < s.size()) {
            cp = (char32_t(c & 0x0F) << 12) | (char32_t(s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if ((c >> 3) == 0x1E && i + 3 < s.size()) {
            cp = (char32_t(c & 0x07) << 18) | (char32_t(s[i + 1] & 0x3F) << 12) |
                 (char32_t(s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            len = 4;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

} // namespace

std::string CollationKey(std::string_view utf8) {
    std::wstring text = decodeUtf8(utf8);
    locale_t lower = caseLocale();
    for (auto& ch : text)
        ch = lower ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(ch), lower))
                   : static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
    std::vector<wchar_t> key;
    locale_t loc = userLocale();
    if (loc) {
        key.resize(text.size() * 4 + 16);
        std::size_t n = wcsxfrm_l(key.data(), text.c_str(), key.size(), loc);
        if (n >= key.size()) {
            key.resize(n + 1);
            n = wcsxfrm_l(key.data(), text.c_str(), key.size(), loc);
        }
        key.resize(n);
    } else {
        key.assign(text.begin(), text.end());
    }
    std::string bytes;
    bytes.reserve(key.size() * 4);
    for (wchar_t w : key) {
        const auto v = static_cast<std::uint32_t>(w);
        bytes.push_back(static_cast<char>(v >> 24));
        bytes.push_back(static_cast<char>(v >> 16));
        bytes.push_back(static_cast<char>(v >> 8));
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

} // namespace platform
