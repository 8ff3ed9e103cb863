#pragma once

#include "PsdHeader.h"

#include <QByteArray>
#include <QImage>

namespace psd {

// Colour of a Lab sample given as stored bytes (a and b centred on 128), as 0xAARRGGBB.
QRgb labToRgba(double L, double a, double b, int alpha);

// True when a picture can be made for this colour mode, depth and channel count. Rows
// that would need planes the document does not hold are refused here.
bool canConvert(const PsdHeader &header);

// Bytes of the picture that convertPlanes makes for this header.
quint64 outputBytes(const PsdHeader &header);

// Makes the picture from the decoded planes: planes holds min(channels, kMaxPlanesUsed)
// planes of header.planeBytes() each. Null when no picture can be made.
QImage convertPlanes(const PsdHeader &header, const QByteArray &colourModeData,
                     const uchar *planes);

} // namespace psd
