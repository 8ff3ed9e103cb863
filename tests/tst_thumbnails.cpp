// picsage-image thumbnails (and render --box, --exif-thumbnail) run as a host runs them: the
// staged program in a process of its own, on folders made here.
#include "support/ChildRun.h"
#include "support/OpenPicture.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

const QString Tool = QStringLiteral(IMAGE_TOOL_PATH);

// The JSON lines of a run, by the picture's file name.
QMap<QString, QJsonObject> outcomes(const QByteArray &out)
{
    QMap<QString, QJsonObject> byName;
    for (const QByteArray &line : out.split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        byName.insert(QFileInfo(object.value("path").toString()).fileName(), object);
    }
    return byName;
}

QImage uprightByQt(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestThumbnails : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void folderIntoThumbnails_data();
    void folderIntoThumbnails();
    void upToDateOnesAreKept();
    void neverWritesOutside_data();
    void neverWritesOutside();
    void picturesVanishingMidRun();
    void exifThumbnailStandsIn();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A folder `pics` of pictures 400 x 300 in every orientation, a small PNG, junk and a
    // subfolder.
    void makeFolder();

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestThumbnails::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestThumbnails::makeFolder()
{
    QVERIFY(QDir().mkpath(path("pics/sub")));
    const QImage stored = quadrantPicture(QSize(400, 300), QImage::Format_RGB32);
    for (int o = 1; o <= 8; ++o)
        QVERIFY(writeOrientedJpeg(path(QStringLiteral("pics/o%1.jpg").arg(o)), stored, o));
    QVERIFY(quadrantPicture(QSize(100, 50), QImage::Format_ARGB32).save(path("pics/small.png")));
    QVERIFY(stored.save(path("pics/sub/deep.jpg"), "JPEG", 95));
    QVERIFY(writeBytes(path("pics/junk.jpg"), QByteArray("\xff\xd8\xff\xe0 not a picture")));
}

void TestThumbnails::folderIntoThumbnails_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("jobs");
    QTest::newRow("png, one worker") << "png" << 1;
    QTest::newRow("jpg, three workers") << "jpg" << 3;
}

void TestThumbnails::folderIntoThumbnails()
{
    QFETCH(QString, format);
    QFETCH(int, jobs);
    makeFolder();
    const ChildResult run =
        runChild(Tool, {"thumbnails", path("pics"), "-o", path("out"), "--box=128x128", "-r",
                        "--format", format, "-j", QString::number(jobs)});
    QVERIFY(!run.crashed);
    // The junk is reported; everything else is still made.
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("junk.jpg"), run.err);
    const QMap<QString, QJsonObject> lines = outcomes(run.out);
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.value("junk.jpg").value("status").toString(), QStringLiteral("failed"));
    QVERIFY(!QFile::exists(path("out/junk.jpg.") + format));

    for (int o = 1; o <= 8; ++o) {
        const QString name = QStringLiteral("o%1.jpg").arg(o);
        QCOMPARE(lines.value(name).value("status").toString(), QStringLiteral("made"));
        const QImage thumbnail(path("out/") + name + '.' + format);
        const QImage expected = uprightByQt(path("pics/") + name);
        QCOMPARE(thumbnail.size(), o >= 5 ? QSize(96, 128) : QSize(128, 96));
        const QImage reference =
            expected.scaled(thumbnail.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY2(meanChannelDifference(thumbnail, reference) < 6, qPrintable(name));
    }
    // Never enlarged; transparency kept in PNG, over white in JPEG (green 220 half
    // covering white).
    const QImage small(path("out/small.png.") + format);
    QCOMPARE(small.size(), QSize(100, 50));
    const QRgb corner = small.pixel(99, 49);
    if (format == QLatin1String("png"))
        QCOMPARE(qAlpha(corner), 128);
    else
        QVERIFY2(qGreen(corner) > 230, qPrintable(QString::number(corner, 16))); // not over black
    QCOMPARE(QImage(path("out/sub/deep.jpg.") + format).size(), QSize(128, 96));
}

void TestThumbnails::upToDateOnesAreKept()
{
    makeFolder();
    QVERIFY(QFile::remove(path("pics/junk.jpg")));
    const QStringList args = {"thumbnails", path("pics"), "-o", path("out"), "-j", "2"};
    ChildResult run = runChild(Tool, args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(outcomes(run.out).value("o3.jpg").value("status").toString(), QStringLiteral("made"));

    // A picture changed after its thumbnail was made is made again; the others are kept.
    QFile touched(path("pics/o3.jpg"));
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();
    run = runChild(Tool, args);
    QCOMPARE(run.exitCode, 0);
    const QMap<QString, QJsonObject> lines = outcomes(run.out);
    QCOMPARE(lines.size(), 9);
    for (auto it = lines.cbegin(); it != lines.cend(); ++it)
        QCOMPARE(it.value().value("status").toString(), it.key() == QLatin1String("o3.jpg")
                                                            ? QStringLiteral("made")
                                                            : QStringLiteral("kept"));
}

void TestThumbnails::neverWritesOutside_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("../ in a FILE operand") << "dotdot";
    QTest::newRow("a subfolder of OUTDIR linked out") << "linked folder";
    QTest::newRow("a link where the thumbnail goes") << "linked thumbnail";
}

void TestThumbnails::neverWritesOutside()
{
    QFETCH(QString, how);
    makeFolder();
    QVERIFY(QDir().mkpath(path("out")));
    QVERIFY(QDir().mkpath(path("elsewhere")));
    const QByteArray kept("left alone");
    QVERIFY(writeBytes(path("elsewhere/victim.png"), kept));
    QStringList args = {"thumbnails", "-o", path("out")};
    int expectedCode = 0;
    if (how == QLatin1String("dotdot")) {
        args << path("pics/sub/../o1.jpg");
    } else if (how == QLatin1String("linked folder")) {
        QVERIFY(QFile::link(path("elsewhere"), path("out/sub")));
        args << path("pics") << "-r";
        expectedCode = 2;
    } else {
        QVERIFY(QFile::link(path("elsewhere/victim.png"), path("out/o1.jpg.png")));
        args << path("pics/o1.jpg");
        expectedCode = 2;
    }
    const ChildResult run = runChild(Tool, args);
    QVERIFY(!run.crashed);
    if (how == QLatin1String("linked folder")) QVERIFY(run.err.contains("deep.jpg"));
    QVERIFY2(run.exitCode == expectedCode, run.err);
    // Nothing but the victim is in the other folder, and it is unchanged.
    QCOMPARE(QDir(path("elsewhere")).entryList(QDir::Files | QDir::NoDotAndDotDot),
             QStringList{"victim.png"});
    QFile victim(path("elsewhere/victim.png"));
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), kept);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
    if (how == QLatin1String("dotdot")) QVERIFY(QFile::exists(path("out/o1.jpg.png")));
    if (how == QLatin1String("linked thumbnail"))
        QVERIFY(QFileInfo(path("out/o1.jpg.png")).isSymLink());
}

// Pictures removed while the run goes on are reported; the run neither stops nor crashes.
void TestThumbnails::picturesVanishingMidRun()
{
    QVERIFY(QDir().mkpath(path("many")));
    const QImage stored = quadrantPicture(QSize(1200, 900), QImage::Format_RGB32);
    constexpr int Count = 40;
    for (int i = 0; i < Count; ++i)
        QVERIFY(stored.save(path(QStringLiteral("many/p%1.jpg").arg(i, 2, 10, QChar('0'))), "JPEG",
                            90));
    QProcess process;
    process.start(Tool, {"thumbnails", path("many"), "-o", path("out"), "-j", "1"});
    QVERIFY(process.waitForReadyRead(60000));
    // Held still while the last pictures go, so that they are gone before their turn.
    ::kill(pid_t(process.processId()), SIGSTOP);
    for (int i = Count - 10; i < Count; ++i)
        QVERIFY(QFile::remove(path(QStringLiteral("many/p%1.jpg").arg(i, 2, 10, QChar('0')))));
    ::kill(pid_t(process.processId()), SIGCONT);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QMap<QString, QJsonObject> lines = outcomes(process.readAllStandardOutput());
    QCOMPARE(lines.size(), Count);
    int failed = 0;
    for (auto it = lines.cbegin(); it != lines.cend(); ++it) {
        const bool gone = !QFile::exists(path("many/") + it.key());
        const QString status = it.value().value("status").toString();
        if (status == QLatin1String("failed")) {
            QVERIFY(gone);
            ++failed;
        } else {
            QCOMPARE(status, QStringLiteral("made"));
        }
    }
    QVERIFY(failed > 0);
}

// The camera's 160 x 120 thumbnail of a picture stored turned (orientation 6): it stands in
// for boxes it covers, turned upright, and not for larger ones.
void TestThumbnails::exifThumbnailStandsIn()
{
    REAL_DATA(camera, QStringLiteral("jpeg/exif_thumb_orient6_canon_hdr_YES.jpg"));
    auto render = [&](const QString &box, bool exif) {
        const QString out = path(QStringLiteral("%1-%2.png").arg(box).arg(exif));
        QStringList args = {"render", camera, "-o", out, "--box", box};
        if (exif) args << "--exif-thumbnail";
        const ChildResult run = runChild(Tool, args);
        return run.exitCode == 0 ? QImage(out) : QImage();
    };
    const QImage fromThumbnail = render("120x160", true);
    const QImage decoded = render("120x160", false);
    QCOMPARE(fromThumbnail.size(), QSize(120, 160));
    QCOMPARE(decoded.size(), QSize(120, 160));
    QVERIFY(maxChannelDifference(fromThumbnail, decoded) > 0);
    QVERIFY2(meanChannelDifference(fromThumbnail, decoded) < 12,
             qPrintable(QString::number(meanChannelDifference(fromThumbnail, decoded))));
    // Too small for 300 x 400: the picture itself is decoded.
    QCOMPARE(maxChannelDifference(render("300x400", true), render("300x400", false)), 0);
}

QTEST_GUILESS_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
