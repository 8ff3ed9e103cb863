#pragma once

#include <QtGlobal>

namespace metafile {

// Bounds that keep a hostile or broken metafile from taking unbounded memory or time.
// Every count, size and offset read from a file is also checked against the bytes that
// really remain; these limits cap what an honest-looking size may still ask for.
namespace limits {

constexpr qint64 MaxFileBytes = 256 * 1024 * 1024; // a metafile is read whole into memory
constexpr int MaxPictureSide = 16384;              // larger frames are reported scaled down
constexpr int MaxSavedStates = 1024;               // SaveDC nesting; deeper saves are ignored
constexpr qint64 MaxBitmapPixels = 1 << 25;        // one embedded bitmap, 128 MiB as ARGB
constexpr qint64 MaxPictureBitmapPixels = 1 << 28; // every bitmap of one playback together
// Output pixels the raster operations of one playback may evaluate one by one, and how many
// they take at a time.
constexpr qint64 MaxRasterOpPixels = 1 << 27;
constexpr qint64 RasterOpBandPixels = 1 << 20;
constexpr int MaxClipElements = 8192; // a clip more complex than this takes no more changes
constexpr int MaxBitmapSide = 1 << 16;
constexpr int MaxPaletteEntries = 256;
constexpr int MaxRegionRects = 1 << 16; // rectangles of one clip or fill region
constexpr double MaxDashSegments = 1e5; // a longer dashed line is drawn solid
constexpr int MaxTextChars = 1 << 16;
constexpr double MinExtent = 1e-9; // window or viewport scale below this is refused

} // namespace limits
} // namespace metafile
