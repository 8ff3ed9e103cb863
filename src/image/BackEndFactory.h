#pragma once

#include "image/ImageWrapper.h"

class ImageBase;

// The back-end for a format row: ImageGif for GIF, ImageSvg for SVG, ImageGdi for the two
// metafile rows, ImagePixmap (told whether clip mode is allowed) for every other row.
ImageBase *createBackEnd(int formatId, ImageWrapper *owner, bool clipAllowed);
// The raster back-end, which also stands in when the GIF back-end cannot read a file.
ImageBase *createRasterBackEnd(ImageWrapper *owner, bool clipAllowed);
// Which kind `backEnd` is; BackEndNone for null.
ImageBackEndKind backEndKindOf(const ImageBase *backEnd);
// The GIF back-end's transparency flag (its palette has transparent entries).
bool gifHasAlpha(const ImageBase *backEnd);
// The encoded bytes of an XMind container's "thumbnail.png" entry; empty when there is none
// (or while the container reader is missing).
QByteArray xmindThumbnail(const QString &path);
