#include "platform/base/collation.h"
#include "platform/base/endian.h"
#include "platform/base/paths.h"
#include "platform/base/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <vector>

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

TEST(LittleEndianReader, ReadsSignedAndFloatingSixtyFourBitValues) {
    // 1796798563.5163438 (a WebKit cache time stamp) and -1 (an unknown content length).
    const std::array<std::uint8_t, 16> bytes{0xc7, 0x0b, 0xe1, 0x18, 0x3e, 0xc6, 0xda, 0x41,
                                             0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const LittleEndianReader r(bytes);
    EXPECT_EQ(r.f64(0), 1796798563.5163438);
    EXPECT_EQ(r.i64(8), -1);
    EXPECT_EQ(r.f64(9), 0.0); // past the end
    EXPECT_EQ(r.i64(9), 0);
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

TEST(Utf8, ConvertsLatin1AndUtf16LittleEndian) {
    const auto bytes = [](std::initializer_list<std::uint8_t> b) {
        return std::vector<std::uint8_t>(b);
    };
    EXPECT_EQ(Latin1ToUtf8(bytes({'a', 0xE9, 0x80, 0xFF})), "a\u00E9\u0080\u00FF");
    struct Case {
        std::vector<std::uint8_t> in;
        std::string out;
    };
    const Case cases[] = {
        {bytes({'h', 0, 0xE9, 0, 0xAC, 0x20}), "h\u00E9\u20AC"},
        {bytes({0x3D, 0xD8, 0x00, 0xDE}), "\U0001F600"},   // a surrogate pair
        {bytes({0x3D, 0xD8, 'x', 0}), "\uFFFDx"},          // high surrogate alone
        {bytes({0x00, 0xDE, 0x3D, 0xD8}), "\uFFFD\uFFFD"}, // pair in the wrong order
        {bytes({'a', 0, 'b'}), "a\uFFFD"},                 // an odd last byte
        {bytes({}), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf16LeToUtf8(c.in), c.out);
}

TEST(Paths, JoinPutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(JoinPath("/home/ann", "Desktop"), "/home/ann/Desktop");
    EXPECT_EQ(JoinPath("/home/ann/", "Desktop"), "/home/ann/Desktop");
    EXPECT_EQ(JoinPath("/", "tmp"), "/tmp");
    EXPECT_EQ(JoinPath("", "x"), "/x");
}

// Sort keys: the bytes of two weight sequences compare as the sequences do, whatever the
// values' lengths as written, and a name in ASCII keeps one byte a character.
TEST(CollationKeys, BytesCompareAsTheWeightsDo) {
    std::vector<std::uint32_t> edges = {0xFFFFFFFF}; // every power of two and the one below
    for (int bit = 0; bit < 32; ++bit)
        edges.insert(edges.end(), {(1u << bit) - 1, 1u << bit});
    std::vector<std::vector<wchar_t>> sequences = {{}};
    for (const std::uint32_t a : edges) {
        sequences.push_back({static_cast<wchar_t>(a)});
        for (const std::uint32_t b : {0u, 0x80u, 0xFFFFFFFFu})
            sequences.push_back({static_cast<wchar_t>(a), static_cast<wchar_t>(b)});
    }
    const auto key = [](const std::vector<wchar_t>& s) { return WeightBytes(s.data(), s.size()); };
    const auto weights = [](const std::vector<wchar_t>& s) {
        std::vector<std::uint32_t> w(s.size());
        std::transform(s.begin(), s.end(), w.begin(),
                       [](wchar_t c) { return static_cast<std::uint32_t>(c); });
        return w;
    };
    for (const auto& a : sequences)
        for (const auto& b : sequences)
            EXPECT_EQ(key(a) < key(b), weights(a) < weights(b))
                << std::hex << (a.empty() ? 0 : weights(a)[0]) << " vs "
                << (b.empty() ? 0 : weights(b)[0]);
    EXPECT_EQ(key({'a', 'b', '.', 'p', 'n', 'g'}), "ab.png");
    EXPECT_EQ(key({0xE9}), "\xC3\xA9"); // é, as UTF-8 writes it
}
