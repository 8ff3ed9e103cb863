#include "support/Spawn.h"
#include "support/StagedTree.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QtTest>

#include <clocale>
#include <functional>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

Q_DECLARE_METATYPE(EnvironmentChanges)

namespace {
const QStringList AllMethods{"cornerseek_pc",  "tiltsense_pc",     "pic_category_pc",
                             "tone_filter_pc", "plainbackdrop_pc", "docsorter_pc"};

QByteArray pngBytes(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(40, 120, 160));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// Writes `data` to a file whose name is the exact bytes given.
bool writeRaw(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

QJsonObject record(const StagedTree &tree, const QString &method)
{
    return QJsonDocument::fromJson(tree.stored(method).toUtf8()).object();
}

QStringList storedMethods(const StagedTree &tree)
{
    QStringList found;
    for (const QString &m : AllMethods)
        if (!tree.stored(m).isEmpty()) found << m;
    return found;
}

// Runs `work` in a child process of its own; true when it returned true there.
bool inChildProcess(const std::function<bool()> &work)
{
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) ::_exit(work() ? 0 : 1);
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What "display :N" names when no X server serves it: no socket file, no lock, no abstract
// socket of that number.
QByteArray unusedDisplay()
{
    QFile unix(QStringLiteral("/proc/net/unix"));
    const QByteArray sockets = unix.open(QIODevice::ReadOnly) ? unix.readAll() : QByteArray();
    for (int n = 4711; n < 5711; ++n) {
        const QByteArray socket = "/tmp/.X11-unix/X" + QByteArray::number(n);
        if (QFile::exists(QString::fromLatin1(socket)) ||
            QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
            sockets.contains(socket + '\n'))
            continue;
        return ':' + QByteArray::number(n);
    }
    return QByteArray();
}
} // namespace

// The analysis tool started as people start it: through the picsage launcher in a staged
// tree, in a comma locale, with no usable display, on awkward file names and broken or huge
// pictures. The fixed test module answers what its model file says: category 4 (a document
// kind), docsorter 2, plain backdrop 1.
class TestLauncherUse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void decimalCommaLocale_data();
    void decimalCommaLocale();
    void pathsHoldingDashes_data();
    void pathsHoldingDashes();
    void recordsDescribeTheirOwnRun_data();
    void recordsDescribeTheirOwnRun();
    void picturesThatDoNotDecode_data();
    void picturesThatDoNotDecode();
    void unreachableDisplay_data();
    void unreachableDisplay();
    void fileNamesPassThrough_data();
    void fileNamesPassThrough();
    void hugePictureAtFullSize();

private:
    // Runs the tree's launcher with the tree's settings store (emptied first) on the
    // offscreen platform, unless `changes` say otherwise.
    static SpawnResult launch(const StagedTree &tree, const QList<QByteArray> &args,
                              const EnvironmentChanges &changes = {});
    static void installFixedModule(StagedTree &tree, bool withDocSorterModel = true,
                                   const QByteArray &categoryModel = "4 0.8");

    StagedTree m_tree;
    QString m_picture;
};

SpawnResult TestLauncherUse::launch(const StagedTree &tree, const QList<QByteArray> &args,
                                    const EnvironmentChanges &changes)
{
    QFile::remove(tree.configDir() + QStringLiteral("/ormelo/office.conf"));
    EnvironmentChanges environment{{"XDG_CONFIG_HOME", QFile::encodeName(tree.configDir())},
                                   {"QT_QPA_PLATFORM", "offscreen"}};
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        environment[it.key()] = it.value();
    const SpawnResult result =
        spawn(QFile::encodeName(tree.libDir() + QStringLiteral("/picsage")), args, environment);
    if (!result.exited) qWarning() << "launcher ended by signal" << result.signal << result.errors;
    return result;
}

void TestLauncherUse::installFixedModule(StagedTree &tree, bool withDocSorterModel,
                                         const QByteArray &categoryModel)
{
    tree.installLauncher();
    tree.installModule(QStringLiteral(TESTMODULE_DIR "/testmodule_fixed.so"));
    tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("c.tflite"), categoryModel);
    tree.addModelFile(QStringLiteral("plainbackdrop_pc"), QStringLiteral("p.tflite"), "1 0.25");
    if (withDocSorterModel)
        tree.addModelFile(QStringLiteral("docsorter_pc"), QStringLiteral("d.tflite"), "2 0.5");
}

void TestLauncherUse::initTestCase()
{
    installFixedModule(m_tree);
    m_picture = m_tree.path(QStringLiteral("picture.png"));
    QVERIFY(writeRaw(QFile::encodeName(m_picture), pngBytes(QSize(64, 48))));
}

void TestLauncherUse::decimalCommaLocale_data()
{
    QTest::addColumn<EnvironmentChanges>("changes");

    QTest::newRow("LC_ALL") << EnvironmentChanges{{"LC_ALL", "de_DE.UTF-8"}};
    QTest::newRow("LC_NUMERIC only") << EnvironmentChanges{
        {"LC_ALL", QByteArray()}, {"LANG", "C.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}};
    QTest::newRow("LANG") << EnvironmentChanges{
        {"LC_ALL", QByteArray()}, {"LC_NUMERIC", QByteArray()}, {"LANG", "de_DE.UTF-8"}};
}

void TestLauncherUse::decimalCommaLocale()
{
    QFETCH(EnvironmentChanges, changes);

    const locale_t german = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", locale_t(nullptr));
    if (!german) QFAIL("the locale de_DE.UTF-8 is missing: scripts/install-deps generates it");
    const QByteArray radix = ::nl_langinfo_l(RADIXCHAR, german);
    ::freelocale(german);
    QCOMPARE(radix, QByteArray(","));

    // lensmind's own parameter files are full of fractions such as 0.15.
    StagedTree tree;
    tree.installLauncher();
    tree.installModule(QStringLiteral(LENSMIND_PATH));
    tree.installModels(QStringLiteral(LENSMIND_MODELS));
    const SpawnResult run =
        launch(tree,
               {"--pathname=" + QFile::encodeName(QStringLiteral(SAMPLES_DIR "/document.png")),
                "--method=pic_category_pc,plainbackdrop_pc,docsorter_pc"},
               changes);
    QVERIFY(run.exited);
    QVERIFY2(run.code >= 0, qPrintable(tree.stored(QStringLiteral("pic_category_pc"))));
    for (const char *method : {"pic_category_pc", "plainbackdrop_pc", "docsorter_pc"}) {
        const QString json = tree.stored(QLatin1String(method));
        QJsonParseError error;
        const QJsonObject r = QJsonDocument::fromJson(json.toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError); // "0,5" would not parse
        QVERIFY2(r.value(QStringLiteral("msg"))
                     .toString()
                     .endsWith(QLatin1String(method) + QLatin1String(" success")),
                 qPrintable(json));
        QVERIFY2(r.value(QStringLiteral("confidence")).toDouble() > 0, qPrintable(json));
    }
}

void TestLauncherUse::pathsHoldingDashes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("stored");

    // PIC stands for the picture's path.
    const QStringList category{"pic_category_pc"};
    QTest::newRow("blank, dash and digit")
        << "trip -2/doc.png" << QStringList{"--pathname=PIC", "--method=pic_category_pc"} << 4
        << category;
    QTest::newRow("ends in -a") << "scan -a"
                                << QStringList{"--pathname=PIC", "--method=pic_category_pc"} << 4
                                << category;
    QTest::newRow("holds another method")
        << "x --method=docsorter_pc" << QStringList{"--method=pic_category_pc", "--pathname=PIC"}
        << 4 << category;
    QTest::newRow("value as the next argument")
        << "doc.png" << QStringList{"--pathname", "PIC", "--method=pic_category_pc"} << 4
        << category;
    QTest::newRow("next argument, blanks and dashes")
        << "trip -2/scan -a.png" << QStringList{"--method=pic_category_pc", "--pathname", "PIC"}
        << 4 << category;
    QTest::newRow("next argument, then auto")
        << "doc.png" << QStringList{"--pathname", "PIC", "--method=pic_category_pc", "--auto"} << 2
        << QStringList{"pic_category_pc", "docsorter_pc"};
    QTest::newRow("next argument names no file")
        << "doc.png" << QStringList{"--pathname", "PIC.missing", "--method=pic_category_pc"} << -2
        << QStringList();
}

void TestLauncherUse::pathsHoldingDashes()
{
    QFETCH(QString, name);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QStringList, stored);

    const QString picture = m_tree.path(name);
    QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
    QVERIFY(writeRaw(QFile::encodeName(picture), pngBytes(QSize(32, 24))));
    QList<QByteArray> raw;
    for (QString arg : args)
        raw << QFile::encodeName(arg.replace(QLatin1String("PIC"), picture));
    const SpawnResult run = launch(m_tree, raw);
    QVERIFY(run.exited);
    QCOMPARE(run.code, code);
    QCOMPARE(storedMethods(m_tree), stored);
}

void TestLauncherUse::recordsDescribeTheirOwnRun_data()
{
    QTest::addColumn<QString>("methods");
    QTest::addColumn<bool>("autoOn");
    QTest::addColumn<QByteArray>("categoryModel");
    QTest::addColumn<bool>("docSorterModel");
    QTest::addColumn<int>("code");
    // "method ret confidence msg-end" per stored record
    QTest::addColumn<QStringList>("records");

    QTest::newRow("idle methods after a run")
        << "pic_category_pc,cornerseek_pc,tiltsense_pc,tone_filter_pc" << false
        << QByteArray("4 0.8") << true << 0
        << QStringList{"pic_category_pc 4 0.8 pic_category_pc success",
                       "cornerseek_pc -1 -9 nothing to do.", "tiltsense_pc -1 -9 nothing to do.",
                       "tone_filter_pc -1 -9 nothing to do."};
    QTest::newRow("follow-up that fails its check")
        << "pic_category_pc" << true << QByteArray("0 0.9") << false << 0
        << QStringList{"pic_category_pc 0 0.9 pic_category_pc success",
                       "docsorter_pc -1 -9 docsorter_pc load model error"};
    QTest::newRow("failing method after a run")
        << "plainbackdrop_pc,docsorter_pc" << false << QByteArray("4 0.8") << false << -1
        << QStringList{"plainbackdrop_pc 1 0.25 plainbackdrop_pc success",
                       "docsorter_pc -1 -9 docsorter_pc load model error"};
    QTest::newRow("idle method after a failure")
        << "docsorter_pc,tone_filter_pc" << false << QByteArray("4 0.8") << false << -1
        << QStringList{"docsorter_pc -1 -9 docsorter_pc load model error"};
    QTest::newRow("idle method after a follow-up")
        << "pic_category_pc,tiltsense_pc" << true << QByteArray("4 0.8") << true << 0
        << QStringList{"pic_category_pc 4 0.8 pic_category_pc success",
                       "docsorter_pc 2 0.5 docsorter_pc success",
                       "tiltsense_pc -1 -9 nothing to do."};
}

void TestLauncherUse::recordsDescribeTheirOwnRun()
{
    QFETCH(QString, methods);
    QFETCH(bool, autoOn);
    QFETCH(QByteArray, categoryModel);
    QFETCH(bool, docSorterModel);
    QFETCH(int, code);
    QFETCH(QStringList, records);

    StagedTree tree;
    installFixedModule(tree, docSorterModel, categoryModel);
    const QString picture = tree.path(QStringLiteral("p.png"));
    QVERIFY(writeRaw(QFile::encodeName(picture), pngBytes(QSize(40, 30))));
    QList<QByteArray> args{"--pathname=" + QFile::encodeName(picture),
                           "--method=" + methods.toUtf8()};
    if (autoOn) args << "--auto";
    const SpawnResult run = launch(tree, args);
    QVERIFY(run.exited);
    QCOMPARE(run.code, code);

    QStringList expectedMethods;
    for (const QString &line : records) {
        const QStringList parts = line.split(QLatin1Char(' '));
        const QString method = parts.at(0);
        expectedMethods << method;
        const QJsonObject r = record(tree, method);
        const QString text = tree.stored(method);
        QCOMPARE(r.value(QStringLiteral("ret")).toInt(), parts.at(1).toInt());
        QVERIFY2(float(r.value(QStringLiteral("confidence")).toDouble()) == parts.at(2).toFloat(),
                 qPrintable(text));
        QVERIFY2(r.value(QStringLiteral("msg")).toString().endsWith(parts.mid(3).join(' ')),
                 qPrintable(text));
    }
    QStringList found = storedMethods(tree);
    std::sort(found.begin(), found.end());
    std::sort(expectedMethods.begin(), expectedMethods.end());
    QCOMPARE(found, expectedMethods);
}

void TestLauncherUse::picturesThatDoNotDecode_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("method");

    for (const char *kind :
         {"text named .png", "folder named .png", "truncated JPEG", "empty file", "0 x 0 picture"})
        for (const char *method : {"pic_category_pc", "plainbackdrop_pc", "docsorter_pc"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(kind, method)))
                << QString::fromLatin1(kind) << QString::fromLatin1(method);
}

void TestLauncherUse::picturesThatDoNotDecode()
{
    QFETCH(QString, kind);
    QFETCH(QString, method);

    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("broken.png"));
    if (kind == QLatin1String("text named .png")) {
        QVERIFY(writeRaw(QFile::encodeName(path), "not a picture at all\n"));
    } else if (kind == QLatin1String("folder named .png")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("truncated JPEG")) {
        QImage image(200, 150, QImage::Format_RGB32);
        image.fill(Qt::darkRed);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "JPEG"));
        path = folder.filePath(QStringLiteral("cut.jpg"));
        QVERIFY(writeRaw(QFile::encodeName(path), jpeg.left(200))); // ends in the tables
    } else if (kind == QLatin1String("empty file")) {
        QVERIFY(writeRaw(QFile::encodeName(path), QByteArray()));
    } else {
        path = folder.filePath(QStringLiteral("zero.ppm"));
        QVERIFY(writeRaw(QFile::encodeName(path), "P6\n0 0\n255\n"));
    }

    const SpawnResult run = launch(
        m_tree, {"--pathname=" + QFile::encodeName(path), "--method=" + method.toUtf8(), "--auto"});
    QVERIFY(run.exited);
    QCOMPARE(run.code, -3);
    QCOMPARE(storedMethods(m_tree), QStringList{method});
    const QJsonObject r = record(m_tree, method);
    QCOMPARE(r.value(QStringLiteral("ret")).toInt(), -3);
    QCOMPARE(r.value(QStringLiteral("confidence")).toDouble(), -9.0);
    QVERIFY2(r.value(QStringLiteral("msg"))
                 .toString()
                 .endsWith(method + QLatin1String(" load img failed")),
             qPrintable(m_tree.stored(method)));
}

void TestLauncherUse::unreachableDisplay_data()
{
    QTest::addColumn<EnvironmentChanges>("changes");

    const QByteArray display = unusedDisplay();
    QVERIFY2(!display.isEmpty(), "every display number from 4711 on is in use");
    const QByteArray unset; // null: removed from the environment
    QTest::newRow("no server at DISPLAY") << EnvironmentChanges{
        {"DISPLAY", display}, {"QT_QPA_PLATFORM", unset}, {"WAYLAND_DISPLAY", unset}};
    QTest::newRow("unknown platform") << EnvironmentChanges{
        {"QT_QPA_PLATFORM", "nonesuch"}, {"DISPLAY", unset}, {"WAYLAND_DISPLAY", unset}};
    QTest::newRow("unknown platform, display named") << EnvironmentChanges{
        {"QT_QPA_PLATFORM", "nonesuch"}, {"DISPLAY", display}, {"WAYLAND_DISPLAY", unset}};
    QTest::newRow("xcb without DISPLAY") << EnvironmentChanges{
        {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", unset}, {"WAYLAND_DISPLAY", unset}};
    QTest::newRow("Wayland socket that is not there")
        << EnvironmentChanges{{"WAYLAND_DISPLAY", "picsage-no-such-socket"},
                              {"DISPLAY", unset},
                              {"QT_QPA_PLATFORM", unset}};
    QTest::newRow("empty DISPLAY") << EnvironmentChanges{
        {"DISPLAY", ""}, {"QT_QPA_PLATFORM", unset}, {"WAYLAND_DISPLAY", unset}};
}

void TestLauncherUse::unreachableDisplay()
{
    QFETCH(EnvironmentChanges, changes);

    const QByteArray pathArg = "--pathname=" + QFile::encodeName(m_picture);
    const SpawnResult run = launch(m_tree, {pathArg, "--method=plainbackdrop_pc"}, changes);
    QVERIFY2(run.exited, qPrintable(QStringLiteral("signal %1").arg(run.signal)));
    QCOMPARE(run.code, 1);
    QVERIFY(record(m_tree, QStringLiteral("plainbackdrop_pc"))
                .value(QStringLiteral("msg"))
                .toString()
                .endsWith(QLatin1String("plainbackdrop_pc success")));
    // The token echo and nothing else: the trial start of the display printed nothing.
    QCOMPARE(run.output, "\"\"\n\"" + pathArg + "\"\n\"\"\n\"\"\n\"--method=plainbackdrop_pc\"\n");
}

void TestLauncherUse::fileNamesPassThrough_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("separate"); // "--pathname" "PATH" rather than "--pathname=PATH"

    QTest::newRow("Latin-1 letter") << QByteArray("caf\xe9.png") << false;
    QTest::newRow("bytes 0xff 0xfe 0x80 and blanks")
        << QByteArray("\xff\xfe photo \x80.png") << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb3\xbf.png") << false;
    QTest::newRow("double quotes") << QByteArray("say \"cheese\".png") << false;
    QTest::newRow("quote first and last") << QByteArray("\"quoted\"") << false;
    QTest::newRow("quote and 0xff, next argument") << QByteArray("\"\xff\" -a.png") << true;
    QTest::newRow("UTF-8 and a quote") << QByteArray("\xc3\xa9t\xc3\xa9 \"1\".png") << true;
}

void TestLauncherUse::fileNamesPassThrough()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, separate);

    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.path()) + '/' + name;
    QVERIFY(writeRaw(path, pngBytes(QSize(30, 20))));
    const QList<QByteArray> args =
        separate ? QList<QByteArray>{"--pathname", path, "--method=pic_category_pc"}
                 : QList<QByteArray>{"--pathname=" + path, "--method=pic_category_pc"};
    const SpawnResult run = launch(m_tree, args);
    // QTemporaryDir removes by text, which cannot name every such file.
    QCOMPARE(::unlink(path.constData()), 0);
    QVERIFY(run.exited);
    QCOMPARE(run.code, 4);
    QVERIFY(record(m_tree, QStringLiteral("pic_category_pc"))
                .value(QStringLiteral("msg"))
                .toString()
                .endsWith(QLatin1String("pic_category_pc success")));
    QCOMPARE(storedMethods(m_tree), QStringList{"pic_category_pc"});
    // The module was handed that very picture: the fixed module logs each one's size.
    QFile log(m_tree.libDir() + QStringLiteral("/model/pic_category_pc/c.tflite.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().trimmed().split('\n').last().startsWith("30 20 4 "));
}

void TestLauncherUse::hugePictureAtFullSize()
{
    // The category method keeps large pictures at full size. The decoded picture is all the
    // memory that may grow with it: converting it for the module must not hold a second copy.
    const QSize size(5000, 4000);
    const long pictureKiB = long(size.width()) * size.height() * 4 / 1024;
    StagedTree tree;
    installFixedModule(tree);
    const QString model = tree.libDir() + QStringLiteral("/model/pic_category_pc/c.tflite");
    const QString small = tree.path(QStringLiteral("small.jpg"));
    const QString huge = tree.path(QStringLiteral("huge.jpg"));
    // Made in a child process: a process's peak size passes on to the processes it starts,
    // so this one must not have held the picture.
    QVERIFY(inChildProcess([&] {
        QImage image(size, QImage::Format_RGB32);
        QPainter p(&image);
        QLinearGradient g(0, 0, size.width(), size.height());
        g.setColorAt(0, Qt::darkBlue);
        g.setColorAt(1, Qt::yellow);
        p.fillRect(image.rect(), g);
        p.end();
        return image.save(huge, "JPEG", 80) && image.copy(0, 0, 64, 48).save(small, "JPEG");
    }));

    const SpawnResult base =
        launch(tree, {"--pathname=" + QFile::encodeName(small), "--method=pic_category_pc"});
    const SpawnResult big =
        launch(tree, {"--pathname=" + QFile::encodeName(huge), "--method=pic_category_pc"});
    QVERIFY(base.exited && big.exited);
    QCOMPARE(base.code, 4);
    QCOMPARE(big.code, 4);
    // The module saw the picture at full size.
    QFile log(model + QStringLiteral(".log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("\n5000 4000 4 "));
    const long grown = big.peakKiB - base.peakKiB;
    QVERIFY2(grown < pictureKiB * 3 / 2,
             qPrintable(
                 QStringLiteral("grew by %1 KiB for a %2 KiB picture").arg(grown).arg(pictureKiB)));
}

QTEST_GUILESS_MAIN(TestLauncherUse)
#include "tst_launcher_use.moc"
