#include "DeviceRead.h"

#include <QFileDevice>

#include <cerrno>

#include <unistd.h>

namespace platform {

bool readDeviceAt(QIODevice *device, quint64 at, char *data, quint64 size)
{
    auto *file = qobject_cast<QFileDevice *>(device);
    const int fd = file ? file->handle() : -1;
    if (fd < 0) {
        if (!device->seek(qint64(at))) return false;
        for (quint64 done = 0; done < size;) {
            const qint64 got = device->read(data + done, qint64(size - done));
            if (got <= 0) return false;
            done += quint64(got);
        }
        return true;
    }
    // The file's own position and buffer are left alone: a positioned read uses neither.
    for (quint64 done = 0; done < size;) {
        const ssize_t got = ::pread(fd, data + done, size_t(size - done), off_t(at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += quint64(got);
    }
    return true;
}

} // namespace platform
