// The escapers of every text that leaves the program, over the one rule for hidden characters.
#include "platform/base/escape.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

namespace {

TEST(Escape, TsvFieldsCannotBreakALine) {
    EXPECT_EQ(platform::TsvField("plain name.jpg"), "plain name.jpg");
    EXPECT_EQ(platform::TsvField("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(platform::TsvField("\xff\xfe"), "\xff\xfe"); // the real bytes, for scripts
    // No other control character reaches a terminal: C0, DEL, and C1 in UTF-8 or alone.
    const std::pair<std::string, std::string> escaped[] = {
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b]0;title\x07\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b"
         "31m",
         "csi\\xc2\\x9b31m"},
        {"lone\x9b", "lone\\x9b"},
        {"\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
        {"\\x1b", "\\\\x1b"}, // a backslash written by the URL stays told apart
    };
    for (const auto& [raw, shown] : escaped)
        EXPECT_EQ(platform::TsvField(raw), shown) << shown;
    // Every byte, at every place in a longer plain text, is escaped as it is alone.
    const std::string plain = "https://example.com/a/long/path/";
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        for (std::size_t at = 0; at <= plain.size(); ++at)
            EXPECT_EQ(platform::TsvField(plain.substr(0, at) + one + plain.substr(at)),
                      plain.substr(0, at) + platform::TsvField(one) + plain.substr(at))
                << b << " at " << at;
    }
}

TEST(Escape, JsonStringsAreValidUtf8) {
    EXPECT_EQ(platform::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(platform::JsonString(std::string("x\x01y\n", 4)), "\"x\\u0001y\\n\"");
    EXPECT_EQ(platform::JsonString("\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x9d\xb1"),
              "\"\xc5\x81\xc3\xb3\x64\xc5\xba \xe6\x9d\xb1\"");
    // Bytes that are not UTF-8: one replacement mark each, never raw.
    EXPECT_EQ(platform::JsonString("a\xff"
                                   "b"),
              "\"a\xEF\xBF\xBD"
              "b\"");
    EXPECT_EQ(platform::JsonString("\xe6\x9d"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""); // cut short
    EXPECT_EQ(platform::JsonString("\xed\xa0\x80"),
              "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");                       // surrogate
    EXPECT_EQ(platform::JsonString("\xc0\xaf"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""); // overlong
}

// One rule hides the same characters wherever text leaves the program: escaped byte by byte
// in --list and on standard error, as \u escapes in JSON, as U+FFFD in the report.
TEST(Escape, OneRuleHidesTheSameCharactersInEveryOutput) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string raw, tsv, json, replaced;
    };
    const Case cases[] = {
        {"\x1b]2;PWNED\x07\x1b[2J", "\\x1b]2;PWNED\\x07\\x1b[2J",
         "\\u001b]2;PWNED\\u0007\\u001b[2J", fffd + "]2;PWNED" + fffd + fffd + "[2J"},
        {"evil\xE2\x80\xAEgpj.png", "evil\\xe2\\x80\\xaegpj.png", "evil\\u202egpj.png",
         "evil" + fffd + "gpj.png"},
        {"\xE2\x81\xA6x\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9",
         "\\xe2\\x81\\xa6x\\xe2\\x81\\xa7\\xe2\\x81\\xa8\\xe2\\x81\\xa9",
         "\\u2066x\\u2067\\u2068\\u2069", fffd + "x" + fffd + fffd + fffd},
        {"zero\xE2\x80\x8Bwidth\xEF\xBB\xBF", "zero\\xe2\\x80\\x8bwidth\\xef\\xbb\\xbf",
         "zero\\u200bwidth\\ufeff", "zero" + fffd + "width" + fffd},
        {"line\xE2\x80\xA8"
         "break",
         "line\\xe2\\x80\\xa8break", "line\\u2028break", "line" + fffd + "break"},
        {"tag\xF3\xA0\x81\x81", "tag\\xf3\\xa0\\x81\\x81", "tag\\udb40\\udc41", "tag" + fffd},
        {"del\x7f csi\xC2\x9B", "del\\x7f csi\\xc2\\x9b", "del\\u007f csi\\u009b",
         "del" + fffd + " csi" + fffd},
        // Not UTF-8: the bytes as they are for scripts (but a lone C1 byte), U+FFFD elsewhere.
        {"\xff lone\x9b", "\xff lone\\x9b", fffd + " lone" + fffd, fffd + " lone" + fffd},
        {"\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
         "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tsv);
        EXPECT_EQ(platform::TsvField(c.raw), c.tsv);
        EXPECT_EQ(platform::JsonString(c.raw), "\"" + c.json + "\"");
        EXPECT_EQ(platform::HtmlText(c.raw), c.replaced);
        EXPECT_EQ(platform::CsvField(c.raw), c.replaced);
    }
}

// The writer's layout is what --list --json prints and scripts read.
TEST(Escape, JsonWriterLaysOutWhatItIsGiven) {
    const auto write = [](const auto& steps) {
        std::string out;
        platform::JsonWriter json(out);
        steps(json);
        return out;
    };
    EXPECT_EQ(write([](auto& j) { j.beginArray(true).endArray(); }), "[]");
    EXPECT_EQ(write([](auto& j) { j.beginArray().endArray(); }), "[]");
    EXPECT_EQ(write([](auto& j) {
                  j.beginArray(true);
                  j.beginObject().key("a").number(std::uint64_t{18446744073709551615u});
                  j.key("b\n").null().key("c").string("x\"\xE2\x80\xAE").endObject();
                  j.beginObject().key("d").number(std::int64_t{-1});
                  j.key("e").beginArray().number(std::uint64_t{1}).string("").endArray();
                  j.key("f").beginObject().endObject().endObject();
                  j.endArray();
              }),
              "[\n  {\"a\": 18446744073709551615, \"b\\n\": null, \"c\": \"x\\\"\\u202e\"},"
              "\n  {\"d\": -1, \"e\": [1, \"\"], \"f\": {}}\n]");
}

} // namespace
