#pragma once

#include <QMutex>

namespace platform {

// The one lock around every use of Exiv2 (it keeps process-wide tables); taking it the
// first time also silences Exiv2's own messages.
QMutex &exiv2Lock();

} // namespace platform
