#include "Arguments.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QFileInfo>

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
        picture.imgFormat()->formatForSuffix(ImageFormats::contentSuffix(path));
    if (row->id == FormatUnknown) row = picture.format();
    return row->suffixes.value(0);
}

// One line of JSON; "camera" only for raw files (from their reader), "error" only when the
// picture is not shown.
struct Facts
{
    QString format;
    QSize size;
    long orientation = 1;
    int frames = 0;
    QString thumbnail = QStringLiteral("null");
    QString backend = QStringLiteral("raster");
    QString camera, error;
};

QString toJson(const QString &path, const Facts &facts)
{
    QString line =
        QStringLiteral("{\"path\":%1,\"format\":%2,\"width\":%3,\"height\":%4,"
                       "\"orientation\":%5,\"frames\":%6,\"exifThumbnail\":%7,"
                       "\"backend\":%8")
            .arg(jsonString(path), jsonString(facts.format))
            .arg(facts.size.width())
            .arg(facts.size.height())
            .arg(facts.orientation >= 1 && facts.orientation <= 8 ? facts.orientation : 1)
            .arg(facts.frames)
            .arg(facts.thumbnail, jsonString(facts.backend));
    if (!facts.camera.isEmpty()) line += QStringLiteral(",\"camera\":") + jsonString(facts.camera);
    if (!facts.error.isEmpty()) line += QStringLiteral(",\"error\":") + jsonString(facts.error);
    return line + QLatin1Char('}');
}

Facts describe(const QString &path, const ImageWrapper &picture)
{
    Facts facts;
    facts.format = contentFormat(path, picture);
    facts.size = picture.originalSize();
    const QImage thumbnail = picture.thumbnail();
    if (!thumbnail.isNull())
        facts.thumbnail = QStringLiteral("{\"width\":%1,\"height\":%2}")
                              .arg(thumbnail.width())
                              .arg(thumbnail.height());
    facts.orientation = picture.orientation();
    facts.frames = picture.frameCount();
    facts.backend = backEndName(picture.backEndKind());
    if (ImageFormats::isRawFormat(picture.format()->id)) facts.camera = rawFacts(path).camera;
    return facts;
}

void printLine(const QString &line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int runInfo(const QStringList &args)
{
    Arguments line(QStringLiteral("info"), {}, {QStringLiteral("FILE"), 1, -1});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QStringList &files = line.operands();

    int code = ExitOk;
    for (const QString &file : qAsConst(files)) {
        QString reason;
        RawFacts raw;
        const QSharedPointer<ImageWrapper> picture = openPicture(file, &reason, &raw);
        if (!picture) {
            reportError(file, reason);
            code = ExitInput;
            // A raw file without a usable preview: what its reader knows is still reported.
            if (raw.size.isValid()) {
                Facts facts;
                facts.format = QFileInfo(file).suffix().toLower();
                facts.size = raw.size;
                facts.orientation = raw.orientation;
                facts.camera = raw.camera;
                facts.error = reason;
                printLine(toJson(file, facts));
            }
            continue;
        }
        printLine(toJson(file, describe(file, *picture)));
    }
    return code;
}

} // namespace imagetool
