#include "image/BackEndFactory.h"

#include "image/ImageGdi.h"
#include "image/ImageGif.h"
#include "image/ImagePixmap.h"
#include "image/ImageSvg.h"
#include "image/XMindPreview.h"

// The one place that knows every back-end class.
ImageBase *createBackEnd(int formatId, ImageWrapper *owner, bool clipAllowed)
{
    switch (formatId) {
    case FormatGif:
        return new ImageGif(owner);
    case FormatSvg:
    case FormatSvgz: // the same document, gzip-compressed
        return new ImageSvg(owner);
    case FormatWmf:
    case FormatEmf:
        return new ImageGdi(owner);
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
    if (dynamic_cast<const ImageGif *>(backEnd)) return BackEndGif;
    if (dynamic_cast<const ImageSvg *>(backEnd)) return BackEndSvg;
    if (dynamic_cast<const ImageGdi *>(backEnd)) return BackEndMetafile;
    return BackEndNone;
}

bool gifHasAlpha(const ImageBase *backEnd)
{
    const auto *gif = dynamic_cast<const ImageGif *>(backEnd);
    return gif && gif->paletteHasAlpha();
}

bool gifMayFallBack(const ImageBase *backEnd)
{
    const auto *gif = dynamic_cast<const ImageGif *>(backEnd);
    return gif && gif->unreadable();
}

QByteArray xmindThumbnail(const QString &path)
{
    return xmindPreview(path);
}
