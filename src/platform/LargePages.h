#pragma once

#include <QtGlobal>

namespace platform {

// Asks the system to back a large, freshly allocated buffer with huge pages. Decoding a
// large document touches hundreds of megabytes once; with 4 KB pages a good part of the
// decode time goes into page faults. A hint only: nothing changes where it is not heeded.
void adviseLargePages(void *data, quint64 size);

} // namespace platform
