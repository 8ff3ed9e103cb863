#pragma once

#include "PsdFillLayers.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QStringList>

#include <vector>

namespace psd {

struct DescriptorValue;

// Averages a w x h plane over squares of radius r (rows, then columns), in place; near
// the edges over the part of the square inside the plane.
void boxBlur(std::vector<float> &plane, int w, int h, int r);

// The layer effects of an 'lfx2' or 'lmfx' block that are drawn: colour, gradient and
// pattern overlays, inner shadow and glow and an inside stroke change the layer's pixels; a drop
// shadow, an outer glow and an outside (or centred) stroke are drawn onto the canvas below it. Each
// works on the layer's visible rectangle widened by the effect's reach, clipped to the canvas.
class PsdEffects
{
public:
    static PsdEffects fromBlock(quint32 key, const QByteArray &block);
    bool isEmpty() const { return m_effects.empty(); }
    // Pattern overlays name their patterns; each is drawn once it has its picture.
    QStringList patternIds() const;
    void setPattern(const QString &id, const QImage &tile);

    // Draws the effects of a layer whose pixels (red, green, blue, alpha bytes) cover
    // window of the canvas, shaped by its alpha and mask (a byte a pixel, or none). box:
    // the layer's bounds, for the geometry of gradients. opacity: the layer's, 0 to 1.
    // Effects behind the layer go onto the canvas; those on it change pixels.
    void apply(const QRect &window, const QRect &box, double opacity, const uchar *mask,
               uchar *pixels, QImage &canvas) const;

private:
    enum class Type {
        ColourOverlay,
        GradientOverlay,
        Stroke,
        DropShadow,
        OuterGlow,
        InnerShadow,
        InnerGlow
    };
    enum class Mode { Normal, Multiply, Screen };
    struct Effect
    {
        Type type = Type::ColourOverlay;
        Mode mode = Mode::Normal;
        QRgb colour = 0xff000000;
        double opacity = 1;
        double size = 0;       // pixels: blur or stroke width
        double spread = 0;     // 0 to 1
        double dx = 0, dy = 0; // the shadow's offset
        int strokePlace = 0;   // -1 inside, 0 centre, 1 outside
        PsdFill gradient;      // of a gradient or pattern overlay
    };

    static bool parseEffect(const char *key, const DescriptorValue &d, Effect *e);
    void behind(const Effect &e, const QRect &window, double opacity, const uchar *shape,
                QImage &canvas) const;
    void onLayer(const Effect &e, const QRect &window, const QRect &box, const uchar *shape,
                 uchar *pixels) const;

    std::vector<Effect> m_effects;
};

} // namespace psd
