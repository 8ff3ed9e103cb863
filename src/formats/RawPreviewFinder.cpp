#include "RawPreviewFinder.h"

#include "CiffHeap.h"
#include "IsoBoxes.h"
#include "RawLimits.h"
#include "RawShootingData.h"

#include <QDateTime>
#include <QIODevice>
#include <QSet>
#include <QtEndian>

#include <algorithm>

namespace raw {

QByteArray readAt(QIODevice *device, qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || offset > device->size() || length > device->size() - offset ||
        !device->seek(offset))
        return QByteArray();
    QByteArray bytes = device->read(length);
    return bytes.size() == length ? bytes : QByteArray();
}

namespace {

// TIFF tags and values the walk looks at.
enum Tag : quint16 {
    TagSubfileType = 0xFE,
    TagWidth = 0x100,
    TagHeight = 0x101,
    TagBitsPerSample = 0x102,
    TagCompression = 0x103,
    TagPhotometric = 0x106,
    TagSamplesPerPixel = 0x115,
    TagPlanarConfiguration = 0x11C,
    TagStripOffsets = 0x111,
    TagStripByteCounts = 0x117,
    TagTileOffsets = 0x144,
    TagTileByteCounts = 0x145,
    TagSubIfds = 0x14A,
    TagJpegOffset = 0x201,
    TagJpegLength = 0x202,
    TagMake = 0x10F,
    TagModel = 0x110,
    TagOrientation = 0x112,
    TagDateTime = 0x132,
    TagExposureTime = 0x829A,
    TagFNumber = 0x829D,
    TagIsoSpeed = 0x8827,
    TagRecommendedExposureIndex = 0x8832,
    TagDateTimeOriginal = 0x9003,
    TagFlash = 0x9209,
    TagFocalLength = 0x920A,
    TagLensSpecification = 0xA432,
    TagLensModel = 0xA434,
    TagExifIfd = 0x8769,
};
enum Type : quint16 {
    TypeAscii = 2,
    TypeShort = 3,
    TypeLong = 4,
    TypeRational = 5,
    TypeSRational = 10,
    TypeIfd = 13
};
constexpr quint16 CompressionNone = 1, CompressionOldJpeg = 6, CompressionJpeg = 7;
constexpr quint16 PhotometricGrey = 1, PhotometricRgb = 2, PhotometricCfa = 32803,
                  PhotometricLinearRaw = 34892;

// One pass over the IFDs of a TIFF-based file, keeping the largest preview seen.
class TiffWalk
{
public:
    TiffWalk(QIODevice *device, bool bigEndian, PreviewCollector *found, ShootingData *shooting)
        : m_device(device), m_big(bigEndian), m_found(found), m_shooting(shooting)
    {
    }

    void walk(quint32 offset, int depth);

    // IFD0's size is the picture's (Canon's CR3 metadata), not a thumbnail's.
    bool ifd0IsPicture = false;

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

    // An ASCII entry's text, up to its first zero byte; empty when it is not readable.
    QString ascii(const char *entry) const
    {
        const quint32 count = u32(entry + 4);
        if (u16(entry + 2) != TypeAscii || count == 0 || count > MaxTextLength) return QString();
        const QByteArray bytes = count <= 4 ? QByteArray(entry + 8, int(count))
                                            : readAt(m_device, u32(entry + 8), count);
        return QString::fromLatin1(bytes.constData(),
                                   int(qstrnlen(bytes.constData(), uint(bytes.size()))));
    }

    // The index-th value of a (signed) RATIONAL entry; 0 when it is not readable.
    float rational(const char *entry, quint32 index) const
    {
        const quint16 type = u16(entry + 2);
        if ((type != TypeRational && type != TypeSRational) || index >= u32(entry + 4)) return 0;
        const QByteArray value = readAt(m_device, qint64(u32(entry + 8)) + 8 * qint64(index), 8);
        if (value.isEmpty()) return 0;
        const quint32 numerator = u32(value.constData()), denominator = u32(value.constData() + 4);
        if (denominator == 0) return 0;
        if (type == TypeSRational) return float(double(qint32(numerator)) / qint32(denominator));
        return float(double(numerator) / denominator);
    }

    // The first value of a SHORT or LONG entry of any count.
    bool first(const char *entry, quint32 *value) const
    {
        const quint16 type = u16(entry + 2);
        if (u32(entry + 4) == 0) return false;
        if (type == TypeShort)
            *value = u16(entry + 8);
        else if (type == TypeLong)
            *value = u32(entry + 8);
        else
            return false;
        return true;
    }

    // The first value of a SHORT entry of any count, wherever it is stored.
    bool firstShort(const char *entry, quint32 *value) const
    {
        const quint32 count = u32(entry + 4);
        if (u16(entry + 2) != TypeShort || count == 0) return false;
        if (count <= 2) {
            *value = u16(entry + 8);
            return true;
        }
        const QByteArray stored = readAt(m_device, u32(entry + 8), 2);
        if (stored.isEmpty()) return false;
        *value = u16(stored.constData());
        return true;
    }

    void note(const char *entry);

    QIODevice *m_device;
    bool m_big;
    PreviewCollector *m_found;
    ShootingData *m_shooting;
    bool m_hasOriginalTime = false, m_hasOrientation = false;
    QSet<quint32> m_seen;
};

// Keeps what an entry says about the shooting; the first IFD that names an item wins, the
// original date and time over the file's.
void TiffWalk::note(const char *e)
{
    ShootingData &s = *m_shooting;
    quint32 value = 0;
    auto setTime = [&](bool original) {
        if (m_hasOriginalTime || (!original && s.timestamp != 0)) return;
        const QDateTime time =
            QDateTime::fromString(ascii(e).left(19), QStringLiteral("yyyy:MM:dd hh:mm:ss"));
        if (!time.isValid()) return;
        s.timestamp = time.toSecsSinceEpoch();
        m_hasOriginalTime = original;
    };
    switch (u16(e)) {
    case TagMake:
        if (s.make.isEmpty()) s.make = ascii(e);
        break;
    case TagModel:
        if (s.model.isEmpty()) s.model = ascii(e);
        break;
    case TagLensModel:
        if (s.lens.isEmpty()) s.lens = ascii(e);
        break;
    case TagOrientation:
        if (!m_hasOrientation && single(e, &value)) {
            s.flip = flipFromExifOrientation(int(value));
            m_hasOrientation = true;
        }
        break;
    case TagDateTime:
        setTime(false);
        break;
    case TagDateTimeOriginal:
        setTime(true);
        break;
    case TagExposureTime:
        if (s.exposureTime == 0) s.exposureTime = rational(e, 0);
        break;
    case TagFNumber:
        if (s.aperture == 0) s.aperture = rational(e, 0);
        break;
    case TagFocalLength:
        if (s.focalLength == 0) s.focalLength = rational(e, 0);
        break;
    case TagLensSpecification:
        if (s.maxAperture == 0) s.maxAperture = rational(e, 3);
        break;
    case TagIsoSpeed:
        if (s.isoSpeed == 0 && first(e, &value)) s.isoSpeed = float(value);
        break;
    case TagRecommendedExposureIndex:
        // Speeds above 65534 do not fit the older tag, which then holds 65535.
        if ((s.isoSpeed == 0 || s.isoSpeed == 65535) && first(e, &value) && value > 0)
            s.isoSpeed = float(value);
        break;
    case TagFlash:
        if (single(e, &value)) s.flash = float(value);
        break;
    default:
        break;
    }
}

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

        const bool isIfd0 = m_seen.size() == 1;
        quint32 compression = CompressionNone, photometric = 0, stripOffset = 0, stripLength = 0;
        quint32 jpegOffset = 0, jpegLength = 0, subfileType = 1, width = 0, height = 0;
        quint32 bits = 1, samples = 1, planar = 1;
        QVector<quint32> nested;
        for (int i = 0; i < count; ++i) {
            const char *e = table.constData() + i * 12;
            quint32 value = 0;
            if (m_shooting) note(e);
            switch (u16(e)) {
            case TagSubfileType:
                if (single(e, &value)) subfileType = value;
                break;
            case TagWidth:
                if (single(e, &value)) width = value;
                break;
            case TagHeight:
                if (single(e, &value)) height = value;
                break;
            case TagCompression:
                if (single(e, &value)) compression = value;
                break;
            case TagBitsPerSample:
                if (firstShort(e, &value)) bits = value;
                break;
            case TagSamplesPerPixel:
                if (single(e, &value)) samples = value;
                break;
            case TagPlanarConfiguration:
                if (single(e, &value)) planar = value;
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

        if (jpegOffset && jpegLength) m_found->considerJpeg(jpegOffset, jpegLength);
        // A strip or tile of JPEG data is a preview unless it holds the sensor data.
        if ((compression == CompressionJpeg || compression == CompressionOldJpeg) &&
            photometric != PhotometricCfa && photometric != PhotometricLinearRaw && stripOffset &&
            stripLength)
            m_found->considerJpeg(stripOffset, stripLength);
        // An uncompressed thumbnail in one strip: 8-bit RGB or grey, samples interleaved.
        if (compression == CompressionNone && bits == 8 && planar == 1 && stripOffset &&
            width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF &&
            ((photometric == PhotometricRgb && samples == 3) ||
             (photometric == PhotometricGrey && samples == 1)))
            m_found->considerBitmap(stripOffset, stripLength, QSize(int(width), int(height)),
                                    int(samples));
        if (m_shooting && ifd0IsPicture && isIfd0 && width > 0 && height > 0 && width <= 0xFFFF &&
            height <= 0xFFFF)
            m_shooting->picture = QSize(int(width), int(height));
        // The sensor data: the largest full-resolution colour-filter or linear picture.
        if (m_shooting && subfileType == 0 &&
            (photometric == PhotometricCfa || photometric == PhotometricLinearRaw) && width > 0 &&
            height > 0 && width <= 0xFFFF && height <= 0xFFFF &&
            qint64(width) * height >
                qint64(m_shooting->picture.width()) * m_shooting->picture.height())
            m_shooting->picture = QSize(int(width), int(height));
        for (quint32 child : nested)
            walk(child, depth + 1);

        const QByteArray next = readAt(m_device, qint64(offset) + 2 + qint64(count) * 12, 4);
        if (next.isEmpty()) return;
        offset = u32(next.constData());
    }
}

} // namespace

void PreviewCollector::considerJpeg(qint64 offset, qint64 length)
{
    if (length > BufferLimit || m_found.jpegs.size() >= MaxPreviews) return;
    for (const JpegPreview &seen : qAsConst(m_found.jpegs))
        if (seen.offset == offset) return;
    const QSize size = jpegFrameSize(m_device, offset, length);
    if (!size.isEmpty()) m_found.jpegs.append({offset, length, size});
}

void PreviewCollector::considerBitmap(qint64 offset, qint64 length, const QSize &size, int samples)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    if (size.isEmpty() || pixels > MaxPreviewPixels || (samples != 1 && samples != 3)) return;
    const qint64 needed = pixels * samples;
    // A strip that claims fewer bytes than the picture needs is not this picture.
    if (length < needed || needed > BufferLimit || offset < 0 || offset > m_device->size() - needed)
        return;
    const qint64 area = qint64(m_found.bitmap.size.width()) * m_found.bitmap.size.height();
    if (pixels > area) m_found.bitmap = {offset, size, samples};
}

Previews PreviewCollector::previews() const
{
    Previews sorted = m_found;
    std::stable_sort(sorted.jpegs.begin(), sorted.jpegs.end(),
                     [](const JpegPreview &a, const JpegPreview &b) {
                         const qint64 areaA = qint64(a.size.width()) * a.size.height();
                         const qint64 areaB = qint64(b.size.width()) * b.size.height();
                         return areaA != areaB ? areaA > areaB : a.length > b.length;
                     });
    return sorted;
}

QSize jpegFrameSize(QIODevice *device, qint64 offset, qint64 length, bool checkStart)
{
    if (!device || offset < 0 || length < 4 || offset > device->size() ||
        length > device->size() - offset)
        return QSize();
    const qint64 end = offset + length;
    const QByteArray soi = readAt(device, offset, 2);
    if (checkStart && soi != QByteArray("\xFF\xD8", 2)) return QSize();

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

Previews findPreviews(QIODevice *device, ShootingData *shooting)
{
    if (!device || !device->isReadable() || device->isSequential()) return Previews();
    const QByteArray head = readAt(device, 0, 8);
    if (head.size() != 8) return Previews();
    PreviewCollector found(device);

    if (head.startsWith("FUJIFILM")) {
        // Fujifilm's RAF: a header of its own that points at the JPEG preview.
        const QByteArray pointers = readAt(device, 84, 8);
        if (!pointers.isEmpty())
            found.considerJpeg(qFromBigEndian<quint32>(pointers.constData()),
                               qFromBigEndian<quint32>(pointers.constData() + 4));
    } else if (isIsoBaseMedia(device)) {
        findIsoPreviews(device, &found, shooting);
    } else if (isCiff(device)) {
        findCiffPreviews(device, &found, shooting);
    } else {
        // TIFF, and the variants of it with another magic number: ORF ("RO", "SR"), RW2.
        const bool little = head.startsWith("II"), big = head.startsWith("MM");
        if (!little && !big) return Previews();
        const quint16 magic = big ? qFromBigEndian<quint16>(head.constData() + 2)
                                  : qFromLittleEndian<quint16>(head.constData() + 2);
        if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return Previews();
        TiffWalk walk(device, big, &found, shooting);
        walk.walk(big ? qFromBigEndian<quint32>(head.constData() + 4)
                      : qFromLittleEndian<quint32>(head.constData() + 4),
                  0);
    }
    return found.previews();
}

JpegPreview findLargestJpegPreview(QIODevice *device, ShootingData *shooting)
{
    return findPreviews(device, shooting).jpegs.value(0);
}

void readTiffShootingData(QIODevice *device, ShootingData *shooting, bool ifd0IsPicture)
{
    const QByteArray head = device && shooting ? readAt(device, 0, 8) : QByteArray();
    if (head.size() != 8 || (!head.startsWith("II*") && !head.startsWith(QByteArray("MM\0*", 4))))
        return;
    const bool big = head.startsWith("MM");
    PreviewCollector ignored(device);
    TiffWalk walk(device, big, &ignored, shooting);
    walk.ifd0IsPicture = ifd0IsPicture;
    walk.walk(big ? qFromBigEndian<quint32>(head.constData() + 4)
                  : qFromLittleEndian<quint32>(head.constData() + 4),
              0);
}

QImage decodeJpegPreview(QIODevice *device, const JpegPreview &preview)
{
    if (!device || !preview.isValid() || preview.length > BufferLimit) return QImage();
    const QByteArray bytes = readAt(device, preview.offset, preview.length);
    QImage image;
    if (bytes.isEmpty() || !image.loadFromData(bytes, "JPEG")) return QImage();
    return image;
}

QImage decodeBitmap(QIODevice *device, qint64 offset, const QSize &size, int samples,
                    int sampleBytes, bool littleEndian)
{
    const int width = size.width(), height = size.height();
    if (!device || size.isEmpty() || qint64(width) * height > MaxPreviewPixels ||
        (samples != 1 && samples != 3) || (sampleBytes != 1 && sampleBytes != 2))
        return QImage();
    const qint64 pixelBytes = qint64(samples) * sampleBytes;
    const qint64 length = qint64(width) * height * pixelBytes;
    if (length > BufferLimit) return QImage();
    const QByteArray bytes = readAt(device, offset, length);
    if (bytes.size() != length) return QImage();

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return QImage();
    const int high = sampleBytes == 2 && littleEndian ? 1 : 0;
    const uchar *in = reinterpret_cast<const uchar *>(bytes.constData());
    for (int y = 0; y < height; ++y) {
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, in += pixelBytes) {
            const uchar r = in[high];
            out[x] = samples == 3 ? qRgb(r, in[sampleBytes + high], in[2 * sampleBytes + high])
                                  : qRgb(r, r, r);
        }
    }
    return image;
}

QImage decodePreview(QIODevice *device, const Previews &previews)
{
    for (const JpegPreview &jpeg : previews.jpegs) {
        const QImage image = decodeJpegPreview(device, jpeg);
        if (!image.isNull()) return image;
    }
    const BitmapPreview &bitmap = previews.bitmap;
    return bitmap.isValid() ? decodeBitmap(device, bitmap.offset, bitmap.size, bitmap.samples)
                            : QImage();
}

} // namespace raw
