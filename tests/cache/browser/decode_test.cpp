// The content decoders behind OpenDecodedBody: every coding, chains, and bodies that are
// damaged, truncated, oversized or of an unknown coding.
#include "cache/browser/browser.h"
#include "cache/browser/decode.h"
#include "cache/browser/source.h"
#include "cache_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace browser_test;

// Reads the whole stream with reads of `chunk` bytes; the error text when it fails.
std::string Drain(browser::BodyStream& s, std::size_t chunk, std::string* error = nullptr) {
    std::string out;
    std::vector<char> buffer(chunk);
    for (;;) {
        const auto got = s.read(buffer.data(), buffer.size());
        if (got < 0) {
            if (error)
                *error = s.error();
            return "<failed>";
        }
        if (got == 0)
            return out;
        out.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

std::string Decode(const std::string& stored, const std::vector<std::string>& codings,
                   std::string* error = nullptr, std::uint64_t cap = browser::kMaxDecodedBody,
                   std::size_t chunk = 1000) {
    auto s = browser::detail::DecodeStream(browser::detail::MemoryStream(stored), codings, cap);
    return Drain(*s, chunk, error);
}

// Varied enough not to compress to nothing, long enough to span several buffers.
std::string Sample(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>((x >> 16) % 7 + 'a');
    }
    return s;
}

TEST(BodyDecoders, EveryCodingAndChainRoundTrips) {
    const std::string body = Sample(300000);
    EXPECT_EQ(Decode(Gzip(body), {"gzip"}), body);
    EXPECT_EQ(Decode(Gzip(body), {"x-gzip"}), body);
    EXPECT_EQ(Decode(Zlib(body), {"deflate"}), body);
    EXPECT_EQ(Decode(RawDeflate(body), {"deflate"}), body);
    EXPECT_EQ(Decode(Brotli(body), {"br"}), body);
    EXPECT_EQ(Decode(Zstd(body), {"zstd"}), body);
    EXPECT_EQ(Decode(body, {}), body);
    // Applied left to right, undone right to left.
    EXPECT_EQ(Decode(Zstd(Brotli(Gzip(body))), {"gzip", "br", "zstd"}), body);
    // Several gzip members and several zstd frames make one body.
    EXPECT_EQ(Decode(Gzip("abc") + Gzip("def"), {"gzip"}), "abcdef");
    EXPECT_EQ(Decode(Zstd("abc") + Zstd("def"), {"zstd"}), "abcdef");
    // Inflate states are kept for the next body: one left in the middle of a body, or two in
    // use at once, leave nothing behind for the next, whichever zlib format it is.
    {
        auto left = browser::detail::DecodeStream(browser::detail::MemoryStream(Gzip(body)),
                                                  {"gzip"}, browser::kMaxDecodedBody);
        char some[100];
        EXPECT_EQ(left->read(some, sizeof some), 100);
    }
    EXPECT_EQ(Decode(Gzip(Gzip(body)), {"gzip", "gzip"}), body);
    EXPECT_EQ(Decode(RawDeflate(body), {"deflate"}), body);
    EXPECT_EQ(Decode(Zlib(body), {"deflate"}), body);
    // Reads of one byte at a time give the same bytes.
    EXPECT_EQ(Decode(Brotli(body.substr(0, 5000)), {"br"}, nullptr, browser::kMaxDecodedBody, 1),
              body.substr(0, 5000));
}

// Gives the bytes below a decoder at most `step` at a time, as a slow or fragmented file
// would, so that every boundary inside headers, members and frames gets hit.
class Trickle final : public browser::BodyStream {
  public:
    Trickle(std::string bytes, std::size_t step) : bytes_(std::move(bytes)), step_(step) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, step_, bytes_.size() - pos_});
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    const std::string& error() const override { return error_; }

  private:
    std::string bytes_, error_;
    std::size_t step_, pos_ = 0;
};

// Bytes that do not compress, so that a gzip member of a chosen compressed size can be made.
std::string Noise(std::size_t n) {
    std::string s(n, '\0');
    std::uint64_t x = 88172645463325252ull;
    for (char& c : s) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        c = static_cast<char>(x);
    }
    return s;
}

TEST(BodyDecoders, EveryMemberAndFrameDecodesWhateverTheInputBoundaries) {
    // A first gzip member of exactly 65,535 compressed bytes ends one byte short of the
    // decoder's input buffer, the second member's magic straddling the refill.
    std::string first = Noise(65000);
    while (Gzip(first).size() != 65535)
        first = Noise(first.size() + 65535 - Gzip(first).size());
    const std::string second = Sample(13000);
    const std::string body = Sample(20000);
    const struct {
        const char* name;
        std::string stored;
        std::vector<std::string> codings;
        std::string whole;
    } cases[] = {
        {"gzip, two members", Gzip(first) + Gzip(second), {"gzip"}, first + second},
        {"gzip, three small members", Gzip("abc") + Gzip("") + Gzip("def"), {"gzip"}, "abcdef"},
        {"zlib deflate", Zlib(body), {"deflate"}, body},
        {"raw deflate", RawDeflate(body), {"deflate"}, body},
        {"br", Brotli(body), {"br"}, body},
        {"zstd, three frames",
         Zstd(body) + Zstd("x") + Zstd(second),
         {"zstd"},
         body + "x" + second},
    };
    for (const auto& c : cases)
        for (std::size_t step :
             {std::size_t{1}, std::size_t{2}, std::size_t{4099}, c.stored.size()}) {
            auto s = browser::detail::DecodeStream(std::make_unique<Trickle>(c.stored, step),
                                                   c.codings, browser::kMaxDecodedBody);
            const std::string out = Drain(*s, 7919);
            EXPECT_EQ(out.size(), c.whole.size()) << c.name << ", input in pieces of " << step;
            EXPECT_TRUE(out == c.whole) << c.name << ", input in pieces of " << step;
        }
}

TEST(BodyDecoders, DamagedTruncatedAndUnknownBodiesFailWithAReason) {
    const std::string body = Sample(100000);
    for (const auto& [stored, coding] :
         std::vector<std::pair<std::string, std::string>>{{Gzip(body).substr(0, 2000), "gzip"},
                                                          {Zlib(body).substr(0, 2000), "deflate"},
                                                          {Brotli(body).substr(0, 2000), "br"},
                                                          {Zstd(body).substr(0, 2000), "zstd"},
                                                          {"plain text, not compressed", "gzip"},
                                                          {"plain text, not compressed", "zstd"},
                                                          {std::string(64, '\xFF'), "br"},
                                                          {"", "gzip"},
                                                          {"", "br"}}) {
        std::string error;
        EXPECT_EQ(Decode(stored, {coding}, &error), "<failed>") << coding << " " << stored.size();
        EXPECT_EQ(error, "the body does not decode") << coding;
    }
    std::string error;
    EXPECT_EQ(Decode("xxxx", {"dcb"}, &error), "<failed>");
    EXPECT_NE(error.find("dcb"), std::string::npos);
}

TEST(BodyDecoders, OutputPastTheCapOrAHugeWindowIsRefused) {
    const std::string zeros(1 << 20, '\0');
    for (const auto& [stored, coding] : std::vector<std::pair<std::string, std::string>>{
             {Gzip(zeros), "gzip"}, {Brotli(zeros), "br"}, {Zstd(zeros), "zstd"}}) {
        std::string error;
        EXPECT_EQ(Decode(stored, {coding}, &error, 1000), "<failed>") << coding;
        EXPECT_EQ(error, "the body decodes to more than 1000 bytes") << coding;
        EXPECT_EQ(Decode(stored, {coding}, &error, zeros.size()), zeros) << coding;
    }
    // An inner stage is held to the cap too, however small the outer result.
    std::string error;
    EXPECT_EQ(Decode(Gzip(Gzip(zeros)), {"gzip", "gzip"}, &error, 4096), "<failed>");

    // A zstd frame asking for a 128 MiB window (one raw block holding "A"), and the same
    // frame with a 1 MiB window.
    const std::string big("\x28\xB5\x2F\xFD\x00\x88\x09\x00\x00"
                          "A",
                          10);
    std::string small = big;
    small[5] = '\x50';
    EXPECT_EQ(Decode(big, {"zstd"}, &error), "<failed>");
    EXPECT_EQ(Decode(small, {"zstd"}), "A");
}

TEST(BodyDecoders, StoredBodiesAreReadFromTheirSegmentsOnly) {
    TempDir dir;
    const auto file = dir.path() / "entry";
    WriteFile(file, "headerPARTONE..PARTTWOtrailer");
    browser::detail::ReadOnlyFile opened;
    ASSERT_TRUE(opened.open(file.string()));
    const browser::FileIdentity id = opened.identity();
    browser::BodyLocation body;
    body.segments = {{file.string(), 6, 7, id}, {file.string(), 15, 7, id}};
    body.decodedSize = 14;
    auto s = browser::OpenDecodedBody(body);
    EXPECT_EQ(Drain(*s, 3), "PARTONEPARTTWO");

    // A segment reaching past the end of its file, and a file that is not there.
    body.segments = {{file.string(), 20, 50, id}};
    body.decodedSize = 50;
    std::string error;
    s = browser::OpenDecodedBody(body);
    EXPECT_EQ(Drain(*s, 100, &error), "<failed>");
    EXPECT_EQ(error, "the cache entry changed since it was listed");
    body.segments = {{(dir.path() / "gone").string(), 0, 5, id}};
    s = browser::OpenDecodedBody(body);
    EXPECT_EQ(Drain(*s, 100, &error), "<failed>");
}

} // namespace
