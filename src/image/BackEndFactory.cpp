#include "image/BackEndFactory.h"

#include "image/ImagePixmap.h"

// The one place that knows every back-end class. Until the GIF, SVG and metafile back-ends
// exist, their rows are shown by the raster back-end (Qt reads GIFs and SVGs).
ImageBase *createBackEnd(int formatId, ImageWrapper *owner, bool clipAllowed)
{
    switch (formatId) {
    case FormatGif: // ImageGif
    case FormatSvg: // ImageSvg
    case FormatWmf: // ImageGdi
    case FormatEmf: // ImageGdi
    default:
        return createRasterBackEnd(owner, clipAllowed);
    }
}

ImageBase *createRasterBackEnd(ImageWrapper *owner, bool clipAllowed)
{
    return new ImagePixmap(owner, clipAllowed);
}

ImageBackEndKind backEndKindOf(const ImageBase *backEnd)
{
    if (!backEnd) return BackEndNone;
    if (dynamic_cast<const ImagePixmap *>(backEnd)) return BackEndRaster;
    return BackEndNone;
}

bool gifHasAlpha(const ImageBase *)
{
    return false;
}

QByteArray xmindThumbnail(const QString &)
{
    return {};
}
