#pragma once

#include "image/ImageBase.h"

#include <QBrush>
#include <QList>
#include <QScopedPointer>
#include <QVector>

#include <mutex>

namespace platform {
class FrameDecoder;
}

// The default back-end: every raster format. BMP, JPEG, PNG and TIFF files (and the preview
// of XMind files) are decoded frame by frame through the frame decoder; everything else,
// and whatever the decoder refuses, through Qt's image readers. Keeps every frame as a
// QImage, paints it upright over a transparency checkerboard, draws from the viewer's render
// cache when zoomed out, and decodes very large pictures at screen size (clip mode).
class ImagePixmap : public ImageBase
{
public:
    // More pages than this make a TIFF lazy: pages are decoded on demand.
    static constexpr int LazyPageThreshold = 40;
    // In lazy mode, pages further than this from the current one are released.
    static constexpr int LazyKeepDistance = 5;
    // The decoder path refuses frames larger than this; so does clip mode's trigger.
    static constexpr qint64 ClipPixels = 104857600;

    ImagePixmap(ImageWrapper *owner, bool clipAllowed);
    ~ImagePixmap() override;

    bool appendFrame(const uchar *bits, int width, int height, int byteCount) override;
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
    void paintCache(QImage &out, int frame, QRect target, long orientation, QSize view) override;
    bool crop(const QRect &rect) override;
    bool resize(int width, int height, Qt::TransformationMode mode) override;
    void setImage(const QImage &image) override;

    // Turns (and mirrors) every frame as the orientation says and sets the orientation to 1:
    // the pixels then show the picture upright (ImagePixmapSave.cpp).
    void bakeOrientation();

    // Lazy mode: pages are decoded on demand and at most 2 x LazyKeepDistance + 1 are held.
    bool isLazy() const { return m_lazy; }
    // How many frames are decoded and held right now.
    int decodedFrameCount() const;
    // JFIF density as read from a JPEG file's APP0 segment at load (units, x, y); only
    // files that have one carry it.
    bool hasJfifDensity() const { return m_jfifPresent; }
    quint8 jfifUnits() const { return m_jfifUnits; }
    quint16 jfifXDensity() const { return m_jfifXDensity; }
    quint16 jfifYDensity() const { return m_jfifYDensity; }

    // The transparency checkerboard: squares of `square` pixels, lighter at the top-left.
    static QImage checkerTile(int square);
    // A quarter turn (angle 0, 90, 180 or -90/270) by copying pixels; the same pixels as
    // QImage::transformed with that rotation, the format and colour table kept.
    static QImage turnQuarter(const QImage &image, int angle);

private:
    bool loadWithDecoder(const ImageFormat *row);
    bool loadWithReader(const ImageFormat *row);
    // Forgets every frame and the lazy pages' source.
    void dropFrames();
    void readJfifDensity();
    // Lazy mode: decodes page n if needed and releases those 6 away from it.
    void ensureFrame(int n);
    QImage frame(int n) const;
    QBrush checkerBrush();
    // The angle the frames are shown at: 180 for orientations 3-4, 90 for 5-6, -90 for 7-8.
    int orientationAngle() const;
    // Clip-mode painting from tiles when the reduced decode is too coarse; false when no
    // tile painting took place.
    bool paintClip(QPainter *painter, const QImage &frame, const QRect &target,
                   const QRect &visible, double scale);
    void paintPlaceholder(QPainter *painter, const QRect &target);

    // Guards frames while a worker thread loads and the viewer polls, and in lazy mode, where
    // the viewer's and the cache's threads decode pages. std::mutex rather than QMutex: its
    // hand-over is visible to ThreadSanitizer.
    mutable std::mutex m_framesMutex;
    QList<QImage> m_frames;
    QList<int> m_delays;
    bool m_animated = false;
    QBrush m_checkerBrush;
    bool m_checkerReady = false;
    const bool m_clipAllowed;
    bool m_lazy = false;
    bool m_jfifPresent = false;
    quint8 m_jfifUnits = 0;
    quint16 m_jfifXDensity = 0;
    quint16 m_jfifYDensity = 0;
    // Lazy mode only: the decoder the pages come from, and every page's stored size.
    QScopedPointer<platform::FrameDecoder> m_sources;
    QVector<QSize> m_sourceSizes;
};
