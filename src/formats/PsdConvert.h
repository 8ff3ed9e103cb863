#pragma once

#include "PsdHeader.h"

#include <QByteArray>
#include <QImage>

namespace psd {

// Colour of a Lab sample given as stored bytes (a and b centred on 128), as 0xAARRGGBB.
QRgb labToRgba(double L, double a, double b, int alpha);

// A 32-bit sample: a big-endian float, not-a-number counting as 0.
float floatSample(const uchar *p);
// A 32-bit colour sample is linear light: it is encoded for sRGB and clamped.
int linearToSrgbByte(float linear);
// Transparency is not light: a 32-bit alpha or mask sample is only clamped.
int coverageByte(float v);

// True when a picture can be made for this colour mode, depth and channel count. Rows
// that would need planes the document does not hold are refused here.
bool canConvert(const PsdHeader &header);

// Bytes of the picture that a conversion makes for this header.
quint64 outputBytes(const PsdHeader &header);

// Channels that carry colour in this mode (all of them in a multichannel document); any
// further channel is transparency or something a picture does not show.
int colourChannels(const PsdHeader &header);

// Planes that a conversion reads: the first planesUsed() channels.
int planesUsed(const PsdHeader &header);

// Makes the picture from planes stored one after another, planesUsed() of them,
// header.planeBytes() each. Null when no picture can be made.
QImage convertPlanes(const PsdHeader &header, const QByteArray &colourModeData,
                     const uchar *planes);

// 8-bit documents whose conversion reads at most four planes can be decoded straight into
// the picture: plane k's sample of a pixel in byte k of that pixel. This makes that
// picture (null when it cannot be made) ...
bool convertsInPlace(const PsdHeader &header);
QImage interleavedPicture(const PsdHeader &header);
// ... and this turns its samples into colours.
void convertInPlace(const PsdHeader &header, QImage &picture);

} // namespace psd
