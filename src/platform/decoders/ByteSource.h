#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace platform::decoders {

// A cursor over a file's bytes that never reads past their end: a read beyond it gives 0 and
// marks the source as overrun, so a parser checks once at the end of a header instead of
// before every field.
class ByteSource
{
public:
    explicit ByteSource(const QByteArray &bytes) : m_bytes(bytes) {}

    qint64 size() const { return m_bytes.size(); }
    qint64 pos() const { return m_pos; }
    qint64 remaining() const { return size() - m_pos; }
    bool overrun() const { return m_overrun; }

    // False (and the position unchanged) when `at` lies beyond the end.
    bool seek(qint64 at);
    bool skip(qint64 count) { return count >= 0 && seek(m_pos + count); }

    quint8 u8();
    quint16 le16();
    quint32 le32();
    quint16 be16();
    quint32 be32();
    // The next `count` bytes, or nullptr (and overrun) when fewer remain.
    const uchar *take(qint64 count);
    const uchar *data() const { return reinterpret_cast<const uchar *>(m_bytes.constData()); }

private:
    const QByteArray &m_bytes;
    qint64 m_pos = 0;
    bool m_overrun = false;
};

// Every byte of the device from its position on. What is held is bounded by the file itself,
// never by a size the file claims.
QByteArray readRemaining(QIODevice *device);

// Up to `count` bytes from the device's position, without consuming them.
QByteArray peekBytes(QIODevice *device, qint64 count);

// Bytes between the device's position and its end, or -1 for a sequential device.
qint64 bytesAfterPosition(const QIODevice *device);

// The reasons a reader gives for a refusal.
namespace refusal {
QString damaged();
QString truncated();
QString tooLarge(qint64 width, qint64 height);
QString notFormat(const char *format);
} // namespace refusal

} // namespace platform::decoders
