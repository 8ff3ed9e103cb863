#pragma once

#include <QByteArray>
#include <QImage>
#include <QScopedPointer>
#include <QSize>
#include <QString>

#include <mutex>

class QBuffer;
class QImageReader;

namespace platform {

// Decodes the frames (pages) of a picture file or of an in-memory picture, one at a time,
// to 32-bit premultiplied ARGB. The size of every frame is known before it is decoded, so
// a caller can refuse a frame before any pixel memory is spent on it. The reader is chosen
// by platform/PictureReaders (content first, then the file's suffix). Thread-safe: frames may be
// decoded from any thread, one at a time.
class FrameDecoder
{
public:
    // No frame larger than this many pixels is decoded (400 MiB of pixels).
    static constexpr qint64 MaxFramePixels = 104857600;
    // The frames a file may claim: at most this many, and no more than one for every
    // MinFrameBytes of it (an icon's directory entry, a TIFF page's smallest IFD). Callers
    // walk every frame, each through a fresh reader.
    static constexpr int MaxFrames = 4096;
    static constexpr qint64 MinFrameBytes = 16;

    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // Whether `bytes` of file can hold a frame of `size` in `format` (the reader's name) whose
    // pixels the reader gives as `pixels`; a header claiming more belongs to a broken or
    // hostile file, whose decode would cost the time and memory of pixels that are not there.
    // Every 8 x 8 block of a JPEG costs its data at least one bit: at most 512 pixels per
    // byte. The densest BMP data, a run, gives 255 pixels for two bytes; codes that skip
    // pixels could claim more, but no writer leaves a picture mostly unwritten: at most 256
    // pixels per byte. PNG data is deflated, which expands at most 1032 times, from at least
    // 1 bit per pixel for pictures given in 8 bits or fewer, 8 for 16, 24 for 32 and 48 for
    // more. Other formats are not judged.
    static bool dataCanHold(const QByteArray &format, const QSize &size, qint64 bytes,
                            QImage::Format pixels = QImage::Format_Invalid);

    // False when the content is no picture that can be decoded.
    bool open(const QString &path);
    bool open(const QByteArray &data);

    // The reader's name for the content ("jpeg", "png", "tiff", ...).
    QByteArray format() const;
    // At least 1 for an opened picture; at most what the file's size can hold (MaxFrames).
    int frameCount() const;
    // The stored size of frame n, read from its header; invalid when it cannot be read.
    QSize frameSize(int n);
    // Frame n in Format_ARGB32_Premultiplied; null when n is out of range, the frame is
    // larger than MaxFramePixels or than its data can hold (dataCanHold), or its data is
    // broken.
    QImage decodeFrame(int n);

private:
    bool jumpTo(int n);
    void reset();
    void countFrames();

    mutable std::mutex m_mutex; // visible to ThreadSanitizer, unlike QMutex
    QString m_path;
    QByteArray m_data;
    QScopedPointer<QBuffer> m_buffer;
    QScopedPointer<QImageReader> m_reader;
    QByteArray m_readerName; // QImageReader's name of the chosen reader
    QByteArray m_format;
    int m_frameCount = 0;
    int m_current = -1;
    qint64 m_bytes = 0;
};

} // namespace platform
