#pragma once

#include <QSize>
#include <QString>

namespace platform {

// Carries the EXIF metadata of the picture file `from` (camera, dates, the embedded thumbnail
// and the rest) into the freshly written picture file `to`, whose pixels are `size`: the
// recorded pixel dimensions are set to it. `to` is changed in place (it is a staging file,
// not yet the user's). False, and `to` as it was, when either file cannot be handled; a
// file without EXIF gives nothing to carry and is not an error.
bool copyExifData(const QString &from, const QString &to, const QSize &size);

} // namespace platform
