#include "support/CaptureStdout.h"
#include "tool/OptionParser.h"

#include <QtTest>

using cmdline::cmdline_error;
using cmdline::parser;

namespace {
// The analysis tool's four options.
void addToolOptions(parser &p)
{
    p.add_option<std::string>("method", 0, "Picture analyse method.", true, "");
    p.add_option<std::string>("pathname", 0, "Path to the picture", false, "");
    p.add_flag("auto", 'a', "Auto analysis according to picture type");
    p.add_flag("checkmodel", 0, "Just download the model of the given method");
}

QStringList toQt(const std::vector<std::string> &list)
{
    QStringList out;
    for (const std::string &s : list)
        out << QString::fromStdString(s);
    return out;
}
} // namespace

class TestOptionParser : public QObject
{
    Q_OBJECT
private slots:
    void parseLine_data();
    void parseLine();
    void shortBundles_data();
    void shortBundles();
    void definitionAndLookupErrors();
    void ambiguousShortCharacterStopsAtOnce();
    void secondParseKeepsValuesAndName();
    void emptyVector();
    void typedOptions();
};

void TestOptionParser::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("echo");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("autoGiven");
    QTest::addColumn<QStringList>("rest");

    QTest::newRow("method list") << "prog --method=a,b" << true << "\"prog\"\n\"--method=a,b\"\n"
                                 << QStringList() << "a,b" << false << QStringList();
    QTest::newRow("value missing")
        << "prog --method" << false << "\"prog\"\n\"--method\"\n"
        << QStringList{"option needs value: --method", "need option: --method"} << "" << false
        << QStringList();
    QTest::newRow("next token is the value")
        << "prog --method --auto" << true << "\"prog\"\n\"--method\"\n\"--auto\"\n"
        << QStringList() << "--auto" << false << QStringList();
    QTest::newRow("short flag") << "prog -a --method=x" << true
                                << "\"prog\"\n\"-a\"\n\"--method=x\"\n"
                                << QStringList() << "x" << true << QStringList();
    QTest::newRow("two blanks make an empty argument")
        << "prog  --auto --method=x" << true << "\"prog\"\n\"\"\n\"--auto\"\n\"--method=x\"\n"
        << QStringList() << "x" << true << QStringList{""};
    QTest::newRow("quoted blank") << "prog \"a b\" --method=x" << true
                                  << "\"prog\"\n\"a b\"\n\"--method=x\"\n"
                                  << QStringList() << "x" << false << QStringList{"a b"};
    QTest::newRow("trailing backslash")
        << "prog x\\" << false << ""
        << QStringList{"unexpected occurrence of '\\' at end of string"} << "" << false
        << QStringList();
    QTest::newRow("quote not closed")
        << "prog \"x --method=y" << false << "" << QStringList{"quote is not closed"} << "" << false
        << QStringList();
    QTest::newRow("first token is the program")
        << "--method=a" << false << "\"--method=a\"\n"
        << QStringList{"need option: --method"} << "" << false << QStringList();
    QTest::newRow("value for a flag")
        << "prog --auto=yes --method=x" << false << "\"prog\"\n\"--auto=yes\"\n\"--method=x\"\n"
        << QStringList{"option value is invalid: --auto=yes"} << "x" << false << QStringList();
    QTest::newRow("unknown long option")
        << "prog --nope --zap=1 --method=x" << false
        << "\"prog\"\n\"--nope\"\n\"--zap=1\"\n\"--method=x\"\n"
        << QStringList{"undefined option: --nope", "undefined option: --zap"} << "x" << false
        << QStringList();
    QTest::newRow("value keeps later equals signs")
        << "prog --method=a=b" << true << "\"prog\"\n\"--method=a=b\"\n"
        << QStringList() << "a=b" << false << QStringList();
    QTest::newRow("lone dash ignored")
        << "prog - --method=x" << true << "\"prog\"\n\"-\"\n\"--method=x\"\n"
        << QStringList() << "x" << false << QStringList();
    // The tool's own call shape: quotes became blanks, backslashes escape.
    QTest::newRow("quoted path first")
        << " --pathname=C:\\a b\\c.jpg  --method=pic_category_pc" << true
        << "\"\"\n\"--pathname=C:a\"\n\"bc.jpg\"\n\"\"\n\"--method=pic_category_pc\"\n"
        << QStringList() << "pic_category_pc" << false << QStringList{"bc.jpg", ""};
    QTest::newRow("tab is an ordinary character")
        << "prog\t--method=x" << false << "\"prog\t--method=x\"\n"
        << QStringList{"need option: --method"} << "" << false << QStringList();
}

void TestOptionParser::parseLine()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(QString, echo);
    QFETCH(QStringList, errors);
    QFETCH(QString, method);
    QFETCH(bool, autoGiven);
    QFETCH(QStringList, rest);

    parser p;
    addToolOptions(p);
    bool result;
    QByteArray printed;
    {
        CaptureStdout capture;
        result = p.parse_line(line.toStdString());
        printed = capture.text();
    }
    QCOMPARE(result, ok);
    QCOMPARE(QString::fromUtf8(printed), echo);
    QCOMPARE(toQt(p.errors()), errors);
    QCOMPARE(QString::fromStdString(p.value_of<std::string>("method")), method);
    QCOMPARE(p.is_present("auto"), autoGiven);
    QCOMPARE(toQt(p.rest()), rest);
}

void TestOptionParser::shortBundles_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("a");
    QTest::addColumn<bool>("v");
    QTest::addColumn<QString>("name");

    QTest::newRow("unknown in bundle")
        << QStringList{"-ab"} << QStringList{"undefined short option: -b"} << true << false << "";
    QTest::newRow("bundle of flags") << QStringList{"-av"} << QStringList() << true << true << "";
    QTest::newRow("last takes the next value")
        << QStringList{"-an", "joe"} << QStringList() << true << false << "joe";
    QTest::newRow("value option inside a bundle")
        << QStringList{"-na"} << QStringList{"option needs value: --name"} << true << false << "";
    QTest::newRow("value option last without next")
        << QStringList{"-n"} << QStringList{"option needs value: --name"} << false << false << "";
}

void TestOptionParser::shortBundles()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, errors);
    QFETCH(bool, a);
    QFETCH(bool, v);
    QFETCH(QString, name);

    parser p;
    p.add_flag("auto", 'a', "");
    p.add_flag("verbose", 'v', "");
    p.add_option<std::string>("name", 'n', "", false, "");
    std::vector<std::string> tokens{"prog"};
    for (const QString &arg : args)
        tokens.push_back(arg.toStdString());
    QCOMPARE(p.parse_tokens(tokens), errors.isEmpty());
    QCOMPARE(toQt(p.errors()), errors);
    QCOMPARE(p.is_present("auto"), a);
    QCOMPARE(p.is_present("verbose"), v);
    QCOMPARE(QString::fromStdString(p.value_of<std::string>("name")), name);
}

void TestOptionParser::definitionAndLookupErrors()
{
    parser p;
    addToolOptions(p);
    const auto message = [](auto &&call) {
        try {
            call();
        } catch (const cmdline_error &e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    };
    QCOMPARE(message([&] { p.add_flag("auto", 'x', ""); }),
             QStringLiteral("multiple definition: auto"));
    QCOMPARE(message([&] { p.add_option<std::string>("method", 0, "", false, ""); }),
             QStringLiteral("multiple definition: method"));
    QCOMPARE(message([&] { p.is_present("nothing"); }),
             QStringLiteral("there is no flag: --nothing"));
    QCOMPARE(message([&] { p.value_of<std::string>("nothing"); }),
             QStringLiteral("there is no flag: --nothing"));
    QCOMPARE(message([&] { p.value_of<std::string>("auto"); }),
             QStringLiteral("type mismatch flag 'auto'"));
    QCOMPARE(message([&] { p.value_of<int>("method"); }),
             QStringLiteral("type mismatch flag 'method'"));
}

void TestOptionParser::ambiguousShortCharacterStopsAtOnce()
{
    parser p;
    p.add_flag("alpha", 'x', "");
    p.add_flag("beta", 'x', "");
    p.add_flag("gamma", 'g', "");
    QVERIFY(!p.parse_tokens({"prog", "-g", "--nope"}));
    QCOMPARE(toQt(p.errors()), QStringList{"short option 'x' is ambiguous"});
    QVERIFY(!p.is_present("gamma"));
}

void TestOptionParser::secondParseKeepsValuesAndName()
{
    parser p;
    addToolOptions(p);
    QVERIFY(p.parse_tokens({"first", "--method=m", "-a", "loose"}));
    QVERIFY(p.parse_tokens({"second", "--nope"}) == false);
    QCOMPARE(toQt(p.errors()), QStringList{"undefined option: --nope"});
    QVERIFY(p.rest().empty());
    QCOMPARE(p.value_of<std::string>("method"), std::string("m"));
    QVERIFY(p.is_present("auto"));
    QCOMPARE(p.program_name(), std::string("first"));
}

void TestOptionParser::emptyVector()
{
    parser p;
    addToolOptions(p);
    QVERIFY(!p.parse_tokens({}));
    QCOMPARE(toQt(p.errors()), QStringList{"argument number must be longer than 0"});
}

void TestOptionParser::typedOptions()
{
    parser p;
    p.add_option<int>("count", 'c', "", false, 3);
    p.add_option<std::string>("name", 0, "", true, "x");
    QVERIFY(p.parse_tokens({"prog", "--count=12", "--name", "n"}));
    QCOMPARE(p.value_of<int>("count"), 12);
    QVERIFY(!p.parse_tokens({"prog", "--count=12z"}));
    QCOMPARE(toQt(p.errors()), QStringList{"option value is invalid: --count=12z"});
    QCOMPARE(p.value_of<int>("count"), 12); // a rejected value changes nothing
}

QTEST_GUILESS_MAIN(TestOptionParser)
#include "tst_optionparser.moc"
