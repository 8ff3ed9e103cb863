#include "image/ImageBase.h"

#include "formats/ImageFormats.h"
#include "formats/PictureWriter.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"
#include "image/PictureAlpha.h"

#include <QPainter>

ImageBase::~ImageBase() = default;

bool ImageBase::appendFrame(const uchar *, int, int, int)
{
    return false;
}

int ImageBase::delay(int) const
{
    return 0;
}

void ImageBase::paintCache(QImage &out, int, QRect, long, QSize)
{
    out = QImage();
}

bool ImageBase::crop(const QRect &)
{
    return false;
}

bool ImageBase::resize(int, int, Qt::TransformationMode)
{
    return false;
}

void ImageBase::setImage(const QImage &) {}

bool ImageBase::convertImageFormat(const ImageFormat *row, const QString &path)
{
    if (!row) return false;
    // What the viewer shows: a written file carries no orientation to mirror it by.
    QImage picture = m_owner->uprightImage(0);
    if (row->id == FormatBmp || row->id == FormatJpg) picture = flattenOntoWhite(picture);
    if (row->id == FormatJpg || row->id == FormatXbm || row->id == FormatXpm) {
        const QByteArray suffix = row->suffixes.value(0).toLatin1();
        return savePicture(picture, path, suffix.constData(), 100);
    }
    return saveWithWic(picture, row->id, path);
}

ImageFormats *ImageBase::formatTable() const
{
    return m_owner->m_imageFormats;
}

ImageFormat *ImageBase::formatRow() const
{
    return m_owner->m_format;
}

void ImageBase::setFormatRow(ImageFormat *row)
{
    if (row) m_owner->m_format = row;
}

QSize ImageBase::originalSize() const
{
    return m_owner->m_originalSize;
}

void ImageBase::setOriginalSize(const QSize &size)
{
    m_owner->m_originalSize = size;
}

void ImageBase::setReady(bool ready)
{
    m_owner->m_ready.store(ready);
}

bool ImageBase::clipAllowed() const
{
    return m_owner->m_clipAllowed;
}

bool ImageBase::isClipMode() const
{
    return m_owner->m_isClipMode.load();
}

void ImageBase::setClipMode(bool clipMode)
{
    m_owner->m_isClipMode.store(clipMode);
}

int ImageBase::status() const
{
    return m_owner->m_status.load();
}

int ImageBase::orientation() const
{
    return m_owner->m_orientation;
}

void ImageBase::setOrientation(int orientation)
{
    m_owner->m_orientation = orientation;
}

int ImageBase::thumbnailOrientation() const
{
    return m_owner->m_thumbnailOrientation;
}

QImage ImageBase::thumbnail() const
{
    return m_owner->m_thumbnail;
}

bool ImageBase::dirty() const
{
    return m_owner->m_dirty;
}

void ImageBase::setDirty(bool dirty)
{
    m_owner->m_dirty = dirty;
}

bool ImageBase::hasExifItems() const
{
    return !m_owner->m_exifItems.isEmpty();
}

PixmapClipRoot *ImageBase::clipRoot() const
{
    return m_owner->m_clipRoot;
}

void ImageBase::setClipRoot(PixmapClipRoot *root)
{
    m_owner->m_clipRoot = root;
}

QString ImageBase::pathName() const
{
    return m_owner->pathName();
}

QString ImageBase::normalizedPathName() const
{
    return m_owner->m_normalizedPathName;
}

void ImageBase::translateByExif(QPainter *painter, int &width, int &height, int orientation) const
{
    m_owner->translateByExif(painter, width, height, orientation);
}
