#pragma once

#include <QPainterPath>
#include <QRectF>
#include <QTransform>

// What a file may make a QPainter do. Qt's raster engine trusts its caller: glyphs scaled far
// along one axis overflow FreeType's rasteriser and the glyph cache then copies past its
// buffers; coordinates near the limits of its fixed-point arithmetic hang or wrap. Every
// player that turns values read from a file into painter calls asks here first.
namespace metafile::paint {

constexpr double MaxCoordinate = 1e9;    // output pixels; shapes beyond are not drawn
constexpr double MaxAxisScale = 1e7;     // output pixels per unit along either axis
constexpr double MinDeterminant = 1e-24; // a flatter transform draws nothing visible
constexpr double MaxPenPixels = 1e5;     // wider pens are drawn this wide
constexpr int MaxPathElements = 1 << 20; // a shape with more points is not drawn
constexpr int MaxFontPixels = 4096;      // a font's pixel size, before its transform
// Qt draws text through its glyph cache whenever the transform's determinant is small,
// however far one axis stretches. Larger or more stretched glyphs are filled as outlines.
constexpr double MaxCachedGlyphPixels = 256; // a glyph's extent on its longer output axis
constexpr double MaxCachedGlyphAspect = 8;   // longer output axis over the shorter one

// The lengths that the transform gives a unit along its most and least stretched directions.
struct AxisScales
{
    double major = 0;
    double minor = 0;
};
AxisScales axisScales(const QTransform &t);

bool isFinite(const QTransform &t);
// Finite, affine, no axis stretched beyond MaxAxisScale, not flattened to a line.
bool isUsable(const QTransform &t);
// The square root of the determinant: how a length grows on average.
double linearScale(const QTransform &t);
// Whether a shape with these bounds in output pixels may be drawn.
bool isDrawable(const QRectF &outputBounds);
// Whether a shape in output pixels may be drawn: its bounds, and no more than
// MaxPathElements points.
bool isDrawable(const QPainterPath &outputPath);
// Whether text of this font pixel size, drawn through `glyphToOutput`, may go through the
// glyph cache; when not, it is filled as outlines.
bool glyphsFitCache(const QTransform &glyphToOutput, double fontPixels);
// A font pixel size within [1, MaxFontPixels].
int fontPixels(double wanted);
// A pen width in its own units whose width in output pixels (at `outputScale` pixels per
// unit) is at most MaxPenPixels.
double penWidth(double width, double outputScale);
// An angle in degrees taken from tenths of a degree, within (-360, 360).
double tenthsToDegrees(double tenths);

} // namespace metafile::paint
