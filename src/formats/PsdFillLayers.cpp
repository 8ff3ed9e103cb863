#include "PsdFillLayers.h"

#include "PsdDescriptor.h"
#include "PsdPackBits.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

constexpr size_t kMaxStops = 1024;
// Patterns are tiles; a larger one is not drawn.
constexpr quint32 kMaxPatternSide = 4096;
// Steps of a gradient's colour table: finer than any 8-bit difference.
constexpr int kRampSteps = 4096;

// Big-endian reads inside [at, end) of a block.
class BlockReader
{
public:
    BlockReader(const QByteArray &b, qint64 at, qint64 end)
        : m_p(reinterpret_cast<const uchar *>(b.constData())), m_at(at), m_end(end)
    {
    }
    bool ok() const { return m_ok; }
    qint64 pos() const { return m_at; }
    qint64 left() const { return m_ok ? m_end - m_at : 0; }
    const uchar *here() const { return m_p + m_at; }
    bool skip(qint64 n)
    {
        if (n < 0 || n > left()) return m_ok = false;
        m_at += n;
        return true;
    }
    quint32 u32()
    {
        if (!skip(4)) return 0;
        return qFromBigEndian<quint32>(m_p + m_at - 4);
    }
    quint16 u16()
    {
        if (!skip(2)) return 0;
        return qFromBigEndian<quint16>(m_p + m_at - 2);
    }
    quint8 u8() { return skip(1) ? m_p[m_at - 1] : 0; }

private:
    const uchar *m_p;
    qint64 m_at, m_end;
    bool m_ok = true;
};

// One channel of a pattern's array: written flag, length, depth, rectangle, depth again,
// compression, data. Expanded into plane (width * height bytes).
bool readPatternChannel(BlockReader &r, int width, int height, std::vector<uchar> *plane,
                        bool *present)
{
    *present = false;
    const quint32 written = r.u32();
    if (!r.ok()) return false;
    if (written == 0) return true;
    const quint32 length = r.u32();
    if (!r.ok() || length > quint64(r.left())) return false;
    if (length == 0) return true;
    BlockReader c = r;
    r.skip(length);
    const quint32 depth = c.u32();
    const qint32 top = qint32(c.u32()), left = qint32(c.u32());
    const qint32 bottom = qint32(c.u32()), right = qint32(c.u32());
    c.u16(); // depth again
    const quint8 compression = c.u8();
    if (!c.ok() || depth != 8 || qint64(bottom) - top != height || qint64(right) - left != width)
        return false;
    const size_t w = size_t(width), h = size_t(height);
    plane->assign(w * h, 0);
    if (compression == 0) {
        if (quint64(c.left()) < w * h) return false;
        std::copy_n(c.here(), w * h, plane->data());
    } else if (compression == 1) {
        if (quint64(c.left()) < h * 2) return false;
        const uchar *counts = c.here();
        c.skip(qint64(h) * 2);
        std::vector<uchar> in, out(w + kUnpackSlack);
        for (size_t y = 0; y < h; ++y) {
            const quint16 n = qFromBigEndian<quint16>(counts + 2 * y);
            if (n > c.left()) return false;
            in.assign(c.here(), c.here() + n);
            in.resize(n + kUnpackSlack);
            if (!unpackRowPadded(in.data(), n, out.data(), w)) return false;
            std::copy_n(out.data(), w, plane->data() + y * w);
            c.skip(n);
        }
    } else {
        return false;
    }
    *present = true;
    return true;
}

QImage readPattern(BlockReader &r, quint32 mode, int width, int height, const uchar *palette)
{
    const quint32 version = r.u32();
    const quint32 length = r.u32();
    if (!r.ok() || version != 3 || length > quint64(r.left())) return {};
    BlockReader a(r);
    a.skip(16); // the rectangle
    const quint32 channels = a.u32();
    const int colours = mode == 3 ? 3 : 1;
    if (!a.ok() || channels < quint32(colours) || channels > 56) return {};
    std::vector<uchar> planes[4];
    bool present[4] = {};
    for (quint32 c = 0; c < channels + 2 && a.ok(); ++c) {
        std::vector<uchar> plane;
        bool here = false;
        if (!readPatternChannel(a, width, height, &plane, &here)) return {};
        // The colour channels, then (after any others) the transparency of the pattern.
        const int slot = c < quint32(colours) ? int(c) : c == channels ? 3 : -1;
        if (slot >= 0 && here) {
            planes[slot] = std::move(plane);
            present[slot] = true;
        }
    }
    for (int c = 0; c < colours; ++c)
        if (!present[c]) return {};
    QImage tile(width, height, QImage::Format_ARGB32);
    if (tile.isNull()) return {};
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(tile.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            const int alpha = present[3] ? planes[3][i] : 255;
            if (mode == 2) {
                const uchar *p = palette + 3 * planes[0][i];
                line[x] = qRgba(p[0], p[1], p[2], alpha);
            } else if (mode == 3) {
                line[x] = qRgba(planes[0][i], planes[1][i], planes[2][i], alpha);
            } else {
                line[x] = qRgba(planes[0][i], planes[0][i], planes[0][i], alpha);
            }
        }
    }
    return tile;
}

// Interpolates between the stops around t; the midpoint bends the stretch so that the
// halfway value lies there.
void interpolate(const std::vector<GradientStops::Stop> &stops, double t, int components,
                 double *out)
{
    if (t <= stops.front().at) {
        std::copy_n(stops.front().value, components, out);
        return;
    }
    if (t >= stops.back().at) {
        std::copy_n(stops.back().value, components, out);
        return;
    }
    size_t hi = 1;
    while (hi + 1 < stops.size() && stops[hi].at < t)
        ++hi;
    const GradientStops::Stop &l = stops[hi - 1], &h = stops[hi];
    double f = h.at > l.at ? (t - l.at) / (h.at - l.at) : 1;
    if (std::abs(l.mid - 0.5) > 1e-6) f = std::pow(f, std::log(0.5) / std::log(l.mid));
    for (int k = 0; k < components; ++k)
        out[k] = l.value[k] + f * (h.value[k] - l.value[k]);
}

} // namespace

QImage findPattern(const QByteArray &block, const QString &id)
{
    BlockReader r(block, 0, block.size());
    while (r.ok() && r.left() >= 4) {
        const quint32 length = r.u32();
        if (!r.ok() || length > quint64(r.left())) return {};
        const qint64 next = r.pos() + (qint64(length) + 3) / 4 * 4;
        BlockReader p(block, r.pos(), r.pos() + length);
        const quint32 version = p.u32();
        const quint32 mode = p.u32();
        const int height = p.u16(), width = p.u16();
        const quint32 nameChars = p.u32();
        p.skip(qint64(nameChars) * 2);
        const quint8 idLength = p.u8();
        const QString own =
            p.left() >= idLength
                ? QString::fromLatin1(reinterpret_cast<const char *>(p.here()), idLength)
                : QString();
        p.skip(idLength);
        const uchar *palette = p.here();
        if (mode == 2) p.skip(256 * 3);
        if (p.ok() && version == 1 && own == id && width > 0 && height > 0 &&
            quint32(width) <= kMaxPatternSide && quint32(height) <= kMaxPatternSide &&
            (mode == 1 || mode == 2 || mode == 3))
            return readPattern(p, mode, width, height, palette);
        if (next > block.size() || !r.skip(next - r.pos())) return {};
    }
    return {};
}

bool GradientStops::fromDescriptor(const DescriptorValue &g)
{
    colours.clear();
    opacities.clear();
    const auto stop = [](const DescriptorValue &s) {
        Stop out;
        out.at = std::clamp(s.numberOf("Lctn"), 0.0, 4096.0) / 4096;
        out.mid = std::clamp(s.numberOf("Mdpn", 50), 5.0, 95.0) / 100;
        return out;
    };
    const DescriptorValue *list = g.find("Clrs");
    if (!list || list->type != DescriptorValue::List) return false;
    for (const DescriptorValue &s : list->children) {
        if (colours.size() >= kMaxStops) break;
        Stop out = stop(s);
        const DescriptorValue *c = s.find("Clr ");
        QRgb rgb = 0xff000000; // foreground and background stops draw as black and white
        if (s.enumOf("Type") == "BckC") rgb = 0xffffffff;
        if (c) descriptorColour(*c, &rgb);
        out.value[0] = qRed(rgb), out.value[1] = qGreen(rgb), out.value[2] = qBlue(rgb);
        colours.push_back(out);
    }
    const DescriptorValue *trans = g.find("Trns");
    if (trans && trans->type == DescriptorValue::List) {
        for (const DescriptorValue &s : trans->children) {
            if (opacities.size() >= kMaxStops) break;
            Stop out = stop(s);
            out.value[0] = std::clamp(s.numberOf("Opct", 100), 0.0, 100.0) / 100;
            opacities.push_back(out);
        }
    }
    if (opacities.empty()) {
        Stop opaque;
        opaque.value[0] = 1;
        opacities.push_back(opaque);
    }
    const auto byPlace = [](const Stop &a, const Stop &b) { return a.at < b.at; };
    std::stable_sort(colours.begin(), colours.end(), byPlace);
    std::stable_sort(opacities.begin(), opacities.end(), byPlace);
    return !colours.empty();
}

QRgb GradientStops::at(double t) const
{
    double rgb[3], alpha = 1;
    interpolate(colours, t, 3, rgb);
    interpolate(opacities, t, 1, &alpha);
    const auto byte = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
    return qRgba(byte(rgb[0]), byte(rgb[1]), byte(rgb[2]), byte(alpha * 255));
}

PsdFill PsdFill::fromBlock(quint32 key, const QByteArray &block)
{
    PsdFill f;
    DescriptorValue d;
    if ((key != fourCC("SoCo") && key != fourCC("GdFl") && key != fourCC("PtFl")) ||
        !parseVersionedDescriptor(block, &d))
        return f;
    if (key == fourCC("PtFl")) return fromPattern(d);
    if (key == fourCC("SoCo")) {
        const DescriptorValue *c = d.find("Clr ");
        if (c && descriptorColour(*c, &f.m_colour)) f.m_kind = Kind::Solid;
        return f;
    }
    return fromGradient(d);
}

PsdFill PsdFill::fromPattern(const DescriptorValue &d)
{
    PsdFill f;
    const DescriptorValue *pattern = d.find("Ptrn");
    const DescriptorValue *id = pattern ? pattern->find("Idnt") : nullptr;
    if (!id || id->type != DescriptorValue::Text || id->text.isEmpty()) return f;
    f.m_patternId = id->text;
    f.m_scale = std::clamp(d.numberOf("Scl ", 100), 1.0, 1000.0) / 100;
    if (const DescriptorValue *phase = d.find("phase")) {
        // Any phase past the largest document's side tiles as one there would.
        f.m_offsetX = std::clamp(phase->numberOf("Hrzn"), -1e6, 1e6);
        f.m_offsetY = std::clamp(phase->numberOf("Vrtc"), -1e6, 1e6);
    }
    f.m_kind = Kind::Pattern;
    return f;
}

PsdFill PsdFill::fromGradient(const DescriptorValue &d)
{
    PsdFill f;
    const DescriptorValue *g = d.find("Grad");
    // Noise gradients have no stops to draw.
    GradientStops stops;
    if (!g || g->enumOf("GrdF") == "ClNs" || !stops.fromDescriptor(*g)) return f;
    const QByteArray type = d.enumOf("Type");
    if (type == "Rdl ")
        f.m_shape = Shape::Radial;
    else if (type == "Angl")
        f.m_shape = Shape::Angle;
    else if (type == "Rflc")
        f.m_shape = Shape::Reflected;
    else if (type == "Dmnd")
        f.m_shape = Shape::Diamond;
    f.m_angle = d.numberOf("Angl", 90);
    f.m_scale = std::clamp(d.numberOf("Scl ", 100), 1.0, 1000.0) / 100;
    f.m_reverse = d.numberOf("Rvrs") != 0;
    if (const DescriptorValue *o = d.find("Ofst")) {
        f.m_offsetX = std::clamp(o->numberOf("Hrzn"), -1000.0, 1000.0) / 100;
        f.m_offsetY = std::clamp(o->numberOf("Vrtc"), -1000.0, 1000.0) / 100;
    }
    f.m_ramp.resize(kRampSteps + 1);
    for (int i = 0; i <= kRampSteps; ++i) {
        const double t = double(i) / kRampSteps;
        f.m_ramp[size_t(i)] = stops.at(f.m_reverse ? 1 - t : t);
    }
    f.m_kind = Kind::Gradient;
    return f;
}

void PsdFill::render(const QRect &window, const QRect &box, uchar *pixels) const
{
    const int w = window.width(), h = window.height();
    if (m_kind == Kind::Solid) {
        for (int i = 0; i < w * h; ++i, pixels += 4) {
            pixels[0] = uchar(qRed(m_colour));
            pixels[1] = uchar(qGreen(m_colour));
            pixels[2] = uchar(qBlue(m_colour));
            pixels[3] = 255;
        }
        return;
    }
    if (m_kind == Kind::Pattern) {
        // Tiles from the document's origin, moved by the phase, each pixel the nearest of
        // the scaled tile.
        const int tw = m_tile.width(), th = m_tile.height();
        if (tw == 0 || th == 0) return;
        for (int y = 0; y < h; ++y) {
            const double sy = (window.y() + y + 0.5 - m_offsetY) / m_scale;
            const int ty = int(((qint64(std::floor(sy)) % th) + th) % th);
            const auto *line = reinterpret_cast<const QRgb *>(m_tile.constScanLine(ty));
            for (int x = 0; x < w; ++x, pixels += 4) {
                const double sx = (window.x() + x + 0.5 - m_offsetX) / m_scale;
                const QRgb c = line[((qint64(std::floor(sx)) % tw) + tw) % tw];
                pixels[0] = uchar(qRed(c));
                pixels[1] = uchar(qGreen(c));
                pixels[2] = uchar(qBlue(c));
                pixels[3] = uchar(qAlpha(c));
            }
        }
        return;
    }
    if (m_kind != Kind::Gradient) return;
    // The gradient runs through the box's centre (moved by the offset) along the angle,
    // over the length of the box seen along that direction, times the scale.
    const double radians = m_angle * M_PI / 180;
    const double dx = std::cos(radians), dy = -std::sin(radians); // rows run downwards
    const double cx = box.x() + box.width() / 2.0 + m_offsetX * box.width();
    const double cy = box.y() + box.height() / 2.0 + m_offsetY * box.height();
    const double length =
        std::max(1.0, (std::abs(box.width() * dx) + std::abs(box.height() * dy)) * m_scale);
    const double half = length / 2;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x, pixels += 4) {
            // Pixel centres, relative to the gradient's centre.
            const double px = window.x() + x + 0.5 - cx, py = window.y() + y + 0.5 - cy;
            const double along = px * dx + py * dy, across = -px * dy + py * dx;
            double t = 0;
            switch (m_shape) {
            case Shape::Linear:
                t = along / length + 0.5;
                break;
            case Shape::Radial:
                t = std::hypot(along, across) / half;
                break;
            case Shape::Angle: {
                // Round from the angle's direction, counter-clockwise on the screen.
                double a = std::atan2(-across, along);
                if (a < 0) a += 2 * M_PI;
                t = 1 - a / (2 * M_PI);
                if (t >= 1) t = 0;
                break;
            }
            case Shape::Reflected:
                t = std::abs(along) / half;
                break;
            case Shape::Diamond:
                t = (std::abs(along) + std::abs(across)) / half;
                break;
            }
            t = std::clamp(t, 0.0, 1.0);
            const QRgb c = m_ramp[size_t(std::lround(t * kRampSteps))];
            pixels[0] = uchar(qRed(c));
            pixels[1] = uchar(qGreen(c));
            pixels[2] = uchar(qBlue(c));
            pixels[3] = uchar(qAlpha(c));
        }
    }
}

} // namespace psd
