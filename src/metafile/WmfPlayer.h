#pragma once

#include "MetafileBytes.h"

#include <QRect>
#include <QSizeF>

namespace metafile {

class MetafileCanvas;

// What the headers of a Windows metafile say about the picture.
struct WmfHeader
{
    bool placeable = false;
    QRect box;           // the picture in logical units (normalised)
    double inch = 0;     // logical units per inch of a placeable file; 0 otherwise
    quint32 records = 0; // offset of the first record
    int objects = 0;

    // The picture's size in pixels at 96 dpi.
    QSizeF pixelSize() const;
};

// Reads and checks the headers; a file without a placeable header takes its box from its
// first window origin and extent records. False when `file` is not a Windows metafile.
bool readWmfHeader(MetafileBytes file, WmfHeader &header);

// Plays the records onto `canvas`, whose device is the picture at `pixelSize()`.
void playWmf(MetafileBytes file, const WmfHeader &header, MetafileCanvas &canvas);

} // namespace metafile
