// Our own readers of TGA, PCX, Sun raster, Netpbm and WBMP: files the tests build that Qt's
// readers (or a naive reader) get wrong, lying and cut files, and real files against a
// reference rendering made by an independent decoder.

#include "platform/decoders/NetpbmHandler.h"
#include "platform/decoders/PcxHandler.h"
#include "platform/decoders/SunRasterHandler.h"
#include "platform/decoders/TgaHandler.h"
#include "platform/decoders/WbmpHandler.h"
#include "support/ByteFileBuilder.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/SequentialDevice.h"

#include <QBuffer>
#include <QtTest>

using namespace platform::decoders;

namespace {

constexpr QRgb R = 0xffff0000, G = 0xff00ff00, B = 0xff0000ff, W = 0xffffffff, K = 0xff000000;
QRgb grey(int v)
{
    return qRgb(v, v, v);
}

// What a handler makes of some bytes.
struct Outcome
{
    bool claimed = false;
    bool peekedOnly = false;
    bool read = false;
    QSize size;
    QImage::Format format = QImage::Format_Invalid;
    QImage image;
    QString error;
};

template <class Handler> Outcome probeWith(QIODevice *device)
{
    Outcome o;
    const qint64 start = device->pos();
    o.claimed = Handler::canRead(device);
    o.peekedOnly = device->pos() == start;
    Handler handler;
    handler.setDevice(device);
    o.size = handler.option(QImageIOHandler::Size).toSize();
    o.format = QImage::Format(handler.option(QImageIOHandler::ImageFormat).toInt());
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(0x12345678); // a refusal must leave it as it is
    o.read = handler.read(&image);
    o.image = image;
    o.error = handler.errorText();
    return o;
}

Outcome probe(const QString &format, QIODevice *device)
{
    if (format == "tga") return probeWith<TgaHandler>(device);
    if (format == "pcx") return probeWith<PcxHandler>(device);
    if (format == "ras") return probeWith<SunRasterHandler>(device);
    if (format == "pbm") return probeWith<NetpbmHandler>(device);
    return probeWith<WbmpHandler>(device);
}

Outcome probe(const QString &format, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return probe(format, &buffer);
}

QByteArray bgr(std::initializer_list<QRgb> colours)
{
    ByteFileBuilder b;
    for (QRgb c : colours)
        b.u8(qBlue(c)).u8(qGreen(c)).u8(qRed(c));
    return b;
}

QByteArray bgra(std::initializer_list<QRgb> colours)
{
    ByteFileBuilder b;
    for (QRgb c : colours)
        b.u8(qBlue(c)).u8(qGreen(c)).u8(qRed(c)).u8(qAlpha(c));
    return b;
}

using Builder = ByteFileBuilder;

} // namespace

class TestByteReaders : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
    void realFiles_data();
    void realFiles();
};

void TestByteReaders::decodes_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");

    const QImage rgbw = picture(2, 2, {R, G, B, W});
    auto tga24 = [](int descriptor) { return Builder::tga(2, 2, 2, 24, descriptor); };
    QTest::newRow("tga bottom-left origin")
        << "tga" << QByteArray(tga24(0).append(bgr({B, W, R, G}))) << rgbw;
    QTest::newRow("tga top-left origin")
        << "tga" << QByteArray(tga24(0x20).append(bgr({R, G, B, W}))) << rgbw;
    QTest::newRow("tga bottom-right origin")
        << "tga" << QByteArray(tga24(0x10).append(bgr({W, B, G, R}))) << rgbw;
    QTest::newRow("tga top-right origin")
        << "tga" << QByteArray(tga24(0x30).append(bgr({G, R, W, B}))) << rgbw;
    QTest::newRow("tga image id skipped")
        << "tga"
        << QByteArray(
               Builder::tga(2, 2, 2, 24, 0x20, 0, 0, 0, 0, 3).text("abc").append(bgr({R, G, B, W})))
        << rgbw;
    QTest::newRow("tga map before true colour skipped")
        << "tga"
        << QByteArray(
               Builder::tga(2, 2, 2, 24, 0x20, 1, 0, 2, 24).fill(6, 0x55).append(bgr({R, G, B, W})))
        << rgbw;
    QTest::newRow("tga colour map with first-entry offset")
        << "tga"
        << QByteArray(Builder::tga(1, 2, 2, 8, 0x20, 1, 2, 4, 24)
                          .append(bgr({R, G, B, W}))
                          .bytes({2, 3, 4, 5}))
        << rgbw;
    QTest::newRow("tga 15-bit map, 16-bit indices")
        << "tga"
        << QByteArray(Builder::tga(1, 2, 2, 16, 0x20, 1, 0, 4, 15)
                          .le16(0x7c00)
                          .le16(0x03e0)
                          .le16(0x001f)
                          .le16(0x7fff)
                          .le16(0)
                          .le16(1)
                          .le16(2)
                          .le16(3))
        << rgbw;
    QTest::newRow("tga run-length mapped") << "tga"
                                           << QByteArray(Builder::tga(9, 2, 2, 8, 0x20, 1, 2, 4, 24)
                                                             .append(bgr({R, G, B, W}))
                                                             .bytes({0x81, 2, 0x01, 4, 5}))
                                           << picture(2, 2, {R, R, B, W});
    QTest::newRow("tga run-length packets across rows")
        << "tga"
        << QByteArray(Builder::tga(10, 3, 2, 24, 0x20)
                          .u8(0x83)
                          .append(bgr({R}))
                          .u8(0x01)
                          .append(bgr({G, B})))
        << picture(3, 2, {R, R, R, R, G, B});
    QTest::newRow("tga grey") << "tga" << QByteArray(Builder::tga(3, 2, 1, 8, 0x20).bytes({0, 200}))
                              << picture(2, 1, {K, grey(200)});
    QTest::newRow("tga run-length grey")
        << "tga" << QByteArray(Builder::tga(11, 2, 1, 8, 0x20).bytes({0x81, 100}))
        << picture(2, 1, {grey(100), grey(100)});
    QTest::newRow("tga grey with alpha")
        << "tga" << QByteArray(Builder::tga(3, 1, 1, 16, 0x28).bytes({100, 50}))
        << picture(1, 1, {qRgba(100, 100, 100, 50)});
    QTest::newRow("tga 16-bit, no attribute bits: opaque")
        << "tga" << QByteArray(Builder::tga(2, 2, 1, 16, 0x20).le16(0x7c00).le16(0x03e0))
        << picture(2, 1, {R, G});
    QTest::newRow("tga 16-bit, one attribute bit: alpha")
        << "tga" << QByteArray(Builder::tga(2, 2, 1, 16, 0x21).le16(0x7c00).le16(0x83e0))
        << picture(2, 1, {qRgba(255, 0, 0, 0), G});
    QTest::newRow("tga 32-bit, 8 attribute bits, no footer: alpha")
        << "tga"
        << QByteArray(Builder::tga(2, 2, 1, 32, 0x28).append(bgra({qRgba(255, 0, 0, 128), G})))
        << picture(2, 1, {qRgba(255, 0, 0, 128), G});
    QTest::newRow("tga 32-bit, no attribute bits, no footer: opaque")
        << "tga"
        << QByteArray(Builder::tga(2, 2, 1, 32, 0x20)
                          .append(bgra({qRgba(255, 0, 0, 128), qRgba(0, 255, 0, 0)})))
        << picture(2, 1, {R, G});
    QTest::newRow("tga 32-bit, every alpha 0, no footer: opaque")
        << "tga"
        << QByteArray(Builder::tga(2, 2, 1, 32, 0x28)
                          .append(bgra({qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 0)})))
        << picture(2, 1, {R, G});
    QTest::newRow("tga footer says alpha")
        << "tga"
        << QByteArray(
               Builder::tga(2, 1, 1, 32, 0x20).append(bgra({qRgba(255, 0, 0, 128)})).tgaFooter(3))
        << picture(1, 1, {qRgba(255, 0, 0, 128)});
    QTest::newRow("tga footer says premultiplied alpha")
        << "tga"
        << QByteArray(Builder::tga(2, 2, 1, 32, 0x28)
                          .append(bgra({qRgba(128, 0, 0, 128), qRgba(0, 0, 0, 0)}))
                          .tgaFooter(4))
        << picture(2, 1, {qRgba(255, 0, 0, 128), qRgba(0, 0, 0, 0)});
    QTest::newRow("tga footer says no alpha")
        << "tga"
        << QByteArray(
               Builder::tga(2, 1, 1, 32, 0x28).append(bgra({qRgba(255, 0, 0, 128)})).tgaFooter(0))
        << picture(1, 1, {R});

    const QVector<QRgb> ega = {K, K, K, K, K, R, K, K, K, K, G};
    QTest::newRow("pcx 8-bit, run across rows")
        << "pcx"
        << QByteArray(
               Builder::pcx(8, 1, 3, 2, 4).bytes({0xc5, 1, 2, 3, 0}).pcxPalette({K, R, G, B}))
        << picture(3, 2, {R, R, R, R, G, B});
    QTest::newRow("pcx 8-bit without palette: grey")
        << "pcx" << QByteArray(Builder::pcx(8, 1, 2, 1, 2, 0).bytes({10, 200}))
        << picture(2, 1, {grey(10), grey(200)});
    QTest::newRow("pcx 24-bit planes")
        << "pcx"
        << QByteArray(Builder::pcx(8, 3, 2, 1, 2).bytes({0xc1, 255, 0, 0, 0xc1, 255, 0, 0}))
        << picture(2, 1, {R, G});
    QTest::newRow("pcx 32-bit planes")
        << "pcx"
        << QByteArray(Builder::pcx(8, 4, 2, 1, 2)
                          .bytes({0xc1, 255, 0, 0, 0xc1, 255, 0, 0, 0x80, 0xc1, 255}))
        << picture(2, 1, {qRgba(255, 0, 0, 128), G});
    QTest::newRow("pcx 1-bit, four planes")
        << "pcx"
        << QByteArray(
               Builder::pcx(1, 4, 2, 1, 2, 1, ega).bytes({0x80, 0, 0x40, 0, 0x80, 0, 0x40, 0}))
        << picture(2, 1, {R, G});
    QTest::newRow("pcx 2-bit") << "pcx"
                               << QByteArray(
                                      Builder::pcx(2, 1, 4, 1, 2, 1, {K, R, G, B}).bytes({0x1b, 0}))
                               << picture(4, 1, {K, R, G, B});
    QTest::newRow("pcx 4-bit") << "pcx"
                               << QByteArray(Builder::pcx(4, 1, 2, 1, 2, 1, ega).bytes({0x5a, 0}))
                               << picture(2, 1, {R, G});
    QTest::newRow("pcx 1-bit") << "pcx"
                               << QByteArray(Builder::pcx(1, 1, 10, 1, 2).bytes({0xaa, 0x40}))
                               << picture(10, 1, {W, K, W, K, W, K, W, K, K, W});

    QTest::newRow("ras 24-bit, padded rows")
        << "ras" << QByteArray(Builder::sun(1, 2, 24, 1).bytes({0, 0, 255, 0, 0, 255, 0, 0}))
        << picture(1, 2, {R, G});
    QTest::newRow("ras RGB order")
        << "ras" << QByteArray(Builder::sun(1, 1, 24, 3).bytes({255, 0, 0, 0}))
        << picture(1, 1, {R});
    QTest::newRow("ras 32-bit")
        << "ras" << QByteArray(Builder::sun(2, 1, 32, 1).bytes({0, 0, 0, 255, 0, 255, 0, 0}))
        << picture(2, 1, {R, B});
    QTest::newRow("ras 32-bit RGB order")
        << "ras" << QByteArray(Builder::sun(1, 1, 32, 3).bytes({0, 255, 0, 0}))
        << picture(1, 1, {R});
    QTest::newRow("ras 8-bit map")
        << "ras"
        << QByteArray(Builder::sun(3, 1, 8, 1, 1, 6).bytes({255, 0, 0, 255, 0, 0, 0, 1, 0, 0}))
        << picture(3, 1, {R, G, R});
    QTest::newRow("ras 8-bit grey")
        << "ras" << QByteArray(Builder::sun(2, 1, 8, 1).bytes({10, 200}))
        << picture(2, 1, {grey(10), grey(200)});
    QTest::newRow("ras 1-bit") << "ras" << QByteArray(Builder::sun(10, 1, 1, 1).bytes({0xaa, 0x40}))
                               << picture(10, 1, {K, W, K, W, K, W, K, W, W, K});
    QTest::newRow("ras run-length across rows, escaped 0x80")
        << "ras" << QByteArray(Builder::sun(1, 2, 24, 2).bytes({0x80, 4, 0, 0x80, 0, 0xff, 0}))
        << picture(1, 2, {K, qRgb(255, 128, 0)});

    QTest::newRow("pbm plain, pixels not separated")
        << "pbm" << QByteArray("P1\n3 2\n010101") << picture(3, 2, {W, K, W, K, W, K});
    QTest::newRow("pbm plain, comments")
        << "pbm" << QByteArray("P1 # x\n3 1\n0 1\n0") << picture(3, 1, {W, K, W});
    QTest::newRow("pgm plain, maxval 15")
        << "pbm" << QByteArray("P2\n2 1\n15\n15 7") << picture(2, 1, {W, grey(119)});
    QTest::newRow("ppm plain") << "pbm" << QByteArray("P3\n1 1\n255\n255 0 128\n")
                               << picture(1, 1, {qRgb(255, 0, 128)});
    QTest::newRow("pbm raw, padded rows")
        << "pbm" << QByteArray(Builder().text("P4\n10 1\n").bytes({0xaa, 0x40}))
        << picture(10, 1, {K, W, K, W, K, W, K, W, W, K});
    QTest::newRow("pgm raw 16-bit")
        << "pbm" << QByteArray(Builder().text("P5\n2 1\n65535\n").bytes({0xff, 0xff, 0x80, 0}))
        << picture(2, 1, {W, grey(128)});
    QTest::newRow("ppm raw, comment in header")
        << "pbm" << QByteArray(Builder().text("P6 # c\n1 1 255\n").bytes({1, 2, 3}))
        << picture(1, 1, {qRgb(1, 2, 3)});

    const QImage wbmp = picture(10, 1, {W, K, W, K, W, K, W, K, K, W});
    QTest::newRow("wbmp") << "wbmp" << QByteArray(Builder().bytes({0, 0, 10, 1, 0xaa, 0x40}))
                          << wbmp;
    QTest::newRow("wbmp with a trailing byte")
        << "wbmp" << QByteArray(Builder().bytes({0, 0, 10, 1, 0xaa, 0x40, 0xff})) << wbmp;
    QImage black(128, 1, QImage::Format_ARGB32);
    black.fill(K);
    QTest::newRow("wbmp two-byte width")
        << "wbmp" << QByteArray(Builder().bytes({0, 0, 0x81, 0, 1}).fill(16, 0)) << black;
}

void TestByteReaders::decodes()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);

    const Outcome o = probe(format, bytes);
    QVERIFY(o.claimed);
    QVERIFY(o.peekedOnly);
    QVERIFY2(o.read, qPrintable(o.error));
    QCOMPARE(o.size, expected.size());
    QVERIFY(o.format != QImage::Format_Invalid);
    QCOMPARE(o.image.convertToFormat(QImage::Format_ARGB32), expected);

    // A pipe: nothing to seek, no size to check against before the read.
    SequentialDevice pipe(bytes);
    const Outcome piped = probe(format, &pipe);
    QVERIFY(piped.claimed);
    QVERIFY(piped.read);
    QCOMPARE(piped.image, o.image);
}

void TestByteReaders::refuses_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("claimed");
    QTest::addColumn<QString>("error");

    const QString truncated = "its header claims more data than the file holds";
    const QString damaged = "damaged (its data cannot be decoded)";
    QTest::newRow("tga raw pixels cut")
        << "tga" << QByteArray(Builder::tga(2, 100, 100, 24, 0).fill(30, 0)) << false << truncated;
    QTest::newRow("tga run-length claiming 10000x10000")
        << "tga" << QByteArray(Builder::tga(10, 10000, 10000, 24, 0).fill(4000, 0)) << false
        << truncated;
    QTest::newRow("tga run-length data shorter than its densest packets")
        << "tga" << QByteArray(Builder::tga(11, 1000, 1, 8, 0).fill(10, 0)) << false << truncated;
    QTest::newRow("tga raw packet beyond the data")
        << "tga" << QByteArray(Builder::tga(11, 200, 1, 8, 0).bytes({0x7f, 1, 0x7f, 1})) << true
        << damaged;
    QTest::newRow("tga unknown type")
        << "tga" << QByteArray(Builder::tga(7, 1, 1, 24, 0).fill(3, 0)) << false << damaged;
    QTest::newRow("tga mapped without a map")
        << "tga" << QByteArray(Builder::tga(1, 1, 1, 8, 0).fill(1, 0)) << false << damaged;
    QTest::newRow("tga side beyond the limits")
        << "tga" << QByteArray(Builder::tga(3, 65535, 65535, 8, 0).fill(4, 0)) << false
        << "too large (65535 x 65535 pixels)";
    QTest::newRow("cursor directory is not tga")
        << "tga"
        << QByteArray(Builder()
                          .bytes({0, 0,  2, 0,    1,    0, 32, 32, 0, 0, 1,
                                  0, 32, 0, 0x30, 0x10, 0, 0,  22, 0, 0, 0})
                          .fill(4200, 0))
        << false << damaged;

    QTest::newRow("pcx claiming 1000x1000")
        << "pcx" << QByteArray(Builder::pcx(8, 1, 1000, 1000, 1000).fill(10, 0)) << false
        << truncated;
    QTest::newRow("pcx run-length data ending early")
        << "pcx" << QByteArray(Builder::pcx(8, 1, 2, 2, 2).bytes({0xc1, 1})) << true << damaged;
    QTest::newRow("pcx line shorter than the width")
        << "pcx" << QByteArray(Builder::pcx(8, 1, 20, 1, 2).fill(40, 0)) << false << damaged;
    QTest::newRow("pcx 2 bits in 3 planes")
        << "pcx" << QByteArray(Builder::pcx(2, 3, 2, 1, 2).fill(40, 0)) << false << damaged;

    QTest::newRow("ras claiming 5000x5000")
        << "ras" << QByteArray(Builder::sun(5000, 5000, 24, 1).fill(100, 0)) << false << truncated;
    QTest::newRow("ras run-length claiming 10000x10000")
        << "ras" << QByteArray(Builder::sun(10000, 10000, 8, 2).fill(100, 0)) << false << truncated;
    QTest::newRow("ras run-length data ending early")
        << "ras" << QByteArray(Builder::sun(4, 1, 8, 2).bytes({0x80, 1, 7})) << true << damaged;
    QTest::newRow("ras map beyond the file")
        << "ras" << QByteArray(Builder::sun(1, 1, 8, 1, 1, 768).fill(2, 0)) << false << truncated;
    QTest::newRow("ras depth 7") << "ras" << QByteArray(Builder::sun(1, 1, 7, 1).fill(2, 0))
                                 << false << damaged;

    QTest::newRow("ppm cut") << "pbm" << QByteArray("P6\n100 100 255\nabc") << true << truncated;
    QTest::newRow("pbm claiming 10000x10000")
        << "pbm" << QByteArray("P4\n10000 10000\n\0\0", 18) << true << truncated;
    QTest::newRow("pbm beyond the limits")
        << "pbm" << QByteArray("P1\n60000 60000\n0") << true << "too large (60000 x 60000 pixels)";
    QTest::newRow("pgm letters among samples")
        << "pbm" << QByteArray("P2\n2 1\n255\n1 x") << true << damaged;
    QTest::newRow("pgm maxval 0") << "pbm" << QByteArray("P5\n1 1\n0\n\1", 10) << true << damaged;
    QTest::newRow("pbm plain with a stray digit")
        << "pbm" << QByteArray("P1\n2 1\n02") << true << damaged;

    QTest::newRow("wbmp cut") << "wbmp" << QByteArray(Builder().bytes({0, 0, 10, 2, 0xaa})) << false
                              << truncated;
    QTest::newRow("wbmp type 1") << "wbmp" << QByteArray(Builder().bytes({1, 0, 1, 1, 0})) << false
                                 << "not a WBMP file";
}

void TestByteReaders::refuses()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, claimed);
    QFETCH(QString, error);

    const Outcome o = probe(format, bytes);
    QCOMPARE(o.claimed, claimed);
    QVERIFY(!o.read);
    QCOMPARE(o.image.size(), QSize(1, 1));
    QCOMPARE(o.image.pixel(0, 0), QRgb(0x12345678));
    QCOMPARE(o.error, error);
}

// Real files beside their reference rendering (`name.png`, made with ImageMagick; the
// manifest row says when it was adjusted).
void TestByteReaders::realFiles_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tolerance");

    const struct
    {
        const char *format, *file;
        int tolerance;
    } files[] = {
        {"tga", "tga/BUMPMAP2.TGA", 0},         {"tga", "tga/POOL_4.TGA", 0},
        {"tga", "tga/shellmap.tga", 0},         {"tga", "tga/simple_armor_0.tga", 0},
        {"tga", "tga/simple_b_bh100_0.tga", 0}, {"pcx", "pcx/CGA_TST1.PCX", 0},
        {"pcx", "pcx/BLOOD25.PCX", 0},          {"pcx", "pcx/PREY0005.PCX", 0},
        {"ras", "ras/hopper.ras", 0},
    };
    for (const auto &f : files)
        QTest::newRow(f.file) << f.format << QString(f.file) << f.tolerance;
}

void TestByteReaders::realFiles()
{
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(int, tolerance);
    REAL_DATA(path, file);
    REAL_DATA(referencePath, file.left(file.lastIndexOf('.')) + ".png");

    QFile device(path);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const Outcome o = probe(format, &device);
    QVERIFY(o.claimed);
    QVERIFY2(o.read, qPrintable(o.error));
    const QImage reference(referencePath);
    QVERIFY(!reference.isNull());
    const int difference = maxChannelDifference(o.image, reference);
    QVERIFY2(difference >= 0 && difference <= tolerance,
             qPrintable(QStringLiteral("differs by %1").arg(difference)));
}

QTEST_GUILESS_MAIN(TestByteReaders)
#include "tst_byte_readers.moc"
