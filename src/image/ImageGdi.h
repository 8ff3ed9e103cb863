#pragma once

#include "image/ImageBase.h"
#include "metafile/Metafile.h"

// The back-end of Windows Metafile and Enhanced Metafile pictures: our own record player
// draws them with the painter, at any scale, with no decoded frame kept.
class ImageGdi : public ImageBase
{
public:
    // pixmapAt and imageAt draw no more pixels than this; larger sizes are scaled down.
    static constexpr qint64 MaxRenderPixels = 104857600;

    explicit ImageGdi(ImageWrapper *owner);
    ~ImageGdi() override;

    bool load(const ImageFormat *row) override;
    QSize imageSize(int frame) const override;
    int frameCount() const override { return 1; }
    // Fills target ∩ visible with white and plays the picture into it at `scale`, from the
    // target's top-left corner.
    void paint(QPainter *painter, int frame, const QRect &target, const QRect &visible,
               double scale, RenderCache *cache) override;
    // The picture at its own size, or fitted into width x height keeping its aspect ratio;
    // transparent where nothing is drawn. Null for a frame other than 0.
    QPixmap pixmapAt(int frame, int width, int height) override;
    QImage imageAt(int frame, int width, int height) override;
    bool save(const ImageFormat *row, const QString &path, bool write) override;
    bool canRotate(bool) const override { return false; }
    bool canDelete() const override { return true; }
    bool isAnimation() const override { return m_animated; }

private:
    QSize renderSize(int width, int height) const;

    metafile::Metafile m_image;
    bool m_animated = false;
};
