// Feeds arbitrary bytes to our own byte readers (platform/decoders); the first byte picks the
// reader. Each must end in a refusal with a reason or a picture within the limits, never a
// crash, and a refusal must leave the caller's picture untouched.
#include "platform/decoders/BmpHandler.h"
#include "platform/decoders/DecoderLimits.h"
#include "platform/decoders/NetpbmHandler.h"
#include "platform/decoders/PcxHandler.h"
#include "platform/decoders/SunRasterHandler.h"
#include "platform/decoders/TgaHandler.h"
#include "platform/decoders/WbmpHandler.h"

#include <QBuffer>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace {

template <class Handler> QImageIOHandler *make()
{
    return new Handler;
}

// One row per byte reader. A kept input's first byte names its row by position, so rows are
// only ever appended.
QImageIOHandler *(*const Readers[])() = {
    &make<platform::decoders::BmpHandler>,    &make<platform::decoders::TgaHandler>,
    &make<platform::decoders::PcxHandler>,    &make<platform::decoders::SunRasterHandler>,
    &make<platform::decoders::NetpbmHandler>, &make<platform::decoders::WbmpHandler>,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QScopedPointer<QImageIOHandler> handler(Readers[data[0] % std::size(Readers)]());
    handler->setDevice(&buffer);
    handler->canRead();
    const QSize size2 = handler->option(QImageIOHandler::Size).toSize();
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(0xff123456);
    if (!handler->read(&image)) {
        if (image.size() != QSize(1, 1) || image.pixel(0, 0) != 0xff123456) std::abort();
        return 0;
    }
    if (image.isNull() || !platform::decoders::fitsLimits(image.size())) std::abort();
    // What the header announced is what was read.
    if (size2.isValid() && size2 != image.size()) std::abort();
    return 0;
}
