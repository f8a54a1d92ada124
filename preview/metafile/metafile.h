// A small renderer for Windows metafiles (WMF) and enhanced metafiles (EMF) on QPainter.
//
// It draws the common records (pens, brushes, lines, rectangles, ellipses, polygons,
// polylines, text) and passes over the rest. Metafiles from a cache are untrusted: every
// record is bounds-checked, the object table and the picture size are capped, and a file
// that does not parse throws std::runtime_error.
#pragma once

#include <QByteArray>
#include <QImage>

namespace preview {

QImage RenderWmf(const QByteArray& bytes);
QImage RenderEmf(const QByteArray& bytes);

} // namespace preview
