#pragma once

#include <QByteArray>
#include <QPoint>
#include <QWidget>

namespace platform {

// The window-system message that the skinned application examines for caption hit tests.
// On the original platform this is the system's own message record; here the window-system
// glue (or a test) fills this struct and hands it to the native event filter.
struct NativeMessage
{
    // The event-type name that accompanies this struct through a native event filter. Other
    // native events (xcb, ...) carry other records, which must never be read as this one.
    static constexpr const char *eventType = "picsage_native_message";

    // The non-client hit-test message and the answers the filter can give.
    static constexpr uint NcHitTest = 0x84;
    static constexpr long HitClient = 1;
    static constexpr long HitCaption = 2;
    static constexpr long HitTransparent = -1;

    WId window = 0;
    uint message = 0;
    QPoint globalPos; // cursor position in global screen coordinates
};

} // namespace platform
