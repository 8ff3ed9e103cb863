#pragma once

#include <QIODevice>

namespace platform {

// Reads exactly `size` bytes at `at` of a random-access device. A file is read with one
// positioned read, without the seek before it: where many pieces are read from different
// places, the system calls are a good part of the cost. A buffer's bytes are copied; other
// devices seek and read.
// False when the bytes cannot all be read; the device's position is then unspecified.
bool readDeviceAt(QIODevice *device, quint64 at, char *data, quint64 size);

// Whether readDeviceAt may be called for the device from several threads at once: true for
// files and byte-array buffers, which it reads without moving their position.
bool readsConcurrently(const QIODevice *device);

} // namespace platform
