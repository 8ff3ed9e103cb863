#include "RawPreviewFinder.h"

#include "RawLimits.h"
#include "RawShootingData.h"

#include <QDateTime>
#include <QIODevice>
#include <QSet>
#include <QtEndian>

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
    TagCompression = 0x103,
    TagPhotometric = 0x106,
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
constexpr quint16 CompressionOldJpeg = 6, CompressionJpeg = 7;
constexpr quint16 PhotometricCfa = 32803, PhotometricLinearRaw = 34892;

// One pass over the IFDs of a TIFF-based file, keeping the largest preview seen.
class TiffWalk
{
public:
    TiffWalk(QIODevice *device, bool bigEndian, ShootingData *shooting)
        : m_device(device), m_big(bigEndian), m_shooting(shooting)
    {
    }

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

    void note(const char *entry);

    QIODevice *m_device;
    bool m_big;
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

        quint32 compression = 0, photometric = 0, stripOffset = 0, stripLength = 0;
        quint32 jpegOffset = 0, jpegLength = 0, subfileType = 1, width = 0, height = 0;
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

JpegPreview findLargestJpegPreview(QIODevice *device, ShootingData *shooting)
{
    if (!device || !device->isReadable() || device->isSequential()) return JpegPreview();
    const QByteArray head = readAt(device, 0, 8);
    if (head.size() != 8) return JpegPreview();

    // Fujifilm's RAF: a header of its own that points at the JPEG preview.
    if (head.startsWith("FUJIFILM")) {
        const QByteArray pointers = readAt(device, 84, 8);
        if (pointers.isEmpty()) return JpegPreview();
        TiffWalk walk(device, true, nullptr);
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
    TiffWalk walk(device, big, shooting);
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
