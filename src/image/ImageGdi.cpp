#include "image/ImageGdi.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"
#include "platform/ScreenMetrics.h"

#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>

#include <cmath>

ImageGdi::ImageGdi(ImageWrapper *owner) : ImageBase(owner) {}

ImageGdi::~ImageGdi() = default;

bool ImageGdi::load(const ImageFormat *row)
{
    const bool ok = row && m_image.load(pathName());
    if (ok) {
        // The frame on paper at the screen's resolution, as the system's own viewer sizes it.
        setOriginalSize(m_image.size(platform::logicalDpi()));
        setFormatRow(const_cast<ImageFormat *>(row));
    }
    setReady(true);
    return ok;
}

QSize ImageGdi::imageSize(int) const
{
    return originalSize();
}

void ImageGdi::paint(QPainter *painter, int, const QRect &target, const QRect &visible,
                     double scale, RenderCache *)
{
    if (!painter || status() != ImageStatusReady || m_image.isNull() || !(scale > 0)) return;
    const QRect v = target & visible;
    if (v.isEmpty()) return;
    const QSizeF size = QSizeF(originalSize()) * scale;
    const QPaintDevice *device = painter->device();
    if (device && device->devType() != QInternal::Image) {
        // Raster operations read back what lies under them, which only an image can give:
        // the visible part is drawn into one and copied.
        const qreal ratio = device->devicePixelRatioF();
        QImage page(v.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        if (page.isNull()) return;
        page.setDevicePixelRatio(ratio);
        page.fill(Qt::white);
        QPainter pagePainter(&page);
        pagePainter.setRenderHint(QPainter::SmoothPixmapTransform);
        m_image.render(&pagePainter, QRectF(target.topLeft() - v.topLeft(), size));
        pagePainter.end();
        painter->drawImage(v, page);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipRect(v, Qt::IntersectClip);
    painter->fillRect(v, Qt::white);
    m_image.render(painter, QRectF(target.topLeft(), size));
    painter->restore();
}

QSize ImageGdi::renderSize(int width, int height) const
{
    QSizeF size = originalSize();
    if (size.isEmpty()) return {};
    if (width > 0 && height > 0) {
        const double factor = std::min(width / size.width(), height / size.height());
        size *= factor;
    }
    // A vector picture has no size of its own to refuse: a larger one is drawn as large as
    // the bound allows.
    const double area = size.width() * size.height();
    if (area > MaxRenderPixels) size *= std::sqrt(MaxRenderPixels / area);
    return QSize(std::max(1, int(size.width())), std::max(1, int(size.height())));
}

QImage ImageGdi::imageAt(int frame, int width, int height)
{
    if (frame != 0 || m_image.isNull()) return {};
    const QSize size = renderSize(width, height);
    if (size.isEmpty()) return {};
    return m_image.toImage(size);
}

QPixmap ImageGdi::pixmapAt(int frame, int width, int height)
{
    return QPixmap::fromImage(imageAt(frame, width, height));
}

bool ImageGdi::save(const ImageFormat *row, const QString &path, bool write)
{
    if (!row || path.isEmpty()) return false;
    const ImageFormat *current = formatRow();
    if (!dirty() && current && row->id == current->id && QFileInfo::exists(pathName()))
        return owner()->copyFile(path, true);
    if (!(row->flags & FormatCanSave) || row->suffixes.isEmpty()) return false;
    const QImage picture = imageAt(0, 0, 0);
    if (picture.isNull()) return false;
    if (!write) return true;
    // Through a temporary file: a failed write leaves an existing file untouched.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!picture.save(&file, row->suffixes.first().toLatin1().constData(), 100)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
