#include "platform/decoders/BmpHandler.h"

#include "platform/decoders/DecoderLimits.h"

#include <QIODevice>
#include <QImage>
#include <QVariant>

namespace platform::decoders {

namespace {

constexpr int FileHeaderSize = 14;
// The file header, the largest info header, four masks and a full palette.
constexpr int MaxHeadBytes = FileHeaderSize + 124 + 16 + 256 * 4;

constexpr quint32 CompressionRle8 = 1;
constexpr quint32 CompressionRle4 = 2;
constexpr quint32 CompressionBitFields = 3;
constexpr quint32 CompressionAlphaBitFields = 6;

const QString Damaged = QStringLiteral("its data cannot be decoded");
const QString TooShort = QStringLiteral("its header claims more data than the file holds");

bool knownInfoSize(quint32 size)
{
    switch (size) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        return true;
    default:
        return false;
    }
}

quint16 u16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}

quint32 u32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// One colour channel of a bit field: its value scaled to the full 0..255 range, so that the
// largest value of a 5-bit or 6-bit field is 255 as the file's writer meant.
struct Channel
{
    explicit Channel(quint32 mask) : mask(mask)
    {
        if (!mask) return;
        while (!(mask >> shift & 1))
            ++shift;
        max = mask >> shift;
    }
    int operator()(quint32 pixel) const
    {
        if (!max) return 0;
        const quint64 value = (pixel & mask) >> shift;
        return int((value * 255 + max / 2) / max);
    }
    quint32 mask;
    int shift = 0;
    quint64 max = 0;
};

void decodeRunLength(const uchar *data, qint64 size, const BmpHeader &header, QImage *image)
{
    const bool four = header.compression == CompressionRle4;
    const int w = header.width, h = header.height;
    const QVector<QRgb> &palette = header.palette;
    qint64 x = 0, row = 0, pos = 0;
    auto put = [&](int index) {
        if (x < w && row < h) {
            const int y = header.topDown ? int(row) : h - 1 - int(row);
            reinterpret_cast<QRgb *>(image->scanLine(y))[x] =
                index < palette.size() ? palette.at(index) : qRgb(0, 0, 0);
        }
        ++x;
    };
    while (pos + 1 < size && row < h) {
        const int count = data[pos], code = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(four ? (i & 1 ? code & 15 : code >> 4) : code);
        } else if (code == 0) {
            x = 0;
            ++row;
        } else if (code == 1) {
            break;
        } else if (code == 2) {
            if (pos + 1 >= size) break;
            x += data[pos];
            row += data[pos + 1];
            pos += 2;
        } else {
            const qint64 bytes = four ? (code + 1) / 2 : code;
            // Data that ends inside a packet ends the picture: what is left stays transparent.
            if (pos + bytes > size) break;
            for (int i = 0; i < code && x < w; ++i)
                put(four ? (i & 1 ? data[pos + i / 2] & 15 : data[pos + i / 2] >> 4)
                         : data[pos + i]);
            pos += bytes + (bytes & 1);
        }
    }
}

void decodeRows(const uchar *data, const BmpHeader &header, QImage *image)
{
    const int w = header.width, h = header.height, bits = header.bits;
    const qint64 rowBytes = (qint64(w) * bits + 31) / 32 * 4;
    const Channel red(header.masks[0]), green(header.masks[1]), blue(header.masks[2]),
        alpha(header.masks[3]);
    const QVector<QRgb> &palette = header.palette;
    for (int r = 0; r < h; ++r) {
        const uchar *in = data + r * rowBytes;
        QRgb *out = reinterpret_cast<QRgb *>(image->scanLine(header.topDown ? r : h - 1 - r));
        if (bits <= 8) {
            const int perByte = 8 / bits, valueMask = (1 << bits) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                const int index = in[x / perByte] >> shift & valueMask;
                out[x] = index < palette.size() ? palette.at(index) : qRgb(0, 0, 0);
            }
        } else if (bits == 24) {
            for (int x = 0; x < w; ++x, in += 3)
                out[x] = qRgb(in[2], in[1], in[0]);
        } else {
            const bool opaque = !header.masks[3];
            for (int x = 0; x < w; ++x) {
                const quint32 v = bits == 16 ? u16(in + 2 * x) : u32(in + 4 * x);
                out[x] = qRgba(red(v), green(v), blue(v), opaque ? 255 : alpha(v));
            }
        }
    }
}

} // namespace

bool BmpHandler::canRead(QIODevice *device)
{
    if (!device) return false;
    const QByteArray head = device->peek(FileHeaderSize + 4);
    if (head.size() < FileHeaderSize + 4 || !head.startsWith("BM")) return false;
    return knownInfoSize(u32(reinterpret_cast<const uchar *>(head.constData()) + 14));
}

bool BmpHandler::parseHeader(const QByteArray &data, qint64 fileSize, BmpHeader *header,
                             QString *why)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qint64 n = data.size();
    if (n < FileHeaderSize + 4 || p[0] != 'B' || p[1] != 'M') {
        *why = QStringLiteral("it is not a BMP file");
        return false;
    }
    const quint32 infoSize = u32(p + 14);
    if (!knownInfoSize(infoSize)) {
        *why = QStringLiteral("its header has an unknown size");
        return false;
    }
    if (n < FileHeaderSize + qint64(infoSize)) {
        *why = TooShort;
        return false;
    }
    const uchar *info = p + FileHeaderSize;
    BmpHeader h;
    h.pixelsAt = u32(p + 10);
    qint64 height = 0;
    int planes = 0;
    if (infoSize == 12) {
        h.width = u16(info + 4);
        height = u16(info + 6);
        planes = u16(info + 8);
        h.bits = u16(info + 10);
    } else {
        h.width = qint32(u32(info + 4));
        height = qint32(u32(info + 8));
        planes = u16(info + 12);
        h.bits = u16(info + 14);
        if (infoSize >= 20) h.compression = u32(info + 16);
    }
    const bool os2 = infoSize == 16 || infoSize == 64;
    if (height < 0) {
        h.topDown = true;
        height = -height;
    }
    if (h.width <= 0 || height == 0 || h.width > MaxSide || height > MaxSide) {
        *why = h.width <= 0 || height == 0 ? Damaged
                                           : QStringLiteral("it is larger than can be opened");
        return false;
    }
    // The header alone tells the size of a picture too large to open; reading it is refused.
    if (fileSize >= 0 && !fitsLimits(h.width, int(height))) {
        *why = QStringLiteral("it is larger than can be opened");
        return false;
    }
    h.height = int(height);
    if (planes != 1 && planes != 0) {
        *why = Damaged;
        return false;
    }
    // OS/2's 3 and 4 are Huffman and 24-bit runs; 4 and 5 elsewhere embed JPEG and PNG.
    if ((os2 && h.compression > CompressionRle4) || h.compression == 4 || h.compression == 5 ||
        h.compression > CompressionAlphaBitFields) {
        *why = QStringLiteral("its compression is not one that BMP readers know");
        return false;
    }
    const bool fields =
        h.compression == CompressionBitFields || h.compression == CompressionAlphaBitFields;
    const bool bitsOk = h.compression == CompressionRle8   ? h.bits == 8
                        : h.compression == CompressionRle4 ? h.bits == 4
                        : fields                           ? h.bits == 16 || h.bits == 32
                                 : h.bits == 1 || h.bits == 2 || h.bits == 4 || h.bits == 8 ||
                                       h.bits == 16 || h.bits == 24 || h.bits == 32;
    if (!bitsOk) {
        *why = QStringLiteral("its depth does not fit its compression");
        return false;
    }

    qint64 paletteAt = FileHeaderSize + infoSize;
    if (fields) {
        // A 40-byte header is followed by the masks; larger ones hold them.
        const int count = h.compression == CompressionAlphaBitFields ? 4 : 3;
        const uchar *at = info + 40;
        if (infoSize == 40) {
            paletteAt += 4 * count;
            if (n < paletteAt) {
                *why = TooShort;
                return false;
            }
        }
        const int held = infoSize == 40 ? count : infoSize == 52 ? 3 : 4;
        for (int i = 0; i < held; ++i)
            h.masks[i] = u32(at + 4 * i);
    } else if (h.bits == 16) {
        h.masks[0] = 0x7c00;
        h.masks[1] = 0x03e0;
        h.masks[2] = 0x001f;
    } else if (h.bits == 32) {
        h.masks[0] = 0xff0000;
        h.masks[1] = 0x00ff00;
        h.masks[2] = 0x0000ff;
    }
    if (h.pixelsAt < paletteAt) {
        *why = QStringLiteral("its pixels lie inside its header");
        return false;
    }
    if (h.bits <= 8) {
        const int entry = infoSize == 12 ? 3 : 4;
        const quint32 used = infoSize >= 36 ? u32(info + 32) : 0;
        qint64 count = used && used < (1u << h.bits) ? used : 1 << h.bits;
        count = qMin(count, (h.pixelsAt - paletteAt) / entry);
        if (n < paletteAt + count * entry) {
            *why = TooShort;
            return false;
        }
        h.palette.resize(int(count));
        for (int i = 0; i < count; ++i) {
            const uchar *e = p + paletteAt + i * entry;
            h.palette[i] = qRgb(e[2], e[1], e[0]);
        }
    }
    if (fileSize >= 0) {
        const qint64 data = fileSize - h.pixelsAt;
        const qint64 count = qint64(h.width) * h.height;
        const qint64 rowBytes = (qint64(h.width) * h.bits + 31) / 32 * 4;
        const qint64 lastRow = (qint64(h.width) * h.bits + 7) / 8;
        // A run gives at most 255 pixels for two bytes.
        const bool holds = h.runLength() ? data > 0 && count <= data * 256
                                         : data >= rowBytes * (h.height - 1) + lastRow;
        if (!holds) {
            *why = TooShort;
            return false;
        }
    }
    *header = h;
    return true;
}

QImage BmpHandler::decode(const QByteArray &file, const BmpHeader &header, QString *why)
{
    QImage image(header.width, header.height,
                 header.hasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        *why = QStringLiteral("there is not enough memory to open it");
        return {};
    }
    const auto *data = reinterpret_cast<const uchar *>(file.constData()) + header.pixelsAt;
    if (header.runLength()) {
        // Skipped pixels are transparent, never what the memory held before.
        image.fill(0);
        decodeRunLength(data, file.size() - header.pixelsAt, header, &image);
    } else {
        decodeRows(data, header, &image);
    }
    return image;
}

bool BmpHandler::readHeader() const
{
    if (m_state) return m_state > 0;
    QIODevice *d = device();
    m_state = -1;
    if (!d) return false;
    // The size is told from the header alone; whether the file holds the pixels, and whether
    // they can be held in memory, is read()'s question.
    if (!parseHeader(d->peek(MaxHeadBytes), -1, &m_header, &m_error)) return false;
    m_state = 1;
    return true;
}

bool BmpHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("picsage-bmp");
    return true;
}

bool BmpHandler::read(QImage *image)
{
    if (!readHeader()) return false;
    const QByteArray file = device()->readAll();
    BmpHeader header;
    // Checked again against what was really read (a sequential device's length is unknown).
    if (!parseHeader(file, file.size(), &header, &m_error)) return false;
    const QImage decoded = decode(file, header, &m_error);
    if (decoded.isNull()) return false;
    *image = decoded;
    return true;
}

bool BmpHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat || option == Description;
}

QVariant BmpHandler::option(ImageOption option) const
{
    if (option == Description)
        return m_error.isEmpty() ? QVariant() : QVariant(QStringLiteral("Damage: ") + m_error);
    if (!readHeader()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    if (option == ImageFormat)
        return m_header.hasAlpha() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    return {};
}

} // namespace platform::decoders
