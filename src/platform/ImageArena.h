#pragma once

#include <QImage>
#include <QSharedPointer>
#include <QSize>

namespace platform {

// Keeps copies of pictures of one size, carved one after another out of large blocks that
// the system is asked to back with huge pages. Writing a fresh picture's worth of memory
// costs a page fault per 4 KB page, which on some machines takes longer than drawing the
// picture; a huge page needs one. A block is released when the arena and every picture
// carved from it have gone. Where huge pages are not worth it (little memory in all) or
// not available, the copies are ordinary QImage copies.
class ImageArena
{
public:
    ImageArena() = default;
    // Room for up to `expected` pictures of `size` in `format` is planned for; more may
    // be kept all the same.
    ImageArena(QSize size, QImage::Format format, int expected);

    // A copy of source that shares no pixels with it: null when source is null or memory
    // is short. source of another size or format is copied the ordinary way.
    QImage copyOf(const QImage &source);

private:
    struct Block;

    QSize m_size;
    QImage::Format m_format = QImage::Format_Invalid;
    qint64 m_imageBytes = 0;
    int m_blockImages = 0; // pictures per block; 0 when ordinary copies are made
    int m_remaining = 0;   // pictures still planned for
    QSharedPointer<Block> m_block;
    int m_blockCapacity = 0; // pictures m_block has room for
    int m_used = 0;          // pictures carved from m_block
};

} // namespace platform
