#pragma once

#include <QImage>
#include <QSize>
#include <QVector>

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

// An uncompressed thumbnail: 8-bit samples, one (grey) or three (red first) per pixel, stored
// row after row from `offset`.
struct BitmapPreview
{
    qint64 offset = 0;
    QSize size;
    int samples = 3;

    bool isValid() const { return !size.isEmpty(); }
};

// Every preview a walk found in a raw file: the JPEG ones, largest first, and the largest
// uncompressed thumbnail.
struct Previews
{
    QVector<JpegPreview> jpegs;
    BitmapPreview bitmap;

    bool isEmpty() const { return jpegs.isEmpty() && !bitmap.isValid(); }
    // The size of the preview that is shown when all of them decode.
    QSize largestSize() const { return jpegs.isEmpty() ? bitmap.size : jpegs.first().size; }
};

// Gathers the previews that a walk over a file's structure comes across. Nothing is kept
// unless it lies wholly inside the device: a JPEG stream whose header is whole and whose
// frame the JPEG reader decodes (jpegFrameSize), a thumbnail whose every pixel the file holds.
class PreviewCollector
{
public:
    explicit PreviewCollector(QIODevice *device) : m_device(device) {}

    void considerJpeg(qint64 offset, qint64 length);
    void considerBitmap(qint64 offset, qint64 length, const QSize &size, int samples);
    // What was found, the JPEG previews largest first.
    Previews previews() const;

private:
    QIODevice *m_device;
    Previews m_found;
};

// Finds the previews that a camera embedded in its raw file: in TIFF-based files (DNG, CR2,
// NEF, ARW, PEF, ORF, RW2, ...: IFD chains, sub-IFDs and the EXIF IFD), a RAF file's header,
// a CR3 file's boxes and a CRW file's heaps. Every offset and length is checked against the
// device's size; each walk is bounded in depth and size and ends loops.
// With `shooting`, the walk also fills in what the file says about the picture (make, model,
// time, exposure, lens, orientation) and the picture's size.
Previews findPreviews(QIODevice *device, ShootingData *shooting = nullptr);

// The largest JPEG preview of findPreviews(); invalid when there is none.
JpegPreview findLargestJpegPreview(QIODevice *device, ShootingData *shooting = nullptr);

// Reads and decodes a preview found above; a null picture when it does not decode.
QImage decodeJpegPreview(QIODevice *device, const JpegPreview &preview);

// An uncompressed picture of `size` at `offset`: `samples` (1 or 3) per pixel of
// `sampleBytes` (1, or 2 of which the high byte is shown) bytes each. Null unless the device
// holds all of it.
QImage decodeBitmap(QIODevice *device, qint64 offset, const QSize &size, int samples,
                    int sampleBytes = 1, bool littleEndian = true);

// The first of the previews that decodes: the JPEG ones largest first, then the thumbnail.
QImage decodePreview(QIODevice *device, const Previews &previews);

// Adds what a TIFF structure held in `device` says about the shooting (Canon keeps IFD0 and
// the EXIF IFD of its CR3 files so). With `ifd0IsPicture`, IFD0's size is the picture's.
void readTiffShootingData(QIODevice *device, ShootingData *shooting, bool ifd0IsPicture);

} // namespace raw
