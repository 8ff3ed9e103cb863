#pragma once

#include "MetafileBytes.h"

#include <QRect>
#include <QSizeF>

namespace metafile {

class MetafileCanvas;

// What the header record of an enhanced metafile says about the picture.
struct EmfHeader
{
    QRect bounds;       // inclusive, reference-device pixels
    QRect frame;        // inclusive, hundredths of a millimetre
    QSizeF pixelsPerMm; // the reference device's resolution
    quint32 handles = 0;

    // The frame in reference-device pixels: where the picture lies.
    QRectF deviceFrame() const;
};

// Reads and checks the header record; false when `file` is not an enhanced metafile.
bool readEmfHeader(MetafileBytes file, EmfHeader &header);

// Plays every record after the header onto `canvas`. Records are bounded by the file;
// unknown ones are skipped, and a record whose size does not fit ends the picture. EMF+
// records in comments are played too; `nesting` counts the metafiles this one is drawn in.
void playEmf(MetafileBytes file, MetafileCanvas &canvas, int nesting = 0);

} // namespace metafile
