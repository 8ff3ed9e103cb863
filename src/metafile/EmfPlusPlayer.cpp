#include "EmfPlusPlayer.h"

#include "EmfPlayer.h"
#include "Metafile.h"
#include "MetafileCanvas.h"
#include "MetafileLimits.h"
#include "PaintBounds.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRawFont>
#include <QtMath>

#include <cmath>

namespace metafile::emfplus {

namespace {

constexpr quint32 EmrComment = 70;
constexpr quint32 DriverCmapLookup = 1;
constexpr quint32 DriverRealizedAdvance = 4;
constexpr quint32 FormatNoWrap = 0x1000;
constexpr quint32 FormatNoClip = 0x4000;
// Text larger than this many output pixels a line is not drawn: no page shows it.
constexpr double MaxTextPixels = 1e5;

bool finite(double v)
{
    return std::isfinite(v) && std::fabs(v) < 1e12;
}

QPainterPath rectPath(const QRectF &r)
{
    QPainterPath p;
    p.addRect(r.normalized());
    return p;
}

QPainterPath combine(const QPainterPath &a, const QPainterPath &b, int mode)
{
    switch (mode) {
    case CombineIntersect:
        return a.intersected(b);
    case CombineUnion:
        return a.united(b);
    case CombineXor:
        return a.united(b).subtracted(a.intersected(b));
    case CombineExclude:
        return a.subtracted(b);
    case CombineComplement:
        return b.subtracted(a);
    default:
        return b;
    }
}

// The points of a cardinal spline through `points` as cubic Bézier segments.
QPainterPath curvePath(const QPolygonF &points, double tension, bool closed, int offset = 0,
                       int segments = -1)
{
    QPainterPath path;
    const int n = points.size();
    if (n < 2) return path;
    const double t = tension / 3;
    auto at = [&](int i) {
        if (closed) return points[((i % n) + n) % n];
        return points[qBound(0, i, n - 1)];
    };
    const int count = closed ? n : n - 1;
    const int first = closed ? 0 : qBound(0, offset, count);
    const int last = segments < 0 || closed ? count : qMin(count, first + segments);
    path.moveTo(at(first));
    for (int i = first; i < last; ++i) {
        const QPointF p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        path.cubicTo(p1 + (p2 - p0) * t, p2 - (p3 - p1) * t, p2);
    }
    if (closed) path.closeSubpath();
    return path;
}

// GDI+ measures arcs on the ellipse's own angles: the angle of the point on the circle
// that the ellipse is stretched from.
QPainterPath arcPath(const QRectF &box, double start, double sweep, bool pie)
{
    QPainterPath path;
    const QRectF r = box.normalized();
    if (r.isEmpty()) return path;
    auto parametric = [&](double degrees) {
        const double a = qDegreesToRadians(degrees);
        const double x = std::cos(a) * r.height(), y = std::sin(a) * r.width();
        return qRadiansToDegrees(std::atan2(-y, x));
    };
    if (sweep > 360) sweep = 360;
    if (sweep < -360) sweep = -360;
    const double qtStart = parametric(start);
    double qtSweep = parametric(start + sweep) - qtStart;
    // Keep the turn's direction and size: the parametric angles wrap at +-180.
    if (sweep > 0 && qtSweep > 0) qtSweep -= 360;
    if (sweep < 0 && qtSweep < 0) qtSweep += 360;
    if (std::fabs(sweep) >= 360) qtSweep = sweep > 0 ? -360 : 360;
    if (pie) {
        path.moveTo(r.center());
        path.arcTo(r, qtStart, qtSweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(r, qtStart);
        path.arcTo(r, qtStart, qtSweep);
    }
    return path;
}

// The text's lines: its own line breaks, and breaks between words where a line would grow
// wider than `width` (none when `width` is 0 or wrapping is off).
QStringList wrapped(const QString &text, const QFontMetricsF &metrics, double width, bool noWrap)
{
    const QStringList given = text.split(QLatin1Char('\n'));
    if (noWrap || !(width > 0)) return given;
    QStringList lines;
    const double space = metrics.horizontalAdvance(QLatin1Char(' '));
    for (const QString &line : given) {
        // Word by word, each measured once: a long line costs time in its length only.
        QString current;
        double currentWidth = 0;
        for (const QString &word : line.split(QLatin1Char(' '))) {
            const double wordWidth = metrics.horizontalAdvance(word);
            if (!current.isEmpty() && currentWidth + space + wordWidth > width) {
                lines << current;
                current = word;
                currentWidth = wordWidth;
            } else {
                currentWidth += (current.isEmpty() ? 0 : space) + wordWidth;
                if (!current.isEmpty()) current += QLatin1Char(' ');
                current += word;
            }
        }
        lines << current;
    }
    return lines;
}

QFont qfontOf(const PlusFont &f, int pixels)
{
    QFont font(f.family.isEmpty() ? QStringLiteral("DejaVu Sans") : f.family);
    font.setPixelSize(pixels);
    font.setBold(f.bold);
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    return font;
}

} // namespace

EmfPlusPlayer::EmfPlusPlayer(MetafileCanvas &canvas, quint32 fileSize, int nesting)
    : m_painter(canvas.painter()), m_deviceToOutput(canvas.deviceToOutput()),
      m_frame(canvas.frame()), m_fileSize(fileSize), m_nesting(nesting),
      m_bitmapBudget(MaxImagePixels)
{
    m_outerClip = m_painter->transform().map(m_painter->clipPath());
    if (!m_painter->hasClipping()) m_outerClip = m_deviceToOutput.map(rectPath(m_frame));
    const QSizeF ppm = canvas.pixelsPerMm();
    m_dpiX = ppm.width() * 25.4;
    m_dpiY = ppm.height() * 25.4;
}

bool EmfPlusPlayer::take(quint32 type, MetafileBytes record, bool first)
{
    if (type != EmrComment || record.u32(12) != CommentIdentifier) return false;
    const quint32 dataSize = record.u32(8);
    if (dataSize < 4) return true;
    const MetafileBytes payload = record.sub(16, qMin<quint64>(dataSize - 4, record.size() - 16));
    quint64 pos = 0;
    bool firstRecord = first;
    while (payload.has(pos, RecordHeaderSize) && !m_ended) {
        const quint16 recordType = payload.u16(pos), flags = payload.u16(pos + 2);
        const quint32 size = payload.u32(pos + 4), size2 = payload.u32(pos + 8);
        if (size < RecordHeaderSize || !payload.has(pos, size)) break;
        const MetafileBytes data =
            payload.sub(pos + RecordHeaderSize, qMin<quint64>(size2, size - RecordHeaderSize));
        if (recordType == Header) {
            // Only a header in first place makes GDI+ treat the file as an EMF+ file.
            if (firstRecord) m_plusFile = true;
            const double dx = data.u32(8), dy = data.u32(12);
            if (dx >= 10 && dx <= 10000 && dy >= 10 && dy <= 10000) {
                m_dpiX = dx;
                m_dpiY = dy;
            }
        } else {
            m_getDC = recordType == GetDC;
            play(recordType, flags, data);
        }
        firstRecord = false;
        pos += size;
    }
    return true;
}

void EmfPlusPlayer::play(quint16 type, quint16 flags, MetafileBytes data)
{
    if (type != Object) m_pending.clear();
    switch (type) {
    case EndOfFile:
        m_ended = true;
        return;
    case Object:
        object(flags, data);
        return;
    case Save:
    case Restore:
    case BeginContainer:
    case BeginContainerNoParams:
    case EndContainer:
    case SetWorldTransform:
    case ResetWorldTransform:
    case MultiplyWorldTransform:
    case TranslateWorldTransform:
    case ScaleWorldTransform:
    case RotateWorldTransform:
    case SetPageTransform:
    case ResetClip:
    case SetClipRect:
    case SetClipPath:
    case SetClipRegion:
    case OffsetClip:
    case SetAntiAliasMode:
    case SetCompositingMode:
        state(type, flags, data);
        m_outputClipDirty = true;
        return;
    default:
        drawing(type, flags, data);
        return;
    }
}

void EmfPlusPlayer::object(quint16 flags, MetafileBytes data)
{
    const quint8 id = quint8(flags & 0xFF), type = quint8((flags >> 8) & 0x7F);
    if (id >= ObjectSlots) return;
    if (flags & FlagContinued) {
        // The first piece announces the whole object's size; pieces follow one another.
        const quint32 total = data.u32(0);
        const MetafileBytes piece = data.sub(4, data.size() >= 4 ? data.size() - 4 : 0);
        if (m_pending.isEmpty() || m_pendingFlags != (flags & 0x7FFF) || m_pendingTotal != total) {
            m_pending.clear();
            if (total == 0 || total > MaxObjectBytes || total > m_fileSize) return;
            m_pendingTotal = total;
            m_pendingFlags = flags & 0x7FFF;
        }
        const quint32 room = m_pendingTotal - quint32(m_pending.size());
        m_pending.append(reinterpret_cast<const char *>(piece.data()),
                         int(qMin(room, piece.size())));
        if (quint32(m_pending.size()) < m_pendingTotal) return;
        const QByteArray whole = m_pending;
        m_pending.clear();
        m_objects[id] = readObject(type,
                                   MetafileBytes(reinterpret_cast<const uchar *>(whole.constData()),
                                                 quint32(whole.size())),
                                   &m_bitmapBudget);
        return;
    }
    if (!m_pending.isEmpty() && m_pendingFlags == flags) {
        // The last piece of a continued object carries no continuation flag.
        const quint32 room = m_pendingTotal - quint32(m_pending.size());
        m_pending.append(reinterpret_cast<const char *>(data.data()), int(qMin(room, data.size())));
        const QByteArray whole = m_pending;
        m_pending.clear();
        m_objects[id] = readObject(type,
                                   MetafileBytes(reinterpret_cast<const uchar *>(whole.constData()),
                                                 quint32(whole.size())),
                                   &m_bitmapBudget);
        return;
    }
    m_pending.clear();
    m_objects[id] = readObject(type, data, &m_bitmapBudget);
}

double EmfPlusPlayer::pageFactor() const
{
    const double scale = finite(m_state.pageScale) && m_state.pageScale > 0 ? m_state.pageScale : 1;
    return unitToPixels(m_state.pageUnit, m_dpiX) * scale;
}

QTransform EmfPlusPlayer::worldToDevice() const
{
    const double scale = finite(m_state.pageScale) && m_state.pageScale > 0 ? m_state.pageScale : 1;
    const QTransform page = QTransform::fromScale(unitToPixels(m_state.pageUnit, m_dpiX) * scale,
                                                  unitToPixels(m_state.pageUnit, m_dpiY) * scale);
    return m_state.world * page * m_state.containerToDevice;
}

QTransform EmfPlusPlayer::worldToOutput() const
{
    return worldToDevice() * m_deviceToOutput;
}

void EmfPlusPlayer::setClip(const QPainterPath &device, int mode)
{
    if (device.elementCount() > limits::MaxClipElements ||
        (mode != CombineReplace && m_state.clip.elementCount() > limits::MaxClipElements))
        return;
    if (mode < CombineReplace || mode > CombineComplement) return;
    const QPainterPath current = m_state.clipped ? m_state.clip : rectPath(m_frame);
    QPainterPath next = combine(current, device, mode);
    if (m_state.containerClipped) next = next.intersected(m_state.containerClip);
    m_state.clip = next;
    m_state.clipped = true;
}

void EmfPlusPlayer::save(quint32 index, bool container)
{
    if (m_saved.size() >= size_t(MaxSavedStates)) return;
    m_saved.push_back({index, m_state});
    if (!container) return;
    m_state.containerToDevice = worldToDevice();
    m_state.world = QTransform();
    m_state.pageUnit = UnitDisplay;
    m_state.pageScale = 1;
    m_state.containerClipped = m_state.clipped;
    m_state.containerClip = m_state.clip;
}

void EmfPlusPlayer::restore(quint32 index)
{
    for (size_t i = m_saved.size(); i-- > 0;)
        if (m_saved[i].index == index) {
            m_state = m_saved[i].state;
            m_saved.resize(i);
            return;
        }
}

void EmfPlusPlayer::state(quint16 type, quint16 flags, MetafileBytes d)
{
    State &s = m_state;
    auto multiply = [&](const QTransform &t) {
        if (!paint::isFinite(t)) return;
        s.world = flags & FlagAppend ? s.world * t : t * s.world;
    };
    switch (type) {
    case Save:
        save(d.u32(0), false);
        break;
    case Restore:
    case EndContainer:
        restore(d.u32(0));
        break;
    case BeginContainer: {
        const QRectF dest = rectAt(d, 0), src = rectAt(d, 16);
        const quint32 index = d.u32(32);
        if (!d.has(0, 36)) break;
        const QTransform before = worldToDevice();
        const double unit = unitToPixels(quint8(flags >> 8), m_dpiX) / pageFactor();
        save(index, true);
        if (src.width() == 0 || src.height() == 0 || !finite(dest.x()) || !finite(dest.y())) break;
        // Points of the source rectangle land on the destination, in the given unit.
        const QTransform srcToDest =
            QTransform::fromTranslate(-src.x(), -src.y()) *
            QTransform::fromScale(dest.width() / src.width(), dest.height() / src.height()) *
            QTransform::fromTranslate(dest.x(), dest.y()) * QTransform::fromScale(unit, unit);
        if (paint::isFinite(srcToDest)) s.containerToDevice = srcToDest * before;
        break;
    }
    case BeginContainerNoParams:
        save(d.u32(0), true);
        break;
    case SetWorldTransform: {
        const QTransform t = transformAt(d, 0);
        if (d.has(0, 24) && paint::isFinite(t)) s.world = t;
        break;
    }
    case ResetWorldTransform:
        s.world = QTransform();
        break;
    case MultiplyWorldTransform:
        if (d.has(0, 24)) multiply(transformAt(d, 0));
        break;
    case TranslateWorldTransform:
        multiply(QTransform::fromTranslate(d.f32(0), d.f32(4)));
        break;
    case ScaleWorldTransform:
        multiply(QTransform::fromScale(d.f32(0), d.f32(4)));
        break;
    case RotateWorldTransform:
        if (finite(d.f32(0))) multiply(QTransform().rotate(d.f32(0)));
        break;
    case SetPageTransform:
        s.pageUnit = quint8(flags & 0xFF);
        s.pageScale = d.f32(0);
        break;
    case ResetClip:
        s.clipped = s.containerClipped;
        s.clip = s.containerClip;
        break;
    case SetClipRect:
        if (d.has(0, 16)) setClip(worldToDevice().map(rectPath(rectAt(d, 0))), (flags >> 8) & 0xF);
        break;
    case SetClipPath: {
        const PlusObject *o = objectAt(flags & 0xFF, PathObject);
        if (o && o->pathValid) setClip(worldToDevice().map(o->path), (flags >> 8) & 0xF);
        break;
    }
    case SetClipRegion: {
        const PlusObject *o = objectAt(flags & 0xFF, RegionObject);
        if (!o || !o->region.valid) break;
        const int mode = (flags >> 8) & 0xF;
        if (o->region.infinite && mode == CombineReplace) {
            s.clipped = s.containerClipped;
            s.clip = s.containerClip;
        } else if (!(o->region.infinite && mode == CombineIntersect)) {
            setClip(worldToDevice().map(o->region.path), mode);
        }
        break;
    }
    case OffsetClip: {
        const QTransform t = worldToDevice();
        const QPointF offset = t.map(QPointF(d.f32(0), d.f32(4))) - t.map(QPointF(0, 0));
        if (s.clipped && finite(offset.x()) && finite(offset.y())) s.clip.translate(offset);
        break;
    }
    case SetAntiAliasMode:
        s.antialias = flags & 1;
        break;
    case SetCompositingMode:
        s.sourceCopy = (flags & 0xFF) == 1;
        break;
    default:
        break;
    }
}

const PlusObject *EmfPlusPlayer::objectAt(quint32 id, quint8 type) const
{
    if (id >= quint32(ObjectSlots) || m_objects[id].type != type) return nullptr;
    return &m_objects[id];
}

bool EmfPlusPlayer::brushFor(quint16 flags, quint32 field, PlusBrush &brush) const
{
    if (flags & FlagColor) {
        brush = PlusBrush();
        brush.brush = QBrush(QColor::fromRgba(field));
        brush.valid = true;
        return true;
    }
    const PlusObject *o = objectAt(field, BrushObject);
    if (!o || !o->brush.valid) return false;
    brush = o->brush;
    return true;
}

bool EmfPlusPlayer::penFor(quint32 id, QPen &pen) const
{
    const PlusObject *o = objectAt(id, PenObject);
    if (!o || !o->pen.valid) return false;
    pen = o->pen.pen;
    double width = o->pen.width;
    if (o->pen.unit != UnitWorld) width = width * unitToPixels(o->pen.unit, m_dpiX) / pageFactor();
    const double scale = paint::linearScale(worldToOutput());
    // A pen thinner than one device pixel draws one pixel, as GDI+ does.
    const double devicePixels = width * paint::linearScale(worldToDevice());
    if (!(width > 0) || devicePixels < 1) {
        pen.setWidthF(0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(paint::penWidth(width, scale));
    }
    return true;
}

bool EmfPlusPlayer::preparePainter(const QRectF &worldBounds)
{
    const QTransform out = worldToOutput();
    if (!paint::isUsable(out) || !paint::isDrawable(out.mapRect(worldBounds))) return false;
    if (m_outputClipDirty) {
        // Combining paths costs time in their size: done once for each clip, not each shape.
        m_outputClip = m_outerClip;
        if (m_state.clipped)
            m_outputClip = m_outputClip.intersected(m_deviceToOutput.map(m_state.clip));
        m_outputClipDirty = false;
    }
    m_painter->setTransform(QTransform());
    m_painter->setClipPath(m_outputClip);
    m_painter->setTransform(out);
    m_painter->setRenderHint(QPainter::Antialiasing, m_state.antialias);
    m_painter->setCompositionMode(m_state.sourceCopy ? QPainter::CompositionMode_Source
                                                     : QPainter::CompositionMode_SourceOver);
    return true;
}

void EmfPlusPlayer::fill(const QPainterPath &world, const PlusBrush &brush, bool text,
                         const QRectF &clip)
{
    if (!brush.valid || world.elementCount() > paint::MaxPathElements) return;
    m_painter->save();
    if (preparePainter(world.boundingRect())) {
        // Clipped rather than intersected: combining large paths costs far more time.
        if (!brush.boundary.isEmpty()) m_painter->setClipPath(brush.boundary, Qt::IntersectClip);
        if (!clip.isNull()) m_painter->setClipRect(clip, Qt::IntersectClip);
        // Text has its own smoothing, which GDI+ turns on for screens whatever the shapes do.
        if (text) m_painter->setRenderHint(QPainter::Antialiasing);
        m_painter->setPen(Qt::NoPen);
        if (brush.hatchBack.isValid()) {
            m_painter->setBrush(brush.hatchBack);
            m_painter->drawPath(world);
        }
        m_painter->setBrush(brush.brush);
        m_painter->drawPath(world);
    }
    m_painter->restore();
}

void EmfPlusPlayer::stroke(const QPainterPath &world, quint32 penId)
{
    QPen pen;
    if (world.elementCount() > paint::MaxPathElements || !penFor(penId, pen)) return;
    const double margin = pen.widthF() * 4;
    m_painter->save();
    if (preparePainter(world.boundingRect().adjusted(-margin, -margin, margin, margin))) {
        m_painter->setBrush(Qt::NoBrush);
        m_painter->setPen(pen);
        m_painter->drawPath(world);
    }
    m_painter->restore();
}

void EmfPlusPlayer::drawing(quint16 type, quint16 flags, MetafileBytes d)
{
    const bool compressed = flags & FlagCompressed;
    const quint32 penId = flags & 0xFF;
    PlusBrush brush;
    switch (type) {
    case Clear: {
        QPainterPath device = m_state.clipped ? m_state.clip : rectPath(m_frame);
        m_painter->save();
        m_painter->setTransform(QTransform());
        m_painter->setClipPath(m_outerClip);
        m_painter->setCompositionMode(QPainter::CompositionMode_Source);
        m_painter->setPen(Qt::NoPen);
        m_painter->setBrush(argbAt(d, 0));
        m_painter->drawPath(m_deviceToOutput.map(device));
        m_painter->restore();
        break;
    }
    case FillRects:
    case DrawRects: {
        const bool filling = type == FillRects;
        const quint64 at = filling ? 8 : 4;
        if (filling && !brushFor(flags, d.u32(0), brush)) break;
        const QVector<QRectF> rects = readRects(d, at, d.u32(at - 4), compressed);
        QPainterPath path;
        for (const QRectF &r : rects)
            path.addRect(r);
        if (filling)
            fill(path, brush);
        else
            stroke(path, penId);
        break;
    }
    case FillPolygon: {
        if (!brushFor(flags, d.u32(0), brush)) break;
        const QPolygonF points = readPoints(d, 8, d.u32(4), flags);
        if (points.size() < 3) break;
        QPainterPath path;
        path.addPolygon(points);
        path.closeSubpath();
        fill(path, brush);
        break;
    }
    case DrawLines:
    case DrawBeziers: {
        const QPolygonF points = readPoints(d, 4, d.u32(0), flags);
        if (points.size() < 2) break;
        QPainterPath path(points[0]);
        if (type == DrawLines) {
            for (int i = 1; i < points.size(); ++i)
                path.lineTo(points[i]);
            if (flags & FlagClosed) path.closeSubpath();
        } else {
            for (int i = 1; i + 2 < points.size(); i += 3)
                path.cubicTo(points[i], points[i + 1], points[i + 2]);
        }
        stroke(path, penId);
        break;
    }
    case FillEllipse:
    case DrawEllipse: {
        const bool filling = type == FillEllipse;
        const quint64 at = filling ? 4 : 0;
        if (filling && !brushFor(flags, d.u32(0), brush)) break;
        const QVector<QRectF> rects = readRects(d, at, 1, compressed);
        if (rects.isEmpty()) break;
        QPainterPath path;
        path.addEllipse(rects[0]);
        if (filling)
            fill(path, brush);
        else
            stroke(path, penId);
        break;
    }
    case FillPie:
    case DrawPie:
    case DrawArc: {
        const bool filling = type == FillPie;
        const quint64 at = filling ? 4 : 0;
        if (filling && !brushFor(flags, d.u32(0), brush)) break;
        const double start = d.f32(at), sweep = d.f32(at + 4);
        const QVector<QRectF> rects = readRects(d, at + 8, 1, compressed);
        if (rects.isEmpty() || !finite(start) || !finite(sweep)) break;
        const QPainterPath path = arcPath(rects[0], start, sweep, type != DrawArc);
        if (filling)
            fill(path, brush);
        else
            stroke(path, penId);
        break;
    }
    case FillRegion: {
        const PlusObject *o = objectAt(flags & 0xFF, RegionObject);
        if (o && o->region.valid && brushFor(flags, d.u32(0), brush)) fill(o->region.path, brush);
        break;
    }
    case FillPath: {
        const PlusObject *o = objectAt(flags & 0xFF, PathObject);
        if (o && o->pathValid && brushFor(flags, d.u32(0), brush)) fill(o->path, brush);
        break;
    }
    case DrawPath: {
        const PlusObject *o = objectAt(flags & 0xFF, PathObject);
        if (o && o->pathValid) stroke(o->path, d.u32(0));
        break;
    }
    case FillClosedCurve: {
        if (!brushFor(flags, d.u32(0), brush)) break;
        const double tension = d.f32(4);
        const QPolygonF points = readPoints(d, 12, d.u32(8), flags);
        if (points.size() < 3 || !finite(tension)) break;
        QPainterPath path = curvePath(points, tension, true);
        path.setFillRule(flags & FlagWinding ? Qt::WindingFill : Qt::OddEvenFill);
        fill(path, brush);
        break;
    }
    case DrawClosedCurve: {
        const double tension = d.f32(0);
        const QPolygonF points = readPoints(d, 8, d.u32(4), flags);
        if (points.size() >= 3 && finite(tension)) stroke(curvePath(points, tension, true), penId);
        break;
    }
    case DrawCurve: {
        const double tension = d.f32(0);
        const quint32 offset = d.u32(4), segments = d.u32(8);
        const QPolygonF points = readPoints(d, 16, d.u32(12), flags);
        if (points.size() >= 2 && finite(tension) && offset < quint32(points.size()))
            stroke(curvePath(points, tension, false, int(offset),
                             int(qMin<quint32>(segments, quint32(points.size())))),
                   penId);
        break;
    }
    case DrawImage: {
        const PlusObject *o = objectAt(flags & 0xFF, ImageObject);
        const QRectF source = rectAt(d, 8);
        const QVector<QRectF> dest = readRects(d, 24, 1, compressed);
        if (!o || !o->image.valid || dest.isEmpty() || source.isEmpty()) break;
        const QRectF r = dest[0];
        image(o->image, attributesAt(d.u32(0)), source,
              QTransform::fromScale(r.width() / source.width(), r.height() / source.height()) *
                  QTransform::fromTranslate(r.x(), r.y()));
        break;
    }
    case DrawImagePoints: {
        const PlusObject *o = objectAt(flags & 0xFF, ImageObject);
        const QRectF source = rectAt(d, 8);
        const QPolygonF p = readPoints(d, 28, d.u32(24), flags);
        if (!o || !o->image.valid || p.size() != 3 || source.isEmpty()) break;
        // The source's top-left, top-right and bottom-left corners land on the three points.
        const QTransform t((p[1].x() - p[0].x()) / source.width(),
                           (p[1].y() - p[0].y()) / source.width(),
                           (p[2].x() - p[0].x()) / source.height(),
                           (p[2].y() - p[0].y()) / source.height(), p[0].x(), p[0].y());
        image(o->image, attributesAt(d.u32(0)), source, t);
        break;
    }
    case DrawString: {
        const PlusObject *font = objectAt(flags & 0xFF, FontObject);
        if (!font || !font->font.valid || !brushFor(flags, d.u32(0), brush)) break;
        const PlusObject *format = objectAt(d.u32(4), StringFormatObject);
        const quint32 length = d.u32(8);
        if (length == 0 || length > quint32(limits::MaxTextChars) ||
            !d.has(28, quint64(length) * 2))
            break;
        QString s;
        s.reserve(int(length));
        for (quint32 i = 0; i < length; ++i)
            s += QChar(d.u16(28 + quint64(i) * 2));
        text(s, font->font, rectAt(d, 12), format ? format->format : PlusStringFormat(), brush);
        break;
    }
    case DrawDriverString:
        driverString(flags, d);
        break;
    default:
        break; // rendering hints, comments, multi-format sections: nothing to draw
    }
}

void EmfPlusPlayer::text(const QString &s, const PlusFont &f, const QRectF &layout,
                         const PlusStringFormat &format, const PlusBrush &brush)
{
    double em = f.emSize;
    if (f.unit != UnitWorld) em = em * unitToPixels(f.unit, m_dpiY) / pageFactor();
    const double outScale = paint::linearScale(worldToOutput());
    if (!finite(em) || !(em * outScale > 0.05) || em * outScale > MaxTextPixels ||
        !finite(layout.x()) || !finite(layout.y()) || !finite(layout.width()) ||
        !finite(layout.height()))
        return;
    // The glyphs are laid out at a whole pixel size near their output size, then scaled.
    const int pixels = paint::fontPixels(em * outScale);
    const double k = em / pixels;
    const QFont font = qfontOf(f, pixels);
    const QFontMetricsF metrics(font);
    const QStringList lines = wrapped(s, metrics, layout.width() / k, format.flags & FormatNoWrap);
    const double lineHeight = metrics.lineSpacing() * k;
    const double height = lineHeight * lines.size();
    double top = layout.top();
    if (format.lineAlignment == 1)
        top = layout.height() > 0 ? layout.center().y() - height / 2 : layout.top() - height / 2;
    else if (format.lineAlignment == 2)
        top = layout.height() > 0 ? layout.bottom() - height : layout.top() - height;
    QPainterPath path;
    const bool clipped =
        layout.width() > 0 && layout.height() > 0 && !(format.flags & FormatNoClip);
    for (int i = 0; i < lines.size(); ++i) {
        // Lines wholly outside the clipping layout rectangle are not drawn, nor laid out.
        const double lineTop = top + i * lineHeight;
        if (clipped && (lineTop + lineHeight < layout.top() || lineTop > layout.bottom())) continue;
        if (path.elementCount() > paint::MaxPathElements) return;
        const double width = metrics.horizontalAdvance(lines[i]) * k;
        double x = layout.left();
        if (format.alignment == 1)
            x = layout.width() > 0 ? layout.center().x() - width / 2 : layout.left() - width / 2;
        else if (format.alignment == 2)
            x = layout.width() > 0 ? layout.right() - width : layout.left() - width;
        QPainterPath line;
        line.addText(QPointF(0, 0), font, lines[i]);
        path.addPath(
            QTransform::fromScale(k, k).translate(x / k, lineTop / k + metrics.ascent()).map(line));
    }
    path.setFillRule(Qt::WindingFill);
    fill(path, brush, true, clipped ? layout : QRectF());
}

void EmfPlusPlayer::driverString(quint16 flags, MetafileBytes d)
{
    const PlusObject *f = objectAt(flags & 0xFF, FontObject);
    PlusBrush brush;
    if (!f || !f->font.valid || !brushFor(flags, d.u32(0), brush)) return;
    const quint32 options = d.u32(4), matrixPresent = d.u32(8), count = d.u32(12);
    if (count == 0 || count > quint32(limits::MaxTextChars)) return;
    const quint64 positionsAt = 16 + quint64(count) * 2;
    const quint64 matrixAt = positionsAt + quint64(count) * 8;
    if (!d.has(16, quint64(count) * 10 + (matrixPresent ? 24 : 0))) return;
    double em = f->font.emSize;
    if (f->font.unit != UnitWorld) em = em * unitToPixels(f->font.unit, m_dpiY) / pageFactor();
    const double outScale = paint::linearScale(worldToOutput());
    if (!finite(em) || !(em * outScale > 0.05) || em * outScale > MaxTextPixels) return;
    const int pixels = paint::fontPixels(em * outScale);
    const double k = em / pixels;
    const QRawFont raw = QRawFont::fromFont(qfontOf(f->font, pixels));
    if (!raw.isValid()) return;
    QVector<quint32> glyphs;
    if (options & DriverCmapLookup) {
        QString s;
        for (quint32 i = 0; i < count; ++i)
            s += QChar(d.u16(16 + quint64(i) * 2));
        glyphs = raw.glyphIndexesForString(s);
    } else {
        for (quint32 i = 0; i < count; ++i)
            glyphs << d.u16(16 + quint64(i) * 2);
    }
    const QVector<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
    QPainterPath path;
    QPointF pen(d.f32(positionsAt), d.f32(positionsAt + 4));
    for (int i = 0; i < glyphs.size(); ++i) {
        QPointF at = pen;
        if (!(options & DriverRealizedAdvance)) {
            at = QPointF(d.f32(positionsAt + quint64(i) * 8),
                         d.f32(positionsAt + quint64(i) * 8 + 4));
        }
        if (!finite(at.x()) || !finite(at.y()) || path.elementCount() > paint::MaxPathElements)
            return;
        path.addPath(QTransform::fromScale(k, k)
                         .translate(at.x() / k, at.y() / k)
                         .map(raw.pathForGlyph(glyphs[i])));
        pen = at + advances.value(i) * k;
    }
    if (matrixPresent) {
        const QTransform t = transformAt(d, matrixAt);
        if (!paint::isFinite(t)) return;
        path = t.map(path);
    }
    path.setFillRule(Qt::WindingFill);
    fill(path, brush, true);
}

PlusImageAttributes EmfPlusPlayer::attributesAt(quint32 id) const
{
    const PlusObject *o = objectAt(id, ImageAttributesObject);
    return o ? o->attributes : PlusImageAttributes();
}

void EmfPlusPlayer::image(const PlusImage &img, const PlusImageAttributes &attributes,
                          const QRectF &source, const QTransform &sourceToWorld)
{
    if (!paint::isFinite(sourceToWorld)) return;
    const QTransform saved = m_state.world;
    // Drawn in the image's own pixels: the source's mapping joins the world transform.
    m_state.world = QTransform::fromTranslate(-source.x(), -source.y()) * sourceToWorld * saved;
    m_painter->save();
    if (preparePainter(source)) {
        m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF pixels(img.bitmap.rect());
        if (!img.bitmap.isNull() && attributes.valid && !pixels.contains(source)) {
            // Past its pixels the image repeats, or the clamp colour fills the rest.
            m_painter->setPen(Qt::NoPen);
            if (attributes.wrapMode < 4) {
                m_painter->fillRect(source, QBrush(img.bitmap));
            } else {
                m_painter->fillRect(source, attributes.clampColor);
                const QRectF inside = pixels.intersected(source);
                if (!inside.isEmpty()) m_painter->drawImage(inside, img.bitmap, inside);
            }
        } else if (!img.bitmap.isNull()) {
            m_painter->drawImage(source, img.bitmap, source);
        } else if (m_nesting < MaxNesting) {
            drawMetafile(img.metafile);
        }
    }
    m_painter->restore();
    m_state.world = saved;
}

void EmfPlusPlayer::drawMetafile(const QByteArray &data)
{
    Metafile nested;
    if (!nested.loadData(data)) return;
    // The nested picture's frame, in its reference device's pixels, is the image's pixels.
    const QRectF b = nested.bounds();
    const MetafileBytes bytes(reinterpret_cast<const uchar *>(data.constData()),
                              quint32(data.size()));
    EmfHeader header;
    if (nested.kind() == Metafile::Kind::Emf && readEmfHeader(bytes, header)) {
        const QTransform toOutput = QTransform::fromTranslate(-b.x(), -b.y()) * worldToOutput();
        m_painter->setTransform(QTransform());
        MetafileCanvas canvas(m_painter, toOutput, b, header.pixelsPerMm);
        playEmf(bytes, canvas, m_nesting + 1);
    } else {
        nested.render(m_painter, QRectF(QPointF(0, 0), b.size()));
    }
}

} // namespace metafile::emfplus
