#pragma once

#include <QIODevice>

namespace platform {

// Reads exactly `size` bytes at `at` of a random-access device. A file is read with one
// positioned read, without the seek before it: where many pieces are read from different
// places, the system calls are a good part of the cost. Other devices seek and read.
// False when the bytes cannot all be read; the device's position is then unspecified.
bool readDeviceAt(QIODevice *device, quint64 at, char *data, quint64 size);

} // namespace platform
