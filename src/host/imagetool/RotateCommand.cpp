#include "Arguments.h"
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
    Arguments line(name,
                   {{{QStringLiteral("--cw")}},
                    {{QStringLiteral("--ccw")}},
                    {{QStringLiteral("--copy")}},
                    {{QStringLiteral("--in-place")}},
                    Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT"), false)},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const bool cw = line.has(QStringLiteral("--cw"));
    const bool ccw = line.has(QStringLiteral("--ccw"));
    if (cw == ccw) return usageError(name, QStringLiteral("give one of --cw and --ccw"));
    const bool inPlace = line.has(QStringLiteral("--in-place"));
    const bool copy = line.has(QStringLiteral("--copy"));
    const bool toPath = line.has(QStringLiteral("-o"));
    if (int(inPlace) + int(copy) + int(toPath) > 1)
        return usageError(name, QStringLiteral("give at most one of --copy, --in-place and -o"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    QString path;
    SaveType type = SaveRotateCopy;
    if (toPath) {
        path = line.value(QStringLiteral("-o"));
        if (!outputRow(name, *picture, path)) return ExitUsage;
        type = SaveToPath;
    } else if (inPlace) {
        type = SaveOverwrite;
    }
    const QString subject = toPath ? path : line.operand();
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
