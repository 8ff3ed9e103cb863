#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QImageReader>

#include <cstdio>

namespace imagetool {

namespace {

QString backEndName(ImageBackEndKind kind)
{
    switch (kind) {
    case BackEndGif:
        return QStringLiteral("gif");
    case BackEndSvg:
        return QStringLiteral("svg");
    case BackEndMetafile:
        return QStringLiteral("metafile");
    default:
        return QStringLiteral("raster");
    }
}

// The format table's name for what the file holds, whatever its suffix says.
QString contentFormat(const QString &path, const ImageWrapper &picture)
{
    const ImageFormat *row =
        picture.imgFormat()->formatForSuffix(QString::fromLatin1(QImageReader::imageFormat(path)));
    if (row->id == FormatUnknown) row = picture.format();
    return row->suffixes.value(0);
}

QString describe(const QString &path, const ImageWrapper &picture)
{
    const QSize size = picture.originalSize();
    const QImage thumbnail = picture.thumbnail();
    const QString thumb = thumbnail.isNull() ? QStringLiteral("null")
                                             : QStringLiteral("{\"width\":%1,\"height\":%2}")
                                                   .arg(thumbnail.width())
                                                   .arg(thumbnail.height());
    const long orientation = picture.orientation();
    return QStringLiteral("{\"path\":%1,\"format\":%2,\"width\":%3,\"height\":%4,"
                          "\"orientation\":%5,\"frames\":%6,\"exifThumbnail\":%7,"
                          "\"backend\":%8}")
        .arg(jsonString(path), jsonString(contentFormat(path, picture)))
        .arg(size.width())
        .arg(size.height())
        .arg(orientation >= 1 && orientation <= 8 ? orientation : 1)
        .arg(picture.frameCount())
        .arg(thumb, jsonString(backEndName(picture.backEndKind())));
}

} // namespace

int runInfo(const QStringList &args)
{
    QStringList files;
    for (const QString &arg : args) {
        if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-"))
            return usageError(QStringLiteral("info"), QStringLiteral("unknown option %1").arg(arg));
        files.append(arg);
    }
    if (files.isEmpty()) return usageError(QStringLiteral("info"), QStringLiteral("no FILE given"));

    int code = ExitOk;
    for (const QString &file : qAsConst(files)) {
        QString reason;
        const QSharedPointer<ImageWrapper> picture = openPicture(file, &reason);
        if (!picture) {
            reportError(file, reason);
            code = ExitInput;
            continue;
        }
        const QByteArray line = (describe(file, *picture) + QLatin1Char('\n')).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    }
    return code;
}

} // namespace imagetool
