#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

class ImageWrapper;
class PixmapClipRoot;
class QPainter;
class RenderCache;
struct ImageFormat;
class ImageFormats;

// The decoder and painter behind one opened picture. The wrapper owns exactly one back-end
// and forwards nearly every picture operation to it. The order of the virtual operations is
// fixed (hosts built against the library rely on it): do not insert, remove or reorder.
class ImageBase
{
public:
    explicit ImageBase(ImageWrapper *owner) : m_owner(owner) {}
    // slot 0
    virtual ~ImageBase();

    ImageBase(const ImageBase &) = delete;
    ImageBase &operator=(const ImageBase &) = delete;

    // slot 1: adds a frame from raw 32-bit ARGB bits.
    virtual bool appendFrame(const uchar *bits, int width, int height, int byteCount);
    // slot 2: decodes the picture; called once, on the wrapper's loading thread.
    virtual bool load(const ImageFormat *row) = 0;
    // slot 3: the frame's size as shown (transposed for orientations 5-8).
    virtual QSize imageSize(int frame) const = 0;
    // slot 4
    virtual int frameCount() const = 0;
    // slot 5: draws the whole picture into `target`; `visible` is the on-screen part of the
    // device, `scale` the ratio of target width to picture width.
    virtual void paint(QPainter *painter, int frame, const QRect &target, const QRect &visible,
                       double scale, RenderCache *cache) = 0;
    // slot 6
    virtual QPixmap pixmapAt(int frame, int width, int height) = 0;
    // slot 7
    virtual QImage imageAt(int frame, int width, int height) = 0;
    // slot 8: writes the picture in `row`'s format to `path`; with `write` false nothing is
    // written.
    virtual bool save(const ImageFormat *row, const QString &path, bool write) = 0;
    // slot 9: on screen (false) or also written back in its format (true).
    virtual bool canRotate(bool withSaving) const = 0;
    // slot 10
    virtual bool canDelete() const = 0;
    // slot 11
    virtual bool isAnimation() const = 0;
    // slot 12: milliseconds.
    virtual int delay(int frame) const;
    // slot 13: the cached smooth rendering of the visible part of `target` (viewer's cache
    // thread).
    virtual void paintCache(QImage &out, int frame, QRect target, long orientation, QSize view);
    // slot 14
    virtual bool crop(const QRect &rect);
    // slot 15
    virtual bool resize(int width, int height, Qt::TransformationMode mode);
    // slot 16
    virtual void setImage(const QImage &image);
    // slot 17: the shared conversion writer; no back-end overrides it.
    virtual bool convertImageFormat(const ImageFormat *row, const QString &path);

protected:
    ImageWrapper *owner() const { return m_owner; }

    // The wrapper's state that back-ends read and write (the wrapper lets ImageBase in; the
    // back-ends reach it through these).
    ImageFormats *formatTable() const;
    ImageFormat *formatRow() const;
    void setFormatRow(ImageFormat *row);
    QSize originalSize() const;
    void setOriginalSize(const QSize &size);
    void setReady(bool ready);
    bool clipAllowed() const;
    bool isClipMode() const;
    void setClipMode(bool clipMode);
    int status() const;
    int orientation() const;
    void setOrientation(int orientation);
    int thumbnailOrientation() const;
    QImage thumbnail() const;
    bool dirty() const;
    void setDirty(bool dirty);
    bool hasExifItems() const;
    PixmapClipRoot *clipRoot() const;
    void setClipRoot(PixmapClipRoot *root);
    QString pathName() const;
    QString normalizedPathName() const;
    // Prepares `painter` so that drawing the stored picture into (0, 0, width, height)
    // shows it upright; swaps width and height for orientations 5-8.
    void translateByExif(QPainter *painter, int &width, int &height, int orientation) const;
    // The wrapper's orientation write-back into a file just written (ImageBaseEdit.cpp).
    void rotateExif(const ImageFormat *row, const QString &path, long orientation,
                    long thumbnailOrientation);

private:
    ImageWrapper *const m_owner;
};
