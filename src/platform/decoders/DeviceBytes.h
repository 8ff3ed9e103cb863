#pragma once

#include <QByteArray>
#include <QIODevice>

namespace platform::decoders {

// The readers that hand a whole file to a library (libheif, libtiff, Poppler) read it into
// memory first. A file larger than `maxBytes` is not read at all (an empty array), so a
// device that claims no size or a huge one never makes us allocate without bound.
inline QByteArray readWholeDevice(QIODevice *device, qint64 maxBytes)
{
    if (!device || !device->isReadable()) return {};
    if (!device->isSequential()) {
        const qint64 left = device->size() - device->pos();
        if (left <= 0 || left > maxBytes) return {};
        QByteArray bytes(int(left), Qt::Uninitialized);
        if (device->read(bytes.data(), left) != left) return {};
        return bytes;
    }
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const qint64 got = device->read(chunk, sizeof chunk);
        if (got < 0) return {};
        if (got == 0) break;
        if (bytes.size() + got > maxBytes) return {};
        bytes.append(chunk, int(got));
    }
    return bytes;
}

} // namespace platform::decoders
