#include "PsdRowConverter.h"

#include "PsdConvert.h"
#include "platform/LargePages.h"

#include <QColor>

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

// QColor::fromRgbF(v, ...).rgba() for one component in [0, 1]: to 16 bits, rounded, then
// to 8 bits as QColor divides by 257.
inline int unitToByte(double v)
{
    const int wide = qRound(v * 65535);
    return (wide + 0x80 - ((wide + 0x80) >> 8)) >> 8;
}

// Photoshop stores colours of partly transparent pixels blended with white; this undoes it.
inline int removeWhiteMatte(int c, int a)
{
    return quint8((255 * (c + a - 255)) / a);
}

} // namespace

InkTable::InkTable() : m_value(new uchar[256 * 256])
{
    for (int k = 0; k < 256; ++k)
        for (int ink = 0; ink < 256; ++ink)
            m_value[k * 256 + ink] = uchar(qRed(QColor::fromCmyk(255 - ink, 0, 0, 255 - k).rgba()));
}

LabTable::LabTable() : m_x(new double[256 * 256]), m_z(new double[256 * 256])
{
    for (int L = 0; L < 256; ++L) {
        const double l = L / 2.55;
        const double fy = (l + 16) / 116;
        m_y[L] = l > 0 ? fy * fy * fy : l / 903;
        for (int v = 0; v < 256; ++v) {
            const double fx = fy + (v - 128) / 500.0;
            const double fz = fy - (v - 128) / 200.0;
            const double x = fx * fx * fx > 0 ? fx * fx * fx : (116 * fx - 16) / 903;
            const double z = fz * fz * fz > 0 ? fz * fz * fz : (116 * fz - 16) / 903;
            m_x[L * 256 + v] = x * 0.9642;
            m_z[L * 256 + v] = z * 0.8249;
        }
    }
}

QRgb LabTable::operator()(int L, int a, int b, int alpha) const
{
    const double x = m_x[L * 256 + a], y = m_y[L], z = m_z[L * 256 + b];
    const auto gamma = [](double linear) {
        return std::clamp(std::sqrt(std::max(linear, 0.0)), 0.0, 1.0);
    };
    const double r = gamma(1.9624274 * x - 0.6105343 * y - 0.3413404 * z);
    const double g = gamma(-0.9787684 * x + 1.9161415 * y + 0.033454 * z);
    const double bl = gamma(0.0286869 * x - 0.1406752 * y + 1.3487655 * z);
    return qRgba(unitToByte(r), unitToByte(g), unitToByte(bl), alpha);
}

bool RowConverter::handles(const PsdHeader &h)
{
    return h.depth == 8 && canConvert(h) && h.mode != Bitmap && h.mode != Indexed;
}

RowConverter::RowConverter(const PsdHeader &h, qint64 pixels)
{
    const int c = h.channels;
    switch (h.mode) {
    case Rgb:
        m_kind = c == 3 ? Kind::Rgb : Kind::RgbAlpha;
        m_planes = c == 3 ? 3 : 4;
        break;
    case Cmyk:
    case Multichannel:
        m_kind = c == 1 ? Kind::Cmyk1 : c == 3 ? Kind::Cmyk3 : c == 4 ? Kind::Cmyk4 : Kind::Cmyk5;
        m_planes = c == 1 ? 1 : c == 3 ? 3 : c == 4 ? 4 : 5;
        break;
    case Lab:
        m_kind = c == 3 ? Kind::Lab : Kind::LabAlpha;
        m_planes = c == 3 ? 3 : 4;
        break;
    default: // gray and duotone
        m_kind = c == 1 || h.mode == Duotone ? Kind::Gray : Kind::GrayAlpha;
        m_planes = m_kind == Kind::Gray ? 1 : 2;
        break;
    }
    switch (m_kind) {
    case Kind::RgbAlpha:
        m_matte.reset(new uchar[256 * 256]);
        for (int a = 0; a < 256; ++a)
            for (int v = 0; v < 256; ++v)
                m_matte[a * 256 + v] = uchar(a == 0 ? v : removeWhiteMatte(v, a));
        break;
    case Kind::Cmyk1:
    case Kind::Cmyk3:
    case Kind::Cmyk4:
    case Kind::Cmyk5:
        m_ink.reset(new InkTable);
        break;
    case Kind::Lab:
    case Kind::LabAlpha:
        m_lab.reset(new LabTable);
        // Zeroed pages come from the system untouched; zero marks a colour not yet made.
        // Huge pages keep the table's colours in few translation entries.
        if (pixels >= kLabMemoPixels) {
            m_labMemo.reset(static_cast<quint32 *>(std::calloc(size_t(1) << 24, sizeof(quint32))));
            platform::adviseLargePages(m_labMemo.get(), quint64(sizeof(quint32)) << 24);
        }
        break;
    default:
        break;
    }
}

void RowConverter::lab(const uchar *const *rows, int width, QRgb *out, bool alpha)
{
    const uchar *L = rows[0], *a = rows[1], *b = rows[2], *t = alpha ? rows[3] : nullptr;
    const LabTable &table = *m_lab;
    quint32 *memo = m_labMemo.get();
    if (!memo) {
        for (int x = 0; x < width; ++x)
            out[x] = table(L[x], a[x], b[x], t ? t[x] : 255);
        return;
    }
    for (int x = 0; x < width; ++x) {
        quint32 &known = memo[quint32(L[x]) << 16 | quint32(a[x]) << 8 | b[x]];
        if (!known) known = table(L[x], a[x], b[x], 255); // opaque, so never zero
        out[x] = t ? (known & 0xffffffu) | quint32(t[x]) << 24 : known;
    }
}

void RowConverter::convert(const uchar *const *rows, int width, QRgb *out)
{
    const uchar *p0 = rows[0];
    switch (m_kind) {
    case Kind::Gray:
        for (int x = 0; x < width; ++x)
            out[x] = 0xff000000u | quint32(p0[x]) * 0x010101u;
        return;
    case Kind::GrayAlpha:
        for (int x = 0; x < width; ++x)
            out[x] = quint32(rows[1][x]) << 24 | quint32(p0[x]) * 0x010101u;
        return;
    case Kind::Rgb: {
        const uchar *g = rows[1], *b = rows[2];
        for (int x = 0; x < width; ++x)
            out[x] = 0xff000000u | quint32(p0[x]) << 16 | quint32(g[x]) << 8 | b[x];
        return;
    }
    case Kind::RgbAlpha: {
        const uchar *g = rows[1], *b = rows[2], *alpha = rows[3];
        for (int x = 0; x < width; ++x) {
            const uchar *matte = m_matte.get() + alpha[x] * 256;
            out[x] = qRgba(matte[p0[x]], matte[g[x]], matte[b[x]], alpha[x]);
        }
        return;
    }
    case Kind::Cmyk1:
        for (int x = 0; x < width; ++x)
            out[x] = (*m_ink)(p0[x], p0[x], p0[x], 255, 255);
        return;
    case Kind::Cmyk3:
        for (int x = 0; x < width; ++x)
            out[x] = (*m_ink)(p0[x], rows[1][x], rows[2][x], 255, 255);
        return;
    case Kind::Cmyk4:
        for (int x = 0; x < width; ++x)
            out[x] = (*m_ink)(p0[x], rows[1][x], rows[2][x], rows[3][x], 255);
        return;
    case Kind::Cmyk5:
        for (int x = 0; x < width; ++x)
            out[x] = (*m_ink)(p0[x], rows[1][x], rows[2][x], rows[3][x], rows[4][x]);
        return;
    case Kind::Lab:
        return lab(rows, width, out, false);
    case Kind::LabAlpha:
        return lab(rows, width, out, true);
    }
}

} // namespace psd
