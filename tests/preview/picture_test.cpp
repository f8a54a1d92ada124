#include "metafile_samples.h"
#include "preview/metafile.h"
#include "preview/picture_loader.h"
#include "test_support.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <random>

using namespace preview;

namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage sample(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    return image;
}

} // namespace

TEST(PictureLoader, ReadsTheListedFormatsByTheirContents) {
    for (const char* format : {"BMP", "GIF", "JPG", "PNG", "ICO"}) {
        const QByteArray bytes = encoded(sample(40, 30), format);
        if (bytes.isEmpty())
            continue; // a writer this Qt lacks (GIF): its reading is covered by the fixtures
        const QImage image = DecodePicture(bytes);
        EXPECT_EQ(image.size(), QSize(40, 30)) << format;
    }
    EXPECT_EQ(SniffPictureFormat(encoded(sample(4, 4), "PNG")), PictureFormat::Png);
    EXPECT_EQ(SniffPictureFormat("GIF89a......"), PictureFormat::Gif);
    EXPECT_EQ(SniffPictureFormat(samples::Wmf(10, 10)), PictureFormat::Wmf);
    EXPECT_EQ(SniffPictureFormat(samples::Emf(10, 10)), PictureFormat::Emf);
}

TEST(PictureLoader, FilesItCannotDecodeFail) {
    testing_support::ScratchFolder d;
    EXPECT_THROW(LoadPicture(QString::fromStdString(d.str() + "/missing.jpg")), std::runtime_error);
    EXPECT_THROW(
        LoadPicture(QString::fromStdString(d.file("garbage.png", "this is not a picture at all"))),
        std::runtime_error);
    EXPECT_THROW(LoadPicture(QString::fromStdString(d.file("empty.gif", ""))), std::runtime_error);
    // A video, even with a picture's name.
    EXPECT_THROW(
        LoadPicture(QString::fromStdString(d.file("movie.jpg", std::string("\0\0\0\x18"
                                                                           "ftypmp42",
                                                                           12) +
                                                                   std::string(100, 'x')))),
        std::runtime_error);
    // A cut-off JPEG header.
    EXPECT_THROW(DecodePicture(QByteArray("\xFF\xD8\xFF\xE0", 4)), std::runtime_error);
    // An extension that lies: a PNG named .jpg loads as the PNG it is.
    const QByteArray png = encoded(sample(12, 7), "PNG");
    const std::string lying =
        d.file("photo.jpg", std::string(png.constData(), static_cast<std::size_t>(png.size())));
    EXPECT_EQ(LoadPicture(QString::fromStdString(lying)).size(), QSize(12, 7));
}

TEST(Metafiles, WmfAndEmfAreDrawnAtTheirNaturalSize) {
    const QImage wmf = RenderWmf(samples::Wmf(100, 50));
    ASSERT_EQ(wmf.size(), QSize(100, 50));
    EXPECT_EQ(wmf.pixelColor(20, 25), QColor(255, 0, 0));
    EXPECT_EQ(wmf.pixelColor(80, 25), QColor(Qt::white));
    const QImage emf = RenderEmf(samples::Emf(120, 60));
    ASSERT_EQ(emf.size(), QSize(120, 60));
    EXPECT_EQ(emf.pixelColor(20, 30), QColor(255, 0, 0));
    EXPECT_EQ(emf.pixelColor(100, 30), QColor(Qt::white));
}

TEST(Metafiles, DamagedOrHostileMetafilesNeverCrash) {
    EXPECT_THROW(RenderWmf(samples::Wmf(0, 10)), std::runtime_error);
    EXPECT_THROW(RenderWmf(samples::Wmf(30000, 30000)), std::runtime_error); // too large
    EXPECT_THROW(RenderEmf(QByteArray(20, '\0')), std::runtime_error);
    std::mt19937 rng(7);
    for (const QByteArray& good : {samples::Wmf(64, 32), samples::Emf(64, 32)}) {
        for (int round = 0; round < 400; ++round) {
            QByteArray bytes = good;
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i)
                bytes[static_cast<int>(rng() % static_cast<unsigned>(bytes.size()))] =
                    static_cast<char>(rng());
            if (rng() % 4 == 0)
                bytes.truncate(static_cast<int>(rng() % static_cast<unsigned>(bytes.size())));
            try {
                const QImage image = DecodePicture(bytes);
                EXPECT_LE(image.width(), 8192);
            } catch (const std::runtime_error&) {
            }
        }
    }
}
