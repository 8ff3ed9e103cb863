#include "EmfPlusObjects.h"

#include "MetafileLimits.h"

#include <QBuffer>
#include <QImageReader>
#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace metafile::emfplus {

namespace {

enum BrushType { SolidBrush, HatchBrush, TextureBrush, PathGradientBrush, LinearGradientBrush };

enum BrushDataFlags : quint32 {
    BrushPath = 0x01,
    BrushTransform = 0x02,
    BrushPresetColors = 0x04,
    BrushBlendH = 0x08,
    BrushBlendV = 0x10,
    BrushFocusScales = 0x40,
};

enum PathFlags : quint32 { PathCompressed = 0x4000, PathRle = 0x1000, PathRelative = 0x0800 };

enum PenDataFlags : quint32 {
    PenTransform = 0x0001,
    PenStartCap = 0x0002,
    PenEndCap = 0x0004,
    PenJoin = 0x0008,
    PenMiterLimit = 0x0010,
    PenLineStyle = 0x0020,
    PenDashedLineCap = 0x0040,
    PenDashOffset = 0x0080,
    PenDashedLine = 0x0100,
    PenAlignment = 0x0200,
    PenCompoundLine = 0x0400,
    PenCustomStartCap = 0x0800,
    PenCustomEndCap = 0x1000,
};

enum RegionNode : quint32 {
    NodeAnd = 1,
    NodeUnion = 2,
    NodeXor = 3,
    NodeExclude = 4,
    NodeComplement = 5,
    NodeRect = 0x10000000,
    NodePath = 0x10000001,
    NodeEmpty = 0x10000002,
    NodeInfinite = 0x10000003,
};

// A region node's "everything" stands for this much of the plane, in world units.
constexpr double InfiniteExtent = 1e7;

bool finite(double v)
{
    return std::isfinite(v) && std::fabs(v) < 1e12;
}

Qt::BrushStyle hatchStyle(quint32 style)
{
    switch (style) {
    case 0:
        return Qt::HorPattern;
    case 1:
        return Qt::VerPattern;
    case 2:
        return Qt::FDiagPattern;
    case 3:
        return Qt::BDiagPattern;
    case 4:
        return Qt::CrossPattern;
    case 5:
        return Qt::DiagCrossPattern;
    default:
        // The many percentage and texture hatches: a density close to their look.
        return style < 20 ? Qt::Dense6Pattern : Qt::Dense4Pattern;
    }
}

QGradient::Spread spreadFor(qint32 wrapMode)
{
    switch (wrapMode) {
    case 0:
        return QGradient::RepeatSpread;
    case 1:
    case 2:
    case 3:
        return QGradient::ReflectSpread;
    default:
        return QGradient::PadSpread;
    }
}

// Blend colours (positions and colours) or blend factors (positions and weights between the
// two end colours) at `at`; answers the bytes read, 0 when they do not fit.
quint64 readStops(MetafileBytes d, quint64 at, bool colors, const QColor &from, const QColor &to,
                  QGradientStops &stops)
{
    const quint32 count = d.u32(at);
    if (count == 0 || count > quint32(MaxBlendPositions) || !d.has(at + 4, quint64(count) * 8))
        return 0;
    QGradientStops read;
    for (quint32 i = 0; i < count; ++i) {
        const double position = d.f32(at + 4 + quint64(i) * 4);
        if (!finite(position)) return 0;
        QColor c;
        if (colors) {
            c = argbAt(d, at + 4 + quint64(count) * 4 + quint64(i) * 4);
        } else {
            const double f =
                qBound(0.0, double(d.f32(at + 4 + quint64(count) * 4 + quint64(i) * 4)), 1.0);
            c = QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * f,
                                 from.greenF() + (to.greenF() - from.greenF()) * f,
                                 from.blueF() + (to.blueF() - from.blueF()) * f,
                                 from.alphaF() + (to.alphaF() - from.alphaF()) * f);
        }
        read.append({qBound(0.0, position, 1.0), c});
    }
    stops = read;
    return 4 + quint64(count) * 8;
}

bool readImageData(MetafileBytes d, PlusImage &image, qint64 *budget);

QImage compressedBitmap(MetafileBytes bytes, qint64 *budget)
{
    QByteArray data(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > limits::MaxBitmapSide ||
        size.height() > limits::MaxBitmapSide)
        return {};
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > limits::MaxBitmapPixels || (budget && pixels > *budget)) return {};
    if (budget) *budget -= pixels;
    QImage image = reader.read();
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32);
}

QImage rawBitmap(MetafileBytes d, qint32 width, qint32 height, qint32 stride, quint32 format,
                 qint64 *budget)
{
    const int bits = int((format >> 8) & 0xFF);
    const bool indexed = format & 0x00010000;
    if (width <= 0 || height <= 0 || width > limits::MaxBitmapSide ||
        height > limits::MaxBitmapSide || stride <= 0)
        return {};
    const qint64 pixels = qint64(width) * height;
    if (pixels > limits::MaxBitmapPixels || (budget && pixels > *budget)) return {};
    if (qint64(stride) * 8 < qint64(width) * bits) return {};
    quint64 at = 0;
    QVector<QRgb> palette;
    if (indexed) {
        const quint32 count = d.u32(4);
        if (count > quint32(limits::MaxPaletteEntries) || !d.has(8, quint64(count) * 4)) return {};
        for (quint32 i = 0; i < count; ++i)
            palette << d.u32(8 + quint64(i) * 4);
        at = 8 + quint64(count) * 4;
    }
    if (!d.has(at, quint64(stride) * quint64(height))) return {};
    if (budget) *budget -= pixels;
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y) {
        const quint64 row = at + quint64(y) * quint64(stride);
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb pixel = 0;
            switch (format) {
            case 0x0026200A: // 32 bits ARGB
                pixel = d.u32(row + quint64(x) * 4);
                break;
            case 0x000E200B: // premultiplied
                pixel = qUnpremultiply(d.u32(row + quint64(x) * 4));
                break;
            case 0x00022009: // 32 bits, no alpha
                pixel = d.u32(row + quint64(x) * 4) | 0xFF000000u;
                break;
            case 0x00021808: { // 24 bits
                const quint64 o = row + quint64(x) * 3;
                pixel = qRgb(d.u8(o + 2), d.u8(o + 1), d.u8(o));
                break;
            }
            case 0x00021006: { // 5-6-5
                const quint16 v = d.u16(row + quint64(x) * 2);
                pixel =
                    qRgb((v >> 11 & 31) * 255 / 31, (v >> 5 & 63) * 255 / 63, (v & 31) * 255 / 31);
                break;
            }
            case 0x00021005: { // 5-5-5
                const quint16 v = d.u16(row + quint64(x) * 2);
                pixel =
                    qRgb((v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31);
                break;
            }
            default:
                if (indexed && (bits == 1 || bits == 4 || bits == 8)) {
                    const quint64 bit = quint64(x) * quint64(bits);
                    const int shift = 8 - bits - int(bit % 8);
                    const int index = (d.u8(row + bit / 8) >> shift) & ((1 << bits) - 1);
                    pixel = palette.value(index, 0xFF000000u);
                } else {
                    return {};
                }
            }
            out[x] = pixel;
        }
    }
    return image;
}

bool readImageData(MetafileBytes d, PlusImage &image, qint64 *budget)
{
    const quint32 type = d.u32(4);
    if (type == 1) {
        const qint32 width = d.i32(8), height = d.i32(12), stride = d.i32(16);
        const quint32 format = d.u32(20), kind = d.u32(24);
        const MetafileBytes pixels = d.sub(28, d.size() > 28 ? d.size() - 28 : 0);
        image.bitmap = kind == 1 ? compressedBitmap(pixels, budget)
                                 : rawBitmap(pixels, width, height, stride, format, budget);
        image.valid = !image.bitmap.isNull();
    } else if (type == 2) {
        const quint32 size = d.u32(12);
        const MetafileBytes bytes = d.sub(16, size);
        if (!size || bytes.size() != size) return false;
        image.metafile = QByteArray(reinterpret_cast<const char *>(bytes.data()), int(size));
        image.valid = true;
    }
    return image.valid;
}

bool readPen(MetafileBytes d, PlusPen &p, qint64 *budget)
{
    const quint32 flags = d.u32(8);
    p.unit = quint8(d.u32(12));
    p.width = d.f32(16);
    if (!finite(p.width) || p.width < 0) return false;
    quint64 at = 20;
    QPen pen(Qt::black, 0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    // Anchors and custom caps become the plain cap closest to their look.
    auto capOf = [](qint32 cap) {
        if (cap == 1 || cap == 0x11 || cap == 0x13) return Qt::SquareCap;
        return cap == 2 || cap == 0x12 ? Qt::RoundCap : Qt::FlatCap;
    };
    if (flags & PenTransform) {
        p.transform = transformAt(d, at);
        at += 24;
    }
    if (flags & PenStartCap) {
        pen.setCapStyle(capOf(d.i32(at)));
        at += 4;
    }
    if (flags & PenEndCap) {
        if (!(flags & PenStartCap)) pen.setCapStyle(capOf(d.i32(at)));
        at += 4;
    }
    if (flags & PenJoin) {
        const qint32 join = d.i32(at);
        pen.setJoinStyle(join == 1 ? Qt::BevelJoin : join == 2 ? Qt::RoundJoin : Qt::MiterJoin);
        at += 4;
    }
    if (flags & PenMiterLimit) {
        const double limit = d.f32(at);
        if (finite(limit) && limit > 0) pen.setMiterLimit(limit);
        at += 4;
    }
    if (flags & PenLineStyle) {
        static const QVector<qreal> patterns[] = {
            {}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
        const qint32 style = d.i32(at);
        if (style >= 1 && style <= 4) pen.setDashPattern(patterns[style]);
        at += 4;
    }
    if (flags & PenDashedLineCap) at += 4;
    if (flags & PenDashOffset) {
        const double offset = d.f32(at);
        if (finite(offset)) pen.setDashOffset(offset);
        at += 4;
    }
    if (flags & PenDashedLine) {
        const quint32 count = d.u32(at);
        if (!d.has(at + 4, quint64(count) * 4)) return false;
        QVector<qreal> dashes;
        for (quint32 i = 0; i < count && i < quint32(MaxDashes); ++i) {
            const double v = d.f32(at + 4 + quint64(i) * 4);
            if (finite(v) && v > 0) dashes << v;
        }
        // Qt wants dash and gap in pairs.
        if (dashes.size() % 2) dashes.removeLast();
        if (!dashes.isEmpty()) pen.setDashPattern(dashes);
        at += 4 + quint64(count) * 4;
    }
    if (flags & PenAlignment) at += 4;
    if (flags & PenCompoundLine) {
        const quint32 count = d.u32(at);
        if (!d.has(at + 4, quint64(count) * 4)) return false;
        at += 4 + quint64(count) * 4;
    }
    for (quint32 custom : {quint32(PenCustomStartCap), quint32(PenCustomEndCap)})
        if (flags & custom) {
            const quint32 size = d.u32(at);
            if (!d.has(at + 4, size)) return false;
            at += 4 + quint64(size);
        }
    PlusBrush brush;
    if (!d.has(at, 8) || !readBrush(d.sub(at, d.size() - at), brush, budget)) return false;
    pen.setBrush(brush.brush);
    p.pen = pen;
    p.valid = true;
    return true;
}

bool readRegionNode(MetafileBytes d, quint64 &at, int depth, PlusRegion &out)
{
    if (depth > MaxRegionDepth || !d.has(at, 4)) return false;
    const quint32 type = d.u32(at);
    at += 4;
    switch (type) {
    case NodeRect: {
        if (!d.has(at, 16)) return false;
        out.path = QPainterPath();
        out.path.addRect(rectAt(d, at).normalized());
        at += 16;
        return true;
    }
    case NodePath: {
        const quint32 size = d.u32(at);
        if (!d.has(at + 4, size)) return false;
        if (!readPath(d.sub(at + 4, size), out.path)) return false;
        at += 4 + quint64(size);
        return true;
    }
    case NodeEmpty:
        out.path = QPainterPath();
        return true;
    case NodeInfinite:
        out.infinite = true;
        out.path = QPainterPath();
        out.path.addRect(-InfiniteExtent, -InfiniteExtent, 2 * InfiniteExtent, 2 * InfiniteExtent);
        return true;
    default:
        break;
    }
    if (type < NodeAnd || type > NodeComplement) return false;
    PlusRegion left, right;
    if (!readRegionNode(d, at, depth + 1, left) || !readRegionNode(d, at, depth + 1, right))
        return false;
    if (left.path.elementCount() > limits::MaxClipElements ||
        right.path.elementCount() > limits::MaxClipElements)
        return false;
    out.infinite = false;
    switch (type) {
    case NodeAnd:
        out.path = left.path.intersected(right.path);
        break;
    case NodeUnion:
        out.path = left.path.united(right.path);
        out.infinite = left.infinite || right.infinite;
        break;
    case NodeXor:
        out.path = left.path.united(right.path).subtracted(left.path.intersected(right.path));
        break;
    case NodeExclude:
        out.path = left.path.subtracted(right.path);
        break;
    default:
        out.path = right.path.subtracted(left.path);
        break;
    }
    return true;
}

} // namespace

QColor argbAt(MetafileBytes r, quint64 at)
{
    return QColor::fromRgba(r.u32(at));
}

QRectF rectAt(MetafileBytes r, quint64 at)
{
    return QRectF(r.f32(at), r.f32(at + 4), r.f32(at + 8), r.f32(at + 12));
}

QTransform transformAt(MetafileBytes r, quint64 at)
{
    return QTransform(r.f32(at), r.f32(at + 4), r.f32(at + 8), r.f32(at + 12), r.f32(at + 16),
                      r.f32(at + 20));
}

double unitToPixels(quint8 unit, double dpi)
{
    switch (unit) {
    case UnitPoint:
        return dpi / 72;
    case UnitInch:
        return dpi;
    case UnitDocument:
        return dpi / 300;
    case UnitMillimeter:
        return dpi / 25.4;
    default:
        return 1;
    }
}

QPolygonF readPoints(MetafileBytes r, quint64 at, quint32 count, quint16 flags, quint64 *end)
{
    if (count > MaxPoints) return {};
    QPolygonF points;
    if (flags & FlagRelative) {
        // Each coordinate takes one byte (7-bit) or two (15-bit, high bit set).
        QPointF last;
        quint64 o = at;
        auto coordinate = [&](bool &ok) {
            if (!r.has(o, 1)) return ok = false, 0;
            const quint8 b0 = r.u8(o);
            if (!(b0 & 0x80)) {
                ++o;
                return int(b0 & 0x40 ? int(b0) - 0x80 : int(b0));
            }
            if (!r.has(o, 2)) return ok = false, 0;
            const int v = ((b0 & 0x7F) << 8) | r.u8(o + 1);
            o += 2;
            return v & 0x4000 ? v - 0x8000 : v;
        };
        for (quint32 i = 0; i < count; ++i) {
            bool ok = true;
            const int dx = coordinate(ok);
            const int dy = coordinate(ok);
            if (!ok) return {};
            last += QPointF(dx, dy);
            points << last;
        }
        if (end) *end = o;
        return points;
    }
    const bool compressed = flags & FlagCompressed;
    const quint64 size = compressed ? 4 : 8;
    if (!r.has(at, quint64(count) * size)) return {};
    points.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        const quint64 o = at + quint64(i) * size;
        const QPointF p =
            compressed ? QPointF(r.i16(o), r.i16(o + 2)) : QPointF(r.f32(o), r.f32(o + 4));
        if (!finite(p.x()) || !finite(p.y())) return {};
        points << p;
    }
    if (end) *end = at + quint64(count) * size;
    return points;
}

QVector<QRectF> readRects(MetafileBytes r, quint64 at, quint32 count, bool compressed)
{
    const quint64 size = compressed ? 8 : 16;
    if (count > MaxPoints || !r.has(at, quint64(count) * size)) return {};
    QVector<QRectF> rects;
    rects.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        const quint64 o = at + quint64(i) * size;
        const QRectF rect =
            compressed ? QRectF(r.i16(o), r.i16(o + 2), r.i16(o + 4), r.i16(o + 6)) : rectAt(r, o);
        if (finite(rect.x()) && finite(rect.y()) && finite(rect.width()) && finite(rect.height()))
            rects << rect;
    }
    return rects;
}

bool readPath(MetafileBytes d, QPainterPath &path, quint64 *used)
{
    const quint32 count = d.u32(4), flags = d.u32(8);
    if (!d.has(0, 12) || count > MaxPoints) return false;
    quint64 at = 12;
    quint16 pointFlags = 0;
    if (flags & PathRelative)
        pointFlags = FlagRelative;
    else if (flags & PathCompressed)
        pointFlags = FlagCompressed;
    const QPolygonF points = readPoints(d, at, count, pointFlags, &at);
    if (quint32(points.size()) != count) return false;
    QByteArray types;
    if (flags & PathRle) {
        while (quint32(types.size()) < count) {
            if (!d.has(at, 2)) return false;
            const int run = d.u8(at) & 0x3F;
            types.append(QByteArray(qMin(run, int(count) - types.size()), char(d.u8(at + 1))));
            at += 2;
        }
    } else {
        if (!d.has(at, count)) return false;
        types = QByteArray(reinterpret_cast<const char *>(d.data() + at), int(count));
        at += count;
    }
    at = (at + 3) & ~quint64(3);
    QPainterPath out;
    for (quint32 i = 0; i < count; ++i) {
        const quint8 t = quint8(types[int(i)]);
        if ((t & 7) == 0 || out.elementCount() == 0) {
            out.moveTo(points[int(i)]);
        } else if ((t & 7) == 3 && i + 2 < count) {
            out.cubicTo(points[int(i)], points[int(i) + 1], points[int(i) + 2]);
            i += 2;
        } else {
            out.lineTo(points[int(i)]);
        }
        if (quint8(types[int(i)]) & 0x80) out.closeSubpath();
    }
    path = out;
    if (used) *used = qMin(at, quint64(d.size()));
    return true;
}

bool readBrush(MetafileBytes d, PlusBrush &b, qint64 *budget)
{
    const quint32 type = d.u32(4);
    b = PlusBrush();
    switch (type) {
    case SolidBrush:
        if (!d.has(8, 4)) return false;
        b.brush = QBrush(argbAt(d, 8));
        break;
    case HatchBrush:
        if (!d.has(8, 12)) return false;
        b.brush = QBrush(argbAt(d, 12), hatchStyle(d.u32(8)));
        b.hatchBack = argbAt(d, 16);
        break;
    case TextureBrush: {
        const quint32 flags = d.u32(8);
        quint64 at = 16;
        QTransform t;
        if (flags & BrushTransform) {
            t = transformAt(d, at);
            at += 24;
        }
        PlusImage image;
        if (!d.has(at, 8) || !readImageData(d.sub(at, d.size() - at), image, budget) ||
            image.bitmap.isNull())
            return false;
        b.brush = QBrush(image.bitmap);
        b.brush.setTransform(t);
        break;
    }
    case LinearGradientBrush: {
        const quint32 flags = d.u32(8);
        if (!d.has(8, 40)) return false;
        const QRectF rect = rectAt(d, 16);
        const QColor from = argbAt(d, 32), to = argbAt(d, 36);
        quint64 at = 48;
        QTransform t;
        if (flags & BrushTransform) {
            t = transformAt(d, at);
            at += 24;
        }
        QLinearGradient g(rect.left(), rect.top(), rect.right(), rect.top());
        g.setSpread(spreadFor(d.i32(12)));
        QGradientStops stops{{0, from}, {1, to}};
        if (flags & BrushPresetColors)
            readStops(d, at, true, from, to, stops);
        else if (flags & BrushBlendH)
            readStops(d, at, false, from, to, stops);
        else if (flags & BrushBlendV) {
            // A vertical blend only: the gradient runs top to bottom.
            g.setFinalStop(rect.left(), rect.bottom());
            readStops(d, at, false, from, to, stops);
        }
        g.setStops(stops);
        b.brush = QBrush(g);
        b.brush.setTransform(t);
        break;
    }
    case PathGradientBrush: {
        const quint32 flags = d.u32(8);
        const QColor centerColor = argbAt(d, 16);
        const QPointF center(d.f32(20), d.f32(24));
        const quint32 colors = d.u32(28);
        if (colors > MaxPoints || !d.has(32, quint64(colors) * 4)) return false;
        const QColor outer = colors ? argbAt(d, 32) : centerColor;
        quint64 at = 32 + quint64(colors) * 4;
        QPainterPath boundary;
        if (flags & BrushPath) {
            const quint32 size = d.u32(at);
            if (!d.has(at + 4, size) || !readPath(d.sub(at + 4, size), boundary)) return false;
            at += 4 + quint64(size);
        } else {
            const quint32 count = d.u32(at);
            const QPolygonF points = readPoints(d, at + 4, count, 0, &at);
            if (quint32(points.size()) != count || count < 3) return false;
            boundary.addPolygon(points);
            boundary.closeSubpath();
        }
        QTransform t;
        if (flags & BrushTransform) {
            t = transformAt(d, at);
            at += 24;
        }
        double radius = 0;
        for (int i = 0; i < boundary.elementCount(); ++i) {
            const QPointF e = boundary.elementAt(i);
            radius = std::max(radius, std::hypot(e.x() - center.x(), e.y() - center.y()));
        }
        if (!finite(center.x()) || !finite(center.y()) || !(radius > 0)) return false;
        QRadialGradient g(center, radius);
        QGradientStops stops{{0, centerColor}, {1, outer}};
        // Path gradients count their blend positions from the boundary inwards.
        QGradientStops read;
        if ((flags & BrushPresetColors) && readStops(d, at, true, outer, centerColor, read)) {
            stops.clear();
            for (auto it = read.crbegin(); it != read.crend(); ++it)
                stops.append({1 - it->first, it->second});
        }
        g.setStops(stops);
        b.brush = QBrush(g);
        b.brush.setTransform(t);
        b.boundary = t.map(boundary);
        break;
    }
    default:
        return false;
    }
    b.valid = true;
    return true;
}

PlusObject readObject(quint8 type, MetafileBytes d, qint64 *budget)
{
    PlusObject o;
    o.type = type;
    switch (type) {
    case BrushObject:
        readBrush(d, o.brush, budget);
        break;
    case PenObject:
        readPen(d, o.pen, budget);
        break;
    case PathObject:
        o.pathValid = readPath(d, o.path);
        break;
    case RegionObject: {
        quint64 at = 8;
        o.region.valid = d.has(0, 8) && readRegionNode(d, at, 0, o.region);
        break;
    }
    case ImageObject:
        readImageData(d, o.image, budget);
        break;
    case FontObject: {
        PlusFont &f = o.font;
        f.emSize = d.f32(4);
        f.unit = quint8(d.u32(8));
        const quint32 style = d.u32(12), length = d.u32(20);
        f.bold = style & 1;
        f.italic = style & 2;
        f.underline = style & 4;
        f.strikeOut = style & 8;
        if (length > 256 || !d.has(24, quint64(length) * 2)) break;
        for (quint32 i = 0; i < length; ++i)
            f.family += QChar(d.u16(24 + quint64(i) * 2));
        f.valid = finite(f.emSize) && f.emSize > 0;
        break;
    }
    case StringFormatObject:
        if (!d.has(0, 20)) break;
        o.format.flags = d.u32(4);
        o.format.alignment = int(qMin(d.u32(12), 2u));
        o.format.lineAlignment = int(qMin(d.u32(16), 2u));
        o.format.valid = true;
        break;
    case ImageAttributesObject:
        if (!d.has(0, 24)) break;
        o.attributes.wrapMode = d.u32(8);
        o.attributes.clampColor = argbAt(d, 12);
        o.attributes.valid = true;
        break;
    default:
        break; // custom line caps: lines are drawn without them
    }
    return o;
}

} // namespace metafile::emfplus
