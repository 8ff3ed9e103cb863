#pragma once

// A picture painted upright at its full size through the opened picture's own paint path,
// as the viewer shows it.

#include "OpenPicture.h"
#include "image/ImageWrapper.h"

#include <QPainter>

inline QImage paintUpright(ImageWrapper &picture)
{
    const QSize size = picture.imageSize(0);
    if (size.isEmpty()) return {};
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect target(QPoint(0, 0), size);
    picture.paint(&painter, 0, target, target, 1.0, nullptr);
    painter.end();
    return canvas.convertToFormat(QImage::Format_ARGB32);
}

inline QImage renderUpright(const QString &path)
{
    const QSharedPointer<ImageWrapper> picture = openPicture(path, false);
    if (!picture || picture->status() != ImageStatusReady) return {};
    return paintUpright(*picture);
}
