#include "PsdConvert.h"

#include "PsdLimits.h"

#include <QColor>

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

// A 16-bit sample reduced to 8 bits: v * 255 / 65535, truncated, which is exactly v / 257.
template <int Depth>
inline int sample(const uchar *plane, qint64 i)
{
    if constexpr (Depth == 8)
        return plane[i];
    else
        return ((plane[2 * i] << 8) | plane[2 * i + 1]) / 257;
}

inline QRgb fromInvertedCmyk(int c, int m, int y, int k, int alpha)
{
    return QColor::fromCmyk(255 - c, 255 - m, 255 - y, 255 - k, alpha).rgba();
}

// Walks every pixel in row order, handing its index to pixel(i) and storing the result.
template <typename PixelFn>
QImage fill(const PsdHeader &h, QImage::Format format, PixelFn pixel)
{
    QImage image(int(h.width), int(h.height), format);
    if (image.isNull())
        return image;
    qint64 i = 0;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++i)
            line[x] = pixel(i);
    }
    return image;
}

QImage bitmap(const PsdHeader &h, const uchar *planes)
{
    const quint64 bytes = quint64(qMin<int>(h.channels, kMaxPlanesUsed)) * h.planeBytes();
    if (bytes > kMaxByteArray)
        return QImage();
    QByteArray pbm = QByteArray("P4\n") + QByteArray::number(h.width) + ' ' +
                     QByteArray::number(h.height) + '\n';
    pbm.append(reinterpret_cast<const char *>(planes), int(bytes));
    return QImage::fromData(pbm);
}

template <int Depth>
QImage grayscale(const PsdHeader &h, const uchar *p0, const uchar *p1)
{
    if (h.channels == 1)
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            const int g = sample<Depth>(p0, i);
            return qRgb(g, g, g);
        });
    return fill(h, QImage::Format_ARGB32, [&](qint64 i) {
        const int g = sample<Depth>(p0, i);
        return qRgba(g, g, g, sample<Depth>(p1, i));
    });
}

QImage indexed(const PsdHeader &h, const QByteArray &palette, const uchar *p0)
{
    QImage image(int(h.width), int(h.height), QImage::Format_Indexed8);
    if (image.isNull())
        return image;
    const int n = palette.size() / 3;
    const auto *pal = reinterpret_cast<const uchar *>(palette.constData());
    QVector<QRgb> colours(n);
    for (int i = 0; i < n; ++i)
        colours[i] = qRgb(pal[i], pal[n + i], pal[2 * n + i]);
    image.setColorTable(colours);
    for (int y = 0; y < image.height(); ++y)
        std::copy_n(p0 + qint64(y) * h.width, h.width, image.scanLine(y));
    return image;
}

// Photoshop stores colours of partly transparent pixels blended with white; this undoes it.
inline int removeWhiteMatte(int c, int a)
{
    return quint8((255 * (c + a - 255)) / a);
}

template <int Depth>
QImage rgb(const PsdHeader &h, const uchar *const *p)
{
    if (h.channels == 3)
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            return qRgb(sample<Depth>(p[0], i), sample<Depth>(p[1], i), sample<Depth>(p[2], i));
        });
    if constexpr (Depth == 16) {
        return fill(h, QImage::Format_ARGB32, [&](qint64 i) {
            return qRgba(sample<16>(p[0], i), sample<16>(p[1], i), sample<16>(p[2], i),
                         sample<16>(p[3], i));
        });
    } else {
        return fill(h, QImage::Format_ARGB32, [&](qint64 i) {
            const int r = p[0][i], g = p[1][i], b = p[2][i], a = p[3][i];
            if (a == 0)
                return qRgba(r, g, b, 0);
            return qRgba(removeWhiteMatte(r, a), removeWhiteMatte(g, a), removeWhiteMatte(b, a),
                         a);
        });
    }
}

template <int Depth>
QImage cmyk(const PsdHeader &h, const uchar *const *p)
{
    switch (h.channels) {
    case 1:
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            const int v = sample<Depth>(p[0], i);
            return fromInvertedCmyk(v, v, v, 255, 255);
        });
    case 3:
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            return fromInvertedCmyk(sample<Depth>(p[0], i), sample<Depth>(p[1], i),
                                    sample<Depth>(p[2], i), 255, 255);
        });
    case 4:
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            return fromInvertedCmyk(sample<Depth>(p[0], i), sample<Depth>(p[1], i),
                                    sample<Depth>(p[2], i), sample<Depth>(p[3], i), 255);
        });
    default:
        return fill(h, QImage::Format_ARGB32, [&](qint64 i) {
            const int a = sample<Depth>(p[4], i);
            return fromInvertedCmyk(sample<Depth>(p[0], i), sample<Depth>(p[1], i),
                                    sample<Depth>(p[2], i), sample<Depth>(p[3], i),
                                    Depth == 8 ? a : 255 - a);
        });
    }
}

template <int Depth>
QImage lab(const PsdHeader &h, const uchar *const *p)
{
    if (h.channels == 3)
        return fill(h, QImage::Format_RGB32, [&](qint64 i) {
            return labToRgba(sample<Depth>(p[0], i), sample<Depth>(p[1], i),
                             sample<Depth>(p[2], i), 255);
        });
    return fill(h, QImage::Format_ARGB32, [&](qint64 i) {
        return labToRgba(sample<Depth>(p[0], i), sample<Depth>(p[1], i), sample<Depth>(p[2], i),
                         sample<Depth>(p[3], i));
    });
}

} // namespace

QRgb labToRgba(double L, double a, double b, int alpha)
{
    const double l = L / 2.55;
    const double fy = (l + 16) / 116;
    const double fx = fy + (a - 128) / 500;
    const double fz = fy - (b - 128) / 200;

    const double y = l > 0 ? fy * fy * fy : l / 903;
    double x = fx * fx * fx > 0 ? fx * fx * fx : (116 * fx - 16) / 903;
    double z = fz * fz * fz > 0 ? fz * fz * fz : (116 * fz - 16) / 903;
    x *= 0.9642;
    z *= 0.8249;

    const auto gamma = [](double linear) {
        return std::clamp(std::sqrt(std::max(linear, 0.0)), 0.0, 1.0);
    };
    const double r = gamma(1.9624274 * x - 0.6105343 * y - 0.3413404 * z);
    const double g = gamma(-0.9787684 * x + 1.9161415 * y + 0.033454 * z);
    const double bl = gamma(0.0286869 * x - 0.1406752 * y + 1.3487655 * z);
    return QColor::fromRgbF(r, g, bl, alpha / 255.0).rgba();
}

bool canConvert(const PsdHeader &h)
{
    const int c = h.channels;
    const bool is8 = h.depth == 8, is16 = h.depth == 16;
    switch (h.mode) {
    case Bitmap:
        return true;
    case Grayscale:
        return is8 || is16;
    case Indexed:
        return is8 && c == 1;
    case Rgb:
        return (is8 || is16) && c >= 3;
    case Cmyk:
    case Multichannel:
        return (is8 && c != 2) || (is16 && c >= 4);
    case Duotone:
        return is8 && c == 1;
    case Lab:
        return (is8 || is16) && c >= 3;
    default:
        return false;
    }
}

quint64 outputBytes(const PsdHeader &h)
{
    if (h.mode == Bitmap)
        return (quint64(h.width) + 31) / 32 * 4 * h.height;
    if (h.mode == Indexed)
        return (quint64(h.width) + 3) / 4 * 4 * h.height;
    return quint64(h.width) * 4 * h.height;
}

QImage convertPlanes(const PsdHeader &h, const QByteArray &colourModeData, const uchar *planes)
{
    if (!canConvert(h))
        return QImage();
    const uchar *p[kMaxPlanesUsed] = {};
    const int stored = qMin<int>(h.channels, kMaxPlanesUsed);
    for (int i = 0; i < stored; ++i)
        p[i] = planes + quint64(i) * h.planeBytes();

    const bool is8 = h.depth == 8;
    switch (h.mode) {
    case Bitmap:
        return bitmap(h, planes);
    case Grayscale:
        return is8 ? grayscale<8>(h, p[0], p[1]) : grayscale<16>(h, p[0], p[1]);
    case Indexed:
        return indexed(h, colourModeData, p[0]);
    case Rgb:
        return is8 ? rgb<8>(h, p) : rgb<16>(h, p);
    case Cmyk:
    case Multichannel:
        return is8 ? cmyk<8>(h, p) : cmyk<16>(h, p);
    case Duotone:
        return grayscale<8>(h, p[0], nullptr);
    case Lab:
        return is8 ? lab<8>(h, p) : lab<16>(h, p);
    default:
        return QImage();
    }
}

} // namespace psd
