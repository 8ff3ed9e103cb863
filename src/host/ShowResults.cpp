// picsage-results: prints the analysis records stored in the settings store, as the viewer
// reads them, one "value name = JSON" line each.

#include "tool/ResultStore.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, resultstore::organisation(),
                       resultstore::application());
    settings.beginGroup(resultstore::group());
    QTextStream out(stdout);
    out << "store: " << settings.fileName() << "\n";
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys)
        out << key << " = " << settings.value(key).toString() << "\n";
    return 0;
}
