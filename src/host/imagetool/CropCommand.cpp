#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QRect>
#include <QVector>

namespace imagetool {

// crop FILE --rect X,Y,W,H -o OUT
int runCrop(const QStringList &args)
{
    const QString name = QStringLiteral("crop");
    Arguments line(name,
                   {{{QStringLiteral("--rect")}, QStringLiteral("X,Y,W,H")},
                    Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT"))},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    QVector<int> r;
    if (!parseInts(line.value(QStringLiteral("--rect")), QLatin1Char(','), 4, &r) || r[2] <= 0 ||
        r[3] <= 0 || r[0] < 0 || r[1] < 0)
        return usageError(name, QStringLiteral("--rect needs X,Y,W,H (X, Y from 0; W, H above 0)"));
    const QString output = line.value(QStringLiteral("-o"));
    if (output.isEmpty()) return usageError(name, QStringLiteral("no -o OUT given"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    if (!outputRow(name, *picture, output)) return ExitUsage;
    const QSize shown = picture->imageSize(0);
    // The rectangle is taken on the picture as it is shown (upright).
    if (!picture->crop(QRect(r[0], r[1], r[2], r[3])))
        return usageError(name, QStringLiteral("the rectangle lies outside the %1x%2 picture")
                                    .arg(shown.width())
                                    .arg(shown.height()));
    return picture->saveAs(output, false) ? ExitOk : outputError(output);
}

} // namespace imagetool
