#pragma once

#include <QByteArray>

#include <cerrno>

#include <unistd.h>

// Writes all of `data` to `fd`, unbuffered: a line is either there whole or the write failed.
inline bool writeWhole(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}
