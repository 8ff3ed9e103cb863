#include "PsdPreview.h"

QImage psdPreviewBitmap(const QString &path)
{
    Q_UNUSED(path);
    return QImage();
}

QPixmap psdPreviewPixmap(const QString &path)
{
    return QPixmap::fromImage(psdPreviewBitmap(path));
}
