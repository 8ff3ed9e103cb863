#include "PsdTestDocument.h"
#include "support/RealData.h"
#include "support/SequentialDevice.h"

#include "formats/PsdConvert.h"
#include "formats/PsdDecoder.h"
#include "formats/PsdHeader.h"
#include "formats/PsdLabWide.h"
#include "formats/PsdPackBits.h"
#include "formats/PsdRowConverter.h"
#include "formats/QPsdHandler.h"
#include "formats/QPsdPlugin.h"

#include <QBuffer>
#include <QImageReader>
#include <QPluginLoader>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

using namespace psdtest;

Q_DECLARE_METATYPE(QVector<QRgb>)
Q_DECLARE_METATYPE(psd::PsdError)

namespace {

constexpr int kMaxPlanes = 5; // planes that a conversion reads

enum Mode { Bitmap = 0, Gray = 1, Indexed = 2, Rgb = 3, Cmyk = 4, Multi = 7, Duotone = 8, Lab = 9 };

Document document(int mode, int depth, quint32 width, quint32 height, QVector<QByteArray> planes)
{
    Document d;
    d.mode = quint16(mode);
    d.depth = quint16(depth);
    d.width = width;
    d.height = height;
    d.channels = quint16(planes.size());
    d.planes = planes;
    return d;
}

Document rle(Document d)
{
    d.compression = 1;
    return d;
}

Document psb(Document d)
{
    d.version = 2;
    return d;
}

// A 2 x 1 RGB document, the base of most malformed cases.
Document smallRgb()
{
    return document(Rgb, 8, 2, 1, {plane8({1, 2}), plane8({3, 4}), plane8({5, 6})});
}

QRgb cmykPixel(int c, int m, int y, int k, int a = 255)
{
    return QColor::fromCmyk(c, m, y, k, a).rgba();
}

bool decode(const QByteArray &bytes, QImage *image)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return psd::PsdDecoder(&buffer).read(image);
}

QVector<QRgb> pixelsOf(const QImage &image)
{
    QVector<QRgb> pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            pixels << image.pixel(x, y);
    return pixels;
}

// One plane of 32-bit big-endian floats.
QByteArray planeFloat(std::initializer_list<float> samples)
{
    QByteArray b;
    for (float v : samples) {
        quint32 bits;
        std::memcpy(&bits, &v, sizeof bits);
        b += be32(bits);
    }
    return b;
}

// Sample i of plane k of a test picture. With exhaustive, planes 0 and `pairedWith` run
// through every pair of values (one plane the low byte of i, the other the high byte), and
// the other planes through every value against both; otherwise the samples are seeded
// pseudo-random.
int testSample(int k, quint32 i, int pairedWith, bool exhaustive)
{
    if (!exhaustive) {
        quint32 v = i * 2654435761u + quint32(k) * 40503u + 12345u;
        v ^= v >> 15;
        v *= 2246822519u;
        v ^= v >> 13;
        return int(v >> 24);
    }
    if (k == pairedWith) return int((i >> 8) & 0xff);
    return int((i + quint32(k) * 85u) & 0xff);
}

// The colour of one pixel of an 8-bit document computed on its own, as the conversions
// define it: QColor for CMYK, labToRgba for Lab, the white matte removed by its formula.
QRgb referencePixel(int mode, int channels, const int *v)
{
    switch (mode) {
    case Gray:
        return channels == 1 ? qRgb(v[0], v[0], v[0]) : qRgba(v[0], v[0], v[0], v[1]);
    case Rgb: {
        if (channels == 3) return qRgb(v[0], v[1], v[2]);
        const int a = v[3];
        if (a == 0) return qRgba(v[0], v[1], v[2], 0);
        auto unmatte = [a](int c) { return int(quint8((255 * (c + a - 255)) / a)); };
        return qRgba(unmatte(v[0]), unmatte(v[1]), unmatte(v[2]), a);
    }
    case Cmyk:
        if (channels == 1) return cmykPixel(255 - v[0], 255 - v[0], 255 - v[0], 0);
        if (channels == 3) return cmykPixel(255 - v[0], 255 - v[1], 255 - v[2], 0);
        return cmykPixel(255 - v[0], 255 - v[1], 255 - v[2], 255 - v[3],
                         channels >= 5 ? v[4] : 255);
    default:
        return psd::labToRgba(v[0], v[1], v[2], channels >= 4 ? v[3] : 255);
    }
}

} // namespace

class TestPsd : public QObject
{
    Q_OBJECT
private slots:
    void conversion_data();
    void conversion();
    void bitmapWidthNotMultipleOf8_data();
    void bitmapWidthNotMultipleOf8();
    void labToRgba_data();
    void labToRgba();
    void tablesMatchPerPixelColours_data();
    void tablesMatchPerPixelColours();
    void rowConversionMatchesPerPixel_data();
    void rowConversionMatchesPerPixel();
    void everyLabColour();
    void rowCountsNotTrusted_data();
    void rowCountsNotTrusted();
    void refusals_data();
    void refusals();
    void sideLimits_data();
    void sideLimits();
    void packBits_data();
    void packBits();
    void interleavedSink();
    void realDocuments_data();
    void realDocuments();
    void readerFindsPlugin();
    void readerReadsBothVersions_data();
    void readerReadsBothVersions();
    void handlerPeeks();
    void sequentialDevice();
    void oneSignatureCheck_data();
    void oneSignatureCheck();
    void handlerFormatFollowsVersion();
    void sizeOptionFromHeaderOnly();
    void noSizeForRefusedHeaders_data();
    void noSizeForRefusedHeaders();
    void pluginCapabilities_data();
    void pluginCapabilities();
    void installableModule();
};

void TestPsd::conversion_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<QRgb>>("pixels");

    const QRgb black = 0xff000000, white = 0xffffffff;
    QTest::newRow("bitmap 1 bit") << document(Bitmap, 1, 8, 2, {plane8({0xf0, 0x0f})}).build()
                                  << int(QImage::Format_Mono)
                                  << QVector<QRgb>{black, black, black, black, white, white,
                                                   white, white, white, white, white, white,
                                                   black, black, black, black};

    QTest::newRow("gray 8") << document(Gray, 8, 3, 1, {plane8({0, 128, 255})}).build()
                            << int(QImage::Format_RGB32)
                            << QVector<QRgb>{black, qRgb(128, 128, 128), white};
    QTest::newRow("gray 8 alpha")
        << document(Gray, 8, 2, 1, {plane8({10, 200}), plane8({255, 7})}).build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgb(10, 10, 10), qRgba(200, 200, 200, 7)};
    QTest::newRow("gray 16 truncates")
        << document(Gray, 16, 3, 1, {plane16({0xffff, 0x8080, 0x807f})}).build()
        << int(QImage::Format_RGB32)
        << QVector<QRgb>{white, qRgb(128, 128, 128), qRgb(127, 127, 127)};
    QTest::newRow("gray 16 alpha")
        << document(Gray, 16, 1, 1, {plane16({0x4000}), plane16({0x8000})}).build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(63, 63, 63, 127)};
    QTest::newRow("gray 8 rle")
        << rle(document(Gray, 8, 5, 2, {plane8({9, 9, 9, 9, 9, 1, 2, 3, 4, 5})})).build()
        << int(QImage::Format_RGB32)
        << QVector<QRgb>{qRgb(9, 9, 9), qRgb(9, 9, 9), qRgb(9, 9, 9), qRgb(9, 9, 9), qRgb(9, 9, 9),
                         qRgb(1, 1, 1), qRgb(2, 2, 2), qRgb(3, 3, 3), qRgb(4, 4, 4), qRgb(5, 5, 5)};

    // Writers may let a run go on into the next row; the row byte counts then do not fit.
    Document acrossRows = document(Gray, 8, 2, 2, {});
    acrossRows.channels = 1;
    QTest::newRow("gray 8 rle, a run across rows")
        << acrossRows.header() + be32(0) + be32(0) + be32(0) + be16(1) + be16(2) + be16(0) +
               QByteArray::fromHex("fd05")
        << int(QImage::Format_RGB32)
        << QVector<QRgb>{qRgb(5, 5, 5), qRgb(5, 5, 5), qRgb(5, 5, 5), qRgb(5, 5, 5)};
    QTest::newRow("rgb 8 rle, wrong row counts")
        << smallRgb().header() + be32(0) + be32(0) + be32(0) + be16(1) + be16(9) + be16(0) +
               be16(0) + QByteArray::fromHex("0101 02 0103 04 0105 06")
        << int(QImage::Format_RGB32) << QVector<QRgb>{qRgb(1, 3, 5), qRgb(2, 4, 6)};

    Document indexed = document(Indexed, 8, 3, 1, {plane8({0, 1, 255})});
    indexed.colourModeData = QByteArray(768, 0);
    indexed.colourModeData[1] = 10;          // red of entry 1
    indexed.colourModeData[256 + 1] = 20;    // green of entry 1
    indexed.colourModeData[512 + 1] = 30;    // blue of entry 1
    indexed.colourModeData[255] = char(255); // red of entry 255
    QTest::newRow("indexed") << indexed.build() << int(QImage::Format_Indexed8)
                             << QVector<QRgb>{black, qRgb(10, 20, 30), qRgb(255, 0, 0)};
    Document shortPalette = document(Indexed, 8, 2, 1, {plane8({1, 0})});
    shortPalette.colourModeData = plane8({1, 2, 3, 4, 5, 6}); // two entries
    QTest::newRow("indexed short palette") << shortPalette.build() << int(QImage::Format_Indexed8)
                                           << QVector<QRgb>{qRgb(2, 4, 6), qRgb(1, 3, 5)};

    const QVector<QByteArray> rgb8 = {plane8({255, 0}), plane8({128, 64}), plane8({0, 32})};
    QTest::newRow("rgb 8") << document(Rgb, 8, 2, 1, rgb8).build() << int(QImage::Format_RGB32)
                           << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
    QTest::newRow("rgb 8 rle") << rle(document(Rgb, 8, 2, 1, rgb8)).build()
                               << int(QImage::Format_RGB32)
                               << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
    // Expansion stops once the planes are full: what follows is never expanded.
    QTest::newRow("rgb 8 rle, runs after the planes")
        << rle(document(Rgb, 8, 2, 1, rgb8)).build() + QByteArray(1 << 20, char(0x81))
        << int(QImage::Format_RGB32) << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
    QTest::newRow("rgb 8 alpha, white matte removed")
        << document(Rgb, 8, 3, 1,
                    {plane8({255, 9, 200}), plane8({128, 8, 100}), plane8({0, 7, 50}),
                     plane8({128, 0, 255})})
               .build()
        << int(QImage::Format_ARGB32)
        << QVector<QRgb>{qRgba(255, 1, 3, 128), qRgba(9, 8, 7, 0), qRgb(200, 100, 50)};
    QTest::newRow("rgb 8, five channels")
        << document(Rgb, 8, 1, 1,
                    {plane8({10}), plane8({20}), plane8({30}), plane8({255}), plane8({0})})
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgb(10, 20, 30)};
    QTest::newRow("rgb 16") << document(Rgb, 16, 1, 1,
                                        {plane16({0xffff}), plane16({0x0101}), plane16({0x0100})})
                                   .build()
                            << int(QImage::Format_RGB32) << QVector<QRgb>{qRgb(255, 1, 0)};
    QTest::newRow("rgb 16 alpha, no matte removal")
        << document(Rgb, 16, 1, 1,
                    {plane16({0xffff}), plane16({0x8080}), plane16({0}), plane16({0x8080})})
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(255, 128, 0, 128)};
    QTest::newRow("rgb 16 rle") << rle(document(Rgb, 16, 2, 1,
                                                {plane16({0xffff, 0xffff}), plane16({0, 0}),
                                                 plane16({0x0202, 0x0303})}))
                                       .build()
                                << int(QImage::Format_RGB32)
                                << QVector<QRgb>{qRgb(255, 0, 2), qRgb(255, 0, 3)};

    // CMYK samples are stored inverted: 255 means no ink.
    QTest::newRow("cmyk 8") << document(Cmyk, 8, 2, 1,
                                        {plane8({255, 0}), plane8({255, 255}), plane8({255, 255}),
                                         plane8({255, 200})})
                                   .build()
                            << int(QImage::Format_RGB32)
                            << QVector<QRgb>{white, cmykPixel(255, 0, 0, 55)};
    QTest::newRow("cmyk 8, one channel")
        << document(Cmyk, 8, 2, 1, {plane8({255, 100})}).build() << int(QImage::Format_RGB32)
        << QVector<QRgb>{white, cmykPixel(155, 155, 155, 0)};
    QTest::newRow("cmyk 8, three channels")
        << document(Cmyk, 8, 1, 1, {plane8({0}), plane8({255}), plane8({128})}).build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(255, 0, 127, 0)};
    QTest::newRow("cmyk 8 alpha as read")
        << document(Cmyk, 8, 1, 1,
                    {plane8({255}), plane8({255}), plane8({0}), plane8({255}), plane8({64})})
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{cmykPixel(0, 0, 255, 0, 64)};
    QTest::newRow("cmyk 16") << document(Cmyk, 16, 1, 1,
                                         {plane16({0xffff}), plane16({0}), plane16({0xffff}),
                                          plane16({0xffff})})
                                    .build()
                             << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(0, 255, 0, 0)};
    QTest::newRow("cmyk 16 alpha inverted")
        << document(Cmyk, 16, 1, 1,
                    {plane16({0xffff}), plane16({0xffff}), plane16({0xffff}), plane16({0xffff}),
                     plane16({0x4040})})
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(255, 255, 255, 191)};
    // At 16 bits, one to three channels decode as at 8 bits once reduced.
    QTest::newRow("cmyk 16, one channel")
        << document(Cmyk, 16, 2, 1, {plane16({0xffff, 100 * 257})}).build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{white, cmykPixel(155, 155, 155, 0)};
    QTest::newRow("cmyk 16, three channels")
        << document(Cmyk, 16, 1, 1, {plane16({0}), plane16({0xffff}), plane16({128 * 257})}).build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(255, 0, 127, 0)};
    QTest::newRow("multichannel 16, one channel")
        << document(Multi, 16, 1, 1, {plane16({100 * 257})}).build() << int(QImage::Format_RGB32)
        << QVector<QRgb>{cmykPixel(155, 155, 155, 0)};
    QTest::newRow("multichannel 16, three channels")
        << document(Multi, 16, 1, 1, {plane16({0}), plane16({0xffff}), plane16({128 * 257})})
               .build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(255, 0, 127, 0)};
    // Extra channels the document names (saved selections, spot colours) are not alpha.
    Document selection = document(
        Rgb, 8, 2, 1, {plane8({255, 0}), plane8({128, 64}), plane8({0, 32}), plane8({0, 0})});
    selection.resources = resourceBlock(1006, QByteArray("\x07"
                                                         "Alpha 1"));
    QTest::newRow("rgb 8, fourth channel a saved selection")
        << selection.build() << int(QImage::Format_RGB32)
        << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
    selection.layers = layersWithMergedAlpha(false);
    QTest::newRow("rgb 8, transparency marked beside a named channel")
        << selection.build() << int(QImage::Format_ARGB32)
        << QVector<QRgb>{qRgba(255, 128, 0, 0), qRgba(0, 64, 32, 0)};
    Document spot = document(
        Cmyk, 8, 1, 1, {plane8({255}), plane8({255}), plane8({0}), plane8({255}), plane8({0})});
    spot.resources = resourceBlock(1053, be32(1));
    QTest::newRow("cmyk 8, spot channel")
        << spot.build() << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(0, 0, 255, 0)};
    spot.resources = resourceBlock(1045, be32(4) + QByteArray("\0S\0p\0o\0t", 8));
    QTest::newRow("cmyk 8, unicode-named channel")
        << spot.build() << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(0, 0, 255, 0)};
    // 32-bit samples are linear light: encoded for sRGB, clamped; alpha only clamped.
    QTest::newRow("gray 32")
        << document(Gray, 32, 4, 1, {planeFloat({0.5f, 2.0f, -1.0f, 0.001f})}).build()
        << int(QImage::Format_RGB32)
        << QVector<QRgb>{qRgb(188, 188, 188), white, black, qRgb(3, 3, 3)};
    QTest::newRow("gray 32 alpha")
        << document(Gray, 32, 1, 1, {planeFloat({0.2f}), planeFloat({0.5f})}).build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(124, 124, 124, 128)};
    QTest::newRow("rgb 32") << document(Rgb, 32, 2, 1,
                                        {planeFloat({1.0f, 0.18f}), planeFloat({0.5f, 0.0f}),
                                         planeFloat({0.0f, 7.0f})})
                                   .build()
                            << int(QImage::Format_RGB32)
                            << QVector<QRgb>{qRgb(255, 188, 0), qRgb(118, 0, 255)};
    QTest::newRow("rgb 32 alpha, rle")
        << rle(document(Rgb, 32, 1, 1,
                        {planeFloat({0.5f}), planeFloat({0.5f}), planeFloat({0.5f}),
                         planeFloat({1.5f})}))
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(188, 188, 188, 255)};
    QTest::newRow("cmyk 8 rle")
        << rle(document(Cmyk, 8, 1, 1, {plane8({0}), plane8({0}), plane8({0}), plane8({255})}))
               .build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(255, 255, 255, 0)};
    QTest::newRow("multichannel 8")
        << document(Multi, 8, 1, 1, {plane8({255}), plane8({0}), plane8({255}), plane8({255})})
               .build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(0, 255, 0, 0)};
    QTest::newRow("multichannel 16")
        << document(Multi, 16, 1, 1,
                    {plane16({0}), plane16({0xffff}), plane16({0xffff}), plane16({0xffff})})
               .build()
        << int(QImage::Format_RGB32) << QVector<QRgb>{cmykPixel(255, 0, 0, 0)};

    QTest::newRow("duotone") << document(Duotone, 8, 2, 1, {plane8({0, 77})}).build()
                             << int(QImage::Format_RGB32) << QVector<QRgb>{black, qRgb(77, 77, 77)};

    QTest::newRow("lab 8") << document(Lab, 8, 2, 1,
                                       {plane8({255, 128}), plane8({128, 200}), plane8({128, 60})})
                                  .build()
                           << int(QImage::Format_RGB32) << QVector<QRgb>{white, qRgb(154, 46, 232)};
    QTest::newRow("lab 8 alpha")
        << document(Lab, 8, 1, 1, {plane8({128}), plane8({128}), plane8({128}), plane8({51})})
               .build()
        << int(QImage::Format_ARGB32) << QVector<QRgb>{qRgba(110, 110, 110, 51)};
    QTest::newRow("lab 16") << document(Lab, 16, 1, 1,
                                        {plane16({0x8080}), plane16({0xc8c8}), plane16({0x3c3c})})
                                   .build()
                            << int(QImage::Format_RGB32) << QVector<QRgb>{qRgb(154, 46, 232)};
    QTest::newRow("lab 16 alpha") << document(Lab, 16, 1, 1,
                                              {plane16({0xffff}), plane16({0x8080}),
                                               plane16({0x8080}), plane16({0x0202})})
                                         .build()
                                  << int(QImage::Format_ARGB32)
                                  << QVector<QRgb>{qRgba(255, 255, 255, 2)};

    QTest::newRow("psb raw") << psb(document(Rgb, 8, 2, 1, rgb8)).build()
                             << int(QImage::Format_RGB32)
                             << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
    Document psbRle = psb(rle(document(Gray, 8, 4, 2, {plane8({1, 1, 1, 1, 2, 3, 4, 5})})));
    psbRle.layers = layersWithMergedAlpha(true);
    QTest::newRow("psb rle with layers")
        << psbRle.build() << int(QImage::Format_RGB32)
        << QVector<QRgb>{qRgb(1, 1, 1), qRgb(1, 1, 1), qRgb(1, 1, 1), qRgb(1, 1, 1),
                         qRgb(2, 2, 2), qRgb(3, 3, 3), qRgb(4, 4, 4), qRgb(5, 5, 5)};
    Document withSections = document(Rgb, 8, 2, 1, rgb8);
    withSections.colourModeData = QByteArray(5, 'x');
    withSections.resources = resourceBlock(1005, QByteArray(16, 'r'));
    withSections.layers = layersWithMergedAlpha(false);
    QTest::newRow("sections skipped") << withSections.build() << int(QImage::Format_RGB32)
                                      << QVector<QRgb>{qRgb(255, 128, 0), qRgb(0, 64, 32)};
}

void TestPsd::conversion()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, format);
    QFETCH(QVector<QRgb>, pixels);

    QImage image;
    QVERIFY(decode(bytes, &image));
    QCOMPARE(int(image.format()), format);
    QCOMPARE(pixelsOf(image), pixels);
}

void TestPsd::bitmapWidthNotMultipleOf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const Document d = document(Bitmap, 1, 10, 2, {plane8({0xff, 0xc0, 0, 0})});
    QTest::newRow("raw") << d.build();
    QTest::newRow("rle") << rle(d).build();
}

void TestPsd::bitmapWidthNotMultipleOf8()
{
    // Rows are padded to whole bytes: ten pixels take two bytes a row.
    QFETCH(QByteArray, bytes);
    QImage image;
    QVERIFY(decode(bytes, &image));
    QCOMPARE(image.size(), QSize(10, 2));
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
    QCOMPARE(pixelsOf(image),
             (QVector<QRgb>{black, black, black, black, black, black, black, black, black, black,
                            white, white, white, white, white, white, white, white, white, white}));
}

void TestPsd::labToRgba_data()
{
    QTest::addColumn<double>("L");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<uint>("rgba");

    QTest::newRow("white") << 255.0 << 128.0 << 128.0 << 255 << uint(0xffffffff);
    QTest::newRow("middle gray") << 128.0 << 128.0 << 128.0 << 255 << uint(qRgb(110, 110, 110));
    QTest::newRow("purple") << 128.0 << 200.0 << 60.0 << 255 << uint(qRgb(154, 46, 232));
    QTest::newRow("green, negatives cut") << 50.0 << 30.0 << 220.0 << 255 << uint(qRgb(0, 59, 0));
    QTest::newRow("zero lightness") << 0.0 << 128.0 << 128.0 << 100 << uint(qRgba(17, 0, 14, 100));
}

void TestPsd::labToRgba()
{
    QFETCH(double, L);
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(int, alpha);
    QFETCH(uint, rgba);
    QCOMPARE(uint(psd::labToRgba(L, a, b, alpha)), rgba);
}

void TestPsd::tablesMatchPerPixelColours_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("channels");
    QTest::newRow("cmyk") << int(Cmyk) << 4;
    QTest::newRow("cmyk alpha") << int(Cmyk) << 5;
    QTest::newRow("lab") << int(Lab) << 3;
    QTest::newRow("lab alpha") << int(Lab) << 4;
}

void TestPsd::tablesMatchPerPixelColours()
{
    // Conversions by table give what QColor gives pixel by pixel, for many samples.
    QFETCH(int, mode);
    QFETCH(int, channels);
    const quint32 width = 4096;
    QVector<QByteArray> planes(channels, QByteArray(int(width), 0));
    quint32 seed = 12345;
    for (QByteArray &plane : planes) {
        for (char &sample : plane) {
            seed = seed * 1664525u + 1013904223u;
            sample = char(seed >> 24);
        }
    }
    QImage image;
    QVERIFY(decode(document(mode, 8, width, 1, planes).build(), &image));
    for (quint32 x = 0; x < width; ++x) {
        auto at = [&](int k) { return int(uchar(planes[k][int(x)])); };
        QRgb expected;
        if (mode == Cmyk)
            expected = cmykPixel(255 - at(0), 255 - at(1), 255 - at(2), 255 - at(3),
                                 channels == 5 ? at(4) : 255);
        else
            expected = psd::labToRgba(at(0), at(1), at(2), channels == 4 ? at(3) : 255);
        QCOMPARE(image.pixel(int(x), 0), expected);
    }
}

void TestPsd::rowConversionMatchesPerPixel_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("pairedWith"); // -1: seeded samples; -2: seeded runs of 24
    QTest::addColumn<int>("side");

    // 256 x 256 pixels hold every pair of values of two planes.
    QTest::newRow("cmyk, every ink with every black") << int(Cmyk) << 4 << 3 << 256;
    QTest::newRow("cmyk alpha, every ink with every black") << int(Cmyk) << 5 << 3 << 256;
    QTest::newRow("cmyk, 6 channels") << int(Cmyk) << 6 << 3 << 256;
    QTest::newRow("cmyk, 3 channels") << int(Cmyk) << 3 << 1 << 256;
    QTest::newRow("cmyk, 1 channel") << int(Cmyk) << 1 << 0 << 16;
    QTest::newRow("rgb alpha, every colour with every alpha") << int(Rgb) << 4 << 3 << 256;
    QTest::newRow("rgb") << int(Rgb) << 3 << 1 << 256;
    QTest::newRow("gray") << int(Gray) << 1 << 0 << 16;
    QTest::newRow("gray alpha") << int(Gray) << 2 << 1 << 256;
    QTest::newRow("lab, every a with every L") << int(Lab) << 3 << 0 << 256;
    QTest::newRow("lab alpha, seeded") << int(Lab) << 4 << -1 << 256;
    // Large enough for the table of colours met so far.
    const int large = 2048;
    QVERIFY(qint64(large) * large >= psd::RowConverter::kLabMemoPixels);
    QTest::newRow("rgb, seeded, large") << int(Rgb) << 3 << -1 << large;
    QTest::newRow("cmyk, seeded, large") << int(Cmyk) << 4 << -1 << large;
    QTest::newRow("lab, seeded, large") << int(Lab) << 3 << -1 << large;
    QTest::newRow("lab alpha, seeded, large") << int(Lab) << 4 << -1 << large;
    QTest::newRow("lab, seeded runs, large") << int(Lab) << 3 << -2 << large;
    QTest::newRow("lab alpha, seeded runs, large") << int(Lab) << 4 << -2 << large;
}

void TestPsd::rowConversionMatchesPerPixel()
{
    // Raw data take the planar or in-place conversion, run-length data the row by row
    // expansion; both give, for every pixel, the colour computed on its own.
    QFETCH(int, mode);
    QFETCH(int, channels);
    QFETCH(int, pairedWith);
    QFETCH(int, side);
    const quint32 pixels = quint32(side) * quint32(side);
    QVector<QByteArray> planes(channels, QByteArray(int(pixels), 0));
    for (int k = 0; k < channels; ++k) {
        char *p = planes[k].data();
        for (quint32 i = 0; i < pixels; ++i)
            p[i] = char(pairedWith == -2 ? testSample(k, i / 24, -1, false)
                                         : testSample(k, i, pairedWith, pairedWith >= 0));
    }
    const Document raw = document(mode, 8, quint32(side), quint32(side), planes);
    for (const Document &d : {raw, rle(raw)}) {
        QImage image;
        QVERIFY(decode(d.build(), &image));
        QCOMPARE(image.size(), QSize(side, side));
        for (int y = 0; y < side; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < side; ++x) {
                const int i = y * side + x;
                int v[kMaxPlanes] = {};
                for (int k = 0; k < qMin(channels, kMaxPlanes); ++k)
                    v[k] = uchar(planes[k][i]);
                const QRgb expected = referencePixel(mode, channels, v);
                if (line[x] != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 pixel (%2, %3): %4, expected %5")
                                         .arg(d.compression ? "run-length" : "raw")
                                         .arg(x)
                                         .arg(y)
                                         .arg(line[x], 8, 16)
                                         .arg(expected, 8, 16)));
            }
        }
    }
}

void TestPsd::everyLabColour()
{
    // All 2^24 colours of 8-bit Lab, each once, through every way a row can be converted:
    // each wide kernel this processor runs (first of them the one documents use), and without
    // them the table of colours met so far and the plain per-pixel one. Odd rows carry alpha.
    const int side = 4096;
    psd::PsdHeader opaque{};
    opaque.mode = Lab;
    opaque.depth = 8;
    opaque.channels = 3;
    psd::PsdHeader translucent = opaque;
    translucent.channels = 4;
    const qint64 all = qint64(side) * side;
    struct Way
    {
        QString name;
        std::function<void(const uchar *const *, bool, QRgb *)> convert;
    };
    std::vector<Way> ways;
    for (const bool memo : {true, false}) {
        auto plain = std::make_shared<std::pair<psd::RowConverter, psd::RowConverter>>(
            psd::RowConverter(opaque, memo ? all : 1, false),
            psd::RowConverter(translucent, memo ? all : 1, false));
        ways.push_back({memo ? "table of colours met so far" : "per pixel",
                        [plain](const uchar *const *rows, bool alpha, QRgb *out) {
                            (alpha ? plain->second : plain->first).convert(rows, side, out);
                        }});
    }
    const auto exact = std::make_shared<psd::LabTable>();
    for (const psd::WideLabKernel &kernel : psd::wideLabKernels()) {
        ways.push_back(
            {kernel.name, [kernel, exact](const uchar *const *rows, bool alpha, QRgb *out) {
                 kernel.convert(rows[0], rows[1], rows[2], alpha ? rows[3] : nullptr, side, out,
                                *exact);
             }});
    }
    QByteArray planes(4 * side, 0);
    uchar *p = reinterpret_cast<uchar *>(planes.data());
    const uchar *const rows[4] = {p, p + side, p + 2 * side, p + 3 * side};
    QVector<QRgb> expected(side), got(side);
    for (int row = 0; row < side; ++row) {
        const bool alpha = row & 1;
        for (int i = 0; i < side; ++i) {
            const int colour = row * side + i;
            p[i] = uchar(colour >> 16);
            p[side + i] = uchar(colour >> 8);
            p[2 * side + i] = uchar(colour);
            p[3 * side + i] = uchar(i * 7 + row);
            expected[i] =
                psd::labToRgba(p[i], p[side + i], p[2 * side + i], alpha ? p[3 * side + i] : 255);
        }
        for (const Way &way : ways) {
            way.convert(rows, alpha, got.data());
            for (int i = 0; i < side; ++i) {
                if (got[i] != expected[i])
                    QFAIL(qPrintable(QStringLiteral("%1: Lab %2 %3 %4: %5, expected %6")
                                         .arg(way.name)
                                         .arg(p[i])
                                         .arg(p[side + i])
                                         .arg(p[2 * side + i])
                                         .arg(got[i], 8, 16)
                                         .arg(expected[i], 8, 16)));
            }
        }
    }
}

void TestPsd::rowCountsNotTrusted_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("same"); // decodes to the same picture; empty: refused
    QTest::addColumn<psd::PsdError>("reason");

    // Row counts follow the compression field at 40 in documents without sections.
    const Document rgb = document(
        Rgb, 8, 3, 2,
        {plane8({1, 2, 3, 4, 5, 6}), plane8({7, 7, 7, 7, 7, 7}), plane8({9, 8, 7, 9, 8, 7})});
    QByteArray zeroCounts = rle(rgb).build();
    zeroCounts.replace(40, 12, QByteArray(12, 0));
    QTest::newRow("counts all zero") << zeroCounts << rgb.build() << psd::PsdError::None;

    // Plane 1 is one run of six samples across both rows, counted in the first.
    QByteArray crossing = rle(rgb).build();
    const int plane1 = 40 + 12 + 2 * 4; // two literal rows of three samples
    QCOMPARE(crossing.mid(plane1, 4), QByteArray::fromHex("fe07fe07"));
    crossing.replace(plane1, 4, QByteArray::fromHex("fb07"));
    crossing.replace(40 + 4, 4, be16(2) + be16(0));
    QTest::newRow("run across rows") << crossing << rgb.build() << psd::PsdError::None;

    // A sixth CMYK channel is not shown, yet damage in it is refused as before.
    QVector<QByteArray> six(6, plane8({10, 20, 30, 40}));
    const Document cmyk = document(Cmyk, 8, 2, 2, six);
    QTest::newRow("sixth channel read") << rle(cmyk).build() << cmyk.build() << psd::PsdError::None;
    QByteArray damaged = rle(cmyk).build();
    damaged.chop(3); // the last row's literal run of two
    damaged += QByteArray::fromHex("8f01");
    QTest::newRow("sixth channel overflows")
        << damaged << QByteArray() << psd::PsdError::ImageDataCorrupt;
    QByteArray shortSixth = rle(cmyk).build();
    shortSixth.chop(1);
    QTest::newRow("sixth channel short")
        << shortSixth << QByteArray() << psd::PsdError::ImageDataTruncated;

    // Large enough to be expanded by several threads: a wrong count far down the picture
    // still ends in the picture the runs make.
    const quint32 side = 1024;
    QVector<QByteArray> planes(3, QByteArray(int(side * side), 0));
    for (int k = 0; k < 3; ++k)
        for (quint32 i = 0; i < side * side; ++i) // flat and noisy rows by turns
            planes[k][int(i)] = char((i / side) % 2 ? testSample(k, i, -1, false) : k * 60);
    const Document large = document(Rgb, 8, side, side, planes);
    QByteArray swapped = rle(large).build();
    const int row900 = 40 + 2 * int(2 * side + 900); // plane 2, rows 900 and 901
    QVERIFY(swapped.mid(row900, 2) != swapped.mid(row900 + 2, 2));
    const QByteArray counts = swapped.mid(row900, 4);
    swapped.replace(row900, 4, counts.mid(2) + counts.left(2));
    QTest::newRow("large, two counts swapped") << swapped << large.build() << psd::PsdError::None;
}

void TestPsd::rowCountsNotTrusted()
{
    // Documents whose row counts disagree with their runs decode as the runs say.
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, same);
    QFETCH(psd::PsdError, reason);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    psd::PsdDecoder decoder(&buffer);
    QImage image;
    QCOMPARE(decoder.read(&image), !same.isEmpty());
    QCOMPARE(decoder.error(), reason);
    if (same.isEmpty()) return;
    QImage expected;
    QVERIFY(decode(same, &expected));
    QCOMPARE(image, expected);
}

void TestPsd::refusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<psd::PsdError>("reason"); // the check that must refuse it
    using E = psd::PsdError;

    const QByteArray good = smallRgb().build();
    auto patched = [&](int offset, const QByteArray &with) {
        QByteArray b = good;
        b.replace(offset, with.size(), with);
        return b;
    };
    QTest::newRow("empty") << QByteArray() << E::NotPsd;
    QTest::newRow("signature") << patched(0, "8BPX") << E::NotPsd;
    QTest::newRow("version 0") << patched(4, be16(0)) << E::NotPsd;
    QTest::newRow("version 3") << patched(4, be16(3)) << E::NotPsd;
    QTest::newRow("no channels") << patched(12, be16(0)) << E::HeaderOutOfRange;
    QTest::newRow("height 0") << patched(14, be32(0)) << E::HeaderOutOfRange;
    QTest::newRow("width 0") << patched(18, be32(0)) << E::HeaderOutOfRange;
    QTest::newRow("psd 30001 rows") << patched(14, be32(30001)) << E::HeaderOutOfRange;
    QTest::newRow("depth 4") << patched(22, be16(4)) << E::HeaderOutOfRange;
    QTest::newRow("mode 5") << patched(24, be16(5)) << E::HeaderOutOfRange;
    QTest::newRow("mode 6") << patched(24, be16(6)) << E::HeaderOutOfRange;
    QTest::newRow("mode 10") << patched(24, be16(10)) << E::HeaderOutOfRange;
    QTest::newRow("header only") << good.left(26) << E::SectionTruncated;
    QTest::newRow("colour-mode data past the end")
        << patched(26, be32(0xffffffff)) << E::SectionTruncated;
    QTest::newRow("resources past the end") << patched(30, be32(0x7fffffff)) << E::SectionTruncated;
    QTest::newRow("layers past the end") << patched(34, be32(0x10000)) << E::SectionTruncated;
    Document psbLayers = psb(smallRgb());
    QByteArray psbBytes = psbLayers.build();
    psbBytes.replace(34, 8, be64(quint64(1) << 40));
    QTest::newRow("psb layers past the end, low 32 bits zero") << psbBytes << E::SectionTruncated;
    QTest::newRow("compression 2") << patched(38, be16(2)) << E::UnsupportedCompression;
    QTest::newRow("compression 3") << patched(38, be16(3)) << E::UnsupportedCompression;
    QTest::newRow("raw data truncated") << good.left(good.size() - 1) << E::ImageDataTruncated;

    const QByteArray rleGood = rle(smallRgb()).build();
    QTest::newRow("rle truncated") << rleGood.left(rleGood.size() - 1) << E::ImageDataTruncated;
    QTest::newRow("rle row table past the end") << rleGood.left(40 + 3) << E::ImageDataTruncated;
    Document expanding = rle(smallRgb());
    QByteArray expandingBytes = expanding.header() + be32(0) + be32(0) + be32(0) + be16(1) +
                                be16(2) + be16(2) + be16(2) + QByteArray::fromHex("f907");
    QTest::newRow("rle run beyond the planes") << expandingBytes << E::ImageDataCorrupt;
    QTest::newRow("rle only no-ops") << expanding.header() + be32(0) + be32(0) + be32(0) + be16(1) +
                                            QByteArray(6, 0) + QByteArray(64, char(0x80))
                                     << E::ImageDataTruncated;

    QByteArray huge = psb(smallRgb()).build();
    huge.replace(14, 8, be32(300000) + be32(300000));
    QTest::newRow("psb 300000 x 300000, little data") << huge << E::PictureTooLarge;
    QByteArray hugeRle = psb(rle(smallRgb())).build();
    hugeRle.replace(14, 8, be32(300000) + be32(300000));
    QTest::newRow("psb 300000 x 300000 rle") << hugeRle << E::PictureTooLarge;
    QByteArray bigPsd = rle(smallRgb()).build();
    bigPsd.replace(14, 8, be32(30000) + be32(30000));
    QTest::newRow("psd 30000 x 30000, little data") << bigPsd << E::ImageDataTruncated;

    QTest::newRow("rgb, one channel")
        << document(Rgb, 8, 1, 1, {plane8({1})}).build() << E::UnsupportedKind;
    QTest::newRow("rgb, two channels")
        << document(Rgb, 8, 1, 1, {plane8({1}), plane8({2})}).build() << E::UnsupportedKind;
    QTest::newRow("rgb 1 bit")
        << document(Rgb, 1, 8, 1, {plane8({1}), plane8({1}), plane8({1})}).build()
        << E::UnsupportedKind;
    QTest::newRow("gray 1 bit") << document(Gray, 1, 8, 1, {plane8({1})}).build()
                                << E::UnsupportedKind;
    QTest::newRow("indexed 16") << document(Indexed, 16, 1, 1, {plane16({1})}).build()
                                << E::UnsupportedKind;
    QTest::newRow("indexed, two channels")
        << document(Indexed, 8, 1, 1, {plane8({1}), plane8({1})}).build() << E::UnsupportedKind;
    QTest::newRow("cmyk 8, two channels")
        << document(Cmyk, 8, 1, 1, {plane8({1}), plane8({1})}).build() << E::UnsupportedKind;
    QTest::newRow("cmyk 1 bit")
        << document(Cmyk, 1, 8, 1, {plane8({1}), plane8({1}), plane8({1}), plane8({1})}).build()
        << E::UnsupportedKind;
    QTest::newRow("multichannel 32")
        << document(Multi, 32, 1, 1, {QByteArray(4, 1)}).build() << E::UnsupportedKind;
    QTest::newRow("duotone 16") << document(Duotone, 16, 1, 1, {plane16({1})}).build()
                                << E::UnsupportedKind;
    QTest::newRow("duotone, two channels")
        << document(Duotone, 8, 1, 1, {plane8({1}), plane8({1})}).build() << E::UnsupportedKind;
    QTest::newRow("lab, two channels")
        << document(Lab, 8, 1, 1, {plane8({1}), plane8({1})}).build() << E::UnsupportedKind;
    QTest::newRow("lab 16, two channels")
        << document(Lab, 16, 1, 1, {plane16({1}), plane16({1})}).build() << E::UnsupportedKind;
    QTest::newRow("lab 1 bit")
        << document(Lab, 1, 8, 1, {plane8({1}), plane8({1}), plane8({1})}).build()
        << E::UnsupportedKind;
}

void TestPsd::refusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(psd::PsdError, reason);

    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QImage before = image;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    psd::PsdDecoder decoder(&buffer);
    QVERIFY(!decoder.read(&image));
    QCOMPARE(decoder.error(), reason);
    QCOMPARE(image, before);

    // The plug-in's handler gives the same reason, and says it in words.
    buffer.seek(0);
    QPsdHandler handler;
    handler.setDevice(&buffer);
    QVERIFY(!handler.read(&image));
    QCOMPARE(handler.error(), reason);
    QCOMPARE(handler.errorString(), psd::errorText(reason));
    QVERIFY(!handler.errorString().isEmpty());
}

void TestPsd::sideLimits_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<uint>("width");
    QTest::addColumn<uint>("height");
    QTest::addColumn<bool>("valid");

    QTest::newRow("psd 30000 x 30000") << 1 << 30000u << 30000u << true;
    QTest::newRow("psd 30001 rows") << 1 << 1u << 30001u << false;
    QTest::newRow("psd 30001 columns") << 1 << 30001u << 1u << false;
    QTest::newRow("psd width 0") << 1 << 0u << 1u << false;
    QTest::newRow("psb 300000 x 300000") << 2 << 300000u << 300000u << true;
    QTest::newRow("psb 300001 rows") << 2 << 1u << 300001u << false;
    QTest::newRow("psb top bit set") << 2 << 0x80000000u << 1u << false;
}

void TestPsd::sideLimits()
{
    QFETCH(int, version);
    QFETCH(uint, width);
    QFETCH(uint, height);
    QFETCH(bool, valid);

    Document d = smallRgb();
    d.version = quint16(version);
    d.width = width;
    d.height = height;
    const QByteArray head = d.header();
    psd::PsdHeader header;
    QVERIFY(psd::PsdHeader::parse(head.constData(), head.size(), &header));
    QCOMPARE(header.isValid(), valid);
}

void TestPsd::packBits_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("consumed");
    QTest::addColumn<bool>("overflow");

    QTest::newRow("literal and repeat")
        << QByteArray::fromHex("0161 62fd 7a") << 6 << QByteArray("abzzzz") << 5 << false;
    QTest::newRow("no-op skipped")
        << QByteArray::fromHex("80 00 41") << 1 << QByteArray("A") << 3 << false;
    QTest::newRow("stops when full")
        << QByteArray::fromHex("0041 0042") << 1 << QByteArray("A") << 2 << false;
    QTest::newRow("repeat would overflow")
        << QByteArray::fromHex("0041 8142") << 3 << QByteArray("A") << 2 << true;
    QTest::newRow("literal cut short waits")
        << QByteArray::fromHex("0041 0342") << 8 << QByteArray("A") << 2 << false;
    QTest::newRow("repeat cut short waits")
        << QByteArray::fromHex("fe") << 8 << QByteArray() << 0 << false;
}

void TestPsd::packBits()
{
    QFETCH(QByteArray, input);
    QFETCH(int, limit);
    QFETCH(QByteArray, output);
    QFETCH(int, consumed);
    QFETCH(bool, overflow);

    QByteArray out(limit, '\0');
    psd::PlaneSink sink(reinterpret_cast<uchar *>(out.data()), quint64(limit), quint64(limit));
    psd::PackBitsDecoder decoder(sink);
    QCOMPARE(decoder.feed(reinterpret_cast<const uchar *>(input.constData()), input.size()),
             qint64(consumed));
    QCOMPARE(decoder.overflow(), overflow);
    QCOMPARE(out.left(int(sink.produced())), output);
}

void TestPsd::interleavedSink()
{
    // Three planes of two samples into two 4-byte pixels; the third plane is only counted
    // when two are kept. Runs cross from one plane into the next.
    QByteArray out(8, '.');
    psd::PlaneSink sink(reinterpret_cast<uchar *>(out.data()), 4, 6, 2, 4);
    QVERIFY(sink.append(nullptr, 'a', 3));
    QVERIFY(sink.append(reinterpret_cast<const uchar *>("bcd"), 0, 3));
    QVERIFY(sink.full());
    QVERIFY(!sink.append(nullptr, 'x', 1));
    QCOMPARE(out, QByteArray("aa..ab.."));
}

void TestPsd::realDocuments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<QRgb>>("firstRow");

    // The four colour-mode documents hold the same picture; the indexed one reproduces
    // the RGB one's colours, the grayscale one their lightness.
    const QVector<QRgb> rgbRow = {0xff0a00b2, 0xff840059, 0xffff0000, 0xffff7e00};
    QTest::newRow("rgb raw") << "colormodes_4x4_8bit_rgb.psd" << QSize(4, 4)
                             << int(QImage::Format_RGB32) << rgbRow;
    QTest::newRow("indexed raw") << "colormodes_4x4_8bit_index_color.psd" << QSize(4, 4)
                                 << int(QImage::Format_Indexed8) << rgbRow;
    QTest::newRow("grayscale raw")
        << "colormodes_4x4_8bit_grayscale.psd" << QSize(4, 4) << int(QImage::Format_RGB32)
        << QVector<QRgb>{0xff181818, 0xff323232, 0xff5e5e5e, 0xffadadad};
    QTest::newRow("cmyk raw") << "colormodes_4x4_8bit_cmyk.psd" << QSize(4, 4)
                              << int(QImage::Format_RGB32)
                              << QVector<QRgb>{0xff000ff7, 0xff810a80, 0xffff0a0e, 0xffff840f};
    QTest::newRow("rgb 16 raw") << "16bit5x5.psd" << QSize(5, 5) << int(QImage::Format_RGB32)
                                << QVector<QRgb>{0xffebf1fa, 0xffebf1fa, 0xffebf1fa, 0xff000000,
                                                 0xff000000};
    QTest::newRow("rgb rle, no thumbnail")
        << "1layer.psd" << QSize(101, 55) << int(QImage::Format_RGB32) << QVector<QRgb>();
    QTest::newRow("rgb rle") << "hopper.psd" << QSize(128, 128) << int(QImage::Format_RGB32)
                             << QVector<QRgb>{0xff141543, 0xff111240, 0xff090b34, 0xff151740};
}

// The JPEG of the thumbnail resource (1036), decoded, or a null picture.
static QImage embeddedThumbnail(const QByteArray &file)
{
    const int block = file.indexOf(QByteArray("8BIM\x04\x0c", 6));
    const int jpeg = block < 0 ? -1 : file.indexOf(QByteArray("\xff\xd8\xff", 3), block);
    return jpeg < 0 ? QImage() : QImage::fromData(file.mid(jpeg), "JPEG");
}

void TestPsd::realDocuments()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(QVector<QRgb>, firstRow);

    const QString path = realDataPath(QStringLiteral("psd/") + file);
    REQUIRE_REAL_FILE(path);
    QImageReader reader(path);
    QCOMPARE(reader.size(), size);
    QCOMPARE(reader.format(), QByteArray("psd"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QCOMPARE(int(image.format()), format);
    QCOMPARE(pixelsOf(image).mid(0, firstRow.size()), firstRow);

    // Photoshop's own rendering of the same picture, within JPEG differences; a mixed-up
    // plane or row would be far off. Thumbnails of tiny pictures are too coarse for this.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QImage thumb = embeddedThumbnail(f.readAll());
    if (thumb.isNull() || size.width() < 16) return;
    QCOMPARE(thumb.size(), size);
    double difference = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = thumb.pixel(x, y);
            difference +=
                qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
        }
    }
    difference /= 3.0 * size.width() * size.height();
    QVERIFY2(difference < 8, qPrintable(QString::number(difference)));
}

void TestPsd::readerFindsPlugin()
{
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    QVERIFY(formats.contains("psd"));
    QVERIFY(formats.contains("psb"));
}

void TestPsd::readerReadsBothVersions_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("psd") << smallRgb().build() << QByteArray("psd");
    QTest::newRow("psb") << psb(rle(smallRgb())).build() << QByteArray("psb");
}

void TestPsd::readerReadsBothVersions()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, format);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer); // no hint: found by content
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QCOMPARE(image.pixel(1, 0), qRgb(2, 4, 6));
}

void TestPsd::handlerPeeks()
{
    QByteArray bytes = psb(smallRgb()).build();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPsdHandler handler;
    handler.setDevice(&buffer);
    QVERIFY(QPsdHandler::canRead(&buffer));
    QVERIFY(handler.canRead());
    QCOMPARE(handler.format(), QByteArray("psb"));
    QCOMPARE(buffer.pos(), qint64(0));

    QByteArray wrongVersion = bytes;
    wrongVersion.replace(4, 2, be16(3));
    QBuffer other(&wrongVersion);
    other.open(QIODevice::ReadOnly);
    QVERIFY(!QPsdHandler::canRead(&other));
}

// A stream is held in memory and read like a file.
void TestPsd::sequentialDevice()
{
    const QByteArray bytes = rle(smallRgb()).build();
    SequentialDevice device(bytes);
    QImage fromStream;
    QVERIFY(psd::PsdDecoder(&device).read(&fromStream));
    QImage fromBuffer;
    QVERIFY(decode(bytes, &fromBuffer));
    QCOMPARE(fromStream, fromBuffer);

    SequentialDevice cut(bytes.left(bytes.size() - 1));
    psd::PsdDecoder decoder(&cut);
    QVERIFY(!decoder.read(&fromStream));
    QCOMPARE(decoder.error(), psd::PsdError::ImageDataTruncated);
}

// The plug-in, the handler and the decoder agree on what is a Photoshop document.
void TestPsd::oneSignatureCheck_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("document");

    const QByteArray good = smallRgb().build();
    auto version = [&](quint16 v) { return QByteArray(good).replace(4, 2, be16(v)); };
    QTest::newRow("psd") << good << true;
    QTest::newRow("psb") << psb(smallRgb()).build() << true;
    QTest::newRow("version 0") << version(0) << false;
    QTest::newRow("version 3") << version(3) << false;
    QTest::newRow("signature without version") << QByteArray("8BPS") << false;
    QTest::newRow("signature and version only") << good.left(6) << true;
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestPsd::oneSignatureCheck()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, document);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPsdPlugin plugin;
    QCOMPARE(bool(plugin.capabilities(&buffer, QByteArray()) & QImageIOPlugin::CanRead), document);
    QCOMPARE(QPsdHandler::canRead(&buffer), document);
    QCOMPARE(buffer.pos(), qint64(0));
    psd::PsdDecoder decoder(&buffer);
    QImage image;
    decoder.read(&image);
    QCOMPARE(decoder.error() != psd::PsdError::NotPsd, document);
}

void TestPsd::handlerFormatFollowsVersion()
{
    QByteArray bytes = smallRgb().build();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPsdHandler handler;
    handler.setDevice(&buffer);
    handler.setFormat("psb");
    QImage image;
    QVERIFY(handler.read(&image));
    QCOMPARE(handler.format(), QByteArray("psd"));
    QCOMPARE(image.size(), QSize(2, 1));
}

void TestPsd::sizeOptionFromHeaderOnly()
{
    Document d = psb(smallRgb());
    d.width = 100000;
    d.height = 50000;
    QByteArray bytes = d.header(); // the header alone is enough
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPsdHandler handler;
    handler.setDevice(&buffer);
    QVERIFY(handler.supportsOption(QImageIOHandler::Size));
    QVERIFY(!handler.supportsOption(QImageIOHandler::ScaledSize));
    QCOMPARE(handler.option(QImageIOHandler::Size).toSize(), QSize(100000, 50000));
    QCOMPARE(buffer.pos(), qint64(0));

    QByteArray cut = bytes.left(25);
    QBuffer shortBuffer(&cut);
    shortBuffer.open(QIODevice::ReadOnly);
    handler.setDevice(&shortBuffer);
    QVERIFY(!handler.option(QImageIOHandler::Size).isValid());
}

// option(Size) answers only for headers that read() does not refuse outright.
void TestPsd::noSizeForRefusedHeaders_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("with");

    QTest::newRow("no channels") << 12 << be16(0);
    QTest::newRow("height 0") << 14 << be32(0);
    QTest::newRow("psd 30001 columns") << 18 << be32(30001);
    QTest::newRow("depth 4") << 22 << be16(4);
    QTest::newRow("mode 5") << 24 << be16(5);
}

void TestPsd::noSizeForRefusedHeaders()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, with);

    QByteArray bytes = smallRgb().build();
    bytes.replace(offset, with.size(), with);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QPsdHandler handler;
    handler.setDevice(&buffer);
    QVERIFY(!handler.option(QImageIOHandler::Size).isValid());
    QImage image;
    QVERIFY(!handler.read(&image));
    QCOMPARE(handler.error(), psd::PsdError::HeaderOutOfRange);
}

void TestPsd::pluginCapabilities_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("canRead");

    QTest::newRow("psd by name") << QByteArray("junk") << QByteArray("psd") << true;
    QTest::newRow("psb by name") << QByteArray() << QByteArray("psb") << true;
    QTest::newRow("other name") << smallRgb().build() << QByteArray("png") << false;
    QTest::newRow("content") << smallRgb().build() << QByteArray() << true;
    QTest::newRow("other content") << QByteArray("\x89PNG") << QByteArray() << false;
}

void TestPsd::pluginCapabilities()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, format);
    QFETCH(bool, canRead);

    QPsdPlugin plugin;
    QCOMPARE(plugin.keys(), QStringList({"psd", "psb"}));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const auto caps = plugin.capabilities(&buffer, format);
    QCOMPARE(bool(caps & QImageIOPlugin::CanRead), canRead);
    QVERIFY(!(caps & QImageIOPlugin::CanWrite));
    QCOMPARE(buffer.pos(), qint64(0));
}

void TestPsd::installableModule()
{
    QPluginLoader loader(QStringLiteral(PICSAGE_LIBDIR "/imageformats/libpicsage_psd.so"));
    const QJsonObject meta = loader.metaData();
    QCOMPARE(meta.value("IID").toString(),
             QStringLiteral("org.qt-project.Qt.QImageIOHandlerFactoryInterface"));
    QCOMPARE(meta.value("className").toString(), QStringLiteral("QPsdPlugin"));
    QCOMPARE(meta.value("MetaData").toObject().value("Keys").toArray(), QJsonArray({"psd", "psb"}));

    auto *plugin = qobject_cast<QImageIOPlugin *>(loader.instance());
    QVERIFY2(plugin, qPrintable(loader.errorString()));
    QByteArray bytes = rle(smallRgb()).build();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QScopedPointer<QImageIOHandler> handler(plugin->create(&buffer, "psd"));
    QImage image;
    QVERIFY(handler->read(&image));
    QCOMPARE(image.pixel(0, 0), qRgb(1, 3, 5));
}

QTEST_MAIN(TestPsd)
#include "tst_psd.moc"
