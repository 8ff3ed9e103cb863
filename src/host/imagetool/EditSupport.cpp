#include "EditSupport.h"

#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QFileInfo>
#include <QVector>

namespace imagetool {

QSharedPointer<ImageWrapper> openForEditing(const QString &file)
{
    QString reason;
    QSharedPointer<ImageWrapper> picture = openPicture(file, &reason);
    if (picture && picture->isClipMode()) {
        // Decoded at screen size for viewing; an edit needs the whole picture.
        picture->close();
        picture->enableClipMode(false);
        picture->load();
        if (picture->status() != ImageStatusReady || picture->frameCount() < 1) {
            picture.reset();
            reason = QStringLiteral("too large to edit");
        }
    }
    if (!picture) reportError(file, reason);
    return picture;
}

const ImageFormat *outputRow(const QString &command, const ImageWrapper &picture,
                             const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const ImageFormat *row =
        dot < 0 ? nullptr : picture.imgFormat()->formatForSuffix(name.mid(dot + 1));
    if (!row || row->id == FormatUnknown || !(row->flags & FormatCanSave)) {
        usageError(command, QStringLiteral("%1: its suffix names no format that can be written "
                                           "(bmp, jpg, jpeg, png, tif, tiff, xbm, xpm, ...)")
                                .arg(path));
        return nullptr;
    }
    return row;
}

int outputError(const QString &path, const QString &reason)
{
    reportError(path, reason.isEmpty() ? QStringLiteral("cannot be written; nothing was changed")
                                       : reason);
    return ExitOutput;
}

bool parseInts(const QString &text, QChar separator, int count, QVector<int> *out)
{
    const QStringList parts = text.split(separator);
    if (parts.size() != count) return false;
    out->clear();
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok) return false;
        out->append(value);
    }
    return true;
}

} // namespace imagetool
