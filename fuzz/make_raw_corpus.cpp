// Writes the raw handler's seed corpus into the folder given as the only argument: small DNG
// files that LibRaw opens (JPEG and bitmap previews, both byte orders, every orientation) and
// ones it refuses (JPEG XL sensor data), some with a second preview in a sub-IFD; and box
// skeletons of CR3 files, whose box walk LibRaw and our check share.
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
    return 0;
}
