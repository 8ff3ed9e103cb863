// The editing commands of picsage-image, run as a separate program: every real EXIF
// orientation turned to a copy, each command's outputs and exit codes, and the faults a write
// must survive: a file-size limit, a full file system and a killed process all leave the
// user's file byte for byte.

#include "formats/ExifItems.h"
#include "platform/PropertyItems.h"
#include "support/ChildRun.h"
#include "support/FileState.h"
#include "support/OpenPicture.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/UprightRender.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>

namespace {

const QString Tool = QStringLiteral(IMAGE_TOOL_PATH);

// A JPEG written at the best quality after a lossless turn differs from the original by
// little more than rounding on average.
constexpr double JpegMeanTolerance = 2.5;

int orientationOf(const QString &path)
{
    for (const platform::PropertyItem &item : platform::readPropertyItems(path)) {
        if (item.id == PropertyTagOrientation && !item.value.isEmpty())
            return quint8(item.value.at(0));
    }
    return 0; // absent
}

} // namespace

class TestImageEditTool : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void realOrientationsTurnedToCopy_data();
    void realOrientationsTurnedToCopy();
    void commands_data();
    void commands();
    void fileSizeLimit_data();
    void fileSizeLimit();
    void fullFileSystem();
    void killedWhileSaving_data();
    void killedWhileSaving();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString copyReal(const QString &relative, const QString &name);
    // A 4000 x 3000 JPEG of noise, slow enough to encode that a save can be caught midway.
    QString bigNoiseJpeg(const QString &name);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestImageEditTool::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString TestImageEditTool::copyReal(const QString &relative, const QString &name)
{
    const QString source = realDataPath(relative);
    const QString target = path(name);
    if (!QFile::exists(source) || !QFile::copy(source, target)) return {};
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

QString TestImageEditTool::bigNoiseJpeg(const QString &name)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = random.generate() | 0xFF000000u;
    }
    const QString file = path(name);
    return image.save(file, "JPEG", 95) ? file : QString();
}

void TestImageEditTool::realOrientationsTurnedToCopy_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("orientation"); // set on a copy of the source when above 0

    QTest::newRow("1") << "jpeg/orient_Landscape_1.jpg" << 0;
    // 2, 4 and 7 have no real example: the real picture of 1 with its orientation changed.
    QTest::newRow("2") << "jpeg/orient_Landscape_1.jpg" << 2;
    QTest::newRow("3") << "jpeg/orient_Landscape_3.jpg" << 0;
    QTest::newRow("4") << "jpeg/orient_Landscape_1.jpg" << 4;
    QTest::newRow("5") << "jpeg/orient_Portrait_5.jpg" << 0;
    QTest::newRow("6") << "jpeg/orient_Landscape_6.jpg" << 0;
    QTest::newRow("6 with a thumbnail") << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg" << 0;
    QTest::newRow("7") << "jpeg/orient_Landscape_1.jpg" << 7;
    QTest::newRow("8") << "jpeg/orient_Landscape_8.jpg" << 0;
}

void TestImageEditTool::realOrientationsTurnedToCopy()
{
    QFETCH(QString, source);
    QFETCH(int, orientation);

    REAL_DATA(real, source);
    const QString file = copyReal(source, QStringLiteral("photo.jpg"));
    QVERIFY(!file.isEmpty());
    if (orientation > 0) QVERIFY(setExifOrientation(file, orientation));
    const QByteArray before = fileSha256(file);
    const QImage shown = renderUpright(file);
    QVERIFY(!shown.isNull());

    const ChildResult run =
        runChild(Tool, {QStringLiteral("rotate"), file, QStringLiteral("--cw")});
    QVERIFY2(!run.crashed && run.exitCode == 0, run.err.constData());
    const QString copy = QString::fromUtf8(run.out).trimmed();
    QCOMPARE(copy, path(QStringLiteral("photo - Rotate (1).jpg")));
    QCOMPARE(fileSha256(file), before);

    const int copyOrientation = orientationOf(copy);
    QVERIFY2(copyOrientation == 0 || copyOrientation == 1,
             qPrintable(QString::number(copyOrientation)));
    const QImage turned = renderUpright(copy);
    const QImage expected = shown.transformed(QTransform().rotate(90));
    QCOMPARE(turned.size(), expected.size());
    const double mean = meanChannelDifference(turned, expected);
    QVERIFY2(mean <= JpegMeanTolerance, qPrintable(QString::number(mean)));
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());

    // A converted file carries no orientation: its pixels show what the viewer shows.
    const QString out = path(QStringLiteral("photo.png"));
    const ChildResult converted =
        runChild(Tool, {QStringLiteral("convert"), file, QStringLiteral("-o"), out});
    QVERIFY2(!converted.crashed && converted.exitCode == 0, converted.err.constData());
    const QImage written = QImage(out).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(written.size(), shown.size());
    const double writtenMean = meanChannelDifference(written, shown);
    QVERIFY2(writtenMean <= 1.0, qPrintable(QString::number(writtenMean)));
}

void TestImageEditTool::commands_data()
{
    QTest::addColumn<QStringList>("args"); // FILE stands for the picture, OUT for the output
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QSize>("outSize"); // of OUT (or FILE with --in-place) when exit 0
    QTest::addColumn<QString>("outFormat");

    const QSize shown(1800, 1200); // orient_Landscape_6 as shown
    QTest::newRow("rotate in place") << QStringList{"rotate", "FILE", "--ccw", "--in-place"} << 0
                                     << shown.transposed() << "jpeg";
    QTest::newRow("rotate to png") << QStringList{"rotate", "FILE", "--cw", "-o", "OUT.png"} << 0
                                   << shown.transposed() << "png";
    QTest::newRow("flip to jpg") << QStringList{"flip", "FILE", "--vertical", "-o", "OUT.jpg"} << 0
                                 << shown << "jpeg";
    QTest::newRow("flip in place")
        << QStringList{"flip", "FILE", "--horizontal", "--in-place"} << 0 << shown << "jpeg";
    QTest::newRow("crop") << QStringList{"crop",           "FILE", "--rect",
                                         "100,50,300,200", "-o",   "OUT.png"}
                          << 0 << QSize(300, 200) << "png";
    QTest::newRow("crop clipped") << QStringList{"crop", "FILE",   "--rect", "1700,1100,300,200",
                                                 "-o",   "OUT.bmp"}
                                  << 0 << QSize(100, 100) << "bmp";
    QTest::newRow("resize") << QStringList{"resize", "FILE", "--size", "300x0", "-o", "OUT.tif"}
                            << 0 << QSize(300, 200) << "tiff";
    QTest::newRow("convert") << QStringList{"convert", "FILE", "-o", "OUT.bmp"} << 0 << shown
                             << "bmp";
    QTest::newRow("export") << QStringList{"export",      "FILE", "-o",        "OUT.jpg",
                                           "--max-width", "180",  "--quality", "80"}
                            << 0 << QSize(180, 120) << "jpeg";
    QTest::newRow("export by height")
        << QStringList{"export", "FILE", "-o", "OUT.png", "--max-height", "60"} << 0
        << QSize(90, 60) << "png";

    QTest::newRow("rotate without direction")
        << QStringList{"rotate", "FILE"} << 1 << QSize() << QString();
    QTest::newRow("rotate both ways")
        << QStringList{"rotate", "FILE", "--cw", "--ccw"} << 1 << QSize() << QString();
    QTest::newRow("rotate two targets")
        << QStringList{"rotate", "FILE", "--cw", "--in-place", "-o", "OUT.jpg"} << 1 << QSize()
        << QString();
    QTest::newRow("flip without target")
        << QStringList{"flip", "FILE", "--vertical"} << 1 << QSize() << QString();
    QTest::newRow("flip to another format")
        << QStringList{"flip", "FILE", "--vertical", "-o", "OUT.png"} << 1 << QSize() << QString();
    QTest::newRow("crop bad rectangle")
        << QStringList{"crop", "FILE", "--rect", "1,2,3", "-o", "OUT.png"} << 1 << QSize()
        << QString();
    QTest::newRow("crop outside") << QStringList{"crop",          "FILE", "--rect",
                                                 "5000,5000,3,3", "-o",   "OUT.png"}
                                  << 1 << QSize() << QString();
    QTest::newRow("resize no size")
        << QStringList{"resize", "FILE", "--size", "0x0", "-o", "OUT.png"} << 1 << QSize()
        << QString();
    QTest::newRow("convert to unwritable")
        << QStringList{"convert", "FILE", "-o", "OUT.gif"} << 1 << QSize() << QString();
    QTest::newRow("export bad quality")
        << QStringList{"export", "FILE", "-o", "OUT.jpg", "--quality", "101"} << 1 << QSize()
        << QString();
    QTest::newRow("unknown option")
        << QStringList{"crop", "FILE", "--fast", "-o", "OUT.png"} << 1 << QSize() << QString();
    QTest::newRow("missing input")
        << QStringList{"rotate", "NOFILE", "--cw"} << 2 << QSize() << QString();
    QTest::newRow("output folder missing")
        << QStringList{"convert", "FILE", "-o", "NODIR/out.png"} << 3 << QSize() << QString();
    QTest::newRow("output is a folder")
        << QStringList{"export", "FILE", "-o", "DIR.png"} << 3 << QSize() << QString();
}

void TestImageEditTool::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QSize, outSize);
    QFETCH(QString, outFormat);

    const QString file =
        copyReal(QStringLiteral("jpeg/orient_Landscape_6.jpg"), QStringLiteral("photo.jpg"));
    QVERIFY(!file.isEmpty());
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("DIR.png")));
    const QByteArray before = fileSha256(file);
    QString out;
    for (QString &arg : args) {
        if (arg == QLatin1String("FILE"))
            arg = file;
        else if (arg == QLatin1String("NOFILE"))
            arg = path(QStringLiteral("none.jpg"));
        else if (arg.startsWith(QLatin1String("OUT.")) || arg.startsWith(QLatin1String("NODIR/")) ||
                 arg == QLatin1String("DIR.png"))
            arg = out = path(arg);
    }
    const ChildResult run = runChild(Tool, args);
    QVERIFY(!run.crashed);
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    if (exitCode != 0) {
        QVERIFY(run.err.startsWith("picsage-image: "));
        QCOMPARE(fileSha256(file), before);
        if (!out.isEmpty() && !out.endsWith(QLatin1String("DIR.png")))
            QVERIFY(!QFileInfo::exists(out));
    } else {
        QVERIFY(run.err.isEmpty());
        const QString written = out.isEmpty() ? file : out;
        QImageReader reader(written);
        QCOMPARE(QString::fromLatin1(reader.format()), outFormat);
        reader.setAutoTransform(true);
        QCOMPARE(reader.read().size(), outSize);
        if (!out.isEmpty()) QCOMPARE(fileSha256(file), before);
    }
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());
}

void TestImageEditTool::fileSizeLimit_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("victim"); // the file that must survive: FILE or OUT

    QTest::newRow("rotate in place")
        << QStringList{"rotate", "FILE", "--cw", "--in-place"} << "FILE";
    QTest::newRow("rotate over a file")
        << QStringList{"rotate", "FILE", "--ccw", "-o", "OUT.jpg"} << "OUT";
    QTest::newRow("flip in place")
        << QStringList{"flip", "FILE", "--vertical", "--in-place"} << "FILE";
    QTest::newRow("convert over a file")
        << QStringList{"convert", "FILE", "-o", "OUT.png"} << "OUT";
    QTest::newRow("export over a file") << QStringList{"export", "FILE", "-o", "OUT.bmp"} << "OUT";
    QTest::newRow("crop over a file")
        << QStringList{"crop", "FILE", "--rect", "0,0,1000,1000", "-o", "OUT.tif"} << "OUT";
}

void TestImageEditTool::fileSizeLimit()
{
    QFETCH(QStringList, args);
    QFETCH(QString, victim);

    const QString file =
        copyReal(QStringLiteral("jpeg/orient_Landscape_6.jpg"), QStringLiteral("photo.jpg"));
    QVERIFY(!file.isEmpty());
    QString out;
    for (QString &arg : args) {
        if (arg == QLatin1String("FILE"))
            arg = file;
        else if (arg.startsWith(QLatin1String("OUT.")))
            arg = out = path(arg);
    }
    if (!out.isEmpty()) QVERIFY(QFile::copy(file, out)); // something precious stands there
    const QString survivor = victim == QLatin1String("FILE") ? file : out;
    const QByteArray before = fileSha256(survivor);

    // The child may write no file past 64 KiB: every output here is larger, so each write
    // fails part way (with SIGXFSZ ignored, as a full disk fails: an error from write()).
    QProcess process;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    process.start(Tool, args);
    const bool started = process.waitForStarted();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    QVERIFY(started);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 3, process.readAllStandardError().constData());
    QCOMPARE(fileSha256(survivor), before);
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());
}

void TestImageEditTool::fullFileSystem()
{
    // A file system of 1.5 MiB, filled up after the picture was copied in: mounted in a
    // namespace of its own, so no privileges are needed where user namespaces are allowed.
    const QString source =
        copyReal(QStringLiteral("jpeg/orient_Landscape_6.jpg"), QStringLiteral("photo.jpg"));
    QVERIFY(!source.isEmpty());
    const QByteArray before = fileSha256(source);
    const QString mountPoint = path(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    const QString script =
        QStringLiteral("mount -t tmpfs -o size=1536k tmpfs \"$1\" || exit 90\n"
                       "cp \"$2\" \"$1/p.jpg\" || exit 91\n"
                       "dd if=/dev/zero of=\"$1/fill\" bs=4k 2>/dev/null\n"
                       "\"$3\" rotate \"$1/p.jpg\" --cw --in-place; echo \"exit=$?\"\n"
                       "\"$3\" flip \"$1/p.jpg\" --vertical --in-place; echo \"exit=$?\"\n"
                       "\"$3\" convert \"$1/p.jpg\" -o \"$1/p.jpg\"; echo \"exit=$?\"\n"
                       "sha256sum \"$1/p.jpg\"\n"
                       "ls -A \"$1\"\n");
    const ChildResult run =
        runChild(QStringLiteral("unshare"),
                 {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                  QStringLiteral("sh"), mountPoint, source, Tool});
    if (run.crashed || run.exitCode == 90 || (run.exitCode != 0 && run.out.isEmpty()))
        QSKIP(qPrintable(QStringLiteral("cannot mount a small file system here (%1); the "
                                        "file-size limit test stands in")
                             .arg(QString::fromLocal8Bit(run.err).trimmed())));
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QStringList lines =
        QString::fromUtf8(run.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 5, run.out.constData());
    QCOMPARE(lines.at(0), QStringLiteral("exit=3"));
    QCOMPARE(lines.at(1), QStringLiteral("exit=3"));
    QCOMPARE(lines.at(2), QStringLiteral("exit=3"));
    QCOMPARE(lines.at(3).section(QLatin1Char(' '), 0, 0).toLatin1(), before);
    // Nothing but the picture and the filler is left.
    QCOMPARE(lines.mid(4), (QStringList{QStringLiteral("fill"), QStringLiteral("p.jpg")}));
}

void TestImageEditTool::killedWhileSaving_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("victim");

    QTest::newRow("rotate in place")
        << QStringList{"rotate", "FILE", "--cw", "--in-place"} << "FILE";
    QTest::newRow("flip in place")
        << QStringList{"flip", "FILE", "--horizontal", "--in-place"} << "FILE";
    QTest::newRow("rotate over a file")
        << QStringList{"rotate", "FILE", "--cw", "-o", "OUT.png"} << "OUT";
}

void TestImageEditTool::killedWhileSaving()
{
    QFETCH(QStringList, args);
    QFETCH(QString, victim);

    const QString file = bigNoiseJpeg(QStringLiteral("big.jpg"));
    QVERIFY(!file.isEmpty());
    QString out;
    for (QString &arg : args) {
        if (arg == QLatin1String("FILE"))
            arg = file;
        else if (arg.startsWith(QLatin1String("OUT.")))
            arg = out = path(arg);
    }
    if (!out.isEmpty()) QVERIFY(QFile::copy(file, out));
    const QString survivor = victim == QLatin1String("FILE") ? file : out;
    const QByteArray before = fileSha256(survivor);

    // The process is killed as soon as its new file has begun to be written.
    QProcess process;
    process.start(Tool, args);
    QVERIFY(process.waitForStarted());
    bool caught = false;
    while (process.state() == QProcess::Running) {
        const QStringList staging = stagingLeftovers(m_dir->path());
        if (!staging.isEmpty() && QFileInfo(m_dir->filePath(staging.first())).size() > 0) {
            process.kill();
            caught = true;
            break;
        }
        QThread::usleep(200);
    }
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(caught, "the save ended before it could be interrupted");
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(fileSha256(survivor), before);
    // Whatever was half-written has a name of its own; the user's file is whole.
    QCOMPARE(QImageReader(survivor).size(), QSize(4000, 3000));
}

QTEST_MAIN(TestImageEditTool)
#include "tst_image_edit_tool.moc"
