#pragma once

#include <QSize>
#include <QtGlobal>

namespace platform {

// The primary screen's size in pixels; 1920 x 1080 when there is no screen to ask (no GUI
// application, or a platform without screens).
QSize primaryScreenSize();

// A device-independent size in pixels on the primary screen (value x logical DPI / 96).
qreal dpiScaled(qreal value);

} // namespace platform
