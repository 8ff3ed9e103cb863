#include "image/ImageBase.h"

#include "image/ImageWrapper.h"

void ImageBase::rotateExif(const ImageFormat *row, const QString &path, long orientation,
                           long thumbnailOrientation)
{
    m_owner->_rotateExif(row, path, orientation, thumbnailOrientation);
}
