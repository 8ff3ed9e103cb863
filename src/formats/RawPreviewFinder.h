#pragma once

#include <QImage>
#include <QSize>

class QIODevice;

namespace raw {

struct ShootingData;

// Where a JPEG stream lies in a file, and the size of the picture it holds.
struct JpegPreview
{
    qint64 offset = 0;
    qint64 length = 0;
    QSize size;

    bool isValid() const { return length > 0 && !size.isEmpty(); }
};

// Exactly `length` bytes at `offset` of `device`, or nothing when the device does not hold them.
QByteArray readAt(QIODevice *device, qint64 offset, qint64 length);

// The frame size of the JPEG stream in [offset, offset + length) of `device`, read from its
// frame header; invalid unless the stream starts a JPEG, every segment up to the first scan
// is whole and inside the stream, its frame is a baseline, extended or progressive one (what
// the JPEG reader decodes; lossless raw data is not), and it holds no more than
// MaxPreviewPixels. Without `checkStart` the first two bytes are taken to be the start marker
// whatever they hold (as LibRaw takes them).
QSize jpegFrameSize(QIODevice *device, qint64 offset, qint64 length, bool checkStart = true);

// Finds the largest decodable JPEG preview that a camera embedded in a TIFF-based raw file
// (DNG, CR2, NEF, ARW, PEF, ORF, RW2, ...: IFD chains, sub-IFDs and the EXIF IFD) or in a
// RAF file's header. Every offset and length is checked against the device's size; the walk
// is bounded in depth and number of IFDs and ends loops. Invalid when there is none.
// With `shooting`, the walk also fills in what IFD0 and the EXIF IFD say about the picture
// (make, model, time, exposure, lens, orientation) and the sensor data's size.
JpegPreview findLargestJpegPreview(QIODevice *device, ShootingData *shooting = nullptr);

// Reads and decodes a preview found above; a null picture when it does not decode.
QImage decodeJpegPreview(QIODevice *device, const JpegPreview &preview);

} // namespace raw
