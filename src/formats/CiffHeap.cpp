#include "CiffHeap.h"

#include "RawLimits.h"
#include "RawPreviewFinder.h"
#include "RawShootingData.h"

#include <QIODevice>
#include <QtEndian>

namespace raw {

namespace {

constexpr quint16 LocationMask = 0xC000, InRecord = 0x4000;
constexpr quint16 TypeMask = 0x3800, TypeHeap = 0x2800, TypeHeap2 = 0x3000;
constexpr quint16 IdMask = 0x3FFF;
constexpr quint16 IdMakeModel = 0x080A, IdImageInfo = 0x1810, IdTimeStamp = 0x180E,
                  IdJpegFromRaw = 0x2007, IdThumbnail = 0x2008;
constexpr int RecordSize = 10;

class HeapWalk
{
public:
    HeapWalk(QIODevice *device, bool bigEndian, PreviewCollector *found, ShootingData *shooting)
        : m_device(device), m_big(bigEndian), m_found(found), m_shooting(shooting)
    {
    }

    // The heap in [start, end): its table's offset is in its last four bytes.
    void walk(qint64 start, qint64 end, int depth)
    {
        if (depth > MaxCiffDepth || end - start < 6) return;
        const QByteArray tail = readAt(m_device, end - 4, 4);
        if (tail.isEmpty()) return;
        const qint64 table = start + u32(tail.constData());
        const QByteArray head = readAt(m_device, table, 2);
        if (table > end - 6 || head.isEmpty()) return;
        const int count = u16(head.constData());
        if (qint64(count) * RecordSize > end - 4 - (table + 2)) return;
        if (m_records + count > MaxCiffRecords) return;
        m_records += count;
        const QByteArray records = readAt(m_device, table + 2, qint64(count) * RecordSize);
        if (records.isEmpty() && count > 0) return;

        for (int i = 0; i < count; ++i) {
            const char *r = records.constData() + i * RecordSize;
            const quint16 tag = u16(r);
            if ((tag & LocationMask) != 0) continue; // a value held in the record itself
            const qint64 size = u32(r + 2), offset = u32(r + 6);
            // What a record points at lies in its heap, before the table.
            if (offset > table - start || size > table - start - offset) continue;
            const qint64 at = start + offset;
            const quint16 type = tag & TypeMask;
            if (type == TypeHeap || type == TypeHeap2) {
                if (size < end - start) walk(at, at + size, depth + 1);
                continue;
            }
            switch (tag & IdMask) {
            case IdJpegFromRaw:
            case IdThumbnail:
                m_found->considerJpeg(at, size);
                break;
            case IdMakeModel:
                makeModel(at, size);
                break;
            case IdImageInfo:
                imageInfo(at, size);
                break;
            case IdTimeStamp:
                if (m_shooting && m_shooting->timestamp == 0 && size >= 4) {
                    const QByteArray time = readAt(m_device, at, 4);
                    if (!time.isEmpty()) m_shooting->timestamp = u32(time.constData());
                }
                break;
            default:
                break;
            }
        }
    }

private:
    quint16 u16(const char *p) const
    {
        return m_big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    quint32 u32(const char *p) const
    {
        return m_big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }

    // Two texts, each ended by a zero byte: the maker's name and the camera's.
    void makeModel(qint64 at, qint64 size)
    {
        if (!m_shooting || !m_shooting->make.isEmpty()) return;
        const QByteArray text = readAt(m_device, at, qMin<qint64>(size, MaxTextLength));
        const QList<QByteArray> parts = text.split('\0');
        if (parts.size() < 2) return;
        m_shooting->make = QString::fromLatin1(parts[0]);
        m_shooting->model = QString::fromLatin1(parts[1]);
    }

    // Width, height, pixel aspect ratio, rotation in degrees (then bit depths).
    void imageInfo(qint64 at, qint64 size)
    {
        if (!m_shooting || size < 16) return;
        const QByteArray record = readAt(m_device, at, 16);
        if (record.isEmpty()) return;
        const quint32 width = u32(record.constData()), height = u32(record.constData() + 4);
        if (width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF)
            m_shooting->picture = QSize(int(width), int(height));
        // As LibRaw turns it: 90 degrees is EXIF orientation 6, 270 is 8.
        switch ((qint64(qint32(u32(record.constData() + 12))) % 360 + 360) % 360) {
        case 90:
            m_shooting->flip = flipFromExifOrientation(6);
            break;
        case 180:
            m_shooting->flip = flipFromExifOrientation(3);
            break;
        case 270:
            m_shooting->flip = flipFromExifOrientation(8);
            break;
        default:
            m_shooting->flip = 0;
            break;
        }
    }

    QIODevice *m_device;
    bool m_big;
    PreviewCollector *m_found;
    ShootingData *m_shooting;
    int m_records = 0;
};

} // namespace

bool isCiff(QIODevice *device)
{
    const QByteArray head = device ? readAt(device, 0, 14) : QByteArray();
    return head.size() == 14 && (head.startsWith("II") || head.startsWith("MM")) &&
           head.mid(6, 8) == "HEAPCCDR";
}

void findCiffPreviews(QIODevice *device, PreviewCollector *found, ShootingData *shooting)
{
    if (!device || !found || !isCiff(device)) return;
    const QByteArray head = readAt(device, 0, 6);
    const bool big = head.startsWith("MM");
    const quint32 headerLength = big ? qFromBigEndian<quint32>(head.constData() + 2)
                                     : qFromLittleEndian<quint32>(head.constData() + 2);
    if (headerLength < 14 || headerLength >= device->size()) return;
    HeapWalk(device, big, found, shooting).walk(headerLength, device->size(), 0);
}

} // namespace raw
