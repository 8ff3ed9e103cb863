#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class QIODevice;

namespace platform {

// Every limit that the GIF reader applies to numbers taken from a file, in one place.
namespace gif {
// The logical screen, and so every composed frame, holds at most this many pixels (the
// raster back-end's limit for a whole picture).
constexpr qint64 kMaxCanvasPixels = 0x6400000;
// A GIF with more frames is refused: at 100 frames a second this is eleven minutes.
constexpr int kMaxFrames = 65535;
// Bytes of stored frame pixels (one per pixel) a whole animation may hold in memory.
constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;
// What one frame costs besides its pixels (image header, list entries), counted against
// the budget above so that many tiny frames cannot grow without bound either.
constexpr qint64 kFrameOverheadBytes = 256;
} // namespace gif

// The logical screen descriptor with the global palette and the loop count.
struct GifScreen
{
    QSize size; // as stored; may be 0 x 0
    bool hasGlobalPalette = false;
    int backgroundIndex = 0;     // into the global palette
    QVector<QRgb> globalPalette; // opaque colours
    int loopCount = -1;          // NETSCAPE2.0 loop count; -1 without one, 0 forever
};

// One frame: its image descriptor, its graphic control extension and its pixels.
struct GifFrame
{
    QRect rect;   // placement as stored (left, top, width, height)
    QRect stored; // the part of rect inside the canvas; what image holds
    // The stored part as palette indices (Format_Indexed8) with a 256-entry colour table:
    // the frame's palette opaque, its transparent index and indices beyond the palette
    // fully transparent (0). Null when nothing of the frame lies in the canvas.
    QImage image;
    int delayCs = 0;           // hundredths of a second
    int disposal = 0;          // 0-7 as stored
    int transparentIndex = -1; // -1 without transparency
    bool interlaced = false;
    bool hasControl = false; // a graphic control extension preceded the frame
    qint64 end = 0;          // device position just after the frame's data
};

// Reads a GIF stream frame by frame through giflib. Every size read from the file is
// checked before anything is allocated for it; frame pixels outside the canvas are decoded
// (the compressed data must be consumed) but not stored.
class GifFrameDecoder
{
public:
    enum Error {
        NoError,
        NotGif,        // no GIF signature or no screen descriptor
        Truncated,     // the data ends inside a record
        Corrupt,       // a record that giflib rejects, or a frame without any palette
        TooLarge,      // the canvas or the stored frames exceed the limits above
        TooManyFrames, // more than gif::kMaxFrames frames
    };

    explicit GifFrameDecoder(QIODevice *device);
    // Reads the stream from memory (shared, not copied).
    explicit GifFrameDecoder(const QByteArray &bytes);
    ~GifFrameDecoder();
    GifFrameDecoder(const GifFrameDecoder &) = delete;
    GifFrameDecoder &operator=(const GifFrameDecoder &) = delete;

    // Reads the header and the logical screen descriptor.
    bool open();
    const GifScreen &screen() const;
    // The size of every composed frame: the logical screen, or the extent of the first
    // frame when the screen is stored as 0 x 0. Known after the first readFrame().
    QSize canvasSize() const;

    // The canvas to use instead of the one the stream's own header gives; set before the
    // first readFrame() (a stream made of one frame of a larger file uses the file's).
    void setCanvasSize(const QSize &size);
    // Device position after the header, the screen descriptor and the global palette.
    qint64 headerEnd() const;
    // Moves to pos in the stream, which must be where records begin (between frames):
    // giflib reads no further ahead than it needs.
    bool seek(qint64 pos);

    // Reads the next frame into frame. False at the trailer (error() is NoError) and on
    // any failure (error() says which); frame is then left unchanged. Without pixels the
    // compressed data are walked over, not decoded: frame.image stays null.
    bool readFrame(GifFrame *frame, bool withPixels = true);
    // Receives a frame's stored part row by row: y counts from the top of GifFrame::stored,
    // indices holds stored.width() palette indices and colours the 256-entry table that
    // GifFrame::image would carry. Interlaced rows arrive in the order they are stored.
    using RowSink = std::function<void(int y, const uchar *indices, const QRgb *colours)>;
    // Reads the next frame like readFrame() but hands its pixels to sink instead of
    // keeping them (frame.image stays null). When it fails part way, sink has seen the
    // rows decoded so far.
    bool readFrame(GifFrame *frame, const RowSink &sink);
    int framesRead() const;

    Error error() const;
    QString errorString() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
