#include "formats/ImageFormats.h"

#include <QtTest>

class TestFormats : public QObject
{
    Q_OBJECT
private slots:
    void suffixLookup_data();
    void suffixLookup();
    void idLookup_data();
    void idLookup();
    void nameFilters();
    void everyRowRoundTrips();
    void predicates();
    void translatedCatalogue();
};

void TestFormats::suffixLookup_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("description");

    QTest::newRow("empty") << "" << -1 << 0 << "";
    QTest::newRow("unknown") << "docx" << -1 << 0 << "";
    QTest::newRow("leading dot") << ".jpg" << -1 << 0 << "";
    QTest::newRow("upper TIFF") << "TIFF" << 9 << 0x01 << "Tag Image File Format";
    QTest::newRow("mixed Jpg") << "JpG" << 1 << 0x1D << "JPEG File Interchange Format";
    QTest::newRow("jfif") << "jfif" << 5 << 0x1D << "JPEG File Interchange Format";
    QTest::newRow("bmp") << "bmp" << 0 << 0x11 << "Bitmap";
    QTest::newRow("png") << "png" << 6 << 0x11 << "Portable Network Graphics";
    QTest::newRow("gif") << "gif" << 7 << 0x12 << "Graphics Interchange Format";
    QTest::newRow("webp") << "webp" << 31 << 0x02 << "WEBP";
    QTest::newRow("xpm") << "xpm" << 17 << 0x01 << "X11 Pixmap";
    QTest::newRow("psd") << "psd" << 11 << 0 << "PhotoShop Document";
    QTest::newRow("psb") << "psb" << 12 << 0 << "PhotoShop Big file";
    QTest::newRow("wap") << "wap" << 42 << 0 << "WBMP";
    QTest::newRow("wbmp") << "wbmp" << 41 << 0 << "WBMP";
    QTest::newRow("rw2") << "rw2" << 30 << 0 << "RAW";
    QTest::newRow("ai") << "ai" << 45 << 0 << "AI";
}

void TestFormats::suffixLookup()
{
    QFETCH(QString, suffix);
    QFETCH(int, id);
    QFETCH(int, flags);
    QFETCH(QString, description);

    ImageFormats table;
    const ImageFormat *format = table.formatForSuffix(suffix);
    QVERIFY(format);
    QCOMPARE(int(format->id), id);
    QCOMPARE(format->flags, flags);
    QCOMPARE(format->description, description);
    QCOMPARE(format->suffixes.size(), id < 0 ? 0 : 1);
}

void TestFormats::idLookup_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("hole 35") << 35 << "";
    QTest::newRow("past the end") << 46 << "";
    QTest::newRow("minus one") << -1 << "";
    QTest::newRow("very negative") << int(0x80000000) << "";
    QTest::newRow("first") << 0 << "bmp";
    QTest::newRow("xmind") << 34 << "xmind";
    QTest::newRow("pcx") << 36 << "pcx";
    QTest::newRow("last") << 45 << "ai";
}

void TestFormats::idLookup()
{
    QFETCH(int, id);
    QFETCH(QString, suffix);

    ImageFormats table;
    const ImageFormat *format = table.formatForId(id);
    QVERIFY(format);
    QCOMPARE(format->suffixes.value(0), suffix);
    QCOMPARE(int(format->id), suffix.isEmpty() ? -1 : id);
}

void TestFormats::nameFilters()
{
    ImageFormats table;
    QStringList filters = table.nameFilters();
    QCOMPARE(filters.size(), 45);
    QCOMPARE(filters.first(), QStringLiteral("*.bmp"));
    QCOMPARE(filters.last(), QStringLiteral("*.ai"));
    QVERIFY(filters.indexOf(QStringLiteral("*.wbmp")) < filters.indexOf(QStringLiteral("*.wap")));
    QCOMPARE(filters.removeDuplicates(), 0);
}

void TestFormats::everyRowRoundTrips()
{
    // Every populated slot is found again through its own suffix, so the map and the
    // vector never disagree.
    ImageFormats table;
    int rows = 0;
    for (int id = 0; id < ImageFormats::Count; ++id) {
        const ImageFormat *format = table.formatForId(id);
        if (format->id == FormatUnknown) continue;
        ++rows;
        QCOMPARE(int(format->id), id);
        QCOMPARE(table.formatForSuffix(format->suffixes.first()), format);
    }
    QCOMPARE(rows, 45);
}

void TestFormats::predicates()
{
    QList<int> jpeg, raw, tiff;
    for (int id = -2; id <= 47; ++id) {
        if (ImageFormats::isJpegFormat(id)) jpeg << id;
        if (ImageFormats::isRawFormat(id)) raw << id;
        if (ImageFormats::isTiffFormat(id)) tiff << id;
    }
    QCOMPARE(jpeg, (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(raw, (QList<int>{19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30}));
    QCOMPARE(tiff, (QList<int>{8, 9}));
}

void TestFormats::translatedCatalogue()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(PICSAGE_LIBDIR "/mui/zh_CN/default.qm")));

    // Every row reads in Chinese once the catalogue is installed.
    ImageFormats english;
    QCoreApplication::installTranslator(&translator);
    ImageFormats chinese;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(chinese.formatForId(FormatBmp)->description, QStringLiteral("位图"));
    for (int id = 0; id < ImageFormats::Count; ++id) {
        if (english.formatForId(id)->id == FormatUnknown) continue;
        QVERIFY2(chinese.formatForId(id)->description != english.formatForId(id)->description,
                 qPrintable(english.formatForId(id)->description));
    }

    // A turned copy's tag must still be found by its pattern after translation.
    QCoreApplication::installTranslator(&translator);
    const QString tag = QCoreApplication::translate("ImageWrapper", " - Rotate (%1)").arg(12);
    const QRegularExpression pattern(
        QCoreApplication::translate("ImageWrapper", " - Rotate \\([0-9]+\\)"));
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(tag != QLatin1String(" - Rotate (12)"));
    QVERIFY(pattern.isValid());
    QCOMPARE(QString(QStringLiteral("a") + tag + QStringLiteral(".jpg")).remove(pattern),
             QStringLiteral("a.jpg"));
}

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
