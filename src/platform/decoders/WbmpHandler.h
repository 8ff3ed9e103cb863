#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

namespace platform::decoders {

// Wireless bitmap, type 0: one bit a pixel, 1 white. Bytes after the picture are ignored.
class WbmpHandler : public QImageIOHandler
{
public:
    // Peeks at the header only; there is no signature, so the file must hold the pixels its
    // header claims.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    struct Header
    {
        int width = 0, height = 0;
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
