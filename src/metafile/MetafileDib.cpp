#include "MetafileDib.h"

#include "MetafileLimits.h"

#include <QBuffer>
#include <QImageReader>
#include <QVector>

namespace metafile {

namespace {

enum Compression : quint32 { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, Jpeg = 4, Png = 5 };

struct DibHeader
{
    quint32 headerSize = 0;
    qint64 width = 0, height = 0;
    bool topDown = false;
    int bitCount = 0;
    quint32 compression = Rgb;
    quint32 colorsUsed = 0;
    int paletteEntrySize = 4;
};

bool readHeader(MetafileBytes info, DibHeader &h)
{
    h.headerSize = info.u32(0);
    if (h.headerSize == 12 && info.has(0, 12)) {
        h.width = info.u16(4);
        h.height = info.u16(6);
        h.bitCount = info.u16(10);
        h.paletteEntrySize = 3;
    } else if (h.headerSize >= 40 && info.has(0, h.headerSize)) {
        h.width = info.i32(4);
        h.height = info.i32(8);
        h.bitCount = info.u16(14);
        h.compression = info.u32(16);
        h.colorsUsed = info.u32(32);
    } else {
        return false;
    }
    if (h.height < 0) {
        h.topDown = true;
        h.height = -h.height;
    }
    if (h.width < 1 || h.height < 1 || h.width > limits::MaxBitmapSide ||
        h.height > limits::MaxBitmapSide || h.width * h.height > limits::MaxBitmapPixels)
        return false;
    switch (h.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    case 0:
        return h.compression == Jpeg || h.compression == Png;
    default:
        return false;
    }
    return true;
}

quint32 paletteOffset(const DibHeader &h)
{
    return h.headerSize + (h.compression == BitFields && h.headerSize == 40 ? 12 : 0);
}

int paletteCount(const DibHeader &h)
{
    if (h.bitCount > 8) return 0;
    const quint32 full = 1u << h.bitCount;
    return int(h.colorsUsed > 0 && h.colorsUsed < full ? h.colorsUsed : full);
}

QVector<QRgb> readPalette(MetafileBytes info, const DibHeader &h)
{
    QVector<QRgb> palette(1 << (h.bitCount <= 8 ? h.bitCount : 0), qRgb(0, 0, 0));
    const int count = paletteCount(h);
    const quint32 at = paletteOffset(h);
    for (int i = 0; i < count && i < palette.size(); ++i) {
        const quint64 o = at + quint64(i) * quint64(h.paletteEntrySize);
        if (!info.has(o, 3)) break;
        palette[i] = qRgb(info.u8(o + 2), info.u8(o + 1), info.u8(o));
    }
    return palette;
}

// One channel of a bit-field pixel scaled to 8 bits.
struct Channel
{
    quint32 mask = 0;
    int shift = 0;
    quint32 max = 0;

    explicit Channel(quint32 m = 0) : mask(m)
    {
        if (!mask) return;
        while (!((mask >> shift) & 1))
            ++shift;
        max = mask >> shift;
    }
    int value(quint32 pixel) const
    {
        if (!max) return 0;
        return int((quint64((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

// Expands run-length coded indices into one byte per pixel, bottom-up as stored.
bool expandRle(MetafileBytes bits, const DibHeader &h, QByteArray &out)
{
    const int w = int(h.width), rows = int(h.height);
    out = QByteArray(w * rows, '\0');
    int x = 0, y = 0;
    quint32 p = 0;
    const bool four = h.compression == Rle4;
    auto put = [&](int index) {
        if (x < w && y < rows) out[y * w + x] = char(index);
        ++x;
    };
    while (p + 2 <= bits.size() && y < rows) {
        const int count = bits.u8(p), value = bits.u8(p + 1);
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(four ? (i & 1 ? value & 0x0F : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (p + 2 > bits.size()) break;
            x += bits.u8(p);
            y += bits.u8(p + 1);
            p += 2;
        } else {
            const int n = value;
            const quint32 bytes = four ? quint32((n + 1) / 2) : quint32(n);
            if (!bits.has(p, bytes)) break;
            for (int i = 0; i < n && x < w; ++i) {
                const int b = bits.u8(p + quint32(four ? i / 2 : i));
                put(four ? (i & 1 ? b & 0x0F : b >> 4) : b);
            }
            p += (bytes + 1) & ~1u;
        }
    }
    return true;
}

bool spend(qint64 *budget, qint64 pixels)
{
    if (!budget) return true;
    if (pixels > *budget) return false;
    *budget -= pixels;
    return true;
}

QImage decodeCompressed(MetafileBytes bits, qint64 *budget)
{
    QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char *>(bits.data()), int(bits.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > limits::MaxBitmapSide ||
        size.height() > limits::MaxBitmapSide ||
        qint64(size.width()) * size.height() > limits::MaxBitmapPixels ||
        !spend(budget, qint64(size.width()) * size.height()))
        return {};
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

quint32 dibInfoSize(MetafileBytes info)
{
    DibHeader h;
    if (!readHeader(info, h)) return 0;
    const quint64 size = paletteOffset(h) + quint64(paletteCount(h)) * quint64(h.paletteEntrySize);
    return info.has(0, size) ? quint32(size) : 0;
}

QImage decodeDib(MetafileBytes info, MetafileBytes bits, bool keepAlpha, qint64 *budget)
{
    DibHeader h;
    if (!readHeader(info, h)) return {};
    if (h.compression == Jpeg || h.compression == Png) return decodeCompressed(bits, budget);
    if (!spend(budget, h.width * h.height)) return {};

    const int w = int(h.width), rows = int(h.height);
    QByteArray expanded;
    MetafileBytes source = bits;
    quint64 stride = (quint64(w) * quint64(h.bitCount) + 31) / 32 * 4;
    if (h.compression == Rle8 || h.compression == Rle4) {
        if (h.bitCount != (h.compression == Rle8 ? 8 : 4)) return {};
        expandRle(bits, h, expanded);
        source = MetafileBytes(reinterpret_cast<const uchar *>(expanded.constData()),
                               quint32(expanded.size()));
        stride = quint64(w);
        h.bitCount = 8;
        h.topDown = false;
    } else if (h.compression != Rgb && h.compression != BitFields) {
        return {};
    }
    if (!source.has(0, stride * quint64(rows))) return {};

    QImage image(w, rows, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    const QVector<QRgb> palette = readPalette(info, h);
    Channel red(0x7C00), green(0x03E0), blue(0x001F), alpha;
    if (h.bitCount == 32) {
        red = Channel(0x00FF0000);
        green = Channel(0x0000FF00);
        blue = Channel(0x000000FF);
        if (keepAlpha) alpha = Channel(0xFF000000);
    }
    if (h.compression == BitFields && info.has(40, 12)) {
        red = Channel(info.u32(40));
        green = Channel(info.u32(44));
        blue = Channel(info.u32(48));
        if (keepAlpha && h.headerSize >= 56) alpha = Channel(info.u32(52));
    }

    for (int y = 0; y < rows; ++y) {
        const uchar *row = source.data() + stride * quint64(h.topDown ? y : rows - 1 - y);
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            switch (h.bitCount) {
            case 1:
                out[x] = palette.value((row[x >> 3] >> (7 - (x & 7))) & 1);
                break;
            case 4:
                out[x] = palette.value((row[x >> 1] >> (x & 1 ? 0 : 4)) & 0x0F);
                break;
            case 8:
                out[x] = palette.value(row[x]);
                break;
            case 16:
            case 32: {
                const quint32 pixel = h.bitCount == 16
                                          ? quint32(row[2 * x] | row[2 * x + 1] << 8)
                                          : quint32(row[4 * x]) | quint32(row[4 * x + 1]) << 8 |
                                                quint32(row[4 * x + 2]) << 16 |
                                                quint32(row[4 * x + 3]) << 24;
                out[x] = qRgba(red.value(pixel), green.value(pixel), blue.value(pixel),
                               alpha.mask ? alpha.value(pixel) : 255);
                break;
            }
            case 24:
                out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                break;
            }
        }
    }
    return image;
}

QImage decodePackedDib(MetafileBytes packed, bool keepAlpha, qint64 *budget)
{
    const quint32 infoSize = dibInfoSize(packed);
    if (!infoSize) return {};
    return decodeDib(packed.sub(0, infoSize), packed.sub(infoSize, packed.size() - infoSize),
                     keepAlpha, budget);
}

} // namespace metafile
