#include "image/ImageGifSvgShared.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QDir>
#include <QFileInfo>

int quarterTurnAngle(int orientation)
{
    switch (orientation) {
    case 3:
    case 4:
        return 180;
    case 5:
    case 6:
        return 90;
    case 7:
    case 8:
        return -90;
    default:
        return 0;
    }
}

bool saveCopyOrFirstFrame(ImageWrapper *owner, const ImageFormat *row, const QString &path,
                          bool write, const std::function<QPixmap()> &firstFrame)
{
    if (!owner || !row) return false;
    if (row->id == FormatSvg) {
        if (owner->dirty()) return false;
        const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        const QString own = QDir::cleanPath(QFileInfo(owner->pathName()).absoluteFilePath());
        if (target.compare(own, Qt::CaseInsensitive) == 0) return true;
        return owner->copyFile(path, true);
    }
    if (!(row->flags & FormatCanSave) || row->suffixes.isEmpty()) return false;
    const QPixmap pixmap = firstFrame();
    if (pixmap.isNull()) return false;
    if (!write) return true;
    return pixmap.save(path, row->suffixes.first().toLatin1().constData(), 100);
}
