#include "QPsdHandler.h"

#include "PsdDecoder.h"
#include "PsdHeader.h"

#include <QSize>
#include <QVariant>

namespace {

QByteArray formatName(int version)
{
    return version == 2 ? QByteArrayLiteral("psb") : QByteArrayLiteral("psd");
}

} // namespace

bool QPsdHandler::canRead() const
{
    const int version = psd::PsdHeader::peekSignature(device());
    if (version == 0) return false;
    setFormat(formatName(version));
    return true;
}

bool QPsdHandler::canRead(QIODevice *device)
{
    return psd::PsdHeader::peekSignature(device) != 0;
}

bool QPsdHandler::read(QImage *image)
{
    psd::PsdDecoder decoder(device());
    const bool ok = decoder.read(image);
    m_error = decoder.error();
    if (decoder.version() != 0 && format() != formatName(decoder.version()))
        setFormat(formatName(decoder.version()));
    return ok;
}

QString QPsdHandler::errorString() const
{
    return psd::errorText(m_error);
}

bool QPsdHandler::supportsOption(ImageOption option) const
{
    return option == Size;
}

// The size of a header that read() would accept; nothing for one it refuses outright.
QVariant QPsdHandler::option(ImageOption option) const
{
    psd::PsdHeader header;
    if (option != Size || !psd::PsdHeader::peek(device(), &header) || !header.isValid())
        return QVariant();
    return QSize(int(header.width), int(header.height));
}
