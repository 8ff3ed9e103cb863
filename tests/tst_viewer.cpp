// picsage-viewer end to end, on an X server of its own (Xvfb): a folder of real pictures
// stepped through with keys, a turned picture saved as a copy, the skin switched, an
// animation played, a 20000-pixel JPEG shown at 100 % from its clip tiles, an unreadable
// file, a folder that changes while shown, the trash. The viewer plays a script of keys
// and waits and reports what it does; the test reads the report, the screenshots and the
// files written. Also the trash on its own.

#include "host/viewer/Trash.h"
#include "support/Pictures.h"
#include "support/RealData.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

const QColor ViewBackground(0x30, 0x30, 0x30);
const QColor EdgeColour(0xc8, 0xc8, 0xc8);
// The ocean skin's strong buttons (src/skin/resources/skins/ocean/theme.xml).
const QColor OceanStrong(0x1e, 0x6f, 0xc4);
const QColor Dark(0, 0, 0), Bright(230, 230, 230);

QString viewerPath()
{
    return QStringLiteral(PICSAGE_LIBDIR "/picsage-viewer");
}

// Left half red, right half blue.
QImage halves(const QSize &size)
{
    return render(size, [&](QPainter *p) {
        p->fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
        p->fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height(), Qt::blue);
    });
}

// A grey JPEG above the clip-mode threshold (104,857,600 pixels) with 100-pixel stripes,
// dark and bright, across: at 100 % each stripe is 100 pixels wide on screen.
bool writeLargeStripes(const QString &path)
{
    QImage image(20000, 5300, QImage::Format_Grayscale8);
    if (image.isNull()) return false;
    QByteArray row(image.width(), '\0');
    for (int x = 0; x < image.width(); ++x)
        row[x] = char((x / 100) % 2 ? Bright.red() : Dark.red());
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), row.constData(), size_t(row.size()));
    return image.save(path, "JPEG", 60);
}

// One running viewer: its report read line by line as it comes.
class ViewerRun
{
public:
    ViewerRun(const QStringList &args, const QProcessEnvironment &env)
    {
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(viewerPath(), args);
    }
    ~ViewerRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Reads until a line equal to `line` arrives; false when the viewer ends first.
    bool waitForLine(const QString &line, int timeoutMs = 120000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_process.canReadLine()) {
                const QString got = QString::fromUtf8(m_process.readLine()).trimmed();
                m_lines << got;
                if (got == line) return true;
            }
            if (m_process.state() == QProcess::NotRunning || timer.elapsed() > timeoutMs)
                return false;
            m_process.waitForReadyRead(100);
        }
    }

    // Waits for the end; the whole report in `lines()`.
    bool finish(int timeoutMs = 120000)
    {
        if (!m_process.waitForFinished(timeoutMs)) return false;
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        const QString rest = QString::fromUtf8(m_process.readAll()).trimmed();
        if (!rest.isEmpty()) m_lines << rest;
        return true;
    }

    QStringList lines() const { return m_lines; }
    int exitCode() const { return m_process.exitCode(); }
    bool crashed() const { return m_process.exitStatus() != QProcess::NormalExit; }
    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class TestViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void trash_data();
    void trash();
    void trashRefusesWhatItCannotMove();
    void endToEnd();

private:
    QProcess m_xvfb;
    QString m_display;
};

void TestViewer::initTestCase()
{
    QVERIFY2(QFile::exists(viewerPath()), qPrintable(viewerPath()));
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) return; // endToEnd skips, saying why
    // -displayfd: the server picks a free display and writes its number once it listens.
    m_xvfb.start(xvfb,
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    QVERIFY2(m_xvfb.waitForStarted(), "Xvfb does not start");
    QElapsedTimer timer;
    timer.start();
    while (!m_xvfb.canReadLine() && timer.elapsed() < 60000 && m_xvfb.state() == QProcess::Running)
        m_xvfb.waitForReadyRead(100);
    const QString number = QString::fromLatin1(m_xvfb.readLine()).trimmed();
    QVERIFY2(!number.isEmpty(), qPrintable(QString::fromLocal8Bit(m_xvfb.readAllStandardError())));
    m_display = QLatin1Char(':') + number;
}

void TestViewer::cleanupTestCase()
{
    if (m_xvfb.state() == QProcess::NotRunning) return;
    m_xvfb.terminate();
    if (!m_xvfb.waitForFinished(10000)) {
        m_xvfb.kill();
        m_xvfb.waitForFinished();
    }
}

void TestViewer::trash_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("trashedName");
    QTest::addColumn<QByteArray>("encodedName");

    QTest::newRow("plain name") << "photo.jpg" << false << "photo.jpg" << QByteArray("photo.jpg");
    QTest::newRow("blank and percent encoded")
        << "old photo 100%.png" << false << "old photo 100%.png"
        << QByteArray("old%20photo%20100%25.png");
    QTest::newRow("name already in the trash")
        << "photo.jpg" << true << "photo.2.jpg" << QByteArray("photo.jpg");
}

void TestViewer::trash()
{
    QFETCH(QString, name);
    QFETCH(bool, taken);
    QFETCH(QString, trashedName);
    QFETCH(QByteArray, encodedName);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("data/Trash"));
    const QString path = dir.filePath(name);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("picture bytes");
    }
    if (taken) {
        QVERIFY(QDir().mkpath(home + QStringLiteral("/files")));
        QFile other(home + QStringLiteral("/files/") + name);
        QVERIFY(other.open(QIODevice::WriteOnly));
    }

    QString error, trashedAs;
    QVERIFY2(viewer::Trash(home).moveToTrash(path, &error, &trashedAs), qPrintable(error));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(trashedAs, home + QStringLiteral("/files/") + trashedName);
    QFile moved(trashedAs);
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), QByteArray("picture bytes"));

    QFile info(home + QStringLiteral("/info/") + trashedName + QStringLiteral(".trashinfo"));
    QVERIFY(info.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = info.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("[Trash Info]"));
    const QByteArray folder = QFile::encodeName(QDir(dir.path()).absolutePath());
    QCOMPARE(lines.value(1),
             "Path=" + QUrl::toPercentEncoding(QString::fromLocal8Bit(folder), "/") + '/' +
                 encodedName);
    QVERIFY(lines.value(2).startsWith("DeletionDate="));
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(lines.value(2).mid(13)),
                                                 QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    QVERIFY(when.isValid());
    QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 3600);
}

void TestViewer::trashRefusesWhatItCannotMove()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    // Missing file: refused, nothing made.
    QVERIFY(!viewer::Trash(dir.filePath(QStringLiteral("Trash")))
                 .moveToTrash(dir.filePath(QStringLiteral("absent.jpg")), &error));
    QVERIFY(!error.isEmpty());
    // A trash that cannot be made (its place is a file): the picture stays where it is.
    const QString picture = dir.filePath(QStringLiteral("keep.jpg"));
    QFile(picture).open(QIODevice::WriteOnly);
    QFile blocker(dir.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    error.clear();
    QVERIFY(
        !viewer::Trash(dir.filePath(QStringLiteral("blocked/Trash"))).moveToTrash(picture, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFile::exists(picture));
}

void TestViewer::endToEnd()
{
    if (m_display.isEmpty()) QSKIP("Xvfb is not installed (Debian package xvfb): no X server");

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString folder = temp.filePath(QStringLiteral("pictures"));
    const QString other = temp.filePath(QStringLiteral("large"));
    const QString shots = temp.filePath(QStringLiteral("shots"));
    for (const QString &dir : {folder, other, shots})
        QVERIFY(QDir().mkpath(dir));

    // Real pictures, a generated one, an unreadable one and one with a blank in its name.
    const QStringList real = {QStringLiteral("jpeg/orient_Landscape_1.jpg"),
                              QStringLiteral("jpeg/orient_Landscape_6.jpg"),
                              QStringLiteral("gif/dispose_bgnd.gif")};
    for (const QString &relative : real) {
        REAL_DATA(source, relative);
        QVERIFY(QFile::copy(source, folder + QLatin1Char('/') + QFileInfo(relative).fileName()));
    }
    QVERIFY(halves(QSize(300, 200)).save(folder + QStringLiteral("/halves.png")));
    QVERIFY(halves(QSize(40, 30)).save(folder + QStringLiteral("/old photo.png")));
    {
        QFile broken(folder + QStringLiteral("/broken.jpg"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(4096, 'x'));
    }
    const int pictures = 6;
    const QString large = other + QStringLiteral("/large.jpg");
    QVERIFY(writeLargeStripes(large));
    const QString start = folder + QStringLiteral("/orient_Landscape_1.jpg");
    const QSize startSize = QImageReader(start).size();
    const QString turned = folder + QStringLiteral("/orient_Landscape_6.jpg");
    const auto uprightSize = [](const QString &path) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        return reader.read().size();
    };
    const QSize turnedSize = uprightSize(turned);

    QStringList script{QStringLiteral("wait-painted orient_Landscape_1.jpg")};
    // Round the folder forwards (wrapping around to the start), then a step back and forth.
    for (int i = 0; i < pictures; ++i)
        script << QStringLiteral("key Right") << QStringLiteral("wait-report painted");
    script << QStringLiteral("key Left") << QStringLiteral("wait-report painted")
           << QStringLiteral("key Space") << QStringLiteral("wait-report painted")
           << QStringLiteral("wheel -120") << QStringLiteral("wait-report painted")
           << QStringLiteral("open ") + start
           << QStringLiteral("wait-painted orient_Landscape_1.jpg")
           // turn right in memory, save a copy
           << QStringLiteral("key R") << QStringLiteral("wait-report turned")
           << QStringLiteral("key Ctrl+S") << QStringLiteral("wait-dialog")
           << QStringLiteral("key C")
           << QStringLiteral("wait-report saved")
           // turn another left and write it over its file
           << QStringLiteral("open ") + turned
           << QStringLiteral("wait-painted orient_Landscape_6.jpg") << QStringLiteral("key L")
           << QStringLiteral("wait-report turned") << QStringLiteral("key Ctrl+S")
           << QStringLiteral("wait-dialog") << QStringLiteral("key O")
           << QStringLiteral("wait-report saved")
           // a generated picture: its halves on screen, then the skin menu
           << QStringLiteral("open ") + folder + QStringLiteral("/halves.png")
           << QStringLiteral("wait-painted halves.png")
           << QStringLiteral("screenshot ") + shots + QStringLiteral("/halves.png")
           << QStringLiteral("key H") << QStringLiteral("wait-dialog")
           << QStringLiteral("key Return") << QStringLiteral("wait-report saved")
           << QStringLiteral("key E") << QStringLiteral("wait-dialog")
           << QStringLiteral("key Return") << QStringLiteral("wait-report exported")
           << QStringLiteral("key Shift+Ctrl+S") << QStringLiteral("wait-dialog")
           << QStringLiteral("key Ctrl+A")
           << QStringLiteral("type ") + shots + QStringLiteral("/saved as.bmp")
           << QStringLiteral("key Return") << QStringLiteral("wait-report saved")
           << QStringLiteral("key M") << QStringLiteral("wait-dialog") << QStringLiteral("key O")
           << QStringLiteral("wait-report skin ocean")
           << QStringLiteral("screenshot ") + shots + QStringLiteral("/ocean.png")
           // an animation for a few frames
           << QStringLiteral("open ") + folder + QStringLiteral("/dispose_bgnd.gif")
           << QStringLiteral("wait-painted dispose_bgnd.gif")
           << QStringLiteral("wait-frames 3")
           // an unreadable file: a message in the window
           << QStringLiteral("open ") + folder + QStringLiteral("/broken.jpg")
           << QStringLiteral("wait-painted broken.jpg")
           << QStringLiteral("screenshot ") + shots + QStringLiteral("/broken.png")
           // the folder changes while shown: the test adds a file, then takes it away (six
           // pictures, the turned, mirrored and exported copies, and the new one)
           << QStringLiteral("print add-now") << QStringLiteral("wait-report folder 10")
           << QStringLiteral("print remove-now")
           << QStringLiteral("wait-report folder 9")
           // into the trash
           << QStringLiteral("open ") + folder + QStringLiteral("/old photo.png")
           << QStringLiteral("wait-painted old photo.png") << QStringLiteral("key Delete")
           << QStringLiteral("wait-report trashed")
           // 20000 pixels across: fitted, then 100 % from the clip tiles
           << QStringLiteral("open ") + large << QStringLiteral("wait-painted large.jpg")
           << QStringLiteral("screenshot ") + shots + QStringLiteral("/large-fit.png")
           << QStringLiteral("key 1") << QStringLiteral("wait-settled")
           << QStringLiteral("screenshot ") + shots + QStringLiteral("/large-100.png")
           // the wheel with Ctrl zooms in, F fits again
           << QStringLiteral("wheel 120 ctrl") << QStringLiteral("wait-report zoom")
           << QStringLiteral("key F") << QStringLiteral("wait-report zoom")
           << QStringLiteral("quit");
    const QString scriptPath = temp.filePath(QStringLiteral("script.txt"));
    {
        QFile file(scriptPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(script.join(QLatin1Char('\n')).toUtf8());
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), temp.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), temp.filePath(QStringLiteral("config")));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    ViewerRun run({QStringLiteral("--skins"), QStringLiteral(PICSAGE_SKINS),
                   QStringLiteral("--script"), scriptPath, start},
                  env);
    QVERIFY2(run.waitForLine(QStringLiteral("add-now")),
             qPrintable(run.lines().join('\n') + run.errors()));
    QVERIFY(
        QFile::copy(folder + QStringLiteral("/halves.png"), folder + QStringLiteral("/new.png")));
    QVERIFY2(run.waitForLine(QStringLiteral("remove-now")),
             qPrintable(run.lines().join('\n') + run.errors()));
    QVERIFY(QFile::remove(folder + QStringLiteral("/new.png")));
    QVERIFY(run.finish());
    const QStringList lines = run.lines();
    const QByteArray errors = run.errors();
    if (run.crashed() || run.exitCode() != 0)
        qWarning().noquote() << lines.join(QLatin1Char('\n')) << '\n' << errors;
    QVERIFY(!run.crashed());
    QCOMPARE(run.exitCode(), 0);

    // Stepping: every picture once per round, back at the start after a whole round.
    QStringList painted;
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("painted"))) painted << line.section(QLatin1Char(' '), 1);
    QVERIFY2(painted.size() >= pictures + 4, qPrintable(lines.join('\n')));
    QCOMPARE(painted.first(), QStringLiteral("orient_Landscape_1.jpg"));
    QCOMPARE(painted.at(pictures), QStringLiteral("orient_Landscape_1.jpg"));
    QCOMPARE(QSet<QString>(painted.begin(), painted.begin() + pictures).size(), pictures);
    // Left goes back to the last one before the start, Space forwards again, the wheel
    // down forwards once more.
    QCOMPARE(painted.at(pictures + 1), painted.at(pictures - 1));
    QCOMPARE(painted.at(pictures + 2), QStringLiteral("orient_Landscape_1.jpg"));
    QCOMPARE(painted.at(pictures + 3), painted.at(1));
    QVERIFY(lines.contains(QStringLiteral("painted-message broken.jpg")));
    const QRegularExpression title(
        QStringLiteral("^title orient_Landscape_1\\.jpg \u2014 [1-6] / 6$"));
    QVERIFY2(!lines.filter(title).isEmpty(), qPrintable(lines.join('\n')));

    // The turned copy beside the picture, upright and turned a quarter.
    // The copy's tag is translated with the application's language: match its number only.
    const QStringList copies = lines.filter(
        QRegularExpression(QStringLiteral("^saved ") + QRegularExpression::escape(folder) +
                           QStringLiteral("/orient_Landscape_1 - .* \\(1\\)\\.jpg$")));
    QVERIFY2(copies.size() == 1, qPrintable(lines.join('\n')));
    const QString copy = copies.first().mid(6);
    QCOMPARE(uprightSize(copy), startSize.transposed());
    QCOMPARE(QImageReader(start).size(), startSize); // the original untouched
    // The one written over its file: turned a quarter as shown.
    QVERIFY(lines.contains(QStringLiteral("saved ") + turned));
    QCOMPARE(uprightSize(turned), turnedSize.transposed());

    // The mirrored copy: blue on the left now. The export: the same picture as JPEG.
    const QImage mirrored(folder + QStringLiteral("/halves - Mirror.png"));
    QVERIFY(!mirrored.isNull());
    QVERIFY(near(pixel(mirrored, 10, 100), Qt::blue, 4));
    QVERIFY(near(pixel(mirrored, 290, 100), Qt::red, 4));
    QImageReader exported(folder + QStringLiteral("/halves - Export.jpg"));
    QCOMPARE(exported.format(), QByteArray("jpeg"));
    QCOMPARE(exported.size(), QSize(300, 200));

    // Saved as another file, in the format of its suffix.
    QImageReader savedAs(shots + QStringLiteral("/saved as.bmp"));
    QCOMPARE(savedAs.format(), QByteArray("bmp"));
    const QImage savedImage = savedAs.read();
    QCOMPARE(savedImage.size(), QSize(300, 200));
    QVERIFY(near(pixel(savedImage, 10, 100), Qt::red, 4));

    // The screenshots at chosen pixels: the picture centred (not enlarged) in the view.
    const QImage shot(shots + QStringLiteral("/halves.png"));
    QVERIFY(!shot.isNull());
    const QPoint middle(shot.width() / 2, shot.height() / 2 + 16);
    QVERIFY(near(pixel(shot, middle - QPoint(60, 0)), Qt::red, 8));
    QVERIFY(near(pixel(shot, middle + QPoint(60, 0)), Qt::blue, 8));
    QVERIFY(near(pixel(shot, 0, 0), EdgeColour, 2));
    QVERIFY(near(pixel(shot, 20, shot.height() - 20), ViewBackground, 2));
    // The skin button in the caption band takes the ocean look.
    const QRect caption(shot.width() / 2, 0, shot.width() / 2, 40);
    QVERIFY(!areaHas(shot, caption, OceanStrong, 3));
    QVERIFY(areaHas(QImage(shots + QStringLiteral("/ocean.png")), caption, OceanStrong, 3));

    // The animation moved on with its delays.
    for (int frame = 1; frame <= 3; ++frame)
        QVERIFY(lines.contains(QStringLiteral("frame dispose_bgnd.gif %1").arg(frame)));

    // The unreadable file: a message where the picture would be.
    const QImage broken(shots + QStringLiteral("/broken.png"));
    QVERIFY(areaChanged(broken, QRect(20, broken.height() / 2 - 20, broken.width() - 40, 40),
                        ViewBackground));

    // The folder followed: the new file counted, its removal too.
    QVERIFY(lines.contains(QStringLiteral("folder 10")));
    QVERIFY(lines.contains(QStringLiteral("folder 9")));

    // The trash: the file moved there with its record, gone from the folder.
    const QString trashed = temp.filePath(QStringLiteral("data/Trash/files/old photo.png"));
    QVERIFY(QFile::exists(trashed));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/old photo.png")));
    QFile info(temp.filePath(QStringLiteral("data/Trash/info/old photo.png.trashinfo")));
    QVERIFY(info.open(QIODevice::ReadOnly));
    QVERIFY(info.readAll().contains("/old%20photo.png\n"));

    // Zoom: 100 %, a step in with Ctrl and the wheel, and fitted again.
    const QStringList zooms =
        lines.filter(QRegularExpression(QStringLiteral("^zoom large\\.jpg ")));
    QCOMPARE(zooms.size(), 3);
    QCOMPARE(zooms.at(0), QStringLiteral("zoom large.jpg 100.0%"));
    QCOMPARE(zooms.at(1), QStringLiteral("zoom large.jpg 125.0%"));
    QVERIFY(zooms.at(2).section(QLatin1Char(' '), 2).chopped(1).toDouble() < 10);

    // 20000 pixels across: fitted, a band across the middle with the view's background
    // above it; at 100 %, stripes of 100 pixels from the tiles around the middle.
    const QImage fit(shots + QStringLiteral("/large-fit.png"));
    const QImage full(shots + QStringLiteral("/large-100.png"));
    QVERIFY(!fit.isNull() && !full.isNull());
    const int cx = full.width() / 2, y = full.height() - 60;
    QVERIFY(near(pixel(fit, 20, 80), ViewBackground, 2));
    int darkest = 255, brightest = 0;
    for (int x = cx - 20; x < cx + 20; ++x) {
        darkest = qMin(darkest, pixel(fit, x, fit.height() / 2).red());
        brightest = qMax(brightest, pixel(fit, x, fit.height() / 2).red());
    }
    QVERIFY2(brightest - darkest > 100,
             qPrintable(QStringLiteral("%1 %2").arg(darkest).arg(brightest)));
    QVERIFY2(near(pixel(full, cx + 50, y), Dark, 20), qPrintable(pixel(full, cx + 50, y).name()));
    QVERIFY2(near(pixel(full, cx + 150, y), Bright, 20),
             qPrintable(pixel(full, cx + 150, y).name()));
    QVERIFY2(near(pixel(full, cx - 50, y), Bright, 20), qPrintable(pixel(full, cx - 50, y).name()));
}

QTEST_GUILESS_MAIN(TestViewer)
#include "tst_viewer.moc"
