#include "WholePicture.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QImageWriter>
#include <QSaveFile>
#include <QTransform>

#include <cmath>

namespace imagetool {

namespace {

// Qt's PNG writer maps quality 80 to zlib level 1.
constexpr int FastPngQuality = 80;

bool turned(long orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Turns and mirrors a stored picture as the viewer shows one of that orientation.
QImage upright(const QImage &stored, long orientation)
{
    const int angle = orientation == 3 || orientation == 4   ? 180
                      : orientation == 5 || orientation == 6 ? 90
                      : orientation == 7 || orientation == 8 ? 270
                                                             : 0;
    QImage image = angle ? stored.transformed(QTransform().rotate(angle)) : stored;
    const bool mirrored =
        orientation == 2 || orientation == 4 || orientation == 5 || orientation == 7;
    return mirrored ? image.mirrored(true, false) : image;
}

bool allOpaque(const QImage &image)
{
    if (!image.hasAlphaChannel()) return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255) return false;
        }
    }
    return true;
}

double aspect(const QSize &size)
{
    return double(size.width()) / size.height();
}

} // namespace

QSize wholeSize(const ImageWrapper &picture)
{
    const QSize decoded = picture.imageSize(0);
    const QSize stored = picture.originalSize();
    if (!picture.decodeBox().isValid() || ImageFormats::isRawFormat(picture.format()->id) ||
        stored.isEmpty())
        return decoded;
    return turned(picture.orientation()) ? stored.transposed() : stored;
}

QImage exifStandIn(const ImageWrapper &picture, const QSize &size)
{
    const QImage stored = picture.thumbnail();
    const QSize shown = wholeSize(picture);
    if (stored.isNull() || shown.isEmpty()) return {};
    const long orientation = picture.thumbnailOrientation();
    const QSize thumb = turned(orientation) ? stored.size().transposed() : stored.size();
    if (thumb.width() < size.width() || thumb.height() < size.height()) return {};
    if (std::abs(aspect(thumb) / aspect(shown) - 1.0) > 0.02) return {};
    return upright(stored, orientation);
}

QImage renderWhole(const ImageWrapper &picture, const QSize &size, bool exifThumbnail)
{
    QImage image = exifThumbnail ? exifStandIn(picture, size) : QImage();
    // A vector picture is drawn at the size wanted rather than scaled from its own.
    if (image.isNull() && picture.backEndKind() == BackEndMetafile)
        image = picture.imageAt(0, size.width(), size.height());
    if (image.isNull()) image = picture.uprightImage(0);
    if (image.isNull() || image.size() == size) return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool writePng(const QString &path, const QImage &image, QString *reason)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *reason = out.errorString();
        return false;
    }
    QImageWriter writer(&out, "png");
    writer.setQuality(FastPngQuality);
    const QImage::Format format = allOpaque(image) ? QImage::Format_RGB888 : QImage::Format_ARGB32;
    if (!writer.write(image.convertToFormat(format))) {
        *reason = writer.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        *reason = out.errorString();
        return false;
    }
    return true;
}

} // namespace imagetool
