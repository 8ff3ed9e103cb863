#include "PaintBounds.h"

#include <algorithm>
#include <cmath>

namespace metafile::paint {

AxisScales axisScales(const QTransform &t)
{
    // The singular values of the linear part.
    const double a = t.m11(), b = t.m12(), c = t.m21(), d = t.m22();
    const double sum = a * a + b * b + c * c + d * d;
    const double det = a * d - b * c;
    const double root = std::sqrt(std::max(0.0, sum * sum - 4 * det * det));
    return {std::sqrt((sum + root) / 2), std::sqrt(std::max(0.0, (sum - root) / 2))};
}

bool isFinite(const QTransform &t)
{
    const double v[] = {t.m11(), t.m12(), t.m13(), t.m21(), t.m22(),
                        t.m23(), t.m31(), t.m32(), t.m33()};
    return std::all_of(std::begin(v), std::end(v), [](double x) { return std::isfinite(x); });
}

bool isUsable(const QTransform &t)
{
    if (!isFinite(t) || !t.isAffine()) return false;
    if (std::fabs(t.dx()) >= MaxCoordinate || std::fabs(t.dy()) >= MaxCoordinate) return false;
    const double det = std::fabs(t.determinant());
    return axisScales(t).major <= MaxAxisScale && det >= MinDeterminant;
}

double linearScale(const QTransform &t)
{
    return std::sqrt(std::fabs(t.m11() * t.m22() - t.m12() * t.m21()));
}

bool isDrawable(const QRectF &b)
{
    const double v[] = {b.left(), b.right(), b.top(), b.bottom()};
    return std::all_of(std::begin(v), std::end(v),
                       [](double x) { return std::isfinite(x) && std::fabs(x) < MaxCoordinate; });
}

bool isDrawable(const QPainterPath &outputPath)
{
    return outputPath.elementCount() <= MaxPathElements &&
           isDrawable(outputPath.controlPointRect());
}

bool glyphsFitCache(const QTransform &t, double fontPixels)
{
    if (!isUsable(t)) return false;
    const AxisScales s = axisScales(t);
    return s.major * fontPixels <= MaxCachedGlyphPixels &&
           s.major <= s.minor * MaxCachedGlyphAspect;
}

int fontPixels(double wanted)
{
    if (!std::isfinite(wanted)) return 1;
    return int(std::clamp(std::round(wanted), 1.0, double(MaxFontPixels)));
}

double penWidth(double width, double outputScale)
{
    if (!std::isfinite(width) || width <= 0) return 0;
    if (std::isfinite(outputScale) && width * outputScale > MaxPenPixels && outputScale > 0)
        return MaxPenPixels / outputScale;
    return width;
}

double tenthsToDegrees(double tenths)
{
    return std::isfinite(tenths) ? std::fmod(tenths, 3600.0) / 10.0 : 0.0;
}

} // namespace metafile::paint
