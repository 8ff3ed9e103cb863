#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

namespace platform::decoders {

// Truevision TGA: colour-mapped, true-colour and grey pictures, raw or run-length (types 1, 2,
// 3, 9, 10, 11), 8/15/16/24/32 bits, every origin, and the TGA 2.0 footer whose extension
// area says whether the attribute bits are alpha.
class TgaHandler : public QImageIOHandler
{
public:
    // Peeks at the header only. Strict, since TGA has no signature: an icon or cursor
    // directory must not be taken for a picture.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    struct Header
    {
        quint8 idLength = 0, mapType = 0, imageType = 0;
        quint16 mapFirst = 0, mapLength = 0;
        quint8 mapEntryBits = 0;
        quint16 width = 0, height = 0;
        quint8 depth = 0, descriptor = 0;
        // Worked out from the header and the footer.
        qint64 dataOffset = 0;
        bool extensionArea = false;
        bool alpha = false;
        bool premultiplied = false;
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
