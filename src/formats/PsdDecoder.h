#pragma once

#include "PsdSections.h"

#include <QIODevice>
#include <QImage>

namespace psd {

// Decodes the merged picture of a Photoshop document (PSD or PSB) from the device's
// current position. A document saved without its merged picture stores a blank one (all
// white, or all transparent) in its place, and its version information (resource 1057) may
// say so: then the layers are composed instead, for the documents whose layers can be (see
// PsdLayerComposer). Spot-colour channels are drawn over the picture in their inks. Knows
// nothing of Qt's plug-in machinery, so it can be driven from a QBuffer.
class PsdDecoder
{
public:
    explicit PsdDecoder(QIODevice *device) : m_device(device) {}

    // Fills *image and returns true, or returns false with *image untouched. Every size
    // taken from the file is checked against the bytes that really remain before it is
    // used, so a hostile file ends in a refusal without a large allocation.
    bool read(QImage *image);

    // The document's version (1 = PSD, 2 = PSB) once read() got past the header, else 0.
    int version() const { return m_version; }
    // Why the last read() refused the document; None after a success.
    PsdError error() const { return m_error; }
    // Layers drawn into the picture by the last read(); 0 when it is the merged picture.
    int layersDrawn() const { return m_layersDrawn; }

private:
    bool readFrom(PsdSectionReader &reader, QImage *image);
    void composeLayers(PsdSectionReader &reader, QImage &picture);
    void drawSpotColours(PsdSectionReader &reader, quint64 countsAt, QImage &picture);

    QIODevice *m_device;
    int m_layersDrawn = 0;
    int m_version = 0;
    PsdError m_error = PsdError::None;
};

} // namespace psd
