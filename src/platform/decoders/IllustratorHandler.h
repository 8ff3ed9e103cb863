#pragma once

#include <QImageIOHandler>
#include <QSize>
#include <QString>

#include <memory>

class QIODevice;

namespace Poppler {
class Document;
}

namespace platform::decoders {

// Illustrator files saved PDF-compatible, through Poppler's Qt 5 binding: the first page, at
// 72 dpi (one pixel a point) or fitted into the scaled size, on transparent paper. The size
// is bounded by DecoderLimits (a larger page is drawn smaller), and a drawing that takes
// longer than MaxRenderSeconds is abandoned. Files with only the PostScript part and
// encrypted files are refused.
class IllustratorHandler : public QImageIOHandler
{
public:
    static constexpr int MaxRenderSeconds = 20;

    IllustratorHandler();
    ~IllustratorHandler() override;

    // Whether the device's first kilobyte holds a PDF header. Only peeks.
    static bool canRead(QIODevice *device);

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant &value) override;

    // Why the last read failed; empty when nothing failed.
    QString errorText() const;

private:
    bool open() const;

    mutable std::unique_ptr<Poppler::Document> m_document;
    mutable QSize m_pageSize; // at 72 dpi, within DecoderLimits
    mutable bool m_opened = false;
    mutable QString m_error;
    QSize m_scaledSize;
};

} // namespace platform::decoders
