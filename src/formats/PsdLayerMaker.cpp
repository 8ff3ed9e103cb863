#include "PsdLayerMaker.h"

#include "PsdDescriptor.h"
#include "PsdStream.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace psd {

namespace {

// Settings blocks are small; a larger one is not read.
constexpr quint64 kMaxSettingsBytes = 16u << 20;

QByteArray readBlock(QIODevice *device, const TaggedBlock &b)
{
    PsdStream s(device);
    if (b.length > kMaxSettingsBytes || !s.seek(b.start)) return {};
    QByteArray bytes(int(b.length), Qt::Uninitialized);
    return s.readBytes(bytes.data(), bytes.size()) ? bytes : QByteArray();
}

// What a layer's mask record says beyond its rectangle: the density and feather of either
// mask, and the user mask's own rectangle when channel -2 holds a rendered vector mask.
struct MaskRecord
{
    bool valid = false;
    quint8 flags = 0;
    int userDensity = 255, vectorDensity = 255;
    double userFeather = 0, vectorFeather = 0;
    bool hasReal = false;
    quint8 realFlags = 0, realDefault = 0;
    LayerRect realRect;
};

MaskRecord readMaskRecord(QIODevice *device, const TaggedBlock &where)
{
    MaskRecord r;
    if (where.length < 18 || where.length > 256) return r;
    const qint64 at = device->pos();
    const QByteArray m = readBlock(device, where);
    device->seek(at);
    if (m.size() < 18) return r;
    const auto *p = reinterpret_cast<const uchar *>(m.constData());
    r.valid = true;
    r.flags = p[17];
    int i = 18;
    const auto feather = [&](double *out) {
        if (i + 8 > m.size()) return;
        const quint64 bits = qFromBigEndian<quint64>(p + i);
        double v = 0;
        std::memcpy(&v, &bits, 8);
        *out = std::isfinite(v) ? std::clamp(v, 0.0, 250.0) : 0.0;
        i += 8;
    };
    // Parameters: which of user density, user feather, vector density, vector feather follow.
    if (r.flags & 0x10 && i < m.size()) {
        const quint8 which = p[i++];
        if (which & 1 && i < m.size()) r.userDensity = p[i++];
        if (which & 2) feather(&r.userFeather);
        if (which & 4 && i < m.size()) r.vectorDensity = p[i++];
        if (which & 8) feather(&r.vectorFeather);
    }
    // Real flags, real background, real rectangle.
    if (m.size() >= 36 && i + 18 <= m.size()) {
        const auto edge = [&](int k) { return qint32(qFromBigEndian<quint32>(p + i + 2 + 4 * k)); };
        r.hasReal = true;
        r.realFlags = p[i];
        r.realDefault = p[i + 1];
        r.realRect = {edge(0), edge(1), edge(2), edge(3)};
    }
    return r;
}

bool isAdjustmentKey(quint32 k)
{
    static constexpr quint32 kKeys[] = {
        fourCC("levl"), fourCC("curv"), fourCC("brit"), fourCC("CgEd"), fourCC("blnc"),
        fourCC("blwh"), fourCC("hue "), fourCC("hue2"), fourCC("selc"), fourCC("mixr"),
        fourCC("grdm"), fourCC("phfl"), fourCC("expA"), fourCC("vibA"), fourCC("thrs"),
        fourCC("post"), fourCC("nvrt")};
    return std::find(std::begin(kKeys), std::end(kKeys), k) != std::end(kKeys);
}

bool isFillKey(quint32 k)
{
    return k == fourCC("SoCo") || k == fourCC("GdFl") || k == fourCC("PtFl");
}

QRect toRect(const LayerRect &r)
{
    return QRect(int(r.left), int(r.top), int(r.width()), int(r.height()));
}

} // namespace

PsdLayerMaker::PsdLayerMaker(QIODevice *device, const PsdHeader &header, const PsdSection &layers,
                             const LayerRecord &record, QSize document)
    : m_document(document), m_grey(header.mode == Grayscale)
{
    const qint64 at = device->pos();
    // A fill layer saved with its pixels is drawn from them: they are the fill as
    // Photoshop drew it.
    const int colours = header.mode == Rgb ? 3 : 1;
    const bool ownPixels =
        !record.bounds.isEmpty() &&
        std::all_of(record.channels, record.channels + colours,
                    [](const LayerChannel &c) { return c.present && c.length > 2; });
    for (const TaggedBlock &b : record.blocks) {
        if (isFillKey(b.key) && !ownPixels && !m_fill.isValid()) {
            m_fill = PsdFill::fromBlock(b.key, readBlock(device, b));
        } else if ((b.key == fourCC("vmsk") || b.key == fourCC("vsms")) &&
                   !m_vectorMask.isValid()) {
            m_vectorMask = PsdVectorMask::fromBlock(readBlock(device, b), document);
        } else if ((b.key == fourCC("lfx2") || b.key == fourCC("lmfx")) && m_effects.isEmpty()) {
            m_effects = PsdEffects::fromBlock(b.key, readBlock(device, b));
        } else if (record.kind == LayerRecord::Adjustment && isAdjustmentKey(b.key) &&
                   !m_adjustment.isValid()) {
            m_adjustment = PsdAdjustment::fromBlock(b.key, readBlock(device, b));
        }
    }
    if (!m_fill.patternId().isEmpty())
        m_fill.setPattern(pattern(device, header, layers, m_fill.patternId()));
    for (const QString &id : m_effects.patternIds())
        m_effects.setPattern(id, pattern(device, header, layers, id));
    if (m_vectorMask.isEnabled()) {
        const MaskRecord m = readMaskRecord(device, record.maskData);
        m_vectorMask.soften(m.vectorDensity, m.vectorFeather);
    }
    device->seek(at);
}

// The document-wide blocks follow the layer records and the global mask: the pattern
// blocks are among them. Large documents keep the lengths of some in 64 bits, which this
// does not know, so their patterns are not looked for.
QImage PsdLayerMaker::pattern(QIODevice *device, const PsdHeader &header, const PsdSection &layers,
                              const QString &id)
{
    if (header.isPsb()) return {};
    PsdStream s(device);
    if (!s.seek(layers.start)) return {};
    const quint64 end = layers.end();
    const auto left = [&] { return end - std::min(end, quint64(s.pos())); };
    const quint32 info = s.readU32();
    if (!s.ok() || info > left() || !s.skip(info)) return {};
    const quint32 globalMask = s.readU32();
    if (!s.ok() || globalMask > left() || !s.skip(globalMask)) return {};
    while (s.ok() && left() >= 12) {
        const quint32 signature = s.readU32(), k = s.readU32();
        const quint32 length = s.readU32();
        if (!s.ok() || (signature != fourCC("8BIM") && signature != fourCC("8B64")) ||
            length > left())
            return {};
        if (k == fourCC("Patt") || k == fourCC("Pat2") || k == fourCC("Pat3")) {
            const QImage found = findPattern(readBlock(device, {k, quint64(s.pos()), length}), id);
            if (!found.isNull()) return found;
        }
        // Document-wide blocks are padded to a multiple of four.
        const quint64 next = quint64(s.pos()) + (quint64(length) + 3) / 4 * 4;
        if (!s.seek(std::min(next, end))) return {};
    }
    return {};
}

bool PsdLayerMaker::isFillRecord(const LayerRecord &record)
{
    return std::any_of(record.blocks.begin(), record.blocks.end(),
                       [](const TaggedBlock &b) { return isFillKey(b.key); });
}

LayerRect PsdLayerMaker::area(const LayerRect &bounds, const LayerRect &document) const
{
    return m_adjustment.isValid() || bounds.isEmpty() ? document : bounds;
}

void PsdLayerMaker::make(const LayerRect &window, const QImage *canvas, uchar *pixels) const
{
    const size_t w = size_t(window.width()), h = size_t(window.height());
    if (m_fill.isValid()) {
        m_fill.render(toRect(window), QRect(QPoint(0, 0), m_document), pixels);
    } else if (!canvas) {
        std::fill_n(pixels, w * h * 4, uchar(0));
    } else {
        adjust(window, *canvas, pixels);
    }
    if (!m_grey) return;
    for (size_t i = 0; i < w * h; ++i, pixels += 4)
        pixels[0] =
            uchar(std::clamp(int(luminance(pixels[0], pixels[1], pixels[2]) + 0.5), 0, 255));
}

void PsdLayerMaker::adjust(const LayerRect &window, const QImage &canvas, uchar *pixels) const
{
    const size_t w = size_t(window.width()), h = size_t(window.height());
    // The colours below, adjusted; what is transparent below stays so.
    for (size_t y = 0; y < h; ++y) {
        const auto *line =
            reinterpret_cast<const QRgb *>(canvas.constScanLine(int(window.top) + int(y))) +
            window.left;
        uchar *px = pixels + y * w * 4;
        for (size_t x = 0; x < w; ++x) {
            px[x * 4] = uchar(qRed(line[x]));
            px[x * 4 + 1] = uchar(qGreen(line[x]));
            px[x * 4 + 2] = uchar(qBlue(line[x]));
            px[x * 4 + 3] = uchar(qAlpha(line[x]));
        }
        m_adjustment.apply(px, w);
    }
}

void PsdLayerMaker::applyVectorMask(const LayerRect &window, uchar *pixels) const
{
    m_vectorMask.apply(toRect(window), pixels);
}

void PsdLayerMaker::applyEffects(const LayerRect &window, const LayerRect &bounds, int opacity,
                                 const uchar *mask, uchar *pixels, QImage &canvas) const
{
    if (m_effects.isEmpty()) return;
    const QRect box = bounds.isEmpty() ? QRect(QPoint(0, 0), m_document) : toRect(bounds);
    m_effects.apply(toRect(window), box, opacity / 255.0, mask, pixels, canvas);
}

void PsdLayerMaker::resolveMasks(QIODevice *device, LayerRecord *record)
{
    const MaskRecord m = readMaskRecord(device, record->maskData);
    if (!m.valid) return;
    record->maskDensity = quint8(m.userDensity);
    record->maskFeather = m.userFeather;
    if (!(m.flags & 0x08)) return; // channel -2 is the user's own mask
    // The user mask of a layer that also has a vector mask is channel -3.
    if (record->realUserMask.present && m.hasReal) {
        record->channels[LayerRecord::UserMask] = record->realUserMask;
        record->maskEnabled = (m.realFlags & 0x02) == 0;
        record->maskDefault = m.realDefault;
        record->maskRect = m.realRect;
    } else {
        record->maskEnabled = false;
    }
}

void PsdLayerMaker::finishMask(const LayerRecord &record, uchar *plane, int w, int h)
{
    const size_t count = size_t(w) * size_t(h);
    // Feathering a mask larger than a layer of 8192 x 8192 pixels is left out.
    if (record.maskFeather >= 0.5 && count <= (size_t(1) << 26)) {
        std::vector<float> blurred(plane, plane + count);
        boxBlur(blurred, w, h, int(std::lround(record.maskFeather)));
        for (size_t i = 0; i < count; ++i)
            plane[i] = uchar(std::clamp(int(std::lround(blurred[i])), 0, 255));
    }
    if (record.maskDensity != 255) {
        // Density scales how much the mask hides.
        for (size_t i = 0; i < count; ++i)
            plane[i] = uchar(255 - ((255 - plane[i]) * record.maskDensity + 127) / 255);
    }
}

} // namespace psd
