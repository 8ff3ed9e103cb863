#include "PsdHeader.h"

#include "PsdLimits.h"

#include <QtEndian>

namespace psd {

bool PsdHeader::isValid() const
{
    const quint32 maxSide = isPsb() ? kMaxPsbSide : kMaxPsdSide;
    if ((version != 1 && version != 2) || channels == 0) return false;
    if (height < 1 || height > maxSide || width < 1 || width > maxSide) return false;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;
    switch (mode) {
    case Bitmap:
    case Grayscale:
    case Indexed:
    case Rgb:
    case Cmyk:
    case Multichannel:
    case Duotone:
    case Lab:
        return true;
    default:
        return false;
    }
}

int PsdHeader::signatureVersion(const char *data, qint64 size)
{
    if (size < kSignatureSize || qstrncmp(data, "8BPS", 4) != 0) return 0;
    const quint16 version = qFromBigEndian<quint16>(data + 4);
    return version == 1 || version == 2 ? version : 0;
}

int PsdHeader::peekSignature(QIODevice *device)
{
    if (!device || !device->isOpen() || !device->isReadable()) return 0;
    const QByteArray head = device->peek(kSignatureSize);
    return signatureVersion(head.constData(), head.size());
}

bool PsdHeader::parse(const char *data, qint64 size, PsdHeader *header)
{
    if (size < kSize || signatureVersion(data, size) == 0) return false;
    const auto *p = reinterpret_cast<const uchar *>(data);
    PsdHeader h;
    h.version = qFromBigEndian<quint16>(p + 4);
    h.channels = qFromBigEndian<quint16>(p + 12);
    h.height = qFromBigEndian<quint32>(p + 14);
    h.width = qFromBigEndian<quint32>(p + 18);
    h.depth = qFromBigEndian<quint16>(p + 22);
    h.mode = qFromBigEndian<quint16>(p + 24);
    *header = h;
    return true;
}

bool PsdHeader::peek(QIODevice *device, PsdHeader *header)
{
    if (!device) return false;
    const QByteArray head = device->peek(kSize);
    return parse(head.constData(), head.size(), header);
}

} // namespace psd
