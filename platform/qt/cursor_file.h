// Windows cursor files (.cur): the picture and its hot spot.
#pragma once

#include <QByteArray>
#include <QCursor>
#include <QString>

namespace platform {

// Reads a cursor file; throws std::runtime_error with a description when it is not one.
QCursor LoadCursorFile(const QString& path);
QCursor CursorFromBytes(const QByteArray& bytes);

} // namespace platform
