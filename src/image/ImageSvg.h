#pragma once

#include "image/ImageBase.h"

#include <memory>

class QSvgRenderer;

// The back-end for SVG pictures (also gzip-compressed ones, svgz): QSvgRenderer draws the
// vector picture afresh at whatever size the view asks for. The wrapper's ready flag stays
// false, so every load() of the wrapper loads the file again.
class ImageSvg : public ImageBase
{
public:
    // An svgz file inflates to at most this many bytes; a larger one is refused.
    static constexpr qint64 MaxDocumentBytes = 64 * 1024 * 1024;

    explicit ImageSvg(ImageWrapper *owner);
    ~ImageSvg() override;

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

    // The document's bytes, inflated when they are gzip-compressed; empty when they
    // cannot be read or would inflate beyond MaxDocumentBytes.
    static QByteArray readDocument(const QString &path);

private:
    // Owned here rather than by the wrapper: the back-end may be made on the loading thread,
    // where the wrapper cannot take children, and each load makes a new one.
    std::unique_ptr<QSvgRenderer> m_renderer;
    QSize m_size;
    bool m_loaded = false;
};
