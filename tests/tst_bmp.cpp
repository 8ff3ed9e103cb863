// Our BMP reader, on generated files: every header size, depth and compression, the faults
// of the reader it replaces (top-down rows, OS/2 short palettes, 16-bit white, leftover memory
// in run-length gaps), refusals, and which reader a file goes to.

#include "support/BmpBuilder.h"
#include "support/OpenPicture.h"
#include "support/UprightRender.h"

#include "platform/PictureReaders.h"
#include "platform/decoders/BmpHandler.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using platform::decoders::BmpHandler;

namespace {

constexpr QRgb Red = 0xffff0000, Green = 0xff00ff00, Blue = 0xff0000ff, White = 0xffffffff,
               Black = 0xff000000, Clear = 0;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

BmpBuilder make(int width, int height, int bits, const QByteArray &pixels)
{
    BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bits = bits;
    b.pixels = pixels;
    return b;
}

// The picture through a QImageReader that names our reader; `ok` says whether it read.
QImage readBmp(const QByteArray &file, QString *why = nullptr)
{
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    BmpHandler handler;
    handler.setDevice(&buffer);
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(0xff123456);
    const QImage before = image;
    if (!handler.read(&image)) {
        if (why) *why = handler.errorText();
        // A refusal leaves the caller's picture as it was.
        return image == before ? QImage() : QImage(1, 1, QImage::Format_Mono);
    }
    return image;
}

} // namespace

class TestBmp : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
    void choosesReader_data();
    void choosesReader();

private:
    QTemporaryDir m_dir;
};

void TestBmp::decodes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("width");
    // ARGB, rows from the top.
    QTest::addColumn<QVector<uint>>("expected");

    QTest::newRow("24-bit, bottom-up")
        << make(2, 2, 24, bytes({0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0}))
               .build()
        << 2 << QVector<uint>{Blue, White, Red, Green};
    QTest::newRow("24-bit, top-down (negative height)")
        << make(2, -2, 24, bytes({0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0}))
               .build()
        << 2 << QVector<uint>{Red, Green, Blue, White};
    {
        // Three palette entries, then the pixels: the palette is not 16 entries long.
        BmpBuilder b = make(3, 1, 4, bytes({0x01, 0x20, 0, 0}));
        b.infoSize = 12;
        b.palette = {Red, Green, Blue};
        QTest::newRow("OS/2 12-byte header, short palette")
            << b.build() << 3 << QVector<uint>{Red, Green, Blue};
        b.infoSize = 16;
        b.bits = 8;
        b.pixels = bytes({2, 1, 0, 0});
        QTest::newRow("OS/2 16-byte header, 8 bits, short palette")
            << b.build() << 3 << QVector<uint>{Blue, Green, Red};
        b.infoSize = 64;
        QTest::newRow("OS/2 64-byte header") << b.build() << 3 << QVector<uint>{Blue, Green, Red};
    }
    QTest::newRow("16-bit 5-5-5 white is full white")
        << make(2, 1, 16, bytes({0xff, 0x7f, 0x1f, 0x00})).build() << 2
        << QVector<uint>{White, Blue};
    {
        BmpBuilder b = make(2, 1, 16, bytes({0xff, 0xff, 0xe0, 0x07}));
        b.compression = 3;
        b.masks = {0xf800, 0x07e0, 0x001f};
        QTest::newRow("16-bit 5-6-5 white is full white")
            << b.build() << 2 << QVector<uint>{White, Green};
        b.infoSize = 52;
        QTest::newRow("52-byte header holding the masks")
            << b.build() << 2 << QVector<uint>{White, Green};
        b.infoSize = 56;
        b.compression = 3;
        b.masks = {0x0f00, 0x00f0, 0x000f, 0xf000};
        b.pixels = bytes({0x00, 0x8f, 0xf0, 0xf0});
        QTest::newRow("56-byte header, 4-4-4-4 with alpha")
            << b.build() << 2 << QVector<uint>{0x88ff0000, 0xff00ff00};
    }
    {
        BmpBuilder b = make(2, 1, 32, bytes({0, 0, 255, 0x80, 255, 255, 255, 255}));
        b.compression = 6;
        b.masks = {0xff0000, 0xff00, 0xff, 0xff000000};
        QTest::newRow("32-bit ALPHABITFIELDS")
            << b.build() << 2 << QVector<uint>{0x80ff0000, White};
        b.compression = 0;
        b.masks.clear();
        QTest::newRow("32-bit without masks is opaque")
            << b.build() << 2 << QVector<uint>{Red, White};
        b = make(2, 1, 32, bytes({0xff, 0xff, 0xff, 0x3f, 0, 0, 0, 0x20}));
        b.infoSize = 124;
        b.compression = 3;
        b.masks = {0x3ff00000, 0x000ffc00, 0x000003ff};
        QTest::newRow("124-byte header, 10-bit fields")
            << b.build() << 2 << QVector<uint>{White, 0xff800000};
        b.infoSize = 108;
        QTest::newRow("108-byte header, 10-bit fields")
            << b.build() << 2 << QVector<uint>{White, 0xff800000};
    }
    {
        BmpBuilder b = make(9, 1, 1, bytes({0xaa, 0x80, 0, 0}));
        b.palette = {Black, White};
        QTest::newRow("1 bit across a byte")
            << b.build() << 9
            << QVector<uint>{White, Black, White, Black, White, Black, White, Black, White};
        b = make(4, 1, 2, bytes({0x1b, 0, 0, 0}));
        b.palette = {Black, Red, Green, Blue};
        QTest::newRow("2 bits") << b.build() << 4 << QVector<uint>{Black, Red, Green, Blue};
        b = make(2, 1, 8, bytes({0, 5, 0, 0}));
        b.palette = {Red};
        QTest::newRow("index past the palette is black")
            << b.build() << 2 << QVector<uint>{Red, Black};
    }
    {
        // Two red, a delta one right and one up, one green, end: the rest is skipped.
        BmpBuilder b = make(4, 3, 8, bytes({2, 0, 0, 2, 1, 1, 1, 1, 0, 1}));
        b.compression = 1;
        b.palette = {Red, Green};
        QTest::newRow("RLE8, skipped pixels transparent")
            << b.build() << 4 << QVector<uint>{Clear, Clear, Clear, Clear, Clear, Clear,
                                               Clear, Green, Red,   Red,   Clear, Clear};
        // An absolute run of three (padded), an end of line, then the data stops.
        b = make(3, 2, 8, bytes({0, 3, 0, 1, 0, 0, 0, 0}));
        b.compression = 1;
        b.palette = {Red, Green};
        QTest::newRow("RLE8 ending early")
            << b.build() << 3 << QVector<uint>{Clear, Clear, Clear, Red, Green, Red};
        b = make(8, 1, 4, bytes({5, 0x01, 0, 3, 0x21, 0x00, 0, 1}));
        b.compression = 2;
        b.palette = {Red, Green, Blue};
        QTest::newRow("RLE4 runs and absolute")
            << b.build() << 8 << QVector<uint>{Red, Green, Red, Green, Red, Blue, Green, Red};
        b.width = 10;
        QTest::newRow("RLE4, the row's end skipped")
            << b.build() << 10
            << QVector<uint>{Red, Green, Red, Green, Red, Blue, Green, Red, Clear, Clear};
    }
}

void TestBmp::decodes()
{
    QFETCH(QByteArray, file);
    QFETCH(int, width);
    QFETCH(QVector<uint>, expected);

    // Through the library's open path, as the viewer opens it.
    const QString path = m_dir.filePath(QStringLiteral("picture.bmp"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();
    const QImage shown = renderUpright(path);
    QCOMPARE(shown.size(), QSize(width, expected.size() / width));
    for (int i = 0; i < expected.size(); ++i) {
        const QRgb got = shown.pixel(i % width, i / width), want = expected.at(i);
        const int diff =
            qMax(qMax(qAbs(qAlpha(got) - qAlpha(want)), qAbs(qRed(got) - qRed(want))),
                 qMax(qAbs(qGreen(got) - qGreen(want)), qAbs(qBlue(got) - qBlue(want))));
        // Premultiplying costs translucent pixels a unit.
        QVERIFY2(diff <= (qAlpha(want) == 255 ? 0 : 1),
                 qPrintable(QStringLiteral("pixel %1: %2, not %3")
                                .arg(i)
                                .arg(got, 8, 16, QLatin1Char('0'))
                                .arg(want, 8, 16, QLatin1Char('0'))));
    }
    // Decoding twice gives the same pixels (the suite also runs with MALLOC_PERTURB_ set).
    const QImage first = readBmp(file), second = readBmp(file);
    QVERIFY(!first.isNull());
    QCOMPARE(first, second);
}

void TestBmp::refuses_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");

    const QString tooShort = QStringLiteral("its header claims more data than the file holds");
    QTest::newRow("rows past the end")
        << make(100, 100, 24, QByteArray(8, '\0')).build() << tooShort;
    BmpBuilder rle = make(10000, 10000, 8, bytes({0, 1}));
    rle.compression = 1;
    rle.palette = {Red};
    QTest::newRow("runs that cannot cover the size") << rle.build() << tooShort;
    QTest::newRow("cut inside the info header")
        << make(1, 1, 24, bytes({0, 0, 0, 0})).build().left(30) << tooShort;
    BmpBuilder inside = make(1, 1, 24, bytes({0, 0, 0, 0}));
    inside.pixelsAt = 20;
    QTest::newRow("pixels inside the header")
        << inside.build() << QStringLiteral("its pixels lie inside its header");
    QTest::newRow("zero width") << make(0, 1, 24, bytes({0, 0, 0, 0})).build()
                                << QStringLiteral("its data cannot be decoded");
    QTest::newRow("larger than can be opened")
        << make(20000, 20000, 24, bytes({0, 0, 0, 0})).build()
        << QStringLiteral("it is larger than can be opened");
    BmpBuilder depth = make(1, 1, 24, bytes({0, 0, 0, 0}));
    depth.compression = 1;
    QTest::newRow("RLE8 at 24 bits")
        << depth.build() << QStringLiteral("its depth does not fit its compression");
    depth.compression = 4;
    QTest::newRow("embedded JPEG")
        << depth.build() << QStringLiteral("its compression is not one that BMP readers know");
}

void TestBmp::refuses()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    QString why;
    QVERIFY(readBmp(file, &why).isNull());
    QCOMPARE(why, reason);
}

void TestBmp::choosesReader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<QByteArray>("reader");

    const QByteArray bmp = make(1, 1, 24, bytes({0, 0, 255, 0})).build();
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage(2, 2, QImage::Format_RGB32).save(&buffer, "PNG");
    }
    QTest::newRow("BMP named .bmp") << bmp << QByteArray("bmp") << QByteArray("picsage-bmp");
    QTest::newRow("BMP named .png: content first")
        << bmp << QByteArray("png") << QByteArray("picsage-bmp");
    QTest::newRow("PNG named .bmp") << png << QByteArray("bmp") << QByteArray("png");
    QTest::newRow("nothing claims it") << QByteArray(100, 'x') << QByteArray("png") << QByteArray();
    QTest::newRow("damaged BMP stays with its reader")
        << make(100, 100, 24, QByteArray(8, '\0')).build() << QByteArray("png")
        << QByteArray("picsage-bmp");
}

void TestBmp::choosesReader()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, suffix);
    QFETCH(QByteArray, reader);
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(platform::pictureReaders::choose(&buffer, suffix), reader);
    QCOMPARE(buffer.pos(), qint64(0));
}

QTEST_MAIN(TestBmp)
#include "tst_bmp.moc"
