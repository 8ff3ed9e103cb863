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

qreal logicalDpi()
{
    const QScreen *screen = primaryScreen();
    const QString platform = QGuiApplication::platformName();
    if (!screen || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return 96;
    const qreal dpi = screen->logicalDotsPerInchY();
    return dpi > 0 ? dpi : 96;
}

qreal dpiScaled(qreal value)
{
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi)) return value;
    const QScreen *screen = primaryScreen();
    if (!screen) return value;
    return value * (qRound(screen->logicalDotsPerInchX()) / 96.0);
}

} // namespace platform
