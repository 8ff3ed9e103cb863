#pragma once

#include <QtGlobal>

namespace platform::decoders {

constexpr qint64 MaxPixels = 104857600;
constexpr int MaxSide = 262140;

inline bool fitsLimits(int width, int height)
{
    return width > 0 && height > 0 && width <= MaxSide && height <= MaxSide &&
           qint64(width) * height <= MaxPixels;
}

} // namespace platform::decoders
