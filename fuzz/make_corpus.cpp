// Writes the fuzzers' seed corpus into the folder given as the only argument: one small
// document per colour mode, depth, channel count and compression, PSD and PSB, some with
// a thumbnail resource, and documents saved without a merged picture, whose layers (with
// groups, masks, clipping, blend modes, fills, adjustments and vector masks) make the picture.
#include "PsdTestDocument.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace psdtest;

int main(int argc, char **argv)
{
    if (argc != 2 || !QDir().mkpath(QString::fromLocal8Bit(argv[1]))) return 1;
    const QDir out(QString::fromLocal8Bit(argv[1]));

    struct Row
    {
        quint16 mode, depth, channels;
    };
    const Row rows[] = {{0, 1, 1},  {1, 8, 1}, {1, 8, 2},  {1, 16, 1}, {1, 16, 2}, {2, 8, 1},
                        {3, 8, 3},  {3, 8, 4}, {3, 16, 3}, {3, 16, 4}, {4, 8, 4},  {4, 8, 5},
                        {4, 16, 5}, {7, 8, 3}, {8, 8, 1},  {9, 8, 3},  {9, 16, 4}};
    QImage thumb(8, 6, QImage::Format_RGB32);
    thumb.fill(qRgb(10, 200, 30));
    int written = 0;
    for (const Row &r : rows) {
        for (quint16 version : {1, 2}) {
            for (quint16 compression : {0, 1}) {
                Document d;
                d.version = version;
                d.mode = r.mode;
                d.depth = r.depth;
                d.channels = r.channels;
                d.width = 8;
                d.height = 3;
                d.compression = compression;
                if (r.mode == 2) d.colourModeData = QByteArray(768, 7);
                if (compression == 1) d.resources = thumbnailResource(thumb);
                if (r.channels == 4 && r.mode == 3) d.layers = layersWithMergedAlpha(version == 2);
                for (int c = 0; c < r.channels; ++c) {
                    QByteArray plane;
                    for (quint64 i = 0; i < d.rowBytes() * d.height; ++i)
                        plane.append(char((i * 37 + quint64(c) * 11) % 251));
                    d.planes << plane;
                }
                QFile f(out.filePath(QStringLiteral("m%1-d%2-c%3-v%4-z%5.psd")
                                         .arg(r.mode)
                                         .arg(r.depth)
                                         .arg(r.channels)
                                         .arg(version)
                                         .arg(compression)));
                if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return 1;
                ++written;
            }
        }
    }

    // Merged picture all white: the layers are composed.
    for (quint16 mode : {1, 3}) {
        for (quint16 version : {1, 2}) {
            for (quint16 compression : {0, 1}) {
                const auto layer = [&](qint32 top, qint32 left, qint32 bottom, qint32 right,
                                       int value, int alpha) {
                    Layer l = Layer::filled(top, left, bottom, right,
                                            mode == 3 ? std::initializer_list<int>{value, 20, 90}
                                                      : std::initializer_list<int>{value},
                                            alpha);
                    l.compression = compression;
                    return l;
                };
                Layer masked = layer(-2, 1, 5, 12, 40, 200);
                masked.hasMask = true;
                masked.maskTop = 0, masked.maskLeft = 2, masked.maskBottom = 2,
                masked.maskRight = 6;
                masked.maskDefault = 255;
                masked.channels.append({-2, QByteArray(8, char(100))});
                masked.blendMode = "mul ";
                Layer clippedLayer = layer(0, 0, 3, 8, 200, -1);
                clippedLayer.clipped = true;
                clippedLayer.blendMode = "over";
                clippedLayer.extra = fillOpacityBlock(128);
                Layer groupEnd, group;
                groupEnd.extra = groupMarker(GroupEnd);
                group.extra = groupMarker(OpenGroup);
                group.opacity = 200;
                Document d;
                d.version = version;
                d.mode = mode;
                d.channels = mode == 3 ? 3 : 1;
                d.width = 8;
                d.height = 3;
                d.compression = compression;
                for (int c = 0; c < d.channels; ++c)
                    d.planes << QByteArray(24, char(255));
                d.layers = layerSection({layer(0, 0, 3, 8, 10, -1), groupEnd, masked,
                                         layer(1, 1, 2, 4, 70, 128), clippedLayer, group},
                                        version == 2);
                QFile f(out.filePath(QStringLiteral("layers-m%1-v%2-z%3.psd")
                                         .arg(mode)
                                         .arg(version)
                                         .arg(compression)));
                if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return 1;
                ++written;
            }
        }
    }
    // Layer records that reach every part of the composer: zip channels with and without
    // prediction, 16 and 32-bit layers in Lr16 and Lr32, CMYK and Lab layers, isolated and
    // knockout groups, clipping to a group, every blend mode, a group nested deeply, and a
    // record whose zip data claim far more than they hold.
    const auto write = [&](const QString &name, const Document &d) {
        QFile f(out.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return false;
        ++written;
        return true;
    };
    static const char *const kModes[] = {"norm", "diss", "dark", "mul ", "idiv", "lbrn", "dkCl",
                                         "lite", "scrn", "div ", "lddg", "lgCl", "over", "sLit",
                                         "hLit", "vLit", "lLit", "pLit", "hMix", "diff", "smud",
                                         "fsub", "fdiv", "hue ", "sat ", "colr", "lum "};
    const auto flatLayer = [](int colours, int depth, int v, quint16 compression) {
        Layer l;
        l.bottom = 3;
        l.right = 8;
        l.compression = compression;
        const QByteArray sample = depth == 8    ? QByteArray(1, char(v))
                                  : depth == 16 ? be16(quint16(v * 257))
                                                : be32(0x3f000000u + quint32(v));
        for (int c = 0; c < colours; ++c)
            l.channels.append({qint16(c), sample.repeated(24)});
        l.channels.append({-1, sample.repeated(24)});
        return l;
    };
    const auto marker = [](GroupMarker type, const char *mode = "pass") {
        Layer l;
        l.blendMode = mode;
        l.extra = layerInfoBlock("lsct", be32(type) + "8BIM" + QByteArray(mode, 4));
        return l;
    };
    struct Deep
    {
        quint16 mode, depth, colours;
    };
    for (const Deep &deep : {Deep{3, 16, 3}, Deep{3, 32, 3}, Deep{1, 16, 1}, Deep{4, 8, 4},
                             Deep{4, 16, 4}, Deep{9, 8, 3}, Deep{9, 16, 3}}) {
        for (quint16 compression : {2, 3}) {
            QVector<Layer> layers = {flatLayer(deep.colours, deep.depth, 40, compression),
                                     marker(GroupEnd)};
            for (int i = 0; i < 4; ++i) {
                Layer l = flatLayer(deep.colours, deep.depth, 60 * i, compression);
                l.blendMode = kModes[(i * 7 + compression) % 27];
                if (i == 2)
                    l.extra = layerInfoBlock("knko", be32(0x01000000)) + fillOpacityBlock(0);
                layers.append(l);
            }
            layers.append(marker(OpenGroup, "norm"));
            Layer clippedToGroup = flatLayer(deep.colours, deep.depth, 200, compression);
            clippedToGroup.clipped = true;
            clippedToGroup.extra = layerInfoBlock("clbl", be32(0));
            layers.append(clippedToGroup);
            Document d;
            d.mode = deep.mode;
            d.depth = deep.depth;
            d.channels = deep.colours;
            d.width = 8;
            d.height = 3;
            d.resources = versionInfoResource(false);
            for (int c = 0; c < d.channels; ++c)
                d.planes << QByteArray(24 * deep.depth / 8, char(255));
            d.layers =
                deep.depth == 8 ? layerSection(layers) : deepLayerSection(layers, deep.depth);
            if (!write(QStringLiteral("composed-m%1-d%2-z%3.psd")
                           .arg(deep.mode)
                           .arg(deep.depth)
                           .arg(compression),
                       d))
                return 1;
        }
    }
    Document nested;
    nested.width = 8;
    nested.height = 3;
    nested.resources = versionInfoResource(false);
    for (int c = 0; c < 3; ++c)
        nested.planes << QByteArray(24, char(255));
    QVector<Layer> deepGroups;
    for (int i = 0; i < 80; ++i)
        deepGroups.append(marker(GroupEnd));
    deepGroups.append(flatLayer(3, 8, 90, 3));
    for (int i = 0; i < 80; ++i)
        deepGroups.append(marker(OpenGroup, kModes[i % 27]));
    nested.layers = layerSection(deepGroups);
    if (!write(QStringLiteral("composed-nested.psd"), nested)) return 1;
    Layer liar = flatLayer(3, 8, 90, 2);
    liar.bottom = 30000;
    liar.right = 30000;
    nested.layers = layerSection({liar});
    if (!write(QStringLiteral("composed-zip-claims-too-much.psd"), nested)) return 1;

    // Fill and adjustment layers, and vector masks: descriptors, binary settings and path
    // records for the fuzzers to mutate.
    const QVector<QVector<QPointF>> shape = {{{0.1, 0.2}, {0.9, 0.1}, {0.5, 0.95}}};
    const QByteArray settings[] = {
        solidFillBlock(30, 60, 90),
        gradientFillBlock("Lnr ", 30, {{0, 30, 0, 0, 0}, {4096, 50, 255, 200, 0}},
                          {{0, 50, 100}, {4096, 50, 20}}),
        gradientFillBlock("Rdl ", 90,
                          {{0, 50, 9, 9, 9}, {2000, 60, 80, 0, 0}, {4096, 50, 0, 0, 255}}),
        gradientFillBlock("Angl", 45, {{0, 50, 0, 0, 0}, {4096, 50, 255, 255, 255}}, {}, true, 70),
        levelsBlock({{10, 240, 5, 250, 120}, {20, 200, 0, 255, 90}}),
        curvesBlock({{{0, 0}, {100, 140}, {255, 255}}, {}, {{0, 255}, {255, 0}}}),
        layerInfoBlock("nvrt", QByteArray()),
        layerInfoBlock("post", shorts({4, 0})),
        layerInfoBlock("thrs", shorts({100, 0})),
        layerInfoBlock("brit", shorts({20, 30, 127, 0}) + QByteArray(1, 0)),
        layerInfoBlock("hue2", shorts({2, 0, 0, 0, 0, 30, 20, -10, 315, 345, 15, 45, 10, 0, 0})),
        layerInfoBlock("blnc", shorts({10, 0, -20, 30, 0, 0, 0, 40, 0}) + QByteArray(1, 1)),
        layerInfoBlock("mixr", shorts({1, 0,  80, 20, 0, 0, 5, 0, 100, 0, 0,
                                       0, 10, 0,  90, 0, 0, 0, 0, 0,   0, 0})),
        layerInfoBlock("selc",
                       shorts({1, 0, 0, 0, 0, 0, 50, -20, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0,  0,   0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
        layerInfoBlock("expA", be16(1) + be32(0x3f000000) + be32(0) + be32(0x3f800000)),
        layerInfoBlock("vibA", desc::versioned("null", {desc::item("vibrance", desc::integer(40)),
                                                        desc::item("Strt", desc::integer(-10))})),
        layerInfoBlock("phfl", be16(2) + be16(0) + be16(65535) + be16(30000) + be16(0) + be16(0) +
                                   be32(60) + char(1)),
        vectorMaskBlock(shape),
        vectorMaskBlock(shape, 1, true),
        effectsBlock(
            {{"DrSh",
              {desc::item("enab", desc::boolean(true)), desc::item("Clr ", desc::rgb(0, 0, 0)),
               desc::item("lagl", desc::unitFloat("#Ang", 120)),
               desc::item("Dstn", desc::unitFloat("#Pxl", 2)),
               desc::item("blur", desc::unitFloat("#Pxl", 3))}},
             {"FrFX",
              {desc::item("enab", desc::boolean(true)), desc::item("Clr ", desc::rgb(9, 9, 200)),
               desc::item("Styl", desc::enumerated("FStl", "CtrF")),
               desc::item("Sz  ", desc::unitFloat("#Pxl", 2))}},
             {"SoFi",
              {desc::item("enab", desc::boolean(true)), desc::item("Clr ", desc::rgb(200, 9, 9)),
               desc::item("Opct", desc::unitFloat("#Prc", 40))}}}),
    };
    int n = 0;
    for (const QByteArray &block : settings) {
        Layer base = Layer::filled(0, 0, 3, 8, {200, 100, 50});
        Layer top;
        top.extra = block;
        top.opacity = 200;
        if (block.mid(4, 4) == "vmsk" || block.mid(4, 4) == "lfx2") {
            top = Layer::filled(0, 1, 3, 7, {10, 250, 10});
            top.extra = block;
        }
        top = Layer::filled(0, 1, 3, 7, {10, 250, 10}), top.extra = block;
        Document d;
        d.width = 8;
        d.height = 3;
        for (int c = 0; c < 3; ++c)
            d.planes << QByteArray(24, char(255));
        d.layers = layerSection({base, top});
        QFile f(out.filePath(QStringLiteral("settings-%1.psd").arg(n++)));
        if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return 1;
        ++written;
    }
    {
        // A pattern fill and the document-wide pattern block it names.
        QImage tile(3, 2, QImage::Format_RGB32);
        tile.fill(qRgb(40, 90, 200));
        tile.setPixel(1, 1, qRgb(250, 10, 10));
        Layer fill;
        fill.extra = patternFillBlock("seed", 150, 1, 2);
        Document d;
        d.width = 8;
        d.height = 3;
        for (int c = 0; c < 3; ++c)
            d.planes << QByteArray(24, char(255));
        d.layers = layerSection({Layer::filled(0, 0, 3, 8, {1, 2, 3}), fill});
        d.layers.chop(4);
        d.layers += be32(0) + patternsBlock("seed", tile);
        QFile f(out.filePath(QStringLiteral("settings-pattern.psd")));
        if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return 1;
        ++written;
    }
    std::printf("%d seed documents in %s\n", written, argv[1]);
    return 0;
}
