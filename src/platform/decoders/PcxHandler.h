#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>
#include <QVector>

namespace platform::decoders {

// ZSoft PCX: 1, 2, 4 and 8 bits in one plane, 1 bit in up to four planes (EGA), 8 bits in
// three or four planes (RGB, RGBA), run-length across planes and rows.
class PcxHandler : public QImageIOHandler
{
public:
    // Peeks at the header only; the maker byte, version, depth and planes must agree.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    struct Header
    {
        quint8 version = 0, encoding = 0, bitsPerPixel = 0, planes = 0;
        int width = 0, height = 0;
        quint16 bytesPerLine = 0;
        QVector<QRgb> palette; // the header's 16 colours, or the 256 at the file's end
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
