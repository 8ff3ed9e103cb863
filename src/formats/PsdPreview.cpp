#include "PsdPreview.h"

#include "PsdDecoder.h"
#include "PsdHeader.h"
#include "PsdLayers.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdSections.h"
#include "PsdStream.h"

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
    void findThumbnail();
    QImage mergedPicture();
    bool locateRows(int used);
    bool readRow(int channel, quint32 y, uchar *out);
    QImage thumbnail();
    QImage decodedPicture();

    psd::PsdSectionReader m_sections;
    PsdStream &m_stream;
    Thumbnail m_thumbnail;
    // Where each row of each used channel starts, and its byte count (run-length data).
    quint64 m_dataStart = 0;
    std::vector<quint64> m_rowAt;
    std::vector<quint32> m_rowLength;
    std::vector<uchar> m_packed;
    bool m_mergedBlank = false; // the merged picture was read and is all white
};

QImage PreviewReader::read()
{
    if (!m_sections.readHeader() || !m_sections.locateResources()) return QImage();
    findThumbnail();

    const PsdHeader &header = m_sections.header();
    const bool small =
        header.width <= quint32(psd::kPreviewSide) && header.height <= quint32(psd::kPreviewSide);
    if (header.mode == psd::Rgb && (small || !m_thumbnail.found)) {
        const QImage merged = mergedPicture();
        if (!merged.isNull()) return merged;
    }
    if (m_thumbnail.found) return thumbnail();
    // A damaged 8-bit RGB merged picture stays refused; a blank one may have layers.
    const bool rgb8 = header.mode == psd::Rgb && header.depth == 8 && header.channels >= 3;
    return !rgb8 || m_mergedBlank ? decodedPicture() : QImage();
}

// Without a thumbnail, any other document is decoded whole, as the image reader decodes it
// (other colour modes and depths, layers composed when the merged picture is blank), and
// reduced. A blank picture with no layers drawn gives none, as a blank merged picture does.
QImage PreviewReader::decodedPicture()
{
    QIODevice *device = m_stream.device();
    if (!device->seek(0)) return QImage();
    psd::PsdDecoder decoder(device);
    QImage picture;
    if (!decoder.read(&picture)) return QImage();
    if (decoder.layersDrawn() == 0 && psd::isBlankPicture(picture)) return QImage();
    const int side = psd::kPreviewSide;
    if (picture.width() > side || picture.height() > side) {
        const QSize fit =
            picture.width() > picture.height()
                ? QSize(side, qMax(1, int(qint64(picture.height()) * side / picture.width())))
                : QSize(qMax(1, int(qint64(picture.width()) * side / picture.height())), side);
        picture = picture.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return picture.convertToFormat(QImage::Format_ARGB32);
}

// Walks the resource blocks until a thumbnail or the end of the section. A block that
// claims more than the section holds ends the walk; the merged picture may still serve.
void PreviewReader::findThumbnail()
{
    PsdStream &s = m_stream;
    const psd::PsdSection &resources = m_sections.resources();
    if (!s.seek(resources.start)) return;
    while (quint64(s.pos()) + 12 <= resources.end()) {
        s.skip(4); // block signature
        const quint16 id = s.readU16();
        const quint8 nameLength = s.readU8();
        // The name is a Pascal string padded to an even length, length byte included.
        const quint32 nameSkip = nameLength % 2 == 0 ? nameLength + 1u : nameLength;
        s.skip(nameSkip);
        const quint32 size = s.readU32();
        if (!s.ok() || quint64(s.pos()) + size > resources.end()) return;
        if (std::find(std::begin(kThumbnailIds), std::end(kThumbnailIds), id) !=
            std::end(kThumbnailIds)) {
            m_thumbnail = {true, quint64(s.pos()), size};
            return;
        }
        const quint64 padded = size + (size & 1u);
        if (!s.skip(qMin<quint64>(padded, resources.end() - quint64(s.pos())))) return;
    }
}

// Checks that the data hold every row of every channel before anything is allocated for
// them, and notes where the rows of the used channels start.
bool PreviewReader::locateRows(int used)
{
    PsdStream &s = m_stream;
    const PsdHeader &header = m_sections.header();
    const quint64 height = header.height, channels = header.channels;
    if (m_sections.compression() == psd::Raw) {
        m_dataStart = quint64(s.pos());
        return header.planeBytes() * channels <= s.remaining();
    }
    const quint64 entries = channels * height;
    const quint64 entryBytes = quint64(m_sections.rowCountBytes());
    if (entries > s.remaining() / entryBytes) return false;
    // Rows that come out short are padded, so the work would follow the claimed size rather
    // than the data; a document whose data cannot expand to its used planes is refused.
    const quint64 usedPlanes = header.planeBytes() * quint64(used);
    if (usedPlanes / psd::kMaxPackBitsExpansion > s.remaining() - entries * entryBytes)
        return false;
    const quint64 usedRows = quint64(used) * height;
    m_rowAt.resize(usedRows);
    m_rowLength.resize(usedRows);
    quint64 at = quint64(s.pos()) + entries * entryBytes;
    const quint64 end = at + (s.remaining() - entries * entryBytes);
    const bool psb = header.isPsb();
    for (quint64 i = 0; i < entries; ++i) {
        const quint32 count = psb ? s.readU32() : s.readU16();
        if (i < usedRows) {
            m_rowAt[i] = at;
            m_rowLength[i] = count;
        }
        at += count;
        if (at > end) return false;
    }
    return s.ok();
}

// One row of one channel, width bytes; a run-length row that comes out short is padded
// with white.
bool PreviewReader::readRow(int channel, quint32 y, uchar *out)
{
    PsdStream &s = m_stream;
    const quint32 width = m_sections.header().width;
    const quint64 index = quint64(channel) * m_sections.header().height + y;
    if (m_sections.compression() == psd::Raw)
        return s.seek(m_dataStart + index * width) &&
               s.readBytes(reinterpret_cast<char *>(out), width);
    if (!s.seek(m_rowAt[index])) return false;
    psd::PlaneSink sink(out, width, std::numeric_limits<quint64>::max());
    psd::PackBitsDecoder decoder(sink);
    quint64 left = m_rowLength[index];
    qint64 held = 0;
    m_packed.resize(size_t(psd::kReadChunk));
    while (left > 0 && sink.produced() < width) {
        const qint64 want = qint64(qMin<quint64>(left, quint64(psd::kReadChunk - held)));
        if (!s.readBytes(reinterpret_cast<char *>(m_packed.data()) + held, want)) return false;
        left -= quint64(want);
        held += want;
        const qint64 usedBytes = decoder.feed(m_packed.data(), held);
        if (decoder.overflow()) break;
        std::copy(m_packed.begin() + usedBytes, m_packed.begin() + held, m_packed.begin());
        held -= usedBytes;
    }
    if (sink.produced() < width) std::fill(out + sink.produced(), out + width, uchar(0xff));
    return true;
}

// The merged picture, reduced as its rows are read: besides the output, only one row of
// each used channel and one row of sums are held.
QImage PreviewReader::mergedPicture()
{
    PsdStream &s = m_stream;
    const PsdHeader &header = m_sections.header();
    if (!m_sections.locateImageData()) return QImage();
    // Samples of other depths are not bytes; the thumbnail stands in for them.
    if (!s.ok() || header.depth != 8 || header.channels < 3) return QImage();
    const bool alpha = header.channels > 3 && m_sections.mergedHasTransparency();
    const int used = alpha ? 4 : 3;

    const quint32 w = header.width, h = header.height;
    if (w == 0 || h == 0 || !locateRows(used)) return QImage();
    const int side = psd::kPreviewSide;
    const QSize fit = w <= quint32(side) && h <= quint32(side) ? QSize(int(w), int(h))
                      : w > h ? QSize(side, qMax(1, int(qint64(h) * side / w)))
                              : QSize(qMax(1, int(qint64(w) * side / h)), side);
    QImage picture(fit, QImage::Format_ARGB32);
    if (picture.isNull()) return QImage();

    std::vector<uchar> rows(size_t(used) * w);
    std::vector<int> column(w);
    std::vector<quint32> perColumn(size_t(fit.width()), 0);
    for (quint32 x = 0; x < w; ++x) {
        column[x] = int(quint64(x) * quint64(fit.width()) / w);
        ++perColumn[size_t(column[x])];
    }
    // Sums of alpha-weighted red, green and blue, of alpha, and of the colours as stored
    // (for pixels that are wholly transparent), for one output row.
    std::vector<quint64> sums(size_t(fit.width()) * 7);
    bool allWhite = true;
    quint32 y = 0;
    for (int oy = 0; oy < fit.height(); ++oy) {
        const quint32 last = quint32(quint64(oy + 1) * h / quint64(fit.height()));
        std::fill(sums.begin(), sums.end(), 0);
        quint32 rowsSummed = 0;
        for (; y < last; ++y, ++rowsSummed) {
            for (int c = 0; c < used; ++c)
                if (!readRow(c, y, rows.data() + size_t(c) * w)) return QImage();
            const uchar *r = rows.data(), *g = r + w, *b = g + w, *a = alpha ? b + w : nullptr;
            for (quint32 x = 0; x < w; ++x) {
                const quint32 av = a ? a[x] : 255u;
                if ((r[x] & g[x] & b[x] & av) != 0xff) allWhite = false;
                quint64 *sum = sums.data() + size_t(column[x]) * 7;
                sum[0] += r[x] * av;
                sum[1] += g[x] * av;
                sum[2] += b[x] * av;
                sum[3] += av;
                sum[4] += r[x];
                sum[5] += g[x];
                sum[6] += b[x];
            }
        }
        uchar *out = picture.scanLine(oy);
        for (int ox = 0; ox < fit.width(); ++ox) {
            const quint64 *sum = sums.data() + size_t(ox) * 7;
            const quint64 n = quint64(perColumn[size_t(ox)]) * rowsSummed;
            const quint64 a = n ? (sum[3] + n / 2) / n : 0;
            for (int c = 0; c < 3; ++c)
                out[ox * 4 + kChannelOffset[c]] =
                    uchar(sum[3] ? (sum[c] + sum[3] / 2) / sum[3] : (sum[4 + c] + n / 2) / n);
            out[ox * 4 + kChannelOffset[3]] = uchar(a);
        }
    }
    m_mergedBlank = allWhite;
    if (allWhite) return QImage();
    return picture;
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
