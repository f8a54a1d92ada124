#include "preview/window/picture_loader.h"
#include "platform/base/endian.h"

#include "preview/metafile/metafile.h"

#include "platform/base/files.h"

#include <QBuffer>
#include <QImageReader>
#include <cstring>
#include <stdexcept>

namespace preview {
namespace {

// Cached files are untrusted: refuse pictures that would need an absurd amount of memory.
constexpr qint64 kMaxFileBytes = 256LL << 20;
constexpr int kAllocationLimitMb = 512;
// Not every image plug-in honours the allocation limit, so the size a header announces is
// checked before anything is decoded: at most this many pixels (4 bytes each).
constexpr qint64 kMaxPixels = (qint64{kAllocationLimitMb} << 20) / 4;

bool startsWith(const QByteArray& b, const char* magic, int n) {
    return b.size() >= n && std::memcmp(b.constData(), magic, static_cast<std::size_t>(n)) == 0;
}

quint32 u32(const QByteArray& b, int at) {
    return platform::ByteReader(std::string_view(b.constData(), static_cast<std::size_t>(b.size())))
        .u32(static_cast<std::uint64_t>(at));
}

[[noreturn]] void invalidPicture() {
    throw std::runtime_error("Invalid picture");
}

} // namespace

PictureFormat SniffPictureFormat(const QByteArray& b) {
    if (startsWith(b, "BM", 2) && b.size() >= 26)
        return PictureFormat::Bmp;
    if (startsWith(b, "GIF87a", 6) || startsWith(b, "GIF89a", 6))
        return PictureFormat::Gif;
    if (startsWith(b, "\xFF\xD8\xFF", 3))
        return PictureFormat::Jpeg;
    if (startsWith(b, "\x89PNG\r\n\x1A\n", 8))
        return PictureFormat::Png;
    if (startsWith(b, "\x00\x00\x01\x00", 4) && b.size() >= 22)
        return PictureFormat::Icon;
    if (startsWith(b, "\x00\x00\x02\x00", 4) && b.size() >= 22)
        return PictureFormat::Cursor;
    if (startsWith(b, "\xD7\xCD\xC6\x9A", 4))
        return PictureFormat::Wmf;
    // A metafile without the placeable header: type 1 or 2, header size 9 words.
    if ((startsWith(b, "\x01\x00\x09\x00", 4) || startsWith(b, "\x02\x00\x09\x00", 4)) &&
        b.size() >= 18)
        return PictureFormat::Wmf;
    if (u32(b, 0) == 1 && u32(b, 40) == 0x464D4520)
        return PictureFormat::Emf;
    if (startsWith(b, "RIFF", 4) && b.size() >= 16 &&
        std::memcmp(b.constData() + 8, "WEBP", 4) == 0)
        return PictureFormat::Webp;
    return PictureFormat::Unknown;
}

QImage DecodePicture(const QByteArray& bytes) {
    if (bytes.size() > kMaxFileBytes)
        invalidPicture();
    const PictureFormat format = SniffPictureFormat(bytes);
    const char* qtFormat = nullptr;
    switch (format) {
    case PictureFormat::Bmp:
        qtFormat = "bmp";
        break;
    case PictureFormat::Gif:
        qtFormat = "gif";
        break;
    case PictureFormat::Jpeg:
        qtFormat = "jpeg";
        break;
    case PictureFormat::Png:
        qtFormat = "png";
        break;
    case PictureFormat::Icon:
        qtFormat = "ico";
        break;
    case PictureFormat::Cursor:
        qtFormat = "cur";
        break;
    case PictureFormat::Webp:
        qtFormat = "webp";
        break;
    case PictureFormat::Wmf:
        return RenderWmf(bytes);
    case PictureFormat::Emf:
        return RenderEmf(bytes);
    case PictureFormat::Unknown:
        invalidPicture();
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, qtFormat);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(kAllocationLimitMb);
    reader.setAutoTransform(false);
    const QSize announced = reader.size();
    if (announced.isValid() && qint64{announced.width()} * announced.height() > kMaxPixels)
        invalidPicture();
    QImage image = reader.read();
    if (image.isNull())
        invalidPicture();
    return image;
}

QImage LoadBodyPicture(const browser::BodyLocation& body) {
    // The cheap refusal first: a body that says it is larger than any picture we draw.
    if (body.decodedSize > static_cast<std::uint64_t>(kMaxFileBytes))
        throw std::runtime_error("Out of memory");
    const auto stream = browser::OpenDecodedBody(body);
    QByteArray bytes;
    char chunk[64 * 1024];
    for (;;) {
        const std::ptrdiff_t n = stream->read(chunk, sizeof chunk);
        if (n < 0)
            throw std::runtime_error(stream->error());
        if (n == 0)
            break;
        if (bytes.size() + n > kMaxFileBytes)
            throw std::runtime_error("Out of memory");
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    return DecodePicture(bytes);
}

QImage LoadPicture(const std::string& path) {
    // Read through the descriptor-checked call: a named pipe or a device in the cache must
    // not hold the window, and a file may hold more than its size says.
    platform::ReadOutcome read = platform::ReadRegularFile(path, kMaxFileBytes);
    switch (read.status) {
    case platform::ReadStatus::Read:
        break;
    case platform::ReadStatus::Missing:
        throw std::runtime_error("File not found: " + path);
    case platform::ReadStatus::TooLarge:
        invalidPicture();
    case platform::ReadStatus::NotAFile:
    case platform::ReadStatus::Failed:
        throw std::runtime_error("Cannot read " + path + ": " + read.error);
    }
    // Decoded in place: the bytes stay in read.bytes while the picture is made.
    return DecodePicture(
        QByteArray::fromRawData(read.bytes.data(), static_cast<qsizetype>(read.bytes.size())));
}

} // namespace preview
