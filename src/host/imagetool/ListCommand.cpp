#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"

#include <QFileInfo>

#include <cstdio>

namespace imagetool {

int runList(const QStringList &args)
{
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return usageError(QStringLiteral("list"), QStringLiteral("give exactly one DIR"));
    const QString folder = args.first();
    if (!QFileInfo(folder).isDir()) {
        reportError(folder, QStringLiteral("no such folder"));
        return ExitInput;
    }
    ImageDirectory directory;
    const ImageFormats table;
    if (!directory.init(folder, table.openableNameFilters())) {
        reportError(folder, QStringLiteral("no such folder"));
        return ExitInput;
    }
    for (int i = 0; i < directory.count(); ++i) {
        const QByteArray line = (directory.nameOf(i) + QLatin1Char('\n')).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return ExitOk;
}

} // namespace imagetool
