#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QVector>

namespace imagetool {

// export FILE -o OUT [--max-width N] [--max-height N] [--quality Q]: the reduced copy.
int runExport(const QStringList &args)
{
    const QString name = QStringLiteral("export");
    Arguments line(name,
                   {Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT")),
                    {{QStringLiteral("--max-width")}, QStringLiteral("a number")},
                    {{QStringLiteral("--max-height")}, QStringLiteral("a number")},
                    {{QStringLiteral("--quality")}, QStringLiteral("a number from 0 to 100")}},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QString output = line.value(QStringLiteral("-o"));
    if (output.isEmpty()) return usageError(name, QStringLiteral("no -o OUT given"));
    QVector<int> number;
    int limits[2] = {0, 0};
    const QString limitNames[2] = {QStringLiteral("--max-width"), QStringLiteral("--max-height")};
    for (int i = 0; i < 2; ++i) {
        if (!line.has(limitNames[i])) continue;
        if (!parseInts(line.value(limitNames[i]), QLatin1Char(','), 1, &number) || number[0] < 0)
            return usageError(
                name, QStringLiteral("%1 needs a number from 0 (0: no limit)").arg(limitNames[i]));
        limits[i] = number[0];
    }
    int quality = 90;
    if (line.has(QStringLiteral("--quality"))) {
        if (!parseInts(line.value(QStringLiteral("--quality")), QLatin1Char(','), 1, &number) ||
            number[0] < 0 || number[0] > 100)
            return usageError(name, QStringLiteral("--quality needs a number from 0 to 100"));
        quality = number[0];
    }

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    const ImageFormat *row = outputRow(name, *picture, output);
    if (!row) return ExitUsage;
    return picture->save(output, limits[0], limits[1], quality, row->id) ? ExitOk
                                                                         : outputError(output);
}

} // namespace imagetool
