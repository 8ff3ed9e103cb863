#pragma once

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

    // Peeks (never consumes) for the signature and a known version.
    static bool canRead(QIODevice *device);
};
