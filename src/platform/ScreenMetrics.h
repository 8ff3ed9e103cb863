#pragma once

#include <QSize>
#include <QtGlobal>

namespace platform {

// The primary screen's size in pixels; 1920 x 1080 when there is no screen to ask (no GUI
// application, or a platform without screens).
QSize primaryScreenSize();

// The primary screen's logical resolution in dots per inch; 96 when there is no screen to
// ask or the screen is made up (the offscreen and minimal platforms).
qreal logicalDpi();

// A device-independent size in pixels on the primary screen (value x logical DPI / 96).
qreal dpiScaled(qreal value);

} // namespace platform
