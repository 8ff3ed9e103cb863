#include "PsdConvert.h"

#include "PsdLimits.h"
#include "PsdRowConverter.h"
#include "platform/LargePages.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace psd {

namespace {

// The samples of one pixel index i in every plane of 16 or 32 bits, stored planar.
// Documents of 8 bits are converted a row at a time by RowConverter.
struct Samples
{
    const uchar *plane[kMaxPlanesUsed] = {};

    // A 16-bit sample is reduced to 8 bits: v * 255 / 65535, truncated, exactly v / 257.
    // A 32-bit sample is linear light as a float: it is encoded for sRGB and clamped.
    template <int Depth> int at(int k, qint64 i) const
    {
        if constexpr (Depth == 16)
            return ((plane[k][2 * i] << 8) | plane[k][2 * i + 1]) / 257;
        else
            return linearToSrgbByte(floatSample(plane[k] + 4 * i));
    }
    template <int Depth> int alpha(int k, qint64 i) const
    {
        if constexpr (Depth == 32)
            return coverageByte(floatSample(plane[k] + 4 * i));
        else
            return at<Depth>(k, i);
    }
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

template <int Depth> void rgb(const PsdHeader &h, const Samples &s, QImage &image, Rows rows)
{
    if (h.channels == 3)
        return fill(
            image,
            [&](qint64 i) { return qRgb(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i)); },
            rows);
    fill(
        image,
        [&](qint64 i) {
            return qRgba(s.at<Depth>(0, i), s.at<Depth>(1, i), s.at<Depth>(2, i),
                         s.alpha<Depth>(3, i));
        },
        rows);
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

float floatSample(const uchar *p)
{
    const quint32 bits = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v == v ? v : 0.0f;
}

int linearToSrgbByte(float linear)
{
    const double v = std::clamp(double(linear), 0.0, 1.0);
    const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return qRound(encoded * 255);
}

int coverageByte(float v)
{
    return qRound(std::clamp(v, 0.0f, 1.0f) * 255.0f);
}

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
    QImage image(int(h.width), int(h.height), outputFormat(h));
    if (image.isNull()) return image;
    platform::adviseLargePages(image.bits(), quint64(image.sizeInBytes()));
    if (h.depth == 8) {
        RowConverter converter(h, qint64(h.width) * h.height);
        const uchar *rows[kMaxPlanesUsed] = {};
        for (int y = 0; y < image.height(); ++y) {
            for (int k = 0; k < converter.planes(); ++k)
                rows[k] = planes + quint64(k) * h.planeBytes() + quint64(y) * h.width;
            converter.convert(rows, image.width(), reinterpret_cast<QRgb *>(image.scanLine(y)));
        }
        return image;
    }
    Samples s;
    for (int k = 0; k < planesUsed(h); ++k)
        s.plane[k] = planes + quint64(k) * h.planeBytes();
    const Rows all{0, image.height()};
    if (h.depth == 16)
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
    // Each row's samples are taken apart into planes first, so the converter reads them
    // while they are still in cache and may write over them.
    RowConverter converter(h, qint64(picture.width()) * picture.height());
    const int width = picture.width();
    std::unique_ptr<uchar[]> planes(new uchar[size_t(width) * 4]);
    const uchar *rows[kMaxPlanesUsed] = {};
    for (int k = 0; k < 4; ++k)
        rows[k] = planes.get() + k * width;
    for (int y = 0; y < picture.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const uchar *samples = reinterpret_cast<const uchar *>(line);
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 4; ++k)
                planes[k * width + x] = samples[4 * x + k];
        converter.convert(rows, width, line);
    }
}

} // namespace psd
