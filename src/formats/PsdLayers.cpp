#include "PsdLayers.h"

#include "PsdConvert.h"
#include "PsdLayerMaker.h"
#include "PsdLimits.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// Channels that carry colour in a layer of this mode.
int colourChannelsOf(const PsdHeader &h)
{
    switch (h.mode) {
    case Rgb:
    case Lab:
        return 3;
    case Cmyk:
        return 4;
    default:
        return 1;
    }
}

// The document as the row converter sees one layer: 8 bits, its colour channels only.
PsdHeader layerRows(const PsdHeader &h)
{
    PsdHeader rows = h;
    rows.depth = 8;
    rows.mode = h.mode == Duotone ? quint16(Grayscale) : h.mode;
    rows.channels = quint16(colourChannelsOf(h));
    return rows;
}

template <typename T> bool allocate(std::vector<T> &v, size_t n)
{
    try {
        v.assign(n, T());
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

} // namespace

PsdLayerComposer::PsdLayerComposer(QIODevice *device, const PsdHeader &header,
                                   const PsdSection &layers)
    : m_stream(device), m_header(header), m_layers(layers),
      m_channels(device, header.depth, header.isPsb())
{
}

bool PsdLayerComposer::supports(const PsdHeader &header)
{
    const bool depth = header.depth == 8 || header.depth == 16 || header.depth == 32;
    switch (header.mode) {
    case Rgb:
    case Grayscale:
    case Duotone:
        return depth;
    case Cmyk:
    case Lab:
        return depth && header.depth != 32;
    default:
        return false;
    }
}

// The layer records and their channels: the layer information of the section or, when it
// holds no layers (16 and 32-bit documents), the block among the section's additional
// information that does.
bool PsdLayerComposer::findLayerInfo(quint64 *start, quint64 *end)
{
    PsdStream &s = m_stream;
    const bool psb = m_header.isPsb();
    const quint64 lengthBytes = psb ? 8 : 4;
    if (m_layers.length < lengthBytes || !s.seek(m_layers.start)) return false;
    const quint64 infoLength = psb ? s.readU64() : s.readU32();
    const quint64 infoStart = m_layers.start + lengthBytes;
    if (!s.ok() || infoLength > m_layers.end() - infoStart) return false;
    if (infoLength >= 2 && s.readU16() != 0 && s.ok()) {
        *start = infoStart;
        *end = infoStart + infoLength;
        return true;
    }
    // Past the global mask, the additional information blocks.
    if (!s.seek(infoStart + infoLength)) return false;
    const quint32 maskLength = s.readU32();
    if (!s.ok() || !s.skip(maskLength)) return false;
    const quint64 sectionEnd = m_layers.end();
    quint64 at = quint64(s.pos());
    while (at + 12 <= sectionEnd && s.seek(at)) {
        const quint32 signature = s.readU32();
        if (signature != key("8BIM") && signature != key("8B64")) return false;
        const quint32 k = s.readU32();
        const quint64 length = psb && hasLongLength(k) ? s.readU64() : s.readU32();
        const quint64 data = quint64(s.pos());
        if (!s.ok() || length > sectionEnd - data) return false;
        if (k == key("Lr16") || k == key("Lr32") || k == key("Layr")) {
            *start = data;
            *end = data + length;
            return true;
        }
        at = data + length;
        // Blocks are padded to an even length, by some writers to a multiple of four.
        if (at & 1) ++at;
        if (at + 4 <= sectionEnd && s.seek(at)) {
            const quint32 next = s.readU32();
            if (next != key("8BIM") && next != key("8B64")) at = (at + 3) & ~quint64(3);
        }
    }
    return false;
}

bool PsdLayerComposer::readRecords()
{
    m_records.clear();
    PsdStream &s = m_stream;
    quint64 infoStart = 0, infoEnd = 0;
    if (!findLayerInfo(&infoStart, &infoEnd) || infoEnd - infoStart < 2 || !s.seek(infoStart))
        return false;
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
    const int colours = colourChannelsOf(m_header);
    quint64 total = 0;
    for (int i = 0; i < channels; ++i) {
        const qint16 id = qint16(s.readU16());
        const quint64 length = psb ? s.readU64() : s.readU32();
        int slot = -1;
        if (id == -1)
            slot = LayerRecord::Transparency;
        else if (id == -2)
            slot = LayerRecord::UserMask;
        else if (id >= 0 && id < colours)
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
            if (length >= 12 && s.readU32() == key("8BIM")) record->groupBlendMode = s.readU32();
        } else if (k == key("iOpa")) {
            if (length >= 1) record->fillOpacity = s.readU8();
        } else if (k == key("clbl")) {
            if (length >= 1) record->blendClippedAsGroup = s.readU8() != 0;
        } else if (k == key("infx")) {
            if (length >= 1) record->blendInteriorAsGroup = s.readU8() != 0;
        } else if (k == key("knko")) {
            if (length >= 1) record->knockout = s.readU8() != 0;
        } else if (k == key("artb") || k == key("artd") || k == key("abdd")) {
            readArtboard({k, quint64(s.pos()), length}, record);
        } else if (isAdjustment(k) && record->kind == LayerRecord::Pixels) {
            record->kind = LayerRecord::Adjustment;
        }
        // Blocks are padded to an even length.
        const quint64 padded = next + (length & 1u);
        if (!s.seek(padded <= end ? padded : end)) return;
    }
}

namespace {

// The artboard's descriptor is read only for the few items drawing needs, each found by
// its key and type; a descriptor larger than this is not looked into.
constexpr quint64 kMaxArtboardBytes = 64 * 1024;

// The value of type `type` that follows the first `item` at or after `from`, or -1.
int findItem(const QByteArray &data, const QByteArray &item, const char *type, int from = 0)
{
    const int at = data.indexOf(item + type, from);
    return at < 0 ? -1 : at + item.size() + 4;
}

bool readDouble(const QByteArray &data, int at, double *value)
{
    if (at < 0 || at + 8 > data.size()) return false;
    const quint64 bits = qFromBigEndian<quint64>(reinterpret_cast<const uchar *>(data.data()) + at);
    std::memcpy(value, &bits, sizeof *value);
    return *value == *value && std::abs(*value) < 1e9;
}

// A key of four characters, written with a zero length before it.
QByteArray shortKey(const char *k)
{
    return QByteArray(4, 0) + QByteArray(k, 4);
}

// A longer key, written with its length.
QByteArray longKey(const char *k)
{
    const QByteArray text(k);
    QByteArray length(4, 0);
    qToBigEndian(quint32(text.size()), length.data());
    return length + text;
}

} // namespace

// An artboard: a group drawn on its background colour and cut to its rectangle.
void PsdLayerComposer::readArtboard(const TaggedBlock &block, LayerRecord *record)
{
    if (block.length > kMaxArtboardBytes) return;
    QByteArray data(int(block.length), Qt::Uninitialized);
    if (!m_stream.readBytes(data.data(), data.size())) return;
    const int rect = data.indexOf(longKey("artboardRect"));
    if (rect < 0) return;
    double edges[4];
    const char *names[4] = {"Top ", "Left", "Btom", "Rght"};
    for (int i = 0; i < 4; ++i)
        if (!readDouble(data, findItem(data, shortKey(names[i]), "doub", rect), &edges[i])) return;
    record->artboard = true;
    record->bounds = {qint64(edges[0]), qint64(edges[1]), qint64(edges[2]), qint64(edges[3])};
    int type = 1; // white
    const int at = findItem(data, longKey("artboardBackgroundType"), "long");
    if (at >= 0 && at + 4 <= data.size())
        type = qFromBigEndian<qint32>(reinterpret_cast<const uchar *>(data.data()) + at);
    switch (type) {
    case 2:
        record->artboardColour = qRgb(0, 0, 0);
        return;
    case 3:
        record->artboardColour = 0; // transparent
        return;
    case 4: {
        double rgb[3] = {255, 255, 255};
        const char *parts[3] = {"Rd  ", "Grn ", "Bl  "};
        const int colour = data.indexOf(shortKey("Clr "));
        for (int i = 0; i < 3 && colour >= 0; ++i)
            readDouble(data, findItem(data, shortKey(parts[i]), "doub", colour), &rgb[i]);
        const auto byte = [](double v) { return qBound(0, int(v + 0.5), 255); };
        record->artboardColour = qRgb(byte(rgb[0]), byte(rgb[1]), byte(rgb[2]));
        return;
    }
    default:
        record->artboardColour = qRgb(255, 255, 255);
        return;
    }
}

// Group records lie above their members and the group's end marker below them: walking
// from the bottom, an end marker opens a group and the group's record closes it.
void PsdLayerComposer::resolveGroups()
{
    m_nodes.assign(1, Node());
    std::vector<int> open{0};
    int flattened = 0; // groups past the deepest nesting, taken apart
    for (size_t i = 0; i < m_records.size(); ++i) {
        const LayerRecord &r = m_records[i];
        if (r.kind == LayerRecord::GroupEnd) {
            // Too deep a nesting is taken apart: its members join the group around it.
            if (open.size() > size_t(kMaxGroupNesting)) {
                ++flattened;
                continue;
            }
            m_nodes.push_back(Node());
            open.push_back(int(m_nodes.size() - 1));
            continue;
        }
        if (r.kind == LayerRecord::GroupStart && flattened > 0) {
            --flattened;
            continue;
        }
        if (r.kind == LayerRecord::GroupStart && open.size() > 1) {
            const int group = open.back();
            open.pop_back();
            m_nodes[size_t(group)].record = int(i);
            m_nodes[size_t(open.back())].children.push_back(group);
            continue;
        }
        // A layer; a group record without its end marker is drawn as nothing.
        if (r.kind == LayerRecord::GroupStart) continue;
        m_nodes.push_back(Node());
        m_nodes.back().record = int(i);
        m_nodes[size_t(open.back())].children.push_back(int(m_nodes.size() - 1));
    }
    // Groups never closed give their members to the group around them.
    while (open.size() > 1) {
        const int group = open.back();
        open.pop_back();
        auto &members = m_nodes[size_t(group)].children;
        auto &outer = m_nodes[size_t(open.back())].children;
        outer.insert(outer.end(), members.begin(), members.end());
        members.clear();
    }
    // Hidden groups hide their members.
    std::vector<std::pair<int, bool>> walk{{0, false}};
    while (!walk.empty()) {
        const auto [node, hidden] = walk.back();
        walk.pop_back();
        for (int child : m_nodes[size_t(node)].children) {
            LayerRecord &r = m_records[size_t(m_nodes[size_t(child)].record)];
            r.hidden = r.hidden || hidden;
            if (!m_nodes[size_t(child)].children.empty()) walk.push_back({child, r.hidden});
        }
    }
}

int PsdLayerComposer::visiblePixelLayers() const
{
    const int colours = colourChannelsOf(m_header);
    return int(std::count_if(m_records.begin(), m_records.end(), [&](const LayerRecord &r) {
        return r.kind == LayerRecord::Pixels && !r.hidden &&
               (PsdLayerMaker::isFillRecord(r) || // fills: pixels made from their settings
                (!r.bounds.isEmpty() &&
                 std::all_of(r.channels, r.channels + colours,
                             [](const LayerChannel &c) { return c.present; })));
    }));
}

LayerRect PsdLayerComposer::extentOf(int index, int depth)
{
    Node &node = m_nodes[size_t(index)];
    const LayerRect canvas{0, 0, qint64(m_header.height), qint64(m_header.width)};
    if (node.record >= 0) {
        const LayerRecord &r = m_records[size_t(node.record)];
        if (r.hidden) return node.extent = LayerRect();
        if (r.kind != LayerRecord::GroupStart) return node.extent = r.bounds.intersected(canvas);
    }
    LayerRect extent;
    for (int child : node.children)
        extent = extent.united(extentOf(child, depth + 1));
    if (node.record >= 0 && m_records[size_t(node.record)].artboard)
        extent = m_records[size_t(node.record)].bounds.intersected(canvas);
    return node.extent = extent;
}

void PsdLayerComposer::clearCanvas()
{
    if (m_cleared) return;
    m_canvas->fill(0);
    m_cleared = true;
}

int PsdLayerComposer::compose(QImage &canvas)
{
    m_drawn = 0;
    m_cleared = false;
    m_canvas = &canvas;
    if (m_nodes.empty()) return 0;
    m_converter.reset(new RowConverter(layerRows(m_header), 0));
    extentOf(0, 0);
    Surface target;
    target.rect = {0, 0, canvas.height(), canvas.width()};
    target.pixels = reinterpret_cast<QRgb *>(canvas.bits());
    target.stride = canvas.bytesPerLine() / 4;
    drawList(m_nodes[0].children, target, Context());
    m_canvas = nullptr;
    return m_drawn;
}

void PsdLayerComposer::drawList(const std::vector<int> &nodes, Surface &target,
                                const Context &context)
{
    size_t i = 0;
    while (i < nodes.size()) {
        size_t j = i + 1;
        while (j < nodes.size() && m_records[size_t(m_nodes[size_t(nodes[j])].record)].clipped)
            ++j;
        if (j == i + 1)
            drawNode(nodes[i], target, context);
        else
            drawClippingGroup(
                nodes[i], std::vector<int>(nodes.begin() + long(i) + 1, nodes.begin() + long(j)),
                target, context);
        i = j;
    }
}

void PsdLayerComposer::drawNode(int node, Surface &target, const Context &context)
{
    const LayerRecord &r = m_records[size_t(m_nodes[size_t(node)].record)];
    if (r.hidden) return;
    switch (r.kind) {
    case LayerRecord::Pixels:
        return drawLayer(r, target, context);
    case LayerRecord::Adjustment:
        return drawAdjustment(r, target, context);
    case LayerRecord::GroupStart:
        return drawGroup(node, target, context);
    case LayerRecord::GroupEnd:
        return;
    }
}

// An adjustment is a layer whose pixels are what lies below it, changed.
void PsdLayerComposer::drawAdjustment(const LayerRecord &r, Surface &target, const Context &context)
{
    drawLayer(r, target, context);
}

namespace {

// A buffer of transparent pixels over rect, or none when memory runs short.
bool makeSurface(const LayerRect &rect, std::vector<QRgb> *pixels)
{
    const quint64 count = quint64(rect.width()) * quint64(rect.height());
    return count > 0 && allocate(*pixels, size_t(count));
}

} // namespace

void PsdLayerComposer::drawGroup(int node, Surface &target, const Context &context)
{
    const Node &n = m_nodes[size_t(node)];
    const LayerRecord &r = m_records[size_t(n.record)];
    const Blend mode = blendOf(r.groupBlendMode ? r.groupBlendMode : r.blendMode);
    const bool knockouts = std::any_of(n.children.begin(), n.children.end(), [&](int c) {
        return m_records[size_t(m_nodes[size_t(c)].record)].knockout;
    });
    // An artboard shows what lies inside its rectangle only.
    const LayerRect rect = (r.artboard ? r.bounds : n.extent).intersected(target.rect);
    if (rect.isEmpty()) return;
    const bool passes = mode == Blend::PassThrough && !knockouts && !r.artboard;
    std::vector<QRgb> pixels;
    if (passes || context.depth >= kMaxIsolatedDepth || !makeSurface(rect, &pixels)) {
        Context inner = context;
        inner.opacity = context.asBase ? 255 : (context.opacity * r.opacity + 127) / 255;
        inner.asBase = false;
        drawList(n.children, target, inner);
        return;
    }
    Surface own{rect, pixels.data(), rect.width()};
    if (r.artboard) std::fill(pixels.begin(), pixels.end(), r.artboardColour);
    const int before = m_drawn;
    Context inner;
    inner.depth = context.depth + 1;
    drawList(n.children, own, inner);
    if (m_drawn == before && (!r.artboard || qAlpha(r.artboardColour) == 0)) return;
    SpanBlend how;
    how.mode = context.asBase || mode == Blend::PassThrough ? Blend::Normal : mode;
    how.alpha = context.asBase ? 255 : (context.opacity * r.opacity + 127) / 255;
    how.fill = r.fillOpacity / 255.0f;
    how.knockout = r.knockout;
    how.atop = context.atop;
    std::vector<uchar> mask;
    const bool masked = layerMask(r, rect, &mask);
    blendSurface(own, target, how, context, masked ? &mask : nullptr);
}

void PsdLayerComposer::drawClippingGroup(int base, const std::vector<int> &clipped, Surface &target,
                                         const Context &context)
{
    const Node &n = m_nodes[size_t(base)];
    const LayerRecord &r = m_records[size_t(n.record)];
    if (r.hidden) return;
    const LayerRect rect = n.extent.intersected(target.rect);
    std::vector<QRgb> pixels;
    if (context.depth >= kMaxIsolatedDepth || rect.isEmpty() || !makeSurface(rect, &pixels)) {
        // Too deep, or no memory: the base alone.
        drawNode(base, target, context);
        return;
    }
    // The base alone in a buffer, as it covers: normal, at full opacity.
    Surface own{rect, pixels.data(), rect.width()};
    Context inner;
    inner.depth = context.depth + 1;
    inner.asBase = true;
    const int before = m_drawn;
    drawNode(base, own, inner);
    if (m_drawn == before) return; // a base that shows nothing shows none of its layers
    inner.asBase = false;

    SpanBlend how;
    how.mode = blendOf(r.blendMode);
    if (how.mode == Blend::PassThrough) how.mode = Blend::Normal;
    how.alpha = (context.opacity * r.opacity + 127) / 255;
    how.knockout = r.knockout;
    how.atop = context.atop;
    if (r.blendClippedAsGroup) {
        // The clipped layers blend with the base only, and the whole takes the base's mode
        // and opacity.
        inner.atop = true;
        for (int c : clipped)
            drawNode(c, own, inner);
        blendSurface(own, target, how, context, nullptr);
        return;
    }
    // The base blends on its own, and each clipped layer blends with all that is below it,
    // where the base covers.
    blendSurface(own, target, how, context, nullptr);
    Context onTarget = context;
    onTarget.clipTo = &own;
    onTarget.clipOpacity = int(how.alpha);
    for (int c : clipped)
        drawNode(c, target, onTarget);
}

void PsdLayerComposer::blendSurface(const Surface &source, Surface &target, SpanBlend how,
                                    const Context &context, const std::vector<uchar> *mask)
{
    blendRows(how, source, mask ? mask->data() : nullptr, source.rect.width(), target, context);
}

// Blends source over target where both lie, each row's coverage the product of the given
// one (a mask over the source's rectangle) and the base that the context clips to.
void PsdLayerComposer::blendRows(const SpanBlend &how, const Surface &source, const uchar *coverage,
                                 qint64 coverageStride, Surface &target, const Context &context)
{
    const LayerRect area = source.rect.intersected(target.rect);
    if (area.isEmpty()) return;
    clearCanvas();
    const qint64 w = area.width();
    std::vector<uchar> row;
    const Surface *base = context.clipTo;
    if (base || coverage) row.resize(size_t(w));
    for (qint64 y = area.top; y < area.bottom; ++y) {
        const uchar *cover = nullptr;
        if (base || coverage) {
            for (qint64 x = 0; x < w; ++x) {
                int c = coverage ? coverage[(y - source.rect.top) * coverageStride + area.left -
                                            source.rect.left + x]
                                 : 255;
                if (base) {
                    const qint64 bx = area.left + x;
                    const bool inside = y >= base->rect.top && y < base->rect.bottom &&
                                        bx >= base->rect.left && bx < base->rect.right;
                    const int a = inside ? qAlpha(base->row(y)[bx - base->rect.left]) : 0;
                    c = c * ((a * context.clipOpacity + 127) / 255) / 255;
                }
                row[size_t(x)] = uchar(c);
            }
            cover = row.data();
        }
        blendSpan(how, source.row(y) + (area.left - source.rect.left), cover,
                  target.row(y) + (area.left - target.rect.left), int(w), area.left, y);
    }
}

namespace {

// The part of a surface as a picture of its own, and a rectangle in its coordinates.
QImage surfaceImage(QRgb *pixels, const LayerRect &rect, qint64 stride)
{
    return QImage(reinterpret_cast<uchar *>(pixels), int(rect.width()), int(rect.height()),
                  int(stride * 4), QImage::Format_ARGB32);
}

LayerRect shifted(const LayerRect &r, const LayerRect &origin)
{
    return {r.top - origin.top, r.left - origin.left, r.bottom - origin.top, r.right - origin.left};
}

// Bytes red, green, blue, alpha (grey in the first for a grey document) to QRgb, in place.
void madeToRgb(std::vector<QRgb> &pixels, bool grey)
{
    for (QRgb &p : pixels) {
        const auto *b = reinterpret_cast<const uchar *>(&p);
        p = grey ? qRgba(b[0], b[0], b[0], b[3]) : qRgba(b[0], b[1], b[2], b[3]);
    }
}

// QRgb to bytes red, green, blue, alpha, in place, for the effects' painting.
void rgbToBytes(std::vector<QRgb> &pixels)
{
    for (QRgb &p : pixels) {
        const QRgb v = p;
        auto *b = reinterpret_cast<uchar *>(&p);
        b[0] = uchar(qRed(v));
        b[1] = uchar(qGreen(v));
        b[2] = uchar(qBlue(v));
        b[3] = uchar(qAlpha(v));
    }
}

} // namespace

void PsdLayerComposer::drawLayer(const LayerRecord &r, Surface &target, const Context &context)
{
    // Fill and adjustment layers make their pixels from their settings.
    const LayerRect document{0, 0, qint64(m_header.height), qint64(m_header.width)};
    const PsdLayerMaker maker(m_stream.device(), m_header, m_layers, r,
                              QSize(int(m_header.width), int(m_header.height)));
    const bool made = maker.makesPixels();
    if (r.kind == LayerRecord::Adjustment && !made) return;
    const LayerRect window =
        (made ? maker.area(r.bounds, document) : r.bounds).intersected(target.rect);
    if (window.isEmpty()) return;
    std::vector<QRgb> pixels;
    if (made ? !madePixels(r, maker, window, target, &pixels) : !layerPixels(r, window, &pixels))
        return;
    // Alpha is the fourth byte of a QRgb in memory as of the maker's bytes.
    maker.applyVectorMask(window, reinterpret_cast<uchar *>(pixels.data()));
    if (m_header.mode == Rgb || m_header.mode == Grayscale) {
        clearCanvas(); // effects behind the layer draw onto what lies below
        QImage below = surfaceImage(target.pixels, target.rect, target.stride);
        rgbToBytes(pixels);
        maker.applyEffects(shifted(window, target.rect), shifted(r.bounds, target.rect), r.opacity,
                           nullptr, reinterpret_cast<uchar *>(pixels.data()), below);
        madeToRgb(pixels, false);
    }
    ++m_drawn;
    SpanBlend how;
    how.mode = context.asBase ? Blend::Normal : blendOf(r.blendMode);
    if (how.mode == Blend::PassThrough) how.mode = Blend::Normal;
    how.alpha = context.asBase ? 255 : (context.opacity * r.opacity + 127) / 255;
    how.fill = r.fillOpacity / 255.0f;
    how.atop = context.atop;
    how.knockout = r.knockout && !context.asBase;
    const Surface source{window, pixels.data(), window.width()};
    blendRows(how, source, nullptr, 0, target, context);
}

bool PsdLayerComposer::madePixels(const LayerRecord &r, const PsdLayerMaker &maker,
                                  const LayerRect &window, const Surface &target,
                                  std::vector<QRgb> *pixels)
{
    const qint64 w = window.width(), h = window.height();
    if (!allocate(*pixels, size_t(w) * size_t(h))) return false;
    auto *bytes = reinterpret_cast<uchar *>(pixels->data());
    if (r.kind == LayerRecord::Adjustment) {
        // What lies below in the target, which may be a group's own buffer.
        const QImage below = surfaceImage(target.pixels, target.rect, target.stride);
        maker.make(shifted(window, target.rect), m_cleared ? &below : nullptr, bytes);
    } else {
        maker.make(window, nullptr, bytes);
    }
    madeToRgb(*pixels, m_header.mode == Grayscale);
    std::vector<uchar> mask;
    if (!layerMask(r, window, &mask)) return true;
    for (size_t i = 0; i < pixels->size(); ++i) {
        QRgb &p = (*pixels)[i];
        p = (p & 0xffffffu) | quint32((qAlpha(p) * mask[i] + 127) / 255) << 24;
    }
    return true;
}

bool PsdLayerComposer::layerMask(const LayerRecord &r, const LayerRect &window,
                                 std::vector<uchar> *mask)
{
    // A mask record without its channel (a vector mask alone) hides nothing here.
    if (!r.maskEnabled || !r.channels[LayerRecord::UserMask].present) return false;
    const LayerRect inside = window.intersected(r.maskRect);
    if (inside.isEmpty() && r.maskDefault == 255) return false;
    const qint64 w = window.width();
    if (!allocate(*mask, size_t(w) * size_t(window.height()))) return false;
    std::fill(mask->begin(), mask->end(), r.maskDefault);
    if (inside.isEmpty()) return true;
    LayerChannelReader::Plan plan;
    uchar *at = mask->data() + (inside.top - window.top) * w + (inside.left - window.left);
    if (!m_channels.plan(r.channels[LayerRecord::UserMask], r.maskRect, &plan) ||
        !m_channels.decode(plan, inside, LayerChannelReader::Sample::Coverage, at, 1, w)) {
        // A mask that cannot be read hides nothing rather than everything.
        mask->clear();
        return false;
    }
    PsdLayerMaker::finishMask(r, mask->data(), int(w), int(window.height()));
    return true;
}

bool PsdLayerComposer::layerPixels(const LayerRecord &r, const LayerRect &window,
                                   std::vector<QRgb> *pixels)
{
    const int colours = colourChannelsOf(m_header);
    // Every channel is checked against the file before the layer's pixels are allocated.
    LayerChannelReader::Plan plans[LayerRecord::Slots];
    for (int c = 0; c < colours; ++c)
        if (!m_channels.plan(r.channels[c], r.bounds, &plans[c])) return false;
    const bool transparency = r.channels[LayerRecord::Transparency].present;
    if (transparency && !m_channels.plan(r.channels[LayerRecord::Transparency], r.bounds,
                                         &plans[LayerRecord::Transparency]))
        return false;

    const qint64 w = window.width(), h = window.height();
    const size_t count = size_t(w) * size_t(h);
    std::vector<uchar> alpha;
    if (!allocate(*pixels, count) || (transparency && !allocate(alpha, count))) return false;
    // Colour channel k in byte k of each pixel, turned into colours a row at a time below.
    auto *bytes = reinterpret_cast<uchar *>(pixels->data());
    for (int c = 0; c < colours; ++c)
        if (!m_channels.decode(plans[c], window, LayerChannelReader::Sample::Colour, bytes + c, 4,
                               w * 4))
            return false;
    if (transparency &&
        !m_channels.decode(plans[LayerRecord::Transparency], window,
                           LayerChannelReader::Sample::Coverage, alpha.data(), 1, w))
        return false;
    std::vector<uchar> mask;
    const bool masked = layerMask(r, window, &mask);

    std::vector<uchar> planes(size_t(w) * 4);
    const uchar *rows[kMaxPlanesUsed] = {};
    for (int k = 0; k < 4; ++k)
        rows[k] = planes.data() + k * w;
    for (qint64 y = 0; y < h; ++y) {
        QRgb *line = pixels->data() + y * w;
        const uchar *samples = reinterpret_cast<const uchar *>(line);
        for (qint64 x = 0; x < w; ++x)
            for (int k = 0; k < colours; ++k)
                planes[size_t(k * w + x)] = samples[4 * x + k];
        m_converter->convert(rows, int(w), line);
        if (!transparency && !masked) continue;
        for (qint64 x = 0; x < w; ++x) {
            int a = transparency ? alpha[size_t(y * w + x)] : 255;
            if (masked) a = (a * mask[size_t(y * w + x)] + 127) / 255;
            line[x] = (line[x] & 0xffffffu) | quint32(a) << 24;
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
