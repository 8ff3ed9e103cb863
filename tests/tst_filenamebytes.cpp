#include "platform/FileNameBytes.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// File names are bytes on Linux; text carries them without losing one.
class TestFileNameBytes : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void opensByTheExactBytes_data();
    void opensByTheExactBytes();
};

void TestFileNameBytes::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const QChar ff = platform::escapedByte(0xFF);
    QTest::newRow("ASCII") << QByteArray("/a/b c.png") << QStringLiteral("/a/b c.png");
    QTest::newRow("UTF-8") << QByteArray("/\xc3\xa9t\xc3\xa9/\xe7\x85\xa7.jpg")
                           << QStringLiteral("/été/照.jpg");
    QTest::newRow("emoji, a surrogate pair")
        << QByteArray("\xf0\x9f\x98\x80") << QString::fromUcs4(U"\U0001F600");
    QTest::newRow("lone 0xff") << QByteArray("a\xff") << QString(QStringLiteral("a") + ff);
    QTest::newRow("Latin-1 letter")
        << QByteArray("caf\xe9") << QString(QStringLiteral("caf") + platform::escapedByte(0xE9));
    QTest::newRow("cut UTF-8 sequence")
        << QByteArray("\xe7\x85")
        << QString(platform::escapedByte(0xE7)) + platform::escapedByte(0x85);
    QTest::newRow("overlong slash")
        << QByteArray("\xc0\xaf")
        << QString(platform::escapedByte(0xC0)) + platform::escapedByte(0xAF);
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xb3\xbf")
        << QString(platform::escapedByte(0xED)) + platform::escapedByte(0xB3) +
               platform::escapedByte(0xBF);
    QTest::newRow("pair, then an escape")
        << QByteArray("\xf0\x9f\x98\x80\xff") << QString::fromUcs4(U"\U0001F600") + ff;
}

void TestFileNameBytes::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QCOMPARE(platform::fileNameFromBytes(bytes), text);
    QCOMPARE(platform::fileNameToBytes(text), bytes);
}

void TestFileNameBytes::opensByTheExactBytes_data()
{
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("plain") << QByteArray("plain.txt");
    QTest::newRow("0xff 0xfe") << QByteArray("\xff\xfe.txt");
    QTest::newRow("quote") << QByteArray("say \"x\".txt");
    QTest::newRow("Latin-1 and UTF-8 mixed") << QByteArray("caf\xe9 caf\xc3\xa9.txt");
}

void TestFileNameBytes::opensByTheExactBytes()
{
    QFETCH(QByteArray, name);

    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.path()) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "content", 7), ssize_t(7));
    ::close(fd);

    QString text = platform::fileNameFromBytes(path);
    // The launcher carries a double quote of an argument escaped; the bytes are the same.
    text.replace(QLatin1Char('"'), platform::escapedByte('"'));
    QVERIFY(platform::fileExists(text));
    QFile file;
    QVERIFY(platform::openForReading(file, text));
    QCOMPARE(file.readAll(), QByteArray("content"));
    QVERIFY(!platform::fileExists(text + QLatin1Char('x')));
    QFile missing;
    QVERIFY(!platform::openForReading(missing, text + QLatin1Char('x')));
    QVERIFY(!platform::fileExists(QString()));
    // QTemporaryDir removes by text, which cannot name every such file.
    QCOMPARE(::unlink(path.constData()), 0);
}

QTEST_GUILESS_MAIN(TestFileNameBytes)
#include "tst_filenamebytes.moc"
