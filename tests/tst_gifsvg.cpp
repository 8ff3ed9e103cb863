#include "support/GifBuilder.h"
#include "support/ZipBuilder.h"

#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "image/ImageGif.h"
#include "image/ImageSvg.h"
#include "image/ImageWrapper.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

namespace {

const QRgb kWhite = qRgb(255, 255, 255), kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0),
           kBlue = qRgb(0, 0, 255);

const char kSvg[] = "<svg xmlns='http://www.w3.org/2000/svg' width='240' height='160' "
                    "viewBox='0 0 120 80'><rect x='0' y='0' width='60' height='80' "
                    "fill='#ff0000'/><rect x='60' y='0' width='60' height='80' "
                    "fill='#0000ff'/></svg>";

QByteArray gzip(const QByteArray &data)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 32, 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// Twelve frames over a white first frame; frame 5 (disposal 2) covers a square that frame 6
// does not, frame 3 names a transparent index.
giftest::Animation twelveFrames()
{
    giftest::Animation a;
    a.screen = QSize(20, 10);
    a.palette = {kWhite, kRed, kGreen, kBlue};
    a.background = 3;
    a.frames << giftest::solid(QRect(0, 0, 20, 10), 0, 1, 0);
    for (int i = 1; i < 12; ++i)
        a.frames << giftest::solid(QRect(i, 0, 1, 1), 1, 1, i);
    a.frames[5] = giftest::solid(QRect(4, 4, 4, 4), 2, 2, 7);
    a.frames[6] = giftest::solid(QRect(12, 4, 2, 2), 1, 1, 5);
    a.frames[3].transparent = 0;
    return a;
}

// A back-end made by the test on a wrapper, whose orientation it may set.
template <class BackEnd> struct Turnable : BackEnd
{
    using BackEnd::BackEnd;
    using ImageBase::setOrientation;
};

} // namespace

Q_DECLARE_METATYPE(QVector<ziptest::Entry>)

class TestGifSvg : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QSharedPointer<ImageDirectory> m_folder;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return QString();
        return file.fileName();
    }
    // Opens and loads the file name of the test folder.
    QSharedPointer<ImageWrapper> open(const QString &name)
    {
        m_folder.reset(new ImageDirectory);
        if (!m_folder->init(m_dir.path(), {})) return {};
        QSharedPointer<ImageWrapper> image = m_folder->createImage(name, 0, m_folder);
        if (image) image->load();
        return image;
    }

private slots:
    void gifThroughTheWrapper();
    void gifDisposalClearsToTransparent();
    void gifPaints();
    void gifSave();
    void realGifThroughTheWrapper_data();
    void realGifThroughTheWrapper();
    void gifFallback_data();
    void gifFallback();
    void svg_data();
    void svg();
    void svgTurned();
    void svgSave();
    void xmind_data();
    void xmind();
};

void TestGifSvg::gifThroughTheWrapper()
{
    write("anim.gif", giftest::encode(twelveFrames()));
    const QSharedPointer<ImageWrapper> image = open("anim.gif");
    QVERIFY(image);
    QCOMPARE(image->status(), ImageStatusReady);
    QCOMPARE(image->backEndKind(), BackEndGif);
    QVERIFY(image->ready());
    QCOMPARE(image->format()->id, FormatGif);
    QCOMPARE(image->frameCount(), 12);
    QVERIFY(image->isAnimation());
    QCOMPARE(image->imageSize(0), QSize(20, 10));
    QCOMPARE(image->imageSize(12), image->originalSize());
    QCOMPARE(image->originalSize(), QSize(20, 10));
    QCOMPARE(image->delay(0), 100); // stored as 0
    QCOMPARE(image->delay(7), 70);
    QCOMPARE(image->delay(12), 100);
    QCOMPARE(image->delay(-1), 100);
    QVERIFY(image->canRotate(false));
    QVERIFY(!image->canRotate(true));
    QVERIFY(image->canDelete());
    QVERIFY(image->hasAlpha(0)); // frame 3 names a transparent index
    QVERIFY(image->hasAlpha(-1));
    QVERIFY(!image->crop(QRect(0, 0, 5, 5)));
    image->resize(5, 5, Qt::FastTransformation);
    QCOMPARE(image->imageSize(0), QSize(20, 10));
    QVERIFY(image->imageAt(12, 0, 0).isNull());
    QVERIFY(image->pixmapAt(12, 0, 0).isNull());
    // pixmapAt is the frame as stored, imageAt the composed picture.
    QCOMPARE(image->pixmapAt(2, 0, 0).size(), QSize(1, 1));
    const QImage composed = image->imageAt(2, 0, 0);
    QCOMPARE(composed.size(), QSize(20, 10));
    QCOMPARE(composed.pixel(1, 0), kRed);
    QCOMPARE(composed.pixel(2, 0), kRed);
    QCOMPARE(composed.pixel(3, 0), kWhite);

    // No transparent index anywhere and no area cleared: no alpha.
    giftest::Animation opaque = twelveFrames();
    opaque.frames[3].transparent = -1;
    write("cleared.gif", giftest::encode(opaque));
    QVERIFY(open("cleared.gif")->hasAlpha(0)); // frame 5 is cleared to transparent
    opaque.frames[5].disposal = 1;
    write("opaque.gif", giftest::encode(opaque));
    QVERIFY(!open("opaque.gif")->hasAlpha(0));
}

void TestGifSvg::gifDisposalClearsToTransparent()
{
    write("dispose.gif", giftest::encode(twelveFrames()));
    const QSharedPointer<ImageWrapper> image = open("dispose.gif");
    QVERIFY(image);
    QCOMPARE(image->imageAt(5, 0, 0).pixel(5, 5), kGreen);
    const QImage six = image->imageAt(6, 0, 0);
    QCOMPARE(six.pixel(5, 5), QRgb(0)); // where frame 5 was: cleared, not the background colour
    QCOMPARE(six.pixel(12, 4), kRed);
    QCOMPARE(six.pixel(0, 9), kWhite);
}

void TestGifSvg::gifPaints()
{
    write("paint.gif", giftest::encode(twelveFrames()));
    const QSharedPointer<ImageWrapper> image = open("paint.gif");
    QImage canvas(60, 40, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    image->paint(&painter, 5, QRect(10, 10, 40, 20), canvas.rect(), 2.0, nullptr);
    painter.end();
    QCOMPARE(canvas.pixel(5, 5), qRgb(0, 0, 0));      // outside the target
    QCOMPARE(canvas.pixel(10 + 11, 10 + 11), kGreen); // frame 5, twice the size
    QCOMPARE(canvas.pixel(10 + 1, 10 + 15), kWhite);

    image->close(); // not ready: nothing is painted
    canvas.fill(Qt::black);
    QPainter again(&canvas);
    image->paint(&again, 0, QRect(10, 10, 40, 20), canvas.rect(), 2.0, nullptr);
    again.end();
    QCOMPARE(canvas.pixel(20, 20), qRgb(0, 0, 0));
}

void TestGifSvg::gifSave()
{
    const QString source = write("save.gif", giftest::encode(twelveFrames()));
    const QSharedPointer<ImageWrapper> image = open("save.gif");
    QVERIFY(image);
    ImageFormats formats;
    const QString png = m_dir.filePath("first.png");
    QVERIFY(image->backEnd()->save(formats.formatForId(FormatPng), png, false));
    QVERIFY(!QFile::exists(png));
    QVERIFY(image->backEnd()->save(formats.formatForId(FormatPng), png, true));
    const QImage written(png);
    QCOMPARE(written.size(), QSize(20, 10)); // the first frame as stored
    QCOMPARE(written.pixel(3, 3), kWhite);
    // A row that cannot be written.
    QVERIFY(!image->backEnd()->save(formats.formatForId(FormatUnknown), png, true));
    Q_UNUSED(source);
}

void TestGifSvg::realGifThroughTheWrapper_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("frames");
    QTest::newRow("disposal 2") << "dispose_bgnd.gif" << 5;
    QTest::newRow("transparency") << "dispose-background.gif" << 3;
    QTest::newRow("disposal 3") << "dispose_prev.gif" << 5;
}

void TestGifSvg::realGifThroughTheWrapper()
{
    QFETCH(QString, file);
    QFETCH(int, frames);
    const QString real = QStringLiteral(PICSAGE_REALDATA "/gif/") + file;
    QVERIFY2(QFile::exists(real), qPrintable(real + " is missing"));
    QFile::remove(m_dir.filePath(file));
    QVERIFY(QFile::copy(real, m_dir.filePath(file)));
    const QSharedPointer<ImageWrapper> image = open(file);
    QVERIFY(image);
    QCOMPARE(image->backEndKind(), BackEndGif);
    QCOMPARE(image->frameCount(), frames);
    GifAnimation reference;
    QVERIFY(reference.load(real));
    for (int i = frames - 1; i >= 0; --i) // out of order: replayed from the checkpoint
        QCOMPARE(image->imageAt(i, 0, 0), reference.composedFrame(i));
}

void TestGifSvg::gifFallback_data()
{
    using namespace giftest;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("backEnd");

    QByteArray good = encode(twelveFrames());
    QTest::newRow("cut inside frame 2: Qt's reader shows what it can")
        << good.left(good.size() - 60) << int(ImageStatusReady) << int(BackEndRaster);
    QTest::newRow("not a GIF at all")
        << QByteArray("definitely not a picture") << int(ImageStatusFailed) << int(BackEndRaster);
    const QByteArray tiny = descriptor(0, 0, 1, 1) + tinyData();
    QTest::newRow("screen 65535 x 65535: refused, no fallback")
        << header(65535, 65535) + tiny + trailer() << int(ImageStatusFailed) << int(BackEndGif);
    QTest::newRow("hundreds of thousands of frames: refused, no fallback")
        << header(64, 64) + QByteArray(tiny).repeated(300000) + trailer() << int(ImageStatusFailed)
        << int(BackEndGif);
    QTest::newRow("frame far outside the screen")
        << header(10, 10) + descriptor(60000, 60000, 1, 1) + tinyData() + trailer()
        << int(ImageStatusReady) << int(BackEndGif);
}

void TestGifSvg::gifFallback()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(int, backEnd);
    write("fallback.gif", bytes);
    const QSharedPointer<ImageWrapper> image = open("fallback.gif");
    QVERIFY(image);
    QCOMPARE(int(image->status()), status);
    QCOMPARE(int(image->backEndKind()), backEnd);
}

void TestGifSvg::svg_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::newRow("svg") << "a.svg" << QByteArray(kSvg) << QSize(120, 80);
    QTest::newRow("svgz") << "a.svgz" << gzip(kSvg) << QSize(120, 80);
    QTest::newRow("gzip-compressed .svg") << "z.svg" << gzip(kSvg) << QSize(120, 80);
    QTest::newRow("not SVG") << "b.svg" << QByteArray("<html>no</html>") << QSize();
    QTest::newRow("empty") << "c.svg" << QByteArray() << QSize();
    QTest::newRow("cut gzip") << "d.svgz" << gzip(kSvg).left(40) << QSize();
    QTest::newRow("inflates beyond the limit")
        << "bomb.svgz" << gzip(QByteArray(int(ImageSvg::MaxDocumentBytes) + 1, ' ')) << QSize();
}

void TestGifSvg::svg()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    write(name, bytes);
    const QSharedPointer<ImageWrapper> image = open(name);
    QVERIFY(image);
    QCOMPARE(image->backEndKind(), BackEndSvg);
    if (!size.isValid()) {
        QCOMPARE(image->status(), ImageStatusFailed);
        return;
    }
    QCOMPARE(image->status(), ImageStatusReady);
    QVERIFY(!image->ready()); // every load() loads again
    QCOMPARE(image->imageSize(0), size);
    QCOMPARE(image->imageSize(7), size);
    QCOMPARE(image->frameCount(), 1);
    QCOMPARE(image->delay(0), 1);
    QVERIFY(!image->isAnimation());
    QVERIFY(image->canRotate(false));
    QVERIFY(!image->canRotate(true));
    QVERIFY(!image->crop(QRect(0, 0, 5, 5)));

    const QImage picture = image->imageAt(0, 0, 0);
    QCOMPARE(picture.size(), size);
    QCOMPARE(picture.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(picture.pixel(10, 40), kRed);
    QCOMPARE(picture.pixel(110, 40), kBlue);

    // Painted at any size, without a checkerboard.
    QImage canvas(300, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    image->paint(&painter, 0, QRect(0, 0, 240, 160), canvas.rect(), 2.0, nullptr);
    painter.end();
    QCOMPARE(canvas.pixel(100, 80), kRed);
    QCOMPARE(canvas.pixel(140, 80), kBlue);
    QCOMPARE(canvas.pixel(270, 180), 0u);

    image->load();
    QCOMPARE(image->status(), ImageStatusReady);
}

void TestGifSvg::svgTurned()
{
    write("turn.svg", kSvg);
    const QSharedPointer<ImageWrapper> image = open("turn.svg");
    QVERIFY(image);
    const ImageFormat *row = image->format();
    Turnable<ImageSvg> svg(image.data());
    QVERIFY(svg.load(row));
    QCOMPARE(svg.imageSize(0), QSize(120, 80));
    svg.setOrientation(6);
    QCOMPARE(svg.imageSize(0), QSize(80, 120));
    const QImage turned = svg.imageAt(0, 0, 0);
    QCOMPARE(turned.size(), QSize(80, 120));
    QCOMPARE(turned.pixel(40, 10), kRed); // a clockwise turn puts the left half on top
    QCOMPARE(turned.pixel(40, 110), kBlue);
    svg.setOrientation(3);
    QCOMPARE(svg.imageAt(0, 0, 0).pixel(10, 40), kBlue);
    svg.setOrientation(1);

    write("turn.gif", giftest::encode(twelveFrames()));
    const QSharedPointer<ImageWrapper> gifImage = open("turn.gif");
    Turnable<ImageGif> gif(gifImage.data());
    QVERIFY(gif.load(gifImage->format()));
    gif.setOrientation(8);
    QCOMPARE(gif.imageSize(0), QSize(10, 20));
    QCOMPARE(gif.imageAt(0, 0, 0).size(), QSize(10, 20));
    gif.setOrientation(1);
}

void TestGifSvg::svgSave()
{
    const QString source = write("save.svg", kSvg);
    const QSharedPointer<ImageWrapper> image = open("save.svg");
    ImageFormats formats;
    ImageBase *backEnd = image->backEnd();
    QVERIFY(backEnd);
    // Its own file, also when spelled in other case: nothing to do.
    QVERIFY(backEnd->save(formats.formatForId(FormatSvg), source, true));
    QVERIFY(backEnd->save(formats.formatForId(FormatSvg), source.toUpper(), true));
    const QString copy = m_dir.filePath("copy.svg");
    QVERIFY(backEnd->save(formats.formatForId(FormatSvg), copy, true));
    QFile a(source), b(copy);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), a.readAll());
    const QString png = m_dir.filePath("svg.png");
    QVERIFY(backEnd->save(formats.formatForId(FormatPng), png, true));
    QCOMPARE(QImage(png).size(), QSize(120, 80));
    image->setDirty(true);
    QVERIFY(!backEnd->save(formats.formatForId(FormatSvg), m_dir.filePath("dirty.svg"), true));
    QVERIFY(!QFile::exists(m_dir.filePath("dirty.svg")));
}

void TestGifSvg::xmind_data()
{
    QTest::addColumn<QVector<ziptest::Entry>>("entries");
    QTest::addColumn<QSize>("size");
    QImage thumb(16, 9, QImage::Format_RGB32);
    thumb.fill(kGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    thumb.save(&buffer, "PNG");
    QTest::newRow("content.xml and Thumbnails/thumbnail.png")
        << QVector<ziptest::Entry>{{"content.xml", "<xmap/>"}, {"Thumbnails/thumbnail.png", png}}
        << QSize(16, 9);
    QTest::newRow("no thumbnail") << QVector<ziptest::Entry>{{"content.xml", "<xmap/>"}} << QSize();
    QTest::newRow("thumbnail claims 4 GB")
        << QVector<ziptest::Entry>{{"Thumbnails/thumbnail.png", png, true, 0xffffffffLL}}
        << QSize();
}

void TestGifSvg::xmind()
{
    QFETCH(QVector<ziptest::Entry>, entries);
    QFETCH(QSize, size);
    write("map.xmind", ziptest::build(entries));
    const QSharedPointer<ImageWrapper> image = open("map.xmind");
    QVERIFY(image);
    QCOMPARE(image->backEndKind(), BackEndRaster);
    if (!size.isValid()) {
        QCOMPARE(image->status(), ImageStatusFailed);
        return;
    }
    QCOMPARE(image->status(), ImageStatusReady);
    QCOMPARE(image->imageSize(0), size);
    QCOMPARE(image->imageAt(0, 0, 0).pixel(3, 3), kGreen);

    const QString real = QStringLiteral(PICSAGE_REALDATA "/xmind/xmind_zen.xmind");
    QVERIFY2(QFile::exists(real), qPrintable(real + " is missing"));
    QFile::remove(m_dir.filePath("zen.xmind"));
    QVERIFY(QFile::copy(real, m_dir.filePath("zen.xmind")));
    const QSharedPointer<ImageWrapper> zen = open("zen.xmind");
    QCOMPARE(zen->status(), ImageStatusReady);
    QCOMPARE(zen->imageSize(0), QSize(929, 576));
}

QTEST_MAIN(TestGifSvg)
#include "tst_gifsvg.moc"
