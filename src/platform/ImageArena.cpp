#include "ImageArena.h"

#include <sys/mman.h>

#include <cstring>

namespace platform {

namespace {
// Less memory than this in all gains nothing noticeable: ordinary copies.
constexpr qint64 kWorthIt = qint64(8) << 20;
// A block holds at most this much (or one picture, when a picture is larger).
constexpr qint64 kBlockBytes = qint64(32) << 20;
constexpr quintptr kHugePage = quintptr(2) << 20;
} // namespace

// One mapping; the part that starts and ends on huge-page boundaries is advised.
struct ImageArena::Block
{
    void *mapping = MAP_FAILED;
    size_t length = 0;
    uchar *data = nullptr;

    explicit Block(size_t bytes)
    {
        // Room to start on a huge-page boundary, so the block's first pages are huge too.
        length = bytes + kHugePage;
        mapping =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) return;
        const quintptr begin = (quintptr(mapping) + kHugePage - 1) & ~(kHugePage - 1);
        data = reinterpret_cast<uchar *>(begin);
#ifdef MADV_HUGEPAGE
        const quintptr end = (begin + bytes) & ~(kHugePage - 1);
        if (end > begin) ::madvise(data, end - begin, MADV_HUGEPAGE);
#endif
    }
    ~Block()
    {
        if (mapping != MAP_FAILED) ::munmap(mapping, length);
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
};

ImageArena::ImageArena(QSize size, QImage::Format format, int expected)
    : m_size(size), m_format(format), m_remaining(qMax(expected, 0))
{
    const QImage probe(1, 1, format);
    if (probe.isNull() || size.isEmpty()) return;
    m_imageBytes = qint64(probe.depth()) * size.width() / 8 * size.height();
    // Rows are packed as a QImage of this size lays them out only when no padding applies.
    if (qint64(probe.depth()) * size.width() % 32 != 0) return;
    if (m_imageBytes <= 0 || m_imageBytes * m_remaining < kWorthIt) return;
    m_blockImages = int(qMax<qint64>(1, kBlockBytes / m_imageBytes));
}

QImage ImageArena::copyOf(const QImage &source)
{
    if (source.isNull()) return QImage();
    if (m_blockImages == 0 || source.size() != m_size || source.format() != m_format)
        return source.copy();
    if (!m_block || m_used == m_blockCapacity) {
        // Sized for the pictures still planned, so that a short animation reserves no more
        // than it may use; past the plan, blocks of the full size.
        m_blockCapacity = m_remaining > 0 ? qMin(m_blockImages, m_remaining) : m_blockImages;
        m_block.reset(new Block(size_t(m_imageBytes) * size_t(m_blockCapacity)));
        m_used = 0;
        if (!m_block->data) {
            m_block.reset();
            return source.copy();
        }
    }
    uchar *data = m_block->data + size_t(m_imageBytes) * size_t(m_used);
    const qsizetype rowBytes = qsizetype(m_imageBytes / m_size.height());
    for (int y = 0; y < m_size.height(); ++y)
        std::memcpy(data + rowBytes * y, source.constScanLine(y), size_t(rowBytes));
    // The picture keeps its block until its last copy is gone.
    auto *keep = new QSharedPointer<Block>(m_block);
    QImage image(
        data, m_size.width(), m_size.height(), rowBytes, m_format,
        [](void *info) { delete static_cast<QSharedPointer<Block> *>(info); }, keep);
    if (image.isNull()) {
        delete keep;
        return source.copy();
    }
    image.setColorTable(source.colorTable());
    image.setDotsPerMeterX(source.dotsPerMeterX());
    image.setDotsPerMeterY(source.dotsPerMeterY());
    ++m_used;
    if (m_remaining > 0) --m_remaining;
    return image;
}

} // namespace platform
