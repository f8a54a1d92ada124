// libFuzzer target: the escaping of the rows --list prints, tab-separated or as --json, over
// two texts from the input. A tab-separated field holds no control character at all (so no
// tab or line break splits a row, no escape sequence reaches a terminal), and two different
// texts never print the same. A JSON string is a well-formed string literal of UTF-8 that
// reads back as the text (bytes that are not UTF-8 as U+FFFD), and two different texts of
// UTF-8 never print the same.
#include "platform/base/escape.h"
#include "text_checks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace text_checks;

void CheckTsv(const std::string& tsv) {
    for (std::size_t i = 0; i < tsv.size();) {
        const Sequence q = SequenceAt(tsv, i);
        // A C1 control counts as UTF-8 and as a lone byte of another encoding alike.
        const char32_t c = q.length ? q.codePoint : static_cast<unsigned char>(tsv[i]);
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            std::abort();
        i += q.length ? q.length : 1;
    }
}

// Four hex digits of a \u escape at text[i].
char32_t Unit(const std::u32string& text, std::size_t i) {
    char32_t unit = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const int v = i + k < text.size() && text[i + k] < 0x80
                          ? HexValue(static_cast<char>(text[i + k]))
                          : -1;
        if (v < 0)
            std::abort();
        unit = unit * 16 + static_cast<char32_t>(v);
    }
    return unit;
}

void CheckJson(const std::string& given, const std::string& json) {
    std::u32string text;
    if (!Strict(json, text) || text.size() < 2 || text.front() != '"' || text.back() != '"')
        std::abort();
    text = text.substr(1, text.size() - 2);
    std::u32string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c < 0x20 || c == '"')
            std::abort();
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i >= text.size())
            std::abort(); // the closing quote escaped
        switch (text[i]) {
        case '"':
        case '\\':
        case '/':
            value += text[i];
            break;
        case 'b':
            value += U'\b';
            break;
        case 'f':
            value += U'\f';
            break;
        case 'n':
            value += U'\n';
            break;
        case 'r':
            value += U'\r';
            break;
        case 't':
            value += U'\t';
            break;
        case 'u': {
            char32_t unit = Unit(text, i + 1);
            i += 4;
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                std::abort(); // a low surrogate alone
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (text.compare(i + 1, 2, U"\\u") != 0)
                    std::abort(); // a high surrogate alone
                const char32_t low = Unit(text, i + 3);
                if (low < 0xDC00 || low > 0xDFFF)
                    std::abort();
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
            value += unit;
            break;
        }
        default:
            std::abort();
        }
    }
    if (!KeepsText(value, given))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string a = in.ConsumeRandomLengthString(size);
    const std::string b = in.ConsumeRemainingBytesAsString();
    const std::string tsv = platform::TsvField(a), json = platform::JsonString(a);
    CheckTsv(tsv);
    CheckJson(a, json);
    if (a != b) {
        std::u32string ignored;
        if (tsv == platform::TsvField(b) ||
            (Strict(a, ignored) && Strict(b, ignored) && json == platform::JsonString(b)))
            std::abort();
    }
    return 0;
}
