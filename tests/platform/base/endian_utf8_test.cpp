#include "platform/base/endian.h"
#include "platform/base/paths.h"
#include "platform/base/utf8.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

using namespace platform;

TEST(LittleEndianReader, ReadsInsideTheBytesAndZeroOutside) {
    const std::array<std::uint8_t, 10> bytes{0x01, 0x02, 0x03, 0x04, 0x05,
                                             0x06, 0x07, 0x08, 0xFF, 0x80};
    const LittleEndianReader r(bytes);
    EXPECT_EQ(r.u16(0), 0x0201);
    EXPECT_EQ(r.u32(1), 0x05040302u);
    EXPECT_EQ(r.u64(0), 0x0807060504030201ull);
    EXPECT_EQ(r.i16(8), static_cast<std::int16_t>(0x80FF));
    EXPECT_EQ(r.u8(9), 0x80);
    // A field that runs past the end, or starts far past it, reads as 0.
    EXPECT_EQ(r.u32(7), 0u);
    EXPECT_EQ(r.u64(3), 0u);
    EXPECT_EQ(r.u8(10), 0);
    EXPECT_EQ(r.u32(~std::uint64_t{0} - 1), 0u);
    // has() never overflows on hostile offsets and lengths.
    EXPECT_TRUE(r.has(10, 0));
    EXPECT_FALSE(r.has(11, 0));
    EXPECT_FALSE(r.has(2, ~std::uint64_t{0}));
    EXPECT_FALSE(r.has(~std::uint64_t{0}, 2));
    EXPECT_TRUE(r.slice(4, 7).empty());
    EXPECT_EQ(r.slice(4, 6).size(), 6u);
    EXPECT_EQ(r.text(0, 2), std::string("\x01\x02"));
}

TEST(Utf8, EncodesAndDecodesEveryLengthAndReplacesWhatIsNotUtf8) {
    for (const char32_t cp : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', U'\u07FF', U'\uFFFF'}) {
        std::string text;
        AppendUtf8(text, cp);
        EXPECT_EQ(text.size(), Utf8SequenceLength(static_cast<unsigned char>(text[0])));
        EXPECT_EQ(DecodeUtf8(text), std::u32string(1, cp));
    }
    std::string bad;
    AppendUtf8(bad, 0xD800);
    AppendUtf8(bad, 0x110000);
    EXPECT_EQ(bad, "\xEF\xBF\xBD\xEF\xBF\xBD");

    // Each malformed byte is one U+FFFD and decoding goes on after it.
    EXPECT_EQ(DecodeUtf8("a\xC3"), U"a\uFFFD");                             // cut off
    EXPECT_EQ(DecodeUtf8("\xC3(b"), U"\uFFFD(b");                           // bad continuation
    EXPECT_EQ(DecodeUtf8("\xC0\xAF"), U"\uFFFD\uFFFD");                     // overlong "/"
    EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");           // a surrogate
    EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), U"\uFFFD\uFFFD\uFFFD\uFFFD"); // past U+10FFFF
    EXPECT_EQ(DecodeUtf8("\x80z"), U"\uFFFDz");
}

TEST(Paths, JoinPutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/home/ann", "Desktop"), "/home/ann/Desktop");
    EXPECT_EQ(JoinPath("/home/ann/", "Desktop"), "/home/ann/Desktop");
    EXPECT_EQ(JoinPath("/", "tmp"), "/tmp");
    EXPECT_EQ(JoinPath("", "x"), "/x");
}
