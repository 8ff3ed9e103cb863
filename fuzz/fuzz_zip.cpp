// Feeds arbitrary bytes to the zip container reader: it opens, lists every entry and
// extracts each into a buffer of the size the entry may really have.
#include "image/ZipContainer.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ZipContainer zip;
    if (zip.open(&buffer) != ZipOk) return 0;
    for (int i = -1; i <= zip.count(); ++i) {
        ZipEntry entry;
        zip.entry(i, &entry);
        quint64 length = 0;
        if (!zip.plausibleSize(i, &length)) continue;
        QByteArray out(int(qMin<quint64>(length, 1 << 20)), '\0');
        zip.extract(i, out.data(), quint64(out.size()));
    }
    return 0;
}
