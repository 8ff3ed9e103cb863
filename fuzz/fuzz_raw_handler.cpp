// Feeds arbitrary bytes to the camera-raw handler as a file with a raw suffix (LibRaw reads
// files by name), and to the preview walk over a buffer: each must refuse or decode, never
// crash, and never allocate from a size it did not check.
#include "formats/RawIOHandler.h"
#include "formats/RawPreviewFinder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QVariant>

#include <cstddef>
#include <cstdint>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const raw::JpegPreview preview = raw::findLargestJpegPreview(&buffer);
        raw::decodeJpegPreview(&buffer, preview);
    }

    // One file per process, removed when the process ends.
    static const struct Scratch
    {
        QString path = QDir::temp().filePath(QStringLiteral("fuzz-raw-%1.dng").arg(::getpid()));
        ~Scratch() { QFile::remove(path); }
    } scratch;
    QFile file(scratch.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return 0;
    file.close();
    if (!file.open(QIODevice::ReadOnly)) return 0;

    RawIOHandler handler;
    handler.setDevice(&file);
    if (handler.canRead()) {
        handler.option(QImageIOHandler::Size);
        handler.option(QImageIOHandler::Description);
        QImage image;
        handler.read(&image);
        RawIOHandler scaled;
        scaled.setDevice(&file);
        scaled.setOption(QImageIOHandler::ScaledSize, QSize(24, 16));
        scaled.read(&image);
    }
    return 0;
}
