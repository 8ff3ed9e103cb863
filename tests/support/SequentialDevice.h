#pragma once

// A device that can only be read front to back, as a pipe or a socket is.

#include <QByteArray>
#include <QIODevice>

#include <cstring>

class SequentialDevice : public QIODevice
{
public:
    explicit SequentialDevice(const QByteArray &bytes) : m_bytes(bytes)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_bytes.size() - m_next + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin<qint64>(maxSize, m_bytes.size() - m_next);
        std::memcpy(data, m_bytes.constData() + m_next, size_t(n));
        m_next += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_next = 0;
};
