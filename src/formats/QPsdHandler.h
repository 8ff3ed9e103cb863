#pragma once

#include "PsdSections.h"
#include "picsage_global.h"

#include <QImageIOHandler>

// Reads the merged picture of Photoshop documents, "psd" and the large "psb" variant.
// Writing is not supported.
class PICSAGE_EXPORT QPsdHandler : public QImageIOHandler
{
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // Why the last read() failed (None after a success or before any read), and the same
    // as a sentence.
    psd::PsdError error() const { return m_error; }
    QString errorString() const;

    // Peeks (never consumes) for the signature and a known version.
    static bool canRead(QIODevice *device);

private:
    psd::PsdError m_error = psd::PsdError::None;
};
