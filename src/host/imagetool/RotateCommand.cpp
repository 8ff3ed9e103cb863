#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <cstdio>

namespace imagetool {

// rotate FILE (--cw|--ccw) [--copy | --in-place | -o OUT]
int runRotate(const QStringList &args)
{
    const QString name = QStringLiteral("rotate");
    EditArgs line;
    const int bad = parseEditArgs(name, args,
                                  {QStringLiteral("--cw"), QStringLiteral("--ccw"),
                                   QStringLiteral("--copy"), QStringLiteral("--in-place")},
                                  {QStringLiteral("-o")}, &line);
    if (bad >= 0) return bad;
    const bool cw = line.switches.contains(QStringLiteral("--cw"));
    const bool ccw = line.switches.contains(QStringLiteral("--ccw"));
    if (cw == ccw) return usageError(name, QStringLiteral("give one of --cw and --ccw"));
    const bool inPlace = line.switches.contains(QStringLiteral("--in-place"));
    const bool copy = line.switches.contains(QStringLiteral("--copy"));
    const bool toPath = line.values.contains(QStringLiteral("-o"));
    if (int(inPlace) + int(copy) + int(toPath) > 1)
        return usageError(name, QStringLiteral("give at most one of --copy, --in-place and -o"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.file);
    if (!picture) return ExitInput;
    QString path;
    SaveType type = SaveRotateCopy;
    if (toPath) {
        path = line.values.value(QStringLiteral("-o"));
        if (!outputRow(name, *picture, path)) return ExitUsage;
        type = SaveToPath;
    } else if (inPlace) {
        type = SaveOverwrite;
    }
    const QString subject = toPath ? path : line.file;
    if (!picture->canRotate(true))
        return outputError(subject, QStringLiteral("a picture of this kind cannot be turned and "
                                                   "written; nothing was changed"));
    if (!picture->rotate(cw, path, type)) return outputError(subject);
    if (type == SaveRotateCopy) {
        const QByteArray text = (path + QLatin1Char('\n')).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    }
    return ExitOk;
}

} // namespace imagetool
