#pragma once

// Looking at what was drawn: paint into a picture, read its pixels, search an area.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <functional>

// Paints onto a picture of `size` filled with `background` (transparent by default).
inline QImage render(const QSize &size, const std::function<void(QPainter *)> &paint,
                     const QColor &background = QColor(0, 0, 0, 0))
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    paint(&painter);
    painter.end();
    return image;
}

inline QColor pixel(const QImage &image, const QPoint &at)
{
    return QColor::fromRgba(image.pixel(at));
}

inline QColor pixel(const QImage &image, int x, int y)
{
    return pixel(image, QPoint(x, y));
}

// The colour of a pixmap's top-left pixel; invalid for a null pixmap.
inline QColor colourOf(const QPixmap &pixmap)
{
    return pixmap.isNull() ? QColor() : pixmap.toImage().pixelColor(0, 0);
}

inline bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

// Whether some pixel of the area is `color`, within `tolerance`. Text is antialiased; its
// solid stems carry the exact colour.
inline bool areaHas(const QImage &image, const QRect &area, const QColor &color, int tolerance = 6)
{
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (near(pixel(image, x, y), color, tolerance)) return true;
    return false;
}

// Whether anything was painted over `color` in the area.
inline bool areaChanged(const QImage &image, const QRect &area, const QColor &color)
{
    const QRect clipped = area & image.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            if (pixel(image, x, y) != color) return true;
    return false;
}
