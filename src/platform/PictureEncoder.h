#pragma once

#include <QImage>
#include <QString>
#include <QUuid>
#include <QVector>

namespace platform {

// The containers the picture encoder writes.
enum class PictureContainer { Bmp, Jpeg, Png, Tiff };

// How the prepared rows handed to the encoder are laid out, byte by byte.
enum class PixelLayout {
    Indexed8, // one palette index per pixel; the palette is the image's colour table
    Bgr24,    // blue, green, red
    Bgra32,   // blue, green, red, alpha (straight alpha)
    PBgra32,  // blue, green, red, alpha (premultiplied)
    Alpha8,   // alpha only
    Gray8,    // grey only
};

// One encoder the platform offers: a stable class identifier and the MIME type it writes.
struct EncoderInfo
{
    QUuid clsid;
    QString mimeType;
    PictureContainer container;
};

// Every encoder, in a fixed order (BMP, JPEG, PNG, TIFF).
QVector<EncoderInfo> pictureEncoders();

// Writes `rows` (width x height pixels laid out as `layout`, at the image's stride) to
// `path` in `container`. The file is written to a temporary file in the same folder and
// renamed over `path` only when everything succeeded, so a failed write never truncates or
// destroys an existing file. Returns whether the file was written.
bool encodePicture(PictureContainer container, PixelLayout layout, const QImage &rows,
                   const QString &path);

} // namespace platform
