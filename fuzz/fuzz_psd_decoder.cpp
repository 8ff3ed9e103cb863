// Feeds arbitrary bytes to the full decoder: it must refuse or decode, never crash.
#include "formats/PsdDecoder.h"
#include "formats/PsdHeader.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    psd::PsdHeader header;
    psd::PsdHeader::peek(&buffer, &header);
    QImage image;
    psd::PsdDecoder(&buffer).read(&image);
    return 0;
}
