#include "image/BackEndFactory.h"

#include "image/ImageGdi.h"
#include "image/ImagePixmap.h"

// The one place that knows every back-end class. Until the GIF and SVG back-ends exist,
// their rows are shown by the raster back-end (Qt reads GIFs and SVGs).
ImageBase *createBackEnd(int formatId, ImageWrapper *owner, bool clipAllowed)
{
    switch (formatId) {
    case FormatWmf:
    case FormatEmf:
        return new ImageGdi(owner);
    case FormatGif: // ImageGif
    case FormatSvg: // ImageSvg
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
    if (dynamic_cast<const ImageGdi *>(backEnd)) return BackEndMetafile;
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
