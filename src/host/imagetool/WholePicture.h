#pragma once

// The whole first picture of a file at a given size, as render --box and thumbnails make it,
// and the PNG files both write.

#include <QImage>
#include <QSize>
#include <QString>

class ImageWrapper;

namespace imagetool {

// The picture's size as shown (upright), from its stored size when it was decoded reduced
// into a box: the reduced decode rounds its sides. Raw files answer with their preview's.
QSize wholeSize(const ImageWrapper &picture);

// The EXIF thumbnail turned upright, when it can stand in for the picture at `size`: at
// least that large and of the picture's shape (within 2 %). Null otherwise.
QImage exifStandIn(const ImageWrapper &picture, const QSize &size);

// Frame 0 upright at exactly `size` (of the shape of wholeSize()), by one smooth scaling of
// the decoded pixels, or from the EXIF thumbnail when `exifThumbnail` allows it and it can
// stand in. Null when the picture has no pixels.
QImage renderWhole(const ImageWrapper &picture, const QSize &size, bool exifThumbnail);

// Writes `image` as a PNG at `path`, replacing it only when written whole: opaque pictures as
// RGB, at zlib's fast levels (a thumbnail or a render is written once and read rarely).
bool writePng(const QString &path, const QImage &image, QString *reason);

} // namespace imagetool
