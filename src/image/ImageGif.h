#pragma once

#include "image/GifAnimation.h"
#include "image/ImageBase.h"

#include <QBrush>

// The back-end for GIF pictures: every frame with its placement, delay and disposal, the
// background colour and transparency, composed on demand (see GifAnimation). When it
// cannot read a file the wrapper shows it through the raster back-end instead.
class ImageGif : public ImageBase
{
public:
    explicit ImageGif(ImageWrapper *owner);

    bool load(const ImageFormat *row) override;
    QSize imageSize(int frame) const override;
    int frameCount() const override;
    void paint(QPainter *painter, int frame, const QRect &target, const QRect &visible,
               double scale, RenderCache *cache) override;
    QPixmap pixmapAt(int frame, int width, int height) override;
    QImage imageAt(int frame, int width, int height) override;
    bool save(const ImageFormat *row, const QString &path, bool write) override;
    bool canRotate(bool withSaving) const override;
    bool canDelete() const override;
    bool isAnimation() const override;
    int delay(int frame) const override;

    // The picture of frame i as shown during playback, not turned.
    QImage composedFrame(int i);
    // Some frame shows through: a frame names a transparent palette index.
    bool paletteHasAlpha() const { return m_animation.hasTransparency(); }
    QColor background() const { return m_animation.background(); }
    int loopCount() const { return m_animation.loopCount(); }
    // Whether the last load() failed because the file is no GIF giflib can read (another
    // reader may try) rather than because it exceeds the reader's limits (none should).
    bool unreadable() const { return m_unreadable; }
    const GifAnimation &animation() const { return m_animation; }

private:
    QBrush checkerBrush();

    GifAnimation m_animation;
    bool m_animated = false;
    bool m_checkerReady = false;
    QBrush m_checkerBrush;
    bool m_unreadable = false;
};
