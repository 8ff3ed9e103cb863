#include "support/StagedTree.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// The command-line tool as its callers start it: the picsage launcher next to the library,
// in a staged tree with a recognition module, its models and a settings store of its own.
class TestLauncher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void run_data();
    void run();
    void tokenEcho();
    void runsWithoutDisplay();

private:
    StagedTree m_tree;
    QString m_launcher;
    QString m_picture;
};

void TestLauncher::initTestCase()
{
    m_launcher = m_tree.installLauncher();
    m_tree.installModule(QStringLiteral(TESTMODULE_DIR "/testmodule_fixed.so"));
    m_tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("c.tflite"), "4 0.8");
    m_tree.addModelFile(QStringLiteral("docsorter_pc"), QStringLiteral("d.tflite"), "2 0.5");
    m_tree.addModelFile(QStringLiteral("plainbackdrop_pc"), QStringLiteral("p.tflite"), "1 0.25");
    m_picture = m_tree.path(QStringLiteral("Mes images/été 照片 a=b\\c.png"));
    QVERIFY(QDir().mkpath(QFileInfo(m_picture).path()));
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(m_picture, "PNG"));
}

void TestLauncher::run_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("stored");

    // PIC stands for "--pathname=<the picture>".
    QTest::newRow("analysis with follow-up")
        << QStringList{"PIC", "--method=pic_category_pc,plainbackdrop_pc", "--auto"} << 1
        << QStringList{"pic_category_pc", "plainbackdrop_pc", "docsorter_pc"};
    QTest::newRow("method before the path")
        << QStringList{"--method=pic_category_pc", "PIC"} << 4 << QStringList{"pic_category_pc"};
    QTest::newRow("short auto") << QStringList{"PIC", "--method=pic_category_pc", "-a"} << 2
                                << QStringList{"pic_category_pc", "docsorter_pc"};
    QTest::newRow("repeated and unknown methods")
        << QStringList{"PIC", "--method=nope,pic_category_pc,,pic_category_pc"} << 4
        << QStringList{"pic_category_pc"};
    QTest::newRow("only unknown methods")
        << QStringList{"PIC", "--method=nope"} << -1 << QStringList();
    QTest::newRow("no method") << QStringList{"PIC"} << -1 << QStringList();
    QTest::newRow("unknown option")
        << QStringList{"PIC", "--method=pic_category_pc", "--fast"} << -1 << QStringList();
    QTest::newRow("no picture") << QStringList{"--method=pic_category_pc"} << -2 << QStringList();
    QTest::newRow("missing picture")
        << QStringList{"--pathname=/no/such/picture.png", "--method=pic_category_pc"} << -2
        << QStringList();
    QTest::newRow("check without picture")
        << QStringList{"--method=pic_category_pc,tone_filter_pc", "--checkmodel"} << -2
        << QStringList{"pic_category_pc", "tone_filter_pc"};
    QTest::newRow("check, then analysis")
        << QStringList{"PIC", "--method=plainbackdrop_pc", "--checkmodel"} << 1
        << QStringList{"plainbackdrop_pc"};
    QTest::newRow("failed check") << QStringList{"PIC", "--method=cornerseek_pc", "--checkmodel"}
                                  << -1 << QStringList{"cornerseek_pc"};
}

void TestLauncher::run()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QStringList, stored);

    QFile::remove(m_tree.configDir() + QStringLiteral("/ormelo/office.conf"));
    args.replaceInStrings(QStringLiteral("PIC"), QStringLiteral("--pathname=") + m_picture);
    QCOMPARE(m_tree.run(m_launcher, args), code);

    QStringList found;
    for (const char *m : {"cornerseek_pc", "tiltsense_pc", "pic_category_pc", "tone_filter_pc",
                          "plainbackdrop_pc", "docsorter_pc"}) {
        const QString json = m_tree.stored(QLatin1String(m));
        if (json.isEmpty()) continue;
        found << QLatin1String(m);
        QJsonParseError error;
        QJsonDocument::fromJson(json.toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
    }
    QCOMPARE(found, stored);
    if (stored.contains(QStringLiteral("docsorter_pc"))) {
        const QJsonObject r =
            QJsonDocument::fromJson(m_tree.stored(QStringLiteral("docsorter_pc")).toUtf8())
                .object();
        QCOMPARE(r.value(QStringLiteral("ret")).toInt(), 2);
        QCOMPARE(r.value(QStringLiteral("confidence")).toDouble(), 0.5);
    }
}

void TestLauncher::tokenEcho()
{
    QByteArray out;
    QCOMPARE(m_tree.run(m_launcher,
                        {QStringLiteral("--pathname=/x y/a\\b.png"),
                         QStringLiteral("--method=pic_category_pc")},
                        &out),
             -2);
    // Every argument arrives quoted; the quotes became blanks, the backslash escaped "b".
    QCOMPARE(out, QByteArray("\"\"\n\"--pathname=/x\"\n\"y/ab.png\"\n\"\"\n\"\"\n"
                             "\"--method=pic_category_pc\"\n"));
}

void TestLauncher::runsWithoutDisplay()
{
    QFile::remove(m_tree.configDir() + QStringLiteral("/ormelo/office.conf"));
    QCOMPARE(m_tree.run(m_launcher,
                        {QStringLiteral("--pathname=") + m_picture,
                         QStringLiteral("--method=plainbackdrop_pc")},
                        nullptr, false),
             1);
    QVERIFY(m_tree.stored(QStringLiteral("plainbackdrop_pc")).contains(QLatin1String("success")));
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
