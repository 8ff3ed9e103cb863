#pragma once

#include <QImageIOHandler>
#include <QRgb>
#include <QString>
#include <QVector>

namespace platform::decoders {

// What a BMP file's headers say, read and checked against the file's length.
struct BmpHeader
{
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    quint32 compression = 0;
    // Red, green, blue, alpha; a zero alpha mask means opaque pixels.
    quint32 masks[4] = {};
    // Only the entries that lie before the pixels: OS/2 files often hold fewer than their
    // depth allows.
    QVector<QRgb> palette;
    qint64 pixelsAt = 0;

    bool runLength() const { return compression == 1 || compression == 2; }
    bool hasAlpha() const { return masks[3] != 0 || runLength(); }
};

// Reads Windows and OS/2 BMP files: info headers of 12, 16, 40, 52, 56, 64, 108 and 124
// bytes, 1 to 32 bits, RLE4 and RLE8 (pixels that the runs skip stay transparent), bit
// fields with or without alpha, bottom-up and top-down rows. Every mask is scaled to the full
// 0..255 range. Writing is not supported.
class BmpHandler : public QImageIOHandler
{
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read() or header check failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    // Peeks (never consumes) for the signature and a known info header size.
    static bool canRead(QIODevice *device);

    // Reads the headers at the start of `data`, a file of `fileSize` bytes (-1: unknown, the
    // pixel data is then not checked). False with a reason in `why` when they are unusable.
    static bool parseHeader(const QByteArray &data, qint64 fileSize, BmpHeader *header,
                            QString *why);
    // Decodes the pixels of a whole file whose headers `header` holds; null with a reason in
    // `why` on failure.
    static QImage decode(const QByteArray &file, const BmpHeader &header, QString *why);

private:
    bool readHeader() const;

    mutable BmpHeader m_header;
    mutable int m_state = 0; // 0 unread, 1 read, -1 refused
    mutable QString m_error;
};

} // namespace platform::decoders
