#include "platform/decoders/SunRasterHandler.h"

#include "platform/decoders/ByteSource.h"
#include "platform/decoders/DecoderLimits.h"

#include <QVariant>

namespace platform::decoders {

namespace {

constexpr int HeaderSize = 32;
constexpr quint32 Magic = 0x59a66a95;
constexpr quint32 TypeOld = 0, TypeStandard = 1, TypeRunLength = 2, TypeRgb = 3, TypeIff = 5;
constexpr quint32 MapRgb = 1, MapRaw = 2; // 0: no map
constexpr uchar Escape = 0x80;
constexpr int LongestRun = 256; // three bytes: escape, count - 1, value

quint32 be32At(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

bool parseHeader(const uchar *p, SunRasterHandler::Header *h)
{
    if (be32At(p) != Magic) return false;
    const quint32 width = be32At(p + 4), height = be32At(p + 8), depth = be32At(p + 12);
    h->type = be32At(p + 20);
    h->mapType = be32At(p + 24);
    h->mapLength = be32At(p + 28);
    if (width == 0 || height == 0 || width > quint32(MaxSide) || height > quint32(MaxSide))
        return false;
    h->width = int(width);
    h->height = int(height);
    h->depth = int(depth);
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) return false;
    if (h->type != TypeOld && h->type != TypeStandard && h->type != TypeRunLength &&
        h->type != TypeRgb && h->type != TypeIff)
        return false;
    return h->mapType <= MapRaw;
}

// Rows are padded to 16 bits.
qint64 rowBytes(const SunRasterHandler::Header &h)
{
    return (qint64(h.width) * h.depth + 15) / 16 * 2;
}

qint64 leastDataBytes(const SunRasterHandler::Header &h)
{
    const qint64 total = rowBytes(h) * h.height;
    return h.type == TypeRunLength ? (total + LongestRun - 1) / LongestRun * 3 : total;
}

bool analyse(const QByteArray &bytes, SunRasterHandler::Header *h, QString *error)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    if (bytes.size() < HeaderSize || be32At(p) != Magic) {
        *error = refusal::notFormat("Sun raster");
        return false;
    }
    if (!parseHeader(p, h)) {
        *error = refusal::damaged();
        return false;
    }
    if (!fitsLimits(h->width, h->height)) {
        *error = refusal::tooLarge(h->width, h->height);
        return false;
    }
    if (HeaderSize + qint64(h->mapLength) + leastDataBytes(*h) > bytes.size()) {
        *error = refusal::truncated();
        return false;
    }
    h->map.clear();
    if (h->mapType == MapRgb && h->depth <= 8) {
        const int entries = int(h->mapLength / 3);
        const uchar *m = p + HeaderSize;
        for (int i = 0; i < entries; ++i)
            h->map.append(qRgb(m[i], m[entries + i], m[2 * entries + i]));
    }
    return true;
}

// Unpacks the run-length bytes; a run may carry on into the next row.
class RunReader
{
public:
    RunReader(ByteSource &source, bool encoded) : m_source(source), m_encoded(encoded) {}

    bool fill(uchar *out, qint64 count)
    {
        if (!m_encoded) {
            const uchar *p = m_source.take(count);
            if (!p) return false;
            std::copy(p, p + count, out);
            return true;
        }
        for (qint64 i = 0; i < count; ++i) {
            if (m_run == 0 && !next()) return false;
            out[i] = m_value;
            --m_run;
        }
        return true;
    }

private:
    bool next()
    {
        const uchar *p = m_source.take(1);
        if (!p) return false;
        m_run = 1;
        m_value = *p;
        if (*p != Escape) return true;
        const uchar *count = m_source.take(1);
        if (!count) return false;
        if (*count == 0) return true; // an escaped escape byte
        const uchar *value = m_source.take(1);
        if (!value) return false;
        m_run = *count + 1;
        m_value = *value;
        return true;
    }

    ByteSource &m_source;
    const bool m_encoded;
    int m_run = 0;
    uchar m_value = 0;
};

bool decode(const QByteArray &bytes, const SunRasterHandler::Header &h, QImage *out, QString *error)
{
    QImage image(h.width, h.height, QImage::Format_RGB32);
    if (image.isNull()) {
        *error = refusal::tooLarge(h.width, h.height);
        return false;
    }
    ByteSource source(bytes);
    source.seek(HeaderSize + qint64(h.mapLength));
    RunReader runs(source, h.type == TypeRunLength);
    QByteArray row(int(rowBytes(h)), 0);
    const auto *s = reinterpret_cast<const uchar *>(row.constData());
    const bool rgbOrder = h.type == TypeRgb;
    auto fromMap = [&](int index, QRgb fallback) {
        if (h.map.isEmpty()) return fallback;
        return index < h.map.size() ? h.map[index] : qRgb(0, 0, 0);
    };
    for (int y = 0; y < h.height; ++y) {
        if (!runs.fill(reinterpret_cast<uchar *>(row.data()), row.size())) {
            *error = refusal::damaged();
            return false;
        }
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < h.width; ++x) {
            switch (h.depth) {
            case 1: {
                const int bit = s[x / 8] >> (7 - x % 8) & 1;
                line[x] = fromMap(bit, bit ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
                break;
            }
            case 8:
                line[x] = fromMap(s[x], qRgb(s[x], s[x], s[x]));
                break;
            default: {
                const uchar *p = s + x * (h.depth / 8) + (h.depth == 32 ? 1 : 0);
                line[x] = rgbOrder ? qRgb(p[0], p[1], p[2]) : qRgb(p[2], p[1], p[0]);
            }
            }
        }
    }
    *out = std::move(image);
    return true;
}

} // namespace

bool SunRasterHandler::canRead(QIODevice *device)
{
    const QByteArray head = peekBytes(device, HeaderSize);
    Header h;
    if (head.size() < HeaderSize ||
        !parseHeader(reinterpret_cast<const uchar *>(head.constData()), &h))
        return false;
    const qint64 available = bytesAfterPosition(device);
    return available < 0 || HeaderSize + qint64(h.mapLength) + leastDataBytes(h) <= available;
}

bool SunRasterHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("ras");
    return true;
}

bool SunRasterHandler::load() const
{
    if (!m_loaded) {
        m_loaded = true;
        m_bytes = readRemaining(device());
        m_ready = analyse(m_bytes, &m_header, &m_error);
    }
    return m_ready;
}

bool SunRasterHandler::read(QImage *image)
{
    if (!load()) return false;
    QImage decoded;
    if (!decode(m_bytes, m_header, &decoded, &m_error)) return false;
    *image = std::move(decoded);
    return true;
}

bool SunRasterHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant SunRasterHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !load()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    return QImage::Format_RGB32;
}

} // namespace platform::decoders
