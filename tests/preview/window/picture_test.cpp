#include "metafile_samples.h"
#include "preview/window/picture_loader.h"
#include "test_support.h"

#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <QImageWriter>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace preview;

namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

std::string text(const QByteArray& b) {
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// The message a failed load gives, "" when it loaded.
std::string failure(const std::function<QImage()>& load) {
    try {
        load();
        return {};
    } catch (const std::runtime_error& e) {
        return e.what();
    }
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
    EXPECT_THROW(LoadPicture((d.str() + "/missing.jpg")), std::runtime_error);
    EXPECT_THROW(LoadPicture((d.file("garbage.png", "this is not a picture at all"))),
                 std::runtime_error);
    EXPECT_THROW(LoadPicture((d.file("empty.gif", ""))), std::runtime_error);
    // A video, even with a picture's name.
    EXPECT_THROW(LoadPicture((d.file("movie.jpg", std::string("\0\0\0\x18"
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
    EXPECT_EQ(LoadPicture((lying)).size(), QSize(12, 7));
}

TEST(PictureLoader, WebpIsRecognisedAndDecoded) {
    if (!QImageWriter::supportedImageFormats().contains("webp"))
        GTEST_SKIP() << "Qt's WebP plug-in (qt6-image-formats-plugins) is not installed";
    const QByteArray webp = encoded(sample(33, 21), "WEBP");
    ASSERT_FALSE(webp.isEmpty());
    EXPECT_EQ(SniffPictureFormat(webp), PictureFormat::Webp);
    const QImage image = LoadPictureFromBytes(webp);
    ASSERT_EQ(image.size(), QSize(33, 21));
    EXPECT_LE(std::abs(image.pixelColor(16, 10).green() - 200), 8);
    testing_support::ScratchFolder d;
    EXPECT_EQ(LoadPicture(d.file("a.gif", text(webp))).size(), QSize(33, 21));
    // A RIFF file of another kind, and a cut-off WebP, are not pictures.
    EXPECT_EQ(SniffPictureFormat(QByteArray("RIFF\x10\0\0\0AVI LIST", 16)), PictureFormat::Unknown);
    EXPECT_THROW(DecodePicture(webp.left(20)), std::runtime_error);
}

TEST(PictureLoader, FilesThatAreNotRegularFilesAreRefusedWithoutBeingRead) {
    testing_support::ScratchFolder d;
    // A link to an endless device: its size says 0, its content never ends.
    std::filesystem::create_symlink("/dev/zero", d.path() / "zero.jpg");
    EXPECT_NE(failure([&] { return LoadPicture(d.str() + "/zero.jpg"); }), "");
    // A folder under a picture's name.
    std::filesystem::create_directories(d.path() / "folder.png");
    EXPECT_NE(failure([&] { return LoadPicture(d.str() + "/folder.png"); }), "");
    // A named pipe nobody writes to: the click must come back.
    const std::string fifo = d.str() + "/pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto attempt =
        std::async(std::launch::async, [&] { return failure([&] { return LoadPicture(fifo); }); });
    if (attempt.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "loading a named pipe blocked";
        ::close(::open(fifo.c_str(), O_WRONLY));
    }
    EXPECT_NE(attempt.get(), "");
}

TEST(PictureLoader, APathThatIsNotValidUtf8Loads) {
    testing_support::ScratchFolder d;
    const std::string png = text(encoded(sample(9, 5), "PNG"));
    const std::string path = d.file("cache\xFF\xFE/IE\x80/pic\xE9.jpg", png);
    EXPECT_EQ(LoadPicture(path).size(), QSize(9, 5));
}
