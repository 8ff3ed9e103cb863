#pragma once

#include <QRgb>
#include <QtGlobal>

namespace psd {

// The blend modes of layers and groups, by their four-character keys.
enum class Blend {
    PassThrough, // groups only: members blend with what lies below the group
    Normal,
    Dissolve,
    Darken,
    Multiply,
    ColorBurn,
    LinearBurn,
    DarkerColor,
    Lighten,
    Screen,
    ColorDodge,
    LinearDodge,
    LighterColor,
    Overlay,
    SoftLight,
    HardLight,
    VividLight,
    LinearLight,
    PinLight,
    HardMix,
    Difference,
    Exclusion,
    Subtract,
    Divide,
    Hue,
    Saturation,
    Color,
    Luminosity,
};

// The mode a key names; an unknown key is drawn as normal.
Blend blendOf(quint32 key);

// The blended colour B(backdrop, source) of two opaque colours, components 0 to 1, as the
// mode defines it (dissolve and pass-through blend as normal).
struct Rgbf
{
    float r, g, b;
};
Rgbf blendColour(Blend mode, Rgbf backdrop, Rgbf source);

// Whether a dissolve pixel at document position (x, y) shows a source of alpha `alpha`
// (0 to 1): a fixed noise, so the same document always dissolves the same way.
bool dissolveShows(qint64 x, qint64 y, float alpha);

// Composes a span of source pixels (0xAARRGGBB, not premultiplied) onto a span of
// backdrop pixels in place. `alpha` (opacity) and `fill` (fill opacity) scale every source
// alpha; `coverage`, when not null, scales each one further (a clipping base, a mask).
// `x`, `y` is the document position of the first pixel, for dissolve.
struct SpanBlend
{
    Blend mode = Blend::Normal;
    float alpha = 255; // opacity, 0 to 255
    // Keep the backdrop's alpha: the source only shows where the backdrop is (a layer
    // clipped to the base drawn below it in the same buffer).
    bool atop = false;
    float fill = 1;
    // Knock out: as far as the layer's shape (its alpha without `fill`) covers the
    // backdrop, the layer replaces it, composed onto transparency rather than onto it.
    bool knockout = false;
};
void blendSpan(const SpanBlend &how, const QRgb *source, const uchar *coverage, QRgb *backdrop,
               int count, qint64 x, qint64 y);

} // namespace psd
