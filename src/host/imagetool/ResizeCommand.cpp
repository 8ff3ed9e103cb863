#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

#include <QVector>

namespace imagetool {

namespace {

// A size no picture of this tool grows beyond (400 MiB of pixels).
constexpr qint64 MaxPixels = 104857600;

} // namespace

// resize FILE --size WxH -o OUT
int runResize(const QStringList &args)
{
    const QString name = QStringLiteral("resize");
    Arguments line(name,
                   {{{QStringLiteral("--size")}, QStringLiteral("WxH")},
                    Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT"))},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    QVector<int> s;
    if (!parseInts(line.value(QStringLiteral("--size")), QLatin1Char('x'), 2, &s) || s[0] < 0 ||
        s[1] < 0 || (s[0] == 0 && s[1] == 0))
        return usageError(name, QStringLiteral("--size needs WxH (one of them may be 0: it then "
                                               "follows the aspect ratio)"));
    const QString output = line.value(QStringLiteral("-o"));
    if (output.isEmpty()) return usageError(name, QStringLiteral("no -o OUT given"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    if (!outputRow(name, *picture, output)) return ExitUsage;
    const QSize shown = picture->imageSize(0);
    const qint64 w = s[0] > 0 ? s[0] : qint64(shown.width()) * s[1] / qMax(1, shown.height());
    const qint64 h = s[1] > 0 ? s[1] : qint64(shown.height()) * s[0] / qMax(1, shown.width());
    if (w * h > MaxPixels)
        return usageError(name, QStringLiteral("%1x%2 is too large").arg(w).arg(h));
    picture->resize(s[0], s[1], Qt::SmoothTransformation);
    if (!picture->isDirty()) return outputError(output);
    return picture->saveAs(output, false) ? ExitOk : outputError(output);
}

} // namespace imagetool
