// picsage-results: prints the analysis records stored in the settings store, as the viewer
// reads them, one "value name = JSON" line each.

#include <QCoreApplication>
#include <QSettings>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ormelo"),
                       QStringLiteral("office"));
    settings.beginGroup(QStringLiteral("6.0/plugins/photo/picsage"));
    QTextStream out(stdout);
    out << "store: " << settings.fileName() << "\n";
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys)
        out << key << " = " << settings.value(key).toString() << "\n";
    return 0;
}
