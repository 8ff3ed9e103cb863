#include "WmfPlayer.h"

#include "MetafileCanvas.h"
#include "MetafileDib.h"
#include "MetafileLimits.h"

#include <uwmf.h>

#include <QHash>

#include <cmath>
#include <set>

namespace metafile {

namespace {

constexpr quint32 PlaceableKey = 0x9AC6CDD7;
constexpr quint32 PlaceableSize = 22;
constexpr quint32 HeaderSize = 18;
constexpr int MaxObjects = 0x10000;
constexpr quint16 SetWindowOrgRecord = 0x020B, SetWindowExtRecord = 0x020C;

QColor colorAt(MetafileBytes r, quint64 at)
{
    return QColor(r.u8(at), r.u8(at + 1), r.u8(at + 2));
}

// The i-th 16-bit parameter of a record.
qint16 param(MetafileBytes r, int i)
{
    return r.i16(6 + quint64(i) * 2);
}

// Rectangles written as bottom, right, top, left from parameter `i` on.
QRectF reversedBox(MetafileBytes r, int i)
{
    return QRectF(QPointF(param(r, i + 3), param(r, i + 2)), QPointF(param(r, i + 1), param(r, i)));
}

QPointF reversedPoint(MetafileBytes r, int i)
{
    return QPointF(param(r, i + 1), param(r, i));
}

QPolygonF pointsAt(MetafileBytes r, quint64 at, quint64 count)
{
    if (!r.has(at, count * 4)) return {};
    QPolygonF points;
    points.reserve(int(count));
    for (quint64 i = 0; i < count; ++i)
        points << QPointF(r.i16(at + i * 4), r.i16(at + i * 4 + 2));
    return points;
}

// A region object: its scans of horizontal spans, in logical units. Some writers store
// only a rectangle (bottom, right, top, left) instead of the region object.
QRegion regionAt(MetafileBytes r)
{
    if (!r.has(6, 22)) {
        const QRect box = reversedBox(r, 0).toRect().normalized();
        return box.isValid() ? QRegion(box) : QRegion();
    }
    const int scans = r.u16(16);
    QVector<QRect> rects;
    quint64 at = 28;
    for (int s = 0; s < scans; ++s) {
        const quint64 count = r.u16(at);
        if (!r.has(at, 6 + count * 2 + 2) || rects.size() + int(count / 2) > limits::MaxRegionRects)
            break;
        const int top = r.i16(at + 2), bottom = r.i16(at + 4);
        for (quint64 k = 0; k + 1 < count; k += 2) {
            const QRect rect(QPoint(r.i16(at + 6 + k * 2), top),
                             QPoint(r.i16(at + 8 + k * 2) - 1, bottom - 1));
            if (rect.isValid()) rects << rect;
        }
        at += 6 + count * 2 + 2;
    }
    if (rects.isEmpty()) {
        const QRect box(QPoint(r.i16(20), r.i16(22)), QPoint(r.i16(24) - 1, r.i16(26) - 1));
        if (box.isValid()) rects << box;
    }
    QRegion region;
    region.setRects(rects.constData(), rects.size());
    return region;
}

class WmfPlayer
{
public:
    explicit WmfPlayer(MetafileCanvas &canvas) : m_canvas(canvas) {}
    void play(quint16 function, MetafileBytes r);

private:
    void create(const MetafileObject &o);
    void remove(int index);
    void text(MetafileBytes r, bool extended);
    void blt(quint16 function, MetafileBytes r);
    QPainterPath regionPath(const QRegion &logical);
    QPointF viewportOffset(const QPointF &fileUnits) const;
    static QString faceAt(MetafileBytes r, quint64 at);

    MetafileCanvas &m_canvas;
    QHash<int, MetafileObject> m_objects;
    std::set<int> m_free;
    int m_next = 0;
    qint64 m_bitmapBudget = limits::MaxPictureBitmapPixels;
};

void WmfPlayer::create(const MetafileObject &o)
{
    // Each new object takes the lowest free slot of the table.
    int index = m_next;
    if (!m_free.empty()) {
        index = *m_free.begin();
        m_free.erase(m_free.begin());
    } else if (m_next < MaxObjects) {
        ++m_next;
    } else {
        return;
    }
    m_objects.insert(index, o);
}

void WmfPlayer::remove(int index)
{
    if (m_objects.remove(index)) m_free.insert(index);
}

QString WmfPlayer::faceAt(MetafileBytes r, quint64 at)
{
    QByteArray face;
    for (quint64 i = 0; i < 32; ++i) {
        const char ch = char(r.u8(at + i));
        if (!ch) break;
        face += ch;
    }
    return QString::fromLatin1(face);
}

// The placement owns the viewport's extent; a viewport origin the file sets is taken in its
// device units, which a placeable file shares with its logical units.
QPointF WmfPlayer::viewportOffset(const QPointF &fileUnits) const
{
    const MetafileState &s = m_canvas.state();
    return QPointF(fileUnits.x() * std::fabs(s.viewportExt.width() / s.windowExt.width()),
                   fileUnits.y() * std::fabs(s.viewportExt.height() / s.windowExt.height()));
}

QPainterPath WmfPlayer::regionPath(const QRegion &logical)
{
    QPainterPath path;
    path.addRegion(logical);
    return m_canvas.logicalToDevice().map(path);
}

void WmfPlayer::text(MetafileBytes r, bool extended)
{
    QPointF at;
    quint64 count = 0, stringAt = 0;
    quint32 options = 0;
    QRectF rect;
    if (extended) {
        at = reversedPoint(r, 0);
        count = quint16(param(r, 2));
        options = quint16(param(r, 3));
        stringAt = 14;
        if (options & (U_ETO_OPAQUE | U_ETO_CLIPPED)) {
            rect = QRectF(QPointF(param(r, 4), param(r, 5)), QPointF(param(r, 6), param(r, 7)));
            stringAt += 8;
        }
    } else {
        count = quint16(param(r, 0));
        stringAt = 8;
        const quint64 after = stringAt + ((count + 1) & ~quint64(1));
        at = QPointF(r.i16(after + 2), r.i16(after));
    }
    if (count == 0 || !r.has(stringAt, count)) return;
    const QByteArray bytes(reinterpret_cast<const char *>(r.data() + stringAt), int(count));
    const QString string = MetafileCanvas::decodeText(bytes, m_canvas.state().font.charSet);
    QVector<double> dx;
    const quint64 dxAt = stringAt + ((count + 1) & ~quint64(1));
    if (extended && r.has(dxAt, count * 2) && quint64(string.size()) == count)
        for (quint64 i = 0; i < count; ++i)
            dx << r.i16(dxAt + i * 2);
    m_canvas.text(at, string, dx, options, rect);
}

void WmfPlayer::blt(quint16 function, MetafileBytes r)
{
    // A record without a bitmap is three words longer than its parameter count says.
    const bool noBitmap = r.u32(0) == quint32((function >> 8) + 3);
    const quint32 rop = r.u32(6);
    switch (function & U_WMR_MASK) {
    case U_WMR_DIBBITBLT:
    case U_WMR_BITBLT:
        if (noBitmap) {
            m_canvas.patternBlt(QRectF(reversedPoint(r, 7), QSizeF(param(r, 6), param(r, 5))), rop);
        } else if ((function & U_WMR_MASK) == U_WMR_DIBBITBLT) {
            const QImage image = decodePackedDib(r.sub(22, r.size() - 22), false, &m_bitmapBudget);
            const QSizeF size(param(r, 5), param(r, 4));
            m_canvas.bitmap(QRectF(reversedPoint(r, 6), size), image,
                            QRectF(reversedPoint(r, 2), size), rop);
        }
        break;
    case U_WMR_DIBSTRETCHBLT:
    case U_WMR_STRETCHBLT:
        if (noBitmap) {
            m_canvas.patternBlt(QRectF(reversedPoint(r, 9), QSizeF(param(r, 8), param(r, 7))), rop);
        } else if ((function & U_WMR_MASK) == U_WMR_DIBSTRETCHBLT) {
            const QImage image = decodePackedDib(r.sub(26, r.size() - 26), false, &m_bitmapBudget);
            m_canvas.bitmap(QRectF(reversedPoint(r, 8), QSizeF(param(r, 7), param(r, 6))), image,
                            QRectF(reversedPoint(r, 4), QSizeF(param(r, 3), param(r, 2))), rop);
        }
        break;
    case U_WMR_STRETCHDIB: {
        const MetafileBytes dib = r.sub(28, r.size() - 28);
        const QImage image = decodePackedDib(dib, false, &m_bitmapBudget);
        if (image.isNull()) break;
        const QSizeF srcSize(param(r, 4), param(r, 3));
        QPointF src = reversedPoint(r, 5);
        if (dib.i32(8) > 0) src.setY(image.height() - src.y() - srcSize.height());
        m_canvas.bitmap(QRectF(reversedPoint(r, 9), QSizeF(param(r, 8), param(r, 7))), image,
                        QRectF(src, srcSize), rop);
        break;
    }
    case U_WMR_SETDIBTODEV: {
        const MetafileBytes dib = r.sub(24, r.size() - 24);
        const QImage image = decodePackedDib(dib, false, &m_bitmapBudget);
        if (image.isNull()) break;
        const QSizeF size(param(r, 6), param(r, 5));
        QPointF src = reversedPoint(r, 3);
        if (dib.i32(8) > 0) src.setY(image.height() - src.y() - size.height());
        m_canvas.bitmap(QRectF(reversedPoint(r, 7), size), image, QRectF(src, size), 0x00CC0020);
        break;
    }
    default:
        break;
    }
}

void WmfPlayer::play(quint16 function, MetafileBytes r)
{
    MetafileCanvas &c = m_canvas;
    MetafileState &s = c.state();
    switch (function & U_WMR_MASK) {
    case U_WMR_SETBKCOLOR:
        s.bkColor = colorAt(r, 6);
        break;
    case U_WMR_SETBKMODE:
        s.opaqueBackground = param(r, 0) == U_OPAQUE;
        break;
    case U_WMR_SETMAPMODE:
        // The placement fixes the viewport; only the choice of equal axes stays the file's.
        if (param(r, 0) == U_MM_ISOTROPIC || param(r, 0) == U_MM_ANISOTROPIC)
            c.setMapMode(param(r, 0));
        break;
    case U_WMR_SETROP2:
        s.rop2 = param(r, 0);
        break;
    case U_WMR_SETPOLYFILLMODE:
        s.windingFill = param(r, 0) == U_WINDING;
        break;
    case U_WMR_SETTEXTCOLOR:
        s.textColor = colorAt(r, 6);
        break;
    case U_WMR_SETTEXTALIGN:
        s.textAlign = quint16(param(r, 0));
        break;
    case U_WMR_SETWINDOWORG:
        c.setWindowOrg(reversedPoint(r, 0));
        break;
    case U_WMR_SETWINDOWEXT:
        c.setWindowExt(QSizeF(param(r, 1), param(r, 0)));
        break;
    case U_WMR_OFFSETWINDOWORG:
        c.setWindowOrg(s.windowOrg + reversedPoint(r, 0));
        break;
    case U_WMR_SCALEWINDOWEXT:
        c.scaleWindowExt(param(r, 3), param(r, 2), param(r, 1), param(r, 0));
        break;
    case U_WMR_SETVIEWPORTORG:
        c.setViewportOrg(viewportOffset(reversedPoint(r, 0)));
        break;
    case U_WMR_OFFSETVIEWPORTORG:
        c.setViewportOrg(s.viewportOrg + viewportOffset(reversedPoint(r, 0)));
        break;
    case U_WMR_LINETO:
        c.lineTo(reversedPoint(r, 0));
        break;
    case U_WMR_MOVETO:
        c.moveTo(reversedPoint(r, 0));
        break;
    case U_WMR_EXCLUDECLIPRECT:
        c.excludeClipRect(reversedBox(r, 0));
        break;
    case U_WMR_INTERSECTCLIPRECT:
        c.intersectClipRect(reversedBox(r, 0));
        break;
    case U_WMR_OFFSETCLIPRGN:
        c.offsetClip(reversedPoint(r, 0));
        break;
    case U_WMR_ARC:
        c.arc(MetafileCanvas::Arc, reversedBox(r, 4), reversedPoint(r, 2), reversedPoint(r, 0));
        break;
    case U_WMR_CHORD:
        c.arc(MetafileCanvas::Chord, reversedBox(r, 4), reversedPoint(r, 2), reversedPoint(r, 0));
        break;
    case U_WMR_PIE:
        c.arc(MetafileCanvas::Pie, reversedBox(r, 4), reversedPoint(r, 2), reversedPoint(r, 0));
        break;
    case U_WMR_ELLIPSE:
        c.ellipse(reversedBox(r, 0));
        break;
    case U_WMR_RECTANGLE:
        c.rectangle(reversedBox(r, 0));
        break;
    case U_WMR_ROUNDRECT:
        c.roundRect(reversedBox(r, 2), QSizeF(param(r, 1), param(r, 0)));
        break;
    case U_WMR_PATBLT:
        c.patternBlt(QRectF(reversedPoint(r, 4), QSizeF(param(r, 3), param(r, 2))), r.u32(6));
        break;
    case U_WMR_SAVEDC:
        c.save();
        break;
    case U_WMR_RESTOREDC:
        c.restore(param(r, 0));
        break;
    case U_WMR_SETPIXEL:
        c.setPixel(reversedPoint(r, 2), colorAt(r, 6));
        break;
    case U_WMR_TEXTOUT:
        text(r, false);
        break;
    case U_WMR_EXTTEXTOUT:
        text(r, true);
        break;
    case U_WMR_POLYGON:
        c.polygon(pointsAt(r, 8, quint16(param(r, 0))));
        break;
    case U_WMR_POLYLINE:
        c.polyline(pointsAt(r, 8, quint16(param(r, 0))));
        break;
    case U_WMR_POLYPOLYGON: {
        const quint64 polys = quint16(param(r, 0));
        if (!r.has(8, polys * 2)) break;
        quint64 total = 0;
        for (quint64 i = 0; i < polys; ++i)
            total += r.u16(8 + i * 2);
        const QPolygonF all = pointsAt(r, 8 + polys * 2, total);
        if (all.isEmpty()) break;
        QVector<QPolygonF> list;
        int used = 0;
        for (quint64 i = 0; i < polys; ++i) {
            const int n = r.u16(8 + i * 2);
            list << all.mid(used, n);
            used += n;
        }
        c.polyPolygon(list);
        break;
    }
    case U_WMR_SELECTCLIPREGION: {
        const auto it = m_objects.constFind(quint16(param(r, 0)));
        if (it != m_objects.constEnd() && it->kind == MetafileObject::Region)
            c.setClipRegion(regionPath(it->region), 5);
        else
            c.resetClip();
        break;
    }
    case U_WMR_SELECTOBJECT: {
        const auto it = m_objects.constFind(quint16(param(r, 0)));
        if (it != m_objects.constEnd()) c.select(*it);
        break;
    }
    case U_WMR_DELETEOBJECT:
        remove(quint16(param(r, 0)));
        break;
    case U_WMR_CREATEPENINDIRECT: {
        MetafileObject o;
        o.kind = MetafileObject::Pen;
        o.pen.style = quint16(param(r, 0));
        o.pen.width = param(r, 1);
        o.pen.cosmetic = o.pen.width <= 0;
        o.pen.color = colorAt(r, 12);
        create(o);
        break;
    }
    case U_WMR_CREATEBRUSHINDIRECT: {
        MetafileObject o;
        o.kind = MetafileObject::Brush;
        const int style = param(r, 0);
        o.brush.color = colorAt(r, 8);
        o.brush.hatch = param(r, 3);
        o.brush.style = style == U_BS_NULL      ? MetafileBrush::Null
                        : style == U_BS_HATCHED ? MetafileBrush::Hatched
                                                : MetafileBrush::Solid;
        create(o);
        break;
    }
    case U_WMR_DIBCREATEPATTERNBRUSH: {
        MetafileObject o;
        o.kind = MetafileObject::Brush;
        o.brush.style = MetafileBrush::Pattern;
        o.brush.pattern = decodePackedDib(r.sub(10, r.size() - 10), false, &m_bitmapBudget);
        create(o);
        break;
    }
    case U_WMR_CREATEFONTINDIRECT: {
        MetafileObject o;
        o.kind = MetafileObject::Font;
        o.font.height = param(r, 0);
        o.font.width = std::abs(param(r, 1));
        o.font.escapement = param(r, 2);
        o.font.weight = param(r, 4);
        o.font.italic = r.u8(16);
        o.font.underline = r.u8(17);
        o.font.strikeOut = r.u8(18);
        o.font.charSet = r.u8(19);
        o.font.face = faceAt(r, 24);
        create(o);
        break;
    }
    case U_WMR_CREATEREGION: {
        MetafileObject o;
        o.kind = MetafileObject::Region;
        o.region = regionAt(r);
        create(o);
        break;
    }
    case U_WMR_CREATEPALETTE:
    case U_WMR_CREATEPATTERNBRUSH:
    case U_WMR_CREATEBITMAP:
    case U_WMR_CREATEBITMAPINDIRECT: {
        // Objects that draw nothing here still take their slot in the table.
        MetafileObject o;
        o.kind = MetafileObject::Other;
        if ((function & U_WMR_MASK) == U_WMR_CREATEPATTERNBRUSH) {
            o.kind = MetafileObject::Brush;
            o.brush.color = Qt::gray;
        }
        create(o);
        break;
    }
    case U_WMR_FILLREGION:
    case U_WMR_FRAMEREGION: {
        const auto region = m_objects.constFind(quint16(param(r, 0)));
        const auto brush = m_objects.constFind(quint16(param(r, 1)));
        if (region == m_objects.constEnd() || brush == m_objects.constEnd() ||
            region->kind != MetafileObject::Region || brush->kind != MetafileObject::Brush)
            break;
        const QRegion device = regionPath(region->region).toFillPolygon().toPolygon();
        if ((function & U_WMR_MASK) == U_WMR_FILLREGION)
            c.fillRegion(device, brush->brush);
        else
            c.frameRegion(device, brush->brush, QSizeF(param(r, 3), param(r, 2)));
        break;
    }
    case U_WMR_PAINTREGION: {
        const auto region = m_objects.constFind(quint16(param(r, 0)));
        if (region != m_objects.constEnd() && region->kind == MetafileObject::Region)
            c.fillRegion(regionPath(region->region).toFillPolygon().toPolygon(), s.brush);
        break;
    }
    case U_WMR_DIBBITBLT:
    case U_WMR_DIBSTRETCHBLT:
    case U_WMR_STRETCHDIB:
    case U_WMR_SETDIBTODEV:
    case U_WMR_BITBLT:
    case U_WMR_STRETCHBLT:
        blt(function, r);
        break;
    default:
        break; // palettes, escapes, viewport records (the placement owns the viewport)
    }
}

} // namespace

QSizeF WmfHeader::pixelSize() const
{
    const double perInch = inch > 0 ? inch : 96;
    return QSizeF(box.width() * 96 / perInch, box.height() * 96 / perInch);
}

bool readWmfHeader(MetafileBytes file, WmfHeader &h)
{
    quint32 at = 0;
    h = WmfHeader();
    if (file.u32(0) == PlaceableKey) {
        h.placeable = true;
        h.inch = file.u16(14);
        at = PlaceableSize;
    }
    const quint16 type = file.u16(at), headerWords = file.u16(at + 2);
    if (!file.has(at, HeaderSize) || (type != 1 && type != 2) || headerWords != 9) return false;
    const quint16 version = file.u16(at + 4);
    if (version != 0x0100 && version != 0x0300) return false;
    h.objects = file.u16(at + 10);
    h.records = at + HeaderSize;
    if (h.placeable) {
        const int l = file.i16(6), t = file.i16(8), r = file.i16(10), b = file.i16(12);
        h.box =
            QRect(QPoint(std::min(l, r), std::min(t, b)), QSize(std::abs(r - l), std::abs(b - t)));
        return h.inch > 0 && h.box.width() > 0 && h.box.height() > 0;
    }
    // Without a placeable header the first window records say where the picture lies.
    QPoint org;
    QSize ext;
    bool haveOrg = false, haveExt = false;
    quint64 pos = h.records;
    while (file.has(pos, 6) && !haveExt) {
        const quint64 size = quint64(file.u32(pos)) * 2;
        const quint16 function = file.u16(pos + 4);
        if (size < 6 || !file.has(pos, size) || function == 0) break;
        if (function == SetWindowOrgRecord && !haveOrg) {
            org = QPoint(file.i16(pos + 8), file.i16(pos + 6));
            haveOrg = true;
        }
        if (function == SetWindowExtRecord) {
            ext = QSize(file.i16(pos + 8), file.i16(pos + 6));
            haveExt = ext.width() != 0 && ext.height() != 0;
        }
        pos += size;
    }
    if (!haveExt) return false;
    h.box = QRect(org, QSize(std::abs(ext.width()), std::abs(ext.height())));
    return true;
}

void playWmf(MetafileBytes file, const WmfHeader &header, MetafileCanvas &canvas)
{
    // The placement: the box, in logical units, onto the picture's pixels.
    const QSizeF pixels = header.pixelSize();
    canvas.setMapMode(U_MM_ANISOTROPIC);
    canvas.setWindowOrg(header.box.topLeft());
    canvas.setWindowExt(header.box.size());
    canvas.setViewportOrg(QPointF(0, 0));
    canvas.setViewportExt(pixels);

    WmfPlayer player(canvas);
    quint64 pos = header.records;
    while (file.has(pos, 6)) {
        const quint64 size = quint64(file.u32(pos)) * 2;
        const quint16 function = file.u16(pos + 4);
        if (size < 6 || !file.has(pos, size) || function == 0) break;
        player.play(function, file.sub(pos, size));
        pos += size;
    }
}

} // namespace metafile
