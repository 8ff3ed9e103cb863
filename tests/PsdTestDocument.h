#pragma once

// Builds Photoshop documents byte by byte for the tests, the fuzz corpus and the benchmark.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QVector>
#include <QtEndian>

#include <zlib.h>

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
    QByteArray extra; // additional-information blocks

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
            extra += be32(20) + be32(quint32(l.maskTop)) + be32(quint32(l.maskLeft)) +
                     be32(quint32(l.maskBottom)) + be32(quint32(l.maskRight)) +
                     char(l.maskDefault) + char(l.maskDisabled ? 2 : 0) + QByteArray(2, 0);
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
