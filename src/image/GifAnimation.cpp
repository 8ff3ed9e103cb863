#include "GifAnimation.h"

#include "platform/GifFrameDecoder.h"
#include "platform/LargePages.h"

#include <QFile>

#include <algorithm>
#include <cstring>

using platform::GifFrame;
using platform::GifFrameDecoder;

namespace {
constexpr int kCheckpointStep = 10;
// The file is kept in memory whole; a byte array of Qt 5 holds less than 2 GiB.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
// Files from this size on are read into memory that may come in huge pages.
constexpr quint64 kLargeFileBytes = quint64(4) << 20;
constexpr int kRestoreBackground = 2;
constexpr int kRestorePrevious = 3;
} // namespace

bool GifAnimation::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    return load(&file);
}

bool GifAnimation::load(QIODevice *device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytes.clear();
    m_frames.clear();
    m_checkpoints.clear();
    m_arena = platform::ImageArena();
    m_last = State();
    m_error.clear();
    m_refusedByLimits = false;

    if (!device || device->size() > kMaxFileBytes) {
        m_error = QStringLiteral("the GIF file is too large");
        m_refusedByLimits = device != nullptr;
        return false;
    }
    QByteArray bytes;
    if (device->isSequential()) {
        bytes = device->readAll();
    } else {
        // In one piece, into memory that may come in huge pages: on some machines a fault
        // for each fresh 4 KB page costs more than decoding what it holds.
        const qint64 size = qMax<qint64>(device->size() - device->pos(), 0);
        bytes = QByteArray(int(size), Qt::Uninitialized);
        platform::adviseLargePages(bytes.data(), quint64(size), kLargeFileBytes);
        bytes.resize(int(qMax<qint64>(device->read(bytes.data(), size), 0)));
    }
    GifFrameDecoder decoder(bytes);
    if (!decoder.open()) {
        m_error = decoder.errorString();
        return false;
    }
    QVector<Frame> frames;
    bool transparency = false;
    GifFrame read;
    qint64 start = decoder.headerEnd();
    while (decoder.readFrame(&read, false)) {
        Frame frame;
        frame.rect = read.stored;
        frame.delayMs = read.delayCs * 10;
        frame.disposal = read.disposal;
        frame.start = start;
        frame.end = read.end;
        start = read.end;
        transparency = transparency || read.transparentIndex >= 0;
        frames << frame;
    }
    // An area cleared by "restore to background" shows through the frames after it.
    for (int i = 0; i + 1 < frames.size(); ++i)
        transparency =
            transparency || (frames[i].disposal == kRestoreBackground && !frames[i].rect.isEmpty());
    if (decoder.error() != GifFrameDecoder::NoError || frames.isEmpty()) {
        m_error = frames.isEmpty() && decoder.error() == GifFrameDecoder::NoError
                      ? QStringLiteral("the GIF holds no frame")
                      : decoder.errorString();
        m_refusedByLimits = decoder.error() == GifFrameDecoder::TooLarge ||
                            decoder.error() == GifFrameDecoder::TooManyFrames;
        return false;
    }

    const platform::GifScreen &screen = decoder.screen();
    m_bytes = bytes;
    m_headerEnd = decoder.headerEnd();
    m_frames = frames;
    m_canvas = decoder.canvasSize();
    m_transparency = transparency;
    m_loopCount = screen.loopCount;
    m_background = QColor(0, 0, 0);
    if (screen.hasGlobalPalette && screen.backgroundIndex < screen.globalPalette.size())
        m_background = QColor::fromRgb(screen.globalPalette.at(screen.backgroundIndex));

    // The first frame must decode: without it there is no picture at all.
    State first;
    first.index = -1;
    first.canvas = QImage(m_canvas, QImage::Format_ARGB32_Premultiplied);
    if (!first.canvas.isNull()) first.canvas.fill(Qt::transparent);
    if (first.canvas.isNull() || !advance(first, 0)) {
        m_refusedByLimits = first.canvas.isNull();
        m_error = first.canvas.isNull() ? QStringLiteral("the GIF picture is too large")
                                        : QStringLiteral("the first GIF frame cannot be decoded");
        m_bytes.clear();
        m_frames.clear();
        return false;
    }
    m_arena = platform::ImageArena(m_canvas, QImage::Format_ARGB32_Premultiplied,
                                   (m_frames.size() + kCheckpointStep - 1) / kCheckpointStep);
    m_checkpoints.insert(0, checkpointOf(first));
    m_last = first;
    m_drawn = 0;
    return true;
}

QImage GifAnimation::decodeFrame(int i) const
{
    const Frame &frame = m_frames.at(i);
    if (frame.rect.isEmpty()) return QImage();
    // The header, then the frame's own records: giflib reads no further ahead than it
    // needs, so the device may move from one to the other between the two.
    GifFrameDecoder decoder(m_bytes);
    decoder.setCanvasSize(m_canvas);
    GifFrame read;
    if (!decoder.open() || decoder.headerEnd() != m_headerEnd || !decoder.seek(frame.start) ||
        !decoder.readFrame(&read) || read.stored != frame.rect || read.end != frame.end)
        return QImage();
    return read.image;
}

bool GifAnimation::drawFrame(QImage &canvas, int i) const
{
    const Frame &frame = m_frames.at(i);
    GifFrameDecoder decoder(m_bytes);
    decoder.setCanvasSize(m_canvas);
    if (!decoder.open() || decoder.headerEnd() != m_headerEnd || !decoder.seek(frame.start))
        return false;
    // Frames are placed unscaled at whole pixels and every GIF pixel is either opaque or
    // fully transparent (0 in the table), so drawing a row is a copy of its opaque pixels.
    uchar *const bits = canvas.bits();
    const qsizetype bytesPerLine = canvas.bytesPerLine();
    const QRect rect = frame.rect;
    const int width = rect.width();
    GifFrame read;
    const bool decoded = decoder.readFrame(&read, [&](int y, const uchar *in, const QRgb *lut) {
        if (y < 0 || y >= rect.height()) return;
        QRgb *out =
            reinterpret_cast<QRgb *>(bits + qsizetype(rect.top() + y) * bytesPerLine) + rect.left();
        for (int x = 0; x < width; ++x) {
            const QRgb colour = lut[in[x]];
            if (colour) out[x] = colour;
        }
    });
    return decoded && read.stored == rect && read.end == frame.end;
}

QImage GifAnimation::rawFrame(int i) const
{
    if (i < 0 || i >= m_frames.size()) return QImage();
    const QImage indices = decodeFrame(i);
    return indices.isNull() ? indices
                            : indices.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QRect GifAnimation::frameRect(int i) const
{
    return i >= 0 && i < m_frames.size() ? m_frames.at(i).rect : QRect();
}

int GifAnimation::delayMs(int i) const
{
    return i >= 0 && i < m_frames.size() ? m_frames.at(i).delayMs : 0;
}

int GifAnimation::disposal(int i) const
{
    return i >= 0 && i < m_frames.size() ? m_frames.at(i).disposal : 0;
}

bool GifAnimation::isCheckpoint(int i) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_checkpoints.contains(i);
}

namespace {

void fillRect(QImage &canvas, const QRect &rect, QRgb colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(canvas.scanLine(y)) + rect.left(), rect.width(),
                    colour);
}

void copyInto(QImage &canvas, const QImage &part, const QPoint &at)
{
    const size_t bytes = size_t(part.width()) * sizeof(QRgb);
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(reinterpret_cast<QRgb *>(canvas.scanLine(at.y() + y)) + at.x(),
                    part.constScanLine(y), bytes);
}

// part of canvas into under, whose pixels are reused when nobody else holds them.
void copyOut(QImage &under, const QImage &canvas, const QRect &part)
{
    if (under.size() != part.size() || !under.isDetached())
        under = QImage(part.size(), canvas.format());
    if (under.isNull()) return;
    const size_t bytes = size_t(part.width()) * sizeof(QRgb);
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(under.scanLine(y),
                    reinterpret_cast<const QRgb *>(canvas.constScanLine(part.top() + y)) +
                        part.left(),
                    bytes);
}

// Makes canvas one that only the caller holds, so that drawing changes no picture handed
// out before: into spare's pixels when nobody else holds them, else into new ones.
bool ownCanvas(QImage &canvas, QImage spare)
{
    if (canvas.isDetached()) return true;
    if (!spare.isDetached() || spare.size() != canvas.size() || spare.format() != canvas.format())
        spare = QImage(canvas.size(), canvas.format());
    if (spare.isNull()) return false;
    const size_t bytes = size_t(canvas.bytesPerLine());
    for (int y = 0; y < canvas.height(); ++y)
        std::memcpy(spare.scanLine(y), canvas.constScanLine(y), bytes);
    canvas = std::move(spare);
    return true;
}

} // namespace

bool GifAnimation::advance(State &state, int to)
{
    for (int j = state.index + 1; j <= to; ++j) {
        if (state.index >= 0) {
            const Frame &previous = m_frames.at(state.index);
            // "Restore to background" clears the frame's area to transparent, as every
            // browser does: the screen's background colour is not what writers mean by it.
            if (previous.disposal == kRestoreBackground && !previous.rect.isEmpty())
                fillRect(state.canvas, previous.rect, 0);
            else if (previous.disposal == kRestorePrevious && !previous.rect.isEmpty() &&
                     state.under.size() == previous.rect.size())
                copyInto(state.canvas, state.under, previous.rect.topLeft());
        }
        Frame &frame = m_frames[j];
        if (frame.disposal == kRestorePrevious && !frame.rect.isEmpty())
            copyOut(state.under, state.canvas, frame.rect);
        ++m_drawn;
        if (!frame.rect.isEmpty() && !frame.broken && !drawFrame(state.canvas, j)) {
            frame.broken = true;
            return false;
        }
        state.index = j;
    }
    return true;
}

GifAnimation::State GifAnimation::checkpointOf(const State &state)
{
    State kept;
    kept.index = state.index;
    kept.canvas = m_arena.copyOf(state.canvas);
    if (kept.canvas.isNull()) kept.canvas = state.canvas; // short of memory: share it
    if (m_frames.at(state.index).disposal == kRestorePrevious) kept.under = state.under;
    return kept;
}

GifAnimation::State GifAnimation::stateAt(int i)
{
    if (m_last.index == i) return m_last;
    for (;;) {
        auto checkpoint = m_checkpoints.upperBound(i);
        --checkpoint; // frame 0 is always kept, so there is one at or below i
        State state;
        QImage spare;
        // Continuing from the last picture takes it over: when the caller has let go of it,
        // the next frame is drawn in place instead of into a copy. Otherwise its pixels
        // take the kept picture's.
        if (m_last.index >= checkpoint.key() && m_last.index < i) {
            state = std::move(m_last);
        } else {
            state = checkpoint.value();
            spare = std::move(m_last.canvas);
        }
        m_last = State();
        if (!ownCanvas(state.canvas, std::move(spare))) return State();
        if (advance(state, i)) return state;
        // A frame turned out broken and is left out from now on: start again from a kept
        // picture, which it never reached, drawing into the pixels spoilt here.
        m_last.canvas = std::move(state.canvas);
    }
}

QImage GifAnimation::composedFrame(int i)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (i < 0 || i >= m_frames.size() || m_checkpoints.isEmpty()) return QImage();
    const auto kept = m_checkpoints.constFind(i);
    if (kept != m_checkpoints.constEnd()) return kept->canvas;
    m_last = stateAt(i);
    if (m_last.canvas.isNull()) {
        m_last = State();
        return QImage();
    }
    if (i % kCheckpointStep == 0) m_checkpoints.insert(i, checkpointOf(m_last));
    return m_last.canvas;
}
