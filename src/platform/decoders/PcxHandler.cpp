#include "platform/decoders/PcxHandler.h"

#include "platform/decoders/ByteSource.h"
#include "platform/decoders/DecoderLimits.h"

#include <QVariant>

namespace platform::decoders {

namespace {

constexpr int HeaderSize = 128;
constexpr int VgaPaletteSize = 769; // a 0x0c marker and 256 RGB triplets at the end
constexpr int LongestRun = 63;

bool validDepth(int bits, int planes)
{
    switch (bits) {
    case 1:
        return planes >= 1 && planes <= 4;
    case 2:
    case 4:
        return planes == 1;
    case 8:
        return planes == 1 || planes == 3 || planes == 4;
    default:
        return false;
    }
}

bool parseHeader(const uchar *p, PcxHandler::Header *h)
{
    if (p[0] != 0x0a) return false;
    h->version = p[1];
    h->encoding = p[2];
    h->bitsPerPixel = p[3];
    const int xMin = p[4] | p[5] << 8, yMin = p[6] | p[7] << 8;
    const int xMax = p[8] | p[9] << 8, yMax = p[10] | p[11] << 8;
    h->planes = p[65];
    h->bytesPerLine = quint16(p[66] | p[67] << 8);
    h->width = xMax - xMin + 1;
    h->height = yMax - yMin + 1;
    if (h->version > 5 || h->version == 1 || h->encoding > 1) return false;
    if (!validDepth(h->bitsPerPixel, h->planes) || h->width <= 0 || h->height <= 0) return false;
    return h->bytesPerLine >= (qint64(h->width) * h->bitsPerPixel + 7) / 8;
}

qint64 leastDataBytes(const PcxHandler::Header &h)
{
    const qint64 total = qint64(h.height) * h.planes * h.bytesPerLine;
    return h.encoding ? (total + LongestRun - 1) / LongestRun * 2 : total;
}

QVector<QRgb> paletteOf(const QByteArray &bytes, const PcxHandler::Header &h)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    QVector<QRgb> palette;
    if (h.bitsPerPixel == 8 && h.planes == 1) {
        const qint64 at = bytes.size() - VgaPaletteSize;
        if (at >= HeaderSize && p[at] == 0x0c) {
            for (int i = 0; i < 256; ++i)
                palette.append(qRgb(p[at + 1 + 3 * i], p[at + 2 + 3 * i], p[at + 3 + 3 * i]));
        } else {
            for (int i = 0; i < 256; ++i)
                palette.append(qRgb(i, i, i));
        }
    } else if (h.bitsPerPixel == 1 && h.planes == 1) {
        palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    } else {
        for (int i = 0; i < 16; ++i)
            palette.append(qRgb(p[16 + 3 * i], p[17 + 3 * i], p[18 + 3 * i]));
    }
    return palette;
}

bool analyse(const QByteArray &bytes, PcxHandler::Header *h, QString *error)
{
    if (bytes.size() < HeaderSize ||
        !parseHeader(reinterpret_cast<const uchar *>(bytes.constData()), h)) {
        *error =
            bytes.size() >= 1 && bytes[0] == 0x0a ? refusal::damaged() : refusal::notFormat("PCX");
        return false;
    }
    if (!fitsLimits(h->width, h->height)) {
        *error = refusal::tooLarge(h->width, h->height);
        return false;
    }
    if (HeaderSize + leastDataBytes(*h) > bytes.size()) {
        *error = refusal::truncated();
        return false;
    }
    h->palette = paletteOf(bytes, *h);
    return true;
}

// Unpacks run-length bytes; a run may carry on into the next plane or row.
class RunReader
{
public:
    RunReader(ByteSource &source, bool encoded) : m_source(source), m_encoded(encoded) {}

    bool fill(uchar *out, int count)
    {
        if (!m_encoded) {
            const uchar *p = m_source.take(count);
            if (!p) return false;
            std::copy(p, p + count, out);
            return true;
        }
        for (int i = 0; i < count; ++i) {
            if (m_run == 0) {
                const uchar *p = m_source.take(1);
                if (!p) return false;
                if ((*p & 0xc0) == 0xc0) {
                    m_run = *p & 0x3f;
                    const uchar *value = m_source.take(1);
                    if (!value) return false;
                    m_value = *value;
                } else {
                    m_run = 1;
                    m_value = *p;
                }
                if (m_run == 0) {
                    --i; // an empty run holds nothing
                    continue;
                }
            }
            out[i] = m_value;
            --m_run;
        }
        return true;
    }

private:
    ByteSource &m_source;
    const bool m_encoded;
    int m_run = 0;
    uchar m_value = 0;
};

bool decode(const QByteArray &bytes, const PcxHandler::Header &h, QImage *out, QString *error)
{
    QImage image(h.width, h.height, h.planes == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        *error = refusal::tooLarge(h.width, h.height);
        return false;
    }
    ByteSource source(bytes);
    source.seek(HeaderSize);
    RunReader runs(source, h.encoding == 1);
    QByteArray scan(h.planes * h.bytesPerLine, 0);
    auto *s = reinterpret_cast<uchar *>(scan.data());
    const int bpl = h.bytesPerLine;
    for (int y = 0; y < h.height; ++y) {
        if (!runs.fill(s, scan.size())) {
            *error = refusal::damaged();
            return false;
        }
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < h.width; ++x) {
            if (h.bitsPerPixel == 8 && h.planes >= 3) {
                const int a = h.planes == 4 ? s[3 * bpl + x] : 255;
                line[x] = qRgba(s[x], s[bpl + x], s[2 * bpl + x], a);
                continue;
            }
            int index = 0;
            if (h.bitsPerPixel == 1) {
                for (int plane = 0; plane < h.planes; ++plane)
                    index |= (s[plane * bpl + x / 8] >> (7 - x % 8) & 1) << plane;
            } else {
                const int perByte = 8 / h.bitsPerPixel;
                const int shift = 8 - h.bitsPerPixel * (x % perByte + 1);
                index = s[x / perByte] >> shift & ((1 << h.bitsPerPixel) - 1);
            }
            line[x] = index < h.palette.size() ? h.palette[index] : qRgb(0, 0, 0);
        }
    }
    *out = std::move(image);
    return true;
}

} // namespace

bool PcxHandler::canRead(QIODevice *device)
{
    const QByteArray head = peekBytes(device, HeaderSize);
    Header h;
    if (head.size() < HeaderSize ||
        !parseHeader(reinterpret_cast<const uchar *>(head.constData()), &h))
        return false;
    const qint64 available = bytesAfterPosition(device);
    return available < 0 || HeaderSize + leastDataBytes(h) <= available;
}

bool PcxHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("pcx");
    return true;
}

bool PcxHandler::load() const
{
    if (!m_loaded) {
        m_loaded = true;
        m_bytes = readRemaining(device());
        m_ready = analyse(m_bytes, &m_header, &m_error);
    }
    return m_ready;
}

bool PcxHandler::read(QImage *image)
{
    if (!load()) return false;
    QImage decoded;
    if (!decode(m_bytes, m_header, &decoded, &m_error)) return false;
    *image = std::move(decoded);
    return true;
}

bool PcxHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant PcxHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !load()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    return m_header.planes == 4 && m_header.bitsPerPixel == 8 ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32;
}

} // namespace platform::decoders
