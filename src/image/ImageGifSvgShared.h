#pragma once

#include "image/Orientation.h"

#include <QPixmap>
#include <QString>

#include <functional>

class ImageWrapper;
struct ImageFormat;

// What the GIF and SVG back-ends share.

// Their save: an unchanged picture saved as SVG is its own file (copied when the path is
// another); any other writable row receives firstFrame() through QPixmap::save at
// quality 100. With write false nothing is written and the answer says whether there is a
// picture to write.
bool saveCopyOrFirstFrame(ImageWrapper *owner, const ImageFormat *row, const QString &path,
                          bool write, const std::function<QPixmap()> &firstFrame);
