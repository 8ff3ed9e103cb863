#pragma once

#include <QSize>
#include <QtGlobal>

namespace platform::decoders {

// What our own readers decode at most: 400 MiB of 32-bit pixels, and no side longer than a
// picture anyone makes. A size read from a file is checked against these before any memory is
// spent on it.
constexpr qint64 MaxPixels = 104857600;
constexpr int MaxSide = 262140;

inline bool fitsLimits(int w, int h)
{
    return w > 0 && h > 0 && w <= MaxSide && h <= MaxSide && qint64(w) * h <= MaxPixels;
}

inline bool fitsLimits(QSize size)
{
    return fitsLimits(size.width(), size.height());
}

} // namespace platform::decoders
