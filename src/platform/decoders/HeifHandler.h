#pragma once

#include <QByteArray>
#include <QImageIOHandler>
#include <QString>

#include <memory>

class QIODevice;

namespace platform::decoders {

// HEIF and HEIC pictures through libheif: the primary image, with its rotation, mirroring,
// cropping and grid applied by libheif, and its alpha. The sizes are checked against
// DecoderLimits before any pixel is decoded, and libheif decodes strictly: a damaged file
// is refused with libheif's reason instead of showing a half-decoded picture.
class HeifHandler : public QImageIOHandler
{
public:
    HeifHandler();
    ~HeifHandler() override;

    // Whether the device's first bytes are a HEIF file type box that libheif can read.
    // Only peeks.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read or option failed; empty when nothing failed.
    QString errorText() const;

    // The EXIF block of the primary image, starting at its TIFF header ("II*\0" or
    // "MM\0*"); empty when it has none.
    QByteArray exif() const;

private:
    struct Container;
    bool open() const;

    mutable std::unique_ptr<Container> m_container;
    mutable QString m_error;
    mutable bool m_opened = false;
};

// The EXIF block of the primary image of the HEIF file on `device`, starting at its TIFF
// header ("II*\0" or "MM\0*"); empty when the file has none or is no HEIF file.
QByteArray heifExif(QIODevice *device);

} // namespace platform::decoders
