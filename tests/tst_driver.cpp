#include "support/StagedTree.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {
QString testModule(const char *variant)
{
    return QStringLiteral(TESTMODULE_DIR "/testmodule_%1.so").arg(QLatin1String(variant));
}

QJsonObject record(const StagedTree &tree, const QString &method)
{
    return QJsonDocument::fromJson(tree.stored(method).toUtf8()).object();
}

// Writes a picture into the tree and returns its path.
QString addPicture(const StagedTree &tree, const QString &name, const QSize &size,
                   QRgb colour = qRgb(250, 250, 250))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = tree.path(name);
    image.save(path);
    return path;
}

QStringList logLines(const QString &modelFile)
{
    QFile log(modelFile + QStringLiteral(".log"));
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestDriver : public QObject
{
    Q_OBJECT
private slots:
    void failures_data();
    void failures();
    void followUp_data();
    void followUp();
    void picturesHandedToTheModule_data();
    void picturesHandedToTheModule();
    void newestVersionIsUsed();
    void modelCheck_data();
    void modelCheck();
    void eightThreadsAreSerialised();
    void analyseImageThroughTheLibrary_data();
    void analyseImageThroughTheLibrary();
};

void TestDriver::failures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("picture"); // "png", "text", "zero" (a 0 x 0 header) or "missing"
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("msgEnd");

    const QString category = QStringLiteral("pic_category_pc");
    QTest::newRow("no module") << "none" << category << "png" << -1
                               << "pic_category_pc get obj error";
    QTest::newRow("module is not a library")
        << "text" << category << "png" << -1 << "pic_category_pc get obj error";
    QTest::newRow("version folder without module")
        << "emptyversion" << category << "png" << -1 << "pic_category_pc get obj error";
    QTest::newRow("no factory export")
        << "nofactory" << category << "png" << -1 << "pic_category_pc get obj error";
    QTest::newRow("factory gives null") << "nullfactory"
                                        << "docsorter_pc"
                                        << "png" << -1 << "docsorter_pc get obj error";
    QTest::newRow("module refuses the model") << "refuse"
                                              << "plainbackdrop_pc"
                                              << "png" << -1 << "plainbackdrop_pc load model error";
    QTest::newRow("model folder missing")
        << "fixed-nomodel" << category << "png" << -1 << "pic_category_pc load model error";
    QTest::newRow("model folder is a file")
        << "fixed-modelfile" << category << "png" << -1 << "pic_category_pc load model error";
    QTest::newRow("model files are links only")
        << "fixed-links" << category << "png" << -1 << "pic_category_pc load model error";
    // A picture that does not decode fails its method with -3, whichever the method.
    QTest::newRow("docsorter without picture") << "fixed"
                                               << "docsorter_pc"
                                               << "missing" << -3 << "docsorter_pc load img failed";
    QTest::newRow("category without picture")
        << "fixed" << category << "missing" << -3 << "pic_category_pc load img failed";
    QTest::newRow("backdrop without picture")
        << "fixed"
        << "plainbackdrop_pc"
        << "missing" << -3 << "plainbackdrop_pc load img failed";
    QTest::newRow("docsorter, not a picture") << "fixed"
                                              << "docsorter_pc"
                                              << "text" << -3 << "docsorter_pc load img failed";
    QTest::newRow("category, not a picture")
        << "fixed" << category << "text" << -3 << "pic_category_pc load img failed";
    QTest::newRow("docsorter, 0 x 0 picture") << "fixed"
                                              << "docsorter_pc"
                                              << "zero" << -3 << "docsorter_pc load img failed";
    QTest::newRow("category, 0 x 0 picture")
        << "fixed" << category << "zero" << -3 << "pic_category_pc load img failed";
}

void TestDriver::failures()
{
    QFETCH(QString, setup);
    QFETCH(QString, method);
    QFETCH(QString, picture);
    QFETCH(int, code);
    QFETCH(QString, msgEnd);

    StagedTree tree;
    if (setup == QLatin1String("text")) {
        QDir().mkpath(tree.moduleFolder(QStringLiteral("1.0")));
        QFile f(tree.moduleFolder(QStringLiteral("1.0")) + QStringLiteral("/lensmind.so"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho not a library\n");
    } else if (setup == QLatin1String("emptyversion")) {
        QVERIFY(QDir().mkpath(tree.moduleFolder(QStringLiteral("2.0"))));
    } else if (setup != QLatin1String("none")) {
        tree.installModule(testModule(
            setup.startsWith(QLatin1String("fixed")) ? "fixed" : setup.toLatin1().constData()));
    }
    if (setup == QLatin1String("fixed-modelfile")) {
        QDir().mkpath(tree.libDir() + QStringLiteral("/model"));
        QFile f(tree.libDir() + QStringLiteral("/model/") + method);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (setup == QLatin1String("fixed-links")) {
        const QString real = tree.path(QStringLiteral("real.tflite"));
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("6 0.5");
        f.close();
        const QString folder = tree.libDir() + QStringLiteral("/model/") + method;
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::link(real, folder + QStringLiteral("/m.tflite")));
    } else if (setup != QLatin1String("fixed-nomodel")) {
        tree.addModelFile(method, QStringLiteral("m.tflite"), "6 0.5");
        tree.addModelFile(method, QStringLiteral("labels.txt"), "0 x\n");
    }
    QString path = tree.path(QStringLiteral("missing.png"));
    if (picture == QLatin1String("png")) {
        path = addPicture(tree, QStringLiteral("p.png"), QSize(40, 30));
    } else if (picture != QLatin1String("missing")) {
        path = tree.path(QStringLiteral("p.jpg"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(picture == QLatin1String("zero") ? "P6\n0 0\n255\n" : "not a picture at all\n");
    }

    QCOMPARE(tree.probe({QStringLiteral("run"), path, method, QStringLiteral("0")}), code);
    const QJsonObject r = record(tree, method);
    QVERIFY2(r.value(QStringLiteral("msg")).toString().endsWith(msgEnd),
             qPrintable(tree.stored(method)));
    QVERIFY(QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d )"))
                .match(r.value(QStringLiteral("msg")).toString())
                .hasMatch());
    QCOMPARE(r.value(QStringLiteral("ret")).toInt(), code);
    QCOMPARE(r.value(QStringLiteral("confidence")).toDouble(), code < 0 ? -9.0 : 0.5);
}

void TestDriver::followUp_data()
{
    QTest::addColumn<QString>("methods");
    QTest::addColumn<bool>("autoOn");
    QTest::addColumn<QString>("categoryModel");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("storedMethods");

    const QStringList categoryAndSorter{"pic_category_pc", "docsorter_pc"};
    QTest::newRow("document category 4 follows up")
        << "pic_category_pc" << true << "4 0.8" << 2 << categoryAndSorter;
    QTest::newRow("category 5 does not")
        << "pic_category_pc" << true << "5 0.8" << 5 << QStringList{"pic_category_pc"};
    QTest::newRow("auto off") << "pic_category_pc" << false << "4 0.8" << 4
                              << QStringList{"pic_category_pc"};
    QTest::newRow("failed category stops the list")
        << "pic_category_pc,plainbackdrop_pc" << true << "broken" << -1
        << QStringList{"pic_category_pc"};
    QTest::newRow("negative code stops the list")
        << "pic_category_pc,plainbackdrop_pc" << true << "-3 0.1" << -3
        << QStringList{"pic_category_pc"};
    QTest::newRow("list goes on after the follow-up")
        << "pic_category_pc,plainbackdrop_pc" << true << "15 0.3" << 1
        << QStringList{"pic_category_pc", "docsorter_pc", "plainbackdrop_pc"};
    QTest::newRow("idle methods leave the record")
        << "cornerseek_pc,tone_filter_pc" << true << "4 0.8" << 0
        << QStringList{"cornerseek_pc", "tone_filter_pc"};
    QTest::newRow("nothing valid") << "foo,bar" << true << "4 0.8" << -1 << QStringList();
}

void TestDriver::followUp()
{
    QFETCH(QString, methods);
    QFETCH(bool, autoOn);
    QFETCH(QString, categoryModel);
    QFETCH(int, code);
    QFETCH(QStringList, storedMethods);

    StagedTree tree;
    tree.installModule(testModule("fixed"));
    tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("c.tflite"),
                      categoryModel.toLatin1());
    tree.addModelFile(QStringLiteral("docsorter_pc"), QStringLiteral("d.tflite"), "2 0.25");
    tree.addModelFile(QStringLiteral("docsorter_pc"), QStringLiteral("d.txt"), "0 x\n");
    tree.addModelFile(QStringLiteral("plainbackdrop_pc"), QStringLiteral("p.tflite"), "1 0.75");
    const QString picture = addPicture(tree, QStringLiteral("doc.png"), QSize(60, 80));

    QCOMPARE(tree.probe({QStringLiteral("run"), picture, methods,
                         autoOn ? QStringLiteral("1") : QStringLiteral("0")}),
             code);
    QStringList stored;
    for (const char *m :
         {"cornerseek_pc", "pic_category_pc", "tone_filter_pc", "docsorter_pc", "plainbackdrop_pc"})
        if (!tree.stored(QLatin1String(m)).isEmpty()) stored << QLatin1String(m);
    std::sort(storedMethods.begin(), storedMethods.end());
    std::sort(stored.begin(), stored.end());
    QCOMPARE(stored, storedMethods);
    if (storedMethods.contains(QStringLiteral("docsorter_pc"))) {
        const QJsonObject r = record(tree, QStringLiteral("docsorter_pc"));
        QCOMPARE(r.value(QStringLiteral("ret")).toInt(), 2);
        QVERIFY(r.value(QStringLiteral("msg"))
                    .toString()
                    .endsWith(QLatin1String("docsorter_pc success")));
    }
    if (storedMethods.contains(QStringLiteral("cornerseek_pc")))
        QCOMPARE(tree.stored(QStringLiteral("cornerseek_pc")),
                 QStringLiteral(R"({"confidence":-9,"msg":"nothing to do.","ret":-1})"));
}

void TestDriver::picturesHandedToTheModule_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("logged");

    // width height bytes-per-pixel overlap first-pixel: bytes B G R A read as a
    // little-endian word, 0xAARRGGBB of the colour 200, 30, 60
    QTest::newRow("category, large picture scaled")
        << "pic_category_pc" << QSize(12000, 3000) << "320 80 4 0 ffc81e3c";
    QTest::newRow("category, full size")
        << "pic_category_pc" << QSize(4000, 3000) << "4000 3000 4 0 ffc81e3c";
    QTest::newRow("docsorter, scaled up")
        << "docsorter_pc" << QSize(100, 50) << "512 256 4 0 ffc81e3c";
    QTest::newRow("backdrop, scaled")
        << "plainbackdrop_pc" << QSize(300, 900) << "106 320 4 0 ffc81e3c";
}

void TestDriver::picturesHandedToTheModule()
{
    QFETCH(QString, method);
    QFETCH(QSize, size);
    QFETCH(QString, logged);

    StagedTree tree;
    tree.installModule(testModule("fixed"));
    const QString model = tree.addModelFile(method, QStringLiteral("m.tflite"), "1 0.5");
    const QString picture = addPicture(tree, QStringLiteral("p.png"), size, qRgb(200, 30, 60));
    QCOMPARE(tree.probe({QStringLiteral("run"), picture, method, QStringLiteral("0")}), 1);
    QCOMPARE(logLines(model), QStringList{logged});
}

void TestDriver::newestVersionIsUsed()
{
    StagedTree tree;
    tree.installModule(testModule("refuse"), QStringLiteral("1.9"));
    tree.installModule(testModule("fixed"), QStringLiteral("1.10"));
    tree.installModule(testModule("nofactory"), QStringLiteral("1.2"));
    tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("m.tflite"), "9 0.5");
    const QString picture = addPicture(tree, QStringLiteral("p.png"), QSize(10, 10));
    QCOMPARE(tree.probe({QStringLiteral("run"), picture, QStringLiteral("pic_category_pc"),
                         QStringLiteral("0")}),
             9);
}

void TestDriver::modelCheck_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("methods");
    QTest::addColumn<bool>("withModel");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("msgEnd");

    QTest::newRow("module accepts") << "fixed"
                                    << "pic_category_pc" << true << 0 << "nothing to do.";
    QTest::newRow("tone filter needs nothing")
        << "none"
        << "tone_filter_pc" << false << 0 << "nothing to do.";
    QTest::newRow("refused, but the model exists")
        << "refuse"
        << "plainbackdrop_pc" << true << 0 << "plainbackdrop_pc load model error";
    QTest::newRow("no library, no model")
        << "none"
        << "pic_category_pc" << false << -1 << "pic_category_pc get obj error";
    QTest::newRow("no library, model exists")
        << "none"
        << "docsorter_pc" << true << 0 << "docsorter_pc get obj error";
    QTest::newRow("cornerseek looks at the file only")
        << "none"
        << "cornerseek_pc" << true << 0 << "nothing to do.";
    QTest::newRow("cornerseek without a file")
        << "none"
        << "cornerseek_pc" << false << -1 << "model file path is not exists.";
}

void TestDriver::modelCheck()
{
    QFETCH(QString, module);
    QFETCH(QString, methods);
    QFETCH(bool, withModel);
    QFETCH(int, code);
    QFETCH(QString, msgEnd);

    StagedTree tree;
    if (module != QLatin1String("none"))
        tree.installModule(testModule(module.toLatin1().constData()));
    if (withModel) tree.addModelFile(methods, QStringLiteral("net.TFLITE"), "3 0.5");
    QCOMPARE(tree.probe({QStringLiteral("cmd"),
                         QStringLiteral("\"--method=%1\" \"--checkmodel\"").arg(methods)}),
             code < 0 ? -1 : -2); // without a picture a passed check ends in -2
    const QJsonObject r = record(tree, methods);
    QVERIFY2(r.value(QStringLiteral("msg")).toString().endsWith(msgEnd),
             qPrintable(tree.stored(methods)));
    // A check never touches the code and confidence.
    QCOMPARE(r.value(QStringLiteral("ret")).toInt(), -1);
    QCOMPARE(r.value(QStringLiteral("confidence")).toDouble(), -9.0);
}

void TestDriver::eightThreadsAreSerialised()
{
    StagedTree tree;
    tree.installModule(testModule("fixed"));
    const QString category =
        tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("m.tflite"), "12 0.5");
    const QString backdrop =
        tree.addModelFile(QStringLiteral("plainbackdrop_pc"), QStringLiteral("m.tflite"), "1 0.5");
    const QString picture = addPicture(tree, QStringLiteral("p.png"), QSize(64, 48));
    QByteArray out;
    QCOMPARE(tree.probe({QStringLiteral("threads"), QStringLiteral("8"), picture,
                         QStringLiteral("pic_category_pc,plainbackdrop_pc")},
                        &out),
             0);
    QCOMPARE(out.count("\n1\n") + out.startsWith("1\n"), 8);
    const QStringList calls = logLines(category) + logLines(backdrop);
    QCOMPARE(calls.size(), 16);
    for (const QString &line : calls)
        QVERIFY2(line.split(QLatin1Char(' ')).value(3) == QLatin1String("0"), "calls overlapped");
    QVERIFY(tree.stored(QStringLiteral("plainbackdrop_pc")).contains(QLatin1String("\"ret\":1")));
}

void TestDriver::analyseImageThroughTheLibrary_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<bool>("followed");
    QTest::addColumn<QString>("threads");

    QTest::newRow("auto") << "1" << true << "0";
    QTest::newRow("only the low byte counts") << "0x100" << false << "0";
    QTest::newRow("low byte set") << "0x7701" << true << "0";
    QTest::newRow("six threads at once") << "1" << true << "6";
}

void TestDriver::analyseImageThroughTheLibrary()
{
    QFETCH(QString, flag);
    QFETCH(bool, followed);
    QFETCH(QString, threads);

    // The real shared library, found by its own folder: module and models are found from it.
    StagedTree tree;
    tree.installLibrary();
    tree.installModule(testModule("fixed"));
    const QString category =
        tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("m.tflite"), "0 0.9");
    tree.addModelFile(QStringLiteral("docsorter_pc"), QStringLiteral("m.tflite"), "3 0.6");
    const QString picture = addPicture(tree, QStringLiteral("名前 é.png"), QSize(30, 40));
    QCOMPARE(tree.probe({QStringLiteral("dl"), tree.libDir() + QStringLiteral("/libpicsage.so"),
                         picture, QStringLiteral("pic_category_pc"), flag, threads}),
             followed ? 3 : 0);
    QCOMPARE(tree.stored(QStringLiteral("docsorter_pc")).isEmpty(), !followed);
    const QStringList calls = logLines(category);
    QCOMPARE(calls.size(), qMax(1, threads.toInt()));
    for (const QString &line : calls)
        QVERIFY2(line.split(QLatin1Char(' ')).value(3) == QLatin1String("0"), "calls overlapped");
}

QTEST_GUILESS_MAIN(TestDriver)
#include "tst_driver.moc"
