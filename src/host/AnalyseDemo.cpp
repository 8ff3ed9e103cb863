// picsage-analyse: the viewer's side of an in-process analysis. Loads nothing but the
// library, analyses one picture through AnalyseImage, then prints what the viewer would
// read back from the settings store.
//
//   picsage-analyse PICTURE METHODS [--auto]

#include "tool/AnalyseImage.h"

#include <QGuiApplication>
#include <QSettings>
#include <QTextStream>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        out << "usage: picsage-analyse PICTURE METHODS [--auto]\n";
        return 2;
    }
    const QString picture = args.at(1), methods = args.at(2);
    const bool autoFollowUp = args.contains(QStringLiteral("--auto"));

    const int code = AnalyseImage(reinterpret_cast<const char16_t *>(picture.utf16()),
                                  reinterpret_cast<const char16_t *>(methods.utf16()),
                                  autoFollowUp ? 1 : 0);

    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ormelo"),
                       QStringLiteral("office"));
    settings.beginGroup(QStringLiteral("6.0/plugins/photo/picsage"));
    out << "picture: " << picture << "\n";
    out << "store:   " << settings.fileName() << "\n";
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys)
        out << key << " = " << settings.value(key).toString() << "\n";
    out << "code:    " << code << "\n";
    return 0;
}
