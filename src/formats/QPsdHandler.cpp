#include "QPsdHandler.h"

#include "PsdDecoder.h"
#include "PsdHeader.h"

#include <QSize>
#include <QVariant>
#include <QtEndian>

namespace {

// 0 unless the next bytes are "8BPS" and a version this reader knows.
int peekVersion(QIODevice *device)
{
    if (!device) return 0;
    const QByteArray head = device->peek(6);
    if (head.size() < 6 || !head.startsWith("8BPS")) return 0;
    const quint16 version = qFromBigEndian<quint16>(head.constData() + 4);
    return version == 1 || version == 2 ? version : 0;
}

QByteArray formatName(int version)
{
    return version == 2 ? QByteArrayLiteral("psb") : QByteArrayLiteral("psd");
}

} // namespace

bool QPsdHandler::canRead() const
{
    const int version = peekVersion(device());
    if (version == 0) return false;
    setFormat(formatName(version));
    return true;
}

bool QPsdHandler::canRead(QIODevice *device)
{
    return peekVersion(device) != 0;
}

bool QPsdHandler::read(QImage *image)
{
    psd::PsdDecoder decoder(device());
    const bool ok = decoder.read(image);
    if (decoder.version() != 0 && format() != formatName(decoder.version()))
        setFormat(formatName(decoder.version()));
    return ok;
}

bool QPsdHandler::supportsOption(ImageOption option) const
{
    return option == Size;
}

QVariant QPsdHandler::option(ImageOption option) const
{
    psd::PsdHeader header;
    if (option != Size || !psd::PsdHeader::peek(device(), &header)) return QVariant();
    return QSize(int(header.width), int(header.height));
}
