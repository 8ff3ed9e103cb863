#pragma once

#include "picsage_global.h"

#include <QImage>
#include <QPixmap>
#include <QString>

class QIODevice;

// A quick, small picture of a Photoshop document: the merged picture of a small RGB
// document (or of one without a thumbnail), otherwise the embedded JPEG thumbnail.
// Null when the file yields neither. The pixels are 32-bit ARGB, not premultiplied.
QImage psdPreviewBitmap(const QString &path);
QPixmap psdPreviewPixmap(const QString &path);

// The same for a document held by an open device, read from its start.
QImage psdPreviewBitmap(QIODevice *device);
