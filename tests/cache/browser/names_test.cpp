// What a body is taken to be, and the file name it is saved under.
#include "cache/browser/media.h"
#include "cache_builder.h"

#include <gtest/gtest.h>

namespace {

using browser::detail::MakeFileName;
using browser::detail::Sniff;

TEST(BrowserFileNames, TheLastPathSegmentGetsTheRealTypesExtension) {
    EXPECT_EQ(MakeFileName("http://h/a/mislabeled.png", "jpg", "F"), "mislabeled.jpg");
    EXPECT_EQ(MakeFileName("http://h/avatar/8812", "png", "F"), "8812.png");
    EXPECT_EQ(MakeFileName("http://h/photo.jpeg", "jpg", "F"), "photo.jpg");
    EXPECT_EQ(MakeFileName("http://h/img?id=7&size=small", "png", "F"), "img.png");
    EXPECT_EQ(MakeFileName("https://h/x/My%20Photo.JPG#frag", "jpg", "F"), "My Photo.jpg");
    EXPECT_EQ(MakeFileName("http://h/thumb.php?id=3", "gif", "F"), "thumb.gif");
    EXPECT_EQ(MakeFileName("http://h/v1.2", "png", "F"), "v1.2.png"); // not an extension
    EXPECT_EQ(MakeFileName("http://h/%E2%82%AC.png", "png", "F"), "\xE2\x82\xAC.png");
}

TEST(BrowserFileNames, NamesAreSafeWhateverTheUrlHolds) {
    // Nothing left of the name: the fallback (the entry's hash).
    EXPECT_EQ(MakeFileName("http://h/", "png", "0A1B"), "0A1B.png");
    EXPECT_EQ(MakeFileName("http://h", "png", "0A1B"), "0A1B.png");
    EXPECT_EQ(MakeFileName("http://h/..", "png", "0A1B"), "0A1B.png");
    EXPECT_EQ(MakeFileName("http://h/%2E%2E", "png", "0A1B"), "0A1B.png");
    EXPECT_EQ(MakeFileName("http://h/.png", "png", "0A1B"), "0A1B.png");
    // Encoded separators, NULs, control bytes and broken UTF-8 never reach the name.
    EXPECT_EQ(MakeFileName("http://h/a%2Fb%5Cc%00d%0A.gif", "gif", "F"), "a_b_c_d_.gif");
    EXPECT_EQ(MakeFileName("http://h/%FF%C3x.png", "png", "F"), "__x.png");
    EXPECT_EQ(MakeFileName("http://h/.hidden.png", "png", "F"), "hidden.png");
    // Bidirectional controls and other invisible format characters are dropped: U+202E would
    // show "photo<RLO>gpj.exe" as "photoexe.jpg"; C1 controls become '_' like C0 ones.
    EXPECT_EQ(MakeFileName("http://h/photo%E2%80%AEgpj.exe", "jpg", "F"), "photogpj.exe.jpg");
    EXPECT_EQ(MakeFileName("http://h/a%E2%81%A6b%E2%80%8Fc%E2%80%8Bd%EF%BB%BF%C2%ADe"
                           "%F3%A0%80%81.png",
                           "png", "F"),
              "abcde.png");
    EXPECT_EQ(MakeFileName("http://h/x%C2%9B31my.gif", "gif", "F"), "x_31my.gif");
    EXPECT_EQ(MakeFileName("http://h/%E2%80%AA%E2%80%AC.png", "png", "F0"), "F0.png");
    // At most 255 bytes, cut between characters, the extension kept.
    std::string euros;
    for (int i = 0; i < 120; ++i)
        euros += "%E2%82%AC";
    const std::string name = MakeFileName("http://h/" + euros + ".webp", "webp", "F");
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.ends_with("\xE2\x82\xAC.webp"));
    EXPECT_EQ((name.size() - 5) % 3, 0u);
}

TEST(BrowserSniffing, PicturesAndVideosAreKnownByTheirFirstBytes) {
    using namespace std::string_literals;
    EXPECT_EQ(Sniff(browser_test::Jpeg(20), "image/png"), "jpg");
    EXPECT_EQ(Sniff(browser_test::Png(20), ""), "png");
    EXPECT_EQ(Sniff("GIF89a\x01\0"s, ""), "gif");
    EXPECT_EQ(Sniff("BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0\0"s, ""), "bmp");
    EXPECT_EQ(Sniff("BM plain text that starts so"s, ""), "");
    EXPECT_EQ(Sniff("\0\0\1\0\1\0\x10\x10"s, ""), "ico");
    EXPECT_EQ(Sniff("RIFF\0\0\0\0WEBPVP8 "s, ""), "webp");
    EXPECT_EQ(Sniff("RIFF\0\0\0\0AVI LIST"s, ""), "avi");
    EXPECT_EQ(Sniff("\0\0\0\x1C"
                    "ftypavif\0\0\0\0avifmif1"s,
                    ""),
              "avif");
    EXPECT_EQ(Sniff("\0\0\0\x1C"
                    "ftypmif1\0\0\0\0mif1avif"s,
                    ""),
              "avif");
    EXPECT_EQ(Sniff("\0\0\0\x18"
                    "ftypheic\0\0\0\0"s,
                    ""),
              "heic");
    EXPECT_EQ(Sniff("\0\0\0\x18"
                    "ftypisom\0\0\0\0"s,
                    ""),
              "mp4");
    EXPECT_EQ(Sniff("\0\0\0\x18"
                    "ftypM4A \0\0\0\0"s,
                    "audio/mp4"),
              ""); // sound only
    EXPECT_EQ(Sniff("\x1A\x45\xDF\xA3\x9F\x42\x82\x84webm"s, ""), "webm");
    EXPECT_EQ(Sniff("FLV\x01\x05"s, ""), "flv");
    EXPECT_EQ(Sniff("<?xml version='1.0'?>\n<svg xmlns='http://www.w3.org/2000/svg'>", ""), "svg");
    EXPECT_EQ(Sniff("\xEF\xBB\xBF  <!-- long comment -->", "image/svg+xml; charset=utf-8"), "svg");
    EXPECT_EQ(Sniff("<!DOCTYPE html><html><body><svg></svg>", "image/svg+xml"), "");
    EXPECT_EQ(Sniff("{\"json\": true}", "image/png"), "");
    EXPECT_EQ(Sniff("", "image/png"), "");
}

} // namespace
