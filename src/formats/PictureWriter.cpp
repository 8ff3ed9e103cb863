#include "formats/PictureWriter.h"

#include "formats/ImageFormats.h"
#include "platform/StagedFile.h"

#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

using platform::PictureContainer;
using platform::PixelLayout;

int wicContainerForFormat(int formatId, PictureContainer *out)
{
    PictureContainer container;
    if (ImageFormats::isJpegFormat(formatId))
        container = PictureContainer::Jpeg;
    else if (formatId == FormatPng)
        container = PictureContainer::Png;
    else if (ImageFormats::isTiffFormat(formatId))
        container = PictureContainer::Tiff;
    else if (formatId == FormatBmp)
        container = PictureContainer::Bmp;
    else
        return 1;
    if (out) *out = container;
    return 0;
}

void prepareWicPixels(const QImage &source, int formatId, PixelLayout *pixelFormat, QImage *out)
{
    QImage picture = source;
    if (formatId == FormatBmp || ImageFormats::isJpegFormat(formatId)) {
        // These containers hold no alpha: transparent parts become white.
        QImage flat(picture.size(), QImage::Format_RGB32);
        flat.fill(0xFFFFFFFF);
        QPainter painter(&flat);
        painter.drawImage(0, 0, picture);
        painter.end();
        picture = flat;
    }

    PixelLayout layout = PixelLayout::Bgra32;
    QImage rows;
    switch (picture.format()) {
    case QImage::Format_Indexed8:
        layout = PixelLayout::Indexed8;
        rows = picture;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
        layout = PixelLayout::Bgr24;
        rows = picture.convertToFormat(QImage::Format_RGB888).rgbSwapped();
        break;
    case QImage::Format_ARGB32_Premultiplied:
        layout = PixelLayout::PBgra32;
        rows = picture;
        break;
    case QImage::Format_Alpha8:
        layout = PixelLayout::Alpha8;
        rows = picture;
        break;
    case QImage::Format_Grayscale8:
        layout = PixelLayout::Gray8;
        rows = picture;
        break;
    default:
        layout = PixelLayout::Bgra32;
        rows = picture.convertToFormat(QImage::Format_ARGB32);
        break;
    }
    if (pixelFormat) *pixelFormat = layout;
    if (out) *out = rows;
}

bool saveWithWic(const QImage &image, int formatId, const QString &path)
{
    PictureContainer container;
    if (wicContainerForFormat(formatId, &container) != 0) return false;
    if (image.isNull()) return false;
    PixelLayout layout = PixelLayout::PBgra32;
    QImage rows;
    prepareWicPixels(image, formatId, &layout, &rows);
    return platform::encodePicture(container, layout, rows, path);
}

bool savePicture(const QImage &image, const QString &path, const char *format, int quality)
{
    if (image.isNull() || path.isEmpty()) return false;
    // Encoded in memory first: not every Qt writer notices a failed write to a file.
    QByteArray bytes;
    if (!platform::encodeImage(image, format, quality, &bytes)) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
