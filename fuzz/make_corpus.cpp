// Writes the fuzzers' seed corpus into the folder given as the only argument: one small
// document per colour mode, depth, channel count and compression, PSD and PSB, some with
// a thumbnail resource, and documents saved without a merged picture, whose layers (with
// groups, masks, clipping and blend modes) make the picture.
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
    std::printf("%d seed documents in %s\n", written, argv[1]);
    return 0;
}
