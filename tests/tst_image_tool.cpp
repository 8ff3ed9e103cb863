// picsage-image, run as a separate program from the staged tree: its commands, exit codes
// and messages, and what it does with hostile files.

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "support/ChildRun.h"
#include "support/ClaimingHeaders.h"
#include "support/OpenPicture.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Tool = QStringLiteral(IMAGE_TOOL_PATH);

// No hostile file may make the tool grow past this.
constexpr long MaxPeakKiB = 300 * 1024;

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

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A JPEG that is nothing but a frame header claiming `width` x `height`.
QByteArray jpegHeaderClaiming(int width, int height)
{
    QByteArray jpeg("\xff\xd8", 2);
    jpeg.append("\xff\xc0\x00\x11\x08", 5);
    jpeg.append(char(height >> 8)).append(char(height & 0xFF));
    jpeg.append(char(width >> 8)).append(char(width & 0xFF));
    jpeg.append("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    jpeg.append("\xff\xd9", 2);
    return jpeg;
}

// A small, whole JPEG whose frame header then claims `size` (10000 x 10000 and the like):
// the decoder would make up the missing data for every pixel claimed.
QByteArray jpegClaiming(const QSize &size, bool progressive)
{
    QImage picture(16, 12, QImage::Format_RGB32);
    picture.fill(qRgb(200, 60, 30));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(picture);
    return withFrameSize(jpeg, size);
}

// An 8-bit run-length BMP claiming `size` whose data ends the picture at once.
QByteArray rleBmpClaiming(const QSize &size)
{
    return bmpBytes(size, 8, 1, 256, QByteArray("\x00\x01", 2));
}

// An EXIF segment whose first directory offset and entry offsets point far past its end.
QByteArray brokenExifSegment()
{
    return QByteArray("\xff\xe1\x00\x22"
                      "Exif\0\0"
                      "II*\0\x00\xff\xff\x7f"
                      "\x02\x00"
                      "\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00"
                      "\x69\x87\x04\x00\x01\x00\x00\x00",
                      36);
}

// Sanitizer builds leave the decoders' and the sanitizers' own messages on standard error;
// other builds must show nothing but the tool's.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool OnlyToolMessages = false;
#else
constexpr bool OnlyToolMessages = true;
#endif

bool noMessages(const QByteArray &err)
{
    return !OnlyToolMessages || err.isEmpty();
}

// The tool's own lines on standard error.
QStringList toolMessages(const QByteArray &err)
{
    QStringList lines;
    for (const QString &line : QString::fromLocal8Bit(err).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("picsage-image: "))) lines.append(line);
    }
    return lines;
}

QJsonObject parseLine(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class TestImageTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void usage_data();
    void usage();
    void infoOfRealPictures_data();
    void infoOfRealPictures();
    void infoKeysInOrder();
    void infoGoesOnAfterABadFile();
    void renderUpright_data();
    void renderUpright();
    void renderKeepsTransparencyAndPicksFrames();
    void renderRegion_data();
    void renderRegion();
    void renderOutputFailures_data();
    void renderOutputFailures();
    void list();
    void hostileInput_data();
    void hostileInput();
    void brokenExifStillOpens();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestImageTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(Tool), qPrintable(Tool));
}

void TestImageTool::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHas");
    QTest::addColumn<QString>("stderrHas");

    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: picsage-image COMMAND"
                          << QString();
    QTest::newRow("info help") << QStringList{"info", "--help"} << 0
                               << "Usage: picsage-image info FILE..." << QString();
    QTest::newRow("render help") << QStringList{"render", "--help"} << 0
                                 << "Usage: picsage-image render FILE -o OUT.png" << QString();
    QTest::newRow("list help") << QStringList{"list", "--help"} << 0
                               << "Usage: picsage-image list DIR" << QString();
    QTest::newRow("nothing") << QStringList{} << 1 << QString() << "no COMMAND given";
    QTest::newRow("unknown command")
        << QStringList{"paint"} << 1 << QString() << "unknown command 'paint'";
    QTest::newRow("info without file") << QStringList{"info"} << 1 << QString() << "no FILE given";
    QTest::newRow("info unknown option")
        << QStringList{"info", "--deep", "x.png"} << 1 << QString() << "unknown option --deep";
    QTest::newRow("render without output")
        << QStringList{"render", "x.png"} << 1 << QString() << "no -o OUT.png given";
    QTest::newRow("render bad box") << QStringList{"render", "x.png", "-o", "y.png", "--box", "0x5"}
                                    << 1 << QString() << "--box needs WxH";
    QTest::newRow("render bad frame")
        << QStringList{"render", "x.png", "-o", "y.png", "--frame", "-2"} << 1 << QString()
        << "--frame needs a number";
    QTest::newRow("render bad region")
        << QStringList{"render", "x.png", "-o", "y.png", "--region", "1,2,3"} << 1 << QString()
        << "--region needs X,Y,W,H";
    QTest::newRow("render empty region")
        << QStringList{"render", "x.png", "-o", "y.png", "--region", "1,2,0,4"} << 1 << QString()
        << "--region needs X,Y,W,H";
    QTest::newRow("list without folder")
        << QStringList{"list"} << 1 << QString() << "give exactly one DIR";
    QTest::newRow("list two folders")
        << QStringList{"list", "a", "b"} << 1 << QString() << "give exactly one DIR";
    QTest::newRow("render output twice")
        << QStringList{"render", "x.png", "-o", "a.png", "--output=b.png"} << 1 << QString()
        << "--output is given twice";
    QTest::newRow("render output missing its value")
        << QStringList{"render", "x.png", "-o"} << 1 << QString() << "-o needs a file";
    QTest::newRow("render box with equals")
        << QStringList{"render", "x.png", "-o", "y.png", "--box=0x5"} << 1 << QString()
        << "--box needs WxH";
    QTest::newRow("render two files") << QStringList{"render", "x.png", "z.png", "-o", "y.png"} << 1
                                      << QString() << "give exactly one FILE";
    QTest::newRow("frames output missing its value")
        << QStringList{"frames", "a.gif", "-o"} << 1 << QString() << "-o needs a folder";
    QTest::newRow("switch with a value")
        << QStringList{"rotate", "x.jpg", "--cw=yes"} << 1 << QString() << "--cw takes no value";
    QTest::newRow("switch twice") << QStringList{"flip", "x.jpg", "--vertical", "--vertical",
                                                 "--in-place"}
                                  << 1 << QString() << "--vertical is given twice";
    QTest::newRow("thumbnails without output")
        << QStringList{"thumbnails", "x"} << 1 << QString() << "no -o OUTDIR given";
    QTest::newRow("thumbnails bad format")
        << QStringList{"thumbnails", "x", "-o", "y", "--format", "gif"} << 1 << QString()
        << "--format needs png or jpg";
    QTest::newRow("thumbnails no jobs") << QStringList{"thumbnails", "x", "-o", "y", "-j", "0"} << 1
                                        << QString() << "--jobs needs a number from 1";
    QTest::newRow("dash dash ends the options")
        << QStringList{"info", "--", "--no-such-file.png"} << 2 << QString()
        << "--no-such-file.png: no such file";
}

void TestImageTool::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHas);
    QFETCH(QString, stderrHas);
    const ChildResult run = runChild(Tool, args);
    QVERIFY(!run.crashed);
    QCOMPARE(run.exitCode, exitCode);
    if (!stdoutHas.isEmpty()) QVERIFY2(run.out.contains(stdoutHas.toUtf8()), run.out);
    if (!stderrHas.isEmpty()) QVERIFY2(run.err.contains(stderrHas.toUtf8()), run.err);
    if (exitCode == 0) QVERIFY2(noMessages(run.err), run.err);
}

void TestImageTool::infoOfRealPictures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QSize>("thumbnail");

    QTest::newRow("camera picture") << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg"
                                    << "jpeg" << QSize(2048, 1536) << 6 << 1 << QSize(160, 120);
    QTest::newRow("orientation 1") << "jpeg/orient_Landscape_1.jpg"
                                   << "jpeg" << QSize(1800, 1200) << 1 << 1 << QSize();
    QTest::newRow("orientation 8 stored tall") << "jpeg/orient_Landscape_8.jpg"
                                               << "jpeg" << QSize(1200, 1800) << 8 << 1 << QSize();
    QTest::newRow("three-page tiff") << "tiff/multipage.tiff"
                                     << "tiff" << QSize(10, 10) << 1 << 3 << QSize();
}

void TestImageTool::infoOfRealPictures()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(QSize, size);
    QFETCH(int, orientation);
    QFETCH(int, frames);
    QFETCH(QSize, thumbnail);
    REAL_DATA(picture, file);

    const ChildResult run = runChild(Tool, {QStringLiteral("info"), picture});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(noMessages(run.err), run.err);
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject info = parseLine(lines.first());
    QCOMPARE(info.value("path").toString(), picture);
    QCOMPARE(info.value("format").toString(), format);
    QCOMPARE(info.value("width").toInt(), size.width());
    QCOMPARE(info.value("height").toInt(), size.height());
    QCOMPARE(info.value("orientation").toInt(), orientation);
    QCOMPARE(info.value("frames").toInt(), frames);
    QCOMPARE(info.value("backend").toString(), QStringLiteral("raster"));
    const QJsonValue thumb = info.value("exifThumbnail");
    if (thumbnail.isValid()) {
        QCOMPARE(thumb.toObject().value("width").toInt(), thumbnail.width());
        QCOMPARE(thumb.toObject().value("height").toInt(), thumbnail.height());
    } else {
        QVERIFY(thumb.isNull());
    }
}

void TestImageTool::infoKeysInOrder()
{
    // A PNG whose suffix says JPEG: the format is what the file holds.
    const QString file = path(QStringLiteral("really a png \"quoted\".jpg"));
    QVERIFY(writeBytes(file, pngBytes(quadrantPicture(QSize(6, 4), QImage::Format_ARGB32))));
    const ChildResult run = runChild(Tool, {QStringLiteral("info"), file});
    QCOMPARE(run.exitCode, 0);
    const QRegularExpression shape(
        QStringLiteral("^\\{\"path\":\".*\",\"format\":\"png\",\"width\":6,\"height\":4,"
                       "\"orientation\":1,\"frames\":1,\"exifThumbnail\":null,"
                       "\"backend\":\"raster\"\\}\n$"));
    QVERIFY2(shape.match(QString::fromUtf8(run.out)).hasMatch(), run.out);
    QCOMPARE(parseLine(run.out).value("path").toString(), file);
}

void TestImageTool::infoGoesOnAfterABadFile()
{
    const QString good = path(QStringLiteral("good.png"));
    QVERIFY(writeBytes(good, pngBytes(quadrantPicture(QSize(5, 5), QImage::Format_RGB32))));
    const QString bad = path(QStringLiteral("bad.png"));
    QVERIFY(writeBytes(bad, QByteArray(100, 'x')));
    const QString missing = path(QStringLiteral("missing.png"));
    const ChildResult run =
        runChild(Tool, {QStringLiteral("info"), bad, good, missing, m_dir.path()});
    QCOMPARE(run.exitCode, 2);
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QCOMPARE(parseLine(lines.first()).value("path").toString(), good);
    const QString errors = QString::fromLocal8Bit(run.err);
    QVERIFY2(errors.contains(QStringLiteral("picsage-image: %1: ").arg(bad)), run.err);
    QVERIFY2(errors.contains(QStringLiteral("picsage-image: %1: no such file").arg(missing)),
             run.err);
    QVERIFY2(errors.contains(QStringLiteral("picsage-image: %1: is a folder").arg(m_dir.path())),
             run.err);
    QCOMPARE(toolMessages(run.err).size(), 3);
    if (OnlyToolMessages) QCOMPARE(errors.count(QLatin1Char('\n')), 3);
}

void TestImageTool::renderUpright_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QSize>("size");

    QTest::newRow("1 into a box") << "jpeg/orient_Landscape_1.jpg"
                                  << "300x300" << QSize(300, 200);
    QTest::newRow("3 into a box") << "jpeg/orient_Landscape_3.jpg"
                                  << "300x300" << QSize(300, 200);
    QTest::newRow("5 into a box") << "jpeg/orient_Portrait_5.jpg"
                                  << "300x300" << QSize(200, 300);
    QTest::newRow("6 into a box") << "jpeg/orient_Landscape_6.jpg"
                                  << "300x300" << QSize(300, 200);
    QTest::newRow("8 into a wide box") << "jpeg/orient_Landscape_8.jpg"
                                       << "900x100" << QSize(150, 100);
    QTest::newRow("6 at full size")
        << "jpeg/orient_Landscape_6.jpg" << QString() << QSize(1800, 1200);
    QTest::newRow("camera picture enlarged") << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg"
                                             << "3072x3072" << QSize(2304, 3072);
}

void TestImageTool::renderUpright()
{
    QFETCH(QString, file);
    QFETCH(QString, box);
    QFETCH(QSize, size);
    REAL_DATA(picture, file);

    const QString out = path(QStringLiteral("upright.png"));
    QFile::remove(out);
    QStringList args = {QStringLiteral("render"), picture, QStringLiteral("-o"), out};
    if (!box.isEmpty()) args << QStringLiteral("--box") << box;
    const ChildResult run = runChild(Tool, args);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(noMessages(run.err), run.err);
    const QImage rendered(out);
    QCOMPARE(rendered.size(), size);
    QImageReader reader(picture);
    reader.setAutoTransform(true);
    const QImage expected =
        reader.read().scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY2(meanChannelDifference(rendered, expected) < 6,
             qPrintable(QString::number(meanChannelDifference(rendered, expected))));
}

void TestImageTool::renderKeepsTransparencyAndPicksFrames()
{
    const QString clear = path(QStringLiteral("half-clear.png"));
    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y) {
        for (int x = 10; x < 20; ++x)
            image.setPixel(x, y, qRgba(0, 255, 0, 255));
    }
    QVERIFY(image.save(clear));
    const QString out = path(QStringLiteral("clear-out.png"));
    ChildResult run = runChild(Tool, {QStringLiteral("render"), clear, QStringLiteral("-o"), out});
    QCOMPARE(run.exitCode, 0);
    const QImage rendered = QImage(out).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(rendered.size(), QSize(20, 10));
    QCOMPARE(qAlpha(rendered.pixel(3, 5)), 0);
    QCOMPARE(rendered.pixel(15, 5), qRgba(0, 255, 0, 255));

    REAL_DATA(tiff, "tiff/multipage.tiff");
    run = runChild(Tool, {QStringLiteral("render"), tiff, QStringLiteral("-o"), out,
                          QStringLiteral("--frame"), QStringLiteral("2")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QImage(out).size(), QSize(20, 20));
    const QByteArray before = fileBytes(out);
    run = runChild(Tool, {QStringLiteral("render"), tiff, QStringLiteral("-o"), out,
                          QStringLiteral("--frame"), QStringLiteral("3")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("3 frame(s)"), run.err);
    QCOMPARE(fileBytes(out), before);
}

void TestImageTool::renderRegion_data()
{
    QTest::addColumn<bool>("large"); // a picture that opens in clip mode
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("orientation"); // of the large picture

    QTest::newRow("small picture, a quarter halved") << false << "200,200,200,200"
                                                     << "100x100" << 0 << QSize(100, 100) << 1;
    QTest::newRow("small picture, region outside") << false << "300,300,200,200"
                                                   << "100x100" << 1 << QSize() << 1;
    QTest::newRow("clip mode, 100 % at the centre") << true << "5844,4052,600,400"
                                                    << "600x400" << 0 << QSize(600, 400) << 1;
    QTest::newRow("clip mode, 100 % without a box")
        << true << "100,100,300,200" << QString() << 0 << QSize(300, 200) << 1;
    // Shown upright, the stripes run across: the tiles are turned as the picture is.
    QTest::newRow("clip mode, turned a quarter") << true << "4052,5844,400,600"
                                                 << "400x600" << 0 << QSize(400, 600) << 6;
}

void TestImageTool::renderRegion()
{
    QFETCH(bool, large);
    QFETCH(QString, region);
    QFETCH(QString, box);
    QFETCH(int, exitCode);
    QFETCH(QSize, size);
    QFETCH(int, orientation);
    QString picture;
    if (large) {
        // 12288 x 8704 (above the clip-mode threshold) of 4-pixel grey stripes: the reduced
        // decode blurs them to one grey, only tiles decoded at 100 % keep them apart.
        picture = path(QStringLiteral("stripes.jpg"));
        if (!QFile::exists(picture)) {
            QImage stripes(12288, 8704, QImage::Format_Grayscale8);
            QVERIFY(!stripes.isNull());
            for (int x = 0; x < stripes.width(); ++x)
                stripes.scanLine(0)[x] = (x / 4) % 2 ? 255 : 0;
            for (int y = 1; y < stripes.height(); ++y)
                memcpy(stripes.scanLine(y), stripes.constScanLine(0), size_t(stripes.width()));
            QVERIFY(stripes.save(picture, "JPEG", 95));
        }
        if (orientation != 1) {
            const QString turned = path(QStringLiteral("stripes-%1.jpg").arg(orientation));
            QFile::remove(turned);
            QVERIFY(QFile::copy(picture, turned));
            QVERIFY(setExifOrientation(turned, orientation));
            picture = turned;
        }
    } else {
        picture = path(QStringLiteral("quadrants-400.png"));
        QVERIFY(
            writeBytes(picture, pngBytes(quadrantPicture(QSize(400, 400), QImage::Format_RGB32))));
    }
    const QString out = path(QStringLiteral("region.png"));
    QFile::remove(out);
    QStringList args = {QStringLiteral("render"),   picture, QStringLiteral("-o"), out,
                        QStringLiteral("--region"), region};
    if (!box.isEmpty()) args << QStringLiteral("--box") << box;
    const ChildResult run = runChild(Tool, args);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode != 0) {
        QVERIFY2(run.err.contains("lies outside"), run.err);
        QVERIFY(!QFile::exists(out));
        return;
    }
    const QImage rendered = QImage(out).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(rendered.size(), size);
    if (!large) {
        // The bottom-right quadrant only.
        const QRgb expected = QImage(picture).convertToFormat(QImage::Format_RGB32).pixel(300, 300);
        const QRgb centre = rendered.pixel(50, 50);
        QVERIFY2(
            qAbs(qRed(centre) - qRed(expected)) < 8 &&
                qAbs(qGreen(centre) - qGreen(expected)) < 8 &&
                qAbs(qBlue(centre) - qBlue(expected)) < 8,
            qPrintable(QStringLiteral("%1 against %2").arg(centre, 0, 16).arg(expected, 0, 16)));
        return;
    }
    // The stripes' contrast across them, and none along them.
    const bool across = orientation >= 5;
    const auto contrast = [&](bool alongX) {
        int darkest = 255, brightest = 0;
        const int n = alongX ? rendered.width() : rendered.height();
        for (int i = 0; i < n; ++i) {
            const int grey = qGray(alongX ? rendered.pixel(i, rendered.height() / 2)
                                          : rendered.pixel(rendered.width() / 2, i));
            darkest = qMin(darkest, grey);
            brightest = qMax(brightest, grey);
        }
        return brightest - darkest;
    };
    QVERIFY2(contrast(!across) > 150, qPrintable(QString::number(contrast(!across))));
    QVERIFY2(contrast(across) < 60, qPrintable(QString::number(contrast(across))));
}

void TestImageTool::renderOutputFailures_data()
{
    QTest::addColumn<QString>("output");
    QTest::newRow("missing folder") << "no/such/folder/out.png";
    QTest::newRow("output is a folder") << "a-folder";
}

void TestImageTool::renderOutputFailures()
{
    QFETCH(QString, output);
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("a-folder")));
    const QString picture = path(QStringLiteral("fine.png"));
    QVERIFY(writeBytes(picture, pngBytes(quadrantPicture(QSize(8, 8), QImage::Format_RGB32))));
    const QString out = path(output);
    const ChildResult run =
        runChild(Tool, {QStringLiteral("render"), picture, QStringLiteral("-o"), out});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(
        toolMessages(run.err).value(0).startsWith(QStringLiteral("picsage-image: %1: ").arg(out)),
        run.err);
    QVERIFY(!QFileInfo(out).isFile());
    QVERIFY(QDir(m_dir.path())
                .entryList({QStringLiteral("*.png.*")}, QDir::Files | QDir::Hidden)
                .isEmpty());
}

void TestImageTool::list()
{
    const QString folder = path(QStringLiteral("album"));
    QVERIFY(QDir().mkpath(folder));
    QStringList pictures = {QStringLiteral("b.jpg"), QStringLiteral("a.png"),
                            QStringLiteral("c d.tif"), QStringLiteral("E.GIF"),
                            QStringLiteral(".hidden.svg")};
    for (const QString &name : pictures)
        QVERIFY(writeBytes(folder + '/' + name, "x"));
    // A format row without a reader (JPEG XR on Linux) is not listed.
    for (const QString &name :
         {QStringLiteral("notes.txt"), QStringLiteral("raw"), QStringLiteral("photo.wdp")})
        QVERIFY(writeBytes(folder + '/' + name, "x"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("sub.png")));

    const ChildResult run = runChild(Tool, {QStringLiteral("list"), folder});
    QCOMPARE(run.exitCode, 0);
    const QStringList listed = QString::fromUtf8(run.out).split('\n', Qt::SkipEmptyParts);
    // The same names in the same order as the folder object gives them.
    ImageDirectory directory;
    QVERIFY(directory.init(folder, ImageFormats().openableNameFilters()));
    QStringList expected;
    for (int i = 0; i < directory.count(); ++i)
        expected.append(directory.nameOf(i));
    QCOMPARE(listed, expected);
    QStringList sorted = listed;
    sorted.sort();
    pictures.sort();
    QCOMPARE(sorted, pictures);

    const ChildResult missing = runChild(Tool, {QStringLiteral("list"), path("nowhere")});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY2(missing.err.contains("nowhere: no such folder"), missing.err);
}

void TestImageTool::hostileInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    // What the error says after the file name ("" where the reason is not pinned).
    QTest::addColumn<QString>("says");

    REAL_DATA(photo, "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg");
    const QByteArray jpeg = fileBytes(photo);
    const QByteArray png = pngBytes(quadrantPicture(QSize(300, 200), QImage::Format_ARGB32));
    QByteArray garbage(20000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) % 251);

    QTest::newRow("empty jpg") << "empty.jpg" << QByteArray()
                               << QStringLiteral("JPG: format not supported");
    for (const char *suffix : {"jpg", "png", "tif", "bmp", "gif", "webp", "psd", "xmind"}) {
        QTest::newRow(qPrintable(QStringLiteral("garbage %1").arg(suffix)))
            << QStringLiteral("garbage.%1").arg(suffix) << garbage
            << QStringLiteral("%1: format not supported")
                   .arg(QString::fromLatin1(suffix).toUpper());
    }
    QTest::newRow("jpeg cut inside its EXIF block")
        << "cut-exif.jpg" << jpeg.left(400) << QString();
    QTest::newRow("png cut after its header")
        << "cut.png" << png.left(40) << QStringLiteral("PNG: damaged (its data cannot be decoded)");
    QTest::newRow("png cut in its picture data")
        << "cut-data.png" << png.left(png.size() / 2) << QString();
    QTest::newRow("jpeg claiming 65535 x 65535")
        << "huge.jpg" << jpegHeaderClaiming(65535, 65535) << QString();
    QTest::newRow("small jpeg claiming 10000 x 10000")
        << "claims.jpg" << jpegClaiming(QSize(10000, 10000), false) << QString();
    QTest::newRow("small progressive jpeg claiming 10000 x 10000")
        << "claims-progressive.jpg" << jpegClaiming(QSize(10000, 10000), true) << QString();
    QTest::newRow("small jpeg claiming 12000 x 9000 (screen-size decode)")
        << "claims-large.jpg" << jpegClaiming(QSize(12000, 9000), false) << QString();
    QTest::newRow("run-length bmp claiming 10000 x 10000")
        << "claims.bmp" << rleBmpClaiming(QSize(10000, 10000))
        << QStringLiteral("BMP: damaged (its header claims more data than the file holds)");
    // A picture without an EXIF thumbnail, so that the first frame header is the picture's.
    REAL_DATA(plain, "jpeg/orient_Landscape_1.jpg");
    QByteArray claiming = fileBytes(plain);
    const int frame = claiming.indexOf("\xff\xc0");
    claiming.replace(frame + 5, 4, QByteArray(4, '\xff'));
    QTest::newRow("real jpeg whose frame claims 65535 x 65535, cut")
        << "claiming.jpg" << claiming.left(claiming.size() / 3) << QString();
    QByteArray corrupt = png;
    const int idat = corrupt.indexOf("IDAT");
    for (int i = idat + 8; i < idat + 40 && i < corrupt.size(); ++i)
        corrupt[i] = char(0xA5);
    QTest::newRow("png with a corrupt chunk")
        << "corrupt.png" << corrupt << QStringLiteral("PNG: damaged (its data cannot be decoded)");
    QTest::newRow("EXIF block with offsets past its end")
        << "exif-offsets.jpg" << QByteArray("\xff\xd8", 2) + brokenExifSegment() << QString();
}

void TestImageTool::hostileInput()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    const QString file = path(name);
    QVERIFY(writeBytes(file, content));
    const QString out = path(QStringLiteral("hostile-out.png"));
    const QByteArray earlier("an earlier rendering");
    QVERIFY(writeBytes(out, earlier));

    for (const QStringList &args :
         {QStringList{QStringLiteral("info"), file},
          QStringList{QStringLiteral("render"), file, QStringLiteral("-o"), out}}) {
        const ChildResult run = runChild(Tool, args);
        QVERIFY2(!run.crashed, qPrintable(args.join(' ')));
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        const QStringList messages = toolMessages(run.err);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(QStringLiteral("picsage-image: %1: ").arg(file)),
                 run.err);
        if (!says.isEmpty())
            QCOMPARE(messages.first(), QStringLiteral("picsage-image: %1: %2").arg(file, says));
        if (OnlyToolMessages) QCOMPARE(run.err.count('\n'), 1);
        // The kernel's figure for a child includes the test's own size when it started the
        // child, so this is an upper bound on the tool's. Sanitizer builds are larger by far.
        if (OnlyToolMessages)
            QVERIFY2(run.peakKiB < MaxPeakKiB, qPrintable(QString::number(run.peakKiB)));
    }
    QCOMPARE(fileBytes(out), earlier);
}

void TestImageTool::brokenExifStillOpens()
{
    // Valid pixels behind a metadata block that cannot be parsed: the picture opens, upright
    // as stored, without metadata.
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(quadrantPicture(QSize(12, 8), QImage::Format_RGB32).save(&buffer, "JPEG"));
    }
    jpeg.insert(2, brokenExifSegment());
    const QString file = path(QStringLiteral("broken-exif.jpg"));
    QVERIFY(writeBytes(file, jpeg));
    const ChildResult run = runChild(Tool, {QStringLiteral("info"), file});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(noMessages(run.err), run.err);
    const QJsonObject info = parseLine(run.out);
    QCOMPARE(info.value("orientation").toInt(), 1);
    QCOMPARE(info.value("width").toInt(), 12);
}

QTEST_MAIN(TestImageTool)
#include "tst_image_tool.moc"
