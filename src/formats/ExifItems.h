#pragma once

#include "picsage_global.h"

#include <QString>
#include <QUuid>

// The metadata items the picture model reads and writes back.
enum ExifItemId : quint32 {
    PropertyTagOrientation = 0x0112,
    PropertyTagThumbnailData = 0x501B,
    PropertyTagThumbnailOrientation = 0x5029,
    PropertyTagExifPixXDim = 0xA002,
    PropertyTagExifPixYDim = 0xA003,
};

// Value types of the items.
enum ExifItemType : quint16 {
    PropertyTagTypeShort = 3,
    PropertyTagTypeLong = 4,
    PropertyTagTypeSLONG = 9,
};

// The MIME type of the encoder that writes a format back after its metadata changed:
// "image/bmp", "image/jpeg", "image/png", "image/tiff", or an empty string for every
// format that is not written back.
QString encoderMimeForFormat(int formatId);

// The class identifier of the first encoder whose MIME type equals `mimeType`, case
// ignored. False when none matches; `out` is then untouched.
bool encoderClsidForMime(const QString &mimeType, QUuid *out);
