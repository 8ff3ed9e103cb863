#include "platform/PropertyCopy.h"

#include "platform/Exiv2Lock.h"

#include <QFile>
#include <QMutexLocker>

#include <exiv2/exiv2.hpp>

namespace platform {

namespace {

void setIfPresent(Exiv2::ExifData &exif, const char *key, int value)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end()) return;
    // The type the camera wrote stays (SHORT or LONG).
    if (it->typeId() == Exiv2::unsignedShort)
        it->setValue(std::to_string(value));
    else
        *it = Exiv2::ULongValue(quint32(value));
}

} // namespace

bool copyExifData(const QString &from, const QString &to, const QSize &size)
{
    QMutexLocker locker(&exiv2Lock());
    try {
        if (!exiv2ReadsAsPicture(QFile::encodeName(from).toStdString()) ||
            !exiv2ReadsAsPicture(QFile::encodeName(to).toStdString()))
            return false;
        auto source = Exiv2::ImageFactory::open(QFile::encodeName(from).toStdString());
        if (!source.get()) return false;
        source->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        if (exif.empty()) return true;
        setIfPresent(exif, "Exif.Photo.PixelXDimension", size.width());
        setIfPresent(exif, "Exif.Photo.PixelYDimension", size.height());
        auto target = Exiv2::ImageFactory::open(QFile::encodeName(to).toStdString());
        if (!target.get()) return false;
        target->readMetadata();
        target->setExifData(exif);
        target->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace platform
