#include "Arguments.h"
#include "ImageTool.h"

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"

#include <QFileInfo>

#include <cstdio>

namespace imagetool {

int runList(const QStringList &args)
{
    Arguments line(QStringLiteral("list"), {}, {QStringLiteral("DIR")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QString folder = line.operand();
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
