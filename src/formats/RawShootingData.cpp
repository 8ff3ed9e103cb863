#include "RawShootingData.h"

#include <QDateTime>
#include <QPair>

namespace raw {

namespace {

template <typename T> QString text(T value)
{
    return QStringLiteral("%1").arg(value);
}

} // namespace

int flipFromExifOrientation(int orientation)
{
    return "50132467"[orientation & 7] - '0';
}

QString describeShootingData(const ShootingData &data)
{
    // Flip code 5 (a quarter turn the other way) is EXIF orientation 8; 0, 3 and 6 are the
    // same in both.
    const int orientation = data.flip == 5 ? 8 : data.flip;
    const QString dateTime = QDateTime::fromSecsSinceEpoch(data.timestamp)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // Built by joining rather than by placeholders, so that text from the file (a maker name
    // holding "%2") is never taken for a placeholder.
    const QPair<const char *, QString> lines[] = {
        {"DateTime", dateTime},
        {"Make", data.make},
        {"Model", data.model},
        {"LensModel", data.lens},
        {"Aperture", text(data.aperture)},
        {"ApertureMax", text(data.maxAperture)},
        {"ExposureTime", text(data.exposureTime)},
        {"ExposureCom", text(1)},
        {"ISOSpeed", text(data.isoSpeed)},
        {"FocalLen", text(data.focalLength)},
        {"MeteringMode", text(-1)},
        {"Flash", text(data.flash)},
        {"WhiteBalance", text(-1)},
        {"LightSource", text(-1)},
        {"ExposureProgram", text(-1)},
        {"Orientation", text(orientation)},
        {"Height", text(data.picture.height())},
        {"Width", text(data.picture.width())},
    };
    QString description;
    for (const auto &line : lines) {
        if (!description.isEmpty()) description += QStringLiteral("\n\n");
        description += QLatin1String(line.first) + QStringLiteral(": ") + line.second;
    }
    return description;
}

} // namespace raw
