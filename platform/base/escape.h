// Every text that leaves the program in a form of its own: a terminal line, a TSV field,
// JSON, the report's HTML and CSV, a link, and the window's list. Whatever a cache holds is
// hostile; each form shows the characters of the one rule (platform::IsHiddenCharacter:
// controls, bidirectional and other format characters, line separators) in its own escaped
// form or replaces them, so that none reaches a reader raw.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The text as well-formed UTF-8 for a person to read: each byte that is not part of a
// sequence, and each hidden character but those in `kept`, as U+FFFD.
std::string VisibleText(std::string_view text, std::u32string_view kept = {});

// One field of a tab-separated line, and every text written to standard error: tab, CR, LF
// and backslash as \t \r \n \\; each hidden character as \xHH, one per byte (a C1 control
// also as a lone byte of another encoding); other bytes that are not UTF-8 as they are, for
// scripts.
std::string TsvField(std::string_view text);
// The same, appended to `out`.
void AppendTsvField(std::string& out, std::string_view text);

// A JSON string, quotes included: always UTF-8 (a byte that is not becomes U+FFFD), the
// hidden characters as \u escapes (surrogate pairs past U+FFFF).
std::string JsonString(std::string_view text);

// Text for HTML content and quoted attribute values: & < > " ' as references; bytes that
// are not UTF-8 and the hidden characters as U+FFFD.
std::string HtmlText(std::string_view text);

// One CSV field (RFC 4180): quoted when it holds , " CR or LF (quotes doubled); text a
// spreadsheet would take for a formula (= + - @, tab or CR first) gets a leading apostrophe;
// bytes that are not UTF-8 and hidden characters other than tab, CR and LF as U+FFFD.
std::string CsvField(std::string_view text);

// A file name as a relative URL: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncodeName(std::string_view name);

// A URL fit to link to: http and https only, bytes outside printable ASCII and the
// characters URLs never hold raw percent-encoded. Empty for any other URL.
std::string LinkableUrl(std::string_view url);

// Writes JSON into a text: objects, arrays, strings (through JsonString), numbers and null,
// with the commas and the layout in between. Members of an object follow each other on one
// line ("{\"a\": 1, \"b\": null}"); an array's elements do too, unless it is begun with
// `onePerLine`: then each goes on a line of its own, indented by two spaces.
class JsonWriter {
  public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray(bool onePerLine = false);
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name); // the next value is this member's
    JsonWriter& string(std::string_view text);
    JsonWriter& number(std::uint64_t n);
    JsonWriter& number(std::int64_t n);
    JsonWriter& null();
    JsonWriter& boolean(bool value);

  private:
    struct Level {
        bool array;
        bool onePerLine;
        bool empty = true;
    };
    void beforeValue();

    std::string& out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

} // namespace platform
