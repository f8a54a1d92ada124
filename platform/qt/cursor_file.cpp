#include "platform/qt/cursor_file.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <stdexcept>

namespace platform {
namespace {

quint16 u16(const QByteArray& b, int at) {
    return static_cast<quint16>(static_cast<quint8>(b[at]) | static_cast<quint8>(b[at + 1]) << 8);
}

} // namespace

QCursor CursorFromBytes(const QByteArray& bytes) {
    // ICONDIR: reserved 0, type 2 (cursor), count; then 16-byte entries whose bytes 4..7
    // hold the hot spot.
    if (bytes.size() < 22 || u16(bytes, 0) != 0 || u16(bytes, 2) != 2 || u16(bytes, 4) == 0)
        throw std::runtime_error("Invalid picture");
    const int hotX = u16(bytes, 6 + 4);
    const int hotY = u16(bytes, 6 + 6);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "cur");
    const QImage image = reader.read();
    if (image.isNull())
        throw std::runtime_error("Invalid picture");
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

QCursor LoadCursorFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("File not found: " + path.toStdString());
    return CursorFromBytes(f.read(1 << 20));
}

} // namespace platform
