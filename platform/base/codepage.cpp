#include "platform/base/codepage.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <string>

namespace platform {
namespace {

unsigned g_fixedCodePage = 0;

struct Converter {
    unsigned codePage = 0;
    iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUtf8 = reinterpret_cast<iconv_t>(-1);
    ~Converter() { close(); }
    void close() {
        if (toUtf8 != reinterpret_cast<iconv_t>(-1))
            iconv_close(toUtf8);
        if (fromUtf8 != reinterpret_cast<iconv_t>(-1))
            iconv_close(fromUtf8);
        toUtf8 = fromUtf8 = reinterpret_cast<iconv_t>(-1);
    }
};

std::string iconvName(unsigned cp) {
    switch (cp) {
    case 874:
        return "CP874";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "BIG5-HKSCS"; // glibc's CP950 is a subset; Wine's table matches Big5 here
    default:
        return "CP" + std::to_string(cp);
    }
}

Converter& converter() {
    static Converter c;
    const unsigned cp = GetACP();
    if (c.codePage != cp) {
        c.close();
        c.codePage = cp;
        c.toUtf8 = iconv_open("UTF-8", iconvName(cp).c_str());
        c.fromUtf8 = iconv_open(iconvName(cp).c_str(), "UTF-8");
        if (c.toUtf8 == reinterpret_cast<iconv_t>(-1))
            c.toUtf8 = iconv_open("UTF-8", "CP1252");
        if (c.fromUtf8 == reinterpret_cast<iconv_t>(-1))
            c.fromUtf8 = iconv_open("CP1252", "UTF-8");
    }
    return c;
}

std::string convert(iconv_t cd, std::string_view in, std::string_view replacement) {
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 4 + 8);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            const size_t used = out.size() - outLeft;
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // EILSEQ or EINVAL: one byte that does not decode (or a cut-off sequence).
        if (outLeft < replacement.size() + 8) {
            const size_t used = out.size() - outLeft;
            out.resize(out.size() * 2 + replacement.size());
            outPtr = out.data() + used;
            outLeft = out.size() - used;
        }
        for (char ch : replacement) {
            *outPtr++ = ch;
            --outLeft;
        }
        // Skip a whole UTF-8 sequence when encoding, one byte when decoding.
        size_t skip = 1;
        if (replacement == "?") {
            const auto lead = static_cast<unsigned char>(*inPtr);
            skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            skip = skip > inLeft ? inLeft : skip;
        }
        inPtr += skip;
        inLeft -= skip;
    }
    size_t flushLeft = outLeft;
    iconv(cd, nullptr, nullptr, &outPtr, &flushLeft);
    out.resize(out.size() - flushLeft);
    return out;
}

} // namespace

unsigned AnsiCodePageForLocale(std::string_view locale) {
    const auto at = locale.find_first_of(".@");
    const std::string_view base = locale.substr(0, at);
    const std::string_view lang = base.substr(0, base.find('_'));
    if (lang == "ja")
        return 932;
    if (lang == "zh")
        return (base == "zh_TW" || base == "zh_HK" || base == "zh_MO") ? 950 : 936;
    if (lang == "ko")
        return 949;
    if (lang == "th")
        return 874;
    if (lang == "vi")
        return 1258;
    if (lang == "ru" || lang == "uk" || lang == "be" || lang == "bg" || lang == "mk" ||
        lang == "kk" || lang == "ky" || lang == "tt" || lang == "mn" ||
        (lang == "sr" && locale.find("@latin") == std::string_view::npos))
        return 1251;
    if (lang == "pl" || lang == "cs" || lang == "sk" || lang == "hu" || lang == "sl" ||
        lang == "hr" || lang == "ro" || lang == "sq" || lang == "bs" || lang == "sr")
        return 1250;
    if (lang == "el")
        return 1253;
    if (lang == "tr" || lang == "az" || lang == "uz")
        return 1254;
    if (lang == "he" || lang == "yi")
        return 1255;
    if (lang == "ar" || lang == "fa" || lang == "ur")
        return 1256;
    if (lang == "et" || lang == "lv" || lang == "lt")
        return 1257;
    return 1252;
}

unsigned GetACP() {
    if (g_fixedCodePage != 0)
        return g_fixedCodePage;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return AnsiCodePageForLocale(value);
    }
    return 1252;
}

void SetAnsiCodePage(unsigned codePage) {
    g_fixedCodePage = codePage;
}

std::string AnsiToUtf8(std::string_view bytes) {
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(bytes);
    return convert(converter().toUtf8, bytes, "\xEF\xBF\xBD");
}

std::string Utf8ToAnsi(std::string_view text) {
    bool ascii = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(text);
    return convert(converter().fromUtf8, text, "?");
}

} // namespace platform
