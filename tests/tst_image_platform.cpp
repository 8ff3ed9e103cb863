// The platform layers under the picture library: metadata items over Exiv2, the frame
// decoder, the picture encoder, and the writer's format choices built on them.

#include "formats/ExifItems.h"
#include "formats/ImageFormats.h"
#include "formats/PictureWriter.h"
#include "platform/DeviceRead.h"
#include "platform/FittedDecode.h"
#include "platform/FrameDecoder.h"
#include "platform/PictureEncoder.h"
#include "platform/PropertyItems.h"
#include "platform/WorkTeam.h"
#include "support/CaptureStdout.h"
#include "support/ClaimingHeaders.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/TiffWriter.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using platform::PictureContainer;
using platform::PixelLayout;
using platform::PropertyItem;

Q_DECLARE_METATYPE(PictureContainer)
Q_DECLARE_METATYPE(PixelLayout)
Q_DECLARE_METATYPE(QImage::Format)

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const PropertyItem *findItem(const QVector<PropertyItem> &items, quint32 id)
{
    for (const PropertyItem &item : items) {
        if (item.id == id) return &item;
    }
    return nullptr;
}

} // namespace

class TestImagePlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void propertyItemsOfRealPictures_data();
    void propertyItemsOfRealPictures();
    void filesWithoutItems_data();
    void filesWithoutItems();
    void writingItemsKeepsPixels_data();
    void writingItemsKeepsPixels();
    void writingItemsToAFileWithoutMetadataChangesNothing();

    void decoderSizesBeforeDecoding_data();
    void decoderSizesBeforeDecoding();
    void decoderPagesOfATiff();
    void decoderRefusesOversizedFrames();
    void dataCanHold_data();
    void dataCanHold();
    void jpegClaimingMorePixelsThanItsData_data();
    void jpegClaimingMorePixelsThanItsData();

    void areaAverage_data();
    void areaAverage();
    void areaAverageRefusesWhatDoesNotFit();
    void reducedSizes_data();
    void reducedSizes();
    void fittedDecode_data();
    void fittedDecode();
    void fittedDecodeOfBrokenJpeg();

    void encoderWritesTrueColours_data();
    void encoderWritesTrueColours();
    void encoderFailureLeavesTheFile();

    void encoderMime_data();
    void encoderMime();
    void encoderClsid_data();
    void encoderClsid();
    void containerForFormat_data();
    void containerForFormat();
    void preparedPixels_data();
    void preparedPixels();
    void saveWithWicAlpha_data();
    void saveWithWicAlpha();
    void saveWithWicUnsupportedIdLeavesFile_data();
    void saveWithWicUnsupportedIdLeavesFile();

    void readDeviceAt_data();
    void readDeviceAt();
    void workTeamRunsEveryMemberOnce_data();
    void workTeamRunsEveryMemberOnce();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestImagePlatform::propertyItemsOfRealPictures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("thumbnailSize");
    QTest::addColumn<QSize>("pixelDimensions");

    QTest::newRow("orientation 1") << "jpeg/orient_Landscape_1.jpg" << 1 << QSize() << QSize();
    QTest::newRow("orientation 3") << "jpeg/orient_Landscape_3.jpg" << 3 << QSize() << QSize();
    QTest::newRow("orientation 5") << "jpeg/orient_Portrait_5.jpg" << 5 << QSize() << QSize();
    QTest::newRow("orientation 6") << "jpeg/orient_Landscape_6.jpg" << 6 << QSize() << QSize();
    QTest::newRow("orientation 8") << "jpeg/orient_Landscape_8.jpg" << 8 << QSize() << QSize();
    QTest::newRow("camera with thumbnail")
        << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg" << 6 << QSize(160, 120) << QSize(2048, 1536);
}

void TestImagePlatform::propertyItemsOfRealPictures()
{
    QFETCH(QString, file);
    QFETCH(int, orientation);
    QFETCH(QSize, thumbnailSize);
    QFETCH(QSize, pixelDimensions);
    REAL_DATA(picture, file);

    CaptureStdout errors(STDERR_FILENO);
    const QVector<PropertyItem> items = platform::readPropertyItems(picture);
    QCOMPARE(errors.text(), QByteArray());

    const PropertyItem *item = findItem(items, PropertyTagOrientation);
    QVERIFY(item);
    QCOMPARE(item->type, quint16(PropertyTagTypeShort));
    QCOMPARE(item->length(), 2u);
    QCOMPARE(int(quint8(item->value.at(0))), orientation);

    const PropertyItem *thumbnail = findItem(items, PropertyTagThumbnailData);
    QCOMPARE(thumbnail != nullptr, thumbnailSize.isValid());
    if (thumbnail) {
        QCOMPARE(QImage::fromData(thumbnail->value).size(), thumbnailSize);
        // The main picture's directory comes first in the file, the thumbnail's after it.
        QVERIFY(item < thumbnail);
    }
    if (pixelDimensions.isValid()) {
        const PropertyItem *x = findItem(items, PropertyTagExifPixXDim);
        const PropertyItem *y = findItem(items, PropertyTagExifPixYDim);
        QVERIFY(x && y);
        QCOMPARE(quint8(x->value.at(1)) * 256 + quint8(x->value.at(0)), pixelDimensions.width());
        QCOMPARE(quint8(y->value.at(1)) * 256 + quint8(y->value.at(0)), pixelDimensions.height());
    }
}

void TestImagePlatform::filesWithoutItems_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(8, 8, QImage::Format_ARGB32).save(&buffer, "PNG");
    }
    QTest::newRow("png without metadata") << "plain.png" << png;
    QTest::newRow("svg text") << "drawing.svg"
                              << QByteArray("<svg xmlns='http://www.w3.org/2000/svg' "
                                            "viewBox='0 0 10 10'/>");
    QTest::newRow("empty file") << "empty.jpg" << QByteArray();
    QTest::newRow("garbage with a picture suffix") << "garbage.jpg" << QByteArray(3000, '\x5a');
    QTest::newRow("truncated JPEG") << "cut.jpg" << QByteArray("\xff\xd8\xff\xe1\x10\x00Exif", 10);
    // An EXIF block whose first directory lies far past its end.
    QTest::newRow("EXIF offsets past the end")
        << "offsets.jpg"
        << QByteArray("\xff\xd8\xff\xe1\x00\x16"
                      "Exif\0\0II*\0\xff\xff\xff\x7f\x01\x00\x12\x01"
                      "\xff\xd9",
                      26);
    // Exiv2's QuickTime reader is never asked: it can spin on a damaged box tree.
    QTest::newRow("QuickTime file with a picture suffix")
        << "movie.psd"
        << QByteArray("\0\0\0\x14"
                      "ftypqt  \0\0\0\0qt  \0\0\0\x08moov",
                      28);
}

void TestImagePlatform::filesWithoutItems()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QVERIFY(writeBytes(path(name), content));

    CaptureStdout errors(STDERR_FILENO);
    QVERIFY(platform::readPropertyItems(path(name)).isEmpty());
    QVERIFY(platform::readPropertyItems(path(QStringLiteral("missing-") + name)).isEmpty());
    QCOMPARE(errors.text(), QByteArray());
}

void TestImagePlatform::writingItemsKeepsPixels_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<int>("value");

    QTest::newRow("orientation 6") << quint32(PropertyTagOrientation) << 6;
    QTest::newRow("orientation 2") << quint32(PropertyTagOrientation) << 2;
    QTest::newRow("thumbnail orientation 3") << quint32(PropertyTagThumbnailOrientation) << 3;
}

void TestImagePlatform::writingItemsKeepsPixels()
{
    QFETCH(quint32, id);
    QFETCH(int, value);
    REAL_DATA(original, "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg");
    const QString copy = path(QStringLiteral("written.jpg"));
    QFile::remove(copy);
    QVERIFY(QFile::copy(original, copy));

    PropertyItem item;
    item.id = id;
    item.type = PropertyTagTypeShort;
    item.value = QByteArray(1, char(value)) + QByteArray(1, '\0');
    QVERIFY(platform::writePropertyItems(copy, {item}));

    const QVector<PropertyItem> items = platform::readPropertyItems(copy);
    const PropertyItem *read = findItem(items, id);
    QVERIFY(read);
    QCOMPARE(int(quint8(read->value.at(0))), value);
    // Only metadata changed: the pixels decode exactly as before.
    QImageReader before(original), after(copy);
    before.setAutoTransform(false);
    after.setAutoTransform(false);
    QCOMPARE(maxChannelDifference(before.read(), after.read()), 0);
    QVERIFY(QDir(m_dir.path())
                .entryList({QStringLiteral(".picsage-*")}, QDir::Hidden | QDir::Files)
                .isEmpty());
}

void TestImagePlatform::writingItemsToAFileWithoutMetadataChangesNothing()
{
    const QString garbage = path(QStringLiteral("not-a-picture.jpg"));
    const QByteArray bytes(5000, '\x33');
    QVERIFY(writeBytes(garbage, bytes));
    PropertyItem item;
    item.id = PropertyTagOrientation;
    item.type = PropertyTagTypeShort;
    item.value = QByteArray("\x06\x00", 2);
    CaptureStdout errors(STDERR_FILENO);
    QVERIFY(!platform::writePropertyItems(garbage, {item}));
    QCOMPARE(errors.text(), QByteArray());
    QCOMPARE(fileBytes(garbage), bytes);
    QVERIFY(!platform::writePropertyItems(path(QStringLiteral("nothing-here.jpg")), {item}));
}

void TestImagePlatform::decoderSizesBeforeDecoding_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("fromMemory");

    for (const char *format : {"png", "jpeg", "bmp", "tiff"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 file").arg(format)))
            << QByteArray(format) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1 in memory").arg(format)))
            << QByteArray(format) << true;
    }
}

void TestImagePlatform::decoderSizesBeforeDecoding()
{
    QFETCH(QByteArray, format);
    QFETCH(bool, fromMemory);
    const QImage picture = quadrantPicture(QSize(30, 20), QImage::Format_RGB32);
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(picture.save(&buffer, format.constData()));
    }
    // A suffix that says nothing: the content decides.
    const QString file = path(QStringLiteral("content-") + format + QStringLiteral(".bin"));
    QVERIFY(writeBytes(file, bytes));

    platform::FrameDecoder decoder;
    QVERIFY(fromMemory ? decoder.open(bytes) : decoder.open(file));
    QCOMPARE(decoder.format(), format);
    QCOMPARE(decoder.frameCount(), 1);
    QCOMPARE(decoder.frameSize(0), QSize(30, 20));
    QCOMPARE(decoder.frameSize(1), QSize());
    const QImage frame = decoder.decodeFrame(0);
    QCOMPARE(frame.format(), QImage::Format_ARGB32_Premultiplied);
    QVERIFY(meanChannelDifference(frame, picture) < (format == "jpeg" ? 8 : 0.01));
    QVERIFY(decoder.decodeFrame(-1).isNull());
    QVERIFY(decoder.decodeFrame(1).isNull());
}

void TestImagePlatform::decoderPagesOfATiff()
{
    const QString file = path(QStringLiteral("pages.tif"));
    QVERIFY(writeMultiPageTiff(file, 5, QSize(6, 4)));
    platform::FrameDecoder decoder;
    QVERIFY(decoder.open(file));
    QCOMPARE(decoder.frameCount(), 5);
    // Any order: every page is reached by jumping.
    for (int page : {3, 0, 4, 1, 1, 2}) {
        QCOMPARE(decoder.frameSize(page), QSize(6, 4));
        const QImage image = decoder.decodeFrame(page);
        QCOMPARE(image.size(), QSize(6, 4));
        QCOMPARE(QColor(image.pixel(2, 2)), tiffPageColour(page));
    }
}

void TestImagePlatform::decoderRefusesOversizedFrames()
{
    const QString file = path(QStringLiteral("huge.bmp"));
    QVERIFY(writeBytes(file, bmpBytes(QSize(16000, 16000), 32)));
    platform::FrameDecoder decoder;
    QVERIFY(decoder.open(file));
    QCOMPARE(decoder.frameSize(0), QSize(16000, 16000));
    QVERIFY(decoder.decodeFrame(0).isNull());

    // Found by fuzzing: 1780 bytes whose cursor directory claims 65152 frames. Callers walk
    // every frame, each through a fresh reader.
    REAL_DATA(claims, "../fuzz/fuzz_open/cursor-directory-claiming-65152-frames");
    QFile claimsFile(claims);
    QVERIFY(claimsFile.open(QIODevice::ReadOnly));
    platform::FrameDecoder claiming;
    QVERIFY(claiming.open(claimsFile.readAll().mid(1))); // its first byte picks the suffix
    QCOMPARE(claiming.frameCount(), int(1779 / platform::FrameDecoder::MinFrameBytes));

    platform::FrameDecoder nothing;
    QVERIFY(!nothing.open(QByteArray("not a picture at all")));
    QVERIFY(!nothing.open(path(QStringLiteral("does-not-exist.png"))));
    QVERIFY(nothing.decodeFrame(0).isNull());
}

void TestImagePlatform::dataCanHold_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QImage::Format>("pixels");
    QTest::addColumn<bool>("holds");
    QTest::newRow("jpeg at one bit per block")
        << QByteArray("jpeg") << QSize(512, 100) << qint64(100) << QImage::Format_Invalid << true;
    QTest::newRow("jpeg claiming more")
        << QByteArray("jpeg") << QSize(513, 100) << qint64(100) << QImage::Format_Invalid << false;
    QTest::newRow("jpeg of nothing")
        << QByteArray("jpeg") << QSize(1, 1) << qint64(0) << QImage::Format_Invalid << false;
    QTest::newRow("bmp at a run per two bytes")
        << QByteArray("bmp") << QSize(256, 100) << qint64(100) << QImage::Format_Invalid << true;
    QTest::newRow("bmp claiming more")
        << QByteArray("bmp") << QSize(257, 100) << qint64(100) << QImage::Format_Invalid << false;
    QTest::newRow("1-bit png at deflate's best")
        << QByteArray("png") << QSize(8256, 100) << qint64(100) << QImage::Format_Mono << true;
    QTest::newRow("1-bit png claiming more")
        << QByteArray("png") << QSize(8257, 100) << qint64(100) << QImage::Format_Mono << false;
    QTest::newRow("rgba png claiming more") << QByteArray("png") << QSize(10000, 10000)
                                            << qint64(200000) << QImage::Format_ARGB32 << false;
    QTest::newRow("rgba png that can hold it")
        << QByteArray("png") << QSize(1000, 1000) << qint64(3000) << QImage::Format_ARGB32 << true;
    QTest::newRow("tiff is not judged") << QByteArray("tiff") << QSize(10000, 10000) << qint64(100)
                                        << QImage::Format_Invalid << true;
}

void TestImagePlatform::dataCanHold()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(qint64, bytes);
    QFETCH(QImage::Format, pixels);
    QFETCH(bool, holds);
    QCOMPARE(platform::FrameDecoder::dataCanHold(format, size, bytes, pixels), holds);
}

void TestImagePlatform::jpegClaimingMorePixelsThanItsData_data()
{
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<QSize>("claimed");
    QTest::addColumn<bool>("decoded");
    QTest::newRow("baseline as stored") << false << QSize() << true;
    QTest::newRow("baseline claiming 10000 x 10000") << false << QSize(10000, 10000) << false;
    QTest::newRow("progressive as stored") << true << QSize() << true;
    QTest::newRow("progressive claiming 10000 x 10000") << true << QSize(10000, 10000) << false;
}

void TestImagePlatform::jpegClaimingMorePixelsThanItsData()
{
    QFETCH(bool, progressive);
    QFETCH(QSize, claimed);
    QFETCH(bool, decoded);
    QImage picture(16, 12, QImage::Format_RGB32);
    picture.fill(qRgb(40, 90, 160));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    QVERIFY(writer.write(picture));
    if (claimed.isValid()) jpeg = withFrameSize(jpeg, claimed);
    QVERIFY(!jpeg.isEmpty());
    const QString file = path(QStringLiteral("claiming.jpg"));
    QVERIFY(writeBytes(file, jpeg));

    platform::FrameDecoder decoder;
    QVERIFY(decoder.open(file));
    // The size is still told (the viewer shows it); the pixels are not decoded.
    QCOMPARE(decoder.frameSize(0), claimed.isValid() ? claimed : picture.size());
    QCOMPARE(!decoder.decodeFrame(0).isNull(), decoded);
}

void TestImagePlatform::areaAverage_data()
{
    QTest::addColumn<QImage>("input");
    QTest::addColumn<QSize>("outSize");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<bool>("inPlace");

    QImage flat(37, 23, QImage::Format_RGB32);
    flat.fill(qRgb(200, 100, 7));
    QImage flatOut(30, 17, QImage::Format_RGB888);
    flatOut.fill(qRgb(200, 100, 7));
    QTest::newRow("one colour stays exact") << flat << QSize(30, 17) << flatOut << false;
    QTest::newRow("one colour in place") << flat << QSize(30, 17) << flatOut << true;

    // Halving: every output pixel is the mean of a 2 x 2 block.
    QImage blocks(4, 2, QImage::Format_RGB32);
    const QRgb values[2][4] = {
        {qRgb(0, 0, 0), qRgb(100, 50, 10), qRgb(255, 255, 255), qRgb(255, 255, 255)},
        {qRgb(20, 10, 2), qRgb(80, 40, 8), qRgb(0, 0, 0), qRgb(0, 0, 0)}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            blocks.setPixel(x, y, values[y][x]);
    QImage halved(2, 1, QImage::Format_RGB888);
    halved.setPixel(0, 0, qRgb(50, 25, 5));
    halved.setPixel(1, 0, qRgb(128, 128, 128));
    QTest::newRow("halving averages blocks") << blocks << QSize(2, 1) << halved << false;
    QTest::newRow("halving in place") << blocks << QSize(2, 1) << halved << true;

    QImage grey(5, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            grey.scanLine(y)[x] = uchar(y * 40 + x * 10);
    QTest::newRow("same size keeps grey") << grey << QSize(5, 3) << grey << false;
    QTest::newRow("same size keeps grey in place") << grey << QSize(5, 3) << grey << true;
    QImage column(1, 1, QImage::Format_Grayscale8);
    // Mean of the whole picture: rows average 40, columns 20.
    column.scanLine(0)[0] = 60;
    QTest::newRow("grey to one pixel") << grey << QSize(1, 1) << column << false;
}

void TestImagePlatform::areaAverage()
{
    QFETCH(QImage, input);
    QFETCH(QSize, outSize);
    QFETCH(QImage, expected);
    QFETCH(bool, inPlace);
    const bool grey = input.format() == QImage::Format_Grayscale8;
    const QImage::Format outFormat = grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    QImage result;
    if (inPlace) {
        QImage work = input.copy();
        const qsizetype outStride = (qsizetype(outSize.width()) * (grey ? 1 : 3) + 3) & ~3;
        QVERIFY(platform::reduceByAreaAverage(work.constBits(), work.size(), work.bytesPerLine(),
                                              grey ? 1 : 4, work.bits(), outSize, outStride));
        result = QImage(work.constBits(), outSize.width(), outSize.height(), outStride, outFormat)
                     .copy();
    } else {
        result = QImage(outSize, outFormat);
        QVERIFY(platform::reduceByAreaAverage(input.constBits(), input.size(), input.bytesPerLine(),
                                              grey ? 1 : 4, result.bits(), outSize,
                                              result.bytesPerLine()));
    }
    QCOMPARE(result.size(), expected.size());
    QVERIFY2(maxChannelDifference(result, expected) <= 1,
             qPrintable(QString::number(maxChannelDifference(result, expected))));
}

void TestImagePlatform::areaAverageRefusesWhatDoesNotFit()
{
    QImage input(8, 8, QImage::Format_RGB32);
    input.fill(Qt::red);
    QImage out(16, 16, QImage::Format_RGB888);
    // Enlarging, a wrong pixel size, a stride too short, an in-place output wider than its
    // input's lines.
    QVERIFY(!platform::reduceByAreaAverage(input.constBits(), input.size(), input.bytesPerLine(), 4,
                                           out.bits(), QSize(16, 4), out.bytesPerLine()));
    QVERIFY(!platform::reduceByAreaAverage(input.constBits(), input.size(), input.bytesPerLine(), 3,
                                           out.bits(), QSize(4, 4), out.bytesPerLine()));
    QVERIFY(!platform::reduceByAreaAverage(input.constBits(), input.size(), 8, 4, out.bits(),
                                           QSize(4, 4), out.bytesPerLine()));
    QVERIFY(!platform::reduceByAreaAverage(input.constBits(), input.size(), input.bytesPerLine(), 4,
                                           input.bits(), QSize(4, 4), 64));
    QVERIFY(!platform::reduceByAreaAverage(nullptr, input.size(), input.bytesPerLine(), 4,
                                           out.bits(), QSize(4, 4), out.bytesPerLine()));
}

void TestImagePlatform::reducedSizes_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("fitted");
    QTest::addColumn<QSize>("reduced");
    QTest::newRow("an eighth") << QSize(12000, 9000) << QSize(1440, 1080) << QSize(1500, 1125);
    QTest::newRow("an eighth, rounded up")
        << QSize(12001, 9001) << QSize(1440, 1080) << QSize(1501, 1126);
    QTest::newRow("a quarter") << QSize(11000, 8000) << QSize(1485, 1080) << QSize(2750, 2000);
    QTest::newRow("a half") << QSize(3000, 2200) << QSize(1472, 1080) << QSize(1500, 1100);
    QTest::newRow("none") << QSize(2000, 1500) << QSize(1440, 1080) << QSize(2000, 1500);
}

void TestImagePlatform::reducedSizes()
{
    QFETCH(QSize, stored);
    QFETCH(QSize, fitted);
    QFETCH(QSize, reduced);
    QCOMPARE(platform::reducedDecodeSize(stored, fitted), reduced);
}

void TestImagePlatform::fittedDecode_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QImage::Format>("pixels");
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("fitted");
    QTest::addColumn<QImage::Format>("expected");
    QTest::newRow("colour JPEG, an eighth")
        << QByteArray("jpeg") << QImage::Format_RGB32 << QSize(1600, 1200) << QSize(192, 144)
        << QImage::Format_RGB888;
    QTest::newRow("colour JPEG, odd sizes")
        << QByteArray("jpeg") << QImage::Format_RGB32 << QSize(1601, 1203) << QSize(190, 142)
        << QImage::Format_RGB888;
    QTest::newRow("grey JPEG, a quarter")
        << QByteArray("jpeg") << QImage::Format_Grayscale8 << QSize(800, 600) << QSize(160, 120)
        << QImage::Format_Grayscale8;
    QTest::newRow("PNG, as its reader gives it")
        << QByteArray("png") << QImage::Format_RGB32 << QSize(400, 300) << QSize(100, 75)
        << QImage::Format_RGB32;
}

void TestImagePlatform::fittedDecode()
{
    QFETCH(QByteArray, format);
    QFETCH(QImage::Format, pixels);
    QFETCH(QSize, stored);
    QFETCH(QSize, fitted);
    QFETCH(QImage::Format, expected);
    // Smooth shapes, so that a reduced decode and a reduced picture can be compared.
    QImage picture(stored, QImage::Format_RGB32);
    for (int y = 0; y < stored.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < stored.width(); ++x)
            line[x] = qRgb(x * 255 / stored.width(), y * 255 / stored.height(),
                           (x + y) * 255 / (stored.width() + stored.height()));
    }
    picture = picture.convertToFormat(pixels);
    const QString file = path(QStringLiteral("fitted.%1").arg(QString::fromLatin1(format)));
    QVERIFY(picture.save(file, format.constData(), 95));

    QImageReader reader(file);
    const QImage image = platform::decodeFitted(reader, stored, fitted);
    QCOMPARE(image.size(), fitted);
    QCOMPARE(image.format(), expected);
    const QImage reference =
        picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double difference = meanChannelDifference(image, reference);
    QVERIFY2(difference < 2, qPrintable(QString::number(difference)));
}

void TestImagePlatform::fittedDecodeOfBrokenJpeg()
{
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(qRgb(10, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "JPEG", 90));
    const QString file = path(QStringLiteral("broken.jpg"));
    // Cut inside the picture data: what the codec makes of it, or nothing; never a crash.
    QVERIFY(writeBytes(file, bytes.left(bytes.size() / 2)));
    QImageReader reader(file);
    const QImage image = platform::decodeFitted(reader, QSize(800, 600), QSize(90, 67));
    QVERIFY(image.isNull() || image.size() == QSize(90, 67));
    QImageReader nothing(path(QStringLiteral("does-not-exist.jpg")));
    QVERIFY(platform::decodeFitted(nothing, QSize(800, 600), QSize(90, 67)).isNull());
    QImageReader empty(file);
    QVERIFY(platform::decodeFitted(empty, QSize(800, 600), QSize()).isNull());
}

void TestImagePlatform::encoderWritesTrueColours_data()
{
    QTest::addColumn<PictureContainer>("container");
    QTest::addColumn<QByteArray>("readAs");
    QTest::addColumn<PixelLayout>("layout");
    QTest::addColumn<int>("tolerance");

    const struct
    {
        PictureContainer container;
        const char *name;
        int tolerance;
    } containers[] = {{PictureContainer::Bmp, "bmp", 0},
                      {PictureContainer::Png, "png", 0},
                      {PictureContainer::Tiff, "tiff", 0},
                      {PictureContainer::Jpeg, "jpeg", 6}};
    for (const auto &c : containers) {
        for (PixelLayout layout :
             {PixelLayout::Bgr24, PixelLayout::Bgra32, PixelLayout::PBgra32, PixelLayout::Gray8}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 layout %2").arg(c.name).arg(int(layout))))
                << c.container << QByteArray(c.name) << layout << c.tolerance;
        }
    }
}

void TestImagePlatform::encoderWritesTrueColours()
{
    QFETCH(PictureContainer, container);
    QFETCH(QByteArray, readAs);
    QFETCH(PixelLayout, layout);
    QFETCH(int, tolerance);

    QImage picture = quadrantPicture(QSize(64, 48), QImage::Format_RGB32);
    QImage rows;
    switch (layout) {
    case PixelLayout::Bgr24:
        rows = picture.convertToFormat(QImage::Format_RGB888).rgbSwapped();
        break;
    case PixelLayout::Bgra32:
        rows = picture.convertToFormat(QImage::Format_ARGB32);
        break;
    case PixelLayout::PBgra32:
        rows = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        break;
    default:
        picture = picture.convertToFormat(QImage::Format_Grayscale8);
        rows = picture;
        break;
    }
    const QString file = path(QStringLiteral("encoded.") + readAs);
    QVERIFY(platform::encodePicture(container, layout, rows, file));
    QImageReader reader(file);
    QCOMPARE(reader.format(), readAs);
    const QImage back = reader.read().convertToFormat(QImage::Format_RGB32);
    const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
    // Lossless containers give the very pixels; JPEG comes close on average.
    if (tolerance == 0)
        QCOMPARE(maxChannelDifference(back, expected), 0);
    else
        QVERIFY2(meanChannelDifference(back, expected) <= tolerance,
                 qPrintable(QString::number(meanChannelDifference(back, expected))));
}

void TestImagePlatform::encoderFailureLeavesTheFile()
{
    const QString file = path(QStringLiteral("precious.png"));
    const QByteArray bytes("the user's own bytes");
    QVERIFY(writeBytes(file, bytes));

    // Writing stops early when the file size limit is reached: the write fails half way.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 2000;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QImage noise = quadrantPicture(QSize(300, 300), QImage::Format_ARGB32);
    const bool written =
        platform::encodePicture(PictureContainer::Bmp, PixelLayout::Bgra32, noise, file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    QVERIFY(!written);
    QCOMPARE(fileBytes(file), bytes);
    const QStringList left =
        QDir(m_dir.path()).entryList({QStringLiteral("precious*")}, QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList{QStringLiteral("precious.png")});

    QVERIFY(!platform::encodePicture(PictureContainer::Png, PixelLayout::Bgra32, QImage(), file));
    QVERIFY(!platform::encodePicture(PictureContainer::Png, PixelLayout::Bgra32, noise,
                                     path(QStringLiteral("no/such/folder/x.png"))));
    QCOMPARE(fileBytes(file), bytes);
}

void TestImagePlatform::encoderMime_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("mime");

    QTest::newRow("bmp") << 0 << "image/bmp";
    for (int id = 1; id <= 5; ++id)
        QTest::newRow(qPrintable(QStringLiteral("jpeg family %1").arg(id))) << id << "image/jpeg";
    QTest::newRow("png") << 6 << "image/png";
    QTest::newRow("gif") << 7 << QString();
    QTest::newRow("tif") << 8 << "image/tiff";
    QTest::newRow("tiff") << 9 << "image/tiff";
    QTest::newRow("psd") << 11 << QString();
    QTest::newRow("unknown") << -1 << QString();
    QTest::newRow("past the table") << 46 << QString();
}

void TestImagePlatform::encoderMime()
{
    QFETCH(int, id);
    QFETCH(QString, mime);
    QCOMPARE(encoderMimeForFormat(id), mime);
}

void TestImagePlatform::encoderClsid_data()
{
    QTest::addColumn<QString>("mime");
    QTest::addColumn<bool>("found");

    QTest::newRow("png") << "image/png" << true;
    QTest::newRow("upper case") << "IMAGE/PNG" << true;
    QTest::newRow("mixed case tiff") << "Image/Tiff" << true;
    QTest::newRow("gif has none") << "image/gif" << false;
    QTest::newRow("empty") << QString() << false;
}

void TestImagePlatform::encoderClsid()
{
    QFETCH(QString, mime);
    QFETCH(bool, found);
    const QUuid untouched = QUuid::createUuid();
    QUuid out = untouched;
    QCOMPARE(encoderClsidForMime(mime, &out), found);
    if (!found) {
        QCOMPARE(out, untouched);
        return;
    }
    QUuid expected;
    for (const platform::EncoderInfo &encoder : platform::pictureEncoders()) {
        if (encoder.mimeType == mime.toLower()) expected = encoder.clsid;
    }
    QVERIFY(!expected.isNull());
    QCOMPARE(out, expected);
}

void TestImagePlatform::containerForFormat_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("result");
    QTest::addColumn<PictureContainer>("container");

    QTest::newRow("bmp") << 0 << 0 << PictureContainer::Bmp;
    QTest::newRow("jpg") << 1 << 0 << PictureContainer::Jpeg;
    QTest::newRow("jfif") << 5 << 0 << PictureContainer::Jpeg;
    QTest::newRow("png") << 6 << 0 << PictureContainer::Png;
    QTest::newRow("tif") << 8 << 0 << PictureContainer::Tiff;
    QTest::newRow("tiff") << 9 << 0 << PictureContainer::Tiff;
    QTest::newRow("gif") << 7 << 1 << PictureContainer::Bmp;
    QTest::newRow("unknown") << -1 << 1 << PictureContainer::Bmp;
    QTest::newRow("xpm") << 17 << 1 << PictureContainer::Bmp;
}

void TestImagePlatform::containerForFormat()
{
    QFETCH(int, id);
    QFETCH(int, result);
    QFETCH(PictureContainer, container);
    // An id without a container leaves the output as it was (Bmp here).
    PictureContainer out = PictureContainer::Bmp;
    QCOMPARE(wicContainerForFormat(id, &out), result);
    QCOMPARE(out, container);
}

void TestImagePlatform::preparedPixels_data()
{
    QTest::addColumn<QImage::Format>("source");
    QTest::addColumn<int>("id");
    QTest::addColumn<PixelLayout>("layout");
    QTest::addColumn<QImage::Format>("rows");

    QTest::newRow("indexed png") << QImage::Format_Indexed8 << 6 << PixelLayout::Indexed8
                                 << QImage::Format_Indexed8;
    QTest::newRow("rgb32 png") << QImage::Format_RGB32 << 6 << PixelLayout::Bgr24
                               << QImage::Format_RGB888;
    QTest::newRow("rgb888 tiff") << QImage::Format_RGB888 << 8 << PixelLayout::Bgr24
                                 << QImage::Format_RGB888;
    QTest::newRow("argb32 png") << QImage::Format_ARGB32 << 6 << PixelLayout::Bgra32
                                << QImage::Format_ARGB32;
    QTest::newRow("premultiplied tiff")
        << QImage::Format_ARGB32_Premultiplied << 9 << PixelLayout::PBgra32
        << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("alpha8 png") << QImage::Format_Alpha8 << 6 << PixelLayout::Alpha8
                                << QImage::Format_Alpha8;
    QTest::newRow("grey png") << QImage::Format_Grayscale8 << 6 << PixelLayout::Gray8
                              << QImage::Format_Grayscale8;
    QTest::newRow("rgb16 png: other formats")
        << QImage::Format_RGB16 << 6 << PixelLayout::Bgra32 << QImage::Format_ARGB32;
    // BMP and JPEG are flattened to 32-bit RGB first, whatever they were.
    QTest::newRow("argb32 bmp flattened")
        << QImage::Format_ARGB32 << 0 << PixelLayout::Bgr24 << QImage::Format_RGB888;
    QTest::newRow("grey jpeg flattened")
        << QImage::Format_Grayscale8 << 1 << PixelLayout::Bgr24 << QImage::Format_RGB888;
}

void TestImagePlatform::preparedPixels()
{
    QFETCH(QImage::Format, source);
    QFETCH(int, id);
    QFETCH(PixelLayout, layout);
    QFETCH(QImage::Format, rows);

    QImage picture(4, 3, QImage::Format_ARGB32);
    picture.fill(qRgba(255, 0, 0, 255));
    picture = picture.convertToFormat(source);
    PixelLayout chosen = PixelLayout::Alpha8;
    QImage out;
    prepareWicPixels(picture, id, &chosen, &out);
    QCOMPARE(chosen, layout);
    QCOMPARE(out.format(), rows);
    QCOMPARE(out.size(), picture.size());
    if (layout == PixelLayout::Bgr24 && source != QImage::Format_Grayscale8) {
        // Blue, green, red in memory.
        const uchar *first = out.constScanLine(0);
        QCOMPARE(int(first[0]), 0);
        QCOMPARE(int(first[1]), 0);
        QCOMPARE(int(first[2]), 255);
    }
}

void TestImagePlatform::saveWithWicAlpha_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("keepsAlpha");

    QTest::newRow("bmp") << 0 << "bmp" << false;
    QTest::newRow("jpg") << 1 << "jpg" << false;
    QTest::newRow("png") << 6 << "png" << true;
    QTest::newRow("tif") << 8 << "tif" << true;
}

void TestImagePlatform::saveWithWicAlpha()
{
    QFETCH(int, id);
    QFETCH(QString, suffix);
    QFETCH(bool, keepsAlpha);

    QImage picture(20, 10, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y) {
        for (int x = 10; x < 20; ++x)
            picture.setPixel(x, y, qRgba(0, 0, 255, 255));
    }
    const QString file = path(QStringLiteral("alpha.") + suffix);
    QVERIFY(saveWithWic(picture, id, file));
    const QImage back = QImage(file).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(back.size(), picture.size());
    const QColor left(back.pixelColor(3, 5)), right(back.pixelColor(16, 5));
    if (keepsAlpha) {
        QCOMPARE(left.alpha(), 0);
    } else {
        QCOMPARE(left.alpha(), 255);
        QVERIFY(left.red() > 245 && left.green() > 245 && left.blue() > 245);
    }
    QVERIFY(right.blue() > 230 && right.red() < 25 && right.alpha() == 255);
}

void TestImagePlatform::saveWithWicUnsupportedIdLeavesFile_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("gif") << 7;
    QTest::newRow("ico") << 10;
    QTest::newRow("unknown") << -1;
    QTest::newRow("past the table") << 46;
}

void TestImagePlatform::saveWithWicUnsupportedIdLeavesFile()
{
    QFETCH(int, id);
    const QString file = path(QStringLiteral("kept.gif"));
    const QByteArray bytes("GIF89a and the rest");
    QVERIFY(writeBytes(file, bytes));
    QVERIFY(!saveWithWic(quadrantPicture(QSize(4, 4), QImage::Format_ARGB32), id, file));
    QCOMPARE(fileBytes(file), bytes);
}

void TestImagePlatform::workTeamRunsEveryMemberOnce_data()
{
    QTest::addColumn<int>("members");
    QTest::newRow("none asked") << 0;
    QTest::newRow("the caller alone") << 1;
    QTest::newRow("two") << 2;
    QTest::newRow("more than the machine has") << 8;
}

void TestImagePlatform::workTeamRunsEveryMemberOnce()
{
    // Each run calls every member once, the caller as member 0, and returns only when all
    // are done: what the helpers wrote is there to read, run after run.
    QFETCH(int, members);
    platform::WorkTeam team(members);
    QCOMPARE(team.size(), qMax(members, 1));
    std::vector<int> calls(size_t(team.size()), 0); // plain ints: each member has its own
    const std::thread::id caller = std::this_thread::get_id();
    bool callerIsZero = true;
    for (int run = 1; run <= 200; ++run) {
        team.run([&](int member) {
            ++calls[size_t(member)];
            if (member == 0) callerIsZero = std::this_thread::get_id() == caller;
        });
        QVERIFY(callerIsZero);
        for (int member = 0; member < team.size(); ++member)
            QCOMPARE(calls[size_t(member)], run);
    }
}

void TestImagePlatform::readDeviceAt_data()
{
    QTest::addColumn<bool>("file");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("read");
    for (const bool file : {true, false}) {
        const QByteArray kind = file ? "file, " : "buffer, ";
        QTest::newRow(kind + "middle") << file << 1000 << 3000 << true;
        QTest::newRow(kind + "to the end") << file << 60000 << 5536 << true;
        QTest::newRow(kind + "past the end") << file << 60000 << 5537 << false;
        QTest::newRow(kind + "nothing, at the end") << file << 65536 << 0 << true;
    }
}

void TestImagePlatform::readDeviceAt()
{
    // A file is read without moving its position; a buffer is sought and read. Either way
    // the bytes are the ones at `at`, and a read past the end is refused.
    QFETCH(bool, file);
    QFETCH(int, at);
    QFETCH(int, size);
    QFETCH(bool, read);
    QByteArray bytes(65536, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 256);
    QFile disk(path(QStringLiteral("device-read.bin")));
    QVERIFY(disk.open(QIODevice::WriteOnly) && disk.write(bytes) == bytes.size());
    disk.close();
    QBuffer memory(&bytes);
    QIODevice *device = file ? static_cast<QIODevice *>(&disk) : &memory;
    QVERIFY(device->open(QIODevice::ReadOnly));
    QVERIFY(device->seek(17));
    QByteArray got(size, 0);
    QCOMPARE(platform::readDeviceAt(device, quint64(at), got.data(), quint64(size)), read);
    if (!read) return;
    QCOMPARE(got, bytes.mid(at, size));
    if (file) QCOMPARE(device->pos(), qint64(17));
}

QTEST_MAIN(TestImagePlatform)
#include "tst_image_platform.moc"
