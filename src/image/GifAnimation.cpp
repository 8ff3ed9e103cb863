#include "GifAnimation.h"

#include "platform/GifFrameDecoder.h"

#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using platform::GifFrame;
using platform::GifFrameDecoder;

namespace {
constexpr int kCheckpointStep = 10;
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
    QMutexLocker lock(&m_mutex);
    m_frames.clear();
    m_checkpoints.clear();
    m_last = State();
    m_error.clear();
    m_refusedByLimits = false;

    GifFrameDecoder decoder(device);
    if (!decoder.open()) {
        m_error = decoder.errorString();
        return false;
    }
    QVector<Frame> frames;
    bool transparency = false;
    GifFrame read;
    while (decoder.readFrame(&read)) {
        Frame frame;
        frame.image = read.image;
        frame.rect = read.stored;
        frame.delayMs = read.delayCs * 10;
        frame.disposal = read.disposal;
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
    m_frames = frames;
    m_canvas = decoder.canvasSize();
    m_transparency = transparency;
    m_loopCount = screen.loopCount;
    m_background = QColor(0, 0, 0);
    if (screen.hasGlobalPalette && screen.backgroundIndex < screen.globalPalette.size())
        m_background = QColor::fromRgb(screen.globalPalette.at(screen.backgroundIndex));

    State first;
    first.index = -1;
    first.canvas = QImage(m_canvas, QImage::Format_ARGB32_Premultiplied);
    if (first.canvas.isNull()) {
        m_frames.clear();
        m_error = QStringLiteral("the GIF picture is too large");
        m_refusedByLimits = true;
        return false;
    }
    first.canvas.fill(Qt::transparent);
    advance(first, 0);
    m_checkpoints.insert(0, first);
    m_last = first;
    m_drawn = 0;
    return true;
}

QImage GifAnimation::rawFrame(int i) const
{
    if (i < 0 || i >= m_frames.size() || m_frames.at(i).image.isNull()) return QImage();
    return m_frames.at(i).image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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
    QMutexLocker lock(const_cast<QMutex *>(&m_mutex));
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
        if (!frame.image.isNull()) drawFrame(state.canvas, frame.image, frame.rect.topLeft());
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
    QMutexLocker lock(&m_mutex);
    if (i < 0 || i >= m_frames.size() || m_checkpoints.isEmpty()) return QImage();
    const auto kept = m_checkpoints.constFind(i);
    if (kept != m_checkpoints.constEnd()) return kept->canvas;
    m_last = stateAt(i);
    if (i % kCheckpointStep == 0) m_checkpoints.insert(i, m_last);
    return m_last.canvas;
}
