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

std::string CollationKey(std::string_view utf8) {
    std::wstring text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Decoded d = DecodeUtf8(utf8, i);
        text.push_back(static_cast<wchar_t>(d.codePoint));
        i += d.length;
    }
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
        const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(w));
        bytes.push_back(static_cast<char>(v >> 24));
        bytes.push_back(static_cast<char>(v >> 16));
        bytes.push_back(static_cast<char>(v >> 8));
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

} // namespace platform
