#include "image/ImageGif.h"

#include "formats/ImageFormats.h"
#include "image/ImageGifSvgShared.h"
#include "image/ImagePixmap.h"
#include "image/ImageWrapper.h"
#include "platform/ScreenMetrics.h"

#include <QPainter>

namespace {
constexpr int kCheckerSide = 800;
constexpr int kDefaultDelayMs = 100;
} // namespace

ImageGif::ImageGif(ImageWrapper *owner) : ImageBase(owner) {}

bool ImageGif::load(const ImageFormat *row)
{
    m_unreadable = false;
    if (!m_animation.load(pathName())) {
        m_unreadable = !m_animation.refusedByLimits();
        return false;
    }
    m_animated = m_animation.frameCount() > 1;
    setOriginalSize(m_animation.canvasSize());
    if (row) setFormatRow(formatTable()->formatForId(row->id));
    setReady(true);
    return true;
}

QSize ImageGif::imageSize(int frame) const
{
    QSize size =
        frame >= 0 && frame < m_animation.frameCount() ? m_animation.canvasSize() : originalSize();
    if (orientation() >= 5 && orientation() <= 8) size.transpose();
    return size;
}

int ImageGif::frameCount() const
{
    return m_animation.frameCount();
}

QImage ImageGif::composedFrame(int i)
{
    return m_animation.composedFrame(i);
}

QBrush ImageGif::checkerBrush()
{
    if (!m_checkerReady) {
        const QImage tile = ImagePixmap::checkerTile(qRound(platform::dpiScaled(8)));
        QPixmap texture(kCheckerSide, kCheckerSide);
        QPainter painter(&texture);
        painter.fillRect(texture.rect(), QBrush(tile));
        painter.end();
        m_checkerBrush = QBrush(texture);
        m_checkerReady = true;
    }
    return m_checkerBrush;
}

void ImageGif::paint(QPainter *painter, int frame, const QRect &target, const QRect &, double,
                     RenderCache *)
{
    if (!painter || status() != ImageStatusReady) return;
    painter->save();
    painter->translate(target.topLeft());
    int width = target.width(), height = target.height();
    translateByExif(painter, width, height, orientation());
    painter->fillRect(QRect(0, 0, width, height), checkerBrush());
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage picture = composedFrame(frame);
    if (!picture.isNull()) painter->drawImage(QRect(0, 0, width, height), picture);
    painter->restore();
}

QPixmap ImageGif::pixmapAt(int frame, int, int)
{
    const QImage raw = m_animation.rawFrame(frame);
    return raw.isNull() ? QPixmap() : QPixmap::fromImage(raw);
}

QImage ImageGif::imageAt(int frame, int, int)
{
    return ImagePixmap::turnQuarter(composedFrame(frame), quarterTurnAngle(orientation()));
}

bool ImageGif::save(const ImageFormat *row, const QString &path, bool write)
{
    return saveCopyOrFirstFrame(owner(), row, path, write, [this] { return pixmapAt(0, 0, 0); });
}

bool ImageGif::canRotate(bool withSaving) const
{
    return !withSaving;
}

bool ImageGif::canDelete() const
{
    return true;
}

bool ImageGif::isAnimation() const
{
    return m_animated;
}

int ImageGif::delay(int frame) const
{
    if (frame < 0 || frame >= m_animation.frameCount()) return kDefaultDelayMs;
    const int ms = m_animation.delayMs(frame);
    return ms < 1 ? kDefaultDelayMs : ms;
}
