#include "DeviceRead.h"

#include <QBuffer>
#include <QFileDevice>

#include <cstring>

#include <cerrno>

#include <unistd.h>

namespace platform {

namespace {

int fileHandle(const QIODevice *device)
{
    const auto *file = qobject_cast<const QFileDevice *>(device);
    return file && file->isOpen() ? file->handle() : -1;
}

} // namespace

bool readsConcurrently(const QIODevice *device)
{
    return fileHandle(device) >= 0 || (qobject_cast<const QBuffer *>(device) && device->isOpen());
}

bool readDeviceAt(QIODevice *device, quint64 at, char *data, quint64 size)
{
    if (const auto *buffer = qobject_cast<const QBuffer *>(device)) {
        const QByteArray &bytes = buffer->data();
        if (at > quint64(bytes.size()) || size > quint64(bytes.size()) - at) return false;
        if (size > 0) std::memcpy(data, bytes.constData() + at, size_t(size));
        return true;
    }
    const int fd = fileHandle(device);
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
