#include "platform/decoders/TgaHandler.h"

#include "platform/decoders/ByteSource.h"
#include "platform/decoders/DecoderLimits.h"

#include <QVariant>
#include <algorithm>
#include <cstring>

namespace platform::decoders {

namespace {

constexpr int HeaderSize = 18;
constexpr int FooterSize = 26;
constexpr int ExtensionAreaSize = 495;
constexpr char FooterSignature[] = "TRUEVISION-XFILE.";

enum Kind { Mapped = 1, TrueColour = 2, Grey = 3 };

int kindOf(const TgaHandler::Header &h)
{
    return h.imageType & 7;
}
bool runLength(const TgaHandler::Header &h)
{
    return h.imageType & 8;
}
int pixelBytes(const TgaHandler::Header &h)
{
    return (h.depth + 7) / 8;
}
int mapEntryBytes(const TgaHandler::Header &h)
{
    return (h.mapEntryBits + 7) / 8;
}
bool validMapEntry(int bits)
{
    return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

TgaHandler::Header parseHeader(const uchar *p)
{
    TgaHandler::Header h;
    h.idLength = p[0];
    h.mapType = p[1];
    h.imageType = p[2];
    h.mapFirst = quint16(p[3] | p[4] << 8);
    h.mapLength = quint16(p[5] | p[6] << 8);
    h.mapEntryBits = p[7];
    h.width = quint16(p[12] | p[13] << 8);
    h.height = quint16(p[14] | p[15] << 8);
    h.depth = p[16];
    h.descriptor = p[17];
    return h;
}

// Whether the types and depths agree with one another.
bool consistent(const TgaHandler::Header &h)
{
    if (h.mapType > 1) return false;
    if (h.imageType != 1 && h.imageType != 2 && h.imageType != 3 && h.imageType != 9 &&
        h.imageType != 10 && h.imageType != 11)
        return false;
    if (h.mapType == 1 && !validMapEntry(h.mapEntryBits)) return false;
    switch (kindOf(h)) {
    case Mapped:
        return h.mapType == 1 && h.mapLength > 0 && (h.depth == 8 || h.depth == 16);
    case TrueColour:
        return h.depth == 15 || h.depth == 16 || h.depth == 24 || h.depth == 32;
    default:
        return h.depth == 8 || h.depth == 16;
    }
}

qint64 pixelDataOffset(const TgaHandler::Header &h)
{
    const qint64 map = h.mapType == 1 ? qint64(h.mapLength) * mapEntryBytes(h) : 0;
    return HeaderSize + h.idLength + map;
}

// The fewest bytes that can hold the picture's pixels: every pixel for raw data, one packet
// of 128 pixels per header and pixel for run-length data.
qint64 leastPixelBytes(const TgaHandler::Header &h)
{
    const qint64 pixels = qint64(h.width) * h.height;
    if (!runLength(h)) return pixels * pixelBytes(h);
    return (pixels + 127) / 128 * (1 + pixelBytes(h));
}

// Whether the picture's pixels or map entries carry attribute bits at all.
bool carriesAttributeBits(const TgaHandler::Header &h)
{
    const int bits = kindOf(h) == Mapped ? h.mapEntryBits : h.depth;
    return bits == 16 || bits == 32;
}

// The extension area's attributes type (offset 494 of the area), or -1 when the file has no
// TGA 2.0 footer pointing at a whole extension area.
int attributesType(const QByteArray &bytes)
{
    const qint64 size = bytes.size();
    if (size < HeaderSize + FooterSize) return -1;
    const char *footer = bytes.constData() + size - FooterSize;
    if (std::memcmp(footer + 8, FooterSignature, sizeof FooterSignature) != 0) return -1;
    const auto *p = reinterpret_cast<const uchar *>(footer);
    const quint32 offset =
        quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    if (offset < HeaderSize || qint64(offset) + ExtensionAreaSize > size - FooterSize) return -1;
    const auto *area = reinterpret_cast<const uchar *>(bytes.constData()) + offset;
    if ((area[0] | area[1] << 8) < ExtensionAreaSize) return -1;
    return area[494];
}

quint8 widen5(unsigned v)
{
    return quint8(v << 3 | v >> 2);
}

// A colour of 15/16/24/32 bits as written, alpha taken from the attribute bits.
QRgb colourAt(const uchar *p, int bits)
{
    switch (bits) {
    case 15:
    case 16: {
        const unsigned v = p[0] | p[1] << 8;
        return qRgba(widen5(v >> 10 & 31), widen5(v >> 5 & 31), widen5(v & 31),
                     v & 0x8000 ? 255 : 0);
    }
    case 24:
        return qRgb(p[2], p[1], p[0]);
    default:
        return qRgba(p[2], p[1], p[0], p[3]);
    }
}

bool analyse(const QByteArray &bytes, TgaHandler::Header *h, QString *error)
{
    if (bytes.size() < HeaderSize) {
        *error = refusal::notFormat("TGA");
        return false;
    }
    *h = parseHeader(reinterpret_cast<const uchar *>(bytes.constData()));
    if (!consistent(*h)) {
        *error = refusal::damaged();
        return false;
    }
    if (!fitsLimits(h->width, h->height)) {
        *error =
            h->width && h->height ? refusal::tooLarge(h->width, h->height) : refusal::damaged();
        return false;
    }
    h->dataOffset = pixelDataOffset(*h);
    if (h->dataOffset + leastPixelBytes(*h) > bytes.size()) {
        *error = refusal::truncated();
        return false;
    }
    const int type = attributesType(bytes);
    h->extensionArea = type >= 0;
    const bool saysAlpha = h->extensionArea ? type == 3 || type == 4 : (h->descriptor & 15) > 0;
    h->alpha = carriesAttributeBits(*h) && saysAlpha;
    h->premultiplied = h->alpha && type == 4;
    return true;
}

quint8 unpremultiplied(int c, int a)
{
    return quint8(qMin(255, (c * 255 + a / 2) / a));
}

// Reads the pixels in file order and places them by the descriptor's origin.
class PixelPlacer
{
public:
    PixelPlacer(QImage &image, quint8 descriptor)
        : m_image(image), m_width(image.width()), m_height(image.height()),
          m_rightToLeft(descriptor & 0x10), m_topDown(descriptor & 0x20)
    {
    }
    bool done() const { return m_row == m_height; }
    qint64 left() const { return qint64(m_height - m_row) * m_width - m_column; }
    void put(QRgb colour)
    {
        if (m_column == 0) {
            const int y = m_topDown ? m_row : m_height - 1 - m_row;
            m_line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
        }
        m_line[m_rightToLeft ? m_width - 1 - m_column : m_column] = colour;
        if (++m_column == m_width) {
            m_column = 0;
            ++m_row;
        }
    }

private:
    QImage &m_image;
    const int m_width, m_height;
    const bool m_rightToLeft, m_topDown;
    QRgb *m_line = nullptr;
    int m_row = 0, m_column = 0;
};

bool decode(const QByteArray &bytes, const TgaHandler::Header &h, QImage *out, QString *error)
{
    ByteSource source(bytes);
    QVector<QRgb> map;
    if (kindOf(h) == Mapped) {
        source.seek(HeaderSize + h.idLength);
        map.resize(h.mapLength);
        for (QRgb &entry : map)
            entry = colourAt(source.take(mapEntryBytes(h)), h.mapEntryBits);
    }
    source.seek(h.dataOffset);

    const int bytesPerPixel = pixelBytes(h);
    const QRgb opaque = h.alpha ? 0 : 0xff000000;
    auto colourOf = [&](const uchar *p) -> QRgb {
        switch (kindOf(h)) {
        case Mapped: {
            const int index = (h.depth == 16 ? p[0] | p[1] << 8 : p[0]) - h.mapFirst;
            return index >= 0 && index < map.size() ? map[index] | opaque : qRgb(0, 0, 0);
        }
        case TrueColour:
            return colourAt(p, h.depth) | opaque;
        default:
            return qRgba(p[0], p[0], p[0], h.depth == 16 ? p[1] : 255) | opaque;
        }
    };

    QImage image(h.width, h.height, h.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        *error = refusal::tooLarge(h.width, h.height);
        return false;
    }
    PixelPlacer placer(image, h.descriptor);
    while (!placer.done()) {
        qint64 count = 1;
        bool run = true;
        if (runLength(h)) {
            const uchar *packet = source.take(1);
            if (!packet) break;
            count = qMin<qint64>((*packet & 0x7f) + 1, placer.left());
            run = *packet & 0x80;
        }
        if (run) {
            const uchar *p = source.take(bytesPerPixel);
            if (!p) break;
            const QRgb colour = colourOf(p);
            for (qint64 i = 0; i < count; ++i)
                placer.put(colour);
        } else {
            const uchar *p = source.take(count * bytesPerPixel);
            if (!p) break;
            for (qint64 i = 0; i < count; ++i, p += bytesPerPixel)
                placer.put(colourOf(p));
        }
    }
    if (!placer.done()) {
        *error = refusal::damaged();
        return false;
    }

    const qint64 pixels = qint64(h.width) * h.height;
    auto *pixel = reinterpret_cast<QRgb *>(image.bits());
    // Writers that never heard of alpha leave the fourth byte 0; such a picture is meant
    // opaque unless an extension area says otherwise.
    if (h.alpha && !h.extensionArea &&
        std::none_of(pixel, pixel + pixels, [](QRgb c) { return qAlpha(c) != 0; })) {
        for (qint64 i = 0; i < pixels; ++i)
            pixel[i] |= 0xff000000;
        image = std::move(image).convertToFormat(QImage::Format_RGB32);
    } else if (h.premultiplied) {
        for (qint64 i = 0; i < pixels; ++i) {
            const int a = qAlpha(pixel[i]);
            if (a == 0)
                pixel[i] = 0;
            else if (a < 255)
                pixel[i] =
                    qRgba(unpremultiplied(qRed(pixel[i]), a), unpremultiplied(qGreen(pixel[i]), a),
                          unpremultiplied(qBlue(pixel[i]), a), a);
        }
    }
    *out = std::move(image);
    return true;
}

} // namespace

bool TgaHandler::canRead(QIODevice *device)
{
    const QByteArray head = peekBytes(device, HeaderSize);
    if (head.size() < HeaderSize) return false;
    const Header h = parseHeader(reinterpret_cast<const uchar *>(head.constData()));
    if (!consistent(h) || h.width == 0 || h.height == 0) return false;
    if ((h.descriptor & 0xc0) != 0 || (h.descriptor & 15) > 8) return false;
    if (h.mapType == 0 && (h.mapFirst != 0 || h.mapLength != 0)) return false;
    const qint64 available = bytesAfterPosition(device);
    return available < 0 || pixelDataOffset(h) + leastPixelBytes(h) <= available;
}

bool TgaHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("tga");
    return true;
}

bool TgaHandler::load() const
{
    if (!m_loaded) {
        m_loaded = true;
        m_bytes = readRemaining(device());
        m_ready = analyse(m_bytes, &m_header, &m_error);
    }
    return m_ready;
}

bool TgaHandler::read(QImage *image)
{
    if (!load()) return false;
    QImage decoded;
    if (!decode(m_bytes, m_header, &decoded, &m_error)) return false;
    *image = std::move(decoded);
    return true;
}

bool TgaHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant TgaHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !load()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    return m_header.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
}

} // namespace platform::decoders
