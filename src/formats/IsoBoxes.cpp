#include "IsoBoxes.h"

#include "RawLimits.h"
#include "RawPreviewFinder.h"

#include <QBuffer>
#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace raw {

namespace {

// Canon's metadata box inside 'moov' and its preview box at the top level: their children
// follow the 16-byte identifier (and, in the preview box, 8 bytes more).
const char CanonMetadataUuid[] = "\x85\xc0\xb6\x87\x82\x0f\x11\xe0\x81\x11\xf4\xce\x46\x2b\x6a\x48";
const char CanonPreviewUuid[] = "\xea\xf4\x2b\x5e\x1c\x98\x4b\x88\xb9\xfb\xb7\xdc\x40\x6e\x4d\x16";

// Canon's thumbnail and preview boxes: a 16-byte header that holds the picture's size and
// the JPEG stream's length (at 8 in the thumbnail box, at 12 in the preview box), then the
// stream.
constexpr qint64 PictureBoxHeader = 16;
constexpr qint64 ThumbnailLengthAt = 8, PreviewLengthAt = 12;

struct Box
{
    char type[4];
    qint64 start = 0;    // where its header begins
    qint64 contents = 0; // where what follows the header begins
    qint64 end = 0;

    bool is(const char *name) const { return std::memcmp(type, name, 4) == 0; }
};

bool isContainer(const Box &box)
{
    static const char *const containers[] = {"moov", "trak", "mdia", "minf", "stbl",
                                             "dinf", "edts", "udta", "mvex"};
    for (const char *c : containers)
        if (box.is(c)) return true;
    return false;
}

// The boxes of one level of a file, read one at a time and each checked against its parent.
class BoxReader
{
public:
    explicit BoxReader(QIODevice *device) : m_device(device) {}

    // Calls visit(box) for each box in [begin, end) while it returns true. False when a box
    // does not fit its parent or the file, or there were too many boxes: what lies after it
    // is not trusted.
    template <typename Visit> bool each(qint64 begin, qint64 end, Visit visit)
    {
        qint64 at = begin;
        while (end - at >= 8) {
            if (++m_boxes > MaxIsoBoxes) return false;
            const QByteArray head = readAt(m_device, at, 8);
            if (head.size() != 8) return false;
            Box box;
            std::memcpy(box.type, head.constData() + 4, 4);
            box.start = at;
            box.contents = at + 8;
            const quint32 size32 = qFromBigEndian<quint32>(head.constData());
            if (size32 == 1) {
                const QByteArray large = readAt(m_device, at + 8, 8);
                if (large.size() != 8) return false;
                const quint64 size64 = qFromBigEndian<quint64>(large.constData());
                if (size64 < 16 || size64 > quint64(end - at)) return false;
                box.contents = at + 16;
                box.end = at + qint64(size64);
            } else if (size32 == 0) {
                box.end = end; // to the end of its parent
            } else {
                if (size32 < 8 || size32 > quint64(end - at)) return false;
                box.end = at + size32;
            }
            if (!visit(box)) return true;
            at = box.end;
        }
        return true;
    }

    // Whether a 'uuid' box carries `id`; its children then begin after the identifier.
    bool hasUuid(const Box &box, const char *id) const
    {
        if (!box.is("uuid") || box.end - box.contents < 16) return false;
        return readAt(m_device, box.contents, 16) == QByteArray(id, 16);
    }

    QIODevice *device() const { return m_device; }

private:
    QIODevice *m_device;
    int m_boxes = 0;
};

bool soundLevel(BoxReader &reader, qint64 begin, qint64 end, int depth)
{
    bool sound = true;
    const bool whole = reader.each(begin, end, [&](const Box &box) {
        qint64 children = -1;
        if (isContainer(box))
            children = box.contents;
        else if (reader.hasUuid(box, CanonMetadataUuid))
            children = box.contents + 16;
        if (children >= 0 &&
            (depth >= MaxIsoDepth || !soundLevel(reader, children, box.end, depth + 1)))
            sound = false;
        return sound;
    });
    return whole && sound;
}

// The walk for previews and shooting data over a CR3 file.
class PreviewWalk
{
public:
    PreviewWalk(QIODevice *device, PreviewCollector *found, ShootingData *shooting)
        : m_reader(device), m_found(found), m_shooting(shooting)
    {
    }

    void walk(qint64 end)
    {
        m_reader.each(0, end, [&](const Box &box) {
            if (box.is("moov")) {
                movie(box);
            } else if (m_reader.hasUuid(box, CanonPreviewUuid)) {
                m_reader.each(box.contents + 24, box.end, [&](const Box &child) {
                    if (child.is("PRVW")) picture(child, PreviewLengthAt);
                    return true;
                });
            }
            return true;
        });
    }

private:
    void movie(const Box &moov)
    {
        bool firstTrack = true;
        m_reader.each(moov.contents, moov.end, [&](const Box &box) {
            if (m_reader.hasUuid(box, CanonMetadataUuid)) {
                m_reader.each(box.contents + 16, box.end, [&](const Box &child) {
                    if (child.is("THMB"))
                        picture(child, ThumbnailLengthAt);
                    else if (child.is("CMT1") || child.is("CMT2"))
                        metadata(child, child.is("CMT1"));
                    return true;
                });
            } else if (box.is("trak") && firstTrack) {
                firstTrack = false;
                track(box);
            }
            return true;
        });
    }

    // A thumbnail or preview box: the JPEG stream's length, then the stream.
    void picture(const Box &box, qint64 lengthAt)
    {
        const qint64 stream = box.contents + PictureBoxHeader;
        const QByteArray length = readAt(m_reader.device(), box.contents + lengthAt, 4);
        if (length.size() != 4 || stream > box.end) return;
        const quint32 claimed = qFromBigEndian<quint32>(length.constData());
        if (claimed <= quint64(box.end - stream)) m_found->considerJpeg(stream, claimed);
    }

    void metadata(const Box &box, bool ifd0IsPicture)
    {
        if (!m_shooting || box.end - box.contents > MaxMetadataBox) return;
        QByteArray tiff = readAt(m_reader.device(), box.contents, box.end - box.contents);
        QBuffer buffer(&tiff);
        if (!tiff.isEmpty() && buffer.open(QIODevice::ReadOnly))
            readTiffShootingData(&buffer, m_shooting, ifd0IsPicture);
    }

    // The first track holds the full-size JPEG: one sample, its size in 'stsz' and its place
    // in 'co64' (or 'stco').
    void track(const Box &trak)
    {
        qint64 sampleSize = -1, sampleOffset = -1;
        findTables(trak, 0, &sampleSize, &sampleOffset);
        if (sampleSize > 0 && sampleOffset > 0) m_found->considerJpeg(sampleOffset, sampleSize);
    }

    void findTables(const Box &parent, int depth, qint64 *size, qint64 *offset)
    {
        if (depth > 3) return;
        QIODevice *device = m_reader.device();
        m_reader.each(parent.contents, parent.end, [&](const Box &box) {
            if (box.is("mdia") || box.is("minf") || box.is("stbl")) {
                findTables(box, depth + 1, size, offset);
            } else if (box.is("stsz")) {
                // Version and flags, the common sample size (0: a table follows), the count.
                const QByteArray table = readAt(device, box.contents, 12);
                if (table.size() == 12 && box.contents + 12 <= box.end) {
                    const quint32 common = qFromBigEndian<quint32>(table.constData() + 4);
                    const quint32 count = qFromBigEndian<quint32>(table.constData() + 8);
                    const QByteArray first = readAt(device, box.contents + 12, 4);
                    if (common != 0)
                        *size = common;
                    else if (count > 0 && first.size() == 4 && box.contents + 16 <= box.end)
                        *size = qFromBigEndian<quint32>(first.constData());
                }
            } else if (box.is("co64") || box.is("stco")) {
                const bool wide = box.is("co64");
                const qint64 needed = wide ? 16 : 12;
                const QByteArray table = readAt(device, box.contents, needed);
                if (table.size() == needed && box.contents + needed <= box.end &&
                    qFromBigEndian<quint32>(table.constData() + 4) > 0) {
                    const quint64 first = wide ? qFromBigEndian<quint64>(table.constData() + 8)
                                               : qFromBigEndian<quint32>(table.constData() + 8);
                    if (first < quint64(device->size())) *offset = qint64(first);
                }
            }
            return true;
        });
    }

    BoxReader m_reader;
    PreviewCollector *m_found;
    ShootingData *m_shooting;
};

} // namespace

bool isIsoBaseMedia(QIODevice *device)
{
    const QByteArray head = device ? readAt(device, 0, 8) : QByteArray();
    return head.size() == 8 && head.mid(4) == "ftyp";
}

bool isoBoxesAreSound(QIODevice *device)
{
    if (!device) return false;
    BoxReader reader(device);
    return soundLevel(reader, 0, device->size(), 0);
}

void findIsoPreviews(QIODevice *device, PreviewCollector *found, ShootingData *shooting)
{
    if (device && found && isIsoBaseMedia(device))
        PreviewWalk(device, found, shooting).walk(device->size());
}

} // namespace raw
