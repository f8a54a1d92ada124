#include "platform/qt/cursor_file.h"

#include "platform/base/endian.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <stdexcept>

namespace platform {
QCursor CursorFromBytes(const QByteArray& bytes) {
    // ICONDIR: reserved 0, type 2 (cursor), count; then 16-byte entries whose bytes 4..7
    // hold the hot spot.
    const LittleEndianReader r(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())));
    if (!r.has(0, 22) || r.u16(0) != 0 || r.u16(2) != 2 || r.u16(4) == 0)
        throw std::runtime_error("Invalid picture");
    const int hotX = r.u16(6 + 4);
    const int hotY = r.u16(6 + 6);
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
