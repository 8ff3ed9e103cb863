#include "PsdAdjustments.h"

#include "PsdDescriptor.h"

#include <QColor>
#include <QRgb>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace psd {

namespace {

// Big-endian reads from a block that fail, rather than read past its end.
class Cursor
{
public:
    explicit Cursor(const QByteArray &b) : m_b(b) {}
    bool ok() const { return m_ok; }
    qint64 left() const { return m_ok ? m_b.size() - m_at : 0; }
    bool need(qint64 n)
    {
        if (n < 0 || n > left()) m_ok = false;
        return m_ok;
    }
    quint8 u8() { return need(1) ? uchar(m_b[int(m_at++)]) : 0; }
    quint16 u16()
    {
        if (!need(2)) return 0;
        const quint16 v = qFromBigEndian<quint16>(m_b.constData() + m_at);
        m_at += 2;
        return v;
    }
    qint16 s16() { return qint16(u16()); }
    quint32 u32()
    {
        if (!need(4)) return 0;
        const quint32 v = qFromBigEndian<quint32>(m_b.constData() + m_at);
        m_at += 4;
        return v;
    }
    float f32()
    {
        const quint32 bits = u32();
        float f = 0;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0f;
    }
    void skip(qint64 n)
    {
        if (need(n)) m_at += n;
    }

private:
    const QByteArray &m_b;
    qint64 m_at = 0;
    bool m_ok = true;
};

inline uchar toByte(double v)
{
    return uchar(std::clamp(int(std::lround(v)), 0, 255));
}

// Hue (0 to 360), saturation and lightness (0 to 1) of an RGB colour of 0 to 1.
void toHsl(double r, double g, double b, double *h, double *s, double *l)
{
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    *l = (mx + mn) / 2;
    const double d = mx - mn;
    if (d <= 0) {
        *h = *s = 0;
        return;
    }
    *s = *l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
    if (mx == r)
        *h = 60 * std::fmod((g - b) / d + 6, 6.0);
    else if (mx == g)
        *h = 60 * ((b - r) / d + 2);
    else
        *h = 60 * ((r - g) / d + 4);
}

void fromHsl(double h, double s, double l, double *rgb)
{
    h = std::fmod(std::fmod(h, 360.0) + 360, 360.0);
    const double c = (1 - std::abs(2 * l - 1)) * s;
    const double x = c * (1 - std::abs(std::fmod(h / 60, 2.0) - 1));
    const double m = l - c / 2;
    const int sector = int(h / 60) % 6;
    const double table[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
    for (int i = 0; i < 3; ++i)
        rgb[i] = table[sector][i] + m;
}

// Keeps the luminance of the original colour (all 0 to 255).
void keepLuminance(double *rgb, double original)
{
    const double now = luminance(rgb[0], rgb[1], rgb[2]);
    const double shift = original - now;
    for (int i = 0; i < 3; ++i)
        rgb[i] += shift;
}

// A table through the points (input, output), by a natural cubic spline, flat outside.
std::array<uchar, 256> curveTable(std::vector<std::pair<double, double>> points)
{
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end(),
                             [](const auto &a, const auto &b) { return a.first == b.first; }),
                 points.end());
    std::array<uchar, 256> t{};
    const size_t n = points.size();
    if (n == 0) {
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = uchar(i);
        return t;
    }
    std::vector<double> second(n, 0.0);
    if (n > 2) {
        // Tridiagonal system of the second derivatives, zero at both ends.
        std::vector<double> u(n, 0.0);
        for (size_t i = 1; i + 1 < n; ++i) {
            const double x0 = points[i - 1].first, x1 = points[i].first, x2 = points[i + 1].first;
            const double y0 = points[i - 1].second, y1 = points[i].second,
                         y2 = points[i + 1].second;
            const double sig = (x1 - x0) / (x2 - x0);
            const double p = sig * second[i - 1] + 2;
            second[i] = (sig - 1) / p;
            u[i] = (y2 - y1) / (x2 - x1) - (y1 - y0) / (x1 - x0);
            u[i] = (6 * u[i] / (x2 - x0) - sig * u[i - 1]) / p;
        }
        second[n - 1] = 0;
        for (size_t k = n - 1; k-- > 0;)
            second[k] = second[k] * second[k + 1] + u[k];
    }
    for (int x = 0; x < 256; ++x) {
        double y;
        if (x <= points.front().first) {
            y = points.front().second;
        } else if (x >= points.back().first) {
            y = points.back().second;
        } else {
            size_t hi = 1;
            while (points[hi].first < x)
                ++hi;
            const size_t lo = hi - 1;
            const double h = points[hi].first - points[lo].first;
            const double a = (points[hi].first - x) / h, b = (x - points[lo].first) / h;
            y = a * points[lo].second + b * points[hi].second +
                ((a * a * a - a) * second[lo] + (b * b * b - b) * second[hi]) * h * h / 6;
        }
        t[size_t(x)] = toByte(y);
    }
    return t;
}

double srgbToLinear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

// The weight (0 to 1) of a hue inside one range of hue/saturation: full from begin to
// end, ramping in from beginRamp and out to endRamp, in degrees that may run past 360.
double rangeWeight(double hue, const double *range)
{
    const double a = range[0], b = range[1], c = range[2], d = range[3];
    double best = 0;
    for (double h : {hue - 360, hue, hue + 360}) {
        double w = 0;
        if (h >= b && h <= c)
            w = 1;
        else if (h >= a && h < b && b > a)
            w = (h - a) / (b - a);
        else if (h > c && h <= d && d > c)
            w = (d - h) / (d - c);
        best = std::max(best, w);
    }
    return best;
}

// A colour of the Photoshop colour structure: space, four 16-bit components.
bool structColour(Cursor &c, double *rgb)
{
    const quint16 space = c.u16();
    quint16 v[4];
    for (quint16 &x : v)
        x = c.u16();
    if (!c.ok()) return false;
    if (space == 0) {
        for (int i = 0; i < 3; ++i)
            rgb[i] = v[i] / 65535.0 * 255;
        return true;
    }
    if (space == 8) { // grey, 0 to 10000 of black
        rgb[0] = rgb[1] = rgb[2] = 255 * (1 - std::min(1.0, v[0] / 10000.0));
        return true;
    }
    return false;
}

} // namespace

PsdAdjustment PsdAdjustment::fromBlock(quint32 key, const QByteArray &block)
{
    PsdAdjustment a;
    a.m_kind = Kind::Table;
    bool ok = false;
    Table t{};
    switch (key) {
    case fourCC("nvrt"):
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = uchar(255 - i);
        a.setTables(t);
        ok = true;
        break;
    case fourCC("post"): {
        Cursor c(block);
        const int levels = std::clamp(int(c.u16()), 2, 255);
        ok = c.ok();
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = toByte(std::round(i * (levels - 1) / 255.0) * 255.0 / (levels - 1));
        a.setTables(t);
        break;
    }
    case fourCC("thrs"): {
        Cursor c(block);
        a.m_kind = Kind::Threshold;
        a.m_values = {double(std::clamp(int(c.u16()), 1, 255))};
        ok = c.ok();
        break;
    }
    case fourCC("levl"):
        ok = a.parseLevels(block);
        break;
    case fourCC("curv"):
        ok = a.parseCurves(block);
        break;
    case fourCC("brit"):
    case fourCC("CgEd"): {
        double brightness = 0, contrast = 0;
        bool legacy = true;
        if (key == fourCC("brit")) {
            Cursor c(block);
            brightness = c.s16();
            contrast = c.s16();
            ok = c.ok();
        } else {
            DescriptorValue d;
            ok = parseVersionedDescriptor(block, &d);
            brightness = d.numberOf("Brgh");
            contrast = d.numberOf("Cntr");
            legacy = d.numberOf("useLegacy") != 0;
        }
        const double slope = std::tan((std::clamp(contrast, -100.0, 99.0) + 100) / 200 * M_PI / 2);
        const double gamma = std::pow(2.0, -std::clamp(brightness, -150.0, 150.0) / 100);
        for (int i = 0; i < 256; ++i) {
            // Legacy brightness shifts every level; the newer one bends the tones like a
            // gamma, keeping black and white.
            const double v = legacy ? i + brightness : 255 * std::pow(i / 255.0, gamma);
            t[size_t(i)] = toByte((v - 127.5) * slope + 127.5);
        }
        a.setTables(t);
        break;
    }
    case fourCC("expA"):
        ok = a.parseExposure(block);
        break;
    case fourCC("hue2"):
    case fourCC("hue "):
        ok = a.parseHueSat(block);
        break;
    case fourCC("blnc"):
        ok = a.parseBalance(block);
        break;
    case fourCC("mixr"):
        ok = a.parseMixer(block);
        break;
    case fourCC("selc"):
        ok = a.parseSelective(block);
        break;
    case fourCC("phfl"):
        ok = a.parseFilter(block);
        break;
    case fourCC("grdm"):
        ok = a.parseGradientMap(block);
        break;
    case fourCC("blwh"): {
        DescriptorValue d;
        ok = parseVersionedDescriptor(block, &d);
        a.m_kind = Kind::BlackWhite;
        // Reds, yellows, greens, cyans, blues, magentas, in percent.
        a.m_values = {d.numberOf("Rd  ", 40), d.numberOf("Yllw", 60), d.numberOf("Grn ", 40),
                      d.numberOf("Cyn ", 60), d.numberOf("Bl  ", 20), d.numberOf("Mgnt", 80)};
        a.m_flag = d.numberOf("useTint") != 0;
        const DescriptorValue *tint = d.find("tintColor");
        if (a.m_flag && !(tint && descriptorColour(*tint, &a.m_tint))) a.m_flag = false;
        break;
    }
    case fourCC("vibA"): {
        DescriptorValue d;
        ok = parseVersionedDescriptor(block, &d);
        a.m_kind = Kind::Vibrance;
        a.m_values = {std::clamp(d.numberOf("vibrance"), -100.0, 100.0) / 100,
                      std::clamp(d.numberOf("Strt"), -100.0, 100.0) / 100};
        break;
    }
    default:
        break;
    }
    if (!ok) a.m_kind = Kind::None;
    return a;
}

void PsdAdjustment::setTables(const Table &all)
{
    for (Table &t : m_tables)
        t = all;
}

bool PsdAdjustment::parseLevels(const QByteArray &b)
{
    Cursor c(b);
    c.u16(); // version
    // The composite record first, then red, green and blue.
    double rec[4][5];
    for (auto &r : rec)
        for (double &v : r)
            v = c.s16();
    if (!c.ok()) return false;
    const auto table = [](const double *r) {
        Table t{};
        const double inLow = std::clamp(r[0], 0.0, 255.0);
        const double inHigh = std::max(inLow + 1, std::clamp(r[1], 0.0, 255.0));
        const double gamma = std::clamp(r[4] / 100, 0.1, 9.99);
        for (int i = 0; i < 256; ++i) {
            const double x = std::clamp((i - inLow) / (inHigh - inLow), 0.0, 1.0);
            t[size_t(i)] = toByte(r[2] + std::pow(x, 1 / gamma) * (r[3] - r[2]));
        }
        return t;
    };
    const Table master = table(rec[0]);
    for (int ch = 0; ch < 3; ++ch) {
        const Table own = table(rec[ch + 1]);
        for (int i = 0; i < 256; ++i)
            m_tables[ch][size_t(i)] = master[own[size_t(i)]];
    }
    return true;
}

bool PsdAdjustment::parseCurves(const QByteArray &b)
{
    Cursor c(b);
    c.u8(); // padding
    const quint16 version = c.u16();
    const quint32 present = c.u32();
    if (!c.ok() || (version != 1 && version != 4)) return false;
    Table curves[4];
    for (int i = 0; i < 4; ++i)
        curves[i] = curveTable({});
    for (int bit = 0; bit < 32; ++bit) {
        if (!(present & (1u << bit))) continue;
        const quint16 count = c.u16();
        if (!c.ok() || count > 256 || !c.need(qint64(count) * 4)) return false;
        std::vector<std::pair<double, double>> points;
        for (int i = 0; i < count; ++i) {
            const double out = c.s16(), in = c.s16();
            points.push_back({in, out});
        }
        if (bit < 4) curves[bit] = curveTable(points);
    }
    // A channel's own curve first, then the composite one.
    for (int ch = 0; ch < 3; ++ch)
        for (int i = 0; i < 256; ++i)
            m_tables[ch][size_t(i)] = curves[0][curves[ch + 1][size_t(i)]];
    return true;
}

bool PsdAdjustment::parseExposure(const QByteArray &b)
{
    Cursor c(b);
    c.u16(); // version
    const double exposure = std::clamp(double(c.f32()), -20.0, 20.0);
    const double offset = std::clamp(double(c.f32()), -0.5, 0.5);
    const double gamma = std::clamp(double(c.f32()), 0.01, 9.99);
    if (!c.ok()) return false;
    Table t{};
    for (int i = 0; i < 256; ++i) {
        // In linear light: scaled by two to the exposure, offset, then the gamma.
        const double v = std::max(0.0, srgbToLinear(i / 255.0) * std::pow(2.0, exposure) + offset);
        t[size_t(i)] = toByte(255 * linearToSrgb(std::pow(v, 1 / gamma)));
    }
    setTables(t);
    return true;
}

bool PsdAdjustment::parseHueSat(const QByteArray &b)
{
    Cursor c(b);
    c.u16(); // version
    m_flag = c.u8() != 0;
    c.u8();
    // Colorize hue, saturation, lightness; the master's; then six ranges, each four hue
    // limits and its three settings.
    m_values.clear();
    for (int i = 0; i < 6; ++i)
        m_values.push_back(c.s16());
    if (!c.ok()) return false;
    for (int i = 0; i < 6 * 7 && c.left() >= 2; ++i)
        m_values.push_back(c.s16());
    m_values.resize(6 + 6 * 7, 0.0);
    m_kind = Kind::HueSat;
    return true;
}

bool PsdAdjustment::parseBalance(const QByteArray &b)
{
    Cursor c(b);
    m_values.clear();
    for (int i = 0; i < 9; ++i)
        m_values.push_back(std::clamp(int(c.s16()), -100, 100) / 100.0);
    m_flag = c.u8() != 0;
    m_kind = Kind::Balance;
    return c.ok();
}

bool PsdAdjustment::parseMixer(const QByteArray &b)
{
    Cursor c(b);
    c.u16(); // version
    m_flag = c.u16() != 0;
    m_values.clear();
    for (int i = 0; i < 15; ++i)
        m_values.push_back(std::clamp(int(c.s16()), -200, 200) / 100.0);
    m_kind = Kind::Mixer;
    return c.ok();
}

bool PsdAdjustment::parseSelective(const QByteArray &b)
{
    Cursor c(b);
    c.u16();               // version
    m_flag = c.u16() == 1; // absolute
    m_values.clear();
    for (int i = 0; i < 40; ++i)
        m_values.push_back(std::clamp(int(c.s16()), -100, 100) / 100.0);
    m_kind = Kind::Selective;
    return c.ok();
}

bool PsdAdjustment::parseFilter(const QByteArray &b)
{
    Cursor c(b);
    if (c.u16() != 2) return false; // the later form's colour is not read
    double rgb[3];
    if (!structColour(c, rgb)) return false;
    const double density = std::clamp(double(c.u32()), 0.0, 100.0) / 100;
    m_flag = c.u8() != 0;
    m_values = {rgb[0], rgb[1], rgb[2], density};
    m_kind = Kind::Filter;
    return c.ok();
}

bool PsdAdjustment::parseGradientMap(const QByteArray &b)
{
    Cursor c(b);
    c.u16(); // version
    const bool reversed = c.u8() != 0;
    c.u8(); // dithered
    const quint32 nameChars = c.u32();
    if (!c.ok() || nameChars > quint32(c.left() / 2)) return false;
    c.skip(qint64(nameChars) * 2);
    const quint16 count = c.u16();
    if (!c.ok() || count == 0 || !c.need(qint64(count) * 20)) return false;
    struct Stop
    {
        double at, mid, rgb[3];
    };
    std::vector<Stop> stops;
    for (int i = 0; i < count; ++i) {
        Stop s{};
        s.at = std::clamp(double(c.u32()), 0.0, 4096.0) / 4096;
        s.mid = std::clamp(double(c.u32()), 5.0, 95.0) / 100;
        if (!structColour(c, s.rgb)) return false;
        c.u16(); // padding
        stops.push_back(s);
    }
    if (!c.ok()) return false;
    std::stable_sort(stops.begin(), stops.end(),
                     [](const Stop &x, const Stop &y) { return x.at < y.at; });
    for (int i = 0; i < 256; ++i) {
        double t = i / 255.0;
        if (reversed) t = 1 - t;
        double rgb[3];
        if (t <= stops.front().at) {
            std::copy_n(stops.front().rgb, 3, rgb);
        } else if (t >= stops.back().at) {
            std::copy_n(stops.back().rgb, 3, rgb);
        } else {
            size_t hi = 1;
            while (stops[hi].at < t)
                ++hi;
            const Stop &l = stops[hi - 1], &h = stops[hi];
            double f = h.at > l.at ? (t - l.at) / (h.at - l.at) : 1;
            if (l.mid != 0.5) f = std::pow(f, std::log(0.5) / std::log(l.mid));
            for (int k = 0; k < 3; ++k)
                rgb[k] = l.rgb[k] + f * (h.rgb[k] - l.rgb[k]);
        }
        for (int k = 0; k < 3; ++k)
            m_ramp[size_t(i * 3 + k)] = toByte(rgb[k]);
    }
    m_kind = Kind::GradientMap;
    return true;
}

void PsdAdjustment::apply(uchar *pixels, size_t count) const
{
    if (m_kind == Kind::None) return;
    for (size_t i = 0; i < count; ++i, pixels += 4) {
        if (m_kind == Kind::Table) {
            for (int c = 0; c < 3; ++c)
                pixels[c] = m_tables[c][pixels[c]];
        } else {
            applyPixel(pixels);
        }
    }
}

void PsdAdjustment::applyPixel(uchar *px) const
{
    const double r = px[0], g = px[1], b = px[2];
    const double lum = luminance(r, g, b);
    double out[3] = {r, g, b};
    const std::vector<double> &v = m_values;
    switch (m_kind) {
    case Kind::None:
    case Kind::Table:
        return;
    case Kind::Threshold:
        out[0] = out[1] = out[2] = std::lround(lum) >= v[0] ? 255 : 0;
        break;
    case Kind::GradientMap: {
        const int at = toByte(lum) * 3;
        for (int c = 0; c < 3; ++c)
            out[c] = m_ramp[size_t(at + c)];
        break;
    }
    case Kind::HueSat: {
        double h, s, l;
        toHsl(r / 255, g / 255, b / 255, &h, &s, &l);
        double hue, sat, light;
        if (m_flag) { // colorize: the given hue and saturation at the pixel's lightness
            h = v[0];
            s = std::clamp(v[1] / 100, 0.0, 1.0);
            hue = 0, sat = 0, light = v[2];
        } else {
            hue = v[3], sat = v[4], light = v[5];
            for (int range = 0; range < 6; ++range) {
                const double *rv = v.data() + 6 + range * 7;
                const double w = s > 0 ? rangeWeight(h, rv) : 0;
                hue += w * rv[4], sat += w * rv[5], light += w * rv[6];
            }
        }
        sat = std::clamp(sat, -100.0, 100.0) / 100;
        light = std::clamp(light, -100.0, 100.0) / 100;
        s = sat < 0 ? s * (1 + sat) : std::min(1.0, s * (1 + sat / std::max(0.01, 1 - sat)));
        fromHsl(h + hue, std::clamp(s, 0.0, 1.0), l, out);
        for (double &c : out)
            c = 255 * (light < 0 ? c * (1 + light) : c + (1 - c) * light);
        break;
    }
    case Kind::Balance: {
        // Shadows, midtones and highlights each move the channel a quarter of the range
        // at most, weighted by where the channel's value lies.
        for (int c = 0; c < 3; ++c) {
            const double x = out[c] / 255;
            const double shadow = std::max(0.0, 1 - 2 * x), high = std::max(0.0, 2 * x - 1);
            const double mid = 1 - std::abs(2 * x - 1);
            out[c] = 255 * (x + 0.25 * (shadow * v[size_t(c)] + mid * v[size_t(3 + c)] +
                                        high * v[size_t(6 + c)]));
        }
        if (m_flag) keepLuminance(out, lum);
        break;
    }
    case Kind::Mixer: {
        const double in[3] = {r, g, b};
        for (int o = 0; o < 3; ++o) {
            const double *m = v.data() + (m_flag ? 0 : o * 5);
            out[o] = m[0] * in[0] + m[1] * in[1] + m[2] * in[2] + m[4] * 255;
        }
        break;
    }
    case Kind::Filter: {
        const double density = v[3];
        for (int c = 0; c < 3; ++c)
            out[c] = out[c] * (1 - density) + out[c] * v[size_t(c)] / 255 * density;
        if (m_flag) keepLuminance(out, lum);
        break;
    }
    case Kind::BlackWhite: {
        // The grey: the smallest component, plus the step to the middle one weighted by
        // the secondary colour and the step to the largest by the primary one.
        const double c[3] = {r, g, b};
        int order[3] = {0, 1, 2};
        std::sort(order, order + 3, [&](int x, int y) { return c[x] > c[y]; });
        const int primary = order[0], secondary = order[1];
        // Primaries at 0 (red), 2 (green), 4 (blue); secondaries between them.
        const int primaryIndex = primary * 2;
        int secondaryIndex;
        if ((primary == 0 && secondary == 1) || (primary == 1 && secondary == 0))
            secondaryIndex = 1; // yellow
        else if ((primary == 1 && secondary == 2) || (primary == 2 && secondary == 1))
            secondaryIndex = 3; // cyan
        else
            secondaryIndex = 5; // magenta
        const double grey = c[order[2]] +
                            (c[secondary] - c[order[2]]) * v[size_t(secondaryIndex)] / 100 +
                            (c[primary] - c[secondary]) * v[size_t(primaryIndex)] / 100;
        out[0] = out[1] = out[2] = grey;
        if (m_flag) {
            double h, s, l;
            toHsl(qRed(m_tint) / 255.0, qGreen(m_tint) / 255.0, qBlue(m_tint) / 255.0, &h, &s, &l);
            fromHsl(h, s, std::clamp(grey / 255, 0.0, 1.0), out);
            for (double &x : out)
                x *= 255;
        }
        break;
    }
    case Kind::Selective: {
        const double c[3] = {r / 255, g / 255, b / 255};
        const double mx = std::max({c[0], c[1], c[2]}), mn = std::min({c[0], c[1], c[2]});
        const double mid = c[0] + c[1] + c[2] - mx - mn;
        // Records: reserved, reds, yellows, greens, cyans, blues, magentas, whites,
        // neutrals, blacks; each cyan, magenta, yellow, black.
        double weight[10] = {};
        weight[1] = mx == c[0] ? mx - mid : 0;
        weight[2] = mn == c[2] ? mid - mn : 0;
        weight[3] = mx == c[1] ? mx - mid : 0;
        weight[4] = mn == c[0] ? mid - mn : 0;
        weight[5] = mx == c[2] ? mx - mid : 0;
        weight[6] = mn == c[1] ? mid - mn : 0;
        weight[7] = mn > 0.5 ? (mn - 0.5) * 2 : 0;
        weight[8] = std::max(0.0, 1 - (std::abs(mx - 0.5) + std::abs(mn - 0.5)));
        weight[9] = mx < 0.5 ? (0.5 - mx) * 2 : 0;
        for (int ch = 0; ch < 3; ++ch) {
            const double ink = 1 - c[ch];
            double change = 0;
            for (int rec = 1; rec < 10; ++rec) {
                if (weight[rec] <= 0) continue;
                const double amount = v[size_t(rec * 4 + ch)] + v[size_t(rec * 4 + 3)];
                change += weight[rec] * amount * (m_flag ? 1 : ink);
            }
            out[ch] = 255 * (1 - std::clamp(ink + change, 0.0, 1.0));
        }
        break;
    }
    case Kind::Vibrance: {
        double h, s, l;
        toHsl(r / 255, g / 255, b / 255, &h, &s, &l);
        // Vibrance raises the saturation of dull colours more than of vivid ones.
        s = s * (1 + v[0] * (1 - s));
        s = v[1] < 0 ? s * (1 + v[1]) : s + (1 - s) * v[1] * s;
        fromHsl(h, std::clamp(s, 0.0, 1.0), l, out);
        for (double &x : out)
            x *= 255;
        break;
    }
    }
    for (int c = 0; c < 3; ++c)
        px[c] = toByte(out[c]);
}

} // namespace psd
