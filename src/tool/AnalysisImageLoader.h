#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// The picture handed to a recognition object: 32-bit ARGB (not premultiplied), decoded
// already scaled to fit `target` (keeping the aspect ratio) unless `largeOnly` is set and
// both sides are below 10000 pixels. Photoshop documents come from their quick preview.
// Null when the file does not decode.
QImage loadAnalysisImage(const QString &path, const QSize &target, bool largeOnly);

// The size that fits `size` into `target` keeping the aspect ratio, sides truncated
// toward zero but at least 1. Invalid for a size with a side of 0 or less.
QSize fitAnalysisSize(const QSize &size, const QSize &target);
