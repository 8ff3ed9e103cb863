#include "PsdLayers.h"

#include "PsdLayerMaker.h"
#include "PsdLimits.h"

#include <QtEndian>

#include <algorithm>
#include <memory>
#include <new>

namespace psd {

namespace {

constexpr quint32 key(const char (&k)[5])
{
    return quint32(uchar(k[0])) << 24 | quint32(uchar(k[1])) << 16 | quint32(uchar(k[2])) << 8 |
           uchar(k[3]);
}

// The smallest layer record: bounds, channel count, blend signature and key, opacity,
// clipping, flags, filler and the extra-data length.
constexpr quint64 kMinRecordBytes = 16 + 2 + 4 + 4 + 4 + 4;

// Additional-information blocks whose length is 64-bit in a large document.
bool hasLongLength(quint32 k)
{
    static constexpr quint32 kLong[] = {
        key("LMsk"), key("Lr16"), key("Lr32"), key("Layr"), key("Mt16"), key("Mt32"), key("Mtrn"),
        key("Alph"), key("FMsk"), key("lnk2"), key("FEid"), key("FXid"), key("PxSD")};
    return std::find(std::begin(kLong), std::end(kLong), k) != std::end(kLong);
}

// Adjustment layers: they change the pixels below them and carry none of their own.
bool isAdjustment(quint32 k)
{
    static constexpr quint32 kAdjustments[] = {
        key("levl"), key("curv"), key("brit"), key("blnc"), key("blwh"), key("hue "),
        key("hue2"), key("selc"), key("mixr"), key("grdm"), key("phfl"), key("expA"),
        key("vibA"), key("thrs"), key("post"), key("nvrt"), key("CgEd"), key("clrL")};
    return std::find(std::begin(kAdjustments), std::end(kAdjustments), k) != std::end(kAdjustments);
}

enum class Blend { Normal, Multiply, Screen, Overlay, Darken, Lighten, LinearDodge };

Blend blendOf(quint32 mode)
{
    switch (mode) {
    case key("mul "):
        return Blend::Multiply;
    case key("scrn"):
        return Blend::Screen;
    case key("over"):
        return Blend::Overlay;
    case key("dark"):
        return Blend::Darken;
    case key("lite"):
        return Blend::Lighten;
    case key("lddg"):
        return Blend::LinearDodge;
    default:
        return Blend::Normal;
    }
}

// The blend of one colour component, backdrop b and source s, both 0 to 1.
inline float blend(Blend mode, float b, float s)
{
    switch (mode) {
    case Blend::Normal:
        return s;
    case Blend::Multiply:
        return b * s;
    case Blend::Screen:
        return b + s - b * s;
    case Blend::Overlay:
        return b <= 0.5f ? 2 * b * s : 1 - 2 * (1 - b) * (1 - s);
    case Blend::Darken:
        return std::min(b, s);
    case Blend::Lighten:
        return std::max(b, s);
    case Blend::LinearDodge:
        return std::min(1.0f, b + s);
    }
    return s;
}

inline int toByte(float v)
{
    return std::clamp(int(v * 255.0f + 0.5f), 0, 255);
}

// One channel's data, checked against its claimed rectangle before anything is allocated.
struct ChannelPlan
{
    LayerRect rect;
    quint16 compression = 0;
    quint64 data = 0; // first byte after the compression word (and the row table)
    quint64 dataLength = 0;
    std::vector<quint32> rowCounts; // run-length rows
};

// Expands one run-length row, keeping only the output columns skip to skip + take - 1,
// stored step bytes apart.
void expandRow(const uchar *in, qint64 size, qint64 skip, qint64 take, uchar *out, int step)
{
    qint64 column = 0, i = 0;
    const qint64 end = skip + take;
    while (i < size && column < end) {
        const int n = qint8(in[i++]);
        if (n == -128) continue;
        const qint64 length = n >= 0 ? n + 1 : 1 - n;
        const uchar *literal = n >= 0 ? in + i : nullptr;
        if (n >= 0 ? i + length > size : i >= size) break;
        const uchar fill = in[i];
        i += n >= 0 ? length : 1;
        const qint64 from = std::max(column, skip), to = std::min(column + length, end);
        for (qint64 c = from; c < to; ++c)
            out[(c - skip) * step] = literal ? literal[c - column] : fill;
        column += length;
    }
}

} // namespace

PsdLayerComposer::PsdLayerComposer(QIODevice *device, const PsdHeader &header,
                                   const PsdSection &layers)
    : m_stream(device), m_header(header), m_layers(layers)
{
}

bool PsdLayerComposer::supports(const PsdHeader &header)
{
    return header.depth == 8 && (header.mode == Rgb || header.mode == Grayscale);
}

bool PsdLayerComposer::readRecords()
{
    m_records.clear();
    PsdStream &s = m_stream;
    const int lengthBytes = m_header.isPsb() ? 8 : 4;
    if (m_layers.length < quint64(lengthBytes) + 2 || !s.seek(m_layers.start)) return false;
    const quint64 infoLength = lengthBytes == 8 ? s.readU64() : s.readU32();
    const quint64 infoStart = m_layers.start + quint64(lengthBytes);
    if (!s.ok() || infoLength < 2 || infoLength > m_layers.end() - infoStart) return false;
    const quint64 infoEnd = infoStart + infoLength;
    // A negative count only says that the merged picture has transparency.
    const int count = qAbs(int(qint16(s.readU16())));
    if (!s.ok() || count == 0 || quint64(count) > (infoEnd - quint64(s.pos())) / kMinRecordBytes)
        return false;

    std::vector<LayerRecord> records(static_cast<size_t>(count));
    std::vector<quint64> channelBytes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!readRecord(infoEnd, &records[size_t(i)], &channelBytes[size_t(i)])) return false;
    }
    // The channels' data follow the records, layer after layer, in the order listed.
    quint64 at = quint64(s.pos());
    for (int i = 0; i < count; ++i) {
        LayerRecord &r = records[size_t(i)];
        const bool fits = r.channelsFit && channelBytes[size_t(i)] <= infoEnd - at;
        for (LayerChannel &c : r.channels) {
            c.present = c.present && fits;
            c.start += at;
        }
        r.realUserMask.present = r.realUserMask.present && fits;
        r.realUserMask.start += at;
        at = fits ? at + channelBytes[size_t(i)] : infoEnd;
    }
    m_records = std::move(records);
    for (LayerRecord &r : m_records)
        PsdLayerMaker::resolveMasks(s.device(), &r);
    resolveGroups();
    return true;
}

bool PsdLayerComposer::readRecord(quint64 end, LayerRecord *record, quint64 *channelBytes)
{
    PsdStream &s = m_stream;
    const bool psb = m_header.isPsb();
    const auto left = [&] { return end - std::min(end, quint64(s.pos())); };
    const qint32 top = qint32(s.readU32()), l = qint32(s.readU32());
    const qint32 bottom = qint32(s.readU32()), right = qint32(s.readU32());
    record->bounds = {top, l, bottom, right};
    const quint16 channels = s.readU16();
    const quint64 entryBytes = psb ? 10 : 6;
    if (!s.ok() || quint64(channels) * entryBytes > left()) return false;

    // Offsets are relative to the layer's first channel until all records are read.
    quint64 total = 0;
    for (int i = 0; i < channels; ++i) {
        const qint16 id = qint16(s.readU16());
        const quint64 length = psb ? s.readU64() : s.readU32();
        int slot = -1;
        if (id == -1)
            slot = LayerRecord::Transparency;
        else if (id == -2)
            slot = LayerRecord::UserMask;
        else if (id >= 0 && id < (m_header.mode == Rgb ? 3 : 1))
            slot = id;
        if (slot >= 0 && !record->channels[slot].present)
            record->channels[slot] = {total, length, true};
        if (id == -3) record->realUserMask = {total, length, true};
        if (length > end - total) {
            record->channelsFit = false;
            total = end;
        } else {
            total += length;
        }
    }
    *channelBytes = total;

    const quint32 signature = s.readU32();
    record->blendMode = s.readU32();
    record->opacity = s.readU8();
    record->clipped = s.readU8() != 0;
    const quint8 flags = s.readU8();
    record->hidden = (flags & 0x02) != 0;
    s.readU8(); // filler
    const quint32 extraLength = s.readU32();
    if (!s.ok() || signature != key("8BIM") || extraLength > left()) return false;
    const quint64 extraEnd = quint64(s.pos()) + extraLength;
    if (extraEnd > end) return false; // the record's fixed part ran past the section
    readExtraData(extraEnd, record);
    // What the extra data hold may be malformed; the next record starts where they end.
    m_stream = PsdStream(s.device());
    return m_stream.seek(extraEnd);
}

void PsdLayerComposer::readExtraData(quint64 end, LayerRecord *record)
{
    PsdStream &s = m_stream;
    const auto left = [&] { return end - std::min(end, quint64(s.pos())); };

    const quint32 maskLength = s.readU32();
    if (!s.ok() || maskLength > left()) return;
    const quint64 maskEnd = quint64(s.pos()) + maskLength;
    record->maskData = {0, quint64(s.pos()), maskLength};
    if (maskLength >= 18) {
        const qint32 top = qint32(s.readU32()), l = qint32(s.readU32());
        const qint32 bottom = qint32(s.readU32()), right = qint32(s.readU32());
        record->maskRect = {top, l, bottom, right};
        record->maskDefault = s.readU8();
        record->maskEnabled = (s.readU8() & 0x02) == 0; // bit 1: the mask is disabled
    }
    if (!s.seek(maskEnd)) return;

    const quint32 rangesLength = s.readU32(); // blending ranges
    if (!s.ok() || rangesLength > left() || !s.skip(rangesLength)) return;
    // The name: a Pascal string padded to a multiple of four, length byte included.
    const quint32 nameLength = s.readU8();
    const quint32 namePadded = (nameLength + 1 + 3) / 4 * 4 - 1;
    if (!s.ok() || namePadded > left() || !s.skip(namePadded)) return;

    while (s.ok() && left() >= 12) {
        const quint32 signature = s.readU32();
        if (signature != key("8BIM") && signature != key("8B64")) return;
        const quint32 k = s.readU32();
        const quint64 length = m_header.isPsb() && hasLongLength(k) ? s.readU64() : s.readU32();
        if (!s.ok() || length > left()) return;
        const quint64 next = quint64(s.pos()) + length;
        record->blocks.push_back({k, quint64(s.pos()), length});
        if (k == key("lsct") || k == key("lsdk")) {
            if (length >= 4) {
                const quint32 type = s.readU32();
                if (type == 1 || type == 2) record->kind = LayerRecord::GroupStart;
                if (type == 3) record->kind = LayerRecord::GroupEnd;
            }
        } else if (k == key("iOpa")) {
            if (length >= 1) record->fillOpacity = s.readU8();
        } else if (isAdjustment(k) && record->kind == LayerRecord::Pixels) {
            record->kind = LayerRecord::Adjustment;
        }
        // Blocks are padded to an even length.
        const quint64 padded = next + (length & 1u);
        if (!s.seek(padded <= end ? padded : end)) return;
    }
}

// Group records lie above their members and the group's end marker below them: walking
// from the top, a group record opens a group and its end marker closes it.
void PsdLayerComposer::resolveGroups()
{
    struct Level
    {
        bool hidden;
        int opacity;
    };
    std::vector<Level> open;
    m_groupOpacity.assign(m_records.size(), 255);
    for (size_t i = m_records.size(); i-- > 0;) {
        LayerRecord &r = m_records[i];
        if (r.kind == LayerRecord::GroupEnd) {
            if (!open.empty()) open.pop_back();
            continue;
        }
        const Level outer = open.empty() ? Level{false, 255} : open.back();
        r.hidden = r.hidden || outer.hidden;
        m_groupOpacity[i] = quint8(outer.opacity);
        if (r.kind == LayerRecord::GroupStart)
            open.push_back({r.hidden, (outer.opacity * r.opacity + 127) / 255});
    }
}

int PsdLayerComposer::visiblePixelLayers() const
{
    const int colours = m_header.mode == Rgb ? 3 : 1;
    return int(std::count_if(m_records.begin(), m_records.end(), [&](const LayerRecord &r) {
        return r.kind == LayerRecord::Pixels && !r.hidden &&
               (PsdLayerMaker::isFillRecord(r) || // fills: pixels made from their settings
                (!r.bounds.isEmpty() &&
                 std::all_of(r.channels, r.channels + colours,
                             [](const LayerChannel &c) { return c.present; })));
    }));
}

int PsdLayerComposer::compose(QImage &canvas)
{
    int drawn = 0;
    bool baseDrawn = false;
    m_cleared = false;
    for (size_t i = 0; i < m_records.size(); ++i) {
        const LayerRecord &r = m_records[i];
        const bool drawable =
            (r.kind == LayerRecord::Pixels || r.kind == LayerRecord::Adjustment) && !r.hidden;
        if (r.clipped) {
            // Shown only where its base is; a base that is not drawn shows none of them.
            if (baseDrawn && drawable && drawLayer(i, canvas, Clip::ToBase)) ++drawn;
            continue;
        }
        baseDrawn = false;
        const bool isBase = i + 1 < m_records.size() && m_records[i + 1].clipped;
        if (drawable && drawLayer(i, canvas, isBase ? Clip::KeepCoverage : Clip::None)) {
            ++drawn;
            baseDrawn = isBase;
        }
    }
    m_baseCoverage = std::vector<uchar>();
    return drawn;
}

namespace {

bool planChannel(PsdStream &s, const LayerChannel &channel, const LayerRect &rect, bool psb,
                 ChannelPlan *plan)
{
    if (!channel.present || channel.length < 2 || !s.seek(channel.start)) return false;
    plan->rect = rect;
    plan->compression = s.readU16();
    plan->data = channel.start + 2;
    plan->dataLength = channel.length - 2;
    const quint64 width = quint64(rect.width()), height = quint64(rect.height());
    if (!s.ok()) return false;
    if (plan->compression == 0) return width * height <= plan->dataLength;
    if (plan->compression != 1) return false; // zip is not read
    const quint64 countBytes = psb ? 4 : 2;
    if (height > plan->dataLength / countBytes) return false;
    const quint64 tableBytes = height * countBytes;
    std::vector<uchar> table(tableBytes);
    if (!s.readBytes(reinterpret_cast<char *>(table.data()), qint64(tableBytes))) return false;
    plan->rowCounts.resize(height);
    // Each two bytes of a row make at most 2 * kMaxPackBitsExpansion samples: a shorter row
    // cannot fill the layer's width.
    const quint64 perRun = 2 * kMaxPackBitsExpansion;
    const quint64 shortest = (width + perRun - 1) / perRun * 2;
    quint64 sum = 0;
    for (quint64 y = 0; y < height; ++y) {
        const quint32 count = psb ? qFromBigEndian<quint32>(table.data() + 4 * y)
                                  : qFromBigEndian<quint16>(table.data() + 2 * y);
        if (count < shortest) return false;
        sum += count;
        plan->rowCounts[y] = count;
    }
    plan->data += tableBytes;
    plan->dataLength -= tableBytes;
    return sum <= plan->dataLength;
}

// Decodes the part `window` of a planned channel into out, step bytes between samples and
// stride bytes between rows. False when the file ends early.
bool decodeChannel(PsdStream &s, const ChannelPlan &plan, const LayerRect &window, uchar *out,
                   int step, qint64 stride)
{
    const qint64 skip = window.left - plan.rect.left, take = window.width();
    std::vector<uchar> row;
    if (plan.compression == 0) {
        row.resize(size_t(take));
        for (qint64 y = window.top; y < window.bottom; ++y) {
            const quint64 at =
                plan.data + quint64(y - plan.rect.top) * quint64(plan.rect.width()) + quint64(skip);
            if (!s.seek(at) || !s.readBytes(reinterpret_cast<char *>(row.data()), take))
                return false;
            uchar *o = out + (y - window.top) * stride;
            for (qint64 x = 0; x < take; ++x)
                o[x * step] = row[size_t(x)];
        }
        return true;
    }
    quint64 at = plan.data;
    for (qint64 y = plan.rect.top; y < window.bottom; ++y) {
        const quint32 count = plan.rowCounts[size_t(y - plan.rect.top)];
        if (y >= window.top) {
            if (row.size() < count) row.resize(count);
            if (!s.seek(at) || !s.readBytes(reinterpret_cast<char *>(row.data()), count))
                return false;
            expandRow(row.data(), count, skip, take, out + (y - window.top) * stride, step);
        }
        at += count;
    }
    return true;
}

} // namespace

bool PsdLayerComposer::drawLayer(size_t index, QImage &canvas, Clip clip)
{
    const LayerRecord &r = m_records[index];
    // A refusal of the layer before must not refuse this one.
    m_stream = PsdStream(m_stream.device());
    const bool psb = m_header.isPsb();
    const int colours = m_header.mode == Rgb ? 3 : 1;
    const LayerRect canvasRect{0, 0, canvas.height(), canvas.width()};
    // Fill and adjustment layers make their pixels from their settings.
    const PsdLayerMaker maker(m_stream.device(), m_header, m_layers, r, canvas.size());
    if (r.kind == LayerRecord::Adjustment && !maker.makesPixels()) return false;
    const int read = maker.makesPixels() ? 0 : colours;
    const LayerRect window =
        (maker.makesPixels() ? maker.area(r.bounds, canvasRect) : r.bounds).intersected(canvasRect);
    if (window.isEmpty()) return false;

    // Every channel is checked against the file before the layer's pixels are allocated.
    ChannelPlan plans[LayerRecord::Slots];
    for (int c = 0; c < read; ++c)
        if (!planChannel(m_stream, r.channels[c], r.bounds, psb, &plans[c])) return false;
    const bool transparency = read && r.channels[LayerRecord::Transparency].present;
    if (transparency && !planChannel(m_stream, r.channels[LayerRecord::Transparency], r.bounds, psb,
                                     &plans[LayerRecord::Transparency]))
        return false;
    const LayerRect maskWindow = window.intersected(r.maskRect);
    // A mask record without its channel (a vector mask alone) hides nothing here.
    const bool mask = r.maskEnabled && r.channels[LayerRecord::UserMask].present &&
                      (r.maskDefault != 255 || !maskWindow.isEmpty());
    const bool maskData = mask && !maskWindow.isEmpty();
    if (maskData && !planChannel(m_stream, r.channels[LayerRecord::UserMask], r.maskRect, psb,
                                 &plans[LayerRecord::UserMask]))
        return false;

    const qint64 w = window.width(), h = window.height();
    const size_t pixelCount = size_t(w) * size_t(h);
    std::unique_ptr<uchar[]> pixels(new (std::nothrow) uchar[pixelCount * 4]);
    std::unique_ptr<uchar[]> maskPlane(mask ? new (std::nothrow) uchar[pixelCount] : nullptr);
    if (!pixels || (mask && !maskPlane)) return false;
    std::fill_n(pixels.get(), pixelCount * 4, uchar(255));
    for (int c = 0; c < read; ++c)
        if (!decodeChannel(m_stream, plans[c], window, pixels.get() + c, 4, w * 4)) return false;
    if (maker.makesPixels()) maker.make(window, m_cleared ? &canvas : nullptr, pixels.get());
    if (transparency && !decodeChannel(m_stream, plans[LayerRecord::Transparency], window,
                                       pixels.get() + 3, 4, w * 4))
        return false;
    if (mask) {
        std::fill_n(maskPlane.get(), pixelCount, r.maskDefault);
        uchar *at =
            maskPlane.get() + (maskWindow.top - window.top) * w + (maskWindow.left - window.left);
        if (maskData &&
            !decodeChannel(m_stream, plans[LayerRecord::UserMask], maskWindow, at, 1, w))
            return false;
        PsdLayerMaker::finishMask(r, maskPlane.get(), int(w), int(h));
    }
    maker.applyVectorMask(window, pixels.get());

    if (!m_cleared) {
        canvas.fill(0);
        m_cleared = true;
    }
    maker.applyEffects(window, r.bounds, r.opacity, maskPlane.get(), pixels.get(), canvas);
    const Blend mode = blendOf(r.blendMode);
    const float layerAlpha =
        r.opacity / 255.0f * (r.fillOpacity / 255.0f) * (m_groupOpacity[index] / 255.0f) / 255.0f;
    const int coverageScale = (r.opacity * m_groupOpacity[index] + 127) / 255;
    if (clip == Clip::KeepCoverage) {
        m_baseRect = window;
        m_baseCoverage.assign(pixelCount, 0);
    }
    for (qint64 y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(canvas.scanLine(int(window.top + y))) + window.left;
        const uchar *px = pixels.get() + y * w * 4;
        const uchar *m = mask ? maskPlane.get() + y * w : nullptr;
        const uchar *base = nullptr;
        if (clip == Clip::ToBase) {
            const qint64 by = window.top + y - m_baseRect.top;
            if (by >= 0 && by < m_baseRect.height())
                base = m_baseCoverage.data() + by * m_baseRect.width();
        }
        for (qint64 x = 0; x < w; ++x, px += 4) {
            int a = px[3];
            if (m) a = (a * m[x] + 127) / 255;
            if (clip == Clip::KeepCoverage)
                m_baseCoverage[size_t(y * w + x)] = uchar((a * coverageScale + 127) / 255);
            float as = a * layerAlpha;
            if (clip == Clip::ToBase) {
                const qint64 bx = window.left + x - m_baseRect.left;
                as *= base && bx >= 0 && bx < m_baseRect.width() ? base[bx] / 255.0f : 0.0f;
            }
            if (as <= 0) continue;
            const QRgb backdrop = line[x];
            const float ab = qAlpha(backdrop) / 255.0f;
            const float ao = as + ab * (1 - as);
            const int source[3] = {px[0], px[colours == 3 ? 1 : 0], px[colours == 3 ? 2 : 0]};
            const int under[3] = {qRed(backdrop), qGreen(backdrop), qBlue(backdrop)};
            int out[3];
            for (int c = 0; c < 3; ++c) {
                const float cs = source[c] / 255.0f, cb = under[c] / 255.0f;
                const float mixed = (1 - ab) * cs + ab * blend(mode, cb, cs);
                out[c] = toByte((as * mixed + (1 - as) * ab * cb) / ao);
            }
            line[x] = qRgba(out[0], out[1], out[2], toByte(ao));
        }
    }
    return true;
}

bool isBlankPicture(const QImage &picture)
{
    if (picture.isNull() ||
        (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32))
        return false;
    const bool white = picture.pixel(0, 0) == 0xffffffffu;
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (white ? line[x] != 0xffffffffu : qAlpha(line[x]) != 0) return false;
        }
    }
    return true;
}

} // namespace psd
