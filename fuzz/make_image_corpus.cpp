// Writes the seed corpus of the GIF and zip fuzzers into <folder>/gif and <folder>/zip:
// small animations with every disposal, palettes, transparency and interlacing, and
// containers with stored and deflated entries.
#include "support/GifBuilder.h"
#include "support/ZipBuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

namespace {

bool save(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) return 1;
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath("gif") || !root.mkpath("zip")) return 1;
    const QDir gif(root.filePath("gif")), zip(root.filePath("zip"));

    int written = 0;
    for (int disposal = 0; disposal < 4; ++disposal) {
        for (bool interlaced : {false, true}) {
            giftest::Animation a;
            a.screen = QSize(12, 9);
            a.palette = {qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
            a.background = disposal;
            a.loopCount = disposal;
            a.frames << giftest::solid(QRect(0, 0, 12, 9), 1, disposal);
            giftest::Frame offset = giftest::solid(QRect(3, 2, 5, 4), 2, disposal, 3);
            offset.transparent = 0;
            offset.indices[0] = 0;
            offset.interlaced = interlaced;
            offset.palette = {qRgb(0, 0, 0), qRgb(9, 9, 9), qRgb(200, 100, 50)};
            a.frames << offset << giftest::solid(QRect(10, 7, 4, 4), 3, disposal, 0);
            written += save(gif, QString("anim-%1-%2.gif").arg(disposal).arg(interlaced),
                            giftest::encode(a));
        }
    }
    written += save(gif, "tiny.gif",
                    giftest::header(2, 2) + giftest::descriptor(0, 0, 1, 1) + giftest::tinyData() +
                        giftest::trailer());

    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    written +=
        save(zip, "xmind.zip",
             ziptest::build({{"content.xml", "<xmap/>"}, {"Thumbnails/thumbnail.png", png}}));
    written += save(zip, "stored.zip",
                    ziptest::build({{"../a.txt", "hello", false}, {"C:\\b.txt", "world"}}));
    written += save(zip, "empty.zip", ziptest::build({}));
    return written == 12 ? 0 : 1;
}
