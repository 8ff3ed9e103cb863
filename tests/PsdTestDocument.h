#pragma once

// Builds Photoshop documents byte by byte for the tests, the fuzz corpus and the benchmark.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QVector>
#include <QtEndian>

#include <zlib.h>

#include <cstring>
#include <initializer_list>

namespace psdtest {

inline QByteArray be16(quint16 v)
{
    QByteArray b(2, 0);
    qToBigEndian(v, b.data());
    return b;
}

inline QByteArray be32(quint32 v)
{
    QByteArray b(4, 0);
    qToBigEndian(v, b.data());
    return b;
}

inline QByteArray be64(quint64 v)
{
    QByteArray b(8, 0);
    qToBigEndian(v, b.data());
    return b;
}

// PackBits: runs of three or more equal bytes become repeats, the rest literals.
inline QByteArray packBits(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 64 + 2);
    const int n = in.size();
    int i = 0;
    while (i < n) {
        int run = 1;
        while (i + run < n && run < 128 && in[i + run] == in[i])
            ++run;
        if (run >= 3) {
            out.append(char(1 - run));
            out.append(in[i]);
            i += run;
            continue;
        }
        int start = i, length = 0;
        while (i < n && length < 128) {
            if (i + 2 < n && in[i] == in[i + 1] && in[i] == in[i + 2]) break;
            ++i;
            ++length;
        }
        out.append(char(length - 1));
        out.append(in.constData() + start, length);
    }
    return out;
}

// One image resource block with an empty name.
inline QByteArray resourceBlock(quint16 id, const QByteArray &data)
{
    QByteArray b = "8BIM" + be16(id) + QByteArray(2, 0) + be32(quint32(data.size())) + data;
    if (data.size() % 2) b.append('\0');
    return b;
}

// The thumbnail resource (1036): a 28-byte header, then the JPEG.
inline QByteArray thumbnailResource(const QImage &picture)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPEG", 95);
    QByteArray header = be32(1) + be32(quint32(picture.width())) + be32(quint32(picture.height())) +
                        be32(quint32((picture.width() * 24 + 31) / 32 * 4)) + be32(0) +
                        be32(quint32(jpeg.size())) + be16(24) + be16(1);
    return resourceBlock(1036, header + jpeg);
}

struct Document
{
    quint16 version = 1; // 2 = PSB
    quint16 channels = 3;
    quint32 width = 1;
    quint32 height = 1;
    quint16 depth = 8;
    quint16 mode = 3; // RGB
    quint16 compression = 0;
    QByteArray colourModeData;
    QByteArray resources;       // the blocks of the image-resources section
    QByteArray layers;          // the content of the layer-and-mask section
    QVector<QByteArray> planes; // one per channel, rows of raw samples

    quint64 rowBytes() const { return (quint64(width) * depth + 7) / 8; }

    QByteArray header() const
    {
        return "8BPS" + be16(version) + QByteArray(6, 0) + be16(channels) + be32(height) +
               be32(width) + be16(depth) + be16(mode);
    }

    QByteArray build() const
    {
        QByteArray out = header();
        out += be32(quint32(colourModeData.size())) + colourModeData;
        out += be32(quint32(resources.size())) + resources;
        out +=
            (version == 2 ? be64(quint64(layers.size())) : be32(quint32(layers.size()))) + layers;
        out += be16(compression);
        if (compression != 1) {
            for (const QByteArray &plane : planes)
                out += plane;
            return out;
        }
        QByteArray counts, rows;
        const int bpr = int(rowBytes());
        for (const QByteArray &plane : planes) {
            for (quint32 y = 0; y < height; ++y) {
                const QByteArray packed = packBits(plane.mid(int(y) * bpr, bpr));
                counts +=
                    version == 2 ? be32(quint32(packed.size())) : be16(quint16(packed.size()));
                rows += packed;
            }
        }
        return out + counts + rows;
    }
};

// A layer section whose layer count is negative: the merged picture has transparency.
inline QByteArray layersWithMergedAlpha(bool psb)
{
    QByteArray info = be16(quint16(-1)) + QByteArray(2, 0);
    return (psb ? be64(quint64(info.size())) : be32(quint32(info.size()))) + info;
}

// One additional-layer-information block of a layer record, padded to an even length.
inline QByteArray layerInfoBlock(const char *key, const QByteArray &data)
{
    QByteArray b = "8BIM" + QByteArray(key, 4) + be32(quint32(data.size())) + data;
    if (data.size() % 2) b.append('\0');
    return b;
}

// Section-divider types: a group's own record (open or closed) and the marker below its
// members.
enum GroupMarker : quint32 { OpenGroup = 1, ClosedGroup = 2, GroupEnd = 3 };

inline QByteArray groupMarker(GroupMarker type)
{
    return layerInfoBlock("lsct", be32(type));
}

inline QByteArray fillOpacityBlock(quint8 fill)
{
    return layerInfoBlock("iOpa", QByteArray(1, char(fill)) + QByteArray(3, 0));
}

// Action descriptors, as fill, adjustment and effect blocks hold them. Each value is its
// four-character type followed by its data; an item is a key and a value.
namespace desc {

inline QByteArray key(const char *k)
{
    const QByteArray b(k);
    return b.size() == 4 ? be32(0) + b : be32(quint32(b.size())) + b;
}

inline QByteArray unicode(const QString &s)
{
    QByteArray b = be32(quint32(s.size() + 1));
    for (QChar c : s)
        b += be16(c.unicode());
    return b + be16(0);
}

inline QByteArray doubleBits(double v)
{
    quint64 bits = 0;
    memcpy(&bits, &v, 8);
    return be64(bits);
}

inline QByteArray item(const char *k, const QByteArray &value)
{
    return key(k) + value;
}

// The body of a descriptor: name, class and items.
inline QByteArray body(const char *classId, const QVector<QByteArray> &items)
{
    QByteArray b = unicode(QString()) + key(classId) + be32(quint32(items.size()));
    for (const QByteArray &i : items)
        b += i;
    return b;
}

inline QByteArray doub(double v)
{
    return "doub" + doubleBits(v);
}
inline QByteArray unitFloat(const char *unit, double v)
{
    return "UntF" + QByteArray(unit, 4) + doubleBits(v);
}
inline QByteArray integer(qint32 v)
{
    return "long" + be32(quint32(v));
}
inline QByteArray boolean(bool v)
{
    return "bool" + QByteArray(1, char(v ? 1 : 0));
}
inline QByteArray enumerated(const char *type, const char *value)
{
    return "enum" + key(type) + key(value);
}
inline QByteArray text(const QString &s)
{
    return "TEXT" + unicode(s);
}
inline QByteArray object(const char *classId, const QVector<QByteArray> &items)
{
    return "Objc" + body(classId, items);
}
inline QByteArray list(const QVector<QByteArray> &values)
{
    QByteArray b = "VlLs" + be32(quint32(values.size()));
    for (const QByteArray &v : values)
        b += v;
    return b;
}

inline QByteArray rgb(int r, int g, int b)
{
    return object("RGBC", {item("Rd  ", doub(r)), item("Grn ", doub(g)), item("Bl  ", doub(b))});
}

// A version word of 16, then the descriptor.
inline QByteArray versioned(const char *classId, const QVector<QByteArray> &items)
{
    return be32(16) + body(classId, items);
}

} // namespace desc

inline QByteArray solidFillBlock(int r, int g, int b)
{
    return layerInfoBlock("SoCo",
                          desc::versioned("null", {desc::item("Clr ", desc::rgb(r, g, b))}));
}

// A gradient stop: place 0 to 4096, midpoint percent, colour.
struct ColourStop
{
    int at, mid, r, g, b;
};
struct OpacityStop
{
    int at, mid;
    double percent;
};

inline QByteArray gradientObject(const QVector<ColourStop> &colours,
                                 const QVector<OpacityStop> &opacities)
{
    using namespace desc;
    QVector<QByteArray> c, t;
    for (const ColourStop &s : colours)
        c.append(object("Clrt",
                        {item("Clr ", rgb(s.r, s.g, s.b)), item("Type", enumerated("Clry", "UsrS")),
                         item("Lctn", integer(s.at)), item("Mdpn", integer(s.mid))}));
    for (const OpacityStop &s : opacities)
        t.append(object("TrnS", {item("Opct", unitFloat("#Prc", s.percent)),
                                 item("Lctn", integer(s.at)), item("Mdpn", integer(s.mid))}));
    return object("Grdn", {item("Nm  ", text("G")), item("GrdF", enumerated("GrdF", "CstS")),
                           item("Intr", doub(4096)), item("Clrs", list(c)), item("Trns", list(t))});
}

// A gradient fill: type "Lnr ", "Rdl ", "Angl", "Rflc" or "Dmnd".
inline QByteArray gradientFillBlock(const char *type, double angle,
                                    const QVector<ColourStop> &colours,
                                    const QVector<OpacityStop> &opacities = {},
                                    bool reverse = false, double scale = 100)
{
    using namespace desc;
    return layerInfoBlock(
        "GdFl",
        versioned("null",
                  {item("Dthr", boolean(false)), item("Rvrs", boolean(reverse)),
                   item("Angl", unitFloat("#Ang", angle)), item("Type", enumerated("GrdT", type)),
                   item("Algn", boolean(true)), item("Scl ", unitFloat("#Prc", scale)),
                   item("Ofst", object("Pnt ", {item("Hrzn", unitFloat("#Prc", 0)),
                                                item("Vrtc", unitFloat("#Prc", 0))})),
                   item("Grad", gradientObject(colours, opacities))}));
}

// A document-wide 'Patt' block holding one RGB pattern of 8-bit raw channels, and the
// pattern fill that names it. The block goes after the layer section's global mask.
inline QByteArray patternsBlock(const QByteArray &id, const QImage &tile)
{
    const int w = tile.width(), h = tile.height();
    const QByteArray rect = be32(0) + be32(0) + be32(quint32(h)) + be32(quint32(w));
    QByteArray arrays;
    for (int c = 0; c < 3; ++c) {
        QByteArray samples;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb p = tile.pixel(x, y);
                samples.append(char(c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p)));
            }
        const QByteArray body = be32(8) + rect + be16(8) + QByteArray(1, 0) + samples;
        arrays += be32(1) + be32(quint32(body.size())) + body;
    }
    arrays += be32(0) + be32(0); // no transparency, no sheet mask
    const QByteArray list = rect + be32(3) + arrays;
    QByteArray pattern = be32(1) + be32(3) + be16(quint16(h)) + be16(quint16(w)) +
                         desc::unicode("P") + char(id.size()) + id + be32(3) +
                         be32(quint32(list.size())) + list;
    while (pattern.size() % 4)
        pattern.append('\0');
    const QByteArray data = be32(quint32(pattern.size())) + pattern;
    return "8BIMPatt" + be32(quint32(data.size())) + data;
}

inline QByteArray patternFillBlock(const QByteArray &id, double scale = 100, double phaseX = 0,
                                   double phaseY = 0)
{
    using namespace desc;
    return layerInfoBlock(
        "PtFl",
        versioned("null",
                  {item("Ptrn", object("Ptrn", {item("Nm  ", text("P")),
                                                item("Idnt", text(QString::fromLatin1(id)))})),
                   item("Scl ", unitFloat("#Prc", scale)), item("Algn", boolean(true)),
                   item("phase", object("Pnt ", {item("Hrzn", doub(phaseX)),
                                                 item("Vrtc", doub(phaseY))}))}));
}

// Layer effects: an 'lfx2' block with the given effect objects (key and items each).
inline QByteArray effectsBlock(const QVector<QPair<const char *, QVector<QByteArray>>> &effects,
                               bool on = true)
{
    using namespace desc;
    QVector<QByteArray> items = {item("Scl ", unitFloat("#Prc", 100)),
                                 item("masterFXSwitch", boolean(on))};
    for (const auto &e : effects)
        items.append(item(e.first, object(e.first, e.second)));
    return layerInfoBlock("lfx2", be32(0) + versioned("null", items));
}

// One level record: input floor, ceiling, output floor, ceiling, gamma times 100.
struct LevelRecord
{
    int inLow = 0, inHigh = 255, outLow = 0, outHigh = 255, gamma = 100;
};

inline QByteArray levelsBlock(const QVector<LevelRecord> &records)
{
    QByteArray b = be16(2);
    for (int i = 0; i < 29; ++i) {
        const LevelRecord r = i < records.size() ? records[i] : LevelRecord();
        b += be16(quint16(r.inLow)) + be16(quint16(r.inHigh)) + be16(quint16(r.outLow)) +
             be16(quint16(r.outHigh)) + be16(quint16(r.gamma));
    }
    return layerInfoBlock("levl", b);
}

// Curves: for each channel (composite, red, green, blue) its points (input, output); an
// empty list leaves the channel out.
inline QByteArray curvesBlock(const QVector<QVector<QPoint>> &channels)
{
    quint32 present = 0;
    QByteArray points;
    for (int c = 0; c < channels.size(); ++c) {
        if (channels[c].isEmpty()) continue;
        present |= 1u << c;
        points += be16(quint16(channels[c].size()));
        for (const QPoint &p : channels[c])
            points += be16(quint16(p.y())) + be16(quint16(p.x()));
    }
    return layerInfoBlock("curv", QByteArray(1, 0) + be16(1) + be32(present) + points);
}

inline QByteArray shorts(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b += be16(quint16(qint16(v)));
    return b;
}

// Path records of a vector mask: each subpath a closed polygon of points given as fractions
// of the document (x, y), its knots' control points on their anchors.
inline QByteArray vectorMaskBlock(const QVector<QVector<QPointF>> &subpaths, quint32 flags = 0,
                                  bool startsFilled = false)
{
    const auto fixed = [](double v) { return be32(quint32(qint32(qRound(v * (1 << 24))))); };
    QByteArray b = be32(3) + be32(flags);
    b += be16(6) + QByteArray(24, 0);                              // fill rule
    b += be16(8) + be16(startsFilled ? 1 : 0) + QByteArray(22, 0); // initial fill
    for (const auto &path : subpaths) {
        b += be16(0) + be16(quint16(path.size())) + QByteArray(22, 0);
        for (const QPointF &p : path) {
            const QByteArray point = fixed(p.y()) + fixed(p.x());
            b += be16(2) + point + point + point;
        }
    }
    return layerInfoBlock("vmsk", b);
}

// One layer: its record and its channels' samples (raw rows of the layer's bounds, or of
// the mask's rectangle for the user mask, id -2).
struct Layer
{
    qint32 top = 0, left = 0, bottom = 0, right = 0;
    QVector<QPair<qint16, QByteArray>> channels;
    QByteArray blendMode = "norm";
    quint8 opacity = 255;
    bool clipped = false;
    bool hidden = false;
    quint16 compression = 0; // of every channel: 0 raw, 1 run-length, 2 zip, 3 zip predicted
    bool hasMask = false;
    qint32 maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
    quint8 maskDefault = 0;
    bool maskDisabled = false;
    quint8 maskFlags = 0; // more flags of the mask record (0x08 vector, 0x10 parameters)
    QByteArray maskTail;  // what follows the flags in place of the padding
    QByteArray extra;     // additional-information blocks

    // A layer of one colour over its bounds, opaque unless alpha is given.
    static Layer filled(qint32 top, qint32 left, qint32 bottom, qint32 right,
                        std::initializer_list<int> colour, int alpha = -1)
    {
        Layer l;
        l.top = top, l.left = left, l.bottom = bottom, l.right = right;
        const int n = (bottom - top) * (right - left);
        qint16 id = 0;
        for (int c : colour)
            l.channels.append({id++, QByteArray(n, char(c))});
        if (alpha >= 0) l.channels.append({-1, QByteArray(n, char(alpha))});
        return l;
    }
};

// Zlib data of bytes, as deflate makes them.
inline QByteArray zlibData(const QByteArray &bytes)
{
    uLongf size = compressBound(uLong(bytes.size()));
    QByteArray out(int(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef *>(out.data()), &size,
              reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size()), 6);
    out.resize(int(size));
    return out;
}

// Rows of samples of `depth` bits with each sample replaced by its difference from the one
// on its left; 32-bit rows hold the first bytes of every sample, then the second, and so on,
// and each byte then differs from the byte before.
inline QByteArray predicted(const QByteArray &samples, int rows, int depth)
{
    QByteArray out = samples;
    if (rows <= 0) return out;
    const int rowBytes = samples.size() / rows, bytes = depth / 8, width = rowBytes / bytes;
    for (int y = 0; y < rows; ++y) {
        auto *row = reinterpret_cast<uchar *>(out.data()) + y * rowBytes;
        const auto *in = reinterpret_cast<const uchar *>(samples.constData()) + y * rowBytes;
        if (bytes == 1) {
            for (int x = width - 1; x > 0; --x)
                row[x] = uchar(in[x] - in[x - 1]);
        } else if (bytes == 2) {
            for (int x = width - 1; x > 0; --x)
                qToBigEndian(quint16(qFromBigEndian<quint16>(in + 2 * x) -
                                     qFromBigEndian<quint16>(in + 2 * x - 2)),
                             row + 2 * x);
        } else {
            QByteArray planes(rowBytes, 0);
            for (int x = 0; x < width; ++x)
                for (int b = 0; b < 4; ++b)
                    planes[b * width + x] = char(in[4 * x + b]);
            for (int i = rowBytes - 1; i >= 0; --i)
                row[i] = uchar(uchar(planes[i]) - (i > 0 ? uchar(planes[i - 1]) : 0));
        }
    }
    return out;
}

// The bytes of one channel as a layer stores them: compression word, then data.
inline QByteArray layerChannelData(const QByteArray &samples, quint16 compression, int rows,
                                   bool psb, int depth = 8)
{
    QByteArray out = be16(compression);
    if (compression == 2) return out + zlibData(samples);
    if (compression == 3) return out + zlibData(predicted(samples, rows, depth));
    if (compression != 1 || rows <= 0) return out + samples;
    const int rowBytes = samples.size() / rows;
    QByteArray counts, data;
    for (int y = 0; y < rows; ++y) {
        const QByteArray packed = packBits(samples.mid(y * rowBytes, rowBytes));
        counts += psb ? be32(quint32(packed.size())) : be16(quint16(packed.size()));
        data += packed;
    }
    return out + counts + data;
}

// The layer information of these layers, bottom first: count, records, channel data.
inline QByteArray layerInfo(const QVector<Layer> &layers, bool psb = false,
                            bool mergedAlpha = false, int depth = 8)
{
    QByteArray records, data;
    for (const Layer &l : layers) {
        records += be32(quint32(l.top)) + be32(quint32(l.left)) + be32(quint32(l.bottom)) +
                   be32(quint32(l.right)) + be16(quint16(l.channels.size()));
        for (const auto &channel : l.channels) {
            const bool mask = channel.first == -2;
            const int rows = mask ? l.maskBottom - l.maskTop : l.bottom - l.top;
            const QByteArray bytes =
                layerChannelData(channel.second, l.compression, rows, psb, depth);
            records += be16(quint16(channel.first)) +
                       (psb ? be64(quint64(bytes.size())) : be32(quint32(bytes.size())));
            data += bytes;
        }
        QByteArray extra;
        if (l.hasMask)
            extra += be32(l.maskTail.isEmpty() ? 20 : quint32(18 + l.maskTail.size())) +
                     be32(quint32(l.maskTop)) + be32(quint32(l.maskLeft)) +
                     be32(quint32(l.maskBottom)) + be32(quint32(l.maskRight)) +
                     char(l.maskDefault) + char((l.maskDisabled ? 2 : 0) | l.maskFlags) +
                     (l.maskTail.isEmpty() ? QByteArray(2, 0) : l.maskTail);
        else
            extra += be32(0);
        extra += be32(0);                    // blending ranges
        extra += QByteArray("\x01L\0\0", 4); // the name "L", padded to four bytes
        extra += l.extra;
        records += "8BIM" + l.blendMode.left(4) + char(l.opacity) + char(l.clipped ? 1 : 0) +
                   char(0x08 | (l.hidden ? 0x02 : 0)) + char(0) + be32(quint32(extra.size())) +
                   extra;
    }
    const qint16 count = qint16(mergedAlpha ? -layers.size() : layers.size());
    QByteArray info = be16(quint16(count)) + records + data;
    if (info.size() % 2) info.append('\0');
    return info;
}

// The content of a layer-and-mask section holding these layers, bottom first.
inline QByteArray layerSection(const QVector<Layer> &layers, bool psb = false,
                               bool mergedAlpha = false)
{
    const QByteArray info = layerInfo(layers, psb, mergedAlpha);
    return (psb ? be64(quint64(info.size())) : be32(quint32(info.size()))) + info + be32(0);
}

// The same for a document of 16 or 32 bits: an empty layer information, and the layers in
// the section's Lr16 or Lr32 block.
inline QByteArray deepLayerSection(const QVector<Layer> &layers, int depth, bool psb = false)
{
    const QByteArray info = layerInfo(layers, psb, false, depth);
    const QByteArray key = depth == 32 ? "Lr32" : "Lr16";
    return (psb ? be64(0) : be32(0)) + be32(0) + "8BIM" + key +
           (psb ? be64(quint64(info.size())) : be32(quint32(info.size()))) + info;
}

// The version information resource (1057): whether the merged picture is the real one.
inline QByteArray versionInfoResource(bool realMergedData)
{
    return resourceBlock(1057,
                         be32(1) + char(realMergedData ? 1 : 0) + be32(0) + be32(0) + be32(1));
}

// One plane of 8-bit samples from a list, or of 16-bit big-endian samples.
inline QByteArray plane8(std::initializer_list<int> samples)
{
    QByteArray b;
    for (int s : samples)
        b.append(char(s));
    return b;
}

inline QByteArray plane16(std::initializer_list<int> samples)
{
    QByteArray b;
    for (int s : samples)
        b += be16(quint16(s));
    return b;
}

} // namespace psdtest
