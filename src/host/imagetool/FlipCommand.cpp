#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

namespace imagetool {

namespace {

// The family a format row writes: a flip keeps the picture's own format, so OUT's suffix
// must name the same one.
int family(int id)
{
    if (ImageFormats::isJpegFormat(id)) return FormatJpg;
    if (ImageFormats::isTiffFormat(id)) return FormatTif;
    return id;
}

} // namespace

// flip FILE (--horizontal|--vertical) (--in-place | -o OUT)
int runFlip(const QStringList &args)
{
    const QString name = QStringLiteral("flip");
    Arguments line(name,
                   {{{QStringLiteral("--horizontal")}},
                    {{QStringLiteral("--vertical")}},
                    {{QStringLiteral("--in-place")}},
                    Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT"), false)},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const bool horizontal = line.has(QStringLiteral("--horizontal"));
    const bool vertical = line.has(QStringLiteral("--vertical"));
    if (horizontal == vertical)
        return usageError(name, QStringLiteral("give one of --horizontal and --vertical"));
    const bool inPlace = line.has(QStringLiteral("--in-place"));
    const bool toPath = line.has(QStringLiteral("-o"));
    if (inPlace == toPath) return usageError(name, QStringLiteral("give one of --in-place and -o"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    QString path = picture->pathName();
    if (toPath) {
        path = line.value(QStringLiteral("-o"));
        const ImageFormat *row = outputRow(name, *picture, path);
        if (!row) return ExitUsage;
        if (family(row->id) != family(picture->format()->id))
            return usageError(name, QStringLiteral("a flip is written in FILE's own format (%1); "
                                                   "give OUT that suffix, or convert afterwards")
                                        .arg(picture->format()->suffixes.value(0)));
    } else if (!(picture->format()->flags & FormatCanSave)) {
        return outputError(line.operand(),
                           QStringLiteral("a picture of this kind cannot be written; "
                                          "nothing was changed"));
    }
    const bool written = horizontal ? picture->horizonFlip(path) : picture->verticalFlip(path);
    return written ? ExitOk : outputError(path);
}

} // namespace imagetool
