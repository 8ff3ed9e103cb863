// The embedded preview of camera raw files, extracted and decoded: picsage's reader through
// QImageReader (LibRaw, or the preview walk for files LibRaw refuses) side by side with
// Exiv2's PreviewManager (largest preview, decoded with the same JPEG reader). Every
// measurement runs in a child process of its own, so that its peak resident size (ru_maxrss
// from wait4) is its alone.

#include "Measure.h"
#include "support/DngWriter.h"
#include "support/IsoBoxes.h"

#include "formats/RawFile.h"

#include <exiv2/exiv2.hpp>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

using namespace dngtest;

namespace {

// A photograph-like preview: gradients and shapes, so that the JPEG codec has real work.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, QColor(30, 90, 200));
    g.setColorAt(0.5, QColor(240, 200, 80));
    g.setColorAt(1, QColor(20, 120, 40));
    p.fillRect(image.rect(), g);
    for (int i = 0; i < 300; ++i) {
        p.setBrush(QColor::fromHsv((i * 37) % 360, 180, 220));
        p.drawEllipse(QPoint((i * 7919) % width, (i * 104729) % height), width / 30, height / 30);
    }
    return image;
}

bool writeDng(const QString &path, const QSize &preview, const QSize &sensor, quint16 compression)
{
    Dng d;
    d.picture = photo(preview.width(), preview.height());
    d.rawWidth = quint32(sensor.width());
    d.rawHeight = quint32(sensor.height());
    d.rawCompression = compression;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(d.build()) > 0;
}

// A CR3 file as a camera lays it out, with a 160x120 thumbnail and a 1620x1080 preview in
// Canon's boxes (and no full-size JPEG, which Exiv2 does not look for).
bool writeCr3(const QString &path)
{
    TiffWriter w;
    isotest::Cr3 c;
    c.ifd0 = w.finish(w.addIfd({w.shorts(0x100, {6000}), w.shorts(0x101, {4000}),
                                TiffWriter::ascii(0x10F, "Canon"),
                                TiffWriter::ascii(0x110, "Canon EOS R"), w.shorts(0x112, {1})}));
    c.thumbnail = isotest::thumbnailBox(jpegBytes(photo(160, 120)), QSize(160, 120));
    c.preview = isotest::previewBox(jpegBytes(photo(1620, 1080)), QSize(1620, 1080));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(c.build()) > 0;
}

QSize picsageRead(const QString &path)
{
    QImageReader reader(path);
    return reader.read().size();
}

QSize exiv2Read(const QString &path)
{
    try {
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::PreviewManager manager(*image);
        const Exiv2::PreviewPropertiesList list = manager.getPreviewProperties();
        if (list.empty()) return QSize();
        // The list is sorted by size: the last one is the largest.
        const Exiv2::PreviewImage preview = manager.getPreviewImage(list.back());
        QImage decoded;
        decoded.loadFromData(preview.pData(), int(preview.size()));
        return decoded.size();
    } catch (const std::exception &) {
        return QSize();
    }
}

void printRow(const char *what, const char *file, const Measurement &m)
{
    std::printf("| %-26s | %-30s | %9.4f | %9.1f | %9.1f |\n", what, file, m.ok ? m.seconds : -1.0,
                m.peakKiB / 1024.0, m.grownKiB() / 1024.0);
}

} // namespace

int main(int, char **)
{
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    // Exiv2 reads CR3 (ISO base media) files only when asked to.
    Exiv2::enableBMFF(true);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    struct Case
    {
        const char *name;
        QString path;
        QSize picture; // what both must deliver
        int runs;
    };
    QVector<Case> cases;
    const QString medium = dir.filePath(QStringLiteral("medium.dng"));
    const QString full = dir.filePath(QStringLiteral("full.dng"));
    const QString refused = dir.filePath(QStringLiteral("refused.dng"));
    const QString cr3 = dir.filePath(QStringLiteral("preview.cr3"));
    if (!writeDng(medium, QSize(1620, 1080), QSize(3000, 2000), 1) ||
        !writeDng(full, QSize(6000, 4000), QSize(3000, 2000), 1) ||
        !writeDng(refused, QSize(6000, 4000), QSize(3000, 2000), 52546) || !writeCr3(cr3))
        return 1;
    cases.append({"DNG, 1620x1080 preview", medium, QSize(1620, 1080), 5});
    cases.append({"DNG, 6000x4000 preview", full, QSize(6000, 4000), 3});
    cases.append({"DNG 1.7 (walk), 6000x4000", refused, QSize(6000, 4000), 3});
    cases.append({"real Z9 DNG 1.7 (walk)", QStringLiteral(REAL_RAW_FILE), QSize(256, 171), 5});
    cases.append({"CR3, 1620x1080 preview", cr3, QSize(1620, 1080), 5});

    std::printf("| %-26s | %-30s | %9s | %9s | %9s |\n", "reader", "file", "time (s)", "peak MB",
                "grown MB");
    std::printf("|%s|%s|%s|%s|%s|\n", "----------------------------",
                "--------------------------------", "-----------", "-----------", "-----------");
    for (const Case &c : cases) {
        raw::RawFile probe;
        if (!probe.open(c.path, true)) {
            std::printf("cannot open %s\n", qPrintable(c.path));
            return 1;
        }
        const Measurement ours =
            measureBest(c.runs, nullptr, [&] { return picsageRead(c.path) == c.picture; });
        printRow("picsage (QImageReader)", c.name, ours);
        const Measurement exiv2 =
            measureBest(c.runs, nullptr, [&] { return exiv2Read(c.path) == c.picture; });
        printRow("Exiv2 PreviewManager", c.name, exiv2);
    }
    std::printf("\nBoth decode the largest embedded JPEG preview with Qt's JPEG reader; grown = "
                "peak minus the child's size before the work.\n");
    return 0;
}
