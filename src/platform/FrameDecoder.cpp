#include "platform/FrameDecoder.h"

#include "platform/LargePages.h"
#include "platform/PictureReaders.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace platform {

FrameDecoder::FrameDecoder() = default;
FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::dataCanHold(const QByteArray &format, const QSize &size, qint64 bytes,
                               QImage::Format pixels)
{
    const qint64 count = qint64(size.width()) * size.height();
    bytes = qMax<qint64>(0, bytes);
    if (format == "jpeg") return count <= bytes * 512;
    if (format == "bmp") return count <= bytes * 256;
    if (format == "png") {
        const int depth = QImage::toPixelFormat(pixels).bitsPerPixel();
        const int bits = depth <= 8 ? 1 : depth <= 16 ? 8 : depth <= 32 ? 24 : 48;
        return count <= bytes * 8 * 1032 / bits;
    }
    return true;
}

bool FrameDecoder::open(const QString &path)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_path = path;
    m_data.clear();
    m_bytes = QFileInfo(path).size();
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return false;
        m_reader.reset();
        m_readerName = pictureReaders::choose(&file, QFileInfo(path).suffix().toLatin1());
    }
    reset();
    if (!m_reader->canRead()) return false;
    m_format = pictureReaders::formatName(m_reader->format());
    countFrames();
    return true;
}

bool FrameDecoder::open(const QByteArray &data)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_path.clear();
    m_data = data;
    m_bytes = data.size();
    {
        QBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        m_reader.reset();
        m_readerName = pictureReaders::choose(&buffer, QByteArray());
    }
    reset();
    if (!m_reader->canRead()) return false;
    m_format = pictureReaders::formatName(m_reader->format());
    countFrames();
    return true;
}

QByteArray FrameDecoder::format() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_format;
}

int FrameDecoder::frameCount() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_frameCount;
}

QSize FrameDecoder::frameSize(int n)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    if (!jumpTo(n)) return {};
    return m_reader->size();
}

QImage FrameDecoder::decodeFrame(int n)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    if (!jumpTo(n)) return {};
    const QSize size = m_reader->size();
    if (!size.isValid() || qint64(size.width()) * size.height() > MaxFramePixels ||
        !dataCanHold(m_format, size, m_bytes,
                     m_format == "png" ? m_reader->imageFormat() : QImage::Format_Invalid))
        return {};
    QImage image;
    if (m_format == "jpeg") {
        // The JPEG reader fills a picture handed to it when size and format match (RGB32
        // for colour files). Allocated here, the large buffer can be put on huge pages
        // before its first touch: a 12-megapixel picture otherwise costs ~12000 page faults,
        // a good part of the decode time. Other formats allocate their own.
        image = QImage(size, QImage::Format_RGB32);
        if (!image.isNull()) adviseLargePages(image.bits(), quint64(image.sizeInBytes()));
    }
    const bool ok = m_reader->read(&image);
    // The reader has moved on; the next request starts afresh.
    m_current = -1;
    if (!ok || image.isNull()) return {};
    // Opaque 32-bit pixels (0xffRRGGBB) already are premultiplied ARGB: no copy for them.
    if (image.format() == QImage::Format_RGB32)
        image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    else if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return image;
}

void FrameDecoder::countFrames()
{
    const qint64 claimed = m_reader->imageCount();
    const qint64 held = qMax<qint64>(1, m_bytes / MinFrameBytes);
    m_frameCount = int(qBound<qint64>(1, qMin(claimed, held), MaxFrames));
}

// A fresh reader stands at frame 0; other frames are reached by jumping (pages of a TIFF).
bool FrameDecoder::jumpTo(int n)
{
    if (!m_reader || n < 0 || n >= m_frameCount) return false;
    if (m_current == n) return true;
    reset();
    if (n > 0 && !m_reader->jumpToImage(n)) {
        m_current = -1;
        return false;
    }
    m_current = n;
    return true;
}

void FrameDecoder::reset()
{
    m_reader.reset();
    m_buffer.reset();
    if (m_path.isEmpty()) {
        m_buffer.reset(new QBuffer(&m_data));
        m_buffer->open(QIODevice::ReadOnly);
        m_reader.reset(new QImageReader(m_buffer.data()));
    } else {
        m_reader.reset(new QImageReader(m_path));
    }
    // Only the chosen reader: QImageReader would otherwise guess again, by other rules.
    m_reader->setFormat(m_readerName);
    m_reader->setAutoDetectImageFormat(false);
    m_reader->setAutoTransform(false);
    m_current = 0;
}

} // namespace platform
