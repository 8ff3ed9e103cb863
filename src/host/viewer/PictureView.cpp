#include "host/viewer/PictureView.h"

#include "host/ViewerRenderCache.h"
#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace viewer {

namespace {

constexpr double MaxScale = 32.0;
// Zooming out stops where the picture is this many pixels across, or at its fitted size.
constexpr double MinShownPixels = 64.0;
// An animation frame without a delay of its own is shown this long (ms), as browsers do.
constexpr int DefaultFrameDelay = 100;
constexpr int MinFrameDelay = 20;

const QColor Background(0x30, 0x30, 0x30);
const QColor MessageColour(0xe8, 0xe8, 0xe8);

} // namespace

PictureView::PictureView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_animation.setSingleShot(true);
    connect(&m_animation, &QTimer::timeout, this, &PictureView::nextFrame);
}

PictureView::~PictureView()
{
    stopPicture();
}

void PictureView::stopPicture()
{
    m_animation.stop();
    // Joins the cache's thread before the picture it renders may go.
    m_cache.reset();
    if (m_picture) disconnect(m_picture.data(), nullptr, this, nullptr);
    m_picture.reset();
    m_ready = false;
    m_frame = 0;
}

void PictureView::setPicture(const QSharedPointer<ImageWrapper> &picture, const QString &name)
{
    stopPicture();
    m_picture = picture;
    m_name = name;
    m_message.clear();
    m_fit = true;
    if (m_picture) {
        connect(m_picture.data(), &ImageWrapper::imageReady, this, &PictureView::onImageReady,
                Qt::QueuedConnection);
        // Already loaded (an earlier visit): no imageReady() will come.
        if (m_picture->status() == ImageStatusReady) startPicture();
    }
    update();
}

void PictureView::setMessage(const QString &name, const QString &message)
{
    stopPicture();
    m_name = name;
    m_message = message;
    update();
}

bool PictureView::isShowingPicture() const
{
    return m_ready && m_message.isEmpty();
}

void PictureView::onImageReady()
{
    if (!m_picture || m_ready) return;
    if (m_picture->status() != ImageStatusReady) {
        const QString name = m_name;
        setMessage(name, tr("\"%1\" cannot be shown: the file is not a picture this viewer "
                            "can read, or it is damaged.")
                             .arg(name));
        return;
    }
    startPicture();
}

void PictureView::startCache()
{
    m_cache = std::make_unique<ViewerRenderCache>(m_picture);
    connect(m_cache.get(), &RenderCache::onUpdate, this, QOverload<>::of(&QWidget::update),
            Qt::QueuedConnection);
    m_cache->start();
}

void PictureView::startPicture()
{
    m_ready = true;
    m_frame = 0;
    startCache();
    fitToView();
    if (m_picture->isAnimation() && m_picture->frameCount() > 1) {
        const int delay = m_picture->delay(0);
        m_animation.start(delay > 0 ? std::max(delay, MinFrameDelay) : DefaultFrameDelay);
    }
}

void PictureView::editPicture(const std::function<void(ImageWrapper *)> &edit)
{
    if (!isShowingPicture()) return;
    // The cache thread renders from the picture's pixels: joined first, a new one after.
    m_cache.reset();
    edit(m_picture.data());
    if (!m_picture) return;
    startCache();
    if (m_fit)
        fitToView();
    else {
        clampOffset();
        update();
    }
}

void PictureView::nextFrame()
{
    if (!isShowingPicture()) return;
    const int count = m_picture->frameCount();
    if (count <= 1) return;
    m_frame = (m_frame + 1) % count;
    update();
    emit frameShown(m_name, m_frame);
    const int delay = m_picture->delay(m_frame);
    m_animation.start(delay > 0 ? std::max(delay, MinFrameDelay) : DefaultFrameDelay);
}

QSize PictureView::shownSize() const
{
    if (!m_picture) return QSize();
    if (!m_picture->isClipMode()) return m_picture->imageSize(m_frame);
    // In clip mode the picture answers its stored size.
    const QSize stored = m_picture->originalSize();
    const long o = m_picture->orientation();
    return o >= 5 && o <= 8 ? stored.transposed() : stored;
}

QRect PictureView::targetRect() const
{
    const QSize shown = shownSize();
    return QRect(qRound(m_offset.x()), qRound(m_offset.y()),
                 qMax(1, qRound(shown.width() * m_scale)),
                 qMax(1, qRound(shown.height() * m_scale)));
}

void PictureView::fitToView()
{
    m_fit = true;
    const QSize shown = shownSize();
    if (shown.isEmpty() || width() <= 0 || height() <= 0) {
        update();
        return;
    }
    // Small pictures are not enlarged.
    m_scale = std::min({1.0, double(width()) / shown.width(), double(height()) / shown.height()});
    m_offset =
        QPointF((width() - shown.width() * m_scale) / 2, (height() - shown.height() * m_scale) / 2);
    update();
}

void PictureView::showActualSize()
{
    if (!isShowingPicture()) return;
    zoomAt(1.0 / m_scale, QPointF(width() / 2.0, height() / 2.0));
}

void PictureView::zoomAt(double factor, const QPointF &anchor)
{
    const QSize shown = shownSize();
    if (!isShowingPicture() || shown.isEmpty() || factor <= 0) return;
    const double fitted =
        std::min({1.0, double(width()) / shown.width(), double(height()) / shown.height()});
    const double smallest =
        std::min(fitted, MinShownPixels / std::max(shown.width(), shown.height()));
    const double scale = std::clamp(m_scale * factor, smallest, MaxScale);
    const QPointF at = (anchor - m_offset) / m_scale; // picture point under the anchor
    m_scale = scale;
    m_offset = anchor - at * m_scale;
    m_fit = false;
    clampOffset();
    update();
}

void PictureView::panBy(const QPointF &delta)
{
    if (!isShowingPicture()) return;
    m_offset += delta;
    m_fit = false;
    clampOffset();
    update();
}

void PictureView::clampOffset()
{
    const QSize shown = shownSize();
    const double w = shown.width() * m_scale, h = shown.height() * m_scale;
    if (w <= width())
        m_offset.setX((width() - w) / 2);
    else
        m_offset.setX(std::clamp(m_offset.x(), width() - w, 0.0));
    if (h <= height())
        m_offset.setY((height() - h) / 2);
    else
        m_offset.setY(std::clamp(m_offset.y(), height() - h, 0.0));
}

int PictureView::tilesLoading() const
{
    if (!m_picture) return 0;
    const PixmapClipRoot *root = m_picture->findChild<PixmapClipRoot *>();
    return root ? root->loadingCount() : 0;
}

void PictureView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Background);
    if (!m_message.isEmpty()) {
        painter.setPen(MessageColour);
        painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                         m_message);
        painter.end();
        emit painted(m_name, -1, 0);
        return;
    }
    if (!isShowingPicture()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_picture->paint(&painter, m_frame, targetRect(), rect(), m_scale, m_cache.get());
    painter.end();
    emit painted(m_name, m_frame, m_scale);
}

void PictureView::resizeEvent(QResizeEvent *)
{
    if (m_fit)
        fitToView();
    else
        clampOffset();
}

void PictureView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isShowingPicture()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragFrom = event->pos();
    setCursor(Qt::ClosedHandCursor);
}

void PictureView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) return;
    panBy(event->pos() - m_dragFrom);
    m_dragFrom = event->pos();
}

void PictureView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return;
    m_dragging = false;
    unsetCursor();
}

} // namespace viewer
