#pragma once

#include <QSize>
#include <QString>

namespace raw {

// What a raw file says about how it was taken, as LibRaw reports it (or as the preview walk
// reads it from the file's IFD0 and EXIF IFD when LibRaw refuses the file).
struct ShootingData
{
    qint64 timestamp = 0; // seconds since 1970
    QString make, model, lens;
    float aperture = 0, maxAperture = 0, exposureTime = 0, isoSpeed = 0, focalLength = 0;
    float flash = 0;
    int flip = 0;  // LibRaw's rotation code
    QSize picture; // the sensor picture's size
};

// LibRaw's rotation code for an EXIF orientation value (1 -> 0, 3 -> 3, 6 -> 6, 8 -> 5, ...).
int flipFromExifOrientation(int orientation);

// The summary text: "DateTime: ...\n\nMake: ...\n\n ... Width: ...", eighteen items.
QString describeShootingData(const ShootingData &data);

} // namespace raw
