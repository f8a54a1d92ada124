// The picture loader of the preview: decides by a file's contents, never by its name.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace preview {

enum class PictureFormat { Unknown, Bmp, Gif, Jpeg, Png, Icon, Cursor, Wmf, Emf };

PictureFormat SniffPictureFormat(const QByteArray& head);

// The picture at its natural size. Throws std::runtime_error when the file cannot be read
// or is not a Windows bitmap, GIF, JPEG, PNG, icon, cursor or Windows (enhanced) metafile.
QImage LoadPicture(const QString& path);
QImage DecodePicture(const QByteArray& bytes);

} // namespace preview
