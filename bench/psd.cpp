// Full decode of Photoshop documents through QImageReader, side by side with ImageMagick,
// and the quick preview of a large document. Every measurement runs in a child process of
// its own, so that its peak resident size (ru_maxrss from wait4) is its alone.

#include "Measure.h"
#include "PsdTestDocument.h"

#include "formats/PsdPreview.h"
#include "platform/LargePages.h"

#include <Magick++.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

using namespace psdtest;

namespace {

// Flushes a written document to the disk, so that its write-back does not run during the
// measurements that follow and slow whichever of them it meets.
bool settled(QFile &file)
{
    return file.flush() && ::fsync(file.handle()) == 0 && file.error() == QFile::NoError;
}

// One row of one channel of a photo-like picture: flat areas that PackBits shortens,
// gradients with grain that it must keep as literals.
QByteArray pictureRow(quint32 width, quint32 y, int channel)
{
    QByteArray row(int(width), Qt::Uninitialized);
    quint32 seed = y * 2654435761u + quint32(channel) * 40503u;
    for (quint32 x = 0; x < width; ++x) {
        if ((x / 700 + y / 500) % 3 == 0) {
            row[int(x)] = char(60 + channel * 50);
        } else {
            seed = seed * 1664525u + 1013904223u;
            row[int(x)] = char((x / 16 + y / 12 + channel * 70 + (seed >> 29)) & 0xff);
        }
    }
    return row;
}

// Writes an 8-bit RGB run-length document row by row; the row counts are written last,
// so that no plane is ever held whole.
bool writeDocument(const QString &path, quint32 width, quint32 height, quint16 mode = 3,
                   int channels = 3)
{
    Document d;
    d.width = width;
    d.height = height;
    d.mode = mode;
    d.channels = quint16(channels);
    d.compression = 1;
    QImage thumb(160, 107, QImage::Format_RGB32);
    thumb.fill(qRgb(90, 120, 150));
    d.resources = thumbnailResource(thumb);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(d.header() + be32(0) + be32(quint32(d.resources.size())) + d.resources + be32(0) +
               be16(1));
    const qint64 countsAt = file.pos();
    QByteArray counts;
    file.write(QByteArray(int(channels * height * 2), 0));
    for (int c = 0; c < channels; ++c) {
        for (quint32 y = 0; y < height; ++y) {
            const QByteArray packed = packBits(pictureRow(width, y, c));
            counts += be16(quint16(packed.size()));
            file.write(packed);
        }
    }
    file.seek(countsAt);
    file.write(counts);
    return settled(file);
}

// A flat 8-bit RGB run-length document without a thumbnail: every row packs to the same
// few hundred bytes, so a large one is cheap to write.
bool writeFlatDocument(const QString &path, quint32 side)
{
    Document d;
    d.width = side;
    d.height = side;
    d.compression = 1;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(d.header() + be32(0) + be32(0) + be32(0) + be16(1));
    QByteArray packed[3], counts;
    for (int c = 0; c < 3; ++c) {
        packed[c] = packBits(QByteArray(int(side), char(60 + 70 * c)));
        for (quint32 y = 0; y < side; ++y)
            counts += be16(quint16(packed[c].size()));
    }
    file.write(counts);
    for (int c = 0; c < 3; ++c)
        for (quint32 y = 0; y < side; ++y)
            file.write(packed[c]);
    return file.error() == QFile::NoError;
}

// A 30000 x 30000 raw RGB document that holds only 14 MB of image data.
bool writeShortRawDocument(const QString &path)
{
    Document d;
    d.width = 30000;
    d.height = 30000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(d.header() + be32(0) + be32(0) + be32(0) + be16(0));
    file.write(QByteArray(14 << 20, char(90)));
    return file.error() == QFile::NoError;
}

// A 4000 x 3000 document of 100 layers saved without its merged picture (a blank one in its
// place): layers of 1600 x 1200 with transparency, zip-compressed with prediction, spread
// over the canvas, in a dozen blend modes, every tenth group of ten layers isolated.
bool writeLayeredDocument(const QString &path)
{
    const int width = 4000, height = 3000, lw = 1600, lh = 1200;
    QByteArray colour[4];
    for (int c = 0; c < 4; ++c) {
        colour[c].resize(lw * lh);
        for (int y = 0; y < lh; ++y)
            for (int x = 0; x < lw; ++x)
                colour[c][y * lw + x] = char(c == 3 ? (x + y) % 256 : (x / 4 + y / 3 + c * 80));
    }
    static const char *const kModes[] = {"norm", "mul ", "scrn", "over", "sLit", "diff",
                                         "colr", "lum ", "lddg", "dark", "hLit", "pLit"};
    QVector<Layer> layers;
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 0)
            layers.append([] {
                Layer end;
                end.extra = groupMarker(GroupEnd);
                return end;
            }());
        Layer l;
        l.top = (i * 137) % (height - lh);
        l.left = (i * 311) % (width - lw);
        l.bottom = l.top + lh;
        l.right = l.left + lw;
        l.compression = 3;
        l.blendMode = kModes[i % 12];
        l.opacity = quint8(160 + i % 96);
        for (int c = 0; c < 3; ++c)
            l.channels.append({qint16(c), colour[(c + i) % 3]});
        l.channels.append({-1, colour[3]});
        layers.append(l);
        if (i % 10 == 9) {
            Layer group;
            group.blendMode = i % 20 == 9 ? "norm" : "pass";
            group.extra = layerInfoBlock("lsct", be32(OpenGroup) + "8BIM" + group.blendMode);
            layers.append(group);
        }
    }
    Document d;
    d.width = width;
    d.height = height;
    d.compression = 1;
    d.resources = versionInfoResource(false);
    d.layers = layerSection(layers);
    for (int c = 0; c < 3; ++c)
        d.planes.append(QByteArray(width * height, char(255)));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(d.build());
    return settled(file);
}

void printRow(const char *what, const char *size, const Measurement &m, double pictureMb)
{
    const double peak = m.peakKiB / 1024.0, grown = m.grownKiB() / 1024.0;
    std::printf("| %-26s | %-11s | %9.3f | %9.0f | %9.0f | %6.2f |\n", what, size,
                m.ok ? m.seconds : -1.0, peak, grown, pictureMb > 0 ? grown / pictureMb : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    Magick::InitializeMagick(argv[0]);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    struct Case
    {
        quint32 width, height;
        int runs; // the best of this many; the ratios swing with a busy host's noise
    };
    const Case cases[] = {{4000, 3000, 9}, {12000, 8000, 5}};

    // Each reader opens a small document before it is timed, so that what is measured is the
    // decode and not the loading of plug-ins and coders.
    const QString small = dir.filePath(QStringLiteral("small.psd"));
    if (!writeDocument(small, 64, 48)) return 1;
    const auto warmQt = [&] { QImageReader(small).read(); };
    const auto warmMagick = [&] {
        try {
            Magick::Image image;
            image.read(QFile::encodeName(small).toStdString());
        } catch (const std::exception &) {
        }
    };

    std::printf("| %-26s | %-11s | %9s | %9s | %9s | %6s |\n", "measurement", "size", "time (s)",
                "peak MB", "grown MB", "/ pic");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", "----------------------------", "-------------",
                "-----------", "-----------", "-----------", "--------");
    // Composing the layers of a document saved without its merged picture; with --layers,
    // only this.
    const QString layered = dir.filePath(QStringLiteral("layers-100.psd"));
    if (!writeLayeredDocument(layered)) return 1;
    const Measurement composed = measureBest(
        3, warmQt, [&] { return QImageReader(layered).read().size() == QSize(4000, 3000); });
    printRow("compose 100 layers (zip)", "4000x3000", composed, 4000.0 * 3000 * 4 / (1024 * 1024));
    if (argc > 1 && qstrcmp(argv[1], "--layers") == 0) return 0;
    double largeDecode = 0, largePreview = 0;
    for (const Case &c : cases) {
        const QString path =
            dir.filePath(QStringLiteral("bench-%1x%2.psd").arg(c.width).arg(c.height));
        if (!writeDocument(path, c.width, c.height)) return 1;
        const QByteArray size = QByteArray::number(c.width) + "x" + QByteArray::number(c.height);
        const double pictureMb = double(c.width) * c.height * 4 / (1024.0 * 1024.0);

        const Measurement qt = measureBest(c.runs, warmQt, [&] {
            QImageReader reader(path);
            const QImage image = reader.read();
            return image.width() == int(c.width) && image.height() == int(c.height);
        });
        printRow("QImageReader (picsage)", size.constData(), qt, pictureMb);

        const Measurement magick = measureBest(c.runs, warmMagick, [&] {
            try {
                Magick::Image image;
                image.read(QFile::encodeName(path).toStdString());
                return image.columns() == c.width && image.rows() == c.height;
            } catch (const std::exception &) {
                return false;
            }
        });
        printRow("ImageMagick Magick++", size.constData(), magick, pictureMb);

        const Measurement preview =
            measureBest(3, nullptr, [&] { return !psdPreviewBitmap(path).isNull(); });
        printRow("preview (thumbnail)", size.constData(), preview, 0);
        if (c.width == 12000) {
            largeDecode = qt.seconds;
            largePreview = preview.seconds;
        }

        // What a decode cannot beat: allocating and filling the output picture.
        const Measurement fill = measureBest(c.runs, nullptr, [&] {
            // Allocated as the decoder allocates its picture, with large pages advised.
            QImage image(int(c.width), int(c.height), QImage::Format_RGB32);
            platform::adviseLargePages(image.bits(), quint64(image.sizeInBytes()));
            image.fill(qRgb(1, 2, 3));
            return !image.isNull();
        });
        printRow("allocate + fill", size.constData(), fill, pictureMb);
        // What reading alone costs: the document's bytes copied out of the page cache in
        // pieces of the size the decoder reads, on one thread.
        const Measurement bytes = measureBest(c.runs, nullptr, [&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) return false;
            QByteArray piece(256 << 10, Qt::Uninitialized);
            qint64 total = 0, got;
            while ((got = file.read(piece.data(), piece.size())) > 0)
                total += got;
            return total == file.size();
        });
        printRow("read the document's bytes", size.constData(), bytes, 0);
        // The same picture in CMYK and Lab, converted after expansion.
        const QString cmykPath = dir.filePath(QStringLiteral("bench-cmyk.psd"));
        const QString labPath = dir.filePath(QStringLiteral("bench-lab.psd"));
        if (!writeDocument(cmykPath, c.width, c.height, 4, 4) ||
            !writeDocument(labPath, c.width, c.height, 9, 3))
            return 1;
        auto decodes = [&](const QString &file) {
            return [&c, file] {
                const QImage image = QImageReader(file).read();
                return image.width() == int(c.width) && image.height() == int(c.height);
            };
        };
        const Measurement cmyk = measureBest(c.runs, warmQt, decodes(cmykPath));
        printRow("QImageReader, CMYK", size.constData(), cmyk, pictureMb);
        const Measurement lab = measureBest(c.runs, warmQt, decodes(labPath));
        printRow("QImageReader, Lab", size.constData(), lab, pictureMb);
        auto ratio = [&](const char *what, double a, double b) {
            std::printf("| %-26s | %-11s | %9.2f | %9s | %9s | %6s |\n", what, size.constData(),
                        b > 0 ? a / b : 0.0, "", "", "");
        };
        ratio("ratio: rgb rle / fill", qt.seconds, fill.seconds);
        ratio("ratio: cmyk / rgb", cmyk.seconds, qt.seconds);
        ratio("ratio: lab / rgb", lab.seconds, qt.seconds);
    }

    // The preview of hostile documents: its memory must stay far below the picture's.
    const QString shortRaw = dir.filePath(QStringLiteral("short-raw.psd"));
    const QString flat = dir.filePath(QStringLiteral("flat-16000.psd"));
    if (!writeShortRawDocument(shortRaw) || !writeFlatDocument(flat, 16000)) return 1;
    const Measurement refused =
        measureBest(1, nullptr, [&] { return psdPreviewBitmap(shortRaw).isNull(); });
    printRow("preview: raw, data short", "30000x30000", refused, 0);
    const Measurement reduced =
        measureBest(1, nullptr, [&] { return psdPreviewBitmap(flat).size() == QSize(256, 256); });
    printRow("preview: no thumbnail", "16000x16000", reduced, 0);
    std::printf("\npicture = width x height x 4 bytes; grown = peak minus the child's size before"
                " the decode.\npreview / full decode at 12000x8000: %.3f%%\n",
                largeDecode > 0 ? 100.0 * largePreview / largeDecode : 0.0);
    return 0;
}
