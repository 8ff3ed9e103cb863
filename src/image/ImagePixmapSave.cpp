#include "image/ImagePixmap.h"

// Not implemented yet (the editing issue): writing the frames back, with the turn applied,
// the metadata and the JFIF density rewritten.
bool ImagePixmap::save(const ImageFormat *, const QString &, bool)
{
    return false;
}
