// The tile tree of clip mode: geometry, the level a zoom uses, what stands in while a tile
// loads, failed tiles, and tearing the tree down while its loaders run.

#include "image/ClipNode.h"
#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"
#include "support/EmissionCounter.h"
#include "support/OpenPicture.h"

#include <QPainter>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QColor Magenta(255, 0, 255);
// The four quadrants of the quadrant picture, in the order of a node's children.
const QColor Quadrants[4] = {QColor(220, 30, 30), QColor(30, 200, 30), QColor(30, 30, 220),
                             QColor(230, 230, 40)};

// A picture of four coloured quadrants.
QImage quadrantPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    const int w = size.width() / 2, h = size.height() / 2;
    p.fillRect(0, 0, w, h, Quadrants[0]);
    p.fillRect(w, 0, size.width() - w, h, Quadrants[1]);
    p.fillRect(0, h, w, size.height() - h, Quadrants[2]);
    p.fillRect(w, h, size.width() - w, size.height() - h, Quadrants[3]);
    return image;
}

bool near(QRgb pixel, const QColor &colour)
{
    return qAbs(qRed(pixel) - colour.red()) < 24 && qAbs(qGreen(pixel) - colour.green()) < 24 &&
           qAbs(qBlue(pixel) - colour.blue()) < 24;
}

QImage solid(const QColor &colour)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Every node of the tree below (and including) `node`.
void collect(ClipNode *node, QList<ClipNode *> *out)
{
    out->append(node);
    for (int i = 0; i < 4; ++i) {
        if (node->child(i)) collect(node->child(i), out);
    }
}

QList<ClipNode *> allNodes(const PixmapClipRoot &root)
{
    QList<ClipNode *> out;
    for (ClipNode *node : root.nodes())
        collect(node, &out);
    return out;
}

// Paints `root` at `scale` onto a canvas of `size` showing the picture's top-left.
QImage paintOnce(PixmapClipRoot *root, double scale, const QSize &size)
{
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    root->paint(&painter, QRect(QPoint(0, 0), size), scale);
    return canvas;
}

} // namespace

class TestImageClip : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void topLevel_data();
    void topLevel();
    void tileGrid_data();
    void tileGrid();
    void levelChosen_data();
    void levelChosen();
    void substitutes_data();
    void substitutes();
    void failedTileTriedAgain_data();
    void failedTileTriedAgain();
    void destroyedWhileLoading_data();
    void destroyedWhileLoading();

private:
    QTemporaryDir m_dir;
    QString m_quadrants; // 4096 x 4096: one tile of level 1 over four of level 0
    QString m_large;     // above the clip-mode threshold
};

void TestImageClip::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_quadrants = m_dir.filePath(QStringLiteral("quadrants.jpg"));
    QVERIFY(quadrantPicture(QSize(4096, 4096)).save(m_quadrants, "JPEG", 90));
    // 12288 x 8704 = 106,954,752 pixels, just over the threshold; grey keeps it cheap.
    m_large = m_dir.filePath(QStringLiteral("large.jpg"));
    QImage large(12288, 8704, QImage::Format_Grayscale8);
    QVERIFY(!large.isNull());
    for (int y = 0; y < large.height(); ++y)
        memset(large.scanLine(y), (y / 64) % 256, size_t(large.width()));
    QVERIFY(large.save(m_large, "JPEG", 50));
}

void TestImageClip::topLevel_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("level");
    QTest::newRow("20480x10240: one row of two") << QSize(20480, 10240) << 2 << 1 << 3;
    QTest::newRow("30000x20000: a single tile") << QSize(30000, 20000) << 1 << 1 << 4;
    QTest::newRow("2000x60000: one column at full size") << QSize(2000, 60000) << 1 << 30 << 0;
    QTest::newRow("60000x1800: one row at full size") << QSize(60000, 1800) << 30 << 1 << 0;
    QTest::newRow("12288x8704: a single tile") << QSize(12288, 8704) << 1 << 1 << 3;
    QTest::newRow("empty: no tiles") << QSize(0, 0) << 0 << 0 << 0;
}

void TestImageClip::topLevel()
{
    QFETCH(QSize, size);
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(int, level);
    PixmapClipRoot root(QStringLiteral("/nonexistent.jpg"), size, solid(Magenta), nullptr);
    QCOMPARE(root.columns(), columns);
    QCOMPARE(root.rows(), rows);
    QCOMPARE(root.topLevel(), level);
    QCOMPARE(root.nodes().size(), columns * rows);
    // Column-major: every row of column 0 first.
    for (int i = 0; i < root.nodes().size(); ++i) {
        QCOMPARE(root.nodes().at(i)->col(), i / rows);
        QCOMPARE(root.nodes().at(i)->row(), i % rows);
        QCOMPARE(root.nodes().at(i)->level(), level);
        QCOMPARE(root.nodes().at(i)->state(), int(ClipNode::Idle));
    }
}

void TestImageClip::tileGrid_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QSize>("grid");
    QTest::newRow("level 0") << 0 << QSize(10, 5);
    QTest::newRow("level 1") << 1 << QSize(5, 3);
    QTest::newRow("level 2") << 2 << QSize(3, 2);
    QTest::newRow("level 3") << 3 << QSize(2, 1);
}

void TestImageClip::tileGrid()
{
    QFETCH(int, level);
    QFETCH(QSize, grid);
    const QSize size(20480, 10240);
    QCOMPARE(PixmapClipRoot::tileGrid(size, level), grid);
    // The tiles of that level, made by zooming over the whole picture, are as many.
    PixmapClipRoot root(QStringLiteral("/nonexistent.jpg"), size, solid(Magenta), nullptr);
    const double scale = level == 0 ? 1.0 : 0.9 / double(1 << level);
    QImage canvas(1, 1, QImage::Format_RGB32);
    QPainter painter(&canvas);
    root.paint(&painter, QRect(0, 0, int(size.width() * scale), int(size.height() * scale)), scale);
    root.waitForLoaders();
    int loaded = 0;
    for (ClipNode *node : allNodes(root)) {
        if (node->hasLoader()) {
            QCOMPARE(node->level(), level);
            ++loaded;
        }
    }
    QCOMPARE(loaded, grid.width() * grid.height());
}

void TestImageClip::levelChosen_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("level");
    QTest::newRow("0.3 -> level 1") << 0.3 << 1;
    QTest::newRow("0.5 -> level 0") << 0.5 << 0;
    QTest::newRow("0.2 -> level 2") << 0.2 << 2;
    QTest::newRow("0.1 -> level 3 (top)") << 0.1 << 3;
    QTest::newRow("0.01 -> level 3 (top)") << 0.01 << 3;
    QTest::newRow("2.0 -> level 0") << 2.0 << 0;
}

void TestImageClip::levelChosen()
{
    QFETCH(double, scale);
    QFETCH(int, level);
    QCOMPARE(PixmapClipRoot::levelForScale(scale, 3), level);
    PixmapClipRoot root(QStringLiteral("/nonexistent.jpg"), QSize(20480, 10240), solid(Magenta),
                        nullptr);
    paintOnce(&root, scale, QSize(300, 200));
    root.waitForLoaders();
    QSet<int> levels;
    for (ClipNode *node : allNodes(root)) {
        if (node->hasLoader()) levels.insert(node->level());
    }
    QCOMPARE(levels, QSet<int>{level});
}

void TestImageClip::substitutes_data()
{
    QTest::addColumn<double>("primeScale"); // 0: nothing decoded before
    QTest::addColumn<double>("scale");
    QTest::addColumn<QColor>("whileLoading");
    QTest::newRow("top level loading: the reduced decode") << 0.0 << 0.25 << Magenta;
    QTest::newRow("child loading, parent ready: the parent's quarter")
        << 0.25 << 1.0 << Quadrants[0];
    QTest::newRow("child and parent loading: the reduced decode") << 0.0 << 1.0 << Magenta;
}

void TestImageClip::substitutes()
{
    QFETCH(double, primeScale);
    QFETCH(double, scale);
    QFETCH(QColor, whileLoading);
    // The reduced decode is magenta, unlike every pixel of the file, so it shows where it
    // stands in.
    PixmapClipRoot root(m_quadrants, QSize(4096, 4096), solid(Magenta), nullptr);
    // Counted from the loader threads while this thread reads the count.
    EmissionCounter updates(&root, &PixmapClipRoot::onUpdate);
    if (primeScale > 0) {
        paintOnce(&root, primeScale, QSize(256, 256));
        root.waitForLoaders();
        QCOMPARE(root.nodes().first()->state(), int(ClipNode::Ready));
    }
    const int before = updates.count();
    const QSize view(256, 256);
    QImage canvas = paintOnce(&root, scale, view);
    QVERIFY(root.loadingCount() > 0 || updates.count() > before);
    QVERIFY2(near(canvas.pixel(10, 10), whileLoading),
             qPrintable(QColor(canvas.pixel(10, 10)).name()));
    root.waitForLoaders();
    QCOMPARE(root.loadingCount(), 0);
    QVERIFY(updates.count() > before); // the view is told to repaint
    canvas = paintOnce(&root, scale, view);
    QVERIFY2(near(canvas.pixel(10, 10), Quadrants[0]),
             qPrintable(QColor(canvas.pixel(10, 10)).name()));
}

void TestImageClip::failedTileTriedAgain_data()
{
    QTest::addColumn<QByteArray>("firstContent"); // empty: no file at all
    QTest::newRow("file missing at first") << QByteArray();
    QTest::newRow("not a picture at first") << QByteArray("this is not a picture");
    QTest::newRow("cut-off JPEG header") << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
}

void TestImageClip::failedTileTriedAgain()
{
    QFETCH(QByteArray, firstContent);
    const QString path =
        m_dir.filePath(QStringLiteral("later-%1.jpg").arg(QTest::currentDataTag()));
    if (!firstContent.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(firstContent);
    }
    PixmapClipRoot root(path, QSize(4096, 4096), solid(Magenta), nullptr);
    paintOnce(&root, 0.25, QSize(64, 64));
    root.waitForLoaders();
    ClipNode *top = root.nodes().first();
    QCOMPARE(top->state(), int(ClipNode::Idle)); // failed: back to idle
    QVERIFY(near(paintOnce(&root, 0.25, QSize(64, 64)).pixel(5, 5), Magenta));
    root.waitForLoaders();
    QCOMPARE(top->state(), int(ClipNode::Idle));

    QFile::remove(path);
    QVERIFY(QFile::copy(m_quadrants, path));
    paintOnce(&root, 0.25, QSize(64, 64)); // the next paint starts the loader again
    root.waitForLoaders();
    QCOMPARE(top->state(), int(ClipNode::Ready));
    QVERIFY(near(paintOnce(&root, 0.25, QSize(64, 64)).pixel(5, 5), Quadrants[0]));
}

void TestImageClip::destroyedWhileLoading_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::newRow("closed, then destroyed") << true;
    QTest::newRow("destroyed") << false;
}

void TestImageClip::destroyedWhileLoading()
{
    QFETCH(bool, closeFirst);
    QSharedPointer<ImageWrapper> picture = openPicture(m_large);
    QVERIFY(picture);
    QVERIFY(picture->isClipMode());
    QCOMPARE(picture->originalSize(), QSize(12288, 8704));
    // 100 % over 8192 x 8192 picture pixels: 4 x 4 tiles of level 0.
    QImage canvas(128, 128, QImage::Format_RGB32);
    {
        QPainter painter(&canvas);
        picture->paint(&painter, 0, QRect(QPoint(0, 0), picture->originalSize()),
                       QRect(0, 0, 8192, 8192), 1.0, nullptr);
    }
    PixmapClipRoot *root = picture->findChild<PixmapClipRoot *>();
    QVERIFY(root);
    int loaders = 0;
    for (ClipNode *node : allNodes(*root)) {
        if (node->hasLoader()) {
            QCOMPARE(node->level(), 0);
            ++loaders;
        }
    }
    QCOMPARE(loaders, 16);
    QVERIFY(root->loadingCount() > 0);
    QPointer<PixmapClipRoot> watch(root);
    if (closeFirst) {
        picture->close();
        QVERIFY(watch.isNull());
    }
    picture.reset();
    QVERIFY(watch.isNull());
}

QTEST_MAIN(TestImageClip)
#include "tst_image_clip.moc"
