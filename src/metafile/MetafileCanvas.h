#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRegion>
#include <QTransform>
#include <QVector>

#include <vector>

class QPainter;

namespace metafile {

class TernaryRop;

// The drawing objects a metafile creates, selects and deletes.
struct MetafilePen
{
    int style = 0;            // PS_* line style, end cap and join bits
    double width = 0;         // logical units; 0 draws one device pixel
    bool cosmetic = true;     // one device pixel whatever the width
    QColor color = Qt::black; //
    QVector<qreal> dashes;    // user style, logical units
};

struct MetafileBrush
{
    enum Style { Solid, Null, Hatched, Pattern };
    Style style = Solid;
    QColor color = Qt::white;
    int hatch = 0;
    QImage pattern;
    bool monochrome = false; // pattern pixels take the text and background colours
};

struct MetafileFont
{
    double height = 0; // logical units; negative: character height, positive: cell height
    double width = 0;
    double escapement = 0; // tenths of a degree, counter-clockwise
    int weight = 0;
    bool italic = false, underline = false, strikeOut = false;
    int charSet = 0;
    QString face;
};

struct MetafileObject
{
    enum Kind { Empty, Pen, Brush, Font, Region, Other };
    Kind kind = Empty;
    MetafilePen pen;
    MetafileBrush brush;
    MetafileFont font;
    QRegion region; // device units for enhanced metafiles, logical for Windows metafiles
};

// The device-context state that SaveDC keeps and RestoreDC brings back.
struct MetafileState
{
    MetafilePen pen;
    MetafileBrush brush;
    MetafileFont font;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    bool opaqueBackground = true;
    bool windingFill = false;
    int rop2 = 13; // R2_COPYPEN
    int textAlign = 0;
    int mapMode = 1; // MM_TEXT
    bool clockwiseArcs = false;
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt = {1, 1}, viewportExt = {1, 1};
    QTransform world;
    QPointF current; // logical
    bool clipped = false;
    QPainterPath clip; // device units
};

// Plays drawing operations in the logical coordinates of a metafile onto a QPainter: keeps
// the state, maps logical units through the world transform and the mapping mode to the
// reference device, and the device onto the painter's target.
class MetafileCanvas
{
public:
    // `deviceToOutput` maps reference-device units to the painter's coordinates, `frame` is
    // the picture's frame in device units (nothing is drawn outside it), `pixelsPerMm` the
    // reference device's resolution for the metric mapping modes.
    MetafileCanvas(QPainter *painter, const QTransform &deviceToOutput, const QRectF &frame,
                   const QSizeF &pixelsPerMm);
    ~MetafileCanvas();

    MetafileState &state() { return m_state; }
    QTransform logicalToDevice() const;

    // Mapping.
    void setMapMode(int mode);
    void setWindowOrg(const QPointF &p) { m_state.windowOrg = p; }
    void setViewportOrg(const QPointF &p) { m_state.viewportOrg = p; }
    void setWindowExt(const QSizeF &s);
    void setViewportExt(const QSizeF &s);
    void scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void setWorldTransform(const QTransform &t);
    void modifyWorldTransform(const QTransform &t, int mode);

    // State stack: `restore` takes a relative (negative) or absolute (positive) level.
    void save();
    void restore(int level);

    // Selection of drawing objects and clip regions.
    void select(const MetafileObject &object);
    void setClipRegion(const QPainterPath &device, int mode); // RGN_AND ... RGN_COPY
    void resetClip();
    void intersectClipRect(const QRectF &logical);
    void excludeClipRect(const QRectF &logical);
    void offsetClip(const QPointF &logicalOffset);

    // Lines and shapes, in logical units.
    void moveTo(const QPointF &p);
    void lineTo(const QPointF &p);
    void polyline(const QPolygonF &points);
    void polylineTo(const QPolygonF &points);
    void polygon(const QPolygonF &points);
    void polyPolygon(const QVector<QPolygonF> &polygons);
    void polyPolyline(const QVector<QPolygonF> &polylines);
    void polyBezier(const QPolygonF &points);
    void polyBezierTo(const QPolygonF &points);
    void polyDraw(const QPolygonF &points, const QByteArray &types);
    void rectangle(const QRectF &r);
    void roundRect(const QRectF &r, const QSizeF &corner);
    void ellipse(const QRectF &r);
    enum ArcKind { Arc, ArcTo, Chord, Pie };
    void arc(ArcKind kind, const QRectF &box, const QPointF &start, const QPointF &end);
    void angleArc(const QPointF &center, double radius, double startDeg, double sweepDeg);
    void setPixel(const QPointF &p, const QColor &color);

    // Path bracket.
    void beginPath();
    void endPath() { m_inPath = false; }
    void abortPath();
    void closeFigure();
    void fillPath();
    void strokePath();
    void strokeAndFillPath();
    void widenPath();
    void selectClipPath(int mode);

    // Regions in device units.
    void fillRegion(const QRegion &device, const MetafileBrush &brush);
    void frameRegion(const QRegion &device, const MetafileBrush &brush, const QSizeF &logical);

    // Text: `dx` holds per-character advances in logical units (may be empty); `rect` is
    // used for ETO_OPAQUE and ETO_CLIPPED.
    void text(const QPointF &reference, const QString &text, const QVector<double> &dx,
              quint32 options, const QRectF &rect);
    // Text given as indices of the selected font's glyphs (ETO_GLYPH_INDEX).
    void glyphs(const QPointF &reference, const QVector<quint32> &indexes,
                const QVector<double> &dx, quint32 options, const QRectF &rect);

    // Bitmaps: `source` is in the image's pixels, top-down; `dest` in logical units.
    void bitmap(const QRectF &dest, const QImage &image, const QRectF &source, quint32 rop,
                double opacity = 1.0);
    // A transfer without a source bitmap: the brush and the destination under `rop`.
    void patternBlt(const QRectF &dest, quint32 rop);
    void gradientRect(const QRectF &logical, const QColor &from, const QColor &to, bool vertical);
    void fillLogical(const QPainterPath &logical, const QColor &color);

    // Converts a string of the given character set to text.
    static QString decodeText(const QByteArray &bytes, int charSet);

    // What the EMF+ player draws through, beside this canvas.
    QPainter *painter() const { return m_painter; }
    const QTransform &deviceToOutput() const { return m_deviceToOutput; }
    const QRectF &frame() const { return m_frame; }
    const QSizeF &pixelsPerMm() const { return m_pixelsPerMm; }

private:
    QTransform toOutput() const;
    void draw(const QPainterPath &logical, bool fill, bool stroke, bool connect = false);
    void drawDevice(const QPainterPath &device, bool fill, bool stroke);
    bool setPenFor(const QTransform &toOutput, double widthFactor, const QPainterPath &outPath);
    QBrush brushFor(const QTransform &drawingToDevice) const;
    bool setBrushFor(const QTransform &drawingToDevice);
    bool applyRop();
    void applyClip();
    void fillBackgroundForHatch(const QPainterPath &path);
    QPainterPath arcPath(ArcKind kind, const QRectF &box, const QPointF &start,
                         const QPointF &end) const;
    // Evaluates `op` pixel by pixel over the output pixels of the logical rectangle `dest`;
    // the source, if any, is `sourceRect` of `source` placed by `sourceToLogical`.
    void ternaryBlt(const QRectF &dest, const TernaryRop &op, const QImage *source,
                    const QRectF &sourceRect, const QTransform &sourceToLogical);
    // Characters, or the glyphs of `glyphs` when `options` has ETO_GLYPH_INDEX.
    void drawText(const QPointF &reference, const QString &string, const QVector<quint32> &glyphs,
                  const QVector<double> &dx, quint32 options, const QRectF &rect);
    QFont qfont(double logicalToDevice, double logicalToOutput, double *emLogical) const;

    QPainter *m_painter;
    QTransform m_deviceToOutput;
    QRectF m_frame;
    QSizeF m_pixelsPerMm;
    QPainterPath m_outerClip; // output coordinates
    MetafileState m_state;
    std::vector<MetafileState> m_saved;
    int m_droppedSaves = 0;
    bool m_inPath = false;
    QPainterPath m_path;     // device units
    qint64 m_rasterOpBudget; // output pixels raster operations may still evaluate
};

} // namespace metafile
