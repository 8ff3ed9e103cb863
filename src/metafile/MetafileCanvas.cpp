#include "MetafileCanvas.h"

#include "MetafileLimits.h"
#include "PaintBounds.h"
#include "TernaryRop.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QTextCodec>

#include <cmath>

namespace metafile {

namespace {

// Line style, end cap and join bits of a pen.
enum : int {
    PsSolid = 0,
    PsDash = 1,
    PsDot = 2,
    PsDashDot = 3,
    PsDashDotDot = 4,
    PsNull = 5,
    PsInsideFrame = 6,
    PsUserStyle = 7,
    PsAlternate = 8,
    PsStyleMask = 0x0F,
    PsEndCapSquare = 0x100,
    PsEndCapFlat = 0x200,
    PsEndCapMask = 0xF00,
    PsJoinBevel = 0x1000,
    PsJoinMiter = 0x2000,
    PsJoinMask = 0xF000
};

enum MapMode {
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};

enum RegionMode { RgnAnd = 1, RgnOr, RgnXor, RgnDiff, RgnCopy };

enum TextAlign {
    TaUpdateCp = 1,
    TaRight = 2,
    TaCenter = 6,
    TaHorizontalMask = 6,
    TaBottom = 8,
    TaBaseline = 24,
    TaVerticalMask = 24
};

enum TextOptions { EtoOpaque = 2, EtoClipped = 4, EtoGlyphIndex = 0x10 };

constexpr QImage::Format Pixels = QImage::Format_ARGB32_Premultiplied;

// The raster operations drawn without evaluating them pixel by pixel.
enum Rop : quint32 { SrcCopy = 0x00CC0020, NotSrcCopy = 0x00330008, PatCopy = 0x00F00021 };

Qt::BrushStyle hatchStyle(int hatch)
{
    switch (hatch) {
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
    default:
        return Qt::DiagCrossPattern;
    }
}

QPainterPath combine(const QPainterPath &a, const QPainterPath &b, int mode)
{
    switch (mode) {
    case RgnAnd:
        return a.intersected(b);
    case RgnOr:
        return a.united(b);
    case RgnXor:
        return a.united(b).subtracted(a.intersected(b));
    case RgnDiff:
        return a.subtracted(b);
    default:
        return b;
    }
}

} // namespace

MetafileCanvas::MetafileCanvas(QPainter *painter, const QTransform &deviceToOutput,
                               const QRectF &frame, const QSizeF &pixelsPerMm)
    : m_painter(painter), m_frame(frame), m_pixelsPerMm(pixelsPerMm),
      m_rasterOpBudget(limits::MaxRasterOpPixels)
{
    m_painter->save();
    const QTransform base = m_painter->transform();
    m_deviceToOutput = deviceToOutput * base;
    QPainterPath frameOut;
    frameOut.addPolygon(m_deviceToOutput.map(QPolygonF(frame)));
    frameOut.closeSubpath();
    if (m_painter->hasClipping())
        m_outerClip = frameOut.intersected(base.map(m_painter->clipPath()));
    else
        m_outerClip = frameOut;
    m_painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_painter->setRenderHint(QPainter::Antialiasing);
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
    m_painter->setRenderHint(QPainter::TextAntialiasing);
    applyClip();
}

MetafileCanvas::~MetafileCanvas()
{
    m_painter->restore();
}

// ---------------------------------------------------------------------------------------
// Mapping

QTransform MetafileCanvas::logicalToDevice() const
{
    const MetafileState &s = m_state;
    double sx = 1, sy = 1;
    switch (s.mapMode) {
    case MmLoMetric:
        sx = 0.1;
        sy = -0.1;
        break;
    case MmHiMetric:
        sx = 0.01;
        sy = -0.01;
        break;
    case MmLoEnglish:
        sx = 0.254;
        sy = -0.254;
        break;
    case MmHiEnglish:
        sx = 0.0254;
        sy = -0.0254;
        break;
    case MmTwips:
        sx = 25.4 / 1440;
        sy = -25.4 / 1440;
        break;
    case MmIsotropic:
    case MmAnisotropic:
        sx = s.viewportExt.width() / s.windowExt.width();
        sy = s.viewportExt.height() / s.windowExt.height();
        if (s.mapMode == MmIsotropic) {
            const double m = std::min(std::fabs(sx), std::fabs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default:
        break;
    }
    if (s.mapMode >= MmLoMetric && s.mapMode <= MmTwips) {
        sx *= m_pixelsPerMm.width();
        sy *= m_pixelsPerMm.height();
    }
    const QTransform page = QTransform::fromTranslate(-s.windowOrg.x(), -s.windowOrg.y()) *
                            QTransform::fromScale(sx, sy) *
                            QTransform::fromTranslate(s.viewportOrg.x(), s.viewportOrg.y());
    return s.world * page;
}

QTransform MetafileCanvas::toOutput() const
{
    return logicalToDevice() * m_deviceToOutput;
}

void MetafileCanvas::setMapMode(int mode)
{
    if (mode >= MmText && mode <= MmAnisotropic) m_state.mapMode = mode;
}

void MetafileCanvas::setWindowExt(const QSizeF &s)
{
    if (std::fabs(s.width()) > limits::MinExtent && std::fabs(s.height()) > limits::MinExtent)
        m_state.windowExt = s;
}

void MetafileCanvas::setViewportExt(const QSizeF &s)
{
    if (std::fabs(s.width()) > limits::MinExtent && std::fabs(s.height()) > limits::MinExtent)
        m_state.viewportExt = s;
}

void MetafileCanvas::scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0) return;
    setWindowExt(QSizeF(m_state.windowExt.width() * xNum / xDenom,
                        m_state.windowExt.height() * yNum / yDenom));
}

void MetafileCanvas::scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xDenom == 0 || yDenom == 0) return;
    setViewportExt(QSizeF(m_state.viewportExt.width() * xNum / xDenom,
                          m_state.viewportExt.height() * yNum / yDenom));
}

void MetafileCanvas::setWorldTransform(const QTransform &t)
{
    if (paint::isFinite(t) && paint::linearScale(t) > limits::MinExtent) m_state.world = t;
}

void MetafileCanvas::modifyWorldTransform(const QTransform &t, int mode)
{
    switch (mode) {
    case 1:
        m_state.world = QTransform();
        break; // MWT_IDENTITY
    case 2:
        setWorldTransform(t * m_state.world);
        break; // MWT_LEFTMULTIPLY
    case 3:
        setWorldTransform(m_state.world * t);
        break; // MWT_RIGHTMULTIPLY
    case 4:
        setWorldTransform(t);
        break; // MWT_SET
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// State stack and selection

void MetafileCanvas::save()
{
    if (int(m_saved.size()) >= limits::MaxSavedStates) {
        ++m_droppedSaves;
        return;
    }
    m_saved.push_back(m_state);
}

void MetafileCanvas::restore(int level)
{
    int pops = 0;
    const int depth = int(m_saved.size()) + m_droppedSaves;
    if (level < 0)
        pops = -level;
    else if (level > 0)
        pops = depth - level + 1;
    if (pops <= 0 || pops > depth) return;
    const int fromDropped = std::min(pops, m_droppedSaves);
    m_droppedSaves -= fromDropped;
    pops -= fromDropped;
    if (pops == 0) return;
    m_state = m_saved[m_saved.size() - size_t(pops)];
    m_saved.resize(m_saved.size() - size_t(pops));
    applyClip();
}

void MetafileCanvas::select(const MetafileObject &object)
{
    switch (object.kind) {
    case MetafileObject::Pen:
        m_state.pen = object.pen;
        break;
    case MetafileObject::Brush:
        m_state.brush = object.brush;
        break;
    case MetafileObject::Font:
        m_state.font = object.font;
        break;
    default:
        break;
    }
}

void MetafileCanvas::applyClip()
{
    QPainterPath clip = m_outerClip;
    if (m_state.clipped) clip = clip.intersected(m_deviceToOutput.map(m_state.clip));
    m_painter->setTransform(QTransform());
    m_painter->setClipPath(clip);
}

void MetafileCanvas::setClipRegion(const QPainterPath &device, int mode)
{
    // Each combination costs time in the size of both paths: a clip grown past the limit
    // by thousands of records takes no more changes.
    if (device.elementCount() > limits::MaxClipElements ||
        (mode != RgnCopy && m_state.clip.elementCount() > limits::MaxClipElements))
        return;
    QPainterPath frame;
    frame.addRect(m_frame);
    const QPainterPath current = m_state.clipped ? m_state.clip : frame;
    if (mode == RgnCopy) {
        m_state.clip = device;
    } else if (mode >= RgnAnd && mode <= RgnDiff) {
        m_state.clip = combine(current, device, mode);
    } else {
        return;
    }
    m_state.clipped = true;
    applyClip();
}

void MetafileCanvas::resetClip()
{
    m_state.clipped = false;
    m_state.clip = QPainterPath();
    applyClip();
}

void MetafileCanvas::intersectClipRect(const QRectF &logical)
{
    QPainterPath p;
    p.addRect(logical.normalized());
    setClipRegion(logicalToDevice().map(p), RgnAnd);
}

void MetafileCanvas::excludeClipRect(const QRectF &logical)
{
    QPainterPath p;
    p.addRect(logical.normalized());
    setClipRegion(logicalToDevice().map(p), RgnDiff);
}

void MetafileCanvas::offsetClip(const QPointF &logicalOffset)
{
    if (!m_state.clipped) return;
    const QTransform t = logicalToDevice();
    const QPointF d = t.map(logicalOffset) - t.map(QPointF(0, 0));
    m_state.clip.translate(d);
    applyClip();
}

// ---------------------------------------------------------------------------------------
// Pens, brushes and raster operations

bool MetafileCanvas::applyRop()
{
    const bool rasterOps = m_painter->paintEngine() &&
                           m_painter->paintEngine()->hasFeature(QPaintEngine::RasterOpModes);
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (m_state.rop2) {
    case 11:
        return false; // R2_NOP
    case 4:
        mode = QPainter::RasterOp_NotSource;
        break;
    case 6:
        mode = QPainter::RasterOp_NotDestination;
        break;
    case 7:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 9:
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 15:
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    default:
        break;
    }
    m_painter->setCompositionMode(rasterOps ? mode : QPainter::CompositionMode_SourceOver);
    return true;
}

bool MetafileCanvas::setPenFor(const QTransform &out, double widthFactor,
                               const QPainterPath &outPath)
{
    const MetafilePen &p = m_state.pen;
    const int style = p.style & PsStyleMask;
    if (style == PsNull) {
        m_painter->setPen(Qt::NoPen);
        return false;
    }
    QColor color = p.color;
    if (m_state.rop2 == 1) color = Qt::black;
    if (m_state.rop2 == 16) color = Qt::white;
    QPen pen(color);
    const double outScale = paint::linearScale(out);
    const double width = p.cosmetic ? 0 : paint::penWidth(p.width * widthFactor, outScale);
    const double outWidth = width * outScale;
    pen.setCosmetic(outWidth < 1);
    pen.setWidthF(outWidth < 1 ? 0 : width);
    switch (p.style & PsEndCapMask) {
    case PsEndCapSquare:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case PsEndCapFlat:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
        break;
    }
    switch (p.style & PsJoinMask) {
    case PsJoinBevel:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case PsJoinMiter:
        pen.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
        break;
    }
    QVector<qreal> dashes;
    switch (style) {
    case PsDash:
        dashes = {18, 6};
        break;
    case PsDot:
    case PsAlternate:
        dashes = {3, 3};
        break;
    case PsDashDot:
        dashes = {9, 6, 3, 6};
        break;
    case PsDashDotDot:
        dashes = {9, 3, 3, 3, 3, 3};
        break;
    case PsUserStyle:
        for (qreal d : p.dashes)
            dashes << std::max<qreal>(d / std::max(p.width, 1.0), 0.1);
        break;
    default:
        break;
    }
    if (dashes.size() >= 2) {
        // Qt measures dashes in pen widths; a thin pen's pattern is in device pixels.
        double period = 0;
        for (qreal d : dashes)
            period += d;
        period *= std::max(1.0, outWidth);
        if (outPath.length() / period < limits::MaxDashSegments) {
            if (style != PsUserStyle) pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern(dashes);
        }
    }
    m_painter->setPen(pen);
    return true;
}

QBrush MetafileCanvas::brushFor(const QTransform &drawingToDevice) const
{
    const MetafileBrush &b = m_state.brush;
    switch (b.style) {
    case MetafileBrush::Null:
        return Qt::NoBrush;
    case MetafileBrush::Solid:
        return b.color;
    case MetafileBrush::Hatched: {
        QBrush brush(b.color, hatchStyle(b.hatch));
        brush.setTransform(drawingToDevice.inverted());
        return brush;
    }
    case MetafileBrush::Pattern: {
        QImage pattern = b.pattern;
        if (b.monochrome && !pattern.isNull()) {
            // Dark pattern pixels take the text colour, light ones the background colour.
            pattern = pattern.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < pattern.height(); ++y) {
                QRgb *row = reinterpret_cast<QRgb *>(pattern.scanLine(y));
                for (int x = 0; x < pattern.width(); ++x)
                    row[x] =
                        qGray(row[x]) < 128 ? m_state.textColor.rgba() : m_state.bkColor.rgba();
            }
        }
        if (pattern.isNull()) return QColor(Qt::gray);
        QBrush brush(pattern);
        brush.setTransform(drawingToDevice.inverted());
        return brush;
    }
    }
    return Qt::NoBrush;
}

bool MetafileCanvas::setBrushFor(const QTransform &drawingToDevice)
{
    const QBrush brush = brushFor(drawingToDevice);
    m_painter->setBrush(brush);
    return brush.style() != Qt::NoBrush;
}

void MetafileCanvas::fillBackgroundForHatch(const QPainterPath &path)
{
    if (m_state.brush.style != MetafileBrush::Hatched || !m_state.opaqueBackground) return;
    m_painter->save();
    m_painter->setPen(Qt::NoPen);
    m_painter->setBrush(m_state.bkColor);
    m_painter->drawPath(path);
    m_painter->restore();
}

// ---------------------------------------------------------------------------------------
// Drawing

void MetafileCanvas::draw(const QPainterPath &logical, bool fill, bool stroke, bool connect)
{
    const QTransform toDevice = logicalToDevice();
    if (m_inPath) {
        const QPainterPath device = toDevice.map(logical);
        if (connect && !m_path.isEmpty())
            m_path.connectPath(device);
        else
            m_path.addPath(device);
        return;
    }
    const QTransform out = toDevice * m_deviceToOutput;
    if (!paint::isUsable(out)) return;
    const QPainterPath outPath = out.map(logical);
    if (!paint::isDrawable(outPath)) return;
    if (!applyRop()) return;
    QPainterPath path = logical;
    path.setFillRule(m_state.windingFill ? Qt::WindingFill : Qt::OddEvenFill);
    m_painter->setTransform(out);
    const bool filling = fill && setBrushFor(toDevice);
    const bool stroking = stroke && setPenFor(out, 1.0, outPath);
    if (!filling) m_painter->setBrush(Qt::NoBrush);
    if (!stroking) m_painter->setPen(Qt::NoPen);
    if (filling) fillBackgroundForHatch(path);
    if (filling || stroking) m_painter->drawPath(path);
    m_painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void MetafileCanvas::drawDevice(const QPainterPath &device, bool fill, bool stroke)
{
    const QPainterPath outPath = m_deviceToOutput.map(device);
    if (!paint::isDrawable(outPath)) return;
    if (!applyRop()) return;
    QPainterPath path = device;
    path.setFillRule(m_state.windingFill ? Qt::WindingFill : Qt::OddEvenFill);
    m_painter->setTransform(m_deviceToOutput);
    const bool filling = fill && setBrushFor(QTransform());
    const bool stroking =
        stroke && setPenFor(m_deviceToOutput, paint::linearScale(logicalToDevice()), outPath);
    if (!filling) m_painter->setBrush(Qt::NoBrush);
    if (!stroking) m_painter->setPen(Qt::NoPen);
    if (filling) fillBackgroundForHatch(path);
    if (filling || stroking) m_painter->drawPath(path);
    m_painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void MetafileCanvas::moveTo(const QPointF &p)
{
    m_state.current = p;
    if (m_inPath) m_path.moveTo(logicalToDevice().map(p));
}

void MetafileCanvas::lineTo(const QPointF &p)
{
    QPainterPath path(m_state.current);
    path.lineTo(p);
    draw(path, false, true, true);
    m_state.current = p;
}

void MetafileCanvas::polyline(const QPolygonF &points)
{
    if (points.size() < 2) return;
    QPainterPath path;
    path.addPolygon(points);
    draw(path, false, true);
}

void MetafileCanvas::polylineTo(const QPolygonF &points)
{
    if (points.isEmpty()) return;
    QPainterPath path(m_state.current);
    for (const QPointF &p : points)
        path.lineTo(p);
    draw(path, false, true, true);
    m_state.current = points.last();
}

void MetafileCanvas::polygon(const QPolygonF &points)
{
    if (points.size() < 2) return;
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    draw(path, true, true);
}

void MetafileCanvas::polyPolygon(const QVector<QPolygonF> &polygons)
{
    QPainterPath path;
    for (const QPolygonF &p : polygons) {
        if (p.size() < 2) continue;
        path.addPolygon(p);
        path.closeSubpath();
    }
    if (!path.isEmpty()) draw(path, true, true);
}

void MetafileCanvas::polyPolyline(const QVector<QPolygonF> &polylines)
{
    QPainterPath path;
    for (const QPolygonF &p : polylines)
        if (p.size() >= 2) path.addPolygon(p);
    if (!path.isEmpty()) draw(path, false, true);
}

void MetafileCanvas::polyBezier(const QPolygonF &points)
{
    if (points.size() < 4) return;
    QPainterPath path(points.first());
    for (int i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    draw(path, false, true);
}

void MetafileCanvas::polyBezierTo(const QPolygonF &points)
{
    if (points.size() < 3) return;
    QPainterPath path(m_state.current);
    int i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    draw(path, false, true, true);
    m_state.current = points[i - 1];
}

void MetafileCanvas::polyDraw(const QPolygonF &points, const QByteArray &types)
{
    enum { PtCloseFigure = 1, PtLineTo = 2, PtBezierTo = 4, PtMoveTo = 6 };
    QPainterPath path(m_state.current);
    const int n = std::min(points.size(), types.size());
    for (int i = 0; i < n; ++i) {
        const int t = quint8(types[i]);
        if ((t & ~PtCloseFigure) == PtMoveTo) {
            path.moveTo(points[i]);
        } else if ((t & ~PtCloseFigure) == PtBezierTo && i + 2 < n) {
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
        } else {
            path.lineTo(points[i]);
        }
        if (t & PtCloseFigure) path.closeSubpath();
        m_state.current = points[i];
    }
    draw(path, false, true, true);
}

void MetafileCanvas::rectangle(const QRectF &r)
{
    QPainterPath path;
    path.addRect(r.normalized());
    draw(path, true, true);
}

void MetafileCanvas::roundRect(const QRectF &r, const QSizeF &corner)
{
    QPainterPath path;
    path.addRoundedRect(r.normalized(), std::fabs(corner.width()) / 2,
                        std::fabs(corner.height()) / 2);
    draw(path, true, true);
}

void MetafileCanvas::ellipse(const QRectF &r)
{
    QPainterPath path;
    path.addEllipse(r.normalized());
    draw(path, true, true);
}

QPainterPath MetafileCanvas::arcPath(ArcKind kind, const QRectF &boxIn, const QPointF &start,
                                     const QPointF &end) const
{
    const QRectF box = boxIn.normalized();
    QPainterPath path;
    if (box.width() <= 0 || box.height() <= 0) return path;
    const QPointF c = box.center();
    const double rx = box.width() / 2, ry = box.height() / 2;
    auto angleOf = [&](const QPointF &p) {
        return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180 / M_PI;
    };
    const double a0 = angleOf(start), a1 = angleOf(end);
    // Arcs turn in the direction seen on the device: a mirrored mapping reverses it.
    const QTransform t = logicalToDevice();
    const bool mirrored = t.m11() * t.m22() - t.m12() * t.m21() < 0;
    const bool counterClockwise = m_state.clockwiseArcs == mirrored;
    double sweep = a1 - a0;
    if (counterClockwise) {
        while (sweep <= 0)
            sweep += 360;
        while (sweep > 360)
            sweep -= 360;
    } else {
        while (sweep >= 0)
            sweep -= 360;
        while (sweep < -360)
            sweep += 360;
    }
    if (kind == Pie) {
        path.moveTo(c);
        path.arcTo(box, a0, sweep);
        path.closeSubpath();
    } else if (kind == ArcTo) {
        path.moveTo(m_state.current);
        path.arcTo(box, a0, sweep);
    } else {
        path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        if (kind == Chord) path.closeSubpath();
    }
    return path;
}

void MetafileCanvas::arc(ArcKind kind, const QRectF &box, const QPointF &start, const QPointF &end)
{
    const QPainterPath path = arcPath(kind, box, start, end);
    if (path.isEmpty()) return;
    const bool closed = kind == Chord || kind == Pie;
    draw(path, closed, true, kind == ArcTo);
    if (kind == ArcTo) m_state.current = path.currentPosition();
}

void MetafileCanvas::angleArc(const QPointF &center, double radius, double startDeg,
                              double sweepDeg)
{
    if (!std::isfinite(startDeg) || !std::isfinite(sweepDeg) || radius <= 0) return;
    sweepDeg = std::fmod(sweepDeg, 720.0);
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(m_state.current);
    path.arcTo(box, startDeg, sweepDeg);
    draw(path, false, true, true);
    m_state.current = path.currentPosition();
}

void MetafileCanvas::setPixel(const QPointF &p, const QColor &color)
{
    const QPointF d = logicalToDevice().map(p);
    QPainterPath path;
    path.addRect(QRectF(std::floor(d.x()), std::floor(d.y()), 1, 1));
    const QPainterPath out = m_deviceToOutput.map(path);
    if (!paint::isDrawable(out)) return;
    m_painter->setTransform(QTransform());
    m_painter->fillPath(out, color);
}

// ---------------------------------------------------------------------------------------
// Paths

void MetafileCanvas::beginPath()
{
    m_path = QPainterPath();
    m_path.moveTo(logicalToDevice().map(m_state.current));
    m_inPath = true;
}

void MetafileCanvas::abortPath()
{
    m_path = QPainterPath();
    m_inPath = false;
}

void MetafileCanvas::closeFigure()
{
    if (m_inPath) m_path.closeSubpath();
}

void MetafileCanvas::fillPath()
{
    m_inPath = false;
    drawDevice(m_path, true, false);
    m_path = QPainterPath();
}

void MetafileCanvas::strokePath()
{
    m_inPath = false;
    drawDevice(m_path, false, true);
    m_path = QPainterPath();
}

void MetafileCanvas::strokeAndFillPath()
{
    m_inPath = false;
    drawDevice(m_path, true, true);
    m_path = QPainterPath();
}

void MetafileCanvas::widenPath()
{
    if (m_inPath) return;
    QPainterPathStroker stroker;
    const double deviceWidth = m_state.pen.width * paint::linearScale(logicalToDevice());
    stroker.setWidth(
        std::max(1.0, paint::penWidth(deviceWidth, paint::linearScale(m_deviceToOutput))));
    m_path = stroker.createStroke(m_path);
}

void MetafileCanvas::selectClipPath(int mode)
{
    m_inPath = false;
    QPainterPath path = m_path;
    path.setFillRule(m_state.windingFill ? Qt::WindingFill : Qt::OddEvenFill);
    path.closeSubpath();
    setClipRegion(path, mode);
    m_path = QPainterPath();
}

// ---------------------------------------------------------------------------------------
// Regions

void MetafileCanvas::fillRegion(const QRegion &device, const MetafileBrush &brush)
{
    QPainterPath path;
    path.addRegion(device);
    const MetafileBrush saved = m_state.brush;
    m_state.brush = brush;
    drawDevice(path, true, false);
    m_state.brush = saved;
}

void MetafileCanvas::frameRegion(const QRegion &device, const MetafileBrush &brush,
                                 const QSizeF &logical)
{
    const QTransform t = logicalToDevice();
    const QPointF d = t.map(QPointF(logical.width(), logical.height())) - t.map(QPointF(0, 0));
    const int w = std::max(1, int(std::fabs(d.x()))), h = std::max(1, int(std::fabs(d.y())));
    const QRegion inner = device.translated(w, 0) & device.translated(-w, 0) &
                          device.translated(0, h) & device.translated(0, -h);
    fillRegion(device - inner, brush);
}

// ---------------------------------------------------------------------------------------
// Text

QString MetafileCanvas::decodeText(const QByteArray &bytes, int charSet)
{
    const char *codec = nullptr;
    switch (charSet) {
    case 128:
        codec = "Shift-JIS";
        break;
    case 129:
        codec = "CP949";
        break;
    case 134:
        codec = "GBK";
        break;
    case 136:
        codec = "Big5";
        break;
    case 161:
        codec = "windows-1253";
        break;
    case 162:
        codec = "windows-1254";
        break;
    case 177:
        codec = "windows-1255";
        break;
    case 178:
        codec = "windows-1256";
        break;
    case 186:
        codec = "windows-1257";
        break;
    case 204:
        codec = "windows-1251";
        break;
    case 222:
        codec = "TIS-620";
        break;
    case 238:
        codec = "windows-1250";
        break;
    case 2:
        return QString::fromLatin1(bytes); // symbol fonts: the bytes are glyph numbers
    default:
        codec = "windows-1252";
        break;
    }
    if (QTextCodec *c = QTextCodec::codecForName(codec)) return c->toUnicode(bytes);
    return QString::fromLatin1(bytes);
}

QFont MetafileCanvas::qfont(double logicalToDevice, double logicalToOutput, double *emLogical) const
{
    const MetafileFont &f = m_state.font;
    QFont font(f.face.isEmpty() ? QStringLiteral("DejaVu Sans") : f.face);
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    const int w = f.weight;
    font.setWeight(w == 0    ? QFont::Normal
                   : w < 250 ? QFont::ExtraLight
                   : w < 350 ? QFont::Light
                   : w < 450 ? QFont::Normal
                   : w < 550 ? QFont::Medium
                   : w < 650 ? QFont::DemiBold
                   : w < 750 ? QFont::Bold
                   : w < 850 ? QFont::ExtraBold
                             : QFont::Black);
    double em = std::fabs(f.height);
    if (em == 0) em = 16 / logicalToDevice; // the system font of a screen
    if (f.height > 0) {
        // A positive height is the cell: ascent plus descent.
        font.setPixelSize(100);
        const QFontMetricsF fm(font);
        if (fm.ascent() + fm.descent() > 0) em = f.height * 100 / (fm.ascent() + fm.descent());
    }
    const double outputPx = em * logicalToOutput;
    font.setPixelSize(paint::fontPixels(outputPx));
    *emLogical = em;
    return font;
}

namespace {

// Text as filled outlines, for glyphs too large or too stretched for Qt's glyph cache. The
// outlines come from a font large enough to keep their shape and are scaled down to `font`'s
// pixels; `dxUnit` turns the per-character advances into those pixels.
QPainterPath textOutline(const QFont &font, const QPointF &origin, const QString &string,
                         const QVector<double> &dx, double dxUnit)
{
    constexpr int OutlinePixels = 256;
    const double k = double(font.pixelSize()) / OutlinePixels;
    QFont large = font;
    large.setPixelSize(OutlinePixels);
    large.setHintingPreference(QFont::PreferNoHinting);
    QPainterPath path;
    if (dx.isEmpty()) {
        path.addText(origin / k, large, string);
    } else {
        double advance = origin.x();
        for (int i = 0; i < string.size(); ++i) {
            path.addText(QPointF(advance, origin.y()) / k, large, QString(string[i]));
            advance += dx.value(i) / dxUnit;
        }
    }
    return QTransform::fromScale(k, k).map(path);
}

// Glyphs given by index as filled outlines, as textOutline does for characters: `positions`
// are in `font`'s pixels.
QPainterPath glyphOutline(const QFont &font, const QVector<quint32> &glyphs,
                          const QVector<QPointF> &positions)
{
    constexpr int OutlinePixels = 256;
    const double k = double(font.pixelSize()) / OutlinePixels;
    QFont large = font;
    large.setPixelSize(OutlinePixels);
    large.setHintingPreference(QFont::PreferNoHinting);
    const QRawFont raw = QRawFont::fromFont(large);
    QPainterPath path;
    if (!raw.isValid()) return path;
    for (int i = 0; i < glyphs.size(); ++i)
        path.addPath(raw.pathForGlyph(glyphs[i]).translated(positions.value(i) / k));
    return QTransform::fromScale(k, k).map(path);
}

} // namespace

void MetafileCanvas::text(const QPointF &reference, const QString &string,
                          const QVector<double> &dx, quint32 options, const QRectF &rect)
{
    if (string.isEmpty() || string.size() > limits::MaxTextChars) return;
    drawText(reference, string, {}, dx, options & ~quint32(EtoGlyphIndex), rect);
}

void MetafileCanvas::glyphs(const QPointF &reference, const QVector<quint32> &indexes,
                            const QVector<double> &dx, quint32 options, const QRectF &rect)
{
    if (indexes.isEmpty() || indexes.size() > limits::MaxTextChars) return;
    drawText(reference, QString(), indexes, dx, options | EtoGlyphIndex, rect);
}

void MetafileCanvas::drawText(const QPointF &referenceIn, const QString &string,
                              const QVector<quint32> &glyphs, const QVector<double> &dx,
                              quint32 options, const QRectF &rect)
{
    if (m_inPath) return;
    const bool byIndex = options & EtoGlyphIndex;
    const QTransform toDevice = logicalToDevice();
    const QTransform out = toDevice * m_deviceToOutput;
    if (!paint::isUsable(out)) return;
    const QPointF reference = (m_state.textAlign & TaUpdateCp) ? m_state.current : referenceIn;

    // Text stands upright on the device whatever the axes' directions; it follows
    // rotations of the world transform and the font's escapement.
    const QPointF o = toDevice.map(QPointF(0, 0));
    const QPointF ax = toDevice.map(QPointF(1, 0)) - o, ay = toDevice.map(QPointF(0, 1)) - o;
    const double sx = std::hypot(ax.x(), ax.y()), sy = std::hypot(ay.x(), ay.y());
    if (sx <= 0 || sy <= 0) return;
    const double axisAngle = std::atan2(ax.y(), ax.x()) * 180 / M_PI;
    const double mirroredX = ax.x() < 0 ? 180 : 0;
    const double angle = axisAngle - mirroredX - paint::tenthsToDegrees(m_state.font.escapement);
    const double outScale = paint::linearScale(m_deviceToOutput) * sy;

    if (options & EtoOpaque && rect.isValid()) {
        QPainterPath box;
        box.addRect(rect.normalized());
        fillLogical(box, m_state.bkColor);
    }

    double em = 0;
    const QFont font = qfont(sy, outScale, &em);
    const double unit = em / font.pixelSize(); // logical units per font pixel
    const QFontMetricsF fm(font);
    double stretch = 1;
    if (m_state.font.width > 0 && fm.averageCharWidth() > 0)
        stretch = m_state.font.width / (fm.averageCharWidth() * unit);

    double width = 0;
    if (!dx.isEmpty()) {
        for (double d : dx)
            width += d;
        width /= unit * stretch;
    } else if (!byIndex) {
        width = fm.horizontalAdvance(string);
    }
    // Glyph indices: the font's own glyphs, each advancing by dx or by its own advance.
    QRawFont raw;
    QVector<QPointF> positions;
    if (byIndex) {
        raw = QRawFont::fromFont(font);
        if (!raw.isValid()) return;
        const QVector<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
        double advance = 0;
        positions.reserve(glyphs.size());
        for (int i = 0; i < glyphs.size(); ++i) {
            positions << QPointF(advance, 0);
            advance += dx.isEmpty() ? advances.value(i).x() : dx.value(i) / (unit * stretch);
        }
        if (dx.isEmpty()) width = advance;
    }
    double x = 0, y = 0;
    switch (m_state.textAlign & TaHorizontalMask) {
    case TaRight:
        x = -width;
        break;
    case TaCenter:
        x = -width / 2;
        break;
    default:
        break;
    }
    switch (m_state.textAlign & TaVerticalMask) {
    case TaBaseline:
        break;
    case TaBottom:
        y = -fm.descent();
        break;
    default:
        y = fm.ascent();
        break;
    }

    const QPointF origin = toDevice.map(reference);
    const QTransform local = QTransform::fromScale(unit * stretch * sx, unit * sy) *
                             QTransform().rotate(angle) *
                             QTransform::fromTranslate(origin.x(), origin.y()) * m_deviceToOutput;
    if (!paint::isUsable(local) ||
        !paint::isDrawable(local.mapRect(QRectF(x, y - fm.ascent(), width, fm.height()))))
        return;

    m_painter->save();
    if (options & EtoClipped && rect.isValid()) {
        QPainterPath clip;
        clip.addRect(rect.normalized());
        m_painter->setTransform(out);
        m_painter->setClipPath(clip, Qt::IntersectClip);
    }
    m_painter->setTransform(local);
    if (m_state.opaqueBackground)
        m_painter->fillRect(QRectF(x, y - fm.ascent(), width, fm.ascent() + fm.descent()),
                            m_state.bkColor);
    if (byIndex) {
        for (QPointF &p : positions)
            p += QPointF(x, y);
    }
    if (byIndex && paint::glyphsFitCache(local, font.pixelSize())) {
        QGlyphRun run;
        run.setRawFont(raw);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        run.setUnderline(font.underline());
        run.setStrikeOut(font.strikeOut());
        m_painter->setPen(m_state.textColor);
        m_painter->drawGlyphRun(QPointF(0, 0), run);
    } else if (paint::glyphsFitCache(local, font.pixelSize())) {
        m_painter->setFont(font);
        m_painter->setPen(m_state.textColor);
        if (dx.isEmpty()) {
            m_painter->drawText(QPointF(x, y), string);
        } else {
            double advance = x;
            for (int i = 0; i < string.size(); ++i) {
                m_painter->drawText(QPointF(advance, y), QString(string[i]));
                advance += dx.value(i) / (unit * stretch);
            }
        }
    } else {
        const QPainterPath outline =
            byIndex ? glyphOutline(font, glyphs, positions)
                    : textOutline(font, QPointF(x, y), string, dx, unit * stretch);
        m_painter->setPen(Qt::NoPen);
        m_painter->setBrush(m_state.textColor);
        if (outline.elementCount() <= paint::MaxPathElements) m_painter->drawPath(outline);
    }
    m_painter->restore();

    if (m_state.textAlign & TaUpdateCp) {
        const double advanceLogical = width * unit * stretch;
        m_state.current = reference + QPointF(advanceLogical * (ax.x() < 0 ? -1 : 1), 0);
    }
}

// ---------------------------------------------------------------------------------------
// Bitmaps and fills

void MetafileCanvas::fillLogical(const QPainterPath &logical, const QColor &color)
{
    const QTransform out = toOutput();
    if (!paint::isUsable(out)) return;
    const QPainterPath path = out.map(logical);
    if (!paint::isDrawable(path)) return;
    m_painter->setTransform(QTransform());
    m_painter->fillPath(path, color);
}

void MetafileCanvas::bitmap(const QRectF &dest, const QImage &imageIn, const QRectF &sourceIn,
                            quint32 rop, double opacity)
{
    const TernaryRop op(rop);
    if (imageIn.isNull() || m_inPath || op.isNoOp()) return;
    if (!op.usesSource()) {
        patternBlt(dest, rop);
        return;
    }
    QRectF source = sourceIn;
    if (source.width() == 0 || source.height() == 0) source = imageIn.rect();
    if (dest.width() == 0 || dest.height() == 0) return;
    // Maps the source rectangle onto the destination, mirrored when a side is negative.
    const QTransform sourceToLogical =
        QTransform::fromTranslate(-source.x(), -source.y()) *
        QTransform::fromScale(dest.width() / source.width(), dest.height() / source.height()) *
        QTransform::fromTranslate(dest.x(), dest.y());
    const QTransform out = sourceToLogical * toOutput();
    if (!paint::isUsable(out) || !paint::isDrawable(out.mapRect(source))) return;
    QImage image = imageIn;
    if (op.code() == (NotSrcCopy >> 16)) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        image.invertPixels();
    } else if (op.code() != (SrcCopy >> 16)) {
        ternaryBlt(dest, op, &image, source, sourceToLogical);
        return;
    }
    m_painter->save();
    m_painter->setTransform(out);
    m_painter->setOpacity(opacity);
    m_painter->drawImage(source, image, source);
    m_painter->restore();
}

void MetafileCanvas::patternBlt(const QRectF &dest, quint32 rop)
{
    const TernaryRop op(rop);
    // Without a source bitmap an operation that needs one does nothing, as on the system.
    if (m_inPath || op.isNoOp() || op.usesSource()) return;
    const MetafileBrush &brush = m_state.brush;
    if (op.usesPattern() && brush.style == MetafileBrush::Null) return;
    QPainterPath path;
    path.addRect(dest.normalized());
    if (!op.usesDestination() && (!op.usesPattern() || brush.style == MetafileBrush::Solid)) {
        // One colour over the whole rectangle.
        fillLogical(path, QColor::fromRgb(op.apply(brush.color.rgb(), 0, 0)));
        return;
    }
    if (!op.usesDestination() && op.code() == (PatCopy >> 16)) {
        const MetafilePen pen = m_state.pen;
        const int rop2 = m_state.rop2;
        m_state.pen.style = PsNull;
        m_state.rop2 = 13;
        draw(path, true, false);
        m_state.pen = pen;
        m_state.rop2 = rop2;
        return;
    }
    ternaryBlt(dest, op, nullptr, QRectF(), QTransform());
}

void MetafileCanvas::ternaryBlt(const QRectF &dest, const TernaryRop &op, const QImage *source,
                                const QRectF &sourceRect, const QTransform &sourceToLogical)
{
    const QTransform out = toOutput();
    if (!paint::isUsable(out)) return;
    QPainterPath area;
    area.addRect(dest.normalized());
    const QPainterPath outArea = out.map(area);
    if (!paint::isDrawable(outArea)) return;

    // Output pixels of the painter's device; the destination is read back only from an image.
    m_painter->setTransform(QTransform());
    const QTransform toPixels = m_painter->deviceTransform();
    if (!paint::isUsable(toPixels)) return;
    QPaintDevice *device = m_painter->device();
    QImage *target =
        device && device->devType() == QInternal::Image ? static_cast<QImage *>(device) : nullptr;
    QRect pixels = toPixels.map(outArea).boundingRect().toAlignedRect();
    if (target)
        pixels &= target->rect();
    else if (device)
        pixels &= QRect(0, 0, int(device->width() * device->devicePixelRatioF()),
                        int(device->height() * device->devicePixelRatioF()));
    if (m_painter->hasClipping())
        pixels &= toPixels.mapRect(m_painter->clipBoundingRect()).toAlignedRect();
    if (pixels.isEmpty()) return;
    const qint64 area64 = qint64(pixels.width()) * pixels.height();
    if (area64 > m_rasterOpBudget) return;
    m_rasterOpBudget -= area64;

    QBrush brush;
    if (op.usesPattern()) brush = brushFor(logicalToDevice());
    const bool solid = brush.style() == Qt::SolidPattern;
    const QTransform outToPixels = out * toPixels;

    m_painter->save();
    m_painter->setClipPath(outArea, Qt::IntersectClip);
    m_painter->setTransform(toPixels.inverted());
    // Pixels read from the image go back whole; elsewhere only what the operation changed.
    m_painter->setCompositionMode(target ? QPainter::CompositionMode_Source
                                         : QPainter::CompositionMode_SourceOver);
    const int bandRows = std::max(1, int(limits::RasterOpBandPixels / pixels.width()));
    for (int top = pixels.top(); top <= pixels.bottom(); top += bandRows) {
        const QRect band(pixels.left(), top, pixels.width(),
                         std::min(bandRows, pixels.bottom() - top + 1));
        const QTransform toBand = outToPixels * QTransform::fromTranslate(-band.x(), -band.y());
        QImage destination = target ? target->copy(band) : QImage(band.size(), Pixels);
        if (destination.isNull()) break;
        if (!target) destination.fill(Qt::transparent);
        QImage pattern, sourceBand;
        if (op.usesPattern() && !solid) {
            pattern = QImage(band.size(), Pixels);
            if (pattern.isNull()) break;
            const bool hatchBackground =
                m_state.brush.style == MetafileBrush::Hatched && m_state.opaqueBackground;
            pattern.fill(hatchBackground ? m_state.bkColor : QColor(Qt::black));
            QPainter p(&pattern);
            p.setTransform(toBand);
            p.fillPath(area, brush);
        }
        if (source) {
            sourceBand = QImage(band.size(), Pixels);
            if (sourceBand.isNull()) break;
            sourceBand.fill(Qt::black);
            QPainter p(&sourceBand);
            p.setTransform(sourceToLogical * toBand);
            p.drawImage(sourceRect, *source, sourceRect);
        }
        op.apply(destination, pattern, sourceBand, solid ? brush.color().rgb() : 0);
        m_painter->drawImage(band.topLeft(), destination);
    }
    m_painter->restore();
}

void MetafileCanvas::gradientRect(const QRectF &logical, const QColor &from, const QColor &to,
                                  bool vertical)
{
    const QTransform out = toOutput();
    if (!paint::isUsable(out)) return;
    QLinearGradient g(logical.topLeft(), vertical ? logical.bottomLeft() : logical.topRight());
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    QPainterPath path;
    path.addRect(logical.normalized());
    if (!paint::isDrawable(out.map(path))) return;
    m_painter->setTransform(out);
    m_painter->fillPath(path, g);
}

} // namespace metafile
