#include "platform/decoders/WbmpHandler.h"

#include "platform/decoders/ByteSource.h"
#include "platform/decoders/DecoderLimits.h"

#include <QVariant>

namespace platform::decoders {

namespace {

constexpr int LongestNumber = 4; // 28 bits, far above the side limit

// A multi-byte number: seven bits a byte, the top bit saying that another byte follows.
bool number(ByteSource &source, qint64 *value)
{
    qint64 v = 0;
    for (int i = 0; i < LongestNumber; ++i) {
        const uchar *p = source.take(1);
        if (!p) return false;
        v = v << 7 | (*p & 0x7f);
        if (!(*p & 0x80)) {
            *value = v;
            return true;
        }
    }
    return false;
}

// Type 0 and a fixed header byte without extension headers, then width and height.
bool parseHeader(const QByteArray &bytes, WbmpHandler::Header *h)
{
    ByteSource source(bytes);
    qint64 type = -1, width = 0, height = 0;
    if (!number(source, &type) || type != 0) return false;
    if (source.u8() != 0 || source.overrun()) return false;
    if (!number(source, &width) || !number(source, &height)) return false;
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide) return false;
    h->width = int(width);
    h->height = int(height);
    h->dataOffset = source.pos();
    return true;
}

qint64 dataBytes(const WbmpHandler::Header &h)
{
    return (h.width + 7) / 8 * qint64(h.height);
}

bool analyse(const QByteArray &bytes, WbmpHandler::Header *h, QString *error)
{
    if (!parseHeader(bytes, h)) {
        *error = refusal::notFormat("WBMP");
        return false;
    }
    if (!fitsLimits(h->width, h->height)) {
        *error = refusal::tooLarge(h->width, h->height);
        return false;
    }
    if (h->dataOffset + dataBytes(*h) > bytes.size()) {
        *error = refusal::truncated();
        return false;
    }
    return true;
}

QImage decode(const QByteArray &bytes, const WbmpHandler::Header &h)
{
    QImage image(h.width, h.height, QImage::Format_Mono);
    if (image.isNull()) return image;
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const int rowBytes = (h.width + 7) / 8;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData()) + h.dataOffset;
    for (int y = 0; y < h.height; ++y, p += rowBytes)
        std::copy(p, p + rowBytes, image.scanLine(y));
    return image;
}

} // namespace

bool WbmpHandler::canRead(QIODevice *device)
{
    Header h;
    if (!parseHeader(peekBytes(device, 2 + 2 * LongestNumber), &h)) return false;
    const qint64 available = bytesAfterPosition(device);
    return available < 0 || h.dataOffset + dataBytes(h) <= available;
}

bool WbmpHandler::canRead() const
{
    if (!canRead(device())) return false;
    setFormat("wbmp");
    return true;
}

bool WbmpHandler::load() const
{
    if (!m_loaded) {
        m_loaded = true;
        m_bytes = readRemaining(device());
        m_ready = analyse(m_bytes, &m_header, &m_error);
    }
    return m_ready;
}

bool WbmpHandler::read(QImage *image)
{
    if (!load()) return false;
    QImage decoded = decode(m_bytes, m_header);
    if (decoded.isNull()) {
        m_error = refusal::tooLarge(m_header.width, m_header.height);
        return false;
    }
    *image = std::move(decoded);
    return true;
}

bool WbmpHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant WbmpHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !load()) return {};
    if (option == Size) return QSize(m_header.width, m_header.height);
    return QImage::Format_Mono;
}

} // namespace platform::decoders
