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

#include <QColor>

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

// A spot-colour channel of the merged picture: its ink and how solid the ink is.
struct SpotInk
{
    int channel = 0;
    QRgb colour = 0;
    float solidity = 1;
};

// The display information resource (1077) describes each channel after the colour channels:
// its colour (space, four 16-bit components), opacity in percent, and kind (2: spot colour).
std::vector<SpotInk> spotInks(PsdSectionReader &r, int firstExtra)
{
    std::vector<SpotInk> inks;
    PsdSection where;
    if (!r.findResource(1077, &where) || where.length < 4) return inks;
    PsdStream &s = r.stream();
    const qint64 back = s.pos();
    constexpr quint64 kEntry = 14;
    const quint64 entries = (where.length - 4) / kEntry;
    if (s.seek(where.start + 4)) {
        for (quint64 i = 0; i < entries && firstExtra + int(i) < r.header().channels; ++i) {
            const quint16 space = s.readU16();
            quint16 c[4];
            for (quint16 &v : c)
                v = s.readU16();
            const quint16 opacity = s.readU16();
            const quint8 kind = s.readU8();
            s.readU8(); // padding
            if (!s.ok()) break;
            if (kind != 2) continue;
            QColor ink;
            if (space == 0) ink = QColor::fromRgb(c[0] >> 8, c[1] >> 8, c[2] >> 8);
            if (space == 2)
                ink = QColor::fromCmyk(255 - (c[0] >> 8), 255 - (c[1] >> 8), 255 - (c[2] >> 8),
                                       255 - (c[3] >> 8));
            if (space == 8)
                ink = QColor::fromRgb(255 - c[0] / 40, 255 - c[0] / 40, 255 - c[0] / 40);
            if (!ink.isValid()) continue;
            inks.push_back({firstExtra + int(i), ink.rgb(), qBound(0, int(opacity), 100) / 100.0f});
        }
    }
    s = PsdStream(s.device());
    s.seek(quint64(back));
    return inks;
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
    const QImage::Format format = result.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32)
        drawSpotColours(r, countsAt, result);
    *image = result;
    return true;
}

// Spot-colour channels are printed with their own inks: each is drawn over the picture in
// its ink colour as far as the channel holds ink (0 is full ink, as for process inks), the
// ink multiplying what is below when it is not solid and covering it when it is. One plane
// is held at a time.
void PsdDecoder::drawSpotColours(PsdSectionReader &r, quint64 countsAt, QImage &picture)
{
    const PsdHeader &h = r.header();
    if (h.depth != 8 && h.depth != 16) return;
    const int firstExtra = colourChannels(h) + (r.mergedHasAlpha() ? 1 : 0);
    if (h.channels <= firstExtra) return;
    const std::vector<SpotInk> inks = spotInks(r, firstExtra);
    if (inks.empty()) return;
    PsdStream &s = r.stream();
    const quint64 plane = h.planeBytes();
    std::vector<quint32> counts;
    if (r.compression() == RunLength) {
        if (!s.seek(countsAt) || !r.readRowCounts(quint64(h.channels) * h.height, &counts)) return;
    }
    const quint64 dataAt = r.compression() == RunLength ? quint64(s.pos()) : countsAt;
    std::unique_ptr<uchar[]> samples(new (std::nothrow) uchar[plane]);
    if (!samples) return;
    for (const SpotInk &ink : inks) {
        PlaneSink sink(samples.get(), plane, plane);
        quint64 at = dataAt + quint64(ink.channel) * plane;
        if (r.compression() == RunLength) {
            at = dataAt;
            for (quint64 i = 0; i < quint64(ink.channel) * h.height; ++i)
                at += counts[i];
        }
        if (!s.seek(at)) return;
        const bool ok = r.compression() == RunLength ? readRunLength(s, sink) == PsdError::None
                                                     : readRaw(s, sink, plane);
        if (!ok) return;
        const float inkRgb[3] = {qRed(ink.colour) / 255.0f, qGreen(ink.colour) / 255.0f,
                                 qBlue(ink.colour) / 255.0f};
        const int step = h.depth / 8;
        for (int y = 0; y < picture.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
            const uchar *row = samples.get() + quint64(y) * h.rowBytes();
            for (int x = 0; x < picture.width(); ++x) {
                const int v = step == 1 ? row[x] : ((row[2 * x] << 8) | row[2 * x + 1]) / 257;
                const float density = (255 - v) / 255.0f;
                if (density <= 0) continue;
                int out[3];
                const int under[3] = {qRed(line[x]), qGreen(line[x]), qBlue(line[x])};
                for (int c = 0; c < 3; ++c) {
                    const float b = under[c] / 255.0f;
                    const float inked =
                        b * inkRgb[c] * (1 - ink.solidity) + inkRgb[c] * ink.solidity;
                    out[c] = qBound(0, int((b + (inked - b) * density) * 255.0f + 0.5f), 255);
                }
                line[x] = qRgba(out[0], out[1], out[2], qAlpha(line[x]));
            }
        }
    }
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
