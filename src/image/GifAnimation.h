#pragma once

#include "platform/ImageArena.h"

#include <QColor>
#include <QImage>
#include <QMap>
#include <QRect>
#include <QVector>

#include <mutex>

class QIODevice;

// The frames of a GIF and the pictures they compose. The file's bytes are kept and each
// frame is decoded when it is drawn, so that memory follows the file's size rather than
// its frame count, and playing in order decodes each frame once, as a streaming reader
// does. The picture of frame i is composed on demand by replaying the frames
// since the nearest checkpoint: every composed frame whose index is a multiple of 10 is
// kept, and so is the last composed frame, so that playing in order draws one frame per
// step and a jump draws at most ten.
class GifAnimation
{
public:
    // Reads every frame's records (the first frame's pixels too). False (and nothing kept)
    // when the data are not a GIF, are cut inside a frame, or exceed the reader's limits.
    // A later frame whose compressed pixels are corrupt is left out of the pictures.
    bool load(QIODevice *device);
    bool load(const QString &path);
    QString errorString() const { return m_error; }
    // The last load() refused a readable GIF because it exceeds the reader's limits.
    bool refusedByLimits() const { return m_refusedByLimits; }

    int frameCount() const { return m_frames.size(); }
    QSize canvasSize() const { return m_canvas; }
    // The frame as stored (Format_ARGB32_Premultiplied): its pixels inside the canvas, and
    // where they go.
    QImage rawFrame(int i) const;
    QRect frameRect(int i) const;
    // Delay as stored, in milliseconds (hundredths x 10).
    int delayMs(int i) const;
    int disposal(int i) const;
    QColor background() const { return m_background; }
    bool hasTransparency() const { return m_transparency; }
    int loopCount() const { return m_loopCount; }

    // The picture of frame i as shown during playback; null for i outside the frames.
    QImage composedFrame(int i);

    // Frames drawn onto a canvas so far, and whether frame i is a kept checkpoint.
    int framesDrawn() const { return m_drawn; }
    bool isCheckpoint(int i) const;

private:
    struct Frame
    {
        QRect rect; // the part of the frame inside the canvas
        int delayMs = 0;
        int disposal = 0;
        qint64 start = 0, end = 0; // the frame's records in the file, extensions included
        bool broken = false;       // its pixels failed to decode: it is left out
    };
    // A composed picture and what lay under its own frame before that frame was drawn,
    // which restore-to-previous disposal brings back.
    struct State
    {
        int index = -1;
        QImage canvas;
        QImage under; // meaningful only when frame `index` restores the previous picture
    };

    State stateAt(int i);
    // A kept copy of state, its canvas sharing nothing with state's.
    State checkpointOf(const State &state);
    // Frame i's palette indices with their colour table, decoded from the file's bytes.
    QImage decodeFrame(int i) const;
    // Decodes frame i straight onto canvas; false (canvas partly drawn) when its pixels
    // cannot be decoded.
    bool drawFrame(QImage &canvas, int i) const;
    // Disposes of state's frame and draws the frames after it up to and including `to`.
    // False when a frame turns out broken: it is marked so and state is then unusable.
    bool advance(State &state, int to);

    QByteArray m_bytes; // the whole file: frames are decoded from it when they are drawn
    qint64 m_headerEnd = 0;
    QVector<Frame> m_frames;
    QSize m_canvas;
    QColor m_background = QColor(0, 0, 0);
    bool m_transparency = false;
    int m_loopCount = -1;
    QString m_error;
    bool m_refusedByLimits = false;

    // Composition may be asked for from the loader and the view; std::mutex rather than
    // QMutex so that ThreadSanitizer sees the hand-over.
    mutable std::mutex m_mutex;
    QMap<int, State> m_checkpoints;
    platform::ImageArena m_arena; // the checkpoints' canvases
    State m_last;
    int m_drawn = 0;
};
