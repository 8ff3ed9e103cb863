#pragma once

#include <QImageIOHandler>
#include <QSize>
#include <QString>
#include <QVector>

class QIODevice;

namespace platform::decoders {

// The TIFF pages that Qt's TIFF reader refuses or shows with wrong colours, read through
// libtiff's strip and tile interface and converted here: L*a*b* pages (CIELab, ICCLab,
// ITULab; libtiff's own RGBA conversion turns their white yellow), grey at depths other
// than 1, 2, 4, 8 and 16 bits and RGB at depths other than 8 and 16 (12-bit scans), 16-bit
// RGB stored in planes (tiled or in strips) and grey with alpha. A file is claimed when one
// of its pages is such a page; its other pages are still decoded by Qt's TIFF reader.
class TiffHandler : public QImageIOHandler
{
public:
    TiffHandler();
    ~TiffHandler() override;

    // Whether the device holds a TIFF file with a page that needs this reader. Reads the
    // directories and leaves the device where it was.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;
    int imageCount() const override;
    bool jumpToImage(int imageNumber) override;
    bool jumpToNextImage() override;
    int currentImageNumber() const override;

    // Why the last read failed; empty when nothing failed.
    QString errorText() const;

private:
    struct Page
    {
        QSize size;
        bool ours = false;
        bool alpha = false;
        int orientation = 1; // the Orientation tag
    };
    bool scan() const;

    mutable bool m_scanned = false;
    mutable QVector<Page> m_pages;
    mutable QString m_error;
    mutable qint64 m_start = 0;
    int m_current = 0;
};

} // namespace platform::decoders
