#include "PsdTestDocument.h"
#include "support/RealData.h"
#include "support/SequentialDevice.h"

#include "formats/PsdPreview.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImageReader>
#include <QTemporaryFile>
#include <QtTest>

using namespace psdtest;

namespace {

const QRgb kMerged = qRgb(200, 30, 40);
const QRgb kThumb = qRgb(0, 128, 255);

QImage thumbPicture()
{
    QImage thumb(160, 120, QImage::Format_RGB32);
    thumb.fill(kThumb);
    return thumb;
}

// A document of one flat colour per channel, optionally with a thumbnail resource.
Document flat(quint16 mode, quint32 width, quint32 height, QVector<int> samples, bool thumbnail,
              quint16 compression = 1)
{
    Document d;
    d.mode = mode;
    d.width = width;
    d.height = height;
    d.channels = quint16(samples.size());
    d.compression = compression;
    for (int s : samples)
        d.planes << QByteArray(int(width * height), char(s));
    d.resources = resourceBlock(1005, QByteArray(16, 'r')); // something to walk past
    if (thumbnail) d.resources += thumbnailResource(thumbPicture());
    return d;
}

Document flatRgb(quint32 width, quint32 height, bool thumbnail, quint16 compression = 1)
{
    return flat(3, width, height, {qRed(kMerged), qGreen(kMerged), qBlue(kMerged)}, thumbnail,
                compression);
}

QImage preview(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return psdPreviewBitmap(&buffer);
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance && qAlpha(a) == qAlpha(b);
}

} // namespace

class TestPsdPreview : public QObject
{
    Q_OBJECT
private slots:
    void previews_data();
    void previews();
    void malformed_data();
    void malformed();
    void sequentialDevice();
    void realDocuments_data();
    void realDocuments();
    void fromPath();
};

void TestPsdPreview::previews_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size"); // invalid: no picture
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<uint>("pixel");

    QTest::newRow("small rgb: merged even with a thumbnail")
        << flatRgb(200, 150, true).build() << QSize(200, 150) << QPoint(199, 149) << uint(kMerged);
    QTest::newRow("small rgb raw")
        << flatRgb(256, 10, false, 0).build() << QSize(256, 10) << QPoint(0, 0) << uint(kMerged);
    QTest::newRow("large rgb: the thumbnail")
        << flatRgb(4000, 3000, true).build() << QSize(160, 120) << QPoint(5, 5) << uint(kThumb);
    QTest::newRow("large rgb without thumbnail: fitted")
        << flatRgb(4000, 3000, false).build() << QSize(256, 192) << QPoint(100, 100)
        << uint(kMerged);
    QTest::newRow("tall rgb without thumbnail: fitted")
        << flatRgb(3000, 4000, false).build() << QSize(192, 256) << QPoint(100, 100)
        << uint(kMerged);
    QTest::newRow("thin rgb keeps one row")
        << flatRgb(1000, 1, false).build() << QSize(256, 1) << QPoint(10, 0) << uint(kMerged);
    QTest::newRow("cmyk with thumbnail") << flat(4, 20, 20, {1, 2, 3, 4}, true).build()
                                         << QSize(160, 120) << QPoint(0, 0) << uint(kThumb);
    // Without a thumbnail, other modes and depths are decoded as the image reader decodes
    // them, and reduced to fit.
    QTest::newRow("cmyk without thumbnail: decoded")
        << flat(4, 20, 20, {1, 2, 3, 4}, false).build() << QSize(20, 20) << QPoint(3, 3)
        << uint(QColor::fromCmyk(254, 253, 252, 251).rgba());
    QTest::newRow("gray without thumbnail: decoded and fitted")
        << flat(1, 600, 300, {90}, false).build() << QSize(256, 128) << QPoint(100, 100)
        << uint(qRgb(90, 90, 90));
    QTest::newRow("lab without thumbnail: decoded")
        << flat(9, 8, 8, {160, 100, 170}, false).build() << QSize(8, 8) << QPoint(1, 1)
        << uint(QImage::fromData(flat(9, 8, 8, {160, 100, 170}, false).build(), "psd").pixel(1, 1));
    Document indexed = flat(2, 6, 6, {1}, false);
    indexed.colourModeData = QByteArray(768, 0);
    indexed.colourModeData[1] = char(10), indexed.colourModeData[257] = char(20),
    indexed.colourModeData[513] = char(30);
    QTest::newRow("indexed without thumbnail: decoded")
        << indexed.build() << QSize(6, 6) << QPoint(5, 5) << uint(qRgb(10, 20, 30));
    Document layers = flat(3, 4, 4, {255, 255, 255}, false);
    layers.layers = layerSection({Layer::filled(0, 0, 4, 4, {1, 2, 3})});
    QTest::newRow("blank merged picture with layers: composed")
        << layers.build() << QSize(4, 4) << QPoint(2, 2) << uint(qRgb(1, 2, 3));
    QTest::newRow("all white without thumbnail")
        << flat(3, 8, 8, {255, 255, 255}, false).build() << QSize() << QPoint() << 0u;
    QTest::newRow("all white with thumbnail") << flat(3, 8, 8, {255, 255, 255}, true).build()
                                              << QSize(160, 120) << QPoint(0, 0) << uint(kThumb);

    Document wide16 = flatRgb(4, 4, true, 0);
    wide16.depth = 16;
    for (QByteArray &plane : wide16.planes)
        plane += plane;
    QTest::newRow("16-bit rgb: the thumbnail")
        << wide16.build() << QSize(160, 120) << QPoint(0, 0) << uint(kThumb);
    Document zip = flatRgb(4, 4, true, 0);
    zip.compression = 2;
    QTest::newRow("zip with thumbnail")
        << zip.build() << QSize(160, 120) << QPoint(0, 0) << uint(kThumb);
    zip.resources.clear();
    QTest::newRow("zip without thumbnail") << zip.build() << QSize() << QPoint() << 0u;

    // Row counts, then rows: red holds a repeat run (-3) and a literal of one byte.
    Document runs = flatRgb(5, 1, false);
    const QByteArray runRows = be16(4) + be16(6) + be16(6) + QByteArray::fromHex("fd0700 09") +
                               QByteArray::fromHex("040102030405") +
                               QByteArray::fromHex("040102030405");
    const QByteArray runDoc = runs.header() + be32(0) + be32(0) + be32(0) + be16(1) + runRows;
    QTest::newRow("repeat run fills four pixels")
        << runDoc << QSize(5, 1) << QPoint(3, 0) << uint(qRgb(7, 4, 4));
    QTest::newRow("literal after the run")
        << runDoc << QSize(5, 1) << QPoint(4, 0) << uint(qRgb(9, 5, 5));

    Document alpha = flat(3, 2, 2, {10, 20, 30, 77}, false);
    alpha.layers = layersWithMergedAlpha(false);
    QTest::newRow("alpha channel, not premultiplied")
        << alpha.build() << QSize(2, 2) << QPoint(1, 1) << uint(qRgba(10, 20, 30, 77));
    Document selection = flat(3, 2, 2, {10, 20, 30, 0}, false);
    selection.resources += resourceBlock(1006, QByteArray("\x07"
                                                          "Alpha 1"));
    QTest::newRow("saved selection is not transparency")
        << selection.build() << QSize(2, 2) << QPoint(1, 1) << uint(qRgb(10, 20, 30));
    QTest::newRow("fourth channel without marks: alpha")
        << flat(3, 2, 2, {10, 20, 30, 77}, false).build() << QSize(2, 2) << QPoint(1, 1)
        << uint(qRgba(10, 20, 30, 77));
    Document longBlock = flatRgb(8, 8, false);
    longBlock.resources += QByteArray("8BIM") + be16(1000) + be16(0) + be32(1000) + "abcd";
    QTest::newRow("over-long resource block: the merged picture still")
        << longBlock.build() << QSize(8, 8) << QPoint(7, 7) << uint(kMerged);
    longBlock.resources.append(thumbnailResource(thumbPicture()));
    QTest::newRow("thumbnail after an over-long block is not found")
        << longBlock.build() << QSize(8, 8) << QPoint(0, 0) << uint(kMerged);
    QByteArray claims4Gb = flatRgb(4000, 3000, true).build();
    claims4Gb.replace(34 + 28 + 8, 4, be32(0xfffffff0)); // the thumbnail block's size
    QTest::newRow("thumbnail claims 4 GB: the merged picture")
        << claims4Gb << QSize(256, 192) << QPoint(100, 100) << uint(kMerged);
    Document odd = flat(3, 700, 300, {0, 0, 0}, false);
    for (quint32 y = 0; y < 300; ++y)
        for (int c = 0; c < 3; ++c)
            odd.planes[c][int(y * 700 + 350)] = char(255); // one bright column
    QTest::newRow("reduced by averaging")
        << odd.build() << QSize(256, 109) << QPoint(128, 50) << uint(qRgb(85, 85, 85));
    Document psbDoc = flatRgb(300, 100, false);
    psbDoc.version = 2;
    psbDoc.layers = layersWithMergedAlpha(true) + QByteArray(8, 0);
    psbDoc.channels = 4;
    psbDoc.planes << QByteArray(300 * 100, char(255));
    QTest::newRow("psb: 64-bit layer length, 32-bit row counts")
        << psbDoc.build() << QSize(256, 85) << QPoint(128, 40) << uint(kMerged);
}

void TestPsdPreview::previews()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QPoint, at);
    QFETCH(uint, pixel);

    const QImage image = preview(bytes);
    if (!size.isValid()) {
        QVERIFY(image.isNull());
        return;
    }
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QVERIFY2(near(image.pixel(at), pixel, 4), qPrintable(QString::number(image.pixel(at), 16)));
}

void TestPsdPreview::malformed_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray good = flatRgb(8, 8, false).build();
    auto patched = [](QByteArray b, int offset, const QByteArray &with) {
        b.replace(offset, with.size(), with);
        return b;
    };
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a document") << QByteArray("GIF89a, a picture of something else");
    QTest::newRow("version 3") << patched(good, 4, be16(3));
    QTest::newRow("header only") << good.left(26);
    QTest::newRow("colour-mode data past the end") << patched(good, 26, be32(0x7ffffff0));
    QTest::newRow("resources past the end") << patched(good, 30, be32(0xfffffff0));

    Document thumbed = flatRgb(4000, 3000, true);
    const QByteArray withThumb = thumbed.build();
    const int thumbSize = 34 + 28 + 8; // the size field of the second resource block
    QTest::newRow("thumbnail shorter than its header") << patched(withThumb, thumbSize, be32(8));
    QTest::newRow("resource walk cut short") << good.left(50);

    Document layered = flatRgb(8, 8, false);
    QByteArray layers = layered.build();
    QTest::newRow("layers past the end") << patched(layers, 34 + 28, be32(0x01000000));
    layered.version = 2;
    QByteArray psbLayers = layered.build();
    QTest::newRow("psb layers past the end, low 32 bits zero")
        << patched(psbLayers, 34 + 28, be64(quint64(1) << 40));
    QTest::newRow("rle row table cut short") << good.left(34 + 28 + 4 + 2 + 10);
    QTest::newRow("rle row longer than the file") << patched(good, 34 + 28 + 4 + 2, be16(0xffff));
    QTest::newRow("raw data cut short") << flatRgb(8, 8, false, 0).build().left(34 + 28 + 6 + 100);
    QByteArray huge = patched(good, 14, be32(300000) + be32(300000));
    QTest::newRow("psd 300000 x 300000") << huge;
    QTest::newRow("psb 300000 x 300000") << patched(huge, 4, be16(2));

    // Checked against the bytes that remain before anything is allocated.
    Document raw = flatRgb(1, 1, false, 0);
    raw.planes = {QByteArray(14 << 20, char(90))};
    QByteArray rawHuge = raw.build();
    rawHuge.replace(14, 8, be32(30000) + be32(30000));
    QTest::newRow("raw 30000 x 30000 with 14 MB") << rawHuge;
    QByteArray rowsPastEnd = good;
    rowsPastEnd.replace(34 + 28 + 4 + 2 + 2 * 23, 2, be16(0x7fff)); // last row of blue
    QTest::newRow("rle rows add up past the end") << rowsPastEnd;
    // Empty rows would be padded white: 2.9 million x 55 pixels from 1 KB of data.
    QByteArray wideRows = flatRgb(1, 55, false).build();
    wideRows.replace(18, 4, be32(2883685));
    QTest::newRow("rle rows far too short for the width") << wideRows;

    Document badJpeg = flat(4, 8, 8, {1, 2, 3, 4}, false);
    badJpeg.resources = resourceBlock(1036, QByteArray(28, 0) + "\xff\xd8\xff not really");
    QTest::newRow("thumbnail that is no picture") << badJpeg.build();
}

void TestPsdPreview::malformed()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(preview(bytes).isNull());
}

void TestPsdPreview::sequentialDevice()
{
    const QByteArray bytes = flatRgb(8, 8, false, 0).build();
    SequentialDevice device(bytes);
    const QImage fromStream = psdPreviewBitmap(&device);
    QVERIFY(!fromStream.isNull());
    QCOMPARE(fromStream, preview(bytes));
}

void TestPsdPreview::realDocuments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("merged"); // else the thumbnail

    QTest::newRow("rgb 4x4") << "colormodes_4x4_8bit_rgb.psd" << QSize(4, 4) << true;
    QTest::newRow("rgb rle, no thumbnail") << "1layer.psd" << QSize(101, 55) << true;
    QTest::newRow("rgb rle") << "hopper.psd" << QSize(128, 128) << true;
    QTest::newRow("grayscale") << "colormodes_4x4_8bit_grayscale.psd" << QSize(4, 4) << false;
    QTest::newRow("rgb 16 without thumbnail: decoded") << "16bit5x5.psd!" << QSize(5, 5) << true;
    QTest::newRow("cmyk") << "colormodes_4x4_8bit_cmyk.psd" << QSize(4, 4) << false;
    QTest::newRow("indexed") << "colormodes_4x4_8bit_index_color.psd" << QSize(4, 4) << false;
    QTest::newRow("rgb 16") << "16bit5x5.psd" << QSize(5, 5) << false;
}

void TestPsdPreview::realDocuments()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(bool, merged);

    // A name ending in "!" is the document with its thumbnail resource taken out.
    const bool withoutThumbnail = file.endsWith('!');
    if (withoutThumbnail) file.chop(1);
    const QString path = realDataPath(QStringLiteral("psd/") + file);
    REQUIRE_REAL_FILE(path);
    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    if (withoutThumbnail) {
        const int at = bytes.indexOf(QByteArray("8BIM\x04\x0c", 6));
        QVERIFY(at > 0);
        bytes[at + 5] = char(0x0d); // 1037, a resource of no interest here
    }
    const QImage image = preview(bytes);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    if (!merged) return;
    // The full decoder reads the same merged picture by a separate path.
    const QImage full = QImage::fromData(bytes, "psd").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image, full);
}

void TestPsdPreview::fromPath()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(flatRgb(20, 10, false).build());
    file.close();
    QCOMPARE(psdPreviewBitmap(file.fileName()).size(), QSize(20, 10));
    QCOMPARE(psdPreviewPixmap(file.fileName()).size(), QSize(20, 10));
    QVERIFY(psdPreviewBitmap(QStringLiteral("/nonexistent/picture.psd")).isNull());
    QVERIFY(psdPreviewPixmap(QStringLiteral("/nonexistent/picture.psd")).isNull());
}

QTEST_MAIN(TestPsdPreview)
#include "tst_psdpreview.moc"
