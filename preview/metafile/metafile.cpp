#include "preview/metafile/metafile.h"
#include "platform/base/endian.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <variant>
#include <vector>

namespace preview {
namespace {

constexpr int kMaxSide = kLargestMetafileSide;
constexpr std::size_t kMaxObjects = 4096;
constexpr std::size_t kMaxRecords = 1'000'000;

// What one picture may cost to draw, in pixels touched: a preview must come back within a
// second or so on a slow machine whatever the file asks for, and a tiny file can ask for
// thousands of shapes covering the whole picture. Every record also costs something, every
// shape drawn (a painter call costs microseconds however small the shape) and every point
// of a polygon, so that long runs of small or invisible shapes are bounded too.
constexpr double kWorkBudget = 400e6;
constexpr double kRecordCost = 64;
constexpr double kShapeCost = 4096;
constexpr double kPointCost = 16;

[[noreturn]] void invalid() {
    throw std::runtime_error("Invalid picture");
}

class WorkBudget {
  public:
    void charge(double pixelOperations) {
        left_ -= pixelOperations;
        if (!(left_ >= 0))
            throw std::runtime_error("Picture too complex to draw");
    }

  private:
    double left_ = kWorkBudget;
};

class Bytes {
  public:
    explicit Bytes(const QByteArray& b)
        : d_(reinterpret_cast<const unsigned char*>(b.constData())), n_(b.size()),
          r_(std::span(d_, static_cast<std::size_t>(n_))) {}
    qint64 size() const { return n_; }
    bool has(qint64 at, qint64 len) const {
        return at >= 0 && len >= 0 && at <= n_ && len <= n_ - at;
    }
    quint16 u16(qint64 at) const {
        if (!has(at, 2))
            invalid();
        return r_.u16(static_cast<std::uint64_t>(at));
    }
    qint16 i16(qint64 at) const { return static_cast<qint16>(u16(at)); }
    quint32 u32(qint64 at) const {
        if (!has(at, 4))
            invalid();
        return r_.u32(static_cast<std::uint64_t>(at));
    }
    qint32 i32(qint64 at) const { return static_cast<qint32>(u32(at)); }
    QByteArray bytes(qint64 at, qint64 len) const {
        if (!has(at, len))
            invalid();
        return QByteArray(reinterpret_cast<const char*>(d_ + at), static_cast<int>(len));
    }

  private:
    const unsigned char* d_;
    qint64 n_;
    platform::ByteReader r_;
};

QColor colorRef(quint32 c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

struct PenSpec {
    int style = 0; // PS_SOLID
    double width = 1;
    QColor color = Qt::black;
};
struct BrushSpec {
    int style = 0; // BS_SOLID
    QColor color = Qt::white;
};
struct FontSpec {
    double height = 12;
};
using GdiObject = std::variant<std::monostate, PenSpec, BrushSpec, FontSpec>;

// Drawing state common to both formats, in logical coordinates.
struct Canvas {
    QPainter* painter = nullptr;
    WorkBudget* budget = nullptr;
    QRectF imageRect;
    QPointF windowOrg{0, 0};
    QSizeF windowExt{1, 1};
    bool windowExtSet = false;
    QPointF viewportOrg{0, 0};
    QSizeF viewportExt{1, 1};
    bool viewportExtSet = false;
    QTransform base; // device -> image
    QPointF current{0, 0};
    QColor textColor = Qt::black;
    Qt::FillRule fill = Qt::OddEvenFill;
    PenSpec pen;
    BrushSpec brush;
    FontSpec font;

    void applyTransform() {
        QTransform t;
        if (windowExtSet && viewportExtSet && windowExt.width() != 0 && windowExt.height() != 0) {
            t.translate(viewportOrg.x(), viewportOrg.y());
            t.scale(viewportExt.width() / windowExt.width(),
                    viewportExt.height() / windowExt.height());
            t.translate(-windowOrg.x(), -windowOrg.y());
        } else {
            t.translate(-windowOrg.x(), -windowOrg.y());
        }
        painter->setTransform(t * base);
    }
    void applyTools() {
        if (pen.style == 5) { // PS_NULL
            painter->setPen(Qt::NoPen);
        } else {
            QPen p(pen.color);
            p.setWidthF(std::clamp(pen.width, 0.0, 1000.0));
            p.setCosmetic(pen.width <= 1);
            static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                                  Qt::DashDotLine, Qt::DashDotDotLine};
            p.setStyle(pen.style >= 0 && pen.style < 5 ? styles[pen.style] : Qt::SolidLine);
            painter->setPen(p);
        }
        painter->setBrush(brush.style == 1 ? QBrush(Qt::NoBrush) : QBrush(brush.color)); // BS_NULL
    }
    void select(const GdiObject& o) {
        if (const auto* p = std::get_if<PenSpec>(&o))
            pen = *p;
        else if (const auto* b = std::get_if<BrushSpec>(&o))
            brush = *b;
        else if (const auto* f = std::get_if<FontSpec>(&o))
            font = *f;
        applyTools();
    }
    // Charges the budget for drawing a shape with these logical bounds and points: the part
    // of the picture it can touch, its outline included.
    void charge(const QRectF& logical, qint64 points = 0) {
        double pad = 0;
        if (painter->pen().style() != Qt::NoPen && !painter->pen().isCosmetic())
            pad = painter->pen().widthF() / 2;
        const QRectF device =
            painter->transform().mapRect(logical.normalized().adjusted(-pad, -pad, pad, pad));
        const QRectF touched = device.adjusted(-1, -1, 1, 1).intersected(imageRect);
        const double area = touched.isEmpty() ? 0 : touched.width() * touched.height();
        budget->charge(kShapeCost + area + kPointCost * static_cast<double>(points));
    }
    void text(QPointF at, const QString& s) {
        QFont f("Arial");
        f.setPixelSize(static_cast<int>(std::clamp(std::abs(font.height), 1.0, 2000.0)));
        const double size = f.pixelSize();
        const auto chars = static_cast<double>(s.size());
        charge(QRectF(at, QSizeF(size * chars, size * 2)), s.size());
        painter->save();
        painter->setFont(f);
        painter->setPen(textColor);
        painter->drawText(at + QPointF(0, QFontMetricsF(f).ascent()), s);
        painter->restore();
    }
};

class ObjectTable {
  public:
    explicit ObjectTable(std::size_t n) : slots_(std::min(n, kMaxObjects)) {}
    // WMF: a new object takes the lowest free slot.
    void addFirstFree(GdiObject o) {
        for (auto& s : slots_)
            if (!s) {
                s = o;
                return;
            }
    }
    void put(std::size_t i, GdiObject o) {
        if (i < slots_.size())
            slots_[i] = o;
    }
    const GdiObject* get(std::size_t i) const {
        return i < slots_.size() && slots_[i] ? &*slots_[i] : nullptr;
    }
    void remove(std::size_t i) {
        if (i < slots_.size())
            slots_[i].reset();
    }

  private:
    std::vector<std::optional<GdiObject>> slots_;
};

// A side length in pixels, refused when it is not a sane picture size.
int side(double pixels) {
    if (!(pixels >= 1 && pixels <= kMaxSide))
        invalid();
    return static_cast<int>(std::lround(pixels));
}

QImage blankImage(int w, int h, WorkBudget& budget) {
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide)
        invalid();
    budget.charge(double(w) * h);
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        invalid();
    image.fill(Qt::white);
    return image;
}

// The picture's size in pixels, scaled down to fit largestSide when it is larger.
QSize fitted(int width, int height, int largestSide) {
    const int side = std::max(width, height);
    if (largestSide < 1 || side <= largestSide)
        return {width, height};
    const double f = double(largestSide) / side;
    return {std::max(1, int(width * f)), std::max(1, int(height * f))};
}

// An image being drawn: white, antialiased, its canvas mapping the metafile's rectangle
// source onto the whole image. Making the image is charged to the budget.
struct Drawing {
    WorkBudget budget;
    QImage image;
    QPainter painter;
    Canvas canvas;

    Drawing(QSize size, const QRectF& source)
        : image(blankImage(size.width(), size.height(), budget)), painter(&image) {
        const double width = size.width(), height = size.height();
        painter.setRenderHint(QPainter::Antialiasing);
        canvas.painter = &painter;
        canvas.budget = &budget;
        canvas.imageRect = QRectF(image.rect());
        canvas.base = QTransform::fromTranslate(-source.left(), -source.top()) *
                      QTransform::fromScale(width / std::max(source.width(), 1.0),
                                            height / std::max(source.height(), 1.0));
        canvas.applyTransform();
        canvas.applyTools();
    }
    QImage finish() {
        painter.end();
        return image;
    }
};

// --- WMF -----------------------------------------------------------------------------------

// What a WMF's headers say: where its records start, the size of its object table, and the
// logical rectangle the picture covers with its size in pixels.
struct WmfLayout {
    qint64 recordsStart = 0;
    std::size_t objectCount = 0;
    QRectF logical;
    int width = 0;
    int height = 0;
};

WmfLayout readWmfLayout(const Bytes& b) {
    WmfLayout layout;
    qint64 at = 0;
    std::optional<QRectF> bounds;
    double unitsPerInch = 1440;
    if (b.size() >= 22 && b.u32(0) == 0x9AC6CDD7) {
        const double left = b.i16(6), top = b.i16(8), right = b.i16(10), bottom = b.i16(12);
        unitsPerInch = b.u16(14) ? b.u16(14) : 1440;
        bounds = QRectF(QPointF(std::min(left, right), std::min(top, bottom)),
                        QPointF(std::max(left, right), std::max(top, bottom)));
        at = 22;
    }
    // The metafile header: type, header size (9 words), version, size, objects, ...
    if (!b.has(at, 18) || b.u16(at + 2) != 9)
        invalid();
    layout.objectCount = b.u16(at + 10);
    layout.recordsStart = at + 18;

    // Without the placeable header, the picture's extent comes from SetWindowExt/Org.
    QPointF org(0, 0);
    std::optional<QSizeF> ext;
    for (qint64 r = layout.recordsStart, count = 0; b.has(r, 6) && count < qint64(kMaxRecords);
         ++count) {
        const qint64 words = b.u32(r);
        const quint16 fn = b.u16(r + 4);
        if (words < 3 || !b.has(r, words * 2) || fn == 0)
            break;
        if (fn == 0x020B && words >= 5)
            org = QPointF(b.i16(r + 8), b.i16(r + 6));
        if (fn == 0x020C && words >= 5)
            ext = QSizeF(b.i16(r + 8), b.i16(r + 6));
        r += words * 2;
    }
    if (bounds) {
        layout.logical = *bounds;
        layout.width = side(bounds->width() * 96.0 / unitsPerInch);
        layout.height = side(bounds->height() * 96.0 / unitsPerInch);
    } else if (ext) {
        layout.logical = QRectF(org, QSizeF(std::abs(ext->width()), std::abs(ext->height())));
        layout.width = side(layout.logical.width() * 96.0 / 1440.0);
        layout.height = side(layout.logical.height() * 96.0 / 1440.0);
    } else {
        invalid();
    }
    return layout;
}

// One WMF record: its size in 16-bit words, its function and its parameters, which follow
// the size and the function.
struct WmfRecord {
    const Bytes& b;
    qint64 start;
    qint64 words;
    quint16 fn;

    qint64 p() const { return start + 6; }
    bool need(qint64 bytes) const { return (words - 3) * 2 >= bytes; }
    qint64 end() const { return start + words * 2; }
};

// The records that set the drawing state; false for any other.
bool setWmfState(const WmfRecord& r, Canvas& c) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.fn) {
    case 0x020B: // SETWINDOWORG y, x
        if (r.need(4)) {
            c.windowOrg = QPointF(b.i16(p + 2), b.i16(p));
            c.applyTransform();
        }
        return true;
    case 0x020C: // SETWINDOWEXT y, x
        if (r.need(4)) {
            c.windowExt = QSizeF(b.i16(p + 2), b.i16(p));
            c.windowExtSet = true;
        }
        return true;
    case 0x0209: // SETTEXTCOLOR
        if (r.need(4))
            c.textColor = colorRef(b.u32(p));
        return true;
    case 0x0106: // SETPOLYFILLMODE
        if (r.need(2))
            c.fill = b.u16(p) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
        return true;
    case 0x0214: // MOVETO y, x
        if (r.need(4))
            c.current = QPointF(b.i16(p + 2), b.i16(p));
        return true;
    default:
        return false;
    }
}

// The records that make, choose and delete pens, brushes and fonts; false for any other.
bool useWmfObjects(const WmfRecord& r, Canvas& c, ObjectTable& objects) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.fn) {
    case 0x02FA: // CREATEPENINDIRECT style, width (x, y), color
        if (r.need(10))
            objects.addFirstFree(
                PenSpec{b.u16(p) & 0x0F, double(b.i16(p + 2)), colorRef(b.u32(p + 6))});
        return true;
    case 0x02FC: // CREATEBRUSHINDIRECT style, color, hatch
        if (r.need(6))
            objects.addFirstFree(BrushSpec{b.u16(p), colorRef(b.u32(p + 2))});
        return true;
    case 0x02FB: // CREATEFONTINDIRECT height, ...
        if (r.need(2))
            objects.addFirstFree(FontSpec{double(b.i16(p))});
        return true;
    case 0x00F7:                                // CREATEPALETTE
    case 0x01F9:                                // CREATEPATTERNBRUSH
    case 0x0142:                                // DIBCREATEPATTERNBRUSH
    case 0x06FF:                                // CREATEREGION
        objects.addFirstFree(std::monostate{}); // takes a slot all the same
        return true;
    case 0x012D: // SELECTOBJECT
        if (r.need(2))
            if (const GdiObject* o = objects.get(b.u16(p)))
                c.select(*o);
        return true;
    case 0x01F0: // DELETEOBJECT
        if (r.need(2))
            objects.remove(b.u16(p));
        return true;
    default:
        return false;
    }
}

// POLYPOLYGON count, counts..., points: one path of closed polygons.
void drawWmfPolyPolygon(const WmfRecord& r, Canvas& c) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    if (!r.need(2))
        return;
    const qint64 polys = b.u16(p);
    if (!r.need(2 + polys * 2))
        return;
    qint64 pt = p + 2 + polys * 2;
    QPainterPath path;
    path.setFillRule(c.fill);
    for (qint64 k = 0; k < polys; ++k) {
        const qint64 n = b.u16(p + 2 + k * 2);
        if (!b.has(pt, n * 4) || pt + n * 4 > r.end())
            break;
        QPolygonF poly;
        for (qint64 i = 0; i < n; ++i)
            poly << QPointF(b.i16(pt + i * 4), b.i16(pt + 2 + i * 4));
        path.addPolygon(poly);
        path.closeSubpath();
        pt += n * 4;
    }
    c.charge(path.boundingRect(), path.elementCount());
    c.painter->drawPath(path);
}

// The records that draw; any other is passed over.
void drawWmfRecord(const WmfRecord& r, Canvas& c) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.fn) {
    case 0x0213: // LINETO y, x
        if (r.need(4)) {
            const QPointF to(b.i16(p + 2), b.i16(p));
            c.charge(QRectF(c.current, to), 2);
            c.painter->drawLine(c.current, to);
            c.current = to;
        }
        break;
    case 0x041B: // RECTANGLE bottom, right, top, left
    case 0x0418: // ELLIPSE
        if (r.need(8)) {
            const QRectF rect(QPointF(b.i16(p + 6), b.i16(p + 4)), QPointF(b.i16(p + 2), b.i16(p)));
            c.charge(rect, 4);
            if (r.fn == 0x041B)
                c.painter->drawRect(rect.normalized());
            else
                c.painter->drawEllipse(rect.normalized());
        }
        break;
    case 0x0324: // POLYGON count, points
    case 0x0325: // POLYLINE
        if (r.need(2)) {
            const qint64 n = b.u16(p);
            if (!r.need(2 + n * 4))
                break;
            QPolygonF poly;
            for (qint64 i = 0; i < n; ++i)
                poly << QPointF(b.i16(p + 2 + i * 4), b.i16(p + 4 + i * 4));
            c.charge(poly.boundingRect(), n);
            if (r.fn == 0x0324)
                c.painter->drawPolygon(poly, c.fill);
            else
                c.painter->drawPolyline(poly);
        }
        break;
    case 0x0538: // POLYPOLYGON
        drawWmfPolyPolygon(r, c);
        break;
    case 0x0521: // TEXTOUT count, string (word-padded), y, x
        if (r.need(2)) {
            const qint64 n = b.u16(p);
            const qint64 padded = (n + 1) / 2 * 2;
            if (!r.need(2 + padded + 4))
                break;
            const QString s = QString::fromLatin1(b.bytes(p + 2, n));
            c.text(QPointF(b.i16(p + 2 + padded + 2), b.i16(p + 2 + padded)), s);
        }
        break;
    default:
        break; // records we do not draw
    }
}

// --- EMF -----------------------------------------------------------------------------------

// What an EMF's header says: where its records start, the size of its object table, the
// rectangle in device units the picture covers and its size in pixels.
struct EmfLayout {
    qint64 recordsStart = 0;
    std::size_t handles = 0;
    QRectF source;
    int width = 0;
    int height = 0;
};

EmfLayout readEmfLayout(const Bytes& b) {
    if (!b.has(0, 88) || b.u32(0) != 1 || b.u32(40) != 0x464D4520)
        invalid();
    EmfLayout layout;
    // Inclusive bounds in device pixels; held as doubles, since hostile values overflow int.
    const QRectF boundsRect(QPointF(b.i32(8), b.i32(12)),
                            QPointF(double(b.i32(16)) + 1, double(b.i32(20)) + 1));
    const QRectF frame(QPointF(b.i32(24), b.i32(28)), QPointF(b.i32(32), b.i32(36))); // 0.01 mm
    layout.handles = b.u16(56);
    const double devW = b.i32(72), devH = b.i32(76); // reference device, pixels
    const double mmW = b.i32(80), mmH = b.i32(84);   // reference device, millimetres
    const double pxPerMmX = (devW > 0 && mmW > 0) ? devW / mmW : 96.0 / 25.4;
    const double pxPerMmY = (devH > 0 && mmH > 0) ? devH / mmH : 96.0 / 25.4;

    // The picture's size from its frame, at 96 dpi; its drawing area in device units.
    const double frameW = std::abs(frame.width()) / 2540.0 * 96.0;
    const double frameH = std::abs(frame.height()) / 2540.0 * 96.0;
    const QRectF device(frame.left() / 100.0 * pxPerMmX, frame.top() / 100.0 * pxPerMmY,
                        frame.width() / 100.0 * pxPerMmX, frame.height() / 100.0 * pxPerMmY);
    const bool useFrame = frameW >= 0.5 && frameH >= 0.5;
    layout.width = side(useFrame ? frameW : boundsRect.width());
    layout.height = side(useFrame ? frameH : boundsRect.height());
    layout.source = device.width() > 0 && device.height() > 0 ? device : boundsRect;
    layout.recordsStart = b.u32(4); // the header's size
    return layout;
}

// One EMF record: its type, its size in bytes and its parameters, which follow the two.
struct EmfRecord {
    const Bytes& b;
    qint64 start;
    quint32 type;
    qint64 size;

    qint64 p() const { return start + 8; }
    bool need(qint64 bytes) const { return size - 8 >= bytes; }
};

// The records that set the drawing state, save it or restore it; false for any other.
bool setEmfState(const EmfRecord& r, Canvas& c, std::vector<Canvas>& saved) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.type) {
    case 9: // SETWINDOWEXTEX
        if (r.need(8)) {
            c.windowExt = QSizeF(b.i32(p), b.i32(p + 4));
            c.windowExtSet = true;
            c.applyTransform();
        }
        return true;
    case 10: // SETWINDOWORGEX
        if (r.need(8)) {
            c.windowOrg = QPointF(b.i32(p), b.i32(p + 4));
            c.applyTransform();
        }
        return true;
    case 11: // SETVIEWPORTEXTEX
        if (r.need(8)) {
            c.viewportExt = QSizeF(b.i32(p), b.i32(p + 4));
            c.viewportExtSet = true;
            c.applyTransform();
        }
        return true;
    case 12: // SETVIEWPORTORGEX
        if (r.need(8)) {
            c.viewportOrg = QPointF(b.i32(p), b.i32(p + 4));
            c.applyTransform();
        }
        return true;
    case 19: // SETPOLYFILLMODE
        if (r.need(4))
            c.fill = b.u32(p) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
        return true;
    case 24: // SETTEXTCOLOR
        if (r.need(4))
            c.textColor = colorRef(b.u32(p));
        return true;
    case 27: // MOVETOEX
        if (r.need(8))
            c.current = QPointF(b.i32(p), b.i32(p + 4));
        return true;
    case 33: // SAVEDC
        if (saved.size() < 256)
            saved.push_back(c);
        return true;
    case 34: // RESTOREDC
        if (!saved.empty()) {
            c = saved.back();
            saved.pop_back();
            c.applyTransform();
            c.applyTools();
        }
        return true;
    default:
        return false;
    }
}

// SELECTOBJECT of a stock object: the brushes and pens every device has.
void selectStockObject(Canvas& c, quint32 index) {
    switch (index) {
    case 0:
        c.select(BrushSpec{0, Qt::white});
        break;
    case 4:
        c.select(BrushSpec{0, Qt::black});
        break;
    case 5:
        c.select(BrushSpec{1, Qt::white});
        break;
    case 6:
        c.select(PenSpec{0, 1, Qt::white});
        break;
    case 7:
        c.select(PenSpec{0, 1, Qt::black});
        break;
    case 8:
        c.select(PenSpec{5, 1, Qt::black});
        break;
    default:
        break;
    }
}

// The records that make, choose and delete pens, brushes and fonts; false for any other.
bool useEmfObjects(const EmfRecord& r, Canvas& c, ObjectTable& objects) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.type) {
    case 38: // CREATEPEN ih, style, width (x, y), color
        if (r.need(20))
            objects.put(b.u32(p), PenSpec{int(b.u32(p + 4) & 0x0F), double(b.i32(p + 8)),
                                          colorRef(b.u32(p + 16))});
        return true;
    case 95: // EXTCREATEPEN ih, offBmi, cbBmi, offBits, cbBits, style, width, brush style,
             // color
        if (r.need(36))
            objects.put(b.u32(p), PenSpec{int(b.u32(p + 20) & 0x0F), double(b.u32(p + 24)),
                                          colorRef(b.u32(p + 32))});
        return true;
    case 39: // CREATEBRUSHINDIRECT ih, style, color, hatch
        if (r.need(16))
            objects.put(b.u32(p), BrushSpec{int(b.u32(p + 4)), colorRef(b.u32(p + 8))});
        return true;
    case 82: // EXTCREATEFONTINDIRECTW ih, LOGFONT (height first)
        if (r.need(8))
            objects.put(b.u32(p), FontSpec{double(b.i32(p + 4))});
        return true;
    case 37: // SELECTOBJECT
        if (r.need(4)) {
            const quint32 ih = b.u32(p);
            if (ih & 0x80000000u) // stock objects
                selectStockObject(c, ih & 0x7FFFFFFFu);
            else if (const GdiObject* o = objects.get(ih))
                c.select(*o);
        }
        return true;
    case 40: // DELETEOBJECT
        if (r.need(4))
            objects.remove(b.u32(p));
        return true;
    default:
        return false;
    }
}

// n points at `at`: POINTL (two 32-bit coordinates) when wide, else POINTS (two 16-bit).
QPolygonF emfPoints(const Bytes& b, qint64 at, qint64 n, bool wide) {
    QPolygonF poly;
    for (qint64 i = 0; i < n; ++i) {
        if (wide)
            poly << QPointF(b.i32(at + i * 8), b.i32(at + i * 8 + 4));
        else
            poly << QPointF(b.i16(at + i * 4), b.i16(at + i * 4 + 2));
    }
    return poly;
}

// The records that draw; any other is passed over.
void drawEmfRecord(const EmfRecord& r, Canvas& c) {
    const Bytes& b = r.b;
    const qint64 p = r.p();
    switch (r.type) {
    case 54: // LINETO
        if (r.need(8)) {
            const QPointF to(b.i32(p), b.i32(p + 4));
            c.charge(QRectF(c.current, to), 2);
            c.painter->drawLine(c.current, to);
            c.current = to;
        }
        break;
    case 42: // ELLIPSE
    case 43: // RECTANGLE
        if (r.need(16)) {
            const QRectF rect(QPointF(b.i32(p), b.i32(p + 4)),
                              QPointF(b.i32(p + 8), b.i32(p + 12)));
            c.charge(rect, 4);
            if (r.type == 43)
                c.painter->drawRect(rect.normalized());
            else
                c.painter->drawEllipse(rect.normalized());
        }
        break;
    case 3:  // POLYGON bounds, count, POINTL[]
    case 4:  // POLYLINE
    case 86: // POLYGON16 bounds, count, POINTS[]
    case 87: // POLYLINE16
        if (r.need(20)) {
            const qint64 n = b.u32(p + 16);
            const bool wide = r.type == 3 || r.type == 4;
            if (n < 0 || !r.need(20 + n * (wide ? 8 : 4)))
                break;
            const QPolygonF poly = emfPoints(b, p + 20, n, wide);
            c.charge(poly.boundingRect(), n);
            if (r.type == 3 || r.type == 86)
                c.painter->drawPolygon(poly, c.fill);
            else
                c.painter->drawPolyline(poly);
        }
        break;
    default:
        break; // records we do not draw
    }
}

} // namespace

QImage RenderWmf(const QByteArray& data, int largestSide) {
    const Bytes b(data);
    const WmfLayout layout = readWmfLayout(b);
    Drawing d(fitted(layout.width, layout.height, largestSide), layout.logical);
    ObjectTable objects(layout.objectCount);
    for (qint64 r = layout.recordsStart, count = 0; b.has(r, 6) && count < qint64(kMaxRecords);
         ++count) {
        const WmfRecord record{b, r, b.u32(r), b.u16(r + 4)};
        if (record.fn == 0x0000 || record.words < 3 || !b.has(r, record.words * 2))
            break;
        d.budget.charge(kRecordCost);
        if (!setWmfState(record, d.canvas) && !useWmfObjects(record, d.canvas, objects))
            drawWmfRecord(record, d.canvas);
        r = record.end();
    }
    return d.finish();
}

QImage RenderEmf(const QByteArray& data, int largestSide) {
    const Bytes b(data);
    const EmfLayout layout = readEmfLayout(b);
    Drawing d(fitted(layout.width, layout.height, largestSide), layout.source);
    ObjectTable objects(layout.handles);
    std::vector<Canvas> saved;
    qint64 r = layout.recordsStart;
    for (std::size_t count = 0; count < kMaxRecords && b.has(r, 8); ++count) {
        const EmfRecord record{b, r, b.u32(r), b.u32(r + 4)};
        if (record.size < 8 || record.size % 4 != 0 || !b.has(r, record.size))
            break;
        d.budget.charge(kRecordCost);
        if (record.type == 14) // EOF
            break;
        if (!setEmfState(record, d.canvas, saved) && !useEmfObjects(record, d.canvas, objects))
            drawEmfRecord(record, d.canvas);
        r += record.size;
    }
    return d.finish();
}

} // namespace preview
