#pragma once

#include <QtGlobal>

namespace platform {

// Asks the system to back a large, freshly allocated buffer with huge pages. Decoding a
// large document touches hundreds of megabytes once; with 4 KB pages a good part of the
// decode time goes into page faults. A hint only: nothing changes where it is not heeded.
// Buffers smaller than worthIt are left alone: the hint pays where most of the buffer is
// written soon after it is allocated.
void adviseLargePages(void *data, quint64 size, quint64 worthIt = quint64(8) << 20);

} // namespace platform
