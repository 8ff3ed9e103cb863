#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

namespace platform::decoders {

// Netpbm: plain and raw bitmaps, grey maps and pixmaps (P1 to P6), any maxval up to 65535
// scaled exactly to 8 bits. A plain bitmap's 0/1 pixels need not be separated.
class NetpbmHandler : public QImageIOHandler
{
public:
    // Peeks at the magic number only ("P1" to "P6" and a separator).
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    struct Header
    {
        char kind = 0; // '1' to '6'
        int width = 0, height = 0, maxValue = 1;
        qint64 dataOffset = 0;
    };

private:
    bool load() const;

    mutable bool m_loaded = false;
    mutable bool m_ready = false;
    mutable QByteArray m_bytes;
    mutable Header m_header;
    mutable QString m_error;
};

} // namespace platform::decoders
