#pragma once

#include <QIODevice>

namespace psd {

// Big-endian reads from a random-access device that never go past its end. Every length
// taken from the file can be checked against remaining() before anything is done with it.
// The first failed read or skip marks the stream failed, and so do all later ones.
class PsdStream
{
public:
    explicit PsdStream(QIODevice *device) : m_device(device) {}

    bool ok() const { return m_ok; }
    QIODevice *device() const { return m_device; }
    qint64 pos() const { return m_device->pos(); }
    quint64 remaining() const;

    quint8 readU8();
    quint16 readU16();
    quint32 readU32();
    quint64 readU64();
    // Reads exactly size bytes into data.
    bool readBytes(char *data, qint64 size);
    // Skips size bytes when at least that many remain; otherwise fails and stays put.
    bool skip(quint64 size);
    // Moves to an absolute position inside the device.
    bool seek(quint64 position);
    bool fail()
    {
        m_ok = false;
        return false;
    }

private:
    QIODevice *m_device;
    bool m_ok = true;
};

} // namespace psd
