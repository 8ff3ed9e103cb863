#pragma once

#include "platform/PictureEncoder.h"

#include <QImage>
#include <QString>

// The direct picture writer for BMP, JPEG, PNG and TIFF that flips, turned saves and
// conversions use.

// 0 and the container of a format id (JPEG family, PNG, TIFF, BMP); 1 for any other id.
int wicContainerForFormat(int formatId, platform::PictureContainer *out);

// The rows handed to the encoder and their layout: BMP and JPEG are flattened onto white
// first; 24-bit rows leave in blue, green, red order.
void prepareWicPixels(const QImage &source, int formatId, platform::PixelLayout *pixelFormat,
                      QImage *out);

// Writes `image` to `path` in the container of `formatId`. An unsupported id fails before
// the file is touched; any other failure leaves an existing file at `path` as it was.
bool saveWithWic(const QImage &image, int formatId, const QString &path);

// Writes `image` with Qt's writer for `format` (a suffix such as "jpg" or "xpm") at `quality`.
// The file is written beside `path` and renamed over it only when complete, so a failure
// leaves an existing file as it was.
bool savePicture(const QImage &image, const QString &path, const char *format, int quality);
