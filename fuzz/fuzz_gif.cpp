// Feeds arbitrary bytes to the GIF reader and composes frames in order and out of order:
// a refusal or pictures, never a crash, never more memory than the reader's limits allow.
#include "image/GifAnimation.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    GifAnimation animation;
    if (!animation.load(&buffer)) return 0;
    // A few bytes may name a canvas of hundreds of megabytes, which the reader allows; each
    // composed frame then costs seconds of page faults under the sanitizers while teaching
    // nothing that a smaller canvas does not.
    const QSize canvas = animation.canvasSize();
    if (qint64(canvas.width()) * canvas.height() > (qint64(1) << 22)) return 0;
    const int count = animation.frameCount();
    for (int i = 0; i < count && i < 24; ++i)
        animation.composedFrame(i);
    animation.composedFrame(count - 1);
    animation.composedFrame(count / 2);
    return 0;
}
