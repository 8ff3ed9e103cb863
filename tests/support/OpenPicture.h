#pragma once

// Opens pictures the way the viewer does: through the folder that holds them.

#include "formats/ExifItems.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"
#include "platform/PropertyItems.h"

#include <QFileInfo>
#include <QImage>
#include <QSharedPointer>

// The picture at `path`, initialised (EXIF read) but not loaded; null when init fails.
inline QSharedPointer<ImageWrapper> initPicture(const QString &path)
{
    const QFileInfo info(path);
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(info.absolutePath(), {info.fileName()})) return {};
    if (folder->indexOf(info.fileName()) < 0) return {};
    return folder->createImage(info.fileName(), 0, folder);
}

// The picture at `path`, loaded on this thread.
inline QSharedPointer<ImageWrapper> openPicture(const QString &path, bool clipAllowed = true)
{
    QSharedPointer<ImageWrapper> picture = initPicture(path);
    if (!picture) return {};
    picture->enableClipMode(clipAllowed);
    picture->load();
    return picture;
}

// Writes the EXIF orientation (and, when given, the thumbnail's) into a picture file.
inline bool setExifOrientation(const QString &path, int orientation, int thumbnailOrientation = 0)
{
    QVector<platform::PropertyItem> items;
    platform::PropertyItem item;
    item.id = PropertyTagOrientation;
    item.type = PropertyTagTypeShort;
    item.value = QByteArray(1, char(orientation)) + QByteArray(1, '\0');
    items.append(item);
    if (thumbnailOrientation > 0) {
        item.id = PropertyTagThumbnailOrientation;
        item.value = QByteArray(1, char(thumbnailOrientation)) + QByteArray(1, '\0');
        items.append(item);
    }
    return platform::writePropertyItems(path, items);
}

// A JPEG of `image` at the best quality, carrying EXIF orientation `orientation`.
inline bool writeOrientedJpeg(const QString &path, const QImage &image, int orientation)
{
    return image.save(path, "JPEG", 100) && setExifOrientation(path, orientation);
}
