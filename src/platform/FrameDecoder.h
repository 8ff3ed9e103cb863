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
// a caller can refuse a frame before any pixel memory is spent on it. The format is found
// from the content. Thread-safe: frames may be decoded from any thread, one at a time.
class FrameDecoder
{
public:
    // No frame larger than this many pixels is decoded (400 MiB of pixels).
    static constexpr qint64 MaxFramePixels = 104857600;

    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // False when the content is no picture that can be decoded.
    bool open(const QString &path);
    bool open(const QByteArray &data);

    // The reader's name for the content ("jpeg", "png", "tiff", ...).
    QByteArray format() const;
    // At least 1 for an opened picture.
    int frameCount() const;
    // The stored size of frame n, read from its header; invalid when it cannot be read.
    QSize frameSize(int n);
    // Frame n in Format_ARGB32_Premultiplied; null when n is out of range, the frame is
    // larger than MaxFramePixels or its data is broken.
    QImage decodeFrame(int n);

private:
    bool jumpTo(int n);
    void reset();

    mutable std::mutex m_mutex; // visible to ThreadSanitizer, unlike QMutex
    QString m_path;
    QByteArray m_data;
    QScopedPointer<QBuffer> m_buffer;
    QScopedPointer<QImageReader> m_reader;
    QByteArray m_format;
    int m_frameCount = 0;
    int m_current = -1;
};

} // namespace platform
