#include "platform/decoders/NetpbmHandler.h"

#include "platform/decoders/ByteSource.h"
#include "platform/decoders/DecoderLimits.h"

#include <QVariant>
#include <QVector>

namespace platform::decoders {

namespace {

bool isSpace(uchar c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(uchar c)
{
    return c >= '0' && c <= '9';
}

// Walks the header and the plain formats' text: blanks and comments between numbers.
class TextReader
{
public:
    TextReader(const QByteArray &bytes, qint64 at)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData())), m_size(bytes.size()),
          m_pos(at)
    {
    }
    qint64 pos() const { return m_pos; }
    qint64 remaining() const { return m_size - m_pos; }

    void skipBlanks()
    {
        while (m_pos < m_size) {
            if (m_data[m_pos] == '#') {
                while (m_pos < m_size && m_data[m_pos] != '\n' && m_data[m_pos] != '\r')
                    ++m_pos;
            } else if (isSpace(m_data[m_pos])) {
                ++m_pos;
            } else {
                return;
            }
        }
    }
    // A decimal number up to `limit`; false when there is none or it is larger.
    bool number(qint64 limit, qint64 *value)
    {
        skipBlanks();
        if (m_pos >= m_size || !isDigit(m_data[m_pos])) return false;
        qint64 v = 0;
        while (m_pos < m_size && isDigit(m_data[m_pos])) {
            v = v * 10 + (m_data[m_pos++] - '0');
            if (v > limit) return false;
        }
        *value = v;
        return true;
    }
    // A plain bitmap's pixel: one digit, with or without blanks around it.
    bool bit(int *value)
    {
        skipBlanks();
        if (m_pos >= m_size || (m_data[m_pos] != '0' && m_data[m_pos] != '1')) return false;
        *value = m_data[m_pos++] - '0';
        return true;
    }
    // The one blank between a raw format's header and its pixels.
    bool singleBlank()
    {
        if (m_pos >= m_size || !isSpace(m_data[m_pos])) return false;
        ++m_pos;
        return true;
    }

private:
    const uchar *m_data;
    qint64 m_size;
    qint64 m_pos;
};

bool bitmap(char kind)
{
    return kind == '1' || kind == '4';
}
bool plain(char kind)
{
    return kind <= '3';
}
int samplesOf(char kind)
{
    return kind == '3' || kind == '6' ? 3 : 1;
}

// The fewest bytes the pixels can take: a digit per plain bitmap pixel, a digit and a blank
// per other plain sample, the exact size of raw data.
qint64 leastDataBytes(const NetpbmHandler::Header &h)
{
    const qint64 pixels = qint64(h.width) * h.height;
    switch (h.kind) {
    case '1':
        return pixels;
    case '2':
    case '3':
        return pixels * samplesOf(h.kind) * 2 - 1;
    case '4':
        return (h.width + 7) / 8 * qint64(h.height);
    default:
        return pixels * samplesOf(h.kind) * (h.maxValue > 255 ? 2 : 1);
    }
}

bool magicAt(const uchar *p)
{
    return p[0] == 'P' && p[1] >= '1' && p[1] <= '6';
}

bool analyse(const QByteArray &bytes, NetpbmHandler::Header *h, QString *error)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    if (bytes.size() < 3 || !magicAt(p)) {
        *error = refusal::notFormat("Netpbm");
        return false;
    }
    h->kind = char(p[1]);
    TextReader text(bytes, 2);
    qint64 width = 0, height = 0, maxValue = 1;
    const bool header = (text.skipBlanks(), text.number(MaxSide, &width)) &&
                        text.number(MaxSide, &height) &&
                        (bitmap(h->kind) || text.number(65535, &maxValue)) &&
                        (plain(h->kind) || text.singleBlank());
    if (!header || maxValue == 0) {
        *error = refusal::damaged();
        return false;
    }
    if (!fitsLimits(int(width), int(height))) {
        *error = width && height ? refusal::tooLarge(width, height) : refusal::damaged();
        return false;
    }
    h->width = int(width);
    h->height = int(height);
    h->maxValue = int(maxValue);
    h->dataOffset = text.pos();
    if (leastDataBytes(*h) > text.remaining()) {
        *error = refusal::truncated();
        return false;
    }
    return true;
}

bool decode(const QByteArray &bytes, const NetpbmHandler::Header &h, QImage *out, QString *error)
{
    QImage image(h.width, h.height, QImage::Format_RGB32);
    if (image.isNull()) {
        *error = refusal::tooLarge(h.width, h.height);
        return false;
    }
    // Every sample value's 8-bit level, worked out once; values above maxval count as maxval.
    QVector<uchar> levels(h.maxValue + 1);
    for (int v = 0; v <= h.maxValue; ++v)
        levels[v] = uchar((v * 255 + h.maxValue / 2) / h.maxValue);
    auto scaled = [&levels](qint64 v) {
        return int(levels[int(qMin<qint64>(v, levels.size() - 1))]);
    };
    TextReader text(bytes, h.dataOffset);
    ByteSource raw(bytes);
    raw.seek(h.dataOffset);
    const int wide = h.maxValue > 255 ? 2 : 1;
    auto rawSample = [&]() -> qint64 {
        const uchar *p = raw.take(wide);
        return p ? (wide == 2 ? p[0] << 8 | p[1] : p[0]) : 0;
    };
    for (int y = 0; y < h.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uchar *packed = h.kind == '4' ? raw.take((h.width + 7) / 8) : nullptr;
        for (int x = 0; x < h.width; ++x) {
            int v[3] = {0, 0, 0};
            const int samples = samplesOf(h.kind);
            bool ok = true;
            switch (h.kind) {
            case '1': {
                int b = 0;
                ok = text.bit(&b);
                v[0] = b ? 0 : 255;
                break;
            }
            case '4':
                ok = packed != nullptr;
                v[0] = ok && (packed[x / 8] >> (7 - x % 8) & 1) ? 0 : 255;
                break;
            case '2':
            case '3':
                for (int i = 0; i < samples && ok; ++i) {
                    qint64 n = 0;
                    ok = text.number(1 << 30, &n);
                    v[i] = scaled(n);
                }
                break;
            default:
                for (int i = 0; i < samples; ++i)
                    v[i] = scaled(rawSample());
                ok = !raw.overrun();
            }
            if (!ok) {
                *error = refusal::damaged();
                return false;
            }
            line[x] = samples == 3 ? qRgb(v[0], v[1], v[2]) : qRgb(v[0], v[0], v[0]);
        }
    }
    *out = std::move(image);
    return true;
}

} // namespace

bool NetpbmHandler::canRead(QIODevice *device)
{
    const QByteArray head = peekBytes(device, 3);
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    return head.size() == 3 && magicAt(p) && (isSpace(p[2]) || p[2] == '#');
}

bool NetpbmHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("pbm");
    return true;
}

bool NetpbmHandler::load() const
{
    if (!m_loaded) {
        m_loaded = true;
        m_bytes = readRemaining(device());
        m_ready = analyse(m_bytes, &m_header, &m_error);
    }
    return m_ready;
}

bool NetpbmHandler::read(QImage *image)
{
    if (!load()) return false;
    QImage decoded;
    if (!decode(m_bytes, m_header, &decoded, &m_error)) return false;
    *image = std::move(decoded);
    return true;
}

bool NetpbmHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant NetpbmHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !load()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    return QImage::Format_RGB32;
}

} // namespace platform::decoders
