#include "GifFrameDecoder.h"

#include <QIODevice>

#include <gif_lib.h>

#include <cstring>

namespace platform {

namespace {

constexpr int kGraphicControl = 0xF9;
constexpr int kApplication = 0xFF;

int readFromDevice(GifFileType *file, GifByteType *buffer, int length)
{
    auto *device = static_cast<QIODevice *>(file->UserData);
    const qint64 got = device->read(reinterpret_cast<char *>(buffer), length);
    return got < 0 ? 0 : int(got);
}

// Bytes held in memory, read without a device: giflib asks for a few bytes at a time.
struct MemorySource
{
    QByteArray bytes;
    qint64 pos = 0;
};

int readFromMemory(GifFileType *file, GifByteType *buffer, int length)
{
    auto *source = static_cast<MemorySource *>(file->UserData);
    const qint64 got = qBound<qint64>(0, source->bytes.size() - source->pos, qMax(length, 0));
    std::memcpy(buffer, source->bytes.constData() + source->pos, size_t(got));
    source->pos += got;
    return int(got);
}

QVector<QRgb> paletteOf(const ColorMapObject *map)
{
    QVector<QRgb> colours;
    if (!map || !map->Colors || map->ColorCount <= 0) return colours;
    const int count = qMin(map->ColorCount, 256);
    colours.reserve(count);
    for (int i = 0; i < count; ++i)
        colours << qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    return colours;
}

// Row of the frame that the n-th decoded line belongs to: interlaced frames store rows
// 0, 8, 16, ... then 4, 12, ... then 2, 6, ... then 1, 3, ...
int interlacedRow(int line, int height)
{
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows =
            height > start[pass] ? (height - start[pass] + step[pass] - 1) / step[pass] : 0;
        if (line < rows) return start[pass] + line * step[pass];
        line -= rows;
    }
    return -1;
}

} // namespace

struct GifFrameDecoder::Private
{
    QIODevice *device = nullptr; // or, without one, memory
    MemorySource memory;
    GifFileType *file = nullptr;
    GifScreen screen;
    QSize canvas;
    Error error = NoError;
    int frames = 0;
    qint64 budgetUsed = 0;
    qint64 headerEnd = 0;
    bool ended = false;

    // The graphic control extension waiting for the next image.
    bool hasControl = false;
    int delayCs = 0;
    int disposal = 0;
    int transparentIndex = -1;

    qint64 pos() const { return device ? device->pos() : memory.pos; }
    bool atEnd() const { return device ? device->atEnd() : memory.pos >= memory.bytes.size(); }

    bool fail(Error e)
    {
        error = e;
        return false;
    }
    // giflib reports a short read as a read failure or an early end.
    Error fromGiflib() const
    {
        if (!file) return Corrupt;
        switch (file->Error) {
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_EOF_TOO_SOON:
            return Truncated;
        case D_GIF_ERR_NOT_ENOUGH_MEM:
        case D_GIF_ERR_DATA_TOO_BIG:
            return TooLarge;
        default:
            return Corrupt;
        }
    }
    bool readExtension();
    bool readImage(GifFrame *frame, bool withPixels, const RowSink *sink);
    bool nextFrame(GifFrame *frame, bool withPixels, const RowSink *sink);
    bool skipImageData();
};

bool GifFrameDecoder::Private::readExtension()
{
    int code = 0;
    GifByteType *block = nullptr;
    if (DGifGetExtension(file, &code, &block) == GIF_ERROR) return fail(fromGiflib());
    if (code == kGraphicControl && block && block[0] >= 4) {
        const int packed = block[1];
        hasControl = true;
        disposal = (packed >> 2) & 7;
        delayCs = block[2] | (block[3] << 8);
        transparentIndex = (packed & 1) ? block[4] : -1;
    }
    const bool netscape = code == kApplication && block && block[0] == 11 &&
                          (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                           std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
    while (block) {
        if (DGifGetExtensionNext(file, &block) == GIF_ERROR) return fail(fromGiflib());
        if (netscape && block && block[0] >= 3 && block[1] == 1)
            screen.loopCount = block[2] | (block[3] << 8);
    }
    return true;
}

bool GifFrameDecoder::Private::skipImageData()
{
    int codeSize = 0;
    GifByteType *block = nullptr;
    if (DGifGetCode(file, &codeSize, &block) == GIF_ERROR) return fail(fromGiflib());
    while (block)
        if (DGifGetCodeNext(file, &block) == GIF_ERROR) return fail(fromGiflib());
    return true;
}

bool GifFrameDecoder::Private::readImage(GifFrame *frame, bool withPixels, const RowSink *sink)
{
    if (frames >= gif::kMaxFrames) return fail(TooManyFrames);
    if (DGifGetImageDesc(file) == GIF_ERROR) return fail(fromGiflib());
    // giflib appends a record per frame to SavedImages, growing the array by one each time:
    // quadratic copying on files with many frames. We never read those records.
    GifFreeSavedImages(file);
    file->ImageCount = 0;
    const GifImageDesc &desc = file->Image;
    const QRect rect(desc.Left, desc.Top, desc.Width, desc.Height);

    if (frames == 0 && canvas.isEmpty()) {
        canvas = screen.size;
        if (canvas.isEmpty()) // some writers leave the screen at 0 x 0
            canvas = QSize(desc.Left + desc.Width, desc.Top + desc.Height);
        if (canvas.isEmpty() || qint64(canvas.width()) * canvas.height() > gif::kMaxCanvasPixels)
            return fail(TooLarge);
    }
    const QVector<QRgb> local = paletteOf(desc.ColorMap);
    const QVector<QRgb> &palette = local.isEmpty() ? screen.globalPalette : local;
    if (palette.isEmpty()) return fail(Corrupt);

    const QRect stored = rect & QRect(QPoint(0, 0), canvas);
    const qint64 cost =
        gif::kFrameOverheadBytes +
        (stored.isEmpty() || !withPixels ? 0 : qint64(stored.width()) * stored.height());
    if (budgetUsed + cost > gif::kMaxDecodedBytes) return fail(TooLarge);

    // Every stored row is written below (a frame that ends early is dropped whole).
    QImage image;
    QVector<QRgb> colours;
    if (!stored.isEmpty() && (withPixels || sink)) {
        colours.fill(0, 256);
        for (int i = 0; i < palette.size(); ++i)
            if (i != transparentIndex) colours[i] = palette[i];
    }
    if (!stored.isEmpty() && withPixels) {
        image = QImage(stored.size(), QImage::Format_Indexed8);
        if (image.isNull()) return fail(TooLarge);
        image.setColorTable(colours);
    }
    if (desc.Width == 0 || desc.Height == 0 || !(withPixels || sink)) {
        if (!skipImageData()) return false;
    } else {
        // One line of the frame as stored; its width is at most 65535 by the file format.
        QVector<GifPixelType> line(desc.Width);
        const int firstColumn = stored.isEmpty() ? 0 : stored.left() - rect.left();
        for (int n = 0; n < desc.Height; ++n) {
            if (DGifGetLine(file, line.data(), desc.Width) == GIF_ERROR) return fail(fromGiflib());
            if (stored.isEmpty()) continue;
            const int row = desc.Interlace ? interlacedRow(n, desc.Height) : n;
            const int y = rect.top() + row - stored.top();
            if (row < 0 || y < 0 || y >= stored.height()) continue;
            if (sink)
                (*sink)(y, line.constData() + firstColumn, colours.constData());
            else
                std::memcpy(image.scanLine(y), line.constData() + firstColumn,
                            size_t(stored.width()));
        }
    }

    budgetUsed += cost;
    frame->end = pos();
    ++frames;
    frame->rect = rect;
    frame->stored = stored;
    frame->image = image;
    frame->delayCs = delayCs;
    frame->disposal = disposal;
    frame->transparentIndex = transparentIndex;
    frame->interlaced = desc.Interlace;
    frame->hasControl = hasControl;
    hasControl = false;
    delayCs = 0;
    disposal = 0;
    transparentIndex = -1;
    return true;
}

GifFrameDecoder::GifFrameDecoder(QIODevice *device) : d(new Private)
{
    d->device = device;
}

GifFrameDecoder::GifFrameDecoder(const QByteArray &bytes) : d(new Private)
{
    d->memory.bytes = bytes;
}

GifFrameDecoder::~GifFrameDecoder()
{
    if (d->file) DGifCloseFile(d->file, nullptr);
}

bool GifFrameDecoder::open()
{
    if (d->file || (d->device && !d->device->isReadable())) return d->fail(NotGif);
    int error = 0;
    d->file = d->device ? DGifOpen(d->device, readFromDevice, &error)
                        : DGifOpen(&d->memory, readFromMemory, &error);
    if (!d->file) {
        d->error = NotGif; // no signature, or no whole screen descriptor
        return false;
    }
    d->screen.size = QSize(d->file->SWidth, d->file->SHeight);
    d->screen.hasGlobalPalette = d->file->SColorMap != nullptr;
    d->screen.backgroundIndex = d->file->SBackGroundColor;
    d->screen.globalPalette = paletteOf(d->file->SColorMap);
    d->headerEnd = d->pos();
    return true;
}

bool GifFrameDecoder::seek(qint64 pos)
{
    if (d->device) return d->device->seek(pos);
    if (pos < 0 || pos > d->memory.bytes.size()) return false;
    d->memory.pos = pos;
    return true;
}

const GifScreen &GifFrameDecoder::screen() const
{
    return d->screen;
}

QSize GifFrameDecoder::canvasSize() const
{
    return d->canvas;
}

void GifFrameDecoder::setCanvasSize(const QSize &size)
{
    if (d->frames == 0) d->canvas = size;
}

qint64 GifFrameDecoder::headerEnd() const
{
    return d->headerEnd;
}

bool GifFrameDecoder::readFrame(GifFrame *frame, bool withPixels)
{
    return d->nextFrame(frame, withPixels, nullptr);
}

bool GifFrameDecoder::readFrame(GifFrame *frame, const RowSink &sink)
{
    return d->nextFrame(frame, false, &sink);
}

bool GifFrameDecoder::Private::nextFrame(GifFrame *frame, bool withPixels, const RowSink *sink)
{
    if (!file || error != NoError || ended) return false;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(file, &type) == GIF_ERROR) {
            // Many writers leave out the trailer: a file that ends between records is whole.
            if (frames > 0 && file->Error == D_GIF_ERR_READ_FAILED && atEnd()) {
                ended = true;
                return false;
            }
            return fail(fromGiflib());
        }
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE:
            return readImage(frame, withPixels, sink);
        case EXTENSION_RECORD_TYPE:
            if (!readExtension()) return false;
            break;
        case TERMINATE_RECORD_TYPE:
            ended = true;
            return false;
        default:
            return fail(Corrupt);
        }
    }
}

int GifFrameDecoder::framesRead() const
{
    return d->frames;
}

GifFrameDecoder::Error GifFrameDecoder::error() const
{
    return d->error;
}

QString GifFrameDecoder::errorString() const
{
    switch (d->error) {
    case NoError:
        return QString();
    case NotGif:
        return QStringLiteral("not a GIF file");
    case Truncated:
        return QStringLiteral("the GIF data ends early");
    case Corrupt:
        return QStringLiteral("the GIF data is corrupt");
    case TooLarge:
        return QStringLiteral("the GIF picture is too large");
    case TooManyFrames:
        return QStringLiteral("the GIF has too many frames");
    }
    return QString();
}

} // namespace platform
