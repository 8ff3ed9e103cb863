#include "PsdEffects.h"

#include "PsdDescriptor.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

// Effects reach at most this far from the layer; larger sizes are cut to it.
constexpr double kMaxReach = 250;
constexpr size_t kMaxEffects = 64;
// Effects of a larger area than this (a layer of 4096 x 4096 pixels) are not drawn.
constexpr qint64 kMaxEffectPixels = qint64(1) << 24;

inline double blendOne(int mode, double b, double s)
{
    switch (mode) {
    case 1:
        return b * s;
    case 2:
        return b + s - b * s;
    default:
        return s;
    }
}

inline uchar toByte(double v)
{
    return uchar(std::clamp(int(std::lround(v)), 0, 255));
}

// Distance (in pixels, by chamfer steps) from each pixel's centre to the nearest centre of
// a pixel where inside is true; 0 on them. A pixel at distance d lies between d - 1 and d
// from the shape's edge, so a band of width b covers it by b + 1 - d.
std::vector<float> distanceTo(const std::vector<bool> &inside, int w, int h)
{
    const float big = 1e9f, d1 = 1.0f, d2 = 1.41421356f;
    std::vector<float> d(inside.size());
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = inside[i] ? 0 : big;
    const auto at = [&](int x, int y) -> float & { return d[size_t(y) * size_t(w) + size_t(x)]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float &v = at(x, y);
            if (x > 0) v = std::min(v, at(x - 1, y) + d1);
            if (y > 0) v = std::min(v, at(x, y - 1) + d1);
            if (x > 0 && y > 0) v = std::min(v, at(x - 1, y - 1) + d2);
            if (x + 1 < w && y > 0) v = std::min(v, at(x + 1, y - 1) + d2);
        }
    for (int y = h; y-- > 0;)
        for (int x = w; x-- > 0;) {
            float &v = at(x, y);
            if (x + 1 < w) v = std::min(v, at(x + 1, y) + d1);
            if (y + 1 < h) v = std::min(v, at(x, y + 1) + d1);
            if (x + 1 < w && y + 1 < h) v = std::min(v, at(x + 1, y + 1) + d2);
            if (x > 0 && y + 1 < h) v = std::min(v, at(x - 1, y + 1) + d2);
        }
    return d;
}

// Spread (or choke) hardens the edge by its share of the size, the blur softens it by the
// rest.
void spreadAndBlur(std::vector<float> &plane, int w, int h, double size, double spread)
{
    const int hard = int(std::lround(size * spread));
    if (hard > 0) {
        std::vector<bool> inside(plane.size());
        for (size_t i = 0; i < plane.size(); ++i)
            inside[i] = plane[i] >= 0.5f;
        const std::vector<float> d = distanceTo(inside, w, h);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = std::max(plane[i], float(std::clamp(hard + 1.0 - d[i], 0.0, 1.0)));
    }
    boxBlur(plane, w, h, int(std::lround(size * (1 - spread))));
}

int modeOf(const DescriptorValue &d, int fallback)
{
    const QByteArray m = d.enumOf("Md  ");
    if (m == "Nrml") return 0;
    if (m == "Mltp") return 1;
    if (m == "Scrn") return 2;
    return m.isEmpty() ? fallback : 0;
}

} // namespace

// A box blur of radius r, rows then columns, over a w x h plane of 0 to 1.
void boxBlur(std::vector<float> &plane, int w, int h, int r)
{
    if (r <= 0) return;
    std::vector<float> line(size_t(std::max(w, h)) + 1);
    const auto pass = [&](int count, int length, size_t step, size_t stride) {
        for (int i = 0; i < count; ++i) {
            float *p = plane.data() + size_t(i) * stride;
            line[0] = 0;
            for (int k = 0; k < length; ++k)
                line[size_t(k) + 1] = line[size_t(k)] + p[size_t(k) * step];
            for (int k = 0; k < length; ++k) {
                const int lo = std::max(0, k - r), hi = std::min(length, k + r + 1);
                p[size_t(k) * step] = (line[size_t(hi)] - line[size_t(lo)]) / float(hi - lo);
            }
        }
    };
    pass(h, w, 1, size_t(w));
    pass(w, h, size_t(w), 1);
}

bool PsdEffects::parseEffect(const char *key, const DescriptorValue &d, Effect *e)
{
    if (d.type != DescriptorValue::Object || d.numberOf("enab", 1) == 0) return false;
    const QByteArray k(key);
    const DescriptorValue *colour = d.find("Clr ");
    if (colour) descriptorColour(*colour, &e->colour);
    e->opacity = std::clamp(d.numberOf("Opct", 100), 0.0, 100.0) / 100;
    e->size = std::clamp(d.numberOf("blur"), 0.0, kMaxReach);
    e->spread = std::clamp(d.numberOf("Ckmt"), 0.0, 100.0) / 100;
    if (k == "SoFi" || k == "solidFillMulti") {
        e->type = Type::ColourOverlay;
        e->mode = Mode(modeOf(d, 0));
        return colour != nullptr;
    }
    if (k == "GrFl" || k == "gradientFillMulti") {
        e->type = Type::GradientOverlay;
        e->mode = Mode(modeOf(d, 0));
        // The overlay keeps its settings as a gradient fill does.
        e->gradient = PsdFill::fromGradient(d);
        return e->gradient.isValid();
    }
    if (k == "patternFill" || k == "patternFillMulti") {
        e->type = Type::GradientOverlay; // drawn as the gradient is, from its own fill
        e->mode = Mode(modeOf(d, 0));
        e->gradient = PsdFill::fromPattern(d);
        return !e->gradient.patternId().isEmpty();
    }
    if (k == "FrFX" || k == "frameFXMulti") {
        e->type = Type::Stroke;
        e->mode = Mode(modeOf(d, 0));
        e->size = std::clamp(d.numberOf("Sz  ", 1), 0.0, kMaxReach);
        const QByteArray place = d.enumOf("Styl");
        e->strokePlace = place == "InsF" ? -1 : place == "CtrF" ? 0 : 1;
        // Only strokes of one colour are drawn.
        return colour != nullptr && (d.enumOf("PntT").isEmpty() || d.enumOf("PntT") == "SClr");
    }
    if (k == "DrSh" || k == "dropShadowMulti" || k == "IrSh" || k == "innerShadowMulti") {
        const bool inner = k.startsWith("I") || k.startsWith("inner");
        e->type = inner ? Type::InnerShadow : Type::DropShadow;
        e->mode = Mode(modeOf(d, 1));
        const double angle = d.numberOf("lagl", 120) * M_PI / 180;
        const double distance = std::clamp(d.numberOf("Dstn", 5), 0.0, kMaxReach);
        // The light comes from the angle; the shadow falls the other way.
        e->dx = -std::cos(angle) * distance;
        e->dy = std::sin(angle) * distance;
        return true;
    }
    if (k == "IrGl" || k == "innerGlowMulti") {
        e->type = Type::InnerGlow;
        e->mode = Mode(modeOf(d, 2));
        return colour != nullptr;
    }
    if (k == "OrGl" || k == "outerGlowMulti") {
        e->type = Type::OuterGlow;
        e->mode = Mode(modeOf(d, 2));
        return colour != nullptr;
    }
    return false;
}

PsdEffects PsdEffects::fromBlock(quint32 key, const QByteArray &block)
{
    PsdEffects effects;
    // 'lfx2' and 'lmfx': a version of the effects, then a versioned descriptor.
    if ((key != fourCC("lfx2") && key != fourCC("lmfx")) || block.size() < 8) return effects;
    DescriptorValue d;
    if (!parseVersionedDescriptor(block.mid(4), &d) || d.numberOf("masterFXSwitch", 1) == 0)
        return effects;
    // Drawn from the bottom of Photoshop's stack up: behind the layer, then the overlays
    // (pattern, gradient, colour), inner glow and shadow, the stroke on top.
    static const char *const kOrder[] = {
        "DrSh", "dropShadowMulti",   "OrGl", "outerGlowMulti", "patternFill", "patternFillMulti",
        "GrFl", "gradientFillMulti", "SoFi", "solidFillMulti", "IrGl",        "innerGlowMulti",
        "IrSh", "innerShadowMulti",  "FrFX", "frameFXMulti"};
    for (const char *k : kOrder) {
        const DescriptorValue *v = d.find(k);
        if (!v) continue;
        const std::vector<DescriptorValue> single(v->type == DescriptorValue::Object ? 1 : 0, *v);
        const std::vector<DescriptorValue> &list =
            v->type == DescriptorValue::List ? v->children : single;
        for (const DescriptorValue &one : list) {
            Effect e;
            if (effects.m_effects.size() < kMaxEffects && parseEffect(k, one, &e))
                effects.m_effects.push_back(e);
        }
    }
    return effects;
}

void PsdEffects::apply(const QRect &window, const QRect &box, double opacity, const uchar *mask,
                       uchar *pixels, QImage &canvas) const
{
    const size_t count = size_t(window.width()) * size_t(window.height());
    if (m_effects.empty() || qint64(count) > kMaxEffectPixels) return;
    // The layer's shape: its alpha through its mask.
    std::vector<uchar> shape(count);
    for (size_t i = 0; i < count; ++i)
        shape[i] = uchar(mask ? (pixels[i * 4 + 3] * mask[i] + 127) / 255 : pixels[i * 4 + 3]);
    for (const Effect &e : m_effects) {
        if (e.type == Type::DropShadow || e.type == Type::OuterGlow ||
            (e.type == Type::Stroke && e.strokePlace >= 0))
            behind(e, window, opacity, shape.data(), canvas);
        if (e.type == Type::ColourOverlay || e.type == Type::GradientOverlay ||
            e.type == Type::InnerShadow || e.type == Type::InnerGlow ||
            (e.type == Type::Stroke && e.strokePlace <= 0))
            onLayer(e, window, box, shape.data(), pixels);
    }
}

void PsdEffects::behind(const Effect &e, const QRect &window, double opacity, const uchar *shape,
                        QImage &canvas) const
{
    const int reach = int(std::ceil(e.size + std::max(std::abs(e.dx), std::abs(e.dy)))) + 1;
    const QRect area = window.adjusted(-reach, -reach, reach, reach) & canvas.rect();
    if (area.isEmpty() || qint64(area.width()) * area.height() > kMaxEffectPixels) return;
    const int w = area.width(), h = area.height();
    // The layer's coverage, moved by the shadow's offset, in the widened area.
    std::vector<float> plane(size_t(w) * size_t(h), 0.0f);
    const int ox = int(std::lround(e.dx)), oy = int(std::lround(e.dy));
    for (int y = 0; y < window.height(); ++y)
        for (int x = 0; x < window.width(); ++x) {
            const int ax = window.x() + x + ox - area.x(), ay = window.y() + y + oy - area.y();
            if (ax < 0 || ay < 0 || ax >= w || ay >= h) continue;
            plane[size_t(ay) * size_t(w) + size_t(ax)] =
                shape[size_t(y) * size_t(window.width()) + size_t(x)] / 255.0f;
        }
    if (e.type == Type::Stroke) {
        // Out to the stroke's width (half of it when centred) from the shape's edge.
        std::vector<bool> inside(plane.size());
        for (size_t i = 0; i < plane.size(); ++i)
            inside[i] = plane[i] >= 0.5f;
        const std::vector<float> d = distanceTo(inside, w, h);
        const double width = e.strokePlace > 0 ? e.size : e.size / 2;
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = float(std::clamp(width + 1 - d[i], 0.0, 1.0));
    } else {
        spreadAndBlur(plane, w, h, e.size, e.spread);
    }
    const int mode = int(e.mode);
    const double c[3] = {qRed(e.colour) / 255.0, qGreen(e.colour) / 255.0, qBlue(e.colour) / 255.0};
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(canvas.scanLine(area.y() + y)) + area.x();
        for (int x = 0; x < w; ++x) {
            const double as = plane[size_t(y) * size_t(w) + size_t(x)] * e.opacity * opacity;
            if (as <= 0) continue;
            const QRgb under = line[x];
            const double ab = qAlpha(under) / 255.0, ao = as + ab * (1 - as);
            const double b[3] = {qRed(under) / 255.0, qGreen(under) / 255.0, qBlue(under) / 255.0};
            uchar out[3];
            for (int k = 0; k < 3; ++k) {
                const double mixed = (1 - ab) * c[k] + ab * blendOne(mode, b[k], c[k]);
                out[k] = toByte(255 * (as * mixed + (1 - as) * ab * b[k]) / ao);
            }
            line[x] = qRgba(out[0], out[1], out[2], toByte(255 * ao));
        }
    }
}

void PsdEffects::onLayer(const Effect &e, const QRect &window, const QRect &box, const uchar *shape,
                         uchar *pixels) const
{
    const int w = window.width(), h = window.height();
    const size_t count = size_t(w) * size_t(h);
    std::vector<uchar> colours;
    if (e.type == Type::GradientOverlay) {
        colours.resize(count * 4);
        e.gradient.render(window, box, colours.data());
    }
    std::vector<float> weight;
    if (e.type == Type::Stroke) {
        // Inside the shape, up to the stroke's width (half when centred) from its edge;
        // past the rectangle's border counts as outside.
        const int bw = w + 2, bh = h + 2;
        std::vector<bool> outside(size_t(bw) * size_t(bh), true);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                outside[size_t(y + 1) * size_t(bw) + size_t(x + 1)] =
                    shape[size_t(y) * size_t(w) + size_t(x)] < 128;
        const std::vector<float> d = distanceTo(outside, bw, bh);
        const double width = e.strokePlace < 0 ? e.size : e.size / 2;
        weight.resize(count);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                weight[size_t(y) * size_t(w) + size_t(x)] = float(std::clamp(
                    width + 1 - d[size_t(y + 1) * size_t(bw) + size_t(x + 1)], 0.0, 1.0));
    }
    if (e.type == Type::InnerShadow || e.type == Type::InnerGlow) {
        // What lies outside the shape (past the rectangle too), moved by the shadow's
        // offset, choked and blurred, seen inside the shape.
        const int reach = int(std::ceil(e.size + std::max(std::abs(e.dx), std::abs(e.dy)))) + 1;
        const int bw = w + 2 * reach, bh = h + 2 * reach;
        if (qint64(bw) * bh > kMaxEffectPixels) return;
        const int ox = int(std::lround(e.dx)), oy = int(std::lround(e.dy));
        std::vector<float> plane(size_t(bw) * size_t(bh), 1.0f);
        for (int y = 0; y < bh; ++y)
            for (int x = 0; x < bw; ++x) {
                const int sx = x - reach - ox, sy = y - reach - oy;
                if (sx >= 0 && sy >= 0 && sx < w && sy < h)
                    plane[size_t(y) * size_t(bw) + size_t(x)] =
                        1 - shape[size_t(sy) * size_t(w) + size_t(sx)] / 255.0f;
            }
        spreadAndBlur(plane, bw, bh, e.size, e.spread);
        weight.resize(count);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                weight[size_t(y) * size_t(w) + size_t(x)] =
                    plane[size_t(y + reach) * size_t(bw) + size_t(x + reach)];
    }
    const int mode = int(e.mode);
    for (size_t i = 0; i < count; ++i) {
        uchar *px = pixels + i * 4;
        double strength = e.opacity * (weight.empty() ? 1.0 : weight[i]);
        QRgb c = e.colour;
        if (!colours.empty()) {
            const uchar *g = colours.data() + i * 4;
            c = qRgb(g[0], g[1], g[2]);
            strength *= g[3] / 255.0;
        }
        if (strength <= 0) continue;
        const int source[3] = {qRed(c), qGreen(c), qBlue(c)};
        for (int k = 0; k < 3; ++k) {
            const double b = px[k] / 255.0, s = source[k] / 255.0;
            px[k] = toByte(255 * (b + strength * (blendOne(mode, b, s) - b)));
        }
    }
}

QStringList PsdEffects::patternIds() const
{
    QStringList ids;
    for (const Effect &e : m_effects)
        if (!e.gradient.patternId().isEmpty()) ids.append(e.gradient.patternId());
    return ids;
}

void PsdEffects::setPattern(const QString &id, const QImage &tile)
{
    for (Effect &e : m_effects)
        if (e.gradient.patternId() == id) e.gradient.setPattern(tile);
    // An overlay whose pattern the document lacks is not drawn.
    m_effects.erase(std::remove_if(m_effects.begin(), m_effects.end(),
                                   [&](const Effect &e) {
                                       return e.gradient.patternId() == id && !e.gradient.isValid();
                                   }),
                    m_effects.end());
}

} // namespace psd
