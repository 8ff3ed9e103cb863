#include "PsdDecoder.h"

#include "PsdConvert.h"
#include "PsdHeader.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdStream.h"
#include "platform/LargePages.h"

#include <QBuffer>

#include <memory>
#include <new>
#include <vector>

namespace psd {

namespace {

enum Compression : quint16 { Raw = 0, RunLength = 1 };

// Reads raw planes into the sink, a piece at a time.
bool readRaw(PsdStream &s, PlaneSink &sink, quint64 total)
{
    if (total > s.remaining()) return false;
    std::vector<uchar> chunk(kReadChunk);
    while (!sink.full()) {
        const qint64 n = qint64(qMin<quint64>(quint64(kReadChunk), total - sink.produced()));
        if (!s.readBytes(reinterpret_cast<char *>(chunk.data()), n)) return false;
        sink.append(chunk.data(), 0, quint64(n));
    }
    return true;
}

// Expands run-length planes piece by piece, so the compressed data never sit in memory
// whole. Row byte counts are not needed: the rows follow one another without gaps.
bool readRunLength(PsdStream &s, PlaneSink &sink)
{
    PackBitsDecoder decoder(sink);
    std::vector<uchar> chunk(kReadChunk);
    qint64 held = 0;
    while (!sink.full() && !decoder.overflow()) {
        const qint64 want = qint64(qMin<quint64>(quint64(kReadChunk - held), s.remaining()));
        if (want > 0 && !s.readBytes(reinterpret_cast<char *>(chunk.data()) + held, want))
            return false;
        held += want;
        const qint64 used = decoder.feed(chunk.data(), held);
        if (used == 0 && want == 0)
            break; // the data end inside a run, or before the planes are complete
        std::copy(chunk.begin() + used, chunk.begin() + held, chunk.begin());
        held -= used;
    }
    return sink.full();
}

bool readPlanes(PsdStream &s, quint16 compression, PlaneSink &sink, quint64 total)
{
    return compression == Raw ? readRaw(s, sink, total) : readRunLength(s, sink);
}

} // namespace

bool PsdDecoder::read(QImage *image)
{
    if (!m_device || !m_device->isReadable()) return false;
    if (!m_device->isSequential()) return readFrom(m_device, image);
    // Lengths can only be checked against a known end: hold what the stream delivers.
    QByteArray data = m_device->readAll();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return readFrom(&buffer, image);
}

bool PsdDecoder::readFrom(QIODevice *device, QImage *image)
{
    PsdStream s(device);
    char head[PsdHeader::kSize];
    PsdHeader h;
    if (!s.readBytes(head, sizeof head) || !PsdHeader::parse(head, sizeof head, &h)) return false;
    m_version = h.version;
    if (!h.isValid() || !canConvert(h) || outputBytes(h) > kMaxImageBytes) return false;

    const quint32 colourModeLength = s.readU32();
    if (!s.ok() || colourModeLength > s.remaining() || colourModeLength > kMaxByteArray)
        return false;
    QByteArray colourModeData(int(colourModeLength), Qt::Uninitialized);
    if (!s.readBytes(colourModeData.data(), colourModeData.size())) return false;

    if (!s.skip(s.readU32())) // image resources
        return false;
    if (!s.skip(h.isPsb() ? s.readU64() : s.readU32())) // layer and mask information
        return false;

    const quint16 compression = s.readU16();
    if (!s.ok() || (compression != Raw && compression != RunLength)) return false;

    const quint64 plane = h.planeBytes();
    const quint64 total = plane * h.channels;
    if (compression == RunLength) {
        const quint64 rowCounts = quint64(h.channels) * h.height * (h.isPsb() ? 4 : 2);
        if (!s.skip(rowCounts)) return false;
        if (total / kMaxPackBitsExpansion > s.remaining()) return false;
    } else if (total > s.remaining()) {
        return false;
    }

    QImage result;
    if (convertsInPlace(h)) {
        // Straight into the picture: no second copy of the pixels is ever held.
        result = interleavedPicture(h);
        if (result.isNull()) return false;
        PlaneSink sink(result.bits(), plane * qMin<quint64>(h.channels, 4), total, plane, 4);
        if (!readPlanes(s, compression, sink, total)) return false;
        convertInPlace(h, result);
    } else {
        const quint64 keep = plane * quint64(planesUsed(h));
        std::unique_ptr<uchar[]> planes(new (std::nothrow) uchar[keep]);
        if (!planes) return false;
        platform::adviseLargePages(planes.get(), keep);
        PlaneSink sink(planes.get(), keep, total);
        if (!readPlanes(s, compression, sink, total)) return false;
        result = convertPlanes(h, colourModeData, planes.get());
        if (result.isNull()) return false;
    }
    *image = result;
    return true;
}

} // namespace psd
