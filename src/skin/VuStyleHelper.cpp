#include "skin/VuStyleHelper.h"

#include <QGuiApplication>
#include <QScreen>

namespace skin {

qreal dpiScale()
{
    // Qt's style helper answers 96 DPI when told to ignore the screen, and falls back to the
    // same when there is no screen (or no GUI application) to ask.
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi)) return 1.0;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) return 1.0;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) return 1.0;
    return qRound(screen->logicalDotsPerInchX()) / 96.0;
}

} // namespace skin
