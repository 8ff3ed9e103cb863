#include "RawPreviewFinder.h"

#include "RawLimits.h"

#include <QIODevice>
#include <QSet>
#include <QtEndian>

namespace raw {

namespace {

// Reads exactly `length` bytes at `offset`, or nothing.
QByteArray readAt(QIODevice *device, qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || offset > device->size() || length > device->size() - offset ||
        !device->seek(offset))
        return QByteArray();
    QByteArray bytes = device->read(length);
    return bytes.size() == length ? bytes : QByteArray();
}

// TIFF tags and values the walk looks at.
enum Tag : quint16 {
    TagCompression = 0x103,
    TagPhotometric = 0x106,
    TagStripOffsets = 0x111,
    TagStripByteCounts = 0x117,
    TagTileOffsets = 0x144,
    TagTileByteCounts = 0x145,
    TagSubIfds = 0x14A,
    TagJpegOffset = 0x201,
    TagJpegLength = 0x202,
    TagExifIfd = 0x8769,
};
enum Type : quint16 { TypeShort = 3, TypeLong = 4, TypeIfd = 13 };
constexpr quint16 CompressionOldJpeg = 6, CompressionJpeg = 7;
constexpr quint16 PhotometricCfa = 32803, PhotometricLinearRaw = 34892;

// One pass over the IFDs of a TIFF-based file, keeping the largest preview seen.
class TiffWalk
{
public:
    TiffWalk(QIODevice *device, bool bigEndian) : m_device(device), m_big(bigEndian) {}

    void walk(quint32 offset, int depth);
    void consider(qint64 offset, qint64 length);

    JpegPreview best;

private:
    quint16 u16(const char *p) const
    {
        return m_big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    quint32 u32(const char *p) const
    {
        return m_big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }

    // The first value of a SHORT or LONG entry (its value field holds it).
    bool single(const char *entry, quint32 *value) const
    {
        const quint16 type = u16(entry + 2);
        if (u32(entry + 4) != 1) return false;
        if (type == TypeShort)
            *value = u16(entry + 8);
        else if (type == TypeLong || type == TypeIfd)
            *value = u32(entry + 8);
        else
            return false;
        return true;
    }

    QIODevice *m_device;
    bool m_big;
    QSet<quint32> m_seen;
};

void TiffWalk::walk(quint32 offset, int depth)
{
    // A chain of next-IFD links is followed in this loop, nested IFDs by recursion.
    while (offset >= 8 && depth <= MaxIfdDepth && m_seen.size() < MaxIfds &&
           !m_seen.contains(offset)) {
        m_seen.insert(offset);
        const QByteArray head = readAt(m_device, offset, 2);
        if (head.isEmpty()) return;
        const int count = u16(head.constData());
        if (count == 0 || count > MaxIfdEntries) return;
        const QByteArray table = readAt(m_device, qint64(offset) + 2, qint64(count) * 12);
        if (table.isEmpty()) return;

        quint32 compression = 0, photometric = 0, stripOffset = 0, stripLength = 0;
        quint32 jpegOffset = 0, jpegLength = 0;
        QVector<quint32> nested;
        for (int i = 0; i < count; ++i) {
            const char *e = table.constData() + i * 12;
            quint32 value = 0;
            switch (u16(e)) {
            case TagCompression:
                if (single(e, &value)) compression = value;
                break;
            case TagPhotometric:
                if (single(e, &value)) photometric = value;
                break;
            case TagStripOffsets:
            case TagTileOffsets:
                if (single(e, &value)) stripOffset = value;
                break;
            case TagStripByteCounts:
            case TagTileByteCounts:
                if (single(e, &value)) stripLength = value;
                break;
            case TagJpegOffset:
                if (single(e, &value)) jpegOffset = value;
                break;
            case TagJpegLength:
                if (single(e, &value)) jpegLength = value;
                break;
            case TagExifIfd:
                if (single(e, &value)) nested << value;
                break;
            case TagSubIfds: {
                const quint16 type = u16(e + 2);
                const quint32 n = u32(e + 4);
                if ((type != TypeLong && type != TypeIfd) || n == 0 || n > MaxSubIfds) break;
                if (n == 1) {
                    nested << u32(e + 8);
                    break;
                }
                const QByteArray list = readAt(m_device, u32(e + 8), qint64(n) * 4);
                for (quint32 k = 0; k < quint32(list.size()) / 4; ++k)
                    nested << u32(list.constData() + k * 4);
                break;
            }
            default:
                break;
            }
        }

        if (jpegOffset && jpegLength) consider(jpegOffset, jpegLength);
        // A strip or tile of JPEG data is a preview unless it holds the sensor data.
        if ((compression == CompressionJpeg || compression == CompressionOldJpeg) &&
            photometric != PhotometricCfa && photometric != PhotometricLinearRaw && stripOffset &&
            stripLength)
            consider(stripOffset, stripLength);
        for (quint32 child : nested)
            walk(child, depth + 1);

        const QByteArray next = readAt(m_device, qint64(offset) + 2 + qint64(count) * 12, 4);
        if (next.isEmpty()) return;
        offset = u32(next.constData());
    }
}

void TiffWalk::consider(qint64 offset, qint64 length)
{
    if (length > BufferLimit) return;
    const QSize size = jpegFrameSize(m_device, offset, length);
    if (size.isEmpty()) return;
    const qint64 area = qint64(size.width()) * size.height();
    const qint64 bestArea = best.isValid() ? qint64(best.size.width()) * best.size.height() : 0;
    if (area > bestArea || (area == bestArea && length > best.length))
        best = {offset, length, size};
}

} // namespace

QSize jpegFrameSize(QIODevice *device, qint64 offset, qint64 length)
{
    if (!device || offset < 0 || length < 4 || offset > device->size() ||
        length > device->size() - offset)
        return QSize();
    const qint64 end = offset + length;
    const QByteArray soi = readAt(device, offset, 2);
    if (soi != QByteArray("\xFF\xD8", 2)) return QSize();

    QSize size;
    qint64 at = offset + 2;
    for (int segment = 0; segment < MaxJpegSegments; ++segment) {
        const QByteArray marker = readAt(device, at, 4);
        if (marker.size() != 4 || at + 4 > end || uchar(marker[0]) != 0xFF) return QSize();
        const uchar code = uchar(marker[1]);
        if (code == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) { // markers without a length
            at += 2;
            continue;
        }
        const quint16 segmentLength = qFromBigEndian<quint16>(marker.constData() + 2);
        if (segmentLength < 2 || at + 2 + segmentLength > end) return QSize();
        if (code == 0xC0 || code == 0xC1 || code == 0xC2) {
            const QByteArray frame = readAt(device, at + 4, 5);
            if (frame.size() != 5 || !size.isEmpty()) return QSize();
            const int height = qFromBigEndian<quint16>(frame.constData() + 1);
            const int width = qFromBigEndian<quint16>(frame.constData() + 3);
            if (width == 0 || height == 0 || qint64(width) * height > MaxPreviewPixels)
                return QSize();
            size = QSize(width, height);
        } else if (code == 0xDA) {
            // The scan begins: the header was whole.
            return size;
        } else if ((code >= 0xC3 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) ||
                   code == 0xD8 || code == 0xD9) {
            // Another frame type (lossless, arithmetic, hierarchical), or the end before a
            // scan: nothing the JPEG reader shows.
            return QSize();
        }
        at += 2 + segmentLength;
    }
    return QSize();
}

JpegPreview findLargestJpegPreview(QIODevice *device)
{
    if (!device || !device->isReadable() || device->isSequential()) return JpegPreview();
    const QByteArray head = readAt(device, 0, 8);
    if (head.size() != 8) return JpegPreview();

    // Fujifilm's RAF: a header of its own that points at the JPEG preview.
    if (head.startsWith("FUJIFILM")) {
        const QByteArray pointers = readAt(device, 84, 8);
        if (pointers.isEmpty()) return JpegPreview();
        TiffWalk walk(device, true);
        walk.consider(qFromBigEndian<quint32>(pointers.constData()),
                      qFromBigEndian<quint32>(pointers.constData() + 4));
        return walk.best;
    }

    // TIFF, and the variants of it with another magic number: ORF ("RO", "SR"), RW2 (0x55).
    const bool little = head.startsWith("II"), big = head.startsWith("MM");
    if (!little && !big) return JpegPreview();
    const quint16 magic = big ? qFromBigEndian<quint16>(head.constData() + 2)
                              : qFromLittleEndian<quint16>(head.constData() + 2);
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return JpegPreview();
    TiffWalk walk(device, big);
    walk.walk(big ? qFromBigEndian<quint32>(head.constData() + 4)
                  : qFromLittleEndian<quint32>(head.constData() + 4),
              0);
    return walk.best;
}

QImage decodeJpegPreview(QIODevice *device, const JpegPreview &preview)
{
    if (!device || !preview.isValid() || preview.length > BufferLimit) return QImage();
    const QByteArray bytes = readAt(device, preview.offset, preview.length);
    QImage image;
    if (bytes.isEmpty() || !image.loadFromData(bytes, "JPEG")) return QImage();
    return image;
}

} // namespace raw
