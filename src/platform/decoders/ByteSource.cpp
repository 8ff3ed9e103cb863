#include "platform/decoders/ByteSource.h"

namespace platform::decoders {

bool ByteSource::seek(qint64 at)
{
    if (at < 0 || at > size()) {
        m_overrun = true;
        return false;
    }
    m_pos = at;
    return true;
}

quint8 ByteSource::u8()
{
    const uchar *p = take(1);
    return p ? p[0] : 0;
}

quint16 ByteSource::le16()
{
    const uchar *p = take(2);
    return p ? quint16(p[0] | p[1] << 8) : 0;
}

quint32 ByteSource::le32()
{
    const uchar *p = take(4);
    return p ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24 : 0;
}

quint16 ByteSource::be16()
{
    const uchar *p = take(2);
    return p ? quint16(p[0] << 8 | p[1]) : 0;
}

quint32 ByteSource::be32()
{
    const uchar *p = take(4);
    return p ? quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]) : 0;
}

const uchar *ByteSource::take(qint64 count)
{
    if (count < 0 || count > remaining()) {
        m_overrun = true;
        m_pos = size();
        return nullptr;
    }
    const uchar *p = data() + m_pos;
    m_pos += count;
    return p;
}

QByteArray readRemaining(QIODevice *device)
{
    if (!device || !device->isReadable()) return {};
    return device->readAll();
}

QByteArray peekBytes(QIODevice *device, qint64 count)
{
    if (!device || !device->isReadable()) return {};
    return device->peek(count);
}

qint64 bytesAfterPosition(const QIODevice *device)
{
    if (!device || device->isSequential()) return -1;
    return qMax<qint64>(0, device->size() - device->pos());
}

namespace refusal {
QString damaged()
{
    return QStringLiteral("damaged (its data cannot be decoded)");
}
QString truncated()
{
    return QStringLiteral("its header claims more data than the file holds");
}
QString tooLarge(qint64 width, qint64 height)
{
    return QStringLiteral("too large (%1 x %2 pixels)").arg(width).arg(height);
}
QString notFormat(const char *format)
{
    return QStringLiteral("not a %1 file").arg(QLatin1String(format));
}
} // namespace refusal

} // namespace platform::decoders
