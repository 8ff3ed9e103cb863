#include "formats/ExifItems.h"

#include "formats/ImageFormats.h"
#include "platform/PictureEncoder.h"

QString encoderMimeForFormat(int formatId)
{
    if (formatId == FormatBmp) return QStringLiteral("image/bmp");
    if (ImageFormats::isJpegFormat(formatId)) return QStringLiteral("image/jpeg");
    if (formatId == FormatPng) return QStringLiteral("image/png");
    if (ImageFormats::isTiffFormat(formatId)) return QStringLiteral("image/tiff");
    return {};
}

bool encoderClsidForMime(const QString &mimeType, QUuid *out)
{
    for (const platform::EncoderInfo &encoder : platform::pictureEncoders()) {
        if (encoder.mimeType.compare(mimeType, Qt::CaseInsensitive) == 0) {
            if (out) *out = encoder.clsid;
            return true;
        }
    }
    return false;
}
