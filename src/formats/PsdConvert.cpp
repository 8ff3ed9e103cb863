#include "PsdConvert.h"

#include "PsdLimits.h"
#include "platform/LargePages.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace psd {

namespace {

// The samples of one pixel index i in every plane, stored planar (stride 1) or
// interleaved in the picture itself (stride 4, 8-bit only).
struct Samples
{
    const uchar *plane[kMaxPlanesUsed] = {};
    qint64 stride = 1;

    // A 16-bit sample is reduced to 8 bits: v * 255 / 65535, truncated, exactly v / 257.
    // A 32-bit sample is linear light as a float: it is encoded for sRGB and clamped.
    template <int Depth> int at(int k, qint64 i) const
    {
        if constexpr (Depth == 8)
            return plane[k][i * stride];
        else if constexpr (Depth == 16)
            return ((plane[k][2 * i] << 8) | plane[k][2 * i + 1]) / 257;
        else
            return toSrgb(floatAt(k, i));
    }
    // Transparency is not light: a 32-bit alpha is only clamped.
    template <int Depth> int alpha(int k, qint64 i) const
    {
        if constexpr (Depth == 32)
            return qRound(std::clamp(floatAt(k, i), 0.0f, 1.0f) * 255.0f);
        else
            return at<Depth>(k, i);
    }

private:
    float floatAt(int k, qint64 i) const
    {
        const uchar *p = plane[k] + 4 * i;
        const quint32 bits = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v == v ? v : 0.0f; // not a number counts as no light
    }
    static int toSrgb(float linear)
    {
        const double v = std::clamp(double(linear), 0.0, 1.0);
        const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        return qRound(encoded * 255);
    }
};

// QColor's CMYK conversion, looked up rather than computed per pixel: each of red, green
// and blue depends only on its own ink and black, so one table of stored (inverted) ink
// and black gives all three, exactly as QColor::fromCmyk makes them.
class InkTable
{
public:
    InkTable() : m_value(new uchar[256 * 256])
    {
        for (int ink = 0; ink < 256; ++ink)
            for (int k = 0; k < 256; ++k)
                m_value[ink * 256 + k] =
                    uchar(qRed(QColor::fromCmyk(255 - ink, 0, 0, 255 - k).rgba()));
    }
    QRgb operator()(int c, int m, int y, int k, int alpha) const
    {
        const uchar *row = m_value.get() + k;
        return qRgba(row[c * 256], row[m * 256], row[y * 256], alpha);
    }

private:
    std::unique_ptr<uchar[]> m_value;
};

// QColor::fromRgbF(v, ...).rgba() for one component in [0, 1]: to 16 bits, rounded, then
// to 8 bits as QColor divides by 257.
inline int unitToByte(double v)
{
    const int wide = qRound(v * 65535);
    return (wide + 0x80 - ((wide + 0x80) >> 8)) >> 8;
}

// labToRgba's arithmetic with the parts that depend on one or two samples looked up.
class LabTable
{
public:
    LabTable() : m_x(new double[256 * 256]), m_z(new double[256 * 256])
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
    QRgb operator()(int L, int a, int b, int alpha) const
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

private:
    double m_y[256];
    std::unique_ptr<double[]> m_x, m_z;
};

// Walks the pixels of rows first to last - 1, handing each one's index to pixel(i) and
// storing the result. In place, pixel(i) reads the bytes that the result then replaces.
struct Rows
{
    int first, last;
};

template <typename PixelFn> void fill(QImage &image, PixelFn pixel, Rows rows)
{
    qint64 i = qint64(rows.first) * image.width();
    for (int y = rows.first; y < rows.last; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++i)
            line[x] = pixel(i);
    }
}

QImage bitmap(const PsdHeader &h, const uchar *planes)
{
    const quint64 bytes = quint64(planesUsed(h)) * h.planeBytes();
    if (bytes > kMaxByteArray) return QImage();
    QByteArray pbm = QByteArray("P4\n") + QByteArray::number(h.width) + ' ' +
                     QByteArray::number(h.height) + '\n';
    pbm.append(reinterpret_cast<const char *>(planes), int(bytes));
    return QImage::fromData(pbm);
}

QImage indexed(const PsdHeader &h, const QByteArray &palette, const uchar *p0)
{
    QImage image(int(h.width), int(h.height), QImage::Format_Indexed8);
    if (image.isNull()) return image;
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

template <int Depth> void grayscale(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    if (h.channels == 1 || h.mode == Duotone)
        return fill(
            image,
            [&](qint64 i) {
                const int g = s.at<Depth>(0, i);
                return qRgb(g, g, g);
            },
            rows);
    fill(
        image,
        [&](qint64 i) {
            const int g = s.at<Depth>(0, i);
            return qRgba(g, g, g, s.alpha<Depth>(1, i));
        },
        rows);
}

// Photoshop stores colours of partly transparent pixels blended with white; this undoes it.
inline int removeWhiteMatte(int c, int a)
{
    return quint8((255 * (c + a - 255)) / a);
}

template <int Depth> void rgb(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    if (h.channels == 3)
        return fill(
            image,
            [&](qint64 i) { return qRgb(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i)); },
            rows);
    if constexpr (Depth != 8) {
        fill(
            image,
            [&](qint64 i) {
                return qRgba(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                             s.alpha<Depth>(3, i));
            },
            rows);
    } else {
        fill(
            image,
            [&](qint64 i) {
                const int r = s.at<8>(0, i), g = s.at<8>(1, i), b = s.at<8>(2, i),
                          a = s.at<8>(3, i);
                if (a == 0) return qRgba(r, g, b, 0);
                return qRgba(removeWhiteMatte(r, a), removeWhiteMatte(g, a), removeWhiteMatte(b, a),
                             a);
            },
            rows);
    }
}

template <int Depth> void cmyk(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    const InkTable fromInvertedCmyk;
    switch (h.channels) {
    case 1:
        return fill(
            image,
            [&](qint64 i) {
                const int v = s.at<Depth>(0, i);
                return fromInvertedCmyk(v, v, v, 255, 255);
            },
            rows);
    case 3:
        return fill(
            image,
            [&](qint64 i) {
                return fromInvertedCmyk(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                                        255, 255);
            },
            rows);
    case 4:
        return fill(
            image,
            [&](qint64 i) {
                return fromInvertedCmyk(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                                        s.at<Depth>(3, i), 255);
            },
            rows);
    default:
        return fill(
            image,
            [&](qint64 i) {
                const int a = s.at<Depth>(4, i);
                return fromInvertedCmyk(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                                        s.at<Depth>(3, i), Depth == 8 ? a : 255 - a);
            },
            rows);
    }
}

template <int Depth> void lab(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    const LabTable labToRgba;
    if (h.channels == 3)
        return fill(
            image,
            [&](qint64 i) {
                return labToRgba(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i), 255);
            },
            rows);
    fill(
        image,
        [&](qint64 i) {
            return labToRgba(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                             s.at<Depth>(3, i));
        },
        rows);
}

template <int Depth> void convert(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    switch (h.mode) {
    case Grayscale:
    case Duotone:
        return grayscale<Depth>(h, s, image, rows);
    case Rgb:
        return rgb<Depth>(h, s, image, rows);
    default:
        break;
    }
    // Documents of 32 bits are gray or RGB only.
    if constexpr (Depth != 32) {
        switch (h.mode) {
        case Cmyk:
        case Multichannel:
            return cmyk<Depth>(h, s, image, rows);
        case Lab:
            return lab<Depth>(h, s, image, rows);
        default:
            return;
        }
    }
}

QImage::Format outputFormat(const PsdHeader &h)
{
    const int c = h.channels;
    switch (h.mode) {
    case Grayscale:
        return c >= 2 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    case Rgb:
    case Lab:
        return c >= 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    case Cmyk:
    case Multichannel:
        return c >= 5 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    default:
        return QImage::Format_RGB32;
    }
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
    const bool is8 = h.depth == 8, is16 = h.depth == 16, is32 = h.depth == 32;
    switch (h.mode) {
    case Bitmap:
        return true;
    case Grayscale:
        return is8 || is16 || is32;
    case Indexed:
        return is8 && c == 1;
    case Rgb:
        return (is8 || is16 || is32) && c >= 3;
    case Cmyk:
    case Multichannel:
        return (is8 || is16) && c != 2;
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
    if (h.mode == Bitmap) return (quint64(h.width) + 31) / 32 * 4 * h.height;
    if (h.mode == Indexed) return (quint64(h.width) + 3) / 4 * 4 * h.height;
    return quint64(h.width) * 4 * h.height;
}

int colourChannels(const PsdHeader &h)
{
    switch (h.mode) {
    case Rgb:
    case Lab:
        return 3;
    case Cmyk:
        return 4;
    case Multichannel:
        return h.channels;
    default:
        return 1;
    }
}

int planesUsed(const PsdHeader &h)
{
    return qMin<int>(h.channels, kMaxPlanesUsed);
}

QImage convertPlanes(const PsdHeader &h, const QByteArray &colourModeData, const uchar *planes)
{
    if (!canConvert(h)) return QImage();
    if (h.mode == Bitmap) return bitmap(h, planes);
    if (h.mode == Indexed) return indexed(h, colourModeData, planes);
    Samples s;
    for (int k = 0; k < planesUsed(h); ++k)
        s.plane[k] = planes + quint64(k) * h.planeBytes();
    QImage image(int(h.width), int(h.height), outputFormat(h));
    if (image.isNull()) return image;
    platform::adviseLargePages(image.bits(), quint64(image.sizeInBytes()));
    const Rows all{0, image.height()};
    if (h.depth == 8)
        convert<8>(h, s, image, all);
    else if (h.depth == 16)
        convert<16>(h, s, image, all);
    else
        convert<32>(h, s, image, all);
    return image;
}

bool convertsInPlace(const PsdHeader &h)
{
    if (!canConvert(h) || h.depth != 8) return false;
    switch (h.mode) {
    case Grayscale:
    case Rgb:
    case Lab:
    case Duotone:
        return true;
    case Cmyk:
    case Multichannel:
        return h.channels <= 4;
    default:
        return false;
    }
}

QImage interleavedPicture(const PsdHeader &h)
{
    QImage image(int(h.width), int(h.height), outputFormat(h));
    // The decoder fills the pixels as one run of width x 4 bytes per row.
    if (image.isNull() || image.bytesPerLine() != qsizetype(h.width) * 4) return QImage();
    platform::adviseLargePages(image.bits(), quint64(image.sizeInBytes()));
    return image;
}

void convertInPlace(const PsdHeader &h, QImage &picture)
{
    Samples s;
    s.stride = 4;
    for (int k = 0; k < 4; ++k)
        s.plane[k] = picture.constBits() + k;
    convert<8>(h, s, picture, Rows{0, picture.height()});
}

} // namespace psd
