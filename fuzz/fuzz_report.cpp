// libFuzzer target: the report --save --report writes (index.html and report.csv) over rows
// whose every text comes from the input, and each of its escapers on those texts. Nothing may
// crash. The page must be well-formed UTF-8 holding no tag but those the page itself writes,
// each with its attributes quoted; the table must hold one record of eight fields per file.
// What each escaper writes must be safe where it goes and read back as the text it was given,
// but for what it must hide.
#include "cli/report.h"
#include "platform/base/escape.h"
#include "text_checks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace text_checks;

constexpr std::int64_t kLastTime = 253402300799; // 9999-12-31T23:59:59Z

// A reference's code point: the five the escaper writes, or a numeric one.
char32_t Reference(std::string_view name) {
    if (name == "amp")
        return '&';
    if (name == "lt")
        return '<';
    if (name == "gt")
        return '>';
    if (name == "quot")
        return '"';
    if (name == "apos")
        return '\'';
    const bool hex = name.starts_with("#x") || name.starts_with("#X");
    if (!name.starts_with('#') || name.size() < (hex ? 3u : 2u) || name.size() > 8)
        std::abort();
    char32_t c = 0;
    for (const char d : name.substr(hex ? 2 : 1)) {
        const int v = HexValue(d);
        if (v < 0 || (!hex && v > 9))
            std::abort();
        c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
    }
    return c;
}

// Content or a quoted attribute value: no < > " ' raw, & only to begin a reference, and read
// with its references resolved, nothing hidden and the text given.
void CheckHtmlText(std::string_view given, const std::string& html) {
    std::u32string text;
    for (std::size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<' || c == '>' || c == '"' || c == '\'')
            std::abort();
        if (c == '&') {
            const std::size_t end = html.find(';', i);
            if (end == std::string::npos)
                std::abort();
            text += Reference(std::string_view(html).substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        const Sequence q = SequenceAt(html, i);
        if (q.length == 0)
            std::abort();
        text += q.codePoint;
        i += q.length;
    }
    for (const char32_t c : text)
        if (Hidden(c))
            std::abort();
    if (!KeepsText(text, given, Hidden))
        std::abort();
}

// A relative URL of unreserved bytes and %XX that decodes to the name.
void CheckPercentEncoded(std::string_view given, const std::string& url) {
    std::string back;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            back += c;
        } else if (c == '%' && url.size() - i >= 3 && HexValue(url[i + 1]) >= 0 &&
                   HexValue(url[i + 2]) >= 0) {
            back += static_cast<char>(HexValue(url[i + 1]) * 16 + HexValue(url[i + 2]));
            i += 2;
        } else {
            std::abort();
        }
    }
    if (back != given)
        std::abort();
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    return true;
}

// Nothing, or an http(s) URL of printable ASCII without the characters URLs never hold raw.
void CheckLink(std::string_view given, const std::string& link) {
    if (link.empty())
        return;
    if (!(StartsWithNoCase(given, "http://") || StartsWithNoCase(given, "https://")) ||
        !(StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://")))
        std::abort();
    for (const char c : link)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F ||
            std::string_view("\"<>\\^`{|}'").find(c) != std::string_view::npos)
            std::abort();
}

// One field as RFC 4180 reads it back.
std::string Unquoted(const std::string& field) {
    if (field.empty() || field.front() != '"') {
        if (field.find_first_of(",\"\r\n") != std::string::npos)
            std::abort();
        return field;
    }
    if (field.size() < 2 || field.back() != '"')
        std::abort();
    std::string value;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        if (field[i] == '"' && (i + 2 >= field.size() || field[++i] != '"'))
            std::abort();
        value += field[i];
    }
    return value;
}

// Read back: well-formed UTF-8, never taken for a formula, the text given (after the
// apostrophe that keeps a formula a text).
void CheckCsvField(std::string_view given, const std::string& field) {
    const std::string value = Unquoted(field);
    std::u32string text;
    if (!Strict(value, text) ||
        (!value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string::npos))
        std::abort();
    // Hidden characters come back as U+FFFD, but for tab, CR and LF, which a quoted field
    // keeps.
    const auto hidden = [](char32_t c) { return Hidden(c) && c != '\t' && c != '\r' && c != '\n'; };
    if (!KeepsText(text, given, hidden) &&
        !(value.starts_with('\'') && KeepsText(text.substr(1), given, hidden)))
        std::abort();
}

// Calls `each` with the name of each of the page's tags, checking that its attribute values
// are quoted.
template <typename Each> void ForEachTag(std::string_view page, Each each) {
    for (std::size_t i = page.find('<'); i != std::string::npos; i = page.find('<', i + 1)) {
        const std::size_t end = page.find('>', i);
        if (end == std::string::npos)
            std::abort();
        const std::string_view tag = page.substr(i + 1, end - i - 1);
        if (std::count(tag.begin(), tag.end(), '"') % 2 != 0)
            std::abort();
        each(tag.substr(0, tag.find(' ')));
    }
}

// The tags a page of ordinary rows holds, down every branch the page takes.
const std::vector<std::string>& PageTags() {
    static const std::vector<std::string> tags = [] {
        std::vector<cli::SavedFile> files(2);
        files[0].savedName = "a.jpg";
        files[0].row.url = "https://a.example/a.jpg";
        files[0].row.fileName = "a.jpg";
        files[0].row.path = "/c/a";
        files[0].row.source = "Chrome Default";
        files[0].row.size = 1;
        files[0].row.cached = 0;
        files[0].row.lastUsed = 0;
        files[0].sha256 = "00";
        files[1].savedName = "b.mp4";
        files[1].row.url = "data:,";
        std::vector<std::string> names;
        ForEachTag(cli::ReportHtml(files), [&](std::string_view name) {
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.emplace_back(name);
        });
        return names;
    }();
    return tags;
}

// Well-formed UTF-8, no tag the page does not write itself, one entry per file.
void CheckPage(const std::string& page, std::size_t files) {
    for (std::size_t i = 0; i < page.size();) {
        const Sequence q = SequenceAt(page, i);
        if (q.length == 0)
            std::abort();
        i += q.length;
    }
    std::size_t entries = 0;
    ForEachTag(page, [&](std::string_view name) {
        if (std::find(PageTags().begin(), PageTags().end(), name) == PageTags().end())
            std::abort();
        entries += name == "li";
    });
    if (entries != files)
        std::abort();
}

// Records of eight fields, each ended by CR LF, one after the header per file.
void CheckTable(const std::string& csv, std::size_t files) {
    std::size_t records = 0;
    for (std::size_t i = 0; i < csv.size(); ++records) {
        for (std::size_t fields = 1;; ++fields) {
            if (i < csv.size() && csv[i] == '"') {
                for (++i;; ++i) {
                    if (i >= csv.size())
                        std::abort();
                    if (csv[i] == '"' && (i + 1 >= csv.size() || csv[i + 1] != '"'))
                        break;
                    if (csv[i] == '"')
                        ++i;
                }
                ++i;
            } else {
                i = std::min(csv.find_first_of(",\"\r\n", i), csv.size());
            }
            if (i < csv.size() && csv[i] == ',') {
                ++i;
                continue;
            }
            if (csv.compare(i, 2, "\r\n") != 0 || fields != 8)
                std::abort();
            i += 2;
            break;
        }
    }
    if (records != files + 1)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<cli::SavedFile> files(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (cli::SavedFile& f : files) {
        f.savedName = in.ConsumeRandomLengthString(256);
        f.row.url = in.ConsumeRandomLengthString(256);
        f.row.source = in.ConsumeRandomLengthString(64);
        // The content type follows from the file name's extension.
        f.row.fileName = in.ConsumeRandomLengthString(64);
        if (in.ConsumeBool())
            f.sha256 = in.ConsumeRandomLengthString(80);
        if (in.ConsumeBool())
            f.row.size = in.ConsumeIntegral<std::uint64_t>();
        // Every reader gives a row's times from 1970 to the year 9999 only, or none.
        if (in.ConsumeBool())
            f.row.cached = in.ConsumeIntegralInRange<std::int64_t>(0, kLastTime);
        if (in.ConsumeBool())
            f.row.lastUsed = in.ConsumeIntegralInRange<std::int64_t>(0, kLastTime);
    }
    for (const cli::SavedFile& f : files) {
        const auto& r = f.row;
        for (const std::string& text :
             {f.savedName, r.url, r.source, r.fileName, r.contentType(), f.sha256.value_or("")}) {
            CheckHtmlText(text, platform::HtmlText(text));
            CheckCsvField(text, platform::CsvField(text));
        }
        CheckPercentEncoded(f.savedName, platform::PercentEncodeName(f.savedName));
        const std::string link = platform::LinkableUrl(r.url);
        CheckLink(r.url, link);
        CheckHtmlText(link, platform::HtmlText(link));
    }
    CheckPage(cli::ReportHtml(files), files.size());
    CheckTable(cli::ReportCsv(files), files.size());
    return 0;
}
