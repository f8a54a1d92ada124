// The picture loader of the preview: decides by a file's contents, never by its name.
#pragma once

#include "cache/browser/browser.h"

#include <QByteArray>
#include <QImage>

#include <string>

namespace preview {

enum class PictureFormat { Unknown, Bmp, Gif, Jpeg, Png, Icon, Cursor, Wmf, Emf, Webp };

PictureFormat SniffPictureFormat(const QByteArray& head);

// The picture at its natural size. path is the file's name as the file system spells it,
// byte for byte (it need not be valid UTF-8). Throws std::runtime_error when the file
// cannot be read, is not a regular file, or is not a Windows bitmap, GIF, JPEG, PNG, WebP,
// icon, cursor or Windows (enhanced) metafile, or when it is too large or too costly to
// draw.
QImage LoadPicture(const std::string& path);
// The same for content already in memory (a decoded body, say), with the same limits.
QImage DecodePicture(const QByteArray& bytes);
inline QImage LoadPictureFromBytes(const QByteArray& bytes) {
    return DecodePicture(bytes);
}
// A body kept inside a browser cache's entry file: decoded, then read as above.
QImage LoadBodyPicture(const browser::BodyLocation& body);

} // namespace preview
