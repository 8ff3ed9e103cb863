#include "image/ImagePixmap.h"

#include "formats/ImageFormats.h"
#include "formats/PictureWriter.h"
#include "image/ImageWrapper.h"
#include "image/Orientation.h"
#include "image/PictureAlpha.h"
#include "platform/LargePages.h"
#include "platform/PropertyCopy.h"
#include "platform/StagedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>

#include <cstring>

// Writing the raster back-end's picture: the pending turn goes into the pixels, the file is
// encoded under a temporary name beside the target, the metadata and the JFIF density are
// put back into that file, and only then does it replace the target.

namespace {

bool samePath(const QString &a, const QString &b)
{
    const QFileInfo x(a), y(b);
    if (x.exists() && y.exists()) return x.canonicalFilePath() == y.canonicalFilePath();
    // File names are case-sensitive here: a.JPG and a.jpg are two files.
    return QDir::cleanPath(x.absoluteFilePath()) == QDir::cleanPath(y.absoluteFilePath());
}

// A quarter turn of a 32-bit picture in square tiles, so that reads and writes both stay
// within the cache; the same pixels as ImagePixmap::turnQuarter. Other depths and 180
// degrees go through that. Tiles of 32 rows keep the pages one tile touches (a row of a
// large picture is a page or more) within the processor's address cache; plain pointer
// steps keep the inner loop free of index arithmetic.
QImage turnForSaving(const QImage &image, int angle)
{
    angle = ((angle % 360) + 360) % 360;
    if ((angle != 90 && angle != 270) || image.depth() != 32)
        return ImagePixmap::turnQuarter(image, angle);
    const int w = image.width(), h = image.height();
    QImage out(h, w, image.format());
    if (out.isNull()) return {};
    out.setDotsPerMeterX(image.dotsPerMeterY());
    out.setDotsPerMeterY(image.dotsPerMeterX());
    constexpr int Tile = 32;
    const qsizetype inStride = image.bytesPerLine() / 4;
    const qsizetype outStride = out.bytesPerLine() / 4;
    const auto *in = reinterpret_cast<const quint32 *>(image.constBits());
    auto *target = reinterpret_cast<quint32 *>(out.bits());
    // Huge pages spare the page faults of a fresh copy and the address-cache misses of the
    // column-wise writes.
    platform::adviseLargePages(target, quint64(out.sizeInBytes()));
    for (int ty = 0; ty < h; ty += Tile) {
        for (int tx = 0; tx < w; tx += Tile) {
            const int yEnd = qMin(ty + Tile, h), xEnd = qMin(tx + Tile, w);
            for (int x = tx; x < xEnd; ++x) {
                // Source column x becomes output row x (90) or w - 1 - x (270); source row y
                // becomes output column h - 1 - y (90) or y (270).
                const quint32 *src = in + ty * inStride + x;
                const int n = yEnd - ty;
                if (angle == 90) {
                    quint32 *dst = target + x * outStride + (h - 1 - ty);
                    for (int i = 0; i < n; ++i, src += inStride)
                        *dst-- = *src;
                } else {
                    quint32 *dst = target + (w - 1 - x) * outStride + ty;
                    for (int i = 0; i < n; ++i, src += inStride)
                        *dst++ = *src;
                }
            }
        }
    }
    return out;
}

// Qt's writer into `path` (a staging file); false on any write error, a full disk
// included.
bool writeWithQt(const QImage &picture, const QString &path, const QByteArray &format, int quality)
{
    QByteArray bytes;
    return platform::encodeImage(picture, format.constData(), quality, &bytes) &&
           platform::writeWholeFile(path, bytes);
}

// Puts the density into the JFIF segment of the JPEG file at `path`, wherever that segment
// stands among the segments before the scan. Files without one are left alone.
bool writeJfifDensity(const QString &path, quint8 units, quint16 x, quint16 y)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) return false;
    const qint64 size = file.size();
    uchar b[14];
    if (file.read(reinterpret_cast<char *>(b), 2) != 2 || b[0] != 0xFF || b[1] != 0xD8)
        return false;
    qint64 pos = 2;
    while (pos + 4 <= size) {
        if (!file.seek(pos) || file.read(reinterpret_cast<char *>(b), 4) != 4) return false;
        if (b[0] != 0xFF) return false;
        if (b[1] == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (b[1] == 0xDA || b[1] == 0xD9) return false; // the scan begins: no JFIF segment
        const int length = b[2] << 8 | b[3];
        if (length < 2 || pos + 2 + length > size) return false;
        if (b[1] == 0xE0 && length >= 16) {
            if (file.read(reinterpret_cast<char *>(b), 12) != 12) return false;
            if (std::memcmp(b, "JFIF\0", 5) == 0) {
                const char density[5] = {char(units), char(x >> 8), char(x & 0xFF), char(y >> 8),
                                         char(y & 0xFF)};
                if (!file.seek(pos + 4 + 7) || file.write(density, 5) != 5) return false;
                return file.flush();
            }
        }
        pos += 2 + length;
    }
    return false;
}

} // namespace

void ImagePixmap::bakeOrientation()
{
    const int o = orientation();
    if (o >= 2 && o <= 8) {
        const int angle = orientationAngle();
        // The viewer shows 2, 4, 5 and 7 mirrored as well; the written file must too.
        const bool mirror = isMirroringOrientation(o);
        ensureFrame(0);
        std::lock_guard<std::mutex> locker(m_framesMutex);
        for (QImage &image : m_frames) {
            if (image.isNull()) continue;
            QImage turned = turnForSaving(image, angle);
            image = QImage(); // the old pixels go before the mirror needs its memory
            image = mirror ? std::move(turned).mirrored(true, false) : std::move(turned);
        }
        if (angle == 90 || angle == -90) {
            for (QSize &size : m_sourceSizes)
                size.transpose();
        }
        if (!m_frames.isEmpty() && !m_frames.at(0).isNull()) setOriginalSize(m_frames.at(0).size());
    }
    setOrientation(1);
}

bool ImagePixmap::save(const ImageFormat *row, const QString &path, bool write)
{
    if (path.isEmpty() || !row) return false;
    const QString own = pathName();
    if (!dirty() && !own.isEmpty() && row->id == formatRow()->id) {
        // Unchanged and in its own format: the file's bytes are the picture.
        if (samePath(path, own)) return true;
        return write && owner()->copyFile(path, true);
    }
    if (!(row->flags & FormatCanSave)) return false;
    // A picture decoded at screen size is not the picture: writing it would replace the
    // file with a reduced copy.
    if (isClipMode()) return false;
    bakeOrientation();
    if (!write) return false;

    ensureFrame(0);
    QImage picture = frame(0);
    if (picture.isNull()) return false;
    const bool jpeg = ImageFormats::isJpegFormat(row->id);
    const QByteArray suffix = row->suffixes.value(0).toLatin1();
    // (Opaque pixels are written the same either way: a decoded JPEG is not copied.)
    if (jpeg &&
        (picture.format() == QImage::Format_ARGB32 ||
         picture.format() == QImage::Format_ARGB32_Premultiplied) &&
        !isOpaque(picture)) {
        // JPEG holds no alpha: transparent parts become white, in memory too.
        picture = flattenOntoWhite(picture);
        if (picture.isNull()) return false;
        std::lock_guard<std::mutex> locker(m_framesMutex);
        if (!m_frames.isEmpty()) m_frames[0] = picture;
    }

    platform::StagedFile staged(path);
    if (!staged.isValid()) return false;
    const QString temporary = staged.stagingPath();
    bool written;
    if (jpeg)
        written = writeWithQt(picture, temporary, suffix, 100);
    else if (row->id == FormatBmp || row->id == FormatPng || row->id == FormatTif)
        written = saveWithWic(picture, row->id, temporary);
    else
        written = writeWithQt(picture, temporary, suffix, 100);
    if (written) {
        if (hasExifItems() && (row->flags & FormatHasExif)) {
            // The camera's metadata (dates, exposure, the thumbnail, ...) stays with the
            // picture; only the turn is now in the pixels.
            platform::copyExifData(pathName(), temporary, picture.size());
            rotateExif(row, temporary, 1, thumbnailOrientation());
        }
        if (jpeg && m_jfifPresent)
            writeJfifDensity(temporary, m_jfifUnits, m_jfifXDensity, m_jfifYDensity);
        written = staged.commit();
    }
    if (written) setDirty(false);
    return written;
}
