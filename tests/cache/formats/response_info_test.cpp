// The response info every Chromium back-end stores, read field by field, never past the
// pickle's own length.
#include "cache/formats/http.h"
#include "cache_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace std::string_literals;

TEST(ResponseInfo, FieldsAreReadInsideThePickleOnly) {
    constexpr std::int64_t kStored = 13350000001000000; // the builder's response time
    struct Case {
        const char* what;
        std::string bytes;
        int status; // 0: no head
        bool truncated;
        std::int64_t responseTime;
    };
    const Case cases[] = {
        {"a whole pickle, marked truncated",
         browser_test::BuildResponseInfo("HTTP/1.1 200 OK", {"Content-Type: image/png"}, true), 200,
         true, kStored},
        {"a pickle without extra flags",
         browser_test::BuildResponseInfo("HTTP/1.1 200 OK", {}, false, true), 200, false, kStored},
        // A payload of two bytes: the flags do not fit in it, so the truncated bit in the bytes
        // after it is not the flags'; the status line is found by searching.
        {"a payload shorter than its flags", "\x02\0\0\0\0\x10\0\0HTTP/1.1 404 Not Found\0\0"s, 404,
         false, 0},
        {"no status line anywhere", "\x04\0\0\0\0\0\0\0garbage"s, 0, false, 0},
    };
    for (const Case& c : cases) {
        const formats::ResponseInfo info = formats::ParseResponseInfo(c.bytes);
        EXPECT_EQ(info.head ? info.head->status : 0, c.status) << c.what;
        EXPECT_EQ(info.truncated, c.truncated) << c.what;
        EXPECT_EQ(info.responseTime, c.responseTime) << c.what;
    }
}

TEST(ResponseHead, HeadersAreFoundByNameWhateverTheirCaseSpacingOrSeparator) {
    for (const char separator : {'\n', '\0'}) {
        std::string text = "HTTP/1.1 206 Partial Content|Content-Type:  image/png \r|X:1|"
                           "content-type: text/html|: nameless|no colon|Empty:||";
        std::replace(text.begin(), text.end(), '|', separator);
        auto head = formats::ParseResponseHead(text, separator);
        ASSERT_TRUE(head) << int{separator};
        EXPECT_EQ(head->status, 206);
        EXPECT_EQ(head->count(), 4u); // the nameless line and the one without a colon left out
        EXPECT_EQ(head->get("CONTENT-TYPE").value_or("?"), "image/png"); // the first, trimmed
        EXPECT_EQ(head->get("x").value_or("?"), "1");
        EXPECT_EQ(head->get("Empty").value_or("?"), "");
        EXPECT_FALSE(head->get("Content"));
        // Added after parsing, it is found too, and the parsed ones still are.
        head->add("Content-Length", "42");
        EXPECT_EQ(head->get("content-length").value_or("?"), "42");
        EXPECT_EQ(head->get("x").value_or("?"), "1");
        const formats::ResponseHead copy = *head; // (copies keep their own text)
        head.reset();
        EXPECT_EQ(copy.get("Content-Type").value_or("?"), "image/png");
    }
    EXPECT_FALSE(formats::ParseResponseHead("HTTP/1.1 OK\n", '\n'));
    EXPECT_FALSE(formats::ParseResponseHead("Content-Type: image/png\n", '\n'));
}

} // namespace
