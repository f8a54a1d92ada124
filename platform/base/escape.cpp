#include "platform/base/escape.h"

#include "platform/base/ascii.h"
#include "platform/base/utf8.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace platform {
namespace {

void AppendPercent(std::string& out, unsigned char c) {
    out += '%';
    AppendHexByte(out, c, HexCase::Upper);
}

// A code point as a JSON \u escape: one unit, or a surrogate pair past U+FFFF.
void AppendJsonEscape(std::string& out, char32_t c) {
    const auto unit = [&](unsigned u) { out += "\\u" + LowerHex(u & 0xFFFFu, 4); };
    if (c < 0x10000) {
        unit(static_cast<unsigned>(c));
    } else {
        const auto v = static_cast<unsigned>(c) - 0x10000;
        unit(0xD800 + (v >> 10));
        unit(0xDC00 + (v & 0x3FF));
    }
}

// The escapes TSV and JSON share: a backslash, tab, newline and carriage return as \\, \t,
// \n and \r. False for any other character, which is left to the caller.
bool AppendBackslashEscape(std::string& out, char c) {
    switch (c) {
    case '\\':
        out += "\\\\";
        return true;
    case '\t':
        out += "\\t";
        return true;
    case '\n':
        out += "\\n";
        return true;
    case '\r':
        out += "\\r";
        return true;
    default:
        return false;
    }
}

} // namespace

std::string VisibleText(std::string_view text, std::u32string_view kept) {
    std::string out;
    out.reserve(text.size());
    std::size_t run = 0; // the start of the characters kept as they are, copied at once
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Decoded d = DecodeUtf8(text, i);
        const char32_t c = d.codePoint;
        if ((c == kReplacementCharacter && d.length == 1) ||
            (IsHiddenCharacter(c) && kept.find(c) == std::u32string_view::npos)) {
            out.append(text, run, i - run);
            AppendUtf8(out, kReplacementCharacter);
            run = i + d.length;
        }
        i += d.length;
    }
    out.append(text, run, text.size() - run);
    return out;
}

std::string TsvField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendTsvField(out, text);
    return out;
}

namespace {

// Where the run of plain bytes (printable ASCII but the backslash) that starts at `from` ends,
// or a little before: eight bytes at a time, a listing's URLs and paths being plain nearly
// throughout.
std::size_t PlainWords(std::string_view text, std::size_t from) {
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    // Nonzero when some byte of `v` is below n (n at most 0x80).
    const auto below = [](std::uint64_t v, std::uint64_t n) {
        return (v - kOnes * n) & ~v & kHighs;
    };
    std::size_t at = from;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, text.data() + at, 8);
        if (below(w, 0x20) | (w & kHighs) | below(w ^ (kOnes * 0x7F), 1) |
            below(w ^ (kOnes * '\\'), 1))
            break; // a control byte, DEL, a byte above ASCII or a backslash in these eight
    }
    return at;
}

} // namespace

void AppendTsvField(std::string& out, std::string_view text) {
    // Raw, an escape sequence from a URL would reach the terminal, and a bidirectional
    // override would make the line read otherwise than it is.
    const auto hex = [&](unsigned char byte) {
        out += "\\x";
        AppendHexByte(out, byte, HexCase::Lower);
    };
    // Printable ASCII but the backslash: nearly all of a URL, which goes as it is.
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int c = 0x20; c < 0x7F; ++c)
            plain[static_cast<std::size_t>(c)] = c != '\\';
        return plain;
    }();
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t end = PlainWords(text, i);
        while (end < text.size() && kPlain[static_cast<unsigned char>(text[end])])
            ++end;
        if (end > i) {
            out.append(text, i, end - i);
            i = end - 1;
            continue;
        }
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            const Utf8Decoded d = DecodeUtf8(text, i);
            const bool valid = d.length > 1;
            if (valid ? IsHiddenCharacter(d.codePoint) : byte <= 0x9F) {
                for (std::size_t k = 0; k < d.length; ++k)
                    hex(static_cast<unsigned char>(text[i + k]));
            } else {
                out.append(text, i, d.length);
            }
            i += d.length - 1;
            continue;
        }
        if (AppendBackslashEscape(out, c))
            continue;
        if (IsHiddenCharacter(byte))
            hex(byte);
        else
            out += c;
    }
}

std::string JsonString(std::string_view text) {
    // Bytes that are not UTF-8 (a path on a disk that predates UTF-8) become U+FFFD: JSON text
    // must be UTF-8. The hidden characters are kept whole as \u escapes while nothing raw
    // reaches a terminal the JSON is shown on.
    std::string out = "\"";
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"') {
                out += "\\\"";
            } else if (!AppendBackslashEscape(out, static_cast<char>(c))) {
                if (IsHiddenCharacter(c))
                    AppendJsonEscape(out, c);
                else
                    out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A well-formed multi-byte sequence is copied; anything else is one U+FFFD per byte.
        const Utf8Decoded d = DecodeUtf8(text, i);
        if (d.codePoint == kReplacementCharacter && d.length == 1)
            out += "\xEF\xBF\xBD";
        else if (IsHiddenCharacter(d.codePoint))
            AppendJsonEscape(out, d.codePoint);
        else
            out.append(text, i, d.length);
        i += d.length;
    }
    out += '"';
    return out;
}

std::string HtmlText(std::string_view text) {
    // Controls have no business in a name or a URL, and a bidirectional control can make
    // "gpj.exe" read as "exe.jpg": what the one rule hides shows as U+FFFD.
    const std::string visible = VisibleText(text);
    std::string out;
    out.reserve(visible.size());
    for (const char c : visible) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    // Tab, CR and LF are carried by the quoting.
    std::string value = VisibleText(text, U"\t\r\n");
    if (!value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string::npos)
        value.insert(value.begin(), '\'');
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string PercentEncodeName(std::string_view name) {
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain)
            out += ch;
        else
            AppendPercent(out, c);
    }
    return out;
}

std::string LinkableUrl(std::string_view url) {
    std::string scheme;
    const auto colon = url.find(':');
    if (colon == std::string_view::npos)
        return {};
    for (const char c : url.substr(0, colon))
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((scheme != "http" && scheme != "https") || url.substr(colon, 3) != "://")
        return {};
    std::string out;
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F ||
            std::string_view("\"<>\\^`{|}'").find(ch) != std::string_view::npos)
            AppendPercent(out, c);
        else
            out += ch;
    }
    return out;
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty())
        return;
    Level& level = levels_.back();
    if (level.onePerLine)
        out_ += level.empty ? "\n  " : ",\n  ";
    else if (!level.empty)
        out_ += ", ";
    level.empty = false;
}

JsonWriter& JsonWriter::beginObject() {
    beforeValue();
    out_ += '{';
    levels_.push_back({false, false});
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    levels_.pop_back();
    out_ += '}';
    return *this;
}

JsonWriter& JsonWriter::beginArray(bool onePerLine) {
    beforeValue();
    out_ += '[';
    levels_.push_back({true, onePerLine});
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.onePerLine && !level.empty)
        out_ += '\n';
    out_ += ']';
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ += JsonString(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
    beforeValue();
    out_ += JsonString(text);
    return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

JsonWriter& JsonWriter::number(std::int64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

JsonWriter& JsonWriter::null() {
    beforeValue();
    out_ += "null";
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    beforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

} // namespace platform
