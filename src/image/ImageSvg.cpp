#include "image/ImageSvg.h"

#include "formats/ImageFormats.h"
#include "image/ImageGifSvgShared.h"
#include "image/ImagePixmap.h"
#include "image/ImageWrapper.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <zlib.h>

namespace {

QByteArray inflateGzip(const QByteArray &compressed, qint64 limit)
{
    z_stream z = {};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return QByteArray();
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    z.avail_in = uInt(compressed.size());
    QByteArray out;
    char chunk[64 * 1024];
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        result = inflate(&z, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) break;
        const qint64 produced = qint64(sizeof chunk - z.avail_out);
        if (out.size() + produced > limit) {
            result = Z_MEM_ERROR;
            break;
        }
        out.append(chunk, int(produced));
        if (result == Z_OK && produced == 0 && z.avail_in == 0) break; // cut short
    }
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : QByteArray();
}

} // namespace

ImageSvg::ImageSvg(ImageWrapper *owner) : ImageBase(owner), m_renderer(new QSvgRenderer) {}

ImageSvg::~ImageSvg() = default;

QByteArray ImageSvg::readDocument(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxDocumentBytes) return QByteArray();
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith("\x1f\x8b")) return inflateGzip(bytes, MaxDocumentBytes);
    return bytes;
}

bool ImageSvg::load(const ImageFormat *row)
{
    if (m_loaded) return true;
    const QByteArray document = readDocument(pathName());
    if (document.isEmpty() || !m_renderer->load(document)) return false;
    m_loaded = true;
    m_size = m_renderer->viewBox().size();
    setOriginalSize(m_size); // queries of the wrapper answer the document's own size
    if (row) setFormatRow(formatTable()->formatForId(row->id));
    return true;
}

QSize ImageSvg::imageSize(int) const
{
    QSize size = m_size;
    if (orientation() >= 5 && orientation() <= 8) size.transpose();
    return size;
}

int ImageSvg::frameCount() const
{
    return 1;
}

void ImageSvg::paint(QPainter *painter, int, const QRect &target, const QRect &, double,
                     RenderCache *)
{
    if (!painter || !m_loaded) return;
    painter->save();
    painter->translate(target.topLeft());
    int width = target.width(), height = target.height();
    translateByExif(painter, width, height, orientation());
    m_renderer->render(painter, QRectF(0, 0, width, height));
    painter->restore();
}

QImage ImageSvg::imageAt(int, int, int)
{
    // A view box too large to hold in memory has no picture of its own size.
    if (!m_loaded || m_size.isEmpty() ||
        qint64(m_size.width()) * m_size.height() > ImagePixmap::ClipPixels)
        return QImage();
    QImage image(m_size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    m_renderer->render(&painter, QRectF(QPointF(0, 0), QSizeF(m_size)));
    painter.end();
    return ImagePixmap::turnQuarter(image, quarterTurnAngle(orientation()));
}

QPixmap ImageSvg::pixmapAt(int frame, int width, int height)
{
    const QImage image = imageAt(frame, width, height);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

bool ImageSvg::save(const ImageFormat *row, const QString &path, bool write)
{
    return saveCopyOrFirstFrame(owner(), row, path, write, [this] { return pixmapAt(0, 0, 0); });
}

bool ImageSvg::canRotate(bool withSaving) const
{
    return !withSaving;
}

bool ImageSvg::canDelete() const
{
    return true;
}

bool ImageSvg::isAnimation() const
{
    return false;
}

int ImageSvg::delay(int) const
{
    return 1;
}
