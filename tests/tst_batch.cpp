#include "support/StagedTree.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString Category = QStringLiteral("pic_category_pc");
const QString Backdrop = QStringLiteral("plainbackdrop_pc");

struct Run
{
    int code = 1000;
    QByteArray output;
};

// A staged tree with picsage-analyse beside the launcher and a recognition module.
class BatchTree : public StagedTree
{
public:
    explicit BatchTree(const QString &module)
    {
        installLauncher();
        QFile::copy(QStringLiteral(ANALYSE_PATH), analyse());
        if (module == QLatin1String("lensmind")) {
            installModule(QStringLiteral(LENSMIND_PATH));
            installModels(QStringLiteral(LENSMIND_MODELS));
        } else {
            installModule(QStringLiteral(TESTMODULE_DIR "/testmodule_") + module +
                          QStringLiteral(".so"));
            addModelFile(Category, QStringLiteral("c.tflite"), "1 0.5");
        }
    }

    QString analyse() const { return libDir() + QStringLiteral("/picsage-analyse"); }
    QString settingsFile() const { return configDir() + QStringLiteral("/ormelo/office.conf"); }

    Run exec(const QString &program, const QStringList &args, const QByteArray &input = {}) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
        process.write(input);
        process.closeWriteChannel();
        Run run;
        if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.code = qint8(process.exitCode());
        run.output = process.readAllStandardOutput();
        return run;
    }
    Run batch(const QStringList &args, const QByteArray &input = {}) const
    {
        return exec(analyse(), args, input);
    }

    // A picture of `width` x 10 in the tree's picture folder.
    QString picture(int width, const QString &name = QString()) const
    {
        QDir().mkpath(path(QStringLiteral("pictures")));
        const QString file = path(QStringLiteral("pictures/") +
                                  (name.isEmpty() ? QStringLiteral("w%1.png").arg(width) : name));
        QImage image(width, 10, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(file, "PNG");
        return file;
    }
};

QList<QJsonObject> linesOf(const QByteArray &output)
{
    QList<QJsonObject> lines;
    for (const QByteArray &line : output.split('\n'))
        if (!line.isEmpty()) lines << QJsonDocument::fromJson(line).object();
    return lines;
}

// Path -> how many lines name it.
QMap<QString, int> pathCounts(const QByteArray &output)
{
    QMap<QString, int> counts;
    for (const QJsonObject &line : linesOf(output))
        ++counts[line.value(QStringLiteral("path")).toString()];
    return counts;
}

QByteArray withoutTimeOfDay(QByteArray text)
{
    return QString::fromUtf8(text)
        .remove(QRegularExpression(QStringLiteral("\\d\\d:\\d\\d:\\d\\d ")))
        .toUtf8();
}
} // namespace

class TestBatch : public QObject
{
    Q_OBJECT
private slots:
    void linesAreTheToolsRecords();
    void resumeSkipsWhatIsDone();
    void lostAndStuckWorkers();
    void shardsCoverEveryPathOnce();
    void standardInputKeepsBytes();
    void parallel_data();
    void parallel();
    void refusals_data();
    void refusals();
};

void TestBatch::linesAreTheToolsRecords()
{
    BatchTree tree(QStringLiteral("lensmind"));
    const QString junk = tree.path(QStringLiteral("junk.jpg"));
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(300, '\x5a'));
    f.close();
    const QStringList pictures{QStringLiteral(SAMPLES_DIR "/illustration.jpg"),
                               QStringLiteral(SAMPLES_DIR "/document.png"), tree.picture(64), junk,
                               tree.path(QStringLiteral("missing.jpg"))};
    const QString methods = QStringLiteral("--method=") + Category + ',' + Backdrop;
    const Run run = tree.batch(
        QStringList{methods, QStringLiteral("--auto"), QStringLiteral("--jobs=2")} + pictures);
    QCOMPARE(run.code, 2); // junk and the missing file
    QVERIFY2(!QFile::exists(tree.settingsFile()), "a batch run touched the settings store");

    int compared = 0;
    const QList<QByteArray> lines = run.output.split('\n');
    for (const QString &picture : pictures) {
        QFile::remove(tree.settingsFile());
        const Run tool =
            tree.exec(tree.libDir() + QStringLiteral("/picsage"),
                      {QStringLiteral("--pathname=") + picture, methods, QStringLiteral("--auto")});
        for (const QByteArray &line : lines) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.value(QStringLiteral("path")).toString() != picture) continue;
            const QString method = object.value(QStringLiteral("method")).toString();
            const QByteArray head =
                "{\"path\":" +
                QJsonDocument(QJsonArray{picture})
                    .toJson(QJsonDocument::Compact)
                    .mid(1)
                    .chopped(1) +
                ",\"method\":\"" + method.toUtf8() + "\",\"milliseconds\":" +
                QByteArray::number(object.value(QStringLiteral("milliseconds")).toInt()) + ',';
            QVERIFY2(line.startsWith(head), line.constData());
            if (tool.code == -2) {
                QCOMPARE(object.value(QStringLiteral("msg")).toString(),
                         QStringLiteral("file not found"));
                QCOMPARE(object.value(QStringLiteral("ret")).toInt(), -2);
            } else {
                QCOMPARE(withoutTimeOfDay('{' + line.mid(head.size())),
                         withoutTimeOfDay(tree.stored(method).toUtf8()));
            }
            ++compared;
        }
    }
    QVERIFY(compared >= pictures.size() + 2);
}

void TestBatch::resumeSkipsWhatIsDone()
{
    BatchTree tree(QStringLiteral("fixed"));
    for (int width = 20; width < 26; ++width)
        tree.picture(width);
    const QString folder = tree.path(QStringLiteral("pictures"));
    const QString output = tree.path(QStringLiteral("out.jsonl"));
    const QStringList args{QStringLiteral("--output"), output, folder};
    QCOMPARE(tree.batch(args).code, 0);
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> full = file.readAll().split('\n');
    file.close();
    QCOMPARE(full.size(), 7);

    // Two pictures done, the third cut off mid-line as a kill would leave it.
    const QByteArray kept = full.at(0) + '\n' + full.at(1) + '\n';
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(kept + full.at(2).left(30));
    file.close();
    QCOMPARE(tree.batch(args).code, 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray resumed = file.readAll();
    file.close();
    QVERIFY(resumed.startsWith(kept));
    QCOMPARE(resumed.count('\n'), 6);
    for (const int count : pathCounts(resumed))
        QCOMPARE(count, 1);
    QCOMPARE(pathCounts(resumed).size(), 6);

    // Nothing left: a third run adds nothing.
    QCOMPARE(tree.batch(args).code, 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), resumed);
}

void TestBatch::lostAndStuckWorkers()
{
    BatchTree tree(QStringLiteral("trouble"));
    QStringList pictures;
    for (const int width : {13, 17, 20, 21, 22})
        pictures << tree.picture(width);
    const Run run = tree.batch(
        QStringList{QStringLiteral("--jobs=2"), QStringLiteral("--timeout=2")} + pictures);
    QCOMPARE(run.code, 2);
    const QMap<QString, int> expectedRet{{pictures.at(0), -4},
                                         {pictures.at(1), -5},
                                         {pictures.at(2), 1},
                                         {pictures.at(3), 1},
                                         {pictures.at(4), 1}};
    const QMap<int, QString> expectedMsg{{-4, QStringLiteral("worker crashed")},
                                         {-5, QStringLiteral("timed out after 2 s")}};
    const QList<QJsonObject> lines = linesOf(run.output);
    QCOMPARE(lines.size(), pictures.size());
    for (const QJsonObject &line : lines) {
        const int ret = line.value(QStringLiteral("ret")).toInt();
        QCOMPARE(ret, expectedRet.value(line.value(QStringLiteral("path")).toString()));
        if (ret < 0) QCOMPARE(line.value(QStringLiteral("msg")).toString(), expectedMsg.value(ret));
    }
}

void TestBatch::shardsCoverEveryPathOnce()
{
    BatchTree tree(QStringLiteral("fixed"));
    QByteArray list;
    for (int i = 0; i < 40; ++i)
        list += "/nowhere/picture-" + QByteArray::number(i) + ".jpg\n";
    QMap<QString, int> counts;
    for (int k = 1; k <= 3; ++k) {
        const Run run = tree.batch(
            {QStringLiteral("--jobs=2"), QStringLiteral("--shard=%1/3").arg(k), "-"}, list);
        QCOMPARE(run.code, 2); // every one is missing
        const QMap<QString, int> shard = pathCounts(run.output);
        QVERIFY(shard.size() > 3);
        for (auto it = shard.cbegin(); it != shard.cend(); ++it)
            counts[it.key()] += it.value();
    }
    QCOMPARE(counts.size(), 40);
    for (const int count : counts)
        QCOMPARE(count, 1);
}

void TestBatch::standardInputKeepsBytes()
{
    BatchTree tree(QStringLiteral("fixed"));
    const QString source = tree.picture(30);
    const QByteArray name = QFile::encodeName(tree.path(QString())) + "/a b\xff.png";
    QVERIFY(::link(QFile::encodeName(source).constData(), name.constData()) == 0);
    const Run run = tree.batch({"-"}, name + '\n');
    // Qt's folder removal cannot name it.
    ::unlink(name.constData());
    QCOMPARE(run.code, 0);
    const QByteArray literal = name.chopped(5) + "\\udcff.png";
    QVERIFY2(run.output.startsWith("{\"path\":\"" + literal + "\",\"method\":\"" +
                                   Category.toUtf8() + '"'),
             run.output.constData());
    QCOMPARE(linesOf(run.output).value(0).value(QStringLiteral("ret")).toInt(), 1);
}

void TestBatch::parallel_data()
{
    QTest::addColumn<QStringList>("how");
    QTest::newRow("--pipe") << QStringList{QStringLiteral("--pipe"), QStringLiteral("-N3")};
    QTest::newRow("--sshlogin : (this machine)")
        << QStringList{QStringLiteral("--sshlogin"), QStringLiteral(":"), QStringLiteral("--pipe"),
                       QStringLiteral("-N3")};
}

void TestBatch::parallel()
{
    QFETCH(QStringList, how);
    if (QStringLiteral(PARALLEL_PROGRAM).isEmpty())
        QSKIP("GNU parallel is missing: scripts/install-deps installs it");
    BatchTree tree(QStringLiteral("fixed"));
    QByteArray list;
    for (int width = 20; width < 30; ++width)
        list += QFile::encodeName(tree.picture(width)) + '\n';
    const Run run = tree.exec(QStringLiteral(PARALLEL_PROGRAM),
                              QStringList{QStringLiteral("--will-cite")} + how +
                                  QStringList{tree.analyse(), QStringLiteral("-")},
                              list);
    QCOMPARE(run.code, 0);
    const QMap<QString, int> counts = pathCounts(run.output);
    QCOMPARE(counts.size(), 10);
    for (const int count : counts)
        QCOMPARE(count, 1);
}

void TestBatch::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    const QString p = QStringLiteral("/nowhere.jpg");
    QTest::newRow("nothing to analyse") << QStringList{} << 1;
    QTest::newRow("unknown method") << QStringList{"--method=pic_category", p} << 1;
    QTest::newRow("no jobs") << QStringList{"--jobs=0", p} << 1;
    QTest::newRow("shard past the count") << QStringList{"--shard=4/3", p} << 1;
    QTest::newRow("shard not K/N") << QStringList{"--shard", "2", p} << 1;
    QTest::newRow("unknown option") << QStringList{"--fast", p} << 1;
    QTest::newRow("output without a file") << QStringList{p, "--output"} << 1;
    QTest::newRow("output in no folder") << QStringList{"--output", "/nowhere/out.jsonl", p} << 3;
}

void TestBatch::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    static const BatchTree tree(QStringLiteral("fixed"));
    const Run run = tree.batch(args);
    QCOMPARE(run.code, code);
    QVERIFY(run.output.isEmpty());
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
