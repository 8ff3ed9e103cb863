// The camera-raw reader: LibRaw's path on generated DNG files, the walk for embedded JPEG
// previews on files LibRaw refuses (a real DNG 1.7 file and generated ones), the plug-in's
// answers, and malformed files.
#include "support/CaptureStdout.h"
#include "support/ChildRun.h"
#include "support/CiffBuilder.h"
#include "support/DngWriter.h"
#include "support/IsoBoxes.h"
#include "support/RealData.h"

#include "formats/IsoBoxes.h"
#include "formats/RawFile.h"
#include "formats/RawIOHandler.h"
#include "formats/RawPlugin.h"
#include "formats/RawPreviewFinder.h"
#include "formats/RawShootingData.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>

using namespace dngtest;

Q_DECLARE_METATYPE(QImageIOHandler::ImageOption)
Q_DECLARE_METATYPE(QVector<QRgb>)

namespace {

const QString RealDng = realDataPath(QStringLiteral("raw/nikon_z9_cropped.dng"));

// The default generated file: a 96 x 64 JPEG preview of four quadrants, 128 x 96 sensor data.
Dng jpegDng()
{
    return Dng();
}

Dng bitmapDng()
{
    Dng d;
    d.preview = Dng::BitmapPreview;
    return d;
}

// LibRaw 0.20 does not know JPEG XL sensor data (DNG 1.7): it refuses the file.
Dng refusedDng()
{
    Dng d;
    d.rawCompression = 52546;
    return d;
}

Dng orientedDng(quint16 orientation)
{
    Dng d;
    d.orientation = orientation;
    return d;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) qFatal("missing test file %s", qPrintable(path));
    return file.readAll();
}

const QRgb Red = qRgb(230, 0, 0), Green = qRgb(0, 220, 0), Blue = qRgb(0, 0, 240),
           White = qRgb(250, 250, 250);

// Whether the colours near the corners are these (top left, top right, bottom left, bottom
// right), to see the quadrants and their place after scaling or turning.
bool showsCorners(const QImage &image, QRgb topLeft, QRgb topRight, QRgb bottomLeft,
                  QRgb bottomRight)
{
    auto near = [&](int x, int y, QRgb want) {
        const QRgb got = image.pixel(x, y);
        return qAbs(qRed(got) - qRed(want)) < 40 && qAbs(qGreen(got) - qGreen(want)) < 40 &&
               qAbs(qBlue(got) - qBlue(want)) < 40;
    };
    const int r = image.width() - 3, b = image.height() - 3;
    return near(2, 2, topLeft) && near(r, 2, topRight) && near(2, b, bottomLeft) &&
           near(r, b, bottomRight);
}

// The quadrants as they are stored: red, green / blue, white.
bool showsQuadrants(const QImage &image)
{
    return showsCorners(image, Red, Green, Blue, White);
}

// Sets the value of a one-value entry of IFD0 (little-endian files).
QByteArray patchIfd0(QByteArray bytes, quint16 tag, quint32 value)
{
    const quint32 ifd0 = qFromLittleEndian<quint32>(bytes.constData() + 4);
    const quint16 count = qFromLittleEndian<quint16>(bytes.constData() + ifd0);
    for (quint16 i = 0; i < count; ++i) {
        char *entry = bytes.data() + ifd0 + 2 + i * 12;
        if (qFromLittleEndian<quint16>(entry) == tag) qToLittleEndian<quint32>(value, entry + 8);
    }
    return bytes;
}

// A JPEG stream whose header is whole but which no decoder can show: its quantisation tables
// are gone.
QByteArray damaged(const QByteArray &jpeg)
{
    QByteArray out = jpeg.left(2);
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF && uchar(jpeg[at + 1]) != 0xDA) {
        const int length = qFromBigEndian<quint16>(jpeg.constData() + at + 2);
        if (uchar(jpeg[at + 1]) != 0xDB) out += jpeg.mid(at, 2 + length);
        at += 2 + length;
    }
    return out + jpeg.mid(at);
}

// IFD0 and the EXIF IFD of a CR3 file, as TIFF structures of their own.
QByteArray canonIfd0(quint16 orientation)
{
    TiffWriter w;
    return w.finish(w.addIfd(
        {w.shorts(0x100, {6000}), w.shorts(0x101, {4000}), TiffWriter::ascii(0x10F, "Canon"),
         TiffWriter::ascii(0x110, "Canon EOS Test"), w.shorts(0x112, {orientation}),
         TiffWriter::ascii(0x132, "2023:01:02 03:04:05")}));
}

QByteArray canonExif()
{
    TiffWriter w;
    return w.finish(w.addIfd({w.rationals(0x829A, {{1, 125}}), w.shorts(0x8827, {800})}));
}

// A CR3 file with a 40 x 30 thumbnail, a 96 x 64 preview and a 200 x 120 full-size JPEG.
isotest::Cr3 wholeCr3()
{
    isotest::Cr3 c;
    c.ifd0 = canonIfd0(6);
    c.exif = canonExif();
    c.thumbnail = isotest::thumbnailBox(jpegBytes(quadrants(40, 30)), QSize(40, 30));
    c.preview = isotest::previewBox(jpegBytes(quadrants(96, 64)), QSize(96, 64));
    c.full = jpegBytes(quadrants(200, 120));
    return c;
}

// A CRW file: the thumbnail record in the root heap, the JPEG from the sensor data and the
// image record in the properties' sub-heap, the maker's and camera's names one deeper.
QByteArray crwFile(const QByteArray &thumbnail, const QByteArray &large, qint32 rotation = 90)
{
    using namespace ciff;
    const QByteArray camera = heap({{MakeModel, makeModel("Canon", "Canon EOS Test CRW")}});
    const QByteArray properties = heap({{ImageInfo, imageInfo(3072, 2048, rotation)},
                                        {TimeStamp, le32(1700000000) + le32(0) + le32(0)},
                                        {CameraObject, camera}});
    return file(heap({{Thumbnail, thumbnail}, {JpegFromRaw, large}, {ImageProps, properties}}));
}

QString line(const QString &description, const QString &name)
{
    for (const QString &l : description.split(QStringLiteral("\n\n")))
        if (l.startsWith(name + QStringLiteral(": "))) return l.mid(name.size() + 2);
    return QStringLiteral("<missing>");
}

} // namespace

class tst_Raw : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void capabilities_data();
    void capabilities();
    void metadataKeys();
    void options_data();
    void options();

    void openWithLibRaw_data();
    void openWithLibRaw();
    void description();
    void orientation_data();
    void orientation();
    void scaledRead_data();
    void scaledRead();

    void fallback_data();
    void fallback();
    void fallbackDescription_data();
    void fallbackDescription();
    void largestPreview_data();
    void largestPreview();

    void walkedPreviews_data();
    void walkedPreviews();
    void walkedShootingData_data();
    void walkedShootingData();
    void pictureSize_data();
    void pictureSize();
    void refused_data();
    void refused();
    void isoBoxes_data();
    void isoBoxes();
    void unnamedDevice_data();
    void unnamedDevice();

    void throughImageReader_data();
    void throughImageReader();
    void concurrentReads();
    void fuzzFindings_data();
    void fuzzFindings();
    void picsageImage_data();
    void picsageImage();

private:
    QString write(const QString &name, const QByteArray &bytes);
    QTemporaryDir m_dir;
};

void tst_Raw::initTestCase()
{
    QVERIFY(m_dir.isValid());
    REAL_DATA(real, QStringLiteral("raw/nikon_z9_cropped.dng"));
    QCOMPARE(real, RealDng);
}

QString tst_Raw::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_Raw::capabilities_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("file"); // empty: no device
    QTest::addColumn<bool>("canRead");

    const QString dng = write(QStringLiteral("cap.dng"), jpegDng().build());
    const QString png = m_dir.filePath(QStringLiteral("cap.png"));
    QImage(4, 4, QImage::Format_RGB32).save(png);
    QTest::newRow("tiff") << QByteArray("tiff") << QString() << true;
    QTest::newRow("tif") << QByteArray("tif") << QString() << true;
    QTest::newRow("nef") << QByteArray("nef") << QString() << true;
    QTest::newRow("cr3") << QByteArray("cr3") << QString() << true;
    QTest::newRow("rw2") << QByteArray("rw2") << QString() << true;
    QTest::newRow("NEF upper case") << QByteArray("NEF") << QString() << false;
    QTest::newRow("jpg") << QByteArray("jpg") << QString() << false;
    QTest::newRow("jpg with a raw file") << QByteArray("jpg") << dng << false;
    QTest::newRow("by content: dng") << QByteArray() << dng << true;
    QTest::newRow("by content: png") << QByteArray() << png << false;
    QTest::newRow("by content: real DNG 1.7 file") << QByteArray() << RealDng << true;
    QTest::newRow("by content: no device") << QByteArray() << QString() << false;
}

void tst_Raw::capabilities()
{
    QFETCH(QByteArray, format);
    QFETCH(QString, file);
    QFETCH(bool, canRead);

    QFile device(file);
    if (!file.isEmpty()) QVERIFY(device.open(QIODevice::ReadOnly));
    RawPlugin plugin;
    const auto caps = plugin.capabilities(file.isEmpty() ? nullptr : &device, format);
    QCOMPARE(bool(caps & QImageIOPlugin::CanRead), canRead);
    QVERIFY(!(caps & QImageIOPlugin::CanWrite));
    if (!file.isEmpty()) QCOMPARE(device.pos(), qint64(0));
}

void tst_Raw::metadataKeys()
{
    RawPlugin plugin;
    QCOMPARE(plugin.keys(), QStringList({"crw", "cr2", "cr3", "arw", "nef", "raf", "dng", "pef",
                                         "orf", "mrw", "x3f", "rw2"}));
    // The library's static plug-in carries the metadata QImageReader chooses it by.
    QJsonArray keys;
    for (const QStaticPlugin &p : QPluginLoader::staticPlugins()) {
        const QJsonObject meta = p.metaData();
        if (meta.value(QStringLiteral("className")).toString() == QLatin1String("RawPlugin"))
            keys = meta.value(QStringLiteral("MetaData")).toObject().value("Keys").toArray();
    }
    QStringList names;
    for (const QJsonValue &k : keys)
        names << k.toString();
    QCOMPARE(names, QStringList({"crw", "cr2", "arw", "nef", "raf", "dng", "nef", "raf", "dng",
                                 "pef", "orf", "mrw"}));
    QVERIFY(QImageReader::supportedImageFormats().contains("dng"));
}

void tst_Raw::options_data()
{
    QTest::addColumn<QImageIOHandler::ImageOption>("option");
    QTest::addColumn<bool>("supported");
    QTest::newRow("Size") << QImageIOHandler::Size << true;
    QTest::newRow("Description") << QImageIOHandler::Description << true;
    QTest::newRow("ScaledSize") << QImageIOHandler::ScaledSize << true;
    QTest::newRow("ImageFormat") << QImageIOHandler::ImageFormat << true;
    QTest::newRow("ClipRect") << QImageIOHandler::ClipRect << false;
    QTest::newRow("Quality") << QImageIOHandler::Quality << false;
    QTest::newRow("Transformation") << QImageIOHandler::ImageTransformation << false;
}

void tst_Raw::options()
{
    QFETCH(QImageIOHandler::ImageOption, option);
    QFETCH(bool, supported);

    RawIOHandler handler;
    QCOMPARE(handler.supportsOption(option), supported);
    if (!supported) QVERIFY(!handler.option(option).isValid());
    // The pixel format is the same whatever the file, or without one.
    QCOMPARE(handler.option(QImageIOHandler::ImageFormat).value<QImage::Format>(),
             QImage::Format_RGB32);
    for (const QString &path : {write(QStringLiteral("opt.dng"), jpegDng().build()), RealDng,
                                write(QStringLiteral("opt.nef"), QByteArray("not a raw file"))}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        handler.setDevice(&file);
        QCOMPARE(handler.option(QImageIOHandler::ImageFormat).value<QImage::Format>(),
                 QImage::Format_RGB32);
        handler.setDevice(nullptr);
    }
    // Only the scaled size is taken.
    handler.setOption(QImageIOHandler::ScaledSize, QSize(7, 5));
    handler.setOption(QImageIOHandler::Quality, 10);
    QCOMPARE(handler.option(QImageIOHandler::ScaledSize).toSize(), QSize(7, 5));
    QVERIFY(!handler.option(QImageIOHandler::Quality).isValid());
}

void tst_Raw::openWithLibRaw_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("preview");

    QTest::newRow("JPEG preview") << jpegDng().build() << QSize(96, 64);
    QTest::newRow("bitmap preview") << bitmapDng().build() << QSize(96, 64);
    Dng big = jpegDng();
    big.bigEndian = true;
    QTest::newRow("big-endian") << big.build() << QSize(96, 64);
    Dng wide = bitmapDng();
    wide.picture = quadrants(120, 40);
    QTest::newRow("wide bitmap preview") << wide.build() << QSize(120, 40);
}

void tst_Raw::openWithLibRaw()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, preview);

    const QString path = write(QStringLiteral("libraw.dng"), bytes);
    raw::RawFile rawFile;
    QVERIFY(rawFile.open(path, false));
    QVERIFY(!rawFile.usesFallback());
    QCOMPARE(rawFile.size(), QSize(128, 96));
    QCOMPARE(rawFile.previewSize(), preview);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&file);
    QVERIFY(handler.canRead());
    QCOMPARE(handler.format(), QByteArray("raw"));
    QCOMPARE(handler.option(QImageIOHandler::Size).toSize(), QSize(128, 96));
    QImage image;
    QVERIFY(handler.read(&image));
    // Without a scaled size the picture keeps the preview's own size.
    QCOMPARE(image.size(), preview);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QVERIFY(showsQuadrants(image));
}

void tst_Raw::description()
{
    const QString path = write(QStringLiteral("description.dng"), jpegDng().build());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&file);
    QCOMPARE(handler.option(QImageIOHandler::Description).toString(),
             QStringLiteral("DateTime: 2024-05-06 07:08:09\n\nMake: Picsage\n\nModel: TestCam 1\n\n"
                            "LensModel: Test Lens 35mm\n\nAperture: 2.8\n\nApertureMax: 2\n\n"
                            "ExposureTime: 0.004\n\nExposureCom: 1\n\nISOSpeed: 400\n\n"
                            "FocalLen: 35\n\nMeteringMode: -1\n\nFlash: 1\n\n"
                            "WhiteBalance: -1\n\nLightSource: -1\n\nExposureProgram: -1\n\n"
                            "Orientation: 0\n\nHeight: 96\n\nWidth: 128"));

    // Text from the file is never taken for a placeholder.
    Dng percent = jpegDng();
    percent.make = "Maker %2 %10";
    QFile other(write(QStringLiteral("percent.dng"), percent.build()));
    QVERIFY(other.open(QIODevice::ReadOnly));
    RawIOHandler second;
    second.setDevice(&other);
    QCOMPARE(line(second.option(QImageIOHandler::Description).toString(), "Make"),
             QStringLiteral("Maker %2 %10"));

    // QImageReader hands the lines out as texts.
    QImageReader reader(path);
    QCOMPARE(reader.text(QStringLiteral("Model")), QStringLiteral("TestCam 1"));
}

void tst_Raw::orientation_data()
{
    QTest::addColumn<int>("exif");
    QTest::addColumn<QString>("shown");
    // EXIF 1, 3, 6 and 8 are LibRaw's flip codes 0, 3, 6 and 5; 5 is shown as 8.
    QTest::newRow("upright") << 1 << "0";
    QTest::newRow("half turn") << 3 << "3";
    QTest::newRow("quarter turn clockwise") << 6 << "6";
    QTest::newRow("quarter turn anticlockwise (flip 5)") << 8 << "8";
}

void tst_Raw::orientation()
{
    QFETCH(int, exif);
    QFETCH(QString, shown);
    QFile file(write(QStringLiteral("orientation.dng"), orientedDng(quint16(exif)).build()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&file);
    const QString description = handler.option(QImageIOHandler::Description).toString();
    QCOMPARE(line(description, "Orientation"), shown);
    // The picture size is the sensor's, not turned.
    QCOMPARE(line(description, "Width"), QStringLiteral("128"));
}

void tst_Raw::scaledRead_data()
{
    QTest::addColumn<QString>("file"); // "generated", "refused" (generated, fallback) or "real"
    QTest::addColumn<QSize>("scaled");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("preview's own size") << "generated" << QSize(96, 64) << QSize(96, 64);
    QTest::newRow("larger") << "generated" << QSize(192, 128) << QSize(192, 128);
    QTest::newRow("smaller") << "generated" << QSize(48, 32) << QSize(48, 32);
    QTest::newRow("other aspect") << "generated" << QSize(50, 50) << QSize(50, 50);
    QTest::newRow("picture size") << "generated" << QSize(128, 96) << QSize(128, 96);
    QTest::newRow("fallback, larger") << "refused" << QSize(200, 100) << QSize(200, 100);
    QTest::newRow("real, smaller") << "real" << QSize(128, 85) << QSize(128, 85);
}

void tst_Raw::scaledRead()
{
    QFETCH(QString, file);
    QFETCH(QSize, scaled);
    QFETCH(QSize, expected);

    const QString path = file == "real" ? RealDng
                         : file == "refused"
                             ? write(QStringLiteral("scaled-refused.dng"), refusedDng().build())
                             : write(QStringLiteral("scaled.dng"), jpegDng().build());
    QFile device(path);
    QVERIFY(device.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&device);
    handler.setOption(QImageIOHandler::ScaledSize, scaled);
    QImage image;
    QVERIFY(handler.read(&image));
    QCOMPARE(image.size(), expected);
    if (file != "real") QVERIFY(showsQuadrants(image));

    // Equal to the unscaled read when the scaled size is the preview's own.
    if (file == "generated" && scaled == QSize(96, 64)) {
        RawIOHandler plain;
        plain.setDevice(&device);
        QImage unscaled;
        QVERIFY(plain.read(&unscaled));
        QCOMPARE(image, unscaled);
    }
}

void tst_Raw::fallback_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");    // the sensor data's size
    QTest::addColumn<QSize>("picture"); // the preview's

    QTest::newRow("real DNG 1.7 (JPEG XL)") << RealDng << QSize(5392, 3592) << QSize(256, 171);
    QTest::newRow("generated, JPEG XL sensor data")
        << write(QStringLiteral("jxl.dng"), refusedDng().build()) << QSize(128, 96)
        << QSize(96, 64);
    Dng upper = refusedDng();
    upper.bigEndian = true;
    QTest::newRow("upper-case suffix, big-endian")
        << write(QStringLiteral("JXL.NEF"), upper.build()) << QSize(128, 96) << QSize(96, 64);
    Dng noSensor = refusedDng();
    noSensor.rawCompression = 1;
    QByteArray bytes = noSensor.build();
    // Without a sensor-data IFD the preview's size is the picture's; LibRaw refuses it too.
    bytes = patchIfd0(bytes, 0x14A, 0);
    QTest::newRow("no sensor data")
        << write(QStringLiteral("nosensor.dng"), bytes) << QSize(96, 64) << QSize(96, 64);
}

void tst_Raw::fallback()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QSize, picture);

    raw::RawFile withoutFallback;
    QVERIFY(!withoutFallback.open(path, false));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&file);
    QVERIFY(handler.canRead());
    QCOMPARE(handler.option(QImageIOHandler::Size).toSize(), size);
    const QString description = handler.option(QImageIOHandler::Description).toString();
    QCOMPARE(line(description, "Width"), QString::number(size.width()));
    QCOMPARE(line(description, "Height"), QString::number(size.height()));
    QImage image;
    QVERIFY(handler.read(&image));
    QCOMPARE(image.size(), picture);
    if (path != RealDng) QVERIFY(showsQuadrants(image));

    // The same bytes without a raw suffix are not taken.
    const QString renamed = write(QStringLiteral("renamed.bin"), readFile(path));
    QFile other(renamed);
    QVERIFY(other.open(QIODevice::ReadOnly));
    RawIOHandler refused;
    refused.setDevice(&other);
    QVERIFY(!refused.canRead());
    QVERIFY(!refused.read(&image));
}

// The walk reads the same shooting data from IFD0 and the EXIF IFD as LibRaw does.
void tst_Raw::fallbackDescription_data()
{
    QTest::addColumn<int>("orientation");
    QTest::newRow("upright") << 1;
    QTest::newRow("half turn") << 3;
    QTest::newRow("quarter turn anticlockwise") << 8;
}

void tst_Raw::fallbackDescription()
{
    QFETCH(int, orientation);
    Dng opened = orientedDng(quint16(orientation));
    Dng refused = opened;
    refused.rawCompression = 52546;
    raw::RawFile withLibRaw, withWalk;
    QVERIFY(withLibRaw.open(write(QStringLiteral("described.dng"), opened.build()), true));
    QVERIFY(withWalk.open(write(QStringLiteral("described-walk.dng"), refused.build()), true));
    QVERIFY(!withLibRaw.usesFallback());
    QVERIFY(withWalk.usesFallback());
    QCOMPARE(withWalk.description(), withLibRaw.description());
    QCOMPARE(withWalk.size(), withLibRaw.size());

    raw::RawFile real;
    QVERIFY(real.open(RealDng, true));
    QCOMPARE(line(real.description(), "Model"), QStringLiteral("NIKON Z 9"));
    QCOMPARE(line(real.description(), "LensModel"), QStringLiteral("NIKKOR Z 85mm f/1.2 S"));
    QCOMPARE(line(real.description(), "Orientation"), QStringLiteral("0"));
    // Its ISO speed tag holds 65535; the recommended exposure index holds the speed.
    QCOMPARE(line(real.description(), "ISOSpeed"), QStringLiteral("102400"));
}

void tst_Raw::largestPreview_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");

    Dng larger = refusedDng();
    larger.secondPreview = quadrants(200, 120);
    QTest::newRow("larger one in a sub-IFD") << larger.build() << QSize(200, 120);
    Dng smaller = refusedDng();
    smaller.secondPreview = quadrants(40, 30);
    QTest::newRow("smaller one in a sub-IFD") << smaller.build() << QSize(96, 64);
    QTest::newRow("bitmap preview only") << [] {
        Dng d = refusedDng();
        d.preview = Dng::BitmapPreview;
        return d.build();
    }() << QSize();
    QTest::newRow("real file") << readFile(RealDng) << QSize(256, 171);

    // A chain whose next-IFD link points back at IFD0, and a sub-IFD that is IFD0 itself.
    QByteArray loop = refusedDng().build();
    const quint32 ifd0 = qFromLittleEndian<quint32>(loop.constData() + 4);
    const quint16 count = qFromLittleEndian<quint16>(loop.constData() + ifd0);
    qToLittleEndian<quint32>(ifd0, loop.data() + ifd0 + 2 + count * 12);
    QTest::newRow("IFD chain loops") << loop << QSize(96, 64);
    QTest::newRow("sub-IFD is IFD0")
        << patchIfd0(refusedDng().build(), 0x14A, ifd0) << QSize(96, 64);
    QTest::newRow("sub-IFD past the end")
        << patchIfd0(refusedDng().build(), 0x14A, 0xFFFFFFF0u) << QSize(96, 64);
    QTest::newRow("EXIF IFD inside the header")
        << patchIfd0(refusedDng().build(), 0x8769, 2) << QSize(96, 64);
}

void tst_Raw::largestPreview()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const raw::JpegPreview preview = raw::findLargestJpegPreview(&buffer);
    QCOMPARE(preview.size, size);
    if (!size.isValid()) return;
    QVERIFY(preview.offset + preview.length <= bytes.size());
    QCOMPARE(raw::decodeJpegPreview(&buffer, preview).size(), size);
}

// The walk over CR3 and CRW files, and the fallback to an uncompressed thumbnail: the
// largest JPEG preview that is whole, and what is shown when the JPEG ones do not decode.
void tst_Raw::walkedPreviews_data()
{
    using namespace isotest;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("largest"); // the largest JPEG preview found
    QTest::addColumn<QSize>("shown");   // what decodes

    const QByteArray small = jpegBytes(quadrants(40, 30)), large = jpegBytes(quadrants(96, 64));
    Cr3 cr3 = wholeCr3();
    QTest::newRow("CR3: full-size JPEG of the first track")
        << cr3.build() << QSize(200, 120) << QSize(200, 120);
    cr3.fullOffsetShift = 1 << 30;
    QTest::newRow("CR3: track's sample past the end")
        << cr3.build() << QSize(96, 64) << QSize(96, 64);
    cr3.full.clear();
    cr3.preview = previewBox(large, QSize(96, 64), large.size() + 1);
    QTest::newRow("CR3: preview's length past its box")
        << cr3.build() << QSize(40, 30) << QSize(40, 30);
    cr3.preview = box("PRVW", {}, 1 << 20);
    QTest::newRow("CR3: preview box past its parent")
        << cr3.build() << QSize(40, 30) << QSize(40, 30);
    Cr3 cut = wholeCr3();
    cut.full.clear();
    const QByteArray whole = cut.build();
    QTest::newRow("CR3: cut inside the preview")
        << whole.left(whole.size() - large.size() / 2) << QSize(40, 30) << QSize(40, 30);
    Cr3 stuck = wholeCr3();
    stuck.full.clear();
    stuck.afterMovie = largeBox("free", {}, 0);
    QTest::newRow("CR3: 64-bit size 0 before the preview box")
        << stuck.build() << QSize(40, 30) << QSize(40, 30);
    stuck.afterMovie = box("free", QByteArray(16, '\0'), 0);
    QTest::newRow("CR3: size 0 swallows the preview box")
        << stuck.build() << QSize(40, 30) << QSize(40, 30);
    Cr3 bare;
    bare.ifd0 = canonIfd0(1);
    bare.thumbnail = thumbnailBox(small, QSize(40, 30), 1 << 30);
    QTest::newRow("CR3: thumbnail's length past the end") << bare.build() << QSize() << QSize();

    QTest::newRow("CRW: JPEG from the sensor data")
        << crwFile(small, large) << QSize(96, 64) << QSize(96, 64);
    QTest::newRow("CRW: only the thumbnail is whole")
        << crwFile(small, large.left(100)) << QSize(40, 30) << QSize(40, 30);
    QByteArray loop = crwFile(small, large);
    {
        using namespace ciff;
        // A sub-heap that is its parent, and one that points past it.
        loop = file(heap({{Thumbnail, small},
                          {ImageProps, QByteArray(), 1 << 20, 0},
                          {ImageProps, heap({}), -1, 0}}));
    }
    QTest::newRow("CRW: sub-heaps that loop or overflow") << loop << QSize(40, 30) << QSize(40, 30);
    QTest::newRow("CRW: table past the heap")
        << ciff::file(ciff::heap({{ciff::Thumbnail, small}}, 1 << 30)) << QSize() << QSize();
    QTest::newRow("CRW: record count past the heap")
        << ciff::file(small + ciff::le16(60000) + ciff::le32(0)) << QSize() << QSize();

    // Every JPEG preview is damaged: the uncompressed thumbnail is shown.
    Dng both = refusedDng();
    both.jpeg = damaged(jpegBytes(quadrants(96, 64)));
    both.thumbnail = quadrants(48, 32);
    QTest::newRow("damaged JPEG, uncompressed thumbnail")
        << both.build() << QSize(96, 64) << QSize(48, 32);
    both.thumbnail = QImage();
    QTest::newRow("damaged JPEG only") << both.build() << QSize(96, 64) << QSize();
}

void tst_Raw::walkedPreviews()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, largest);
    QFETCH(QSize, shown);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const raw::Previews previews = raw::findPreviews(&buffer);
    QCOMPARE(previews.jpegs.value(0).size, largest);
    for (const raw::JpegPreview &jpeg : previews.jpegs)
        QVERIFY(jpeg.offset + jpeg.length <= bytes.size());
    const QImage image = raw::decodePreview(&buffer, previews);
    QCOMPARE(image.isNull(), !shown.isValid());
    if (image.isNull()) return;
    QCOMPARE(image.size(), shown);
    QVERIFY(showsQuadrants(image));
}

// What the walk reads about the shooting from CR3 and CRW files.
void tst_Raw::walkedShootingData_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("isoSpeed");

    isotest::Cr3 cr3 = wholeCr3();
    QTest::newRow("CR3") << cr3.build() << "Canon EOS Test" << QSize(6000, 4000) << 6 << 800;
    cr3.ifd0 = canonIfd0(8);
    cr3.exif.clear();
    QTest::newRow("CR3, turned the other way, no EXIF IFD")
        << cr3.build() << "Canon EOS Test" << QSize(6000, 4000) << 8 << 0;
    const QByteArray jpeg = jpegBytes(quadrants(40, 30));
    QTest::newRow("CRW, rotated 90")
        << crwFile(jpeg, {}, 90) << "Canon EOS Test CRW" << QSize(3072, 2048) << 6 << 0;
    QTest::newRow("CRW, rotated -90")
        << crwFile(jpeg, {}, -90) << "Canon EOS Test CRW" << QSize(3072, 2048) << 8 << 0;
}

void tst_Raw::walkedShootingData()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, model);
    QFETCH(QSize, picture);
    QFETCH(int, orientation);
    QFETCH(int, isoSpeed);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    raw::ShootingData shooting;
    raw::findPreviews(&buffer, &shooting);
    QCOMPARE(shooting.make, QStringLiteral("Canon"));
    QCOMPARE(shooting.model, model);
    QCOMPARE(shooting.picture, picture);
    QCOMPARE(shooting.flip, raw::flipFromExifOrientation(orientation));
    QCOMPARE(int(shooting.isoSpeed), isoSpeed);
}

void tst_Raw::pictureSize_data()
{
    QTest::addColumn<QSize>("working");
    QTest::addColumn<int>("fujiWidth");
    QTest::addColumn<double>("pixelAspect");
    QTest::addColumn<QSize>("picture");
    // LibRaw's working size of a Fujifilm S5600 file and the camera's picture size.
    QTest::newRow("SuperCCD") << QSize(3584, 3583) << 2144 << 1.0 << QSize(3030, 2036);
    QTest::newRow("square pixels") << QSize(6000, 4000) << 0 << 1.0 << QSize(6000, 4000);
    QTest::newRow("pixels twice as tall") << QSize(2000, 1000) << 0 << 0.5 << QSize(2000, 2000);
    QTest::newRow("pixels twice as wide") << QSize(1000, 2000) << 0 << 2.0 << QSize(2000, 2000);
    QTest::newRow("aspect not a number") << QSize(640, 480) << 0 << qQNaN() << QSize(640, 480);
    QTest::newRow("SuperCCD width past the height")
        << QSize(100, 80) << 500 << 1.0 << QSize(100, 80);
}

void tst_Raw::pictureSize()
{
    QFETCH(QSize, working);
    QFETCH(int, fujiWidth);
    QFETCH(double, pixelAspect);
    QFETCH(QSize, picture);
    QCOMPARE(raw::pictureSize(working, fujiWidth, pixelAspect), picture);
}

void tst_Raw::refused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray good = refusedDng().build();
    QTest::newRow("empty") << "empty.dng" << QByteArray();
    QTest::newRow("text with a raw suffix") << "text.nef" << QByteArray("just some text\n");
    QByteArray png;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        quadrants(8, 8).save(&b, "PNG");
    }
    QTest::newRow("PNG with a raw suffix") << "picture.cr2" << png;
    QTest::newRow("JPEG with a raw suffix") << "picture.arw" << jpegBytes(quadrants(16, 16));
    QTest::newRow("TIFF header only") << "header.dng" << QByteArray("II*\0\x08\0\0\0", 8);
    QTest::newRow("IFD0 beyond the end") << "far.dng" << QByteArray("MM\0*\x7f\xff\xff\xf0", 8);
    QTest::newRow("truncated to 100 bytes") << "cut100.dng" << good.left(100);
    QTest::newRow("truncated to half") << "cuthalf.dng" << good.left(good.size() / 2);
    QTest::newRow("truncated by 300 bytes") << "cut300.dng" << good.left(good.size() - 300);
    QTest::newRow("preview runs past the end")
        << "pastend.dng" << patchIfd0(good, 0x117, quint32(good.size()));
    QTest::newRow("preview starts past the end")
        << "farpreview.dng" << patchIfd0(good, 0x111, 0x7FFFFFF0u);
    Dng missing = jpegDng();
    missing.preview = Dng::NoPreview;
    QTest::newRow("no preview (LibRaw opens it)") << "nopreview.dng" << missing.build();
    Dng corrupt = jpegDng();
    corrupt.jpeg = QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF") + QByteArray(300, '\x55');
    QTest::newRow("corrupt JPEG preview (LibRaw opens it)") << "corrupt.dng" << corrupt.build();
    Dng corruptRefused = refusedDng();
    corruptRefused.jpeg = corrupt.jpeg;
    QTest::newRow("corrupt JPEG preview (LibRaw refuses)")
        << "corrupt2.dng" << corruptRefused.build();
    // A frame header that claims 60000 x 60000 pixels: refused before anything is allocated.
    Dng huge = refusedDng();
    huge.jpeg = QByteArray("\xFF\xD8\xFF\xC0\x00\x11\x08\xEA\x60\xEA\x60\x03", 12) +
                QByteArray(200, '\x01');
    QTest::newRow("preview claims 60000 x 60000") << "huge.dng" << huge.build();

    // Debian's LibRaw 0.20 loops forever on a box whose 64-bit size is 0: such files are not
    // handed to it, and where the check does not look, its reads run out of budget.
    using namespace isotest;
    const QByteArray stuck = largeBox("CCDT", QByteArray(16, '\0'), 0);
    QTest::newRow("CR3, 64-bit size 0 in moov")
        << "stuck1.cr3" << fileType() + box("moov", stuck + QByteArray(32, '\0'));
    QTest::newRow("CR3, 64-bit size 0 in Canon's box")
        << "stuck2.cr3" << fileType() + box("moov", canonMetadata(stuck + QByteArray(16, '\0')));
    QTest::newRow("CR3, 64-bit size 0 where only the read budget ends the loop")
        << "stuck3.cr3"
        << fileType() + box("moov", canonMetadata(box("CCTP", QByteArray(12, '\0') + stuck) +
                                                  QByteArray(16, '\0')));
}

void tst_Raw::refused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);

    const QString path = write(name, bytes);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    RawIOHandler handler;
    handler.setDevice(&file);
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(!handler.read(&image));
    // A refused read leaves the picture alone.
    QCOMPARE(image.size(), QSize(3, 3));
    QCOMPARE(image.pixel(1, 1), qRgb(255, 0, 0));
    // The same through QImageReader, with the plug-in chosen by the suffix.
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    QVERIFY(reader.read().isNull());
}

void tst_Raw::isoBoxes_data()
{
    using namespace isotest;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("sound");
    const QByteArray thumbnail = box("THMB", QByteArray(40, '\x11'));
    const QByteArray moov = box("moov", canonMetadata(box("CMT1", "II*") + thumbnail) +
                                            box("trak", box("mdia", box("minf", QByteArray()))));
    QTest::newRow("CR3 skeleton") << fileType() + moov << true;
    QTest::newRow("64-bit sizes") << fileType() + largeBox("moov", largeBox("trak", {})) << true;
    QTest::newRow("size 0: to the end of the file")
        << fileType() + moov + box("mdat", QByteArray(100, '\0'), 0) << true;
    QTest::newRow("64-bit size 0") << fileType() + largeBox("mdat", {}, 0) << false;
    QTest::newRow("64-bit size less than its header")
        << fileType() + largeBox("mdat", QByteArray(40, '\0'), 12) << false;
    QTest::newRow("64-bit size past the file")
        << fileType() + largeBox("mdat", QByteArray(40, '\0'), quint64(1) << 62) << false;
    QTest::newRow("32-bit size under 8") << fileType() + box("free", {}, 4) << false;
    QTest::newRow("box past its parent")
        << fileType() + box("moov", box("trak", QByteArray(8, '\0'), 400) + QByteArray(300, '\0'))
        << false;
    QTest::newRow("box in Canon's box past it")
        << fileType() + box("moov", canonMetadata(box("THMB", {}, 4000))) << false;
    QByteArray deep;
    for (int i = 0; i < 40; ++i)
        deep = box("trak", deep);
    QTest::newRow("nested 40 deep") << fileType() + box("moov", deep) << false;
}

// The box structure of ISO base media files is checked before LibRaw sees them.
void tst_Raw::isoBoxes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, sound);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(raw::isoBoxesAreSound(&buffer), sound);
    QVERIFY(raw::isIsoBaseMedia(&buffer));
}

// LibRaw reads files by name: a memory buffer, or a file opened from a descriptor (as the
// analysis opens pictures whose names are not text), is refused without a word from Qt.
void tst_Raw::unnamedDevice_data()
{
    QTest::addColumn<bool>("descriptor");
    QTest::newRow("memory buffer") << false;
    QTest::newRow("file opened from a descriptor") << true;
}

void tst_Raw::unnamedDevice()
{
    QFETCH(bool, descriptor);
    QByteArray bytes = jpegDng().build();
    QBuffer buffer(&bytes);
    QFile file;
    QIODevice *device = &buffer;
    if (descriptor) {
        const int fd = ::open(QFile::encodeName(write(QStringLiteral("unnamed.dng"), bytes)),
                              O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QVERIFY(file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        device = &file;
    } else {
        QVERIFY(buffer.open(QIODevice::ReadOnly));
    }

    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { messages << text; });
    RawIOHandler handler;
    handler.setDevice(device);
    const bool canRead = handler.canRead();
    const QSize size = handler.option(QImageIOHandler::Size).toSize();
    QImage image;
    const bool read = handler.read(&image);
    const bool capable = bool(RawPlugin().capabilities(device, QByteArray()));
    qInstallMessageHandler(previous);

    QVERIFY(!canRead);
    QVERIFY(!size.isValid());
    QVERIFY(!read);
    QVERIFY(image.isNull());
    QVERIFY(!capable);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
    // QImageReader with the format named finds the plug-in and is refused by it.
    device->seek(0);
    QImageReader reader(device, "dng");
    QVERIFY(reader.read().isNull());
}

void tst_Raw::throughImageReader_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("picture");
    QTest::newRow("LibRaw's path") << write(QStringLiteral("reader.dng"), jpegDng().build())
                                   << QSize(128, 96) << QSize(96, 64);
    QTest::newRow("fallback") << RealDng << QSize(5392, 3592) << QSize(256, 171);
    QTest::newRow("nef suffix") << write(QStringLiteral("reader.nef"), bitmapDng().build())
                                << QSize(128, 96) << QSize(96, 64);
    // LibRaw's preview does not decode; neither does the walk's JPEG one.
    Dng damagedPreview = jpegDng();
    damagedPreview.jpeg = damaged(jpegBytes(quadrants(96, 64)));
    damagedPreview.thumbnail = quadrants(48, 32);
    QTest::newRow("damaged JPEG, thumbnail (LibRaw opens it)")
        << write(QStringLiteral("damaged.dng"), damagedPreview.build()) << QSize(128, 96)
        << QSize(48, 32);
    damagedPreview.rawCompression = 52546;
    QTest::newRow("damaged JPEG, thumbnail (LibRaw refuses it)")
        << write(QStringLiteral("damaged-jxl.dng"), damagedPreview.build()) << QSize(128, 96)
        << QSize(48, 32);
    isotest::Cr3 cr3 = wholeCr3();
    QTest::newRow("generated CR3")
        << write(QStringLiteral("reader.cr3"), cr3.build()) << QSize(6000, 4000) << QSize(200, 120);
    QTest::newRow("generated CRW")
        << write(QStringLiteral("reader.crw"),
                 crwFile(jpegBytes(quadrants(40, 30)), jpegBytes(quadrants(96, 64))))
        << QSize(3072, 2048) << QSize(96, 64);
}

void tst_Raw::throughImageReader()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QSize, picture);

    QImageReader reader(path);
    QCOMPARE(reader.size(), size);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), picture);

    QImageReader scaled(path);
    scaled.setScaledSize(QSize(40, 30));
    QCOMPARE(scaled.read().size(), QSize(40, 30));
}

// Each handler has a LibRaw instance of its own: handlers on several threads at once, and
// one handler read twice, all deliver the same pictures.
void tst_Raw::concurrentReads()
{
    const QStringList paths = {write(QStringLiteral("thread-jpeg.dng"), jpegDng().build()),
                               write(QStringLiteral("thread-bitmap.dng"), bitmapDng().build()),
                               write(QStringLiteral("thread-refused.dng"), refusedDng().build()),
                               RealDng};
    const QVector<QSize> sizes = {QSize(96, 64), QSize(96, 64), QSize(96, 64), QSize(256, 171)};
    QAtomicInt failures = 0;
    QVector<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([&, t] {
            for (int round = 0; round < 6; ++round) {
                const int which = (t + round) % paths.size();
                QFile file(paths[which]);
                if (!file.open(QIODevice::ReadOnly)) {
                    failures.ref();
                    continue;
                }
                RawIOHandler handler;
                handler.setDevice(&file);
                QImage first, second;
                if (!handler.read(&first) || !handler.read(&second) ||
                    first.size() != sizes[which] || first != second)
                    failures.ref();
            }
        });
        threads.last()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(120000));
        delete thread;
    }
    QCOMPARE(failures.loadRelaxed(), 0);
}

// Files the fuzzer found, replayed: each is read or refused without a crash, and neither
// LibRaw nor the libraries under it write anything on standard error.
void tst_Raw::fuzzFindings_data()
{
    QTest::addColumn<QString>("path");
    const QDir folder(realDataPath(QStringLiteral("../fuzz/fuzz_raw_handler")));
    const QStringList files = folder.entryList(QDir::Files);
    QVERIFY2(!files.isEmpty(), qPrintable(folder.path()));
    for (const QString &name : files)
        QTest::newRow(qPrintable(name)) << folder.filePath(name);
}

void tst_Raw::fuzzFindings()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Qt's own messages go through its handler, not straight to the stream.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QByteArray written;
    {
        CaptureStdout err(STDERR_FILENO);
        RawIOHandler handler;
        handler.setDevice(&file);
        QImage image;
        handler.canRead();
        handler.option(QImageIOHandler::Description);
        handler.read(&image);
        written = err.text();
    }
    qInstallMessageHandler(previous);
    QVERIFY2(written.isEmpty(), written.constData());
}

// picsage-image, the library on the command line, on raw files: info reports the camera's
// size and orientation, render paints the preview upright.
void tst_Raw::picsageImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QSize>("size");      // info's width and height
    QTest::addColumn<int>("orientation"); // info's orientation
    QTest::addColumn<QSize>("rendered");  // render's picture, without a box
    QTest::addColumn<QVector<QRgb>>("corners");
    QTest::addColumn<QString>("camera"); // info's camera, when it reports one

    const QVector<QRgb> upright{Red, Green, Blue, White};
    QTest::newRow("LibRaw's path") << write(QStringLiteral("tool.dng"), jpegDng().build()) << 0
                                   << QSize(128, 96) << 1 << QSize(96, 64) << upright << QString();
    QTest::newRow("bitmap preview, nef")
        << write(QStringLiteral("tool.nef"), bitmapDng().build()) << 0 << QSize(128, 96) << 1
        << QSize(96, 64) << upright << QString();
    // Orientation 6: the stored top-left corner is shown top right.
    QTest::newRow("turned a quarter")
        << write(QStringLiteral("tool-6.dng"), orientedDng(6).build()) << 0 << QSize(128, 96) << 6
        << QSize(64, 96) << QVector<QRgb>{Blue, Red, White, Green} << QString();
    QTest::newRow("fallback") << write(QStringLiteral("tool-jxl.dng"), refusedDng().build()) << 0
                              << QSize(128, 96) << 1 << QSize(96, 64) << upright << QString();
    QTest::newRow("real DNG 1.7") << RealDng << 0 << QSize(5392, 3592) << 1 << QSize(256, 171)
                                  << QVector<QRgb>() << QString();
    Dng missing = jpegDng();
    missing.preview = Dng::NoPreview;
    QTest::newRow("no preview") << write(QStringLiteral("tool-none.dng"), missing.build()) << 2
                                << QSize(128, 96) << 1 << QSize() << QVector<QRgb>()
                                << "Picsage TestCam 1";
    QTest::newRow("text with a raw suffix")
        << write(QStringLiteral("tool-text.cr2"), QByteArray("not a raw file\n")) << 2 << QSize()
        << 0 << QSize() << QVector<QRgb>() << QString();

    // Real CR3 and CRW files: a pruned one whose thumbnail is whole (turned a quarter), and
    // two whose previews were replaced by placeholder text. Those still report what their
    // structure says, and say that there is no usable preview.
    QTest::newRow("real CR3, thumbnail only")
        << realDataPath(QStringLiteral("raw/canon_filetype_fixture.cr3")) << 0 << QSize(6720, 4480)
        << 6 << QSize(120, 160) << QVector<QRgb>() << "Canon EOS R";
    QTest::newRow("real CR3, no usable preview")
        << realDataPath(QStringLiteral("raw/canon_exiftool.cr3")) << 2 << QSize(6024, 4020) << 1
        << QSize() << QVector<QRgb>() << "Canon EOS M50";
    QTest::newRow("real CRW, no usable preview")
        << realDataPath(QStringLiteral("raw/canon_exiftool.crw")) << 2 << QSize(3088, 2056) << 1
        << QSize() << QVector<QRgb>() << "Canon EOS 300D";
}

void tst_Raw::picsageImage()
{
    QFETCH(QString, path);
    QFETCH(int, exitCode);
    QFETCH(QSize, size);
    QFETCH(int, orientation);
    QFETCH(QSize, rendered);
    QFETCH(QVector<QRgb>, corners);
    QFETCH(QString, camera);
    const QString tool = QStringLiteral(IMAGE_TOOL_PATH);

    const ChildResult info = runChild(tool, {QStringLiteral("info"), path});
    QVERIFY(!info.crashed);
    QCOMPARE(info.exitCode, exitCode);
    const QString out = m_dir.filePath(QStringLiteral("rendered.png"));
    QFile::remove(out);
    const ChildResult render = runChild(tool, {QStringLiteral("render"), path, "-o", out});
    QVERIFY(!render.crashed);
    QCOMPARE(render.exitCode, exitCode);
    const QJsonObject fields = QJsonDocument::fromJson(info.out).object();
    if (size.isValid()) {
        QCOMPARE(fields.value("format").toString(), QFileInfo(path).suffix());
        QCOMPARE(QSize(fields.value("width").toInt(), fields.value("height").toInt()), size);
        QCOMPARE(fields.value("orientation").toInt(), orientation);
        if (!camera.isEmpty()) QCOMPARE(fields.value("camera").toString(), camera);
    } else {
        QVERIFY(info.out.isEmpty());
    }
    if (exitCode != 0) {
        // One message each, and nothing written.
        QCOMPARE(info.err.count('\n'), 1);
        QCOMPARE(render.err.count('\n'), 1);
        QVERIFY(!QFile::exists(out));
        if (size.isValid()) {
            QVERIFY2(info.err.endsWith(": no usable preview\n"), info.err);
            QCOMPARE(fields.value("error").toString(), QStringLiteral("no usable preview"));
        }
        return;
    }
    QVERIFY2(info.err.isEmpty(), info.err);

    const QImage picture(out);
    QCOMPARE(picture.size(), rendered);
    if (!corners.isEmpty())
        QVERIFY(showsCorners(picture, corners[0], corners[1], corners[2], corners[3]));

    // Into a box, keeping the aspect ratio.
    const ChildResult boxed =
        runChild(tool, {QStringLiteral("render"), path, "-o", out, "--box", "48x48"});
    QCOMPARE(boxed.exitCode, 0);
    const QSize fitted = rendered.scaled(48, 48, Qt::KeepAspectRatio);
    QCOMPARE(QImage(out).size(), fitted);
}

QTEST_GUILESS_MAIN(tst_Raw)
#include "tst_raw.moc"
