// Writes the seed corpus of the GIF, zip and open-path fuzzers into <folder>/gif,
// <folder>/zip and <folder>/open: small animations with every disposal, palettes,
// transparency and interlacing; containers with stored and deflated entries; small JPEG, PNG,
// TIFF, BMP, WebP and GIF pictures (with EXIF orientation and thumbnail, progressive, grey,
// palette, 16-bit, several pages), each behind the byte that picks fuzz_open's suffix.
#include "support/GifBuilder.h"
#include "support/TiffWriter.h"
#include "support/ZipBuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

namespace {

bool save(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray encoded(const QImage &image, const char *format, int quality = -1,
                   bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

// A little-endian EXIF block: orientation in the first directory, and when given a JPEG
// thumbnail through the second.
QByteArray exifSegment(int orientation, const QByteArray &thumbnail)
{
    QByteArray tiff("II*\0", 4);
    auto le16 = [&tiff](quint16 v) { tiff.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto le32 = [&tiff](quint32 v) {
        for (int i = 0; i < 4; ++i)
            tiff.append(char((v >> (8 * i)) & 0xFF));
    };
    le32(8);
    le16(1);
    le16(0x0112);
    le16(3);
    le32(1);
    le16(quint16(orientation));
    le16(0);
    const quint32 second = 8 + 2 + 12 + 4;
    le32(thumbnail.isEmpty() ? 0 : second);
    if (!thumbnail.isEmpty()) {
        le16(2);
        le16(0x0201);
        le16(4);
        le32(1);
        le32(second + 2 + 2 * 12 + 4);
        le16(0x0202);
        le16(4);
        le32(1);
        le32(quint32(thumbnail.size()));
        le32(0);
        tiff.append(thumbnail);
    }
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((body.size() + 2) >> 8)).append(char((body.size() + 2) & 0xFF));
    return segment + body;
}

// fuzz_open's first byte picks the file's suffix: jpg png tif bmp jpeg tiff webp gif, then
// dng cr2 nef emf wmf psd psb svg (their seeds are copied by scripts/run-fuzz).
bool saveSeed(const QDir &dir, const QString &name, int suffix, const QByteArray &bytes)
{
    return !bytes.isEmpty() && save(dir, name, QByteArray(1, char(suffix)) + bytes);
}

int openSeeds(const QDir &dir)
{
    QImage colour(16, 12, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x * 16, y * 20, 255 - x * 8));
    QImage alpha = colour.convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < alpha.width(); ++x)
        alpha.setPixel(x, 0, qRgba(0, 0, 0, x * 16));
    const QByteArray jpeg = encoded(colour, "jpeg", 90);
    const QByteArray thumbnail = encoded(colour.scaled(8, 6), "jpeg", 50);

    int written = 0;
    written += saveSeed(dir, "colour.jpg", 0, jpeg);
    written += saveSeed(dir, "progressive.jpg", 4, encoded(colour, "jpeg", 75, true));
    written += saveSeed(dir, "grey.jpg", 0,
                        encoded(colour.convertToFormat(QImage::Format_Grayscale8), "jpeg", 80));
    written += saveSeed(dir, "exif.jpg", 0, jpeg.left(2) + exifSegment(6, thumbnail) + jpeg.mid(2));
    written += saveSeed(dir, "exif-no-thumbnail.jpg", 4,
                        jpeg.left(2) + exifSegment(3, QByteArray()) + jpeg.mid(2));
    written += saveSeed(dir, "alpha.png", 1, encoded(alpha, "png"));
    written += saveSeed(dir, "palette.png", 1,
                        encoded(colour.convertToFormat(QImage::Format_Indexed8), "png"));
    written += saveSeed(dir, "grey16.png", 1,
                        encoded(colour.convertToFormat(QImage::Format_Grayscale16), "png"));
    written += saveSeed(dir, "jpeg-named-png.png", 1, jpeg);
    written += saveSeed(dir, "colour.tif", 2, encoded(alpha, "tiff"));
    written += saveSeed(dir, "colour.bmp", 3, encoded(colour, "bmp"));
    written += saveSeed(dir, "palette.bmp", 3,
                        encoded(colour.convertToFormat(QImage::Format_Indexed8), "bmp"));
    written += saveSeed(dir, "alpha.webp", 6, encoded(alpha, "webp", 80));
    written += saveSeed(dir, "tiny.gif", 7,
                        giftest::header(2, 2) + giftest::descriptor(0, 0, 1, 1) +
                            giftest::tinyData() + giftest::trailer());
    QTemporaryDir temporary;
    const QString pages = temporary.filePath("pages.tif");
    if (writeMultiPageTiff(pages, 3, QSize(6, 4))) {
        QFile file(pages);
        if (file.open(QIODevice::ReadOnly))
            written += saveSeed(dir, "pages.tif", 5, file.readAll());
    }
    return written;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) return 1;
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath("gif") || !root.mkpath("zip") || !root.mkpath("open")) return 1;
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
    written += openSeeds(QDir(root.filePath("open")));
    return written == 12 + 15 ? 0 : 1;
}
