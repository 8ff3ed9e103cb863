#pragma once

#include <QtGlobal>

namespace platform {

// Start-up and shut-down of the system graphics runtime that some picture back-ends draw
// through. Linux needs none: the calls stay where the application makes them and hand out
// a non-zero token, so the application's life cycle reads the same on every platform.
quintptr startGraphicsRuntime();
void stopGraphicsRuntime(quintptr token);

} // namespace platform
