#include "PsdStream.h"

#include <QtEndian>

namespace psd {

quint64 PsdStream::remaining() const
{
    const qint64 left = m_device->size() - m_device->pos();
    return left > 0 ? quint64(left) : 0;
}

bool PsdStream::readBytes(char *data, qint64 size)
{
    if (!m_ok || size < 0 || quint64(size) > remaining()) return fail();
    qint64 done = 0;
    while (done < size) {
        const qint64 got = m_device->read(data + done, size - done);
        if (got <= 0) return fail();
        done += got;
    }
    return true;
}

quint8 PsdStream::readU8()
{
    uchar b = 0;
    readBytes(reinterpret_cast<char *>(&b), 1);
    return b;
}

quint16 PsdStream::readU16()
{
    uchar b[2] = {};
    return readBytes(reinterpret_cast<char *>(b), 2) ? qFromBigEndian<quint16>(b) : 0;
}

quint32 PsdStream::readU32()
{
    uchar b[4] = {};
    return readBytes(reinterpret_cast<char *>(b), 4) ? qFromBigEndian<quint32>(b) : 0;
}

quint64 PsdStream::readU64()
{
    uchar b[8] = {};
    return readBytes(reinterpret_cast<char *>(b), 8) ? qFromBigEndian<quint64>(b) : 0;
}

bool PsdStream::skip(quint64 size)
{
    if (!m_ok || size > remaining()) return fail();
    return size == 0 || m_device->seek(m_device->pos() + qint64(size)) || fail();
}

bool PsdStream::seek(quint64 position)
{
    if (!m_ok || position > quint64(m_device->size())) return fail();
    return m_device->seek(qint64(position)) || fail();
}

} // namespace psd
