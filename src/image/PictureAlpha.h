#pragma once

#include <QImage>

// Whether every pixel of a 32-bit picture with alpha is opaque (a decoded JPEG, say).
bool isOpaque(const QImage &picture);

// The picture drawn over white, for formats that keep no transparency; null when the
// memory for it cannot be had.
QImage flattenOntoWhite(const QImage &picture);
