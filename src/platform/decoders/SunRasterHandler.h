#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>
#include <QVector>

namespace platform::decoders {

// Sun raster: 1, 8, 24 and 32 bits, standard, run-length and RGB-ordered files, with or
// without a colour map.
class SunRasterHandler : public QImageIOHandler
{
public:
    // Peeks at the header only: the magic number, depth and type.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const { return m_error; }

    struct Header
    {
        int width = 0, height = 0, depth = 0;
        quint32 type = 0, mapType = 0, mapLength = 0;
        QVector<QRgb> map; // empty when the file has no usable colour map
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
