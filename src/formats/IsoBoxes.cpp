#include "IsoBoxes.h"

#include "RawLimits.h"
#include "RawPreviewFinder.h"

#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace raw {

namespace {

// Canon's metadata box inside 'moov': its children follow the 16-byte identifier.
const uchar CanonMetadataUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                     0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

bool isContainer(const char type[4])
{
    static const char *const containers[] = {"moov", "trak", "mdia", "minf", "stbl",
                                             "dinf", "edts", "udta", "mvex"};
    for (const char *c : containers)
        if (std::memcmp(type, c, 4) == 0) return true;
    return false;
}

class BoxWalk
{
public:
    explicit BoxWalk(QIODevice *device) : m_device(device) {}

    // The boxes in [begin, end), and those inside the containers among them.
    bool walk(qint64 begin, qint64 end, int depth)
    {
        qint64 at = begin;
        while (end - at >= 8) {
            if (++m_boxes > MaxIsoBoxes) return false;
            const QByteArray head = readAt(m_device, at, 8);
            if (head.size() != 8) return false;
            const quint32 size32 = qFromBigEndian<quint32>(head.constData());
            const char *type = head.constData() + 4;
            qint64 header = 8, size;
            if (size32 == 1) {
                const QByteArray large = readAt(m_device, at + 8, 8);
                if (large.size() != 8) return false;
                const quint64 size64 = qFromBigEndian<quint64>(large.constData());
                if (size64 < 16 || size64 > quint64(end - at)) return false;
                header = 16;
                size = qint64(size64);
            } else if (size32 == 0) {
                size = end - at; // to the end of its parent
            } else {
                if (size32 < 8 || size32 > quint64(end - at)) return false;
                size = size32;
            }
            qint64 children = -1;
            if (isContainer(type)) {
                children = at + header;
            } else if (std::memcmp(type, "uuid", 4) == 0 && size >= header + 16) {
                const QByteArray id = readAt(m_device, at + header, 16);
                if (id.size() == 16 && std::memcmp(id.constData(), CanonMetadataUuid, 16) == 0)
                    children = at + header + 16;
            }
            if (children >= 0 && (depth >= MaxIsoDepth || !walk(children, at + size, depth + 1)))
                return false;
            at += size;
        }
        return true;
    }

private:
    QIODevice *m_device;
    int m_boxes = 0;
};

} // namespace

bool isIsoBaseMedia(QIODevice *device)
{
    const QByteArray head = device ? readAt(device, 0, 8) : QByteArray();
    return head.size() == 8 && head.mid(4) == "ftyp";
}

bool isoBoxesAreSound(QIODevice *device)
{
    return device && BoxWalk(device).walk(0, device->size(), 0);
}

} // namespace raw
