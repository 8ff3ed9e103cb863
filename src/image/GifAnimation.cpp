#include "GifAnimation.h"

#include "platform/GifFrameDecoder.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>
#include <cstring>

using platform::GifFrame;
using platform::GifFrameDecoder;

namespace {
constexpr int kCheckpointStep = 10;
// The file is kept in memory whole; a byte array of Qt 5 holds less than 2 GiB.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
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
    m_last = State();
    m_error.clear();
    m_refusedByLimits = false;

    if (!device || device->size() > kMaxFileBytes) {
        m_error = QStringLiteral("the GIF file is too large");
        m_refusedByLimits = device != nullptr;
        return false;
    }
    QByteArray bytes = device->readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    GifFrameDecoder decoder(&buffer);
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
    if (first.canvas.isNull() || (!m_frames.first().rect.isEmpty() && decodeFrame(0).isNull())) {
        m_refusedByLimits = first.canvas.isNull();
        m_error = first.canvas.isNull() ? QStringLiteral("the GIF picture is too large")
                                        : QStringLiteral("the first GIF frame cannot be decoded");
        m_bytes.clear();
        m_frames.clear();
        return false;
    }
    first.canvas.fill(Qt::transparent);
    advance(first, 0);
    m_checkpoints.insert(0, first);
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
    QBuffer buffer;
    buffer.setData(m_bytes);
    buffer.open(QIODevice::ReadOnly);
    GifFrameDecoder decoder(&buffer);
    decoder.setCanvasSize(m_canvas);
    GifFrame read;
    if (!decoder.open() || decoder.headerEnd() != m_headerEnd || !buffer.seek(frame.start) ||
        !decoder.readFrame(&read) || read.stored != frame.rect || read.end != frame.end)
        return QImage();
    return read.image;
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

// Frames are placed unscaled at whole pixels and every GIF pixel is either opaque or fully
// transparent, so drawing one over the canvas is a copy of its opaque pixels.
void drawFrame(QImage &canvas, const QImage &indices, const QPoint &at)
{
    const QVector<QRgb> colours = indices.colorTable();
    const QRgb *lut = colours.constData();
    const int width = indices.width(), height = indices.height();
    for (int y = 0; y < height; ++y) {
        const uchar *in = indices.constScanLine(y);
        QRgb *out = reinterpret_cast<QRgb *>(canvas.scanLine(at.y() + y)) + at.x();
        for (int x = 0; x < width; ++x) {
            const QRgb colour = lut[in[x]];
            if (colour) out[x] = colour;
        }
    }
}

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

} // namespace

// Disposes of state's frame and draws the frames after it up to and including `to`.
void GifAnimation::advance(State &state, int to)
{
    const QRgb background = qPremultiply(m_background.rgba());
    for (int j = state.index + 1; j <= to; ++j) {
        if (state.index >= 0) {
            const Frame &previous = m_frames.at(state.index);
            if (previous.disposal == kRestoreBackground && !previous.rect.isEmpty())
                fillRect(state.canvas, previous.rect, background);
            else if (previous.disposal == kRestorePrevious && !state.under.isNull())
                copyInto(state.canvas, state.under, previous.rect.topLeft());
        }
        const Frame &frame = m_frames.at(j);
        state.under = QImage();
        if (frame.disposal == kRestorePrevious && !frame.rect.isEmpty())
            state.under = state.canvas.copy(frame.rect);
        const QImage indices = decodeFrame(j);
        if (!indices.isNull()) drawFrame(state.canvas, indices, frame.rect.topLeft());
        state.index = j;
        ++m_drawn;
    }
}

GifAnimation::State GifAnimation::stateAt(int i)
{
    if (m_last.index == i) return m_last;
    auto checkpoint = m_checkpoints.upperBound(i);
    --checkpoint; // frame 0 is always kept, so there is one at or below i
    State state = checkpoint.value();
    // Continuing from the last picture takes it over: when the caller has let go of it, the
    // next frame is drawn in place instead of into a copy.
    if (m_last.index > state.index && m_last.index < i) state = std::move(m_last);
    m_last = State();
    advance(state, i);
    return state;
}

QImage GifAnimation::composedFrame(int i)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (i < 0 || i >= m_frames.size() || m_checkpoints.isEmpty()) return QImage();
    const auto kept = m_checkpoints.constFind(i);
    if (kept != m_checkpoints.constEnd()) return kept->canvas;
    m_last = stateAt(i);
    if (i % kCheckpointStep == 0) m_checkpoints.insert(i, m_last);
    return m_last.canvas;
}
