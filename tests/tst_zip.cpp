#include "support/ZipBuilder.h"

#include "image/XMindPreview.h"
#include "image/ZipContainer.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray pngBytes(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage decode(const QByteArray &bytes)
{
    return QImage::fromData(bytes);
}

} // namespace

Q_DECLARE_METATYPE(ziptest::Entry)

class TestZip : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return QString();
        return path;
    }

private slots:
    void cleanName_data();
    void cleanName();
    void entries();
    void extract_data();
    void extract();
    void refusedContainers_data();
    void refusedContainers();
    void xmindPreview_data();
    void xmindPreview();
    void realXMind();
};

void TestZip::cleanName_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("plain") << "Thumbnails/thumbnail.png"
                           << "Thumbnails/thumbnail.png";
    QTest::newRow("climbing twice") << "../../x/thumbnail.png"
                                    << "x/thumbnail.png";
    QTest::newRow("drive and backslashes") << "C:\\tmp\\a.png"
                                           << "tmp\\a.png";
    QTest::newRow("drive without separator") << "c:../x"
                                             << "x";
    QTest::newRow("absolute") << "/etc/passwd"
                              << "etc/passwd";
    QTest::newRow("two leading separators") << "\\\\server\\share\\f"
                                            << "server\\share\\f";
    QTest::newRow("backslash climbing") << "..\\..\\a"
                                        << "a";
    QTest::newRow("climbing inside") << "a/b/../../../c"
                                     << "c";
    QTest::newRow("mixed separators") << "x/..\\y"
                                      << "y";
    QTest::newRow("only climbing") << ".."
                                   << "";
    QTest::newRow("dots in a name stay") << "a..b/c.png"
                                         << "a..b/c.png";
}

void TestZip::cleanName()
{
    QFETCH(QString, stored);
    QFETCH(QString, cleaned);
    QCOMPARE(ZipContainer::cleanName(stored), cleaned);
}

void TestZip::entries()
{
    const QString path = write(
        "entries.zip", ziptest::build({{"content.xml", "<a/>", false},
                                       {"../../x/thumbnail.png", "png"},
                                       {QByteArray("caf\xc3\xa9.txt"), "e", true, -1, -1, true},
                                       {QByteArray(300, 'n'), "long"}}));
    ZipContainer zip;
    QCOMPARE(zip.open(path), ZipOk);
    QVERIFY(zip.isOpen());
    QCOMPARE(zip.count(), 4);

    ZipEntry e;
    QCOMPARE(zip.entry(-1, &e), ZipOk);
    QCOMPARE(e.index, 4);
    QVERIFY(e.name.isEmpty());
    QCOMPARE(zip.entry(-2, &e), ZipArgs);
    QCOMPARE(zip.entry(4, &e), ZipArgs);

    QCOMPARE(zip.entry(0, &e), ZipOk);
    QCOMPARE(e.index, 0);
    QCOMPARE(e.name, QStringLiteral("content.xml"));
    QCOMPARE(e.compressedSize, 4u);
    QCOMPARE(e.uncompressedSize, 4u);
    QCOMPARE(e.attributes, 0x20u);
    QCOMPARE(e.modificationTime, QDateTime(QDate(2024, 3, 9), QTime(12, 0)));
    QCOMPARE(e.creationTime, e.modificationTime);
    QCOMPARE(zip.entry(1, &e), ZipOk);
    QCOMPARE(e.name, QStringLiteral("x/thumbnail.png"));
    QCOMPARE(zip.entry(2, &e), ZipOk);
    QCOMPARE(e.name, QString::fromUtf8("caf\xc3\xa9.txt"));
    QCOMPARE(zip.entry(3, &e), ZipOk);
    QCOMPARE(e.name.size(), ZipEntry::kMaxName - 1);
}

void TestZip::extract_data()
{
    QTest::addColumn<ziptest::Entry>("entry");
    QTest::addColumn<int>("bufferLength");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("written");

    const QByteArray text = QByteArray("picture bytes ").repeated(100);
    QTest::newRow("deflated") << ziptest::Entry{"a", text} << text.size() << int(ZipOk)
                              << text.size();
    QTest::newRow("stored") << ziptest::Entry{"a", text, false} << text.size() << int(ZipOk)
                            << text.size();
    QTest::newRow("buffer too short") << ziptest::Entry{"a", text} << 100 << int(ZipMore) << 100;
    QTest::newRow("empty entry") << ziptest::Entry{"a", QByteArray(), false} << 0 << int(ZipOk)
                                 << 0;
    QTest::newRow("entry claims 4 GB")
        << ziptest::Entry{"a", text, true, 0xffffffffLL} << text.size() << int(ZipTooLarge) << 0;
    QTest::newRow("stored entry claims more than it stores")
        << ziptest::Entry{"a", text, false, text.size() + 1} << text.size() + 1 << int(ZipTooLarge)
        << 0;
    QTest::newRow("entry claims less than it holds")
        << ziptest::Entry{"a", text, true, 10} << 10 << int(ZipCorrupt) << 10;
    QTest::newRow("wrong checksum") << ziptest::Entry{"a", text, true, -1, 1234} << text.size()
                                    << int(ZipCorrupt) << text.size();
}

void TestZip::extract()
{
    QFETCH(ziptest::Entry, entry);
    QFETCH(int, bufferLength);
    QFETCH(int, result);
    QFETCH(int, written);
    const QString path = write("extract.zip", ziptest::build({entry}));
    ZipContainer zip;
    QCOMPARE(zip.open(path), ZipOk);
    QByteArray buffer(bufferLength, '\0');
    quint64 stored = 99;
    QCOMPARE(int(zip.extract(0, buffer.data(), quint64(buffer.size()), &stored)), result);
    QCOMPARE(int(stored), written);
    if (result == ZipOk || result == ZipMore)
        QCOMPARE(buffer.left(written), entry.data.left(written));
    QCOMPARE(int(zip.extract(1, buffer.data(), 1)), int(ZipArgs));
    QCOMPARE(int(zip.extract(-1, buffer.data(), 1)), int(ZipArgs));

    ZipContainer closed;
    QCOMPARE(int(closed.extract(0, buffer.data(), 1)), int(ZipNotForReading));
}

void TestZip::refusedContainers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = ziptest::build({{"a.txt", "hello"}, {"b.txt", "world"}});
    const int directory = good.indexOf("PK\x01\x02");
    const int end = good.indexOf("PK\x05\x06");

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("not a zip") << QByteArray("just some text that is not a container");
    QTest::newRow("truncated before the directory") << good.left(directory + 10);
    QByteArray badSignature = good;
    badSignature[directory + 2] = 'X';
    QTest::newRow("directory record without signature") << badSignature;
    QByteArray offsetOut = good;
    offsetOut[end + 16] = char(0xf0);
    offsetOut[end + 19] = char(0x7f);
    QTest::newRow("directory offset beyond the file") << offsetOut;
    QByteArray moreEntries = good;
    moreEntries[end + 8] = char(0xff);
    moreEntries[end + 10] = char(0xff);
    QTest::newRow("entry count beyond the directory") << moreEntries;
    QByteArray nameOut = good;
    nameOut[directory + 28] = char(0xff);
    nameOut[directory + 29] = char(0xff);
    QTest::newRow("name length beyond the directory") << nameOut;
}

void TestZip::refusedContainers()
{
    QFETCH(QByteArray, bytes);
    const QString path = write("refused.zip", bytes);
    ZipContainer zip;
    QCOMPARE(zip.open(path), ZipOpenFailed);
    QVERIFY(!zip.isOpen());
    QCOMPARE(zip.count(), 0);
    ZipEntry e;
    QCOMPARE(zip.entry(0, &e), ZipArgs);
    QVERIFY(::xmindPreview(path).isEmpty());
}

void TestZip::xmindPreview_data()
{
    QTest::addColumn<QVector<ziptest::Entry>>("entries");
    QTest::addColumn<QSize>("preview");
    const QByteArray png = pngBytes(QSize(12, 7), qRgb(10, 200, 30));
    QTest::newRow("content and thumbnail")
        << QVector<ziptest::Entry>{{"content.xml", "<xmap/>"}, {"Thumbnails/thumbnail.png", png}}
        << QSize(12, 7);
    QTest::newRow("thumbnail stored")
        << QVector<ziptest::Entry>{{"thumbnail.png", png, false}} << QSize(12, 7);
    QTest::newRow("name is case-sensitive")
        << QVector<ziptest::Entry>{{"Thumbnails/Thumbnail.PNG", png}} << QSize(0, 0);
    QTest::newRow("no thumbnail") << QVector<ziptest::Entry>{{"content.xml", "<xmap/>"}}
                                  << QSize(0, 0);
    QTest::newRow("thumbnail claims 4 GB")
        << QVector<ziptest::Entry>{{"Thumbnails/thumbnail.png", png, true, 0xffffffffLL}}
        << QSize(0, 0);
    QTest::newRow("thumbnail with a wrong checksum")
        << QVector<ziptest::Entry>{{"Thumbnails/thumbnail.png", png, true, -1, 7}} << QSize(0, 0);
}

void TestZip::xmindPreview()
{
    QFETCH(QVector<ziptest::Entry>, entries);
    QFETCH(QSize, preview);
    const QString path = write("map.xmind", ziptest::build(entries));
    const QByteArray bytes = ::xmindPreview(path);
    QCOMPARE(decode(bytes).size(), preview);
}

void TestZip::realXMind()
{
    const QString path = QStringLiteral(PICSAGE_REALDATA "/xmind/xmind_zen.xmind");
    QVERIFY2(QFile::exists(path), qPrintable(path + " is missing"));
    ZipContainer zip;
    QCOMPARE(zip.open(path), ZipOk);
    QCOMPARE(zip.count(), 11);
    const QImage preview = decode(::xmindPreview(path));
    QCOMPARE(preview.size(), QSize(929, 576));
}

QTEST_GUILESS_MAIN(TestZip)
#include "tst_zip.moc"
