// Feeds arbitrary bytes to the preview extractor: no picture or a picture, never a crash.
#include "formats/PsdPreview.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    psdPreviewBitmap(&buffer);
    return 0;
}
