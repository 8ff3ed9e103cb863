#include "support/StagedTree.h"
#include "tool/CommandLineAnalysis.h"

#include <QImage>
#include <QtTest>

class TestCommandLineAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void pathRule_data();
    void pathRule();
    void parserNeverSeesThePath_data();
    void parserNeverSeesThePath();
    void exitCodes_data();
    void exitCodes();
};

void TestCommandLineAnalysis::pathRule_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("path");

    QTest::newRow("quoted, blanks and backslashes")
        << R"("--pathname=C:\a b\c.jpg" --method=pic_category_pc)"
        << R"(C:\a b\c.jpg)";
    QTest::newRow("equals sign in the name") << R"("--pathname=/p/x=y.jpg")"
                                             << "/p/x=y.jpg";
    QTest::newRow("launcher style")
        << R"("--method=a" "--pathname=/home/u/My Pictures/é 名.jpg" "--auto")"
        << "/home/u/My Pictures/é 名.jpg";
    QTest::newRow("first piece wins") << R"("--pathname=/a" "--pathname=/b")"
                                      << "/a";
    QTest::newRow("value in the next quoted piece") << R"("--pathname" "/a -b")"
                                                    << "/a -b";
    QTest::newRow("no equals sign, nothing after") << R"("--method=x" "--pathname")"
                                                   << "";
    QTest::newRow("no equals sign, unquoted after") << R"("--pathname" /a)"
                                                    << "";
    QTest::newRow("not at a piece start") << R"(x--pathname=/a)"
                                          << "";
    QTest::newRow("unquoted first piece") << R"(--pathname=/a b --method=x)"
                                          << "/a b --method=x";
    QTest::newRow("none") << R"(--method=x)"
                          << "";
}

void TestCommandLineAnalysis::pathRule()
{
    QFETCH(QString, line);
    QFETCH(QString, path);
    QCOMPARE(pathFromCommandLine(line), path);
}

void TestCommandLineAnalysis::parserNeverSeesThePath_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("rest");

    QTest::newRow("equals form") << R"("--pathname=/a -b" "--method=x")"
                                 << R"("" "--method=x")";
    QTest::newRow("value in the next piece") << R"("--method=x" "--pathname" "/a -b" "-a")"
                                             << R"("--method=x" "" "" "-a")";
    QTest::newRow("only the first path") << R"("--pathname=/a" "--pathname=/b")"
                                         << R"("" "--pathname=/b")";
    QTest::newRow("no value: left to the parser") << R"("--method=x" "--pathname")"
                                                  << R"("--method=x" "--pathname")";
    QTest::newRow("no path") << R"(--method=x)"
                             << R"(--method=x)";
}

void TestCommandLineAnalysis::parserNeverSeesThePath()
{
    QFETCH(QString, line);
    QFETCH(QString, rest);
    QCOMPARE(splitPathFromCommandLine(line).rest, rest);
}

void TestCommandLineAnalysis::exitCodes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("echo");
    QTest::addColumn<int>("runs");

    // PIC stands for the quoted picture argument.
    QTest::newRow("analysed") << "PIC --method=pic_category_pc" << 7
                              << QStringList{"", "--pathname=PATH", "--method=pic_category_pc"}
                              << 1;
    QTest::newRow("method first is the program name")
        << "--method=pic_category_pc PIC" << -1 << QStringList{"--method=pic_category_pc"} << 0;
    QTest::newRow("no valid method") << "PIC --method=foo,bar" << -1 << QStringList() << 0;
    QTest::newRow("repeated method runs twice")
        << "PIC --method=pic_category_pc,pic_category_pc" << 7 << QStringList() << 2;
    QTest::newRow("missing picture")
        << R"("--pathname=/nonexistent.png" --method=pic_category_pc)" << -2 << QStringList() << 0;
    QTest::newRow("no picture") << " --method=pic_category_pc" << -2 << QStringList() << 0;
    QTest::newRow("check, then no picture")
        << R"("--method=pic_category_pc" "--checkmodel")" << -2 << QStringList() << 0;
    QTest::newRow("check, then the picture")
        << R"(PIC "--method=pic_category_pc" "--checkmodel")" << 7 << QStringList() << 1;
    QTest::newRow("failed check stops")
        << R"(PIC "--method=docsorter_pc" "--checkmodel")" << -1 << QStringList() << 0;
    QTest::newRow("unknown option")
        << "PIC --method=pic_category_pc --fast" << -1 << QStringList() << 0;
    QTest::newRow("trailing backslash prints nothing")
        << "PIC --method=pic_category_pc \\" << -1 << QStringList{"<nothing>"} << 0;
    QTest::newRow("short auto") << "PIC --method=pic_category_pc -a" << 7 << QStringList() << 1;
}

void TestCommandLineAnalysis::exitCodes()
{
    QFETCH(QString, line);
    QFETCH(int, code);
    QFETCH(QStringList, echo);
    QFETCH(int, runs);

    StagedTree tree;
    tree.installModule(QStringLiteral(TESTMODULE_DIR "/testmodule_fixed.so"));
    const QString model =
        tree.addModelFile(QStringLiteral("pic_category_pc"), QStringLiteral("m.tflite"), "7 0.5");
    // Blanks, an equals sign and non-ASCII letters in the picture's name.
    const QString picture = tree.path(QStringLiteral("My Pictures/a=b é 名.png"));
    QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QVERIFY(image.save(picture, "PNG"));

    line.replace(QLatin1String("PIC"), QStringLiteral("\"--pathname=%1\"").arg(picture));
    QByteArray out;
    QCOMPARE(tree.probe({QStringLiteral("cmd"), line}, &out), code);

    QStringList printed = QString::fromUtf8(out).split(QLatin1Char('\n'));
    printed.removeAll(QStringLiteral("code %1").arg(code));
    printed.removeAll(QString());
    if (echo == QStringList{"<nothing>"}) {
        QVERIFY2(printed.isEmpty(), qPrintable(printed.join('|')));
    } else if (!echo.isEmpty()) {
        // The picture's path holds a blank, so it prints as two tokens.
        QStringList expected;
        for (const QString &token : echo)
            expected << QLatin1Char('"') +
                            QString(token).replace(QLatin1String("PATH"),
                                                   picture.section(' ', 0, 0)) +
                            QLatin1Char('"');
        for (const QString &token : expected)
            QVERIFY2(printed.contains(token), qPrintable(token + " in " + printed.join('|')));
    }

    QFile log(model + QStringLiteral(".log"));
    const int calls = log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : 0;
    QCOMPARE(calls, runs);
}

QTEST_GUILESS_MAIN(TestCommandLineAnalysis)
#include "tst_commandlineanalysis.moc"
