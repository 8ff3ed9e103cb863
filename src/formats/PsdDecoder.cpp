#include "PsdDecoder.h"

#include "PsdConvert.h"
#include "PsdHeader.h"
#include "PsdLayers.h"
#include "PsdLimits.h"
#include "PsdPackBits.h"
#include "PsdRowReader.h"
#include "PsdSections.h"
#include "PsdStream.h"
#include "platform/LargePages.h"

#include <memory>
#include <new>
#include <vector>

namespace psd {

namespace {

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
PsdError readRunLength(PsdStream &s, PlaneSink &sink)
{
    PackBitsDecoder decoder(sink);
    std::vector<uchar> chunk(kReadChunk);
    qint64 held = 0;
    while (!sink.full() && !decoder.overflow()) {
        const qint64 want = qint64(qMin<quint64>(quint64(kReadChunk - held), s.remaining()));
        if (want > 0 && !s.readBytes(reinterpret_cast<char *>(chunk.data()) + held, want))
            return PsdError::ImageDataTruncated;
        held += want;
        const qint64 used = decoder.feed(chunk.data(), held);
        if (used == 0 && want == 0)
            break; // the data end inside a run, or before the planes are complete
        std::copy(chunk.begin() + used, chunk.begin() + held, chunk.begin());
        held -= used;
    }
    if (sink.full()) return PsdError::None;
    return decoder.overflow() ? PsdError::ImageDataCorrupt : PsdError::ImageDataTruncated;
}

// Run-length planes a row at a time when the document allows it; the planes that the
// picture does not use are still expanded, so that damage in them is refused as before.
// Null when the planes must be expanded one after another; the stream is then at dataAt.
QImage readRowByRow(PsdStream &s, const PsdHeader &h, const PsdHeader &picture, quint64 countsAt,
                    quint64 dataAt)
{
    RunLengthRows rows;
    if (s.seek(countsAt)) rows = readRunLengthRows(s, h, picture);
    if (!rows.picture.isNull() && h.channels > rows.planes) {
        PlaneSink rest(nullptr, 0, h.planeBytes() * quint64(h.channels - rows.planes));
        if (!s.seek(rows.restAt) || readRunLength(s, rest) != PsdError::None)
            rows.picture = QImage();
    }
    if (rows.picture.isNull()) s.seek(dataAt);
    return rows.picture;
}

// The version information resource (1057) says whether the merged picture was really saved:
// a document written without it keeps a placeholder there, which need not look blank.
bool hasRealMergedData(PsdSectionReader &r)
{
    PsdSection where;
    if (!r.findResource(1057, &where) || where.length < 5) return true;
    PsdStream &s = r.stream();
    const qint64 back = s.pos();
    bool real = true;
    if (s.seek(where.start + 4)) real = s.readU8() != 0;
    s = PsdStream(s.device());
    s.seek(quint64(back));
    return real;
}

} // namespace

bool PsdDecoder::read(QImage *image)
{
    PsdSectionReader reader(m_device);
    m_layersDrawn = 0;
    const bool ok = readFrom(reader, image);
    m_error = reader.error();
    return ok;
}

bool PsdDecoder::readFrom(PsdSectionReader &r, QImage *image)
{
    if (!r.readHeader()) return false;
    const PsdHeader &h = r.header();
    m_version = h.version;
    if (!h.isValid()) return r.refuse(PsdError::HeaderOutOfRange);
    if (!canConvert(h)) return r.refuse(PsdError::UnsupportedKind);
    if (outputBytes(h) > kMaxImageBytes) return r.refuse(PsdError::PictureTooLarge);

    QByteArray colourModeData;
    if (!r.locateResources() || !r.readColourModeData(&colourModeData) || !r.locateImageData())
        return false;

    PsdStream &s = r.stream();
    const quint16 compression = r.compression();
    // The picture is made from the colour channels and, when the document says so, its
    // transparency; other extra channels are read past.
    PsdHeader picture = h;
    const int colour = colourChannels(h);
    if (h.channels > colour && !r.mergedHasTransparency()) picture.channels = quint16(colour);
    const quint64 plane = h.planeBytes();
    const quint64 total = plane * h.channels;
    const quint64 countsAt = quint64(s.pos());
    if (compression == RunLength) {
        if (!r.skipRowCounts(quint64(h.channels) * h.height)) return false;
        if (total / kMaxPackBitsExpansion > s.remaining())
            return r.refuse(PsdError::ImageDataTruncated);
    } else if (total > s.remaining()) {
        return r.refuse(PsdError::ImageDataTruncated);
    }

    auto readPlanes = [&](PlaneSink &sink) {
        if (compression == Raw)
            return readRaw(s, sink, total) || r.refuse(PsdError::ImageDataTruncated);
        const PsdError error = readRunLength(s, sink);
        return error == PsdError::None || r.refuse(error);
    };

    QImage result;
    if (compression == RunLength) result = readRowByRow(s, h, picture, countsAt, quint64(s.pos()));
    if (!result.isNull()) {
        // Made row by row, each row's pixels written once.
    } else if (convertsInPlace(picture)) {
        // Straight into the picture: no second copy of the pixels is ever held.
        result = interleavedPicture(picture);
        if (result.isNull()) return r.refuse(PsdError::OutOfMemory);
        const bool rgb = picture.mode == Rgb && picture.channels == 3;
        const bool gray =
            (picture.mode == Grayscale || picture.mode == Duotone) && picture.channels == 1;
        if (rgb || gray) {
            // The planes make finished pixels as they are expanded: one pass, no conversion.
            PlaneSink sink = PlaneSink::opaque(
                result.bits(), rgb ? PlaneSink::Pixels::Rgb : PlaneSink::Pixels::Gray, plane,
                total);
            if (!readPlanes(sink)) return false;
        } else {
            PlaneSink sink(result.bits(), plane * qMin<quint64>(picture.channels, 4), total, plane,
                           4);
            if (!readPlanes(sink)) return false;
            convertInPlace(picture, result);
        }
    } else {
        const quint64 keep = plane * quint64(planesUsed(picture));
        std::unique_ptr<uchar[]> planes(new (std::nothrow) uchar[keep]);
        if (!planes) return r.refuse(PsdError::OutOfMemory);
        platform::adviseLargePages(planes.get(), keep);
        PlaneSink sink(planes.get(), keep, total);
        if (!readPlanes(sink)) return false;
        result = convertPlanes(picture, colourModeData, planes.get());
        if (result.isNull()) return r.refuse(PsdError::ConversionFailed);
    }
    if (PsdLayerComposer::supports(h) && r.layers().length > 0 &&
        (!hasRealMergedData(r) || isBlankPicture(result)))
        composeLayers(r, result);
    *image = result;
    return true;
}

// Composes into the merged picture's own pixels, so that no second picture is held. The
// picture stays as it was unless a layer is drawn.
void PsdDecoder::composeLayers(PsdSectionReader &r, QImage &picture)
{
    const QImage::Format merged = picture.format();
    if (merged != QImage::Format_RGB32 && merged != QImage::Format_ARGB32) return;
    PsdLayerComposer composer(r.stream().device(), r.header(), r.layers());
    if (!composer.readRecords() || composer.visiblePixelLayers() == 0) return;
    // Opaque pixels of either format are the same bytes.
    picture.reinterpretAsFormat(QImage::Format_ARGB32);
    m_layersDrawn = composer.compose(picture);
    if (m_layersDrawn == 0) {
        picture.reinterpretAsFormat(merged);
        return;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(line[x]) != 255) return;
    }
    picture.reinterpretAsFormat(QImage::Format_RGB32);
}

} // namespace psd
