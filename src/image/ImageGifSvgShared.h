#pragma once

#include <QPixmap>
#include <QString>

#include <functional>

class ImageWrapper;
struct ImageFormat;

// What the GIF and SVG back-ends share.

// The angle a picture is shown at for an EXIF orientation: 180 for 3-4, 90 for 5-6, -90
// for 7-8, else 0 (mirroring is not applied).
int quarterTurnAngle(int orientation);

// Their save: an unchanged picture saved as SVG is its own file (copied when the path is
// another); any other writable row receives firstFrame() through QPixmap::save at
// quality 100. With write false nothing is written and the answer says whether there is a
// picture to write.
bool saveCopyOrFirstFrame(ImageWrapper *owner, const ImageFormat *row, const QString &path,
                          bool write, const std::function<QPixmap()> &firstFrame);
