// Every real file in tests/data/real, opened as the viewer opens it and compared with the
// reference rendering stored beside it (made once by the independent decoder its manifest row
// names; large photos are compared reduced, as box averages). A row without a reference says why:
// an expected refusal ("refused: reason") must not open; "no reference: reason" must open.

#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/UprightRender.h"

#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

// The manifest's rows, each as column name -> value.
QVector<QHash<QString, QString>> manifestRows()
{
    QVector<QHash<QString, QString>> rows;
    QFile file(realDataPath(QStringLiteral("MANIFEST.tsv")));
    if (!file.open(QIODevice::ReadOnly)) return rows;
    const QStringList header =
        QString::fromUtf8(file.readLine()).trimmed().split(QLatin1Char('\t'));
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty()) continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        QHash<QString, QString> row;
        for (int i = 0; i < header.size(); ++i)
            row.insert(header.at(i), cells.value(i));
        rows.append(row);
    }
    return rows;
}

// Colour under full transparency does not count: both sides are premultiplied first.
QImage comparable(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .convertToFormat(QImage::Format_ARGB32);
}

// Box averages of `n` x `n` pixels, rounded, as the reduced references are made (vips shrink).
QImage shrunk(const QImage &image, int n)
{
    if (n <= 1) return image;
    QImage out(image.width() / n, image.height() / n, QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            int sum[4] = {};
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    const QRgb p = image.pixel(x * n + i, y * n + j);
                    sum[0] += qAlpha(p), sum[1] += qRed(p), sum[2] += qGreen(p), sum[3] += qBlue(p);
                }
            const int area = n * n;
            auto avg = [&](int s) { return (s + area / 2) / area; };
            out.setPixel(x, y, qRgba(avg(sum[1]), avg(sum[2]), avg(sum[3]), avg(sum[0])));
        }
    return out;
}

} // namespace

class TestRealFiles : public QObject
{
    Q_OBJECT

private slots:
    void opensLikeItsReference_data();
    void opensLikeItsReference();
};

void TestRealFiles::opensLikeItsReference_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<int>("maxDiff");
    QTest::addColumn<double>("meanDiff");
    QTest::addColumn<int>("shrink");

    const QVector<QHash<QString, QString>> rows = manifestRows();
    QVERIFY2(!rows.isEmpty(), "the manifest cannot be read");
    for (const QHash<QString, QString> &row : rows) {
        const QString relpath = row.value(QStringLiteral("relpath"));
        QTest::newRow(qPrintable(relpath))
            << relpath << row.value(QStringLiteral("reference"))
            << row.value(QStringLiteral("max_diff")).toInt()
            << row.value(QStringLiteral("mean_diff")).toDouble()
            << qMax(1, row.value(QStringLiteral("reference_shrink")).toInt());
    }
}

void TestRealFiles::opensLikeItsReference()
{
    QFETCH(QString, file);
    QFETCH(QString, reference);
    QFETCH(int, maxDiff);
    QFETCH(double, meanDiff);
    QFETCH(int, shrink);

    const QString path = realDataPath(file);
    REQUIRE_REAL_FILE(path);
    QVERIFY2(!reference.isEmpty(), "the manifest row names no reference and gives no reason");
    const QImage shown = renderUpright(path);
    if (reference.startsWith(QLatin1String("refused:"))) {
        QVERIFY2(shown.isNull(), "an expected refusal opened");
        return;
    }
    QVERIFY2(!shown.isNull(), "does not open");
    if (reference.startsWith(QLatin1String("no reference:"))) return;

    const QString referencePath = QFileInfo(path).dir().filePath(reference);
    REQUIRE_REAL_FILE(referencePath);
    const QImage expected(referencePath);
    QVERIFY2(!expected.isNull(), "the reference cannot be read");
    const QImage a = shrunk(comparable(shown), shrink), b = comparable(expected);
    QCOMPARE(a.size(), b.size());
    const int max = maxChannelDifference(a, b);
    const double mean = meanChannelDifference(a, b);
    QVERIFY2(max <= maxDiff && mean <= meanDiff,
             qPrintable(QStringLiteral("max %1 (allowed %2), mean %3 (allowed %4)")
                            .arg(max)
                            .arg(maxDiff)
                            .arg(mean)
                            .arg(meanDiff)));
}

QTEST_MAIN(TestRealFiles)
#include "tst_realfiles.moc"
