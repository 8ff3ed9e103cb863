#pragma once

#include <QtGlobal>

namespace skin {

// The logical screen DPI over 96: what a device-independent size is multiplied by.
qreal dpiScale();

// A device-independent size in pixels on this screen.
inline qreal dpiScaled(qreal value)
{
    return value * dpiScale();
}

} // namespace skin
