#include "EmfPlayer.h"

#include "EmfPlusPlayer.h"
#include "MetafileCanvas.h"
#include "MetafileDib.h"
#include "MetafileLimits.h"

#include <uemf.h>

#include <QHash>

#include <cmath>
#include <cstddef>

namespace metafile {

namespace {

constexpr quint32 EmfSignature = 0x464D4520; // " EMF"
constexpr quint32 StockObject = 0x80000000;

#define AT(record, field) quint64(offsetof(record, field))

QColor colorAt(MetafileBytes r, quint64 at)
{
    return QColor(r.u8(at), r.u8(at + 1), r.u8(at + 2));
}

QPointF pointAt(MetafileBytes r, quint64 at)
{
    return QPointF(r.i32(at), r.i32(at + 4));
}

QRectF boxAt(MetafileBytes r, quint64 at)
{
    return QRectF(QPointF(r.i32(at), r.i32(at + 4)), QPointF(r.i32(at + 8), r.i32(at + 12)));
}

QTransform transformAt(MetafileBytes r, quint64 at)
{
    return QTransform(r.f32(at), r.f32(at + 4), r.f32(at + 8), r.f32(at + 12), r.f32(at + 16),
                      r.f32(at + 20));
}

// Reads `count` points of 4 (16-bit) or 8 bytes at `at`; empty when they overrun the record.
QPolygonF pointsAt(MetafileBytes r, quint64 at, quint64 count, bool small)
{
    const quint64 size = small ? 4 : 8;
    if (!r.has(at, count * size)) return {};
    QPolygonF points;
    points.reserve(int(count));
    for (quint64 i = 0; i < count; ++i) {
        const quint64 o = at + i * size;
        points << (small ? QPointF(r.i16(o), r.i16(o + 2)) : QPointF(r.i32(o), r.i32(o + 4)));
    }
    return points;
}

// A region's rectangles (RGNDATA), in device units.
QRegion regionAt(MetafileBytes r, quint64 at, quint64 size)
{
    const MetafileBytes data = r.sub(at, size);
    const quint32 count = data.u32(8);
    if (count > quint32(limits::MaxRegionRects) || !data.has(32, quint64(count) * 16)) return {};
    QVector<QRect> rects;
    rects.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        const quint64 o = 32 + quint64(i) * 16;
        const QRect rect(QPoint(data.i32(o), data.i32(o + 4)),
                         QPoint(data.i32(o + 8) - 1, data.i32(o + 12) - 1));
        if (rect.isValid()) rects << rect;
    }
    QRegion region;
    region.setRects(rects.constData(), rects.size());
    return region;
}

MetafileObject stockObject(quint32 index)
{
    MetafileObject o;
    switch (index & ~StockObject) {
    case 0:
        o.kind = MetafileObject::Brush;
        o.brush.color = Qt::white;
        break;
    case 1:
        o.kind = MetafileObject::Brush;
        o.brush.color = QColor(192, 192, 192);
        break;
    case 2:
        o.kind = MetafileObject::Brush;
        o.brush.color = QColor(128, 128, 128);
        break;
    case 3:
        o.kind = MetafileObject::Brush;
        o.brush.color = QColor(64, 64, 64);
        break;
    case 4:
        o.kind = MetafileObject::Brush;
        o.brush.color = Qt::black;
        break;
    case 5:
        o.kind = MetafileObject::Brush;
        o.brush.style = MetafileBrush::Null;
        break;
    case 6:
        o.kind = MetafileObject::Pen;
        o.pen.color = Qt::white;
        break;
    case 7:
        o.kind = MetafileObject::Pen;
        break;
    case 8:
        o.kind = MetafileObject::Pen;
        o.pen.style = 5;
        break;
    case 10:
    case 11:
    case 16:
        o.kind = MetafileObject::Font;
        o.font.face = QStringLiteral("DejaVu Sans Mono");
        break;
    case 12:
    case 13:
    case 14:
    case 17:
        o.kind = MetafileObject::Font;
        break;
    case 18:
        o.kind = MetafileObject::Brush;
        break;
    case 19:
        o.kind = MetafileObject::Pen;
        break;
    default:
        break;
    }
    return o;
}

class EmfPlayer
{
public:
    explicit EmfPlayer(MetafileCanvas &canvas) : m_canvas(canvas) {}

    void play(quint32 type, MetafileBytes r);

private:
    void store(quint32 index, const MetafileObject &o)
    {
        if (index && index < 0x10000) m_objects.insert(index, o);
    }
    void polys(quint32 type, MetafileBytes r, bool small);
    void polyPolys(quint32 type, MetafileBytes r, bool small);
    QString string(MetafileBytes r, quint64 offset, quint64 chars, bool wide) const;
    // Glyph indices of the selected font, 16 or 8 bits each.
    static QVector<quint32> glyphIndexes(MetafileBytes r, quint64 offset, quint64 count, bool wide);
    // Draws the EMRTEXT at `at`; answers its size.
    quint64 text(MetafileBytes r, quint64 at, bool wide);
    void polyText(MetafileBytes r, bool wide);
    void smallText(MetafileBytes r);
    void blt(quint32 type, MetafileBytes r);
    void gradient(MetafileBytes r);
    QImage dib(MetafileBytes r, quint64 offBmi, quint64 offBits, bool keepAlpha = false);

    MetafileCanvas &m_canvas;
    QHash<quint32, MetafileObject> m_objects;
    qint64 m_bitmapBudget = limits::MaxPictureBitmapPixels;
};

QImage EmfPlayer::dib(MetafileBytes r, quint64 offBmi, quint64 offBits, bool keepAlpha)
{
    const MetafileBytes info = r.sub(r.u32(offBmi), r.u32(offBmi + 4));
    const MetafileBytes bits = r.sub(r.u32(offBits), r.u32(offBits + 4));
    if (!info.size() || !bits.size()) return {};
    return decodeDib(info, bits, keepAlpha, &m_bitmapBudget);
}

void EmfPlayer::polys(quint32 type, MetafileBytes r, bool small)
{
    const QPolygonF pts = pointsAt(r, 28, r.u32(24), small);
    switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYBEZIER16:
        m_canvas.polyBezier(pts);
        break;
    case U_EMR_POLYGON:
    case U_EMR_POLYGON16:
        m_canvas.polygon(pts);
        break;
    case U_EMR_POLYLINE:
    case U_EMR_POLYLINE16:
        m_canvas.polyline(pts);
        break;
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYBEZIERTO16:
        m_canvas.polyBezierTo(pts);
        break;
    case U_EMR_POLYLINETO:
    case U_EMR_POLYLINETO16:
        m_canvas.polylineTo(pts);
        break;
    case U_EMR_POLYDRAW:
    case U_EMR_POLYDRAW16: {
        const quint64 typesAt = 28 + quint64(pts.size()) * (small ? 4 : 8);
        const MetafileBytes types = r.sub(typesAt, quint64(pts.size()));
        if (types.size() == quint32(pts.size()) && !pts.isEmpty())
            m_canvas.polyDraw(
                pts, QByteArray(reinterpret_cast<const char *>(types.data()), int(types.size())));
        break;
    }
    default:
        break;
    }
}

void EmfPlayer::polyPolys(quint32 type, MetafileBytes r, bool small)
{
    const quint64 polyCount = r.u32(24), pointCount = r.u32(28);
    if (!r.has(32, polyCount * 4)) return;
    const QPolygonF all = pointsAt(r, 32 + polyCount * 4, pointCount, small);
    if (all.isEmpty()) return;
    QVector<QPolygonF> polys;
    quint64 used = 0;
    for (quint64 i = 0; i < polyCount; ++i) {
        const quint64 n = r.u32(32 + i * 4);
        if (n > pointCount - used) return;
        polys << all.mid(int(used), int(n));
        used += n;
    }
    if (type == U_EMR_POLYPOLYGON || type == U_EMR_POLYPOLYGON16)
        m_canvas.polyPolygon(polys);
    else
        m_canvas.polyPolyline(polys);
}

QVector<quint32> EmfPlayer::glyphIndexes(MetafileBytes r, quint64 offset, quint64 count, bool wide)
{
    if (count == 0 || count > quint64(limits::MaxTextChars) ||
        !r.has(offset, count * (wide ? 2 : 1)))
        return {};
    QVector<quint32> glyphs;
    glyphs.reserve(int(count));
    for (quint64 i = 0; i < count; ++i)
        glyphs << (wide ? r.u16(offset + i * 2) : r.u8(offset + i));
    return glyphs;
}

QString EmfPlayer::string(MetafileBytes r, quint64 offset, quint64 chars, bool wide) const
{
    if (chars == 0 || chars > quint64(limits::MaxTextChars)) return {};
    const MetafileBytes s = r.sub(offset, chars * (wide ? 2 : 1));
    if (!s.size()) return {};
    if (!wide)
        return MetafileCanvas::decodeText(
            QByteArray(reinterpret_cast<const char *>(s.data()), int(s.size())),
            m_canvas.state().font.charSet);
    QVector<ushort> units(static_cast<int>(chars));
    for (quint64 i = 0; i < chars; ++i)
        units[int(i)] = s.u16(i * 2);
    return QString::fromUtf16(units.constData(), int(chars));
}

quint64 EmfPlayer::text(MetafileBytes r, quint64 at, bool wide)
{
    const QPointF reference = pointAt(r, at);
    const quint64 chars = r.u32(at + 8), offString = r.u32(at + 12);
    const quint32 options = r.u32(at + 16);
    const bool hasRect = !(options & U_ETO_NO_RECT);
    const QRectF rect = hasRect ? boxAt(r, at + 20) : QRectF();
    const quint64 offDx = r.u32(at + (hasRect ? 36 : 20));
    const quint64 size = hasRect ? 40 : 24;
    const bool byIndex = options & U_ETO_GLYPH_INDEX;
    const QVector<quint32> glyphs =
        byIndex ? glyphIndexes(r, offString, chars, wide) : QVector<quint32>();
    const QString text = byIndex ? QString() : string(r, offString, chars, wide);
    const quint64 count = quint64(byIndex ? glyphs.size() : text.size());
    if (count == 0) return size;
    QVector<double> dx;
    const quint64 step = options & U_ETO_PDY ? 8 : 4;
    // Advances belong to the encoded characters; only a one-to-one string keeps them.
    if (offDx && r.has(offDx, chars * step) && count == chars) {
        dx.reserve(int(chars));
        for (quint64 i = 0; i < chars; ++i)
            dx << r.i32(offDx + i * step);
    }
    if (byIndex)
        m_canvas.glyphs(reference, glyphs, dx, options, rect);
    else
        m_canvas.text(reference, text, dx, options, rect);
    return size;
}

void EmfPlayer::polyText(MetafileBytes r, bool wide)
{
    const quint64 count = r.u32(AT(U_EMRPOLYTEXTOUTA, cStrings));
    quint64 at = AT(U_EMRPOLYTEXTOUTA, emrtext);
    for (quint64 i = 0; i < count && r.has(at, 24); ++i)
        at += text(r, at, wide);
}

void EmfPlayer::smallText(MetafileBytes r)
{
    const quint32 options = r.u32(AT(U_EMRSMALLTEXTOUT, fuOptions));
    const bool hasRect = !(options & U_ETO_NO_RECT);
    const quint64 at = sizeof(U_EMRSMALLTEXTOUT);
    const QRectF rect = hasRect ? boxAt(r, at) : QRectF();
    const quint64 offString = at + (hasRect ? 16 : 0), chars = r.u32(AT(U_EMRSMALLTEXTOUT, cChars));
    const bool wide = !(options & U_ETO_SMALL_CHARS);
    const QPointF reference = pointAt(r, AT(U_EMRSMALLTEXTOUT, Dest));
    if (options & U_ETO_GLYPH_INDEX) {
        m_canvas.glyphs(reference, glyphIndexes(r, offString, chars, wide), {}, options, rect);
        return;
    }
    const QString text = string(r, offString, chars, wide);
    if (!text.isEmpty()) m_canvas.text(reference, text, {}, options, rect);
}

void EmfPlayer::blt(quint32 type, MetafileBytes r)
{
    const QPointF dest = pointAt(r, 24);
    switch (type) {
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT:
    case U_EMR_MASKBLT:
    case U_EMR_TRANSPARENTBLT:
    case U_EMR_ALPHABLEND: {
        const QSizeF size(r.i32(32), r.i32(36));
        const quint32 rop = r.u32(AT(U_EMRBITBLT, dwRop));
        const QPointF src = pointAt(r, AT(U_EMRBITBLT, Src));
        const quint64 offBmi = AT(U_EMRBITBLT, offBmiSrc), offBits = AT(U_EMRBITBLT, offBitsSrc);
        const QRectF destRect(dest, size);
        if ((type == U_EMR_BITBLT || type == U_EMR_STRETCHBLT) &&
            r.u32(AT(U_EMRBITBLT, cbBmiSrc)) == 0) {
            m_canvas.patternBlt(destRect, rop);
            return;
        }
        QImage image = dib(r, offBmi, offBits, type == U_EMR_ALPHABLEND);
        if (image.isNull()) return;
        QSizeF srcSize = size;
        if (type == U_EMR_STRETCHBLT || type == U_EMR_TRANSPARENTBLT || type == U_EMR_ALPHABLEND)
            srcSize =
                QSizeF(r.i32(AT(U_EMRSTRETCHBLT, cSrc)), r.i32(AT(U_EMRSTRETCHBLT, cSrc) + 4));
        double opacity = 1.0;
        quint32 mode = rop;
        if (type == U_EMR_TRANSPARENTBLT) {
            const QColor key = colorAt(r, AT(U_EMRTRANSPARENTBLT, TColor));
            image.setAlphaChannel(image.createMaskFromColor(key.rgb(), Qt::MaskOutColor)
                                      .convertToFormat(QImage::Format_Grayscale8));
            mode = 0x00CC0020;
        } else if (type == U_EMR_ALPHABLEND) {
            const quint64 blend = AT(U_EMRALPHABLEND, Blend);
            opacity = r.u8(blend + 2) / 255.0;
            if (!(r.u8(blend + 3) & 1)) image = image.convertToFormat(QImage::Format_RGB32);
            mode = 0x00CC0020;
        }
        m_canvas.bitmap(destRect, image, QRectF(src, srcSize), mode, opacity);
        return;
    }
    case U_EMR_PLGBLT: {
        const QImage image = dib(r, AT(U_EMRPLGBLT, offBmiSrc), AT(U_EMRPLGBLT, offBitsSrc));
        if (image.isNull()) return;
        const QPointF p0 = pointAt(r, 24), p1 = pointAt(r, 32), p2 = pointAt(r, 40);
        const QPointF src = pointAt(r, AT(U_EMRPLGBLT, Src));
        const QSizeF srcSize(r.i32(AT(U_EMRPLGBLT, cSrc)), r.i32(AT(U_EMRPLGBLT, cSrc) + 4));
        if (srcSize.isEmpty()) return;
        // The parallelogram p0 (top-left), p1 (top-right), p2 (bottom-left) as a transform.
        const QTransform t((p1.x() - p0.x()) / srcSize.width(), (p1.y() - p0.y()) / srcSize.width(),
                           (p2.x() - p0.x()) / srcSize.height(),
                           (p2.y() - p0.y()) / srcSize.height(), p0.x(), p0.y());
        const QTransform saved = m_canvas.state().world;
        m_canvas.setWorldTransform(t * saved);
        m_canvas.bitmap(QRectF(QPointF(0, 0), srcSize), image, QRectF(src, srcSize), 0x00CC0020);
        m_canvas.state().world = saved;
        return;
    }
    case U_EMR_STRETCHDIBITS:
    case U_EMR_SETDIBITSTODEVICE: {
        const bool stretch = type == U_EMR_STRETCHDIBITS;
        const quint64 offBmi =
            stretch ? AT(U_EMRSTRETCHDIBITS, offBmiSrc) : AT(U_EMRSETDIBITSTODEVICE, offBmiSrc);
        const quint64 offBits =
            stretch ? AT(U_EMRSTRETCHDIBITS, offBitsSrc) : AT(U_EMRSETDIBITSTODEVICE, offBitsSrc);
        const QPointF src = pointAt(r, AT(U_EMRSTRETCHDIBITS, Src));
        const QSizeF srcSize(r.i32(AT(U_EMRSTRETCHDIBITS, cSrc)),
                             r.i32(AT(U_EMRSTRETCHDIBITS, cSrc) + 4));
        const QSizeF size = stretch ? QSizeF(r.i32(AT(U_EMRSTRETCHDIBITS, cDest)),
                                             r.i32(AT(U_EMRSTRETCHDIBITS, cDest) + 4))
                                    : srcSize;
        const quint32 rop = stretch ? r.u32(AT(U_EMRSTRETCHDIBITS, dwRop)) : 0x00CC0020;
        if (r.u32(offBmi + 4) == 0) {
            m_canvas.patternBlt(QRectF(dest, size), rop);
            return;
        }
        const QImage image = dib(r, offBmi, offBits);
        if (image.isNull()) return;
        // The source rectangle of a bottom-up bitmap counts rows from the bottom.
        const bool bottomUp = r.i32(r.u32(offBmi) + 8) > 0;
        const double y = bottomUp ? image.height() - src.y() - srcSize.height() : src.y();
        m_canvas.bitmap(QRectF(dest, size), image, QRectF(QPointF(src.x(), y), srcSize), rop);
        return;
    }
    default:
        return;
    }
}

void EmfPlayer::gradient(MetafileBytes r)
{
    const quint64 vertices = r.u32(AT(U_EMRGRADIENTFILL, nTriVert));
    const quint64 objects = r.u32(AT(U_EMRGRADIENTFILL, nGradObj));
    const quint32 mode = r.u32(AT(U_EMRGRADIENTFILL, ulMode));
    const quint64 at = sizeof(U_EMRGRADIENTFILL);
    const quint64 objectSize = mode == U_GRADIENT_FILL_TRIANGLE ? 12 : 8;
    if (!r.has(at, vertices * 16) || !r.has(at + vertices * 16, objects * objectSize)) return;
    auto vertex = [&](quint32 i, QPointF &p, QColor &c) {
        if (i >= vertices) return false;
        const quint64 o = at + quint64(i) * 16;
        p = pointAt(r, o);
        c = QColor(r.u16(o + 8) >> 8, r.u16(o + 10) >> 8, r.u16(o + 12) >> 8);
        return true;
    };
    for (quint64 k = 0; k < objects; ++k) {
        const quint64 o = at + vertices * 16 + k * objectSize;
        QPointF p1, p2, p3;
        QColor c1, c2, c3;
        if (!vertex(r.u32(o), p1, c1) || !vertex(r.u32(o + 4), p2, c2)) continue;
        if (mode == U_GRADIENT_FILL_TRIANGLE) {
            if (!vertex(r.u32(o + 8), p3, c3)) continue;
            // Drawn in the average colour of its corners.
            QPainterPath path;
            path.addPolygon(QPolygonF({p1, p2, p3}));
            path.closeSubpath();
            m_canvas.fillLogical(path, QColor((c1.red() + c2.red() + c3.red()) / 3,
                                              (c1.green() + c2.green() + c3.green()) / 3,
                                              (c1.blue() + c2.blue() + c3.blue()) / 3));
        } else {
            m_canvas.gradientRect(QRectF(p1, p2), c1, c2, mode == U_GRADIENT_FILL_RECT_V);
        }
    }
}

void EmfPlayer::play(quint32 type, MetafileBytes r)
{
    MetafileCanvas &c = m_canvas;
    MetafileState &s = c.state();
    switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYGON:
    case U_EMR_POLYLINE:
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYLINETO:
    case U_EMR_POLYDRAW:
        polys(type, r, false);
        break;
    case U_EMR_POLYBEZIER16:
    case U_EMR_POLYGON16:
    case U_EMR_POLYLINE16:
    case U_EMR_POLYBEZIERTO16:
    case U_EMR_POLYLINETO16:
    case U_EMR_POLYDRAW16:
        polys(type, r, true);
        break;
    case U_EMR_POLYPOLYLINE:
    case U_EMR_POLYPOLYGON:
        polyPolys(type, r, false);
        break;
    case U_EMR_POLYPOLYLINE16:
    case U_EMR_POLYPOLYGON16:
        polyPolys(type, r, true);
        break;
    case U_EMR_SETWINDOWEXTEX:
        c.setWindowExt(QSizeF(r.i32(8), r.i32(12)));
        break;
    case U_EMR_SETWINDOWORGEX:
        c.setWindowOrg(pointAt(r, 8));
        break;
    case U_EMR_SETVIEWPORTEXTEX:
        c.setViewportExt(QSizeF(r.i32(8), r.i32(12)));
        break;
    case U_EMR_SETVIEWPORTORGEX:
        c.setViewportOrg(pointAt(r, 8));
        break;
    case U_EMR_SCALEVIEWPORTEXTEX:
        c.scaleViewportExt(r.i32(8), r.i32(12), r.i32(16), r.i32(20));
        break;
    case U_EMR_SCALEWINDOWEXTEX:
        c.scaleWindowExt(r.i32(8), r.i32(12), r.i32(16), r.i32(20));
        break;
    case U_EMR_SETPIXELV:
        c.setPixel(pointAt(r, 8), colorAt(r, 16));
        break;
    case U_EMR_SETMAPMODE:
        c.setMapMode(int(r.u32(8)));
        break;
    case U_EMR_SETBKMODE:
        s.opaqueBackground = r.u32(8) == U_OPAQUE;
        break;
    case U_EMR_SETPOLYFILLMODE:
        s.windingFill = r.u32(8) == U_WINDING;
        break;
    case U_EMR_SETROP2:
        s.rop2 = int(r.u32(8));
        break;
    case U_EMR_SETTEXTALIGN:
        s.textAlign = int(r.u32(8));
        break;
    case U_EMR_SETTEXTCOLOR:
        s.textColor = colorAt(r, 8);
        break;
    case U_EMR_SETBKCOLOR:
        s.bkColor = colorAt(r, 8);
        break;
    case U_EMR_SETARCDIRECTION:
        s.clockwiseArcs = r.u32(8) == U_AD_CLOCKWISE;
        break;
    case U_EMR_OFFSETCLIPRGN:
        c.offsetClip(pointAt(r, 8));
        break;
    case U_EMR_MOVETOEX:
        c.moveTo(pointAt(r, 8));
        break;
    case U_EMR_LINETO:
        c.lineTo(pointAt(r, 8));
        break;
    case U_EMR_EXCLUDECLIPRECT:
        c.excludeClipRect(boxAt(r, 8));
        break;
    case U_EMR_INTERSECTCLIPRECT:
        c.intersectClipRect(boxAt(r, 8));
        break;
    case U_EMR_SAVEDC:
        c.save();
        break;
    case U_EMR_RESTOREDC:
        c.restore(r.i32(8));
        break;
    case U_EMR_SETWORLDTRANSFORM:
        c.setWorldTransform(transformAt(r, 8));
        break;
    case U_EMR_MODIFYWORLDTRANSFORM:
        c.modifyWorldTransform(transformAt(r, 8), int(r.u32(32)));
        break;
    case U_EMR_SELECTOBJECT: {
        const quint32 index = r.u32(8);
        if (index & StockObject)
            c.select(stockObject(index));
        else if (m_objects.contains(index))
            c.select(m_objects.value(index));
        break;
    }
    case U_EMR_DELETEOBJECT:
        m_objects.remove(r.u32(8));
        break;
    case U_EMR_CREATEPEN: {
        MetafileObject o;
        o.kind = MetafileObject::Pen;
        o.pen.style = int(r.u32(12));
        o.pen.width = r.i32(16);
        o.pen.cosmetic = o.pen.width <= 0;
        o.pen.color = colorAt(r, 24);
        store(r.u32(8), o);
        break;
    }
    case U_EMR_EXTCREATEPEN: {
        const quint64 at = AT(U_EMREXTCREATEPEN, elp);
        MetafileObject o;
        o.kind = MetafileObject::Pen;
        const quint32 style = r.u32(at);
        o.pen.style = int(style & 0xFFFF);
        o.pen.cosmetic = !(style & U_PS_GEOMETRIC);
        o.pen.width = o.pen.cosmetic ? 0 : r.u32(at + 4);
        o.pen.color = colorAt(r, at + 12);
        if (r.u32(at + 8) == U_BS_NULL) o.pen.style = 5;
        const quint64 entries = r.u32(at + 20);
        if (entries <= 16 && r.has(at + 24, entries * 4))
            for (quint64 i = 0; i < entries; ++i)
                o.pen.dashes << r.u32(at + 24 + i * 4);
        store(r.u32(8), o);
        break;
    }
    case U_EMR_CREATEBRUSHINDIRECT: {
        MetafileObject o;
        o.kind = MetafileObject::Brush;
        const quint32 style = r.u32(12);
        o.brush.color = colorAt(r, 16);
        o.brush.hatch = int(r.u32(20));
        o.brush.style = style == U_BS_NULL      ? MetafileBrush::Null
                        : style == U_BS_HATCHED ? MetafileBrush::Hatched
                                                : MetafileBrush::Solid;
        store(r.u32(8), o);
        break;
    }
    case U_EMR_CREATEMONOBRUSH:
    case U_EMR_CREATEDIBPATTERNBRUSHPT: {
        MetafileObject o;
        o.kind = MetafileObject::Brush;
        o.brush.style = MetafileBrush::Pattern;
        o.brush.pattern = dib(r, 16, 24);
        o.brush.monochrome = type == U_EMR_CREATEMONOBRUSH;
        store(r.u32(8), o);
        break;
    }
    case U_EMR_EXTCREATEFONTINDIRECTW: {
        const quint64 at = AT(U_EMREXTCREATEFONTINDIRECTW, elfw);
        MetafileObject o;
        o.kind = MetafileObject::Font;
        MetafileFont &f = o.font;
        f.height = r.i32(at);
        f.width = std::abs(r.i32(at + 4));
        f.escapement = r.i32(at + 8);
        f.weight = r.i32(at + 16);
        f.italic = r.u8(at + 20);
        f.underline = r.u8(at + 21);
        f.strikeOut = r.u8(at + 22);
        f.charSet = r.u8(at + 23);
        for (int i = 0; i < U_LF_FACESIZE; ++i) {
            const ushort ch = r.u16(at + 28 + quint64(i) * 2);
            if (!ch) break;
            f.face += QChar(ch);
        }
        store(r.u32(8), o);
        break;
    }
    case U_EMR_ANGLEARC:
        c.angleArc(pointAt(r, 8), r.u32(16), r.f32(20), r.f32(24));
        break;
    case U_EMR_ELLIPSE:
        c.ellipse(boxAt(r, 8));
        break;
    case U_EMR_RECTANGLE:
        c.rectangle(boxAt(r, 8));
        break;
    case U_EMR_ROUNDRECT:
        c.roundRect(boxAt(r, 8), QSizeF(r.i32(24), r.i32(28)));
        break;
    case U_EMR_ARC:
        c.arc(MetafileCanvas::Arc, boxAt(r, 8), pointAt(r, 24), pointAt(r, 32));
        break;
    case U_EMR_ARCTO:
        c.arc(MetafileCanvas::ArcTo, boxAt(r, 8), pointAt(r, 24), pointAt(r, 32));
        break;
    case U_EMR_CHORD:
        c.arc(MetafileCanvas::Chord, boxAt(r, 8), pointAt(r, 24), pointAt(r, 32));
        break;
    case U_EMR_PIE:
        c.arc(MetafileCanvas::Pie, boxAt(r, 8), pointAt(r, 24), pointAt(r, 32));
        break;
    case U_EMR_BEGINPATH:
        c.beginPath();
        break;
    case U_EMR_ENDPATH:
        c.endPath();
        break;
    case U_EMR_CLOSEFIGURE:
        c.closeFigure();
        break;
    case U_EMR_FILLPATH:
        c.fillPath();
        break;
    case U_EMR_STROKEANDFILLPATH:
        c.strokeAndFillPath();
        break;
    case U_EMR_STROKEPATH:
        c.strokePath();
        break;
    case U_EMR_WIDENPATH:
        c.widenPath();
        break;
    case U_EMR_SELECTCLIPPATH:
        c.selectClipPath(int(r.u32(8)));
        break;
    case U_EMR_ABORTPATH:
        c.abortPath();
        break;
    case U_EMR_FILLRGN: {
        const quint32 brush = r.u32(AT(U_EMRFILLRGN, ihBrush));
        const MetafileObject o = brush & StockObject ? stockObject(brush) : m_objects.value(brush);
        if (o.kind == MetafileObject::Brush)
            c.fillRegion(regionAt(r, AT(U_EMRFILLRGN, RgnData), r.u32(AT(U_EMRFILLRGN, cbRgnData))),
                         o.brush);
        break;
    }
    case U_EMR_FRAMERGN: {
        const quint32 brush = r.u32(AT(U_EMRFRAMERGN, ihBrush));
        const MetafileObject o = brush & StockObject ? stockObject(brush) : m_objects.value(brush);
        const quint64 stroke = AT(U_EMRFRAMERGN, szlStroke);
        if (o.kind == MetafileObject::Brush)
            c.frameRegion(
                regionAt(r, AT(U_EMRFRAMERGN, RgnData), r.u32(AT(U_EMRFRAMERGN, cbRgnData))),
                o.brush, QSizeF(r.i32(stroke), r.i32(stroke + 4)));
        break;
    }
    case U_EMR_PAINTRGN:
        c.fillRegion(regionAt(r, AT(U_EMRINVERTRGN, RgnData), r.u32(AT(U_EMRINVERTRGN, cbRgnData))),
                     s.brush);
        break;
    case U_EMR_EXTSELECTCLIPRGN: {
        const quint32 size = r.u32(8), mode = r.u32(12);
        if (size == 0 && mode == U_RGN_COPY) {
            c.resetClip();
        } else if (size > 0) {
            QPainterPath path;
            path.addRegion(regionAt(r, 16, size));
            c.setClipRegion(path, int(mode));
        }
        break;
    }
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT:
    case U_EMR_MASKBLT:
    case U_EMR_PLGBLT:
    case U_EMR_SETDIBITSTODEVICE:
    case U_EMR_STRETCHDIBITS:
    case U_EMR_ALPHABLEND:
    case U_EMR_TRANSPARENTBLT:
        blt(type, r);
        break;
    case U_EMR_EXTTEXTOUTA:
        text(r, AT(U_EMREXTTEXTOUTW, emrtext), false);
        break;
    case U_EMR_EXTTEXTOUTW:
        text(r, AT(U_EMREXTTEXTOUTW, emrtext), true);
        break;
    case U_EMR_POLYTEXTOUTA:
        polyText(r, false);
        break;
    case U_EMR_POLYTEXTOUTW:
        polyText(r, true);
        break;
    case U_EMR_SMALLTEXTOUT:
        smallText(r);
        break;
    case U_EMR_GRADIENTFILL:
        gradient(r);
        break;
    default:
        break; // palettes, colour management, comments, escapes: nothing to draw
    }
}

} // namespace

QRectF EmfHeader::deviceFrame() const
{
    const QRectF mm(QPointF(frame.left(), frame.top()) / 100.0,
                    QPointF(frame.right(), frame.bottom()) / 100.0);
    return QRectF(mm.left() * pixelsPerMm.width(), mm.top() * pixelsPerMm.height(),
                  mm.width() * pixelsPerMm.width(), mm.height() * pixelsPerMm.height());
}

bool readEmfHeader(MetafileBytes file, EmfHeader &h)
{
    if (file.u32(0) != U_EMR_HEADER || file.u32(AT(U_EMRHEADER, dSignature)) != EmfSignature)
        return false;
    const quint32 size = file.u32(4);
    if (size < AT(U_EMRHEADER, cbPixelFormat) || !file.has(0, size)) return false;
    h.bounds = QRect(QPoint(file.i32(8), file.i32(12)), QPoint(file.i32(16), file.i32(20)));
    h.frame = QRect(QPoint(file.i32(24), file.i32(28)), QPoint(file.i32(32), file.i32(36)));
    h.handles = file.u16(AT(U_EMRHEADER, nHandles));
    const quint64 device = AT(U_EMRHEADER, szlDevice), mm = AT(U_EMRHEADER, szlMillimeters);
    const double dx = file.i32(device), dy = file.i32(device + 4);
    const double mx = file.i32(mm), my = file.i32(mm + 4);
    h.pixelsPerMm = QSizeF(96 / 25.4, 96 / 25.4);
    if (dx > 0 && dy > 0 && mx > 0 && my > 0) {
        const QSizeF ppm(dx / mx, dy / my);
        // A reference device between 10 and 10000 dpi; anything else is taken as a screen.
        if (ppm.width() > 0.4 && ppm.width() < 400 && ppm.height() > 0.4 && ppm.height() < 400)
            h.pixelsPerMm = ppm;
    }
    return true;
}

void playEmf(MetafileBytes file, MetafileCanvas &canvas, int nesting)
{
    EmfPlayer player(canvas);
    emfplus::EmfPlusPlayer plus(canvas, file.size(), nesting);
    quint64 pos = file.u32(4);
    for (bool first = true; file.has(pos, 8); first = false) {
        const quint32 type = file.u32(pos), size = file.u32(pos + 4);
        if (size < 8 || !file.has(pos, size)) break;
        if (type == U_EMR_EOF) break;
        const MetafileBytes record = file.sub(pos, size);
        if (!plus.take(type, record, first) && !plus.skipsGdi()) player.play(type, record);
        pos += size;
    }
}

} // namespace metafile
