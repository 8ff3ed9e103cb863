#include "Arguments.h"
#include "EditSupport.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"

namespace imagetool {

// convert FILE -o OUT: the format comes from OUT's suffix.
int runConvert(const QStringList &args)
{
    const QString name = QStringLiteral("convert");
    Arguments line(name, {Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT"))},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QString output = line.value(QStringLiteral("-o"));
    if (output.isEmpty()) return usageError(name, QStringLiteral("no -o OUT given"));

    const QSharedPointer<ImageWrapper> picture = openForEditing(line.operand());
    if (!picture) return ExitInput;
    const ImageFormat *row = outputRow(name, *picture, output);
    if (!row) return ExitUsage;
    return picture->convertImageFormat(row, output) ? ExitOk : outputError(output);
}

} // namespace imagetool
