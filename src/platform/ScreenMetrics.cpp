#include "platform/ScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {

namespace {
const QScreen *primaryScreen()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) return nullptr;
    return QGuiApplication::primaryScreen();
}
} // namespace

QSize primaryScreenSize()
{
    const QScreen *screen = primaryScreen();
    if (!screen || screen->size().isEmpty()) return QSize(1920, 1080);
    return screen->size();
}

qreal dpiScaled(qreal value)
{
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi)) return value;
    const QScreen *screen = primaryScreen();
    if (!screen) return value;
    return value * (qRound(screen->logicalDotsPerInchX()) / 96.0);
}

} // namespace platform
