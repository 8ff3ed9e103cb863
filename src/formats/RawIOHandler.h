#pragma once

#include "picsage_global.h"

#include <QImageIOHandler>
#include <QSize>

#include <memory>

namespace raw {
class RawFile;
}

// Reads camera raw files through the preview that the camera embedded in them, scaled to the
// size the caller asks for; reports the camera's picture size and a summary of the shooting
// data. Only files on disk are read (the device must be a QFile). Writing is not supported.
class PICSAGE_EXPORT RawIOHandler : public QImageIOHandler
{
public:
    RawIOHandler();
    ~RawIOHandler() override;

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant &value) override;

    // Whether a throw-away handler opens `device`; the device is left at its start.
    static bool canRead(QIODevice *device);

private:
    bool _open() const;

    // Opened once, on the first successful open, and kept for the handler's life.
    mutable std::unique_ptr<raw::RawFile> m_raw;
    QSize m_scaledSize;
};
