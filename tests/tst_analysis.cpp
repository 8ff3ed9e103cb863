#include "support/RealData.h"
#include "tool/AnalysisImageLoader.h"
#include "tool/AnalysisMethod.h"
#include "tool/AnalysisResult.h"
#include "tool/LibraryHolder.h"
#include "tool/ModelFiles.h"
#include "tool/PSGSettings.h"
#include "tool/PicsageTool.h"
#include "tool/VersionFolders.h"

#include <QtTest>

#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

class TestAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void methodsFromNames_data();
    void methodsFromNames();
    void resultJson();
    void messageFormat();
    void settingsKeyAndStore();
    void fitSize_data();
    void fitSize();
    void loadPicture_data();
    void loadPicture();
    void loadKeepsPixels();
    void loadRealFiles_data();
    void loadRealFiles();
    void versionOrder_data();
    void versionOrder();
    void latestVersion_data();
    void latestVersion();
    void pickModelFiles_data();
    void pickModelFiles();

private:
    QTemporaryDir m_dir;
};

void TestAnalysis::methodsFromNames_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QList<int>>("methods");

    QTest::newRow("all six") << "cornerseek_pc,tiltsense_pc,pic_category_pc,tone_filter_pc,"
                                "plainbackdrop_pc,docsorter_pc"
                             << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("repeats kept") << "pic_category_pc,pic_category_pc" << QList<int>{2, 2};
    QTest::newRow("unknown and empty dropped") << "foo,,docsorter_pc,bar," << QList<int>{5};
    QTest::newRow("case-sensitive") << "PIC_CATEGORY_PC,Docsorter_pc" << QList<int>();
    QTest::newRow("no trimming") << " docsorter_pc" << QList<int>();
    QTest::newRow("None is not a method") << "None" << QList<int>();
}

void TestAnalysis::methodsFromNames()
{
    QFETCH(QString, list);
    QFETCH(QList<int>, methods);
    QList<int> got;
    for (AnalysisMethod m : ::methodsFromNames(list.split(QLatin1Char(','))))
        got << m;
    QCOMPARE(got, methods);
}

void TestAnalysis::resultJson()
{
    AnalysisResult untouched;
    QCOMPARE(untouched.toJson(),
             QStringLiteral(R"({"confidence":-9,"msg":"nothing to do.","ret":-1})"));

    AnalysisResult r;
    r.ret = 7;
    r.confidence = 0.8f;
    r.msg = QStringLiteral("14:03:07 pic_category_pc success \"ünï\"");
    const QJsonObject o = QJsonDocument::fromJson(r.toJson().toUtf8()).object();
    QCOMPARE(o.value(QStringLiteral("ret")).toInt(), 7);
    // The float's own value, widened: not the decimal 0.8.
    QCOMPARE(o.value(QStringLiteral("confidence")).toDouble(), double(0.8f));
    QVERIFY(o.value(QStringLiteral("confidence")).toDouble() != 0.8);
    QCOMPARE(o.value(QStringLiteral("msg")).toString(), r.msg);
    QVERIFY(!r.toJson().contains(QLatin1Char('\n')));
}

void TestAnalysis::messageFormat()
{
    PicsageTool tool;
    tool.setMessage(QStringLiteral("x"));
    QVERIFY(QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d None x$)"))
                .match(tool.result().msg)
                .hasMatch());
    tool.setMethod(DocSorter);
    // A text with place markers must pass through untouched.
    tool.setMessage(QStringLiteral("load %1 img failed"));
    QVERIFY(
        QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d docsorter_pc load %1 img failed$)"))
            .match(tool.result().msg)
            .hasMatch());
}

void TestAnalysis::settingsKeyAndStore()
{
    QCOMPARE(PSGSettings::resultKey(PicCategory), QStringLiteral("Psg_Ret-pic_category_pc3"));
    QCOMPARE(PSGSettings::resultKey(MethodNone), QStringLiteral("Psg_Ret-None3"));

    const QString json = QStringLiteral(R"({"confidence":0.5,"msg":"a, b = c","ret":3})");
    {
        PSGSettings settings;
        settings.setResult(PlainBackdrop, json);
    }
    // Read back as the viewer would, from the file, without going through our object.
    const QString file =
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/ormelo/office.conf");
    QSettings store(file, QSettings::IniFormat);
    QCOMPARE(store
                 .value(QStringLiteral(PICSAGE_VERSION
                                       "/plugins/photo/picsage/Psg_Ret-plainbackdrop_pc3"))
                 .toString(),
             json);
}

void TestAnalysis::fitSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("fit");

    QTest::newRow("wide") << QSize(12000, 3000) << QSize(320, 320) << QSize(320, 80);
    QTest::newRow("landscape") << QSize(4000, 3000) << QSize(320, 320) << QSize(320, 240);
    QTest::newRow("portrait") << QSize(3000, 4000) << QSize(320, 320) << QSize(240, 320);
    QTest::newRow("square") << QSize(5000, 5000) << QSize(512, 512) << QSize(512, 512);
    QTest::newRow("up") << QSize(100, 50) << QSize(512, 512) << QSize(512, 256);
    QTest::newRow("truncates") << QSize(1000, 333) << QSize(320, 320) << QSize(320, 106);
    QTest::newRow("thin keeps one pixel") << QSize(1, 100000) << QSize(320, 320) << QSize(1, 320);
    QTest::newRow("no overflow") << QSize(2000000000, 1999999999) << QSize(512, 512)
                                 << QSize(512, 511);
    QTest::newRow("zero width") << QSize(0, 50) << QSize(320, 320) << QSize();
    QTest::newRow("zero height") << QSize(50, 0) << QSize(320, 320) << QSize();
    QTest::newRow("unknown") << QSize(-1, -1) << QSize(320, 320) << QSize();
}

void TestAnalysis::fitSize()
{
    QFETCH(QSize, size);
    QFETCH(QSize, target);
    QFETCH(QSize, fit);
    QCOMPARE(fitAnalysisSize(size, target), fit);
}

void TestAnalysis::loadPicture_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<bool>("largeOnly");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("category reads 4000x3000 whole")
        << QSize(4000, 3000) << QByteArray("jpg") << QSize(320, 320) << true << QSize(4000, 3000);
    QTest::newRow("category scales 12000x3000")
        << QSize(12000, 3000) << QByteArray("jpg") << QSize(320, 320) << true << QSize(320, 80);
    QTest::newRow("category scales a 10000 side")
        << QSize(800, 10000) << QByteArray("png") << QSize(320, 320) << true << QSize(25, 320);
    QTest::newRow("backdrop always scales")
        << QSize(4000, 3000) << QByteArray("jpg") << QSize(320, 320) << false << QSize(320, 240);
    QTest::newRow("docsorter scales up")
        << QSize(100, 50) << QByteArray("png") << QSize(512, 512) << false << QSize(512, 256);
    QTest::newRow("content decides, not the suffix")
        << QSize(64, 32) << QByteArray("png:jpg") << QSize(320, 320) << false << QSize(320, 160);
}

void TestAnalysis::loadPicture()
{
    QFETCH(QSize, size);
    QFETCH(QByteArray, format);
    QFETCH(QSize, target);
    QFETCH(bool, largeOnly);
    QFETCH(QSize, expected);

    // "png:jpg" writes PNG bytes under a .jpg name.
    const QList<QByteArray> parts = format.split(':');
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) +
                                        QLatin1Char('.') + QString::fromLatin1(parts.last()));
    QImage source(size, QImage::Format_RGB32);
    source.fill(QColor(200, 30, 60));
    QVERIFY(source.save(path, parts.first().constData()));

    const QImage image = loadAnalysisImage(path, target, largeOnly);
    QCOMPARE(image.size(), expected);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QCOMPARE(image.bytesPerLine(), image.width() * 4);
}

void TestAnalysis::loadKeepsPixels()
{
    // Transparent and half-transparent pixels arrive unpremultiplied, opaque ones unchanged.
    QImage source(4, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(10, 20, 30, 255));
    source.setPixel(1, 0, qRgba(200, 100, 50, 128));
    source.setPixel(2, 0, qRgba(0, 0, 0, 0));
    source.setPixel(3, 0, qRgba(255, 255, 255, 255));
    const QString path = m_dir.filePath(QStringLiteral("alpha.png"));
    QVERIFY(source.save(path));
    const QImage image = loadAnalysisImage(path, QSize(320, 320), true);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    for (int x = 0; x < 4; ++x)
        QCOMPARE(image.pixel(x, 0), source.pixel(x, 0));
    // Memory order is blue, green, red, alpha.
    const uchar *p = image.constBits();
    QCOMPARE((QList<int>{p[0], p[1], p[2], p[3]}), (QList<int>{30, 20, 10, 255}));

    // Not a picture, an empty file, a missing file: null, no crash.
    QFile text(m_dir.filePath(QStringLiteral("notes.jpg")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("this is not a picture\n");
    text.close();
    QVERIFY(loadAnalysisImage(text.fileName(), QSize(512, 512), false).isNull());
    QFile empty(m_dir.filePath(QStringLiteral("empty.png")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(loadAnalysisImage(empty.fileName(), QSize(512, 512), false).isNull());
    QVERIFY(loadAnalysisImage(m_dir.filePath(QStringLiteral("missing.png")), QSize(320, 320), true)
                .isNull());
    // A picture whose header claims a zero side.
    QFile zero(m_dir.filePath(QStringLiteral("zero.ppm")));
    QVERIFY(zero.open(QIODevice::WriteOnly));
    zero.write("P6\n0 0\n255\n");
    zero.close();
    QVERIFY(loadAnalysisImage(zero.fileName(), QSize(512, 512), false).isNull());
    QVERIFY(loadAnalysisImage(zero.fileName(), QSize(320, 320), true).isNull());
}

void TestAnalysis::loadRealFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<bool>("largeOnly");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("jpeg at full size")
        << "jpeg/orient_Landscape_1.jpg" << QSize(320, 320) << true << QSize(1800, 1200);
    QTest::newRow("jpeg fitted") << "jpeg/orient_Landscape_1.jpg" << QSize(512, 512) << false
                                 << QSize(512, 341);
    // The module sees the stored pixels (1200x1800); the EXIF turn is not applied.
    QTest::newRow("turned jpeg") << "jpeg/orient_Landscape_6.jpg" << QSize(320, 320) << false
                                 << QSize(213, 320);
    QTest::newRow("gif first frame")
        << "gif/dispose_bgnd.gif" << QSize(320, 320) << false << QSize(320, 320);
    QTest::newRow("webp") << "webp/animated-loop-3.webp" << QSize(320, 320) << true
                          << QSize(370, 285);
    // Photoshop documents come from their quick preview and are not scaled further.
    QTest::newRow("small RGB psd: merged picture")
        << "psd/hopper.psd" << QSize(320, 320) << false << QSize(128, 128);
    QTest::newRow("run-length psd")
        << "psd/1layer.psd" << QSize(512, 512) << false << QSize(101, 55);
    QTest::newRow("CMYK psd: its thumbnail")
        << "psd/colormodes_4x4_8bit_cmyk.psd" << QSize(320, 320) << true << QSize(4, 4);
}

void TestAnalysis::loadRealFiles()
{
    QFETCH(QString, file);
    QFETCH(QSize, target);
    QFETCH(bool, largeOnly);
    QFETCH(QSize, expected);
    const QString path = realDataPath(file);
    REQUIRE_REAL_FILE(path);
    const QImage image = loadAnalysisImage(path, target, largeOnly);
    QCOMPARE(image.size(), expected);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
}

void TestAnalysis::versionOrder_data()
{
    QTest::addColumn<QString>("older");
    QTest::addColumn<QString>("newer");

    QTest::newRow("numeric, not text") << "1.9"
                                       << "1.10";
    QTest::newRow("longer is newer") << "2.0"
                                     << "2.0.1";
    QTest::newRow("major first") << "1.99.99"
                                 << "2";
    QTest::newRow("words count zero") << "beta"
                                      << "0.1";
    QTest::newRow("empty pieces count zero") << "1..5"
                                             << "1.1";
    QTest::newRow("huge numbers") << "18446744073709551614"
                                  << "18446744073709551615";
}

void TestAnalysis::versionOrder()
{
    QFETCH(QString, older);
    QFETCH(QString, newer);
    QVERIFY(versionLess(older, newer));
    QVERIFY(!versionLess(newer, older));
    QVERIFY(!versionLess(older, older));
}

void TestAnalysis::latestVersion_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << QStringList() << "";
    QTest::newRow("one") << QStringList{"3.1"} << "3.1";
    QTest::newRow("1.10 over 1.9") << QStringList{"1.9", "1.10", "1.2"} << "1.10";
    QTest::newRow("equal versions: later name") << QStringList{"1.0", "1.00"} << "1.00";
    QTest::newRow("files are not versions") << QStringList{"1.0", "file:9.0"} << "1.0";
}

void TestAnalysis::latestVersion()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, expected);

    QTemporaryDir root;
    const QString start = root.filePath(QStringLiteral("opt/picsage/6.0/lib"));
    QVERIFY(QDir().mkpath(start));
    const QString base = root.filePath(QStringLiteral("opt/lensmind"));
    QVERIFY(QDir().mkpath(base));
    for (const QString &f : folders) {
        if (f.startsWith(QLatin1String("file:"))) {
            QFile file(base + QLatin1Char('/') + f.mid(5));
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir(base).mkpath(f));
        }
    }
    const QString found = latestVersionDirectory(start, QStringLiteral("lensmind"));
    QCOMPARE(found, expected.isEmpty() ? QString() : QDir(base).absolutePath() + '/' + expected);
}

void TestAnalysis::pickModelFiles_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("text");

    QTest::newRow("pair completes at the text")
        << QStringList{"a.tflite", "b.tflite", "labels.txt", "c.tflite"} << "b.tflite"
        << "labels.txt";
    QTest::newRow("upper-case suffix") << QStringList{"net.TFLITE"} << "net.TFLITE"
                                       << "";
    QTest::newRow("text only") << QStringList{"x.txt", "y.TXT"} << ""
                               << "y.TXT";
    QTest::newRow("nothing") << QStringList() << ""
                             << "";
    QTest::newRow("other files ignored")
        << QStringList{"x.tflite.bak", "m.tflite", "t.txt"} << "m.tflite"
        << "t.txt";
}

void TestAnalysis::pickModelFiles()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, model);
    QFETCH(QString, text);
    QFileInfoList infos;
    for (const QString &name : listed)
        infos << QFileInfo(m_dir.filePath(name));
    const QStringList files = ::pickModelFiles(infos);
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0), model.isEmpty() ? QString() : m_dir.filePath(model));
    QCOMPARE(files.at(1), text.isEmpty() ? QString() : m_dir.filePath(text));
}

QTEST_GUILESS_MAIN(TestAnalysis)
#include "tst_analysis.moc"
