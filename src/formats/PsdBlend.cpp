#include "PsdBlend.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace psd {

namespace {

constexpr quint32 key(const char (&k)[5])
{
    return quint32(uchar(k[0])) << 24 | quint32(uchar(k[1])) << 16 | quint32(uchar(k[2])) << 8 |
           uchar(k[3]);
}

// Separable modes, one component at a time.
inline float colorBurn(float b, float s)
{
    if (b >= 1) return 1;
    if (s <= 0) return 0;
    return 1 - std::min(1.0f, (1 - b) / s);
}

inline float colorDodge(float b, float s)
{
    if (b <= 0) return 0;
    if (s >= 1) return 1;
    return std::min(1.0f, b / (1 - s));
}

inline float multiply(float b, float s)
{
    return b * s;
}

inline float screen(float b, float s)
{
    return b + s - b * s;
}

inline float hardLight(float b, float s)
{
    return s <= 0.5f ? multiply(b, 2 * s) : screen(b, 2 * s - 1);
}

inline float separable(Blend mode, float b, float s)
{
    switch (mode) {
    case Blend::Darken:
        return std::min(b, s);
    case Blend::Multiply:
        return multiply(b, s);
    case Blend::ColorBurn:
        return colorBurn(b, s);
    case Blend::LinearBurn:
        return std::max(0.0f, b + s - 1);
    case Blend::Lighten:
        return std::max(b, s);
    case Blend::Screen:
        return screen(b, s);
    case Blend::ColorDodge:
        return colorDodge(b, s);
    case Blend::LinearDodge:
        return std::min(1.0f, b + s);
    case Blend::Overlay:
        return hardLight(s, b);
    case Blend::SoftLight:
        return s <= 0.5f ? b - (1 - 2 * s) * b * (1 - b) : b + (2 * s - 1) * (std::sqrt(b) - b);
    case Blend::HardLight:
        return hardLight(b, s);
    case Blend::VividLight:
        return s <= 0.5f ? colorBurn(b, 2 * s) : colorDodge(b, 2 * s - 1);
    case Blend::LinearLight:
        return std::clamp(b + 2 * s - 1, 0.0f, 1.0f);
    case Blend::PinLight:
        return s <= 0.5f ? std::min(b, 2 * s) : std::max(b, 2 * s - 1);
    case Blend::HardMix:
        return b + s >= 1 ? 1.0f : 0.0f;
    case Blend::Difference:
        return std::abs(b - s);
    case Blend::Exclusion:
        return b + s - 2 * b * s;
    case Blend::Subtract:
        return std::max(0.0f, b - s);
    case Blend::Divide:
        if (s <= 0) return b <= 0 ? 0.0f : 1.0f;
        return std::min(1.0f, b / s);
    default:
        return s;
    }
}

// The non-separable modes work on luminosity and saturation.
inline float lum(Rgbf c)
{
    return 0.3f * c.r + 0.59f * c.g + 0.11f * c.b;
}

Rgbf clipColour(Rgbf c)
{
    const float l = lum(c);
    const float n = std::min({c.r, c.g, c.b}), x = std::max({c.r, c.g, c.b});
    auto fix = [&](float v) {
        // Guarded: a colour of one grey has no spread to scale.
        if (n < 0) v = l - n > 1e-6f ? l + (v - l) * l / (l - n) : l;
        if (x > 1) v = x - l > 1e-6f ? l + (v - l) * (1 - l) / (x - l) : l;
        return std::clamp(v, 0.0f, 1.0f);
    };
    return {fix(c.r), fix(c.g), fix(c.b)};
}

Rgbf setLum(Rgbf c, float l)
{
    const float d = l - lum(c);
    return clipColour({c.r + d, c.g + d, c.b + d});
}

inline float sat(Rgbf c)
{
    return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b});
}

Rgbf setSat(Rgbf c, float s)
{
    float *v[3] = {&c.r, &c.g, &c.b};
    std::sort(v, v + 3, [](const float *a, const float *b) { return *a < *b; });
    float &lo = *v[0], &mid = *v[1], &hi = *v[2];
    if (hi > lo) {
        mid = (mid - lo) * s / (hi - lo);
        hi = s;
    } else {
        mid = hi = 0;
    }
    lo = 0;
    return c;
}

inline int toByte(float v)
{
    return std::clamp(int(v * 255.0f + 0.5f), 0, 255);
}

} // namespace

Blend blendOf(quint32 k)
{
    switch (k) {
    case key("pass"):
        return Blend::PassThrough;
    case key("diss"):
        return Blend::Dissolve;
    case key("dark"):
        return Blend::Darken;
    case key("mul "):
        return Blend::Multiply;
    case key("idiv"):
        return Blend::ColorBurn;
    case key("lbrn"):
        return Blend::LinearBurn;
    case key("dkCl"):
        return Blend::DarkerColor;
    case key("lite"):
        return Blend::Lighten;
    case key("scrn"):
        return Blend::Screen;
    case key("div "):
        return Blend::ColorDodge;
    case key("lddg"):
        return Blend::LinearDodge;
    case key("lgCl"):
        return Blend::LighterColor;
    case key("over"):
        return Blend::Overlay;
    case key("sLit"):
        return Blend::SoftLight;
    case key("hLit"):
        return Blend::HardLight;
    case key("vLit"):
        return Blend::VividLight;
    case key("lLit"):
        return Blend::LinearLight;
    case key("pLit"):
        return Blend::PinLight;
    case key("hMix"):
        return Blend::HardMix;
    case key("diff"):
        return Blend::Difference;
    case key("smud"):
        return Blend::Exclusion;
    case key("fsub"):
        return Blend::Subtract;
    case key("fdiv"):
        return Blend::Divide;
    case key("hue "):
        return Blend::Hue;
    case key("sat "):
        return Blend::Saturation;
    case key("colr"):
        return Blend::Color;
    case key("lum "):
        return Blend::Luminosity;
    default:
        return Blend::Normal;
    }
}

namespace {

inline Rgbf blendOfColours(Blend mode, Rgbf b, Rgbf s)
{
    switch (mode) {
    case Blend::PassThrough:
    case Blend::Normal:
    case Blend::Dissolve:
        return s;
    case Blend::DarkerColor:
        return lum(s) < lum(b) ? s : b;
    case Blend::LighterColor:
        return lum(s) > lum(b) ? s : b;
    case Blend::Hue:
        return setLum(setSat(s, sat(b)), lum(b));
    case Blend::Saturation:
        return setLum(setSat(b, sat(s)), lum(b));
    case Blend::Color:
        return setLum(s, lum(b));
    case Blend::Luminosity:
        return setLum(b, lum(s));
    default:
        return {separable(mode, b.r, s.r), separable(mode, b.g, s.g), separable(mode, b.b, s.b)};
    }
}

} // namespace

Rgbf blendColour(Blend mode, Rgbf b, Rgbf s)
{
    return blendOfColours(mode, b, s);
}

bool dissolveShows(qint64 x, qint64 y, float alpha)
{
    // A hash of the position, so that neighbouring pixels are unrelated.
    quint32 h = quint32(x) * 0x9e3779b1u ^ quint32(y) * 0x85ebca77u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return float(h & 0xffffff) / float(0x1000000) < alpha;
}

namespace {

// One span in one mode: the mode is a constant, so that its blend is worked out once.
template <Blend Mode>
void spanIn(const SpanBlend &how, const QRgb *source, const uchar *coverage, QRgb *backdrop,
            int count, qint64 x, qint64 y)
{
    const float scale = how.alpha / (255.0f * 255.0f);
    for (int i = 0; i < count; ++i) {
        const QRgb sp = source[i];
        float shape = qAlpha(sp) * scale;
        if (coverage) shape *= coverage[i] / 255.0f;
        if (shape <= 0) continue;
        float as = shape * how.fill;
        if (Mode == Blend::Dissolve) {
            as = dissolveShows(x + i, y, as) ? 1.0f : 0.0f;
            shape = std::max(shape, as);
        }
        if constexpr (Mode == Blend::Normal || Mode == Blend::PassThrough) {
            // An opaque source in normal mode replaces what is below.
            if (as >= 1.0f && !how.atop && !how.knockout) {
                backdrop[i] = sp | 0xff000000u;
                continue;
            }
        }
        const QRgb bp = backdrop[i];
        const Rgbf s{qRed(sp) / 255.0f, qGreen(sp) / 255.0f, qBlue(sp) / 255.0f};
        const Rgbf b{qRed(bp) / 255.0f, qGreen(bp) / 255.0f, qBlue(bp) / 255.0f};
        const float ab = qAlpha(bp) / 255.0f;
        if (how.knockout) {
            // The layer on transparency, in place of the backdrop as far as its shape goes.
            const float ao = as + ab * (1 - shape);
            if (ao <= 0) {
                backdrop[i] = 0;
                continue;
            }
            const float k = as / ao, keep = ab * (1 - shape) / ao;
            backdrop[i] = qRgba(toByte(s.r * k + b.r * keep), toByte(s.g * k + b.g * keep),
                                toByte(s.b * k + b.b * keep), toByte(ao));
            continue;
        }
        if (as <= 0) continue;
        const Rgbf m = ab > 0 ? blendOfColours(Mode, b, s) : s;
        // The source as seen where there is backdrop: its colour blended with it.
        const Rgbf mixed{(1 - ab) * s.r + ab * m.r, (1 - ab) * s.g + ab * m.g,
                         (1 - ab) * s.b + ab * m.b};
        if (how.atop) {
            if (ab <= 0) continue;
            backdrop[i] =
                qRgba(toByte(as * mixed.r + (1 - as) * b.r), toByte(as * mixed.g + (1 - as) * b.g),
                      toByte(as * mixed.b + (1 - as) * b.b), qAlpha(bp));
            continue;
        }
        const float ao = as + ab * (1 - as);
        const float under = (1 - as) * ab;
        backdrop[i] = qRgba(toByte((as * mixed.r + under * b.r) / ao),
                            toByte((as * mixed.g + under * b.g) / ao),
                            toByte((as * mixed.b + under * b.b) / ao), toByte(ao));
    }
}

} // namespace

void blendSpan(const SpanBlend &how, const QRgb *source, const uchar *coverage, QRgb *backdrop,
               int count, qint64 x, qint64 y)
{
    using Span =
        void (*)(const SpanBlend &, const QRgb *, const uchar *, QRgb *, int, qint64, qint64);
    static constexpr Span kSpans[] = {
        spanIn<Blend::PassThrough>,  spanIn<Blend::Normal>,      spanIn<Blend::Dissolve>,
        spanIn<Blend::Darken>,       spanIn<Blend::Multiply>,    spanIn<Blend::ColorBurn>,
        spanIn<Blend::LinearBurn>,   spanIn<Blend::DarkerColor>, spanIn<Blend::Lighten>,
        spanIn<Blend::Screen>,       spanIn<Blend::ColorDodge>,  spanIn<Blend::LinearDodge>,
        spanIn<Blend::LighterColor>, spanIn<Blend::Overlay>,     spanIn<Blend::SoftLight>,
        spanIn<Blend::HardLight>,    spanIn<Blend::VividLight>,  spanIn<Blend::LinearLight>,
        spanIn<Blend::PinLight>,     spanIn<Blend::HardMix>,     spanIn<Blend::Difference>,
        spanIn<Blend::Exclusion>,    spanIn<Blend::Subtract>,    spanIn<Blend::Divide>,
        spanIn<Blend::Hue>,          spanIn<Blend::Saturation>,  spanIn<Blend::Color>,
        spanIn<Blend::Luminosity>,
    };
    static_assert(std::size(kSpans) == size_t(Blend::Luminosity) + 1, "a span for every mode");
    kSpans[size_t(how.mode)](how, source, coverage, backdrop, count, x, y);
}

} // namespace psd
