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

// A picture claiming more than this on either side does not parse.
inline constexpr int kLargestMetafileSide = 8192;

// A picture whose own size is larger than largestSide on either side is drawn scaled down to
// fit it, the same records on a smaller image.
QImage RenderWmf(const QByteArray& bytes, int largestSide = kLargestMetafileSide);
QImage RenderEmf(const QByteArray& bytes, int largestSide = kLargestMetafileSide);

} // namespace preview
