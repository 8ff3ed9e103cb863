#include "PsdPreview.h"

#include "PsdHeader.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdSections.h"
#include "PsdStream.h"
#include "platform/LargePages.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

using psd::PsdHeader;
using psd::PsdStream;

// Resource identifiers of the JPEG thumbnail (1033 is the older one).
constexpr quint16 kThumbnailIds[] = {1036, 1033};

// Byte offsets of red, green, blue and alpha within a Format_ARGB32 pixel in memory.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kChannelOffset[4] = {2, 1, 0, 3};
#else
constexpr int kChannelOffset[4] = {1, 2, 3, 0};
#endif

struct Thumbnail
{
    bool found = false;
    quint64 position = 0;
    quint32 size = 0;
};

// Reads just enough of a document for a preview: the header, the resource directory and,
// when needed, the merged picture; layers are skipped by seeking.
class PreviewReader
{
public:
    explicit PreviewReader(QIODevice *device) : m_sections(device), m_stream(m_sections.stream()) {}
    QImage read();

private:
    bool findThumbnail();
    QImage mergedPicture();
    bool placeRunLength(QImage &picture, int usedChannels);
    bool placeRaw(QImage &picture, int usedChannels);
    QImage thumbnail();

    psd::PsdSectionReader m_sections;
    PsdStream &m_stream;
    Thumbnail m_thumbnail;
};

QImage PreviewReader::read()
{
    if (!m_sections.readHeader() || !m_sections.locateResources() || !findThumbnail())
        return QImage();

    const PsdHeader &header = m_sections.header();
    const bool small =
        header.width <= quint32(psd::kPreviewSide) && header.height <= quint32(psd::kPreviewSide);
    if (header.mode == psd::Rgb && (small || !m_thumbnail.found)) {
        const QImage merged = mergedPicture();
        if (!merged.isNull()) return merged;
    }
    return m_thumbnail.found ? thumbnail() : QImage();
}

// Walks the resource blocks until a thumbnail or the end of the section. False when a
// block claims more bytes than the file holds.
bool PreviewReader::findThumbnail()
{
    PsdStream &s = m_stream;
    const psd::PsdSection &resources = m_sections.resources();
    if (!s.seek(resources.start)) return false;
    quint64 total = 0;
    while (resources.length != 0) {
        s.skip(4); // block signature
        const quint16 id = s.readU16();
        const quint8 nameLength = s.readU8();
        // The name is a Pascal string padded to an even length, length byte included.
        const quint32 nameSkip = nameLength % 2 == 0 ? nameLength + 1u : nameLength;
        s.skip(nameSkip);
        const quint32 size = s.readU32();
        if (!s.ok() || size > s.remaining()) return false;
        if (std::find(std::begin(kThumbnailIds), std::end(kThumbnailIds), id) !=
            std::end(kThumbnailIds)) {
            m_thumbnail = {true, quint64(s.pos()), size};
            return true;
        }
        const quint64 padded = size + (size & 1u);
        if (!s.skip(qMin<quint64>(padded, s.remaining()))) return false;
        total += padded + nameSkip + 11;
        if (total >= resources.length) return true;
    }
    return true;
}

QImage PreviewReader::mergedPicture()
{
    PsdStream &s = m_stream;
    const PsdHeader &header = m_sections.header();
    if (!m_sections.locateImageData()) return QImage();
    const bool hasAlpha = m_sections.mergedHasAlpha();
    // Samples of other depths are not bytes; the thumbnail stands in for them.
    if (!s.ok() || header.depth != 8) return QImage();

    const quint64 pixels = quint64(header.width) * header.height;
    if (pixels == 0 || pixels * 4 > psd::kMaxImageBytes ||
        pixels > s.remaining() * psd::kMaxPackBitsExpansion)
        return QImage();
    QImage picture(int(header.width), int(header.height), QImage::Format_ARGB32);
    if (picture.isNull()) return QImage();
    platform::adviseLargePages(picture.bits(), quint64(picture.sizeInBytes()));
    picture.fill(0xffffffffu);

    const int channels = header.channels;
    const int used = channels > 3 ? channels : (hasAlpha ? 4 : 3);
    const bool placed = m_sections.compression() == psd::RunLength ? placeRunLength(picture, used)
                                                                   : placeRaw(picture, used);
    if (!placed) return QImage();

    const uchar *bits = picture.constBits();
    if (std::all_of(bits, bits + picture.sizeInBytes(), [](uchar b) { return b == 0xff; }))
        return QImage();
    const int w = picture.width(), h = picture.height();
    if (w <= psd::kPreviewSide && h <= psd::kPreviewSide) return picture;
    const int side = psd::kPreviewSide;
    const QSize fit = w > h ? QSize(side, qMax(1, int(qint64(h) * side / w)))
                            : QSize(qMax(1, int(qint64(w) * side / h)), side);
    return picture.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// Run-length planes: a table of byte counts for every row of every used channel, then
// the rows, each a PackBits stream of its own.
bool PreviewReader::placeRunLength(QImage &picture, int usedChannels)
{
    PsdStream &s = m_stream;
    const quint32 height = m_sections.header().height;
    std::vector<quint32> counts;
    if (!m_sections.readRowCounts(quint64(usedChannels) * height, &counts)) return false;
    const quint32 largest = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    if (largest > s.remaining()) return false;

    const quint64 pixels = quint64(picture.width()) * picture.height();
    std::vector<uchar> row(largest);
    std::vector<uchar> expanded(
        qMin<quint64>(pixels, quint64(largest) * psd::kMaxPackBitsExpansion));
    uchar *bits = picture.bits();
    for (int c = 0; c < usedChannels; ++c) {
        const quint32 *channelCounts = counts.data() + quint64(c) * height;
        if (c >= 4) { // no place in the pixel
            for (quint32 r = 0; r < height; ++r)
                if (!s.skip(channelCounts[r])) return false;
            continue;
        }
        quint64 next = 0;
        for (quint32 r = 0; r < height; ++r) {
            const quint32 count = channelCounts[r];
            if (!s.readBytes(reinterpret_cast<char *>(row.data()), count)) return false;
            const quint64 room = qMin<quint64>(pixels - next, expanded.size());
            psd::PlaneSink sink(expanded.data(), room, std::numeric_limits<quint64>::max());
            psd::PackBitsDecoder(sink).feed(row.data(), count);
            const quint64 placed = qMin(sink.produced(), room);
            uchar *out = bits + next * 4 + kChannelOffset[c];
            for (quint64 i = 0; i < placed; ++i)
                out[i * 4] = expanded[i];
            next += placed;
        }
    }
    return true;
}

bool PreviewReader::placeRaw(QImage &picture, int usedChannels)
{
    PsdStream &s = m_stream;
    const int width = picture.width();
    std::vector<uchar> row(width);
    for (int c = 0; c < qMin(usedChannels, 4); ++c) {
        for (int y = 0; y < picture.height(); ++y) {
            if (!s.readBytes(reinterpret_cast<char *>(row.data()), width)) return false;
            uchar *out = picture.scanLine(y) + kChannelOffset[c];
            for (int x = 0; x < width; ++x)
                out[x * 4] = row[x];
        }
    }
    return true;
}

QImage PreviewReader::thumbnail()
{
    PsdStream &s = m_stream;
    if (m_thumbnail.size <= psd::kThumbnailHeader || m_thumbnail.size > psd::kMaxByteArray ||
        !s.seek(m_thumbnail.position) || !s.skip(psd::kThumbnailHeader))
        return QImage();
    QByteArray data(int(m_thumbnail.size - psd::kThumbnailHeader), Qt::Uninitialized);
    if (!s.readBytes(data.data(), data.size())) return QImage();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > psd::kMaxThumbnailSide ||
        size.height() > psd::kMaxThumbnailSide)
        return QImage();
    const QImage decoded = reader.read();
    if (decoded.isNull()) return QImage();
    // Drawn over transparent black, as a picture without alpha lands on a fresh bitmap.
    return decoded.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

QImage psdPreviewBitmap(QIODevice *device)
{
    if (!device || !device->isReadable()) return QImage();
    // A sequential device is read from where it stands; the reader holds it (up to a limit).
    if (!device->isSequential() && !device->seek(0)) return QImage();
    return PreviewReader(device).read();
}

QImage psdPreviewBitmap(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QImage();
    return psdPreviewBitmap(&file);
}

QPixmap psdPreviewPixmap(const QString &path)
{
    return QPixmap::fromImage(psdPreviewBitmap(path));
}
