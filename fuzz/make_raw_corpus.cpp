// Writes the raw handler's seed corpus into the folder given as the only argument: small DNG
// files that LibRaw opens (JPEG and bitmap previews, both byte orders, every orientation) and
// ones it refuses (JPEG XL sensor data), some with a second preview in a sub-IFD or an
// uncompressed thumbnail; box skeletons of CR3 files, whose box walk LibRaw and our check
// share; and whole CR3 and CRW files with previews of each kind.
#include "support/CiffBuilder.h"
#include "support/DngWriter.h"
#include "support/IsoBoxes.h"

#include <QDir>
#include <QFile>

using namespace dngtest;

int main(int argc, char **argv)
{
    if (argc != 2 || !QDir().mkpath(QString::fromLocal8Bit(argv[1]))) return 1;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    int written = 0;
    for (int preview : {Dng::JpegPreview, Dng::BitmapPreview, Dng::NoPreview}) {
        for (quint16 compression : {1, 52546}) {
            for (bool big : {false, true}) {
                Dng d;
                d.preview = Dng::Preview(preview);
                d.picture = quadrants(16, 12);
                d.rawWidth = 32;
                d.rawHeight = 24;
                d.rawCompression = compression;
                d.bigEndian = big;
                d.orientation = quint16(1 + written % 8);
                if (written % 3 == 0) d.secondPreview = quadrants(24, 8);
                if (written % 3 == 1) d.thumbnail = quadrants(8, 6);
                QFile f(out.filePath(QStringLiteral("seed-%1.dng").arg(written++)));
                if (!f.open(QIODevice::WriteOnly) || f.write(d.build()) < 0) return 1;
            }
        }
    }
    using namespace isotest;
    const QByteArray thumbnail = box("THMB", QByteArray(16, '\0') + jpegBytes(quadrants(16, 12)));
    const QByteArray tiff = Dng().build();
    const QByteArray skeletons[] = {
        fileType() + box("moov", canonMetadata(box("CMT1", tiff) + thumbnail) +
                                     box("trak", box("mdia", box("minf", box("stbl", {}))))),
        fileType() + largeBox("moov", canonMetadata(thumbnail)) + box("mdat", tiff, 0),
    };
    for (const QByteArray &bytes : skeletons) {
        QFile f(out.filePath(QStringLiteral("seed-%1.cr3").arg(written++)));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) < 0) return 1;
    }

    TiffWriter w;
    Cr3 cr3;
    cr3.ifd0 = w.finish(w.addIfd({w.shorts(0x100, {600}), w.shorts(0x101, {400}),
                                  TiffWriter::ascii(0x10F, "Canon"), w.shorts(0x112, {6})}));
    cr3.exif = Dng().build();
    cr3.thumbnail = thumbnailBox(jpegBytes(quadrants(16, 12)), QSize(16, 12));
    cr3.preview = previewBox(jpegBytes(quadrants(24, 16)), QSize(24, 16));
    cr3.full = jpegBytes(quadrants(32, 20));
    const QByteArray small = jpegBytes(quadrants(16, 12)), large = jpegBytes(quadrants(24, 16));
    using namespace ciff;
    const QByteArray crw = file(
        heap({{Thumbnail, small},
              {JpegFromRaw, large},
              {ImageProps, heap({{ImageInfo, imageInfo(600, 400, 90)},
                                 {CameraObject, heap({{MakeModel, makeModel("Canon", "C")}})}})}}));
    const QPair<QString, QByteArray> files[] = {{QStringLiteral("cr3"), cr3.build()},
                                                {QStringLiteral("crw"), crw}};
    for (const auto &f : files) {
        QFile seed(out.filePath(QStringLiteral("seed-%1.%2").arg(written++).arg(f.first)));
        if (!seed.open(QIODevice::WriteOnly) || seed.write(f.second) < 0) return 1;
    }
    return 0;
}
