#pragma once

#include "PsdAdjustments.h"
#include "PsdEffects.h"
#include "PsdFillLayers.h"
#include "PsdHeader.h"
#include "PsdLayers.h"
#include "PsdSections.h"
#include "PsdVectorMask.h"

#include <QImage>

namespace psd {

// What a layer record's tagged blocks add to its pixels: a fill layer's content, an
// adjustment layer's change to what lies below, and a vector mask. The composer asks it
// for pixels in place of the channels for the first two and lets it mask every layer.
class PsdLayerMaker
{
public:
    // layers: the document's layer section, whose closing blocks hold the patterns. A
    // greyscale document's made pixels carry their grey in the first byte.
    PsdLayerMaker(QIODevice *device, const PsdHeader &header, const PsdSection &layers,
                  const LayerRecord &record, QSize document);

    // True for a record with a fill block, whether or not its settings can be drawn.
    static bool isFillRecord(const LayerRecord &record);
    // Reads the mask record's density, feather and real user mask: when channel -2 is a
    // rendered vector mask, the user's own mask (-3) takes its place, or none does, since
    // the vector mask is drawn from its path.
    static void resolveMasks(QIODevice *device, LayerRecord *record);
    // Applies the user mask's density and feather to its decoded plane (w x h bytes).
    static void finishMask(const LayerRecord &record, uchar *plane, int w, int h);

    // The layer's pixels come from its settings rather than from its channels.
    bool makesPixels() const { return m_fill.isValid() || m_adjustment.isValid(); }
    // The part of the document that made pixels cover: a fill its bounds, or the whole
    // document when they are empty; an adjustment the whole document.
    LayerRect area(const LayerRect &bounds, const LayerRect &document) const;
    // Makes the pixels of window (red, green, blue, alpha bytes). An adjustment reads the
    // canvas below, or nothing when there is none yet.
    void make(const LayerRect &window, const QImage *canvas, uchar *pixels) const;
    // Scales the pixels' alpha by the vector mask, when the layer has an enabled one.
    void applyVectorMask(const LayerRect &window, uchar *pixels) const;
    // Draws the layer's effects: behind it onto the canvas, on it into pixels. mask: the
    // decoded user mask of window, or none. opacity: the layer's, 0 to 255.
    void applyEffects(const LayerRect &window, const LayerRect &bounds, int opacity,
                      const uchar *mask, uchar *pixels, QImage &canvas) const;

private:
    void adjust(const LayerRect &window, const QImage &canvas, uchar *pixels) const;
    static QImage pattern(QIODevice *device, const PsdHeader &header, const PsdSection &layers,
                          const QString &id);

    PsdFill m_fill;
    PsdAdjustment m_adjustment;
    PsdVectorMask m_vectorMask;
    PsdEffects m_effects;
    QSize m_document;
    bool m_grey = false;
};

} // namespace psd
