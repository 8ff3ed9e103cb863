// picsage-image's frames command, render --frame and info for animations and SVG, run as a
// host runs them: the staged program in a process of its own.
#include "support/GifBuilder.h"

#include "image/GifAnimation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int code = -1;
    QByteArray out, err;
};

Run run(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(IMAGETOOL_PATH), args);
    Run r;
    if (!process.waitForFinished(120000)) return r;
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

QString realGif(const QString &name)
{
    return QStringLiteral(PICSAGE_REALDATA "/gif/") + name;
}

} // namespace

class TestImageToolFrames : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void frames_data();
    void frames();
    void renderFrame();
    void info();
    void refusals_data();
    void refusals();
};

void TestImageToolFrames::frames_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("disposal 2") << realGif("dispose_bgnd.gif");
    QTest::newRow("transparency") << realGif("dispose-background.gif");
    QTest::newRow("disposal 3") << realGif("dispose_prev.gif");
}

void TestImageToolFrames::frames()
{
    QFETCH(QString, file);
    QVERIFY2(QFile::exists(file), qPrintable(file + " is missing"));
    const QString out = m_dir.filePath(QFileInfo(file).baseName());
    const Run r = run({"frames", file, "-o", out});
    QVERIFY2(r.code == 0, r.err.constData());

    GifAnimation reference;
    QVERIFY(reference.load(file));
    QFile list(out + "/frames.json");
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QJsonArray entries = QJsonDocument::fromJson(list.readAll()).array();
    QCOMPARE(entries.size(), reference.frameCount());
    for (int i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries.at(i).toObject();
        QCOMPARE(entry.value("index").toInt(), i);
        const int stored = reference.delayMs(i);
        QCOMPARE(entry.value("delayMs").toInt(), stored < 1 ? 100 : stored);
        const QImage frame(out + QStringLiteral("/frame-%1.png").arg(i, 4, 10, QLatin1Char('0')));
        QCOMPARE(frame.convertToFormat(QImage::Format_ARGB32),
                 reference.composedFrame(i).convertToFormat(QImage::Format_ARGB32));
    }
}

void TestImageToolFrames::renderFrame()
{
    const QString file = realGif("dispose_prev.gif");
    QVERIFY2(QFile::exists(file), qPrintable(file + " is missing"));
    GifAnimation reference;
    QVERIFY(reference.load(file));
    for (int frame : {3, 1}) {
        const QString png = m_dir.filePath(QStringLiteral("render-%1.png").arg(frame));
        const Run r = run({"render", file, "--frame", QString::number(frame), "-o", png});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(QImage(png).convertToFormat(QImage::Format_ARGB32),
                 reference.composedFrame(frame).convertToFormat(QImage::Format_ARGB32));
    }
}

void TestImageToolFrames::info()
{
    const QString svg = m_dir.filePath("box.svg");
    QFile f(svg);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 120 80'>"
            "<rect width='120' height='80' fill='red'/></svg>");
    f.close();
    const Run r = run({"info", realGif("dispose_prev.gif"), svg});
    QVERIFY2(r.code == 0, r.err.constData());
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject gif = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(gif.value("frames").toInt(), 5);
    QCOMPARE(gif.value("backend").toString(), QStringLiteral("gif"));
    QCOMPARE(gif.value("width").toInt(), 100);
    const QJsonObject vector = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(vector.value("frames").toInt(), 1);
    QCOMPARE(vector.value("backend").toString(), QStringLiteral("svg"));
    QCOMPARE(vector.value("width").toInt(), 120);
    QCOMPARE(vector.value("height").toInt(), 80);
}

void TestImageToolFrames::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::newRow("no DIR") << QStringList{"frames", realGif("dispose_prev.gif")} << 1;
    QTest::newRow("no FILE") << QStringList{"frames", "-o", "x"} << 1;
    QTest::newRow("unknown option") << QStringList{"frames", "--fast", "a.gif", "-o", "x"} << 1;
    QTest::newRow("missing file") << QStringList{"frames", "/no/such.gif", "-o", "x"} << 2;
    QTest::newRow("frame beyond the last")
        << QStringList{"render", realGif("dispose_prev.gif"), "--frame", "5", "-o", "x.png"} << 1;
    QTest::newRow("folder cannot be made")
        << QStringList{"frames", realGif("dispose_prev.gif"), "-o", "/proc/picsage/frames"} << 3;
}

void TestImageToolFrames::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    const Run r = run(args);
    QCOMPARE(r.code, code);
    QVERIFY(!r.err.isEmpty());
}

QTEST_GUILESS_MAIN(TestImageToolFrames)
#include "tst_imagetool_frames.moc"
