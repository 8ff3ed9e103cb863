// Windows metafiles and enhanced metafiles: the record player against reference renderings
// of real files, the same drawing in every mapping mode, drawing behaviour, hostile files,
// and the metafile back-end behind an opened picture and picsage-image.

#include "support/ImageCompare.h"
#include "support/MetafileBuilder.h"

#include "formats/ImageFormats.h"
#include "image/ImageBase.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"
#include "metafile/Metafile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRawFont>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

using namespace mftest;
using metafile::Metafile;

namespace {

const QString RealData = QStringLiteral(PICSAGE_REAL_DATA);

// The drawing every mapping-mode case shows, in device pixels of a 400 x 320 frame:
// a red rectangle without outline, a blue ellipse with a thin black outline, a green
// triangle, and a 4-pixel orange line.
const QRect RedBox(QPoint(40, 40), QPoint(200, 160));
const QRect BlueEllipse(QPoint(220, 40), QPoint(360, 140));
const QVector<QPoint> GreenTriangle = {{60, 280}, {160, 180}, {260, 280}};
const QVector<QPoint> OrangeLine = {{280, 180}, {360, 300}};
const QRect Frame001mm(0, 0, 10000, 8000); // 100 x 80 mm at 4 pixels per mm

QPoint mapped(const QTransform &deviceToLogical, const QPoint &p)
{
    const QPointF l = deviceToLogical.map(QPointF(p));
    return QPoint(int(std::lround(l.x())), int(std::lround(l.y())));
}

QRect mapped(const QTransform &t, const QRect &r)
{
    return QRect(mapped(t, r.topLeft()), mapped(t, r.bottomRight() + QPoint(1, 1)) - QPoint(1, 1));
}

QVector<QPoint> mapped(const QTransform &t, const QVector<QPoint> &points)
{
    QVector<QPoint> out;
    for (const QPoint &p : points)
        out << mapped(t, p);
    return out;
}

// The drawing in an enhanced metafile; `setUp` writes the mapping records and
// `deviceToLogical` says where device pixels lie in logical units.
QByteArray emfDrawing(const std::function<void(EmfBuilder &)> &setUp,
                      const QTransform &deviceToLogical)
{
    const QTransform &t = deviceToLogical;
    const int penWidth = int(std::lround(4 * std::hypot(t.m11(), t.m12())));
    EmfBuilder b(Frame001mm);
    setUp(b);
    b.createBrush(1, 0, Qt::red).createBrush(2, 0, Qt::blue).createBrush(3, 0, Qt::green);
    b.createPen(4, 0, penWidth, QColor(255, 128, 0));
    b.select(1).select(0x80000008).rectangle(mapped(t, RedBox));
    b.select(2).select(0x80000007).ellipse(mapped(t, BlueEllipse));
    b.select(3).poly16(86, mapped(t, GreenTriangle));
    b.select(4).poly16(87, mapped(t, OrangeLine));
    return b.finish();
}

// The same drawing in a Windows metafile whose window is `org`/`ext`.
QByteArray wmfDrawing(const QRect &box, int inch, bool windowRecords, const QPoint &org,
                      const QSize &ext)
{
    const QTransform t = QTransform::fromScale(ext.width() / 400.0, ext.height() / 320.0) *
                         QTransform::fromTranslate(org.x(), org.y());
    WmfBuilder b(box, inch);
    if (windowRecords)
        b.setMapMode(8).setWindowOrg(org.x(), org.y()).setWindowExt(ext.width(), ext.height());
    b.createBrush(0, Qt::red).createBrush(0, Qt::blue).createBrush(0, Qt::green);
    b.createPen(5, 0, Qt::black).createPen(0, 0, Qt::black);
    b.createPen(0, int(std::lround(4 * std::fabs(t.m11()))), QColor(255, 128, 0));
    b.select(0).select(3).rectangle(mapped(t, RedBox));
    b.select(1).select(4).ellipse(mapped(t, BlueEllipse));
    b.select(2).poly(0x0324, mapped(t, GreenTriangle));
    b.select(5).poly(0x0325, mapped(t, OrangeLine));
    return b.finish();
}

QImage render(const QByteArray &bytes, const QSize &size)
{
    Metafile m;
    if (!m.loadData(bytes)) return {};
    return m.toImage(size);
}

QByteArray textRecord(const QPoint &at, const QString &text, quint32 charsClaimed = 0,
                      quint32 options = 0x100)
{
    Le p;
    p.i32(0).i32(0).i32(0).i32(0); // bounds
    p.u32(1).f32(1).f32(1);        // graphics mode, scales
    p.i32(at.x()).i32(at.y());
    p.u32(charsClaimed ? charsClaimed : quint32(text.size()));
    p.u32(60);      // string offset from the record's start
    p.u32(options); // ETO_NO_RECT, maybe ETO_GLYPH_INDEX
    p.u32(0);       // no advances
    for (const QChar c : text)
        p.u16(c.unicode());
    return p.bytes;
}

QByteArray fontRecord(quint32 index, int height)
{
    Le p;
    p.u32(index).i32(height).i32(0).i32(0).i32(0).i32(700);
    p.u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0);
    const QString face = QStringLiteral("DejaVu Sans");
    for (int i = 0; i < 32; ++i)
        p.u16(i < face.size() ? face[i].unicode() : 0);
    return p.bytes;
}

QByteArray patched(QByteArray bytes, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
    return bytes;
}

} // namespace

class TestMetafile : public QObject
{
    Q_OBJECT

private slots:
    void realFiles_data();
    void realFiles();
    void mappingModes_data();
    void mappingModes();
    void drawing_data();
    void drawing();
    void rasterOps_data();
    void rasterOps();
    void glyphIndices();
    void pageSize_data();
    void pageSize();
    void hostile_data();
    void hostile();
    void backEnd_data();
    void backEnd();
    void paintDevices_data();
    void paintDevices();
    void imageTool_data();
    void imageTool();
};

void TestMetafile::realFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance");
    // The reference leaves the mask and gradient panels empty, which our player draws:
    // hence the wider tolerance.
    QTest::newRow("placeable WMF") << "wmf/fulltest.wmf" << QSize(1056, 816) << 20.0;
    QTest::newRow("EMF") << "emf/fulltest.emf" << QSize(1056, 792) << 30.0;
}

// The real files render recognisably: their drawn content, reduced to 80 pixels wide,
// stays close to an independent renderer's (see tests/data/real/MANIFEST.tsv), closer than
// the other file's reference is.
void TestMetafile::realFiles()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);
    const QString path = RealData + QLatin1Char('/') + file;
    const QString referencePath = path.left(path.lastIndexOf(QLatin1Char('.'))) + ".png";
    const QString otherPath =
        RealData + (file.startsWith("wmf") ? "/emf/fulltest.png" : "/wmf/fulltest.png");
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage reference(referencePath), other(otherPath);
    QVERIFY2(!reference.isNull(), qPrintable(referencePath));
    QVERIFY2(!other.isNull(), qPrintable(otherPath));

    Metafile m;
    QVERIFY(m.load(path));
    QCOMPARE(m.size(), size);
    const QImage ours = m.toImage(size);
    QVERIFY(!ours.isNull());

    const double difference = imagecompare::contentDifference(ours, reference, 80);
    QVERIFY2(difference < tolerance, qPrintable(QString::number(difference)));
    const double unrelated = imagecompare::contentDifference(other, reference, 80);
    QVERIFY2(unrelated > tolerance, qPrintable(QString::number(unrelated)));
}

void TestMetafile::mappingModes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    auto emf = [](const char *name, const std::function<void(EmfBuilder &)> &setUp,
                  const QTransform &logicalToDevice) {
        QTest::newRow(name) << emfDrawing(setUp, logicalToDevice.inverted());
    };
    const double ppm = 4; // device pixels per millimetre
    auto metric = [&](const char *name, int mode, double mmPerUnit) {
        emf(
            name, [mode](EmfBuilder &b) { b.setMapMode(mode).setViewportOrg(0, 320); },
            QTransform::fromScale(mmPerUnit * ppm, -mmPerUnit * ppm) *
                QTransform::fromTranslate(0, 320));
    };
    emf(
        "EMF MM_TEXT", [](EmfBuilder &) {}, QTransform());
    emf(
        "EMF MM_TEXT with origins",
        [](EmfBuilder &b) { b.setWindowOrg(-50, 30).setViewportOrg(10, 20); },
        QTransform::fromTranslate(50 + 10, -30 + 20));
    metric("EMF MM_LOMETRIC", 2, 0.1);
    metric("EMF MM_HIMETRIC", 3, 0.01);
    metric("EMF MM_LOENGLISH", 4, 0.254);
    metric("EMF MM_HIENGLISH", 5, 0.0254);
    metric("EMF MM_TWIPS", 6, 25.4 / 1440);
    emf(
        "EMF MM_ANISOTROPIC, y up",
        [](EmfBuilder &b) {
            b.setMapMode(8)
                .setWindowOrg(100, 500)
                .setWindowExt(3000, -2000)
                .setViewportExt(400, 320);
        },
        QTransform::fromTranslate(-100, -500) * QTransform::fromScale(400.0 / 3000, -320.0 / 2000));
    emf(
        "EMF MM_ISOTROPIC",
        [](EmfBuilder &b) { b.setMapMode(7).setWindowExt(1000, 1000).setViewportExt(400, 320); },
        QTransform::fromScale(0.32, 0.32));
    emf(
        "EMF world transform", [](EmfBuilder &b) { b.worldTransform(2, 0, 0, 2, 10, 10); },
        QTransform::fromScale(2, 2) * QTransform::fromTranslate(10, 10));
    QTest::newRow("WMF placeable, 96 per inch")
        << wmfDrawing(QRect(0, 0, 400, 320), 96, false, QPoint(0, 0), QSize(400, 320));
    QTest::newRow("WMF placeable, twips")
        << wmfDrawing(QRect(0, 0, 6000, 4800), 1440, false, QPoint(0, 0), QSize(6000, 4800));
    QTest::newRow("WMF window with y up")
        << wmfDrawing(QRect(0, 0, 5000, 4000), 1200, true, QPoint(0, 4000), QSize(5000, -4000));
    QTest::newRow("WMF window with an origin")
        << wmfDrawing(QRect(100, 200, 2400, 1920), 576, true, QPoint(100, 200), QSize(2400, 1920));
}

// The same drawing written in different mapping modes renders the same.
void TestMetafile::mappingModes()
{
    QFETCH(QByteArray, bytes);
    const QSize size(400, 320);
    const QImage expected = render(emfDrawing([](EmfBuilder &) {}, QTransform()), size);
    Metafile m;
    QVERIFY(m.loadData(bytes));
    // 100 x 80 mm at 96 dpi, or 400 x 320 at the WMF's units per inch.
    const double aspect = double(m.size().width()) / m.size().height();
    QVERIFY2(std::fabs(aspect - 1.25) < 0.01, qPrintable(QString::number(aspect)));
    const QImage ours = m.toImage(size);
    QCOMPARE(ours.pixelColor(120, 100), QColor(Qt::red));
    QCOMPARE(ours.pixelColor(290, 90), QColor(Qt::blue));
    QCOMPARE(ours.pixelColor(160, 260), QColor(Qt::green));
    QCOMPARE(ours.pixelColor(320, 240), QColor(255, 128, 0));
    QCOMPARE(ours.pixelColor(10, 10).alpha(), 0);
    // Coordinates rounded to whole logical units move edges by up to half a pixel.
    const double share = imagecompare::differingShare(ours, expected, 96);
    QVERIFY2(share < 0.02, qPrintable(QString::number(share)));
}

void TestMetafile::drawing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QColor>("color");
    const QRect square(QPoint(0, 0), QPoint(100, 100));
    auto base = [] {
        EmfBuilder b(Frame001mm);
        b.createBrush(1, 0, Qt::red).createBrush(2, 0, Qt::blue).select(0x80000008);
        return b;
    };
    {
        EmfBuilder b = base();
        b.select(1).saveDC().select(2).restoreDC(-1).rectangle(square);
        QTest::newRow("RestoreDC brings back the brush")
            << b.finish() << QPoint(50, 50) << QColor(Qt::red);
    }
    {
        EmfBuilder b = base();
        b.select(1).saveDC().select(2);
        for (int i = 0; i < 3000; ++i)
            b.saveDC();
        b.restoreDC(1).rectangle(square);
        QTest::newRow("restoring to the first of 3000 saves")
            << b.finish() << QPoint(50, 50) << QColor(Qt::red);
    }
    {
        EmfBuilder b = base();
        b.select(1).intersectClip(square).rectangle(QRect(0, 0, 300, 300));
        const QByteArray bytes = b.finish();
        QTest::newRow("clip rectangle, inside") << bytes << QPoint(50, 50) << QColor(Qt::red);
        QTest::newRow("clip rectangle, outside")
            << bytes << QPoint(150, 150) << QColor(Qt::transparent);
    }
    {
        EmfBuilder b = base();
        b.select(1).worldTransform(1, 0, 0, 1, 200, 0).rectangle(square);
        const QByteArray bytes = b.finish();
        QTest::newRow("world transform moves the drawing")
            << bytes << QPoint(250, 50) << QColor(Qt::red);
        QTest::newRow("world transform, old place")
            << bytes << QPoint(50, 50) << QColor(Qt::transparent);
    }
    const QVector<QPoint> star = {{200, 20}, {260, 300}, {40, 120}, {360, 120}, {140, 300}};
    for (int mode : {1, 2}) {
        EmfBuilder b = base();
        b.select(1).setPolyFillMode(mode).poly16(86, star);
        QTest::newRow(mode == 1 ? "alternate fill leaves the star's centre"
                                : "winding fill fills the star's centre")
            << b.finish() << QPoint(200, 170) << QColor(mode == 1 ? Qt::transparent : Qt::red);
    }
    {
        QByteArray bits;
        const QByteArray info = dib24({{Qt::red, Qt::red}, {Qt::blue, Qt::blue}}, &bits);
        EmfBuilder b(Frame001mm);
        b.stretchDib(square, info, bits, 2, 2);
        const QByteArray bytes = b.finish();
        QTest::newRow("bottom-up bitmap, top row") << bytes << QPoint(50, 20) << QColor(Qt::red);
        QTest::newRow("bottom-up bitmap, bottom row")
            << bytes << QPoint(50, 80) << QColor(Qt::blue);
    }
    {
        EmfBuilder b = base();
        b.createBrush(3, 2, Qt::black, 0)
            .select(3)
            .setBkMode(2)
            .record(24, Le().color(Qt::black).bytes);
        b.record(25, Le().color(Qt::yellow).bytes).rectangle(square);
        QTest::newRow("hatched brush over an opaque background")
            << b.finish() << QPoint(50, 50) << QColor(Qt::yellow);
    }
    {
        EmfBuilder b(Frame001mm);
        b.record(82, fontRecord(1, -60)).select(1).record(24, Le().color(Qt::blue).bytes);
        b.setBkMode(1).record(84, textRecord(QPoint(10, 10), QStringLiteral("\u2588\u2588\u2588")));
        QTest::newRow("text in the text colour")
            << b.finish() << QPoint(30, 40) << QColor(Qt::blue);
    }
    {
        // Too stretched for Qt's glyph cache: drawn as outlines, in the same place.
        EmfBuilder b(Frame001mm);
        b.record(82, fontRecord(1, -20)).select(1).record(24, Le().color(Qt::blue).bytes);
        b.worldTransform(12, 0, 0, 1, 0, 0).setBkMode(1);
        b.record(84, textRecord(QPoint(1, 10), QStringLiteral("\u2588\u2588")));
        const QByteArray bytes = b.finish();
        QTest::newRow("text stretched twelve times")
            << bytes << QPoint(100, 22) << QColor(Qt::blue);
        QTest::newRow("text stretched twelve times, below")
            << bytes << QPoint(100, 60) << QColor(Qt::transparent);
    }
    {
        EmfBuilder b = base();
        b.select(1).setMapMode(3).setViewportOrg(0, 320);
        b.ints(47, {0, 8000, 10000, 0, 10000, 4000, 5000, 8000}); // pie, right then up
        const QByteArray bytes = b.finish();
        QTest::newRow("pie turns counter-clockwise, y up")
            << bytes << QPoint(300, 100) << QColor(Qt::red);
        QTest::newRow("pie leaves the rest, y up")
            << bytes << QPoint(100, 250) << QColor(Qt::transparent);
    }
}

// What single records do: state, clipping, transforms, fills, bitmaps, text, arcs.
void TestMetafile::drawing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QPoint, at);
    QFETCH(QColor, color);
    const QImage image = render(bytes, QSize(400, 320));
    QVERIFY(!image.isNull());
    const QColor got = image.pixelColor(at);
    if (color.alpha() == 0) {
        QCOMPARE(got.alpha(), 0);
    } else {
        QVERIFY2(std::abs(got.red() - color.red()) < 8 &&
                     std::abs(got.green() - color.green()) < 8 &&
                     std::abs(got.blue() - color.blue()) < 8 && got.alpha() == 255,
                 qPrintable(got.name(QColor::HexArgb)));
    }
}

namespace {

// The colours of the raster-operation table: brush (P), source bitmap (S), destination (D).
constexpr QRgb P = 0x3C6E96, S = 0xC8501E, D = 0x5AA0F0;
constexpr quint32 NoSource = 0xFFFFFFFF;

QColor rgb(quint32 value)
{
    return QColor(QRgb(0xFF000000 | (value & 0xFFFFFF)));
}

// The destination square (0, 0)-(100, 100) in D, then one transfer onto (20, 20)-(80, 80)
// with the brush in P and, unless `source` is NoSource, a 2 x 2 bitmap of that colour.
QByteArray emfTransfer(quint32 rop, quint32 source, bool destination = true)
{
    EmfBuilder b(Frame001mm);
    b.createBrush(1, 0, rgb(D)).createBrush(2, 0, rgb(P)).select(0x80000008);
    if (destination) b.select(1).rectangle(QRect(QPoint(0, 0), QPoint(100, 100)));
    b.select(2);
    const QRect target(20, 20, 60, 60);
    if (source == NoSource) {
        b.bitBlt(target, rop);
    } else {
        QByteArray bits;
        const QByteArray info =
            dib24({{rgb(source), rgb(source)}, {rgb(source), rgb(source)}}, &bits);
        b.stretchDib(target, info, bits, 2, 2, rop);
    }
    return b.finish();
}

QByteArray wmfTransfer(quint32 rop, quint32 source)
{
    WmfBuilder b(QRect(0, 0, 400, 320), 96);
    b.createBrush(0, rgb(D)).createBrush(0, rgb(P)).createPen(5, 0, Qt::black);
    b.select(2).select(0).rectangle(QRect(QPoint(0, 0), QPoint(100, 100))).select(1);
    const qint16 lo = qint16(rop & 0xFFFF), hi = qint16(rop >> 16);
    if (source == NoSource) {
        // DIBBITBLT without a bitmap: rop, source y and x, a reserved word, the size, where.
        b.record(0x0940, {lo, hi, 0, 0, 0, 60, 60, 20, 20});
    } else {
        QByteArray bits;
        const QByteArray info =
            dib24({{rgb(source), rgb(source)}, {rgb(source), rgb(source)}}, &bits);
        Le p;
        p.u16(quint16(lo)).u16(quint16(hi)).u16(0);         // rop, DIB_RGB_COLORS
        p.i16(2).i16(2).i16(0).i16(0);                      // source size and place
        p.i16(60).i16(60).i16(20).i16(20).raw(info + bits); // destination size and place
        b.record(0x0F43, p.bytes);
    }
    return b.finish();
}

} // namespace

void TestMetafile::rasterOps_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QColor>("expected");
    QTest::addColumn<QColor>("outside");
    struct Case
    {
        const char *name;
        quint32 rop;
        quint32 source;
        quint32 result;
    };
    const Case cases[] = {
        {"D (no-op over the picture)", 0x00AA0029, NoSource, D},
        {"BLACKNESS", 0x00000042, NoSource, 0},
        {"WHITENESS", 0x00FF0062, NoSource, 0xFFFFFF},
        {"PATCOPY", 0x00F00021, NoSource, P},
        {"NOTPATCOPY", 0x000F0001, NoSource, ~P},
        {"PATINVERT", 0x005A0049, NoSource, P ^ D},
        {"DSTINVERT", 0x00550009, NoSource, ~D},
        {"DPa", 0x00A000C9, NoSource, P & D},
        {"PDno", 0x00F50225, NoSource, P | ~D},
        {"SRCCOPY", 0x00CC0020, S, S},
        {"SRCPAINT", 0x00EE0086, S, S | D},
        {"SRCAND", 0x008800C6, S, S & D},
        {"SRCINVERT", 0x00660046, S, S ^ D},
        {"SRCERASE", 0x00440328, S, S & ~D},
        {"NOTSRCCOPY", 0x00330008, S, ~S},
        {"NOTSRCERASE", 0x001100A6, S, ~(S | D)},
        {"MERGECOPY", 0x00C000CA, S, P & S},
        {"MERGEPAINT", 0x00BB0226, S, ~S | D},
        {"PATPAINT", 0x00FB0A09, S, P | ~S | D},
        {"D with a bitmap", 0x00AA0029, S, D},
        {"PSDPxax", 0x00B8074A, S, ((D ^ P) & S) ^ P},
    };
    for (const Case &c : cases) {
        QTest::newRow(qPrintable(QStringLiteral("EMF %1").arg(c.name)))
            << emfTransfer(c.rop, c.source) << rgb(c.result) << rgb(D);
        QTest::newRow(qPrintable(QStringLiteral("WMF %1").arg(c.name)))
            << wmfTransfer(c.rop, c.source) << rgb(c.result) << rgb(D);
    }
    // Over nothing drawn, the no-op leaves the picture transparent; DSTINVERT sees paper.
    const QColor none(Qt::transparent);
    QTest::newRow("EMF D over nothing") << emfTransfer(0x00AA0029, NoSource, false) << none << none;
    QTest::newRow("EMF DSTINVERT over nothing")
        << emfTransfer(0x00550009, NoSource, false) << rgb(0) << none;
    QTest::newRow("EMF SRCAND over nothing") << emfTransfer(0x008800C6, S, false) << rgb(S) << none;
}

// Bit-block transfers evaluate their ternary raster operation over brush, source and
// destination, in enhanced and in Windows metafiles alike.
void TestMetafile::rasterOps()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QColor, expected);
    QFETCH(QColor, outside);
    const QImage image = render(bytes, QSize(400, 320));
    QVERIFY(!image.isNull());
    QCOMPARE(image.pixelColor(50, 50), expected);
    // Outside the transfer the destination stays as it was.
    QCOMPARE(image.pixelColor(10, 50), outside);
    QCOMPARE(image.pixelColor(50, 90), outside);
}

// Text given as glyph indices draws the font's glyphs, as the same text given as characters.
void TestMetafile::glyphIndices()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(60);
    const QVector<quint32> indexes = QRawFont::fromFont(font).glyphIndexesForString("AB");
    QCOMPARE(indexes.size(), 2);
    QString units;
    for (quint32 index : indexes)
        units += QChar(ushort(index));
    auto text = [](const QString &string, quint32 options) {
        EmfBuilder b(Frame001mm);
        b.record(82, fontRecord(1, -60)).select(1).record(24, Le().color(Qt::blue).bytes);
        b.setBkMode(1).record(84, textRecord(QPoint(10, 10), string, 0, options));
        return render(b.finish(), QSize(400, 320));
    };
    const QImage characters = text(QStringLiteral("AB"), 0x100);
    const QImage glyphs = text(units, 0x110); // ETO_NO_RECT | ETO_GLYPH_INDEX
    const QImage asCharacters = text(units, 0x100);
    QVERIFY(imagecompare::differingShare(characters, asCharacters, 96) > 0.002);
    const double share = imagecompare::differingShare(glyphs, characters, 96);
    QVERIFY2(share < 0.001, qPrintable(QString::number(share)));
}

void TestMetafile::pageSize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("exported");
    // An A4 page recorded against a 1200-dpi printer: 14031 x 9920 printer pixels.
    const QRect a4(0, 0, 29700, 21000);
    QTest::newRow("1200-dpi device") << EmfBuilder(a4)
                                            .referenceDevice(QSize(14031, 9921), QSize(297, 210))
                                            .createBrush(1, 0, Qt::red)
                                            .select(1)
                                            .rectangle(QRect(QPoint(0, 0), QPoint(14031, 9921)))
                                            .finish()
                                     << QSize(1122, 793) << QSize(400, 282);
    // 100 x 80 mm on a device whose pixels are a third taller than wide: 379 x 227 of them.
    QTest::newRow("oblong device pixels") << EmfBuilder(Frame001mm)
                                                 .referenceDevice(QSize(1024, 768), QSize(270, 270))
                                                 .createBrush(1, 0, Qt::red)
                                                 .select(1)
                                                 .rectangle(QRect(QPoint(0, 0), QPoint(379, 228)))
                                                 .finish()
                                          << QSize(377, 302) << QSize(377, 302);
}

// A metafile is as large as its frame on paper at the screen's resolution, whatever its
// reference device; picsage-image converts and exports it at that size.
void TestMetafile::pageSize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QSize, exported);
    Metafile m;
    QVERIFY(m.loadData(bytes));
    QCOMPARE(m.size(), size);
    const QImage image = m.toImage(size);
    QCOMPARE(image.pixelColor(size.width() / 2, size.height() / 2), QColor(Qt::red));
    QCOMPARE(image.pixelColor(size.width() - 3, size.height() - 3), QColor(Qt::red));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString input = dir.filePath("page.emf");
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    auto run = [](const QStringList &args) {
        QProcess tool;
        tool.start(QStringLiteral(PICSAGE_IMAGE_TOOL), args);
        return tool.waitForFinished(60000) ? tool.exitCode() : -1;
    };
    QCOMPARE(run({"convert", input, "-o", dir.filePath("converted.png")}), 0);
    QCOMPARE(QImage(dir.filePath("converted.png")).size(), size);
    QCOMPARE(run({"export", input, "-o", dir.filePath("exported.png"), "--max-width", "400"}), 0);
    const QImage out(dir.filePath("exported.png"));
    QCOMPARE(out.size(), exported);
    QCOMPARE(out.pixelColor(out.width() / 2, out.height() / 2), QColor(Qt::red));
}

void TestMetafile::hostile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("loads");
    const QRect box(0, 0, 100, 100);
    QFile pngFile(RealData + "/wmf/fulltest.png");
    pngFile.open(QIODevice::ReadOnly);
    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("a PNG file") << pngFile.read(4096) << false;
    const QByteArray good = EmfBuilder(Frame001mm).rectangle(box).finish();
    QTest::newRow("EMF header cut short") << good.left(60) << false;
    QTest::newRow("EMF header size beyond the file") << patched(good, 4, 0x7FFFFFF0) << false;
    QTest::newRow("EMF record size beyond the file")
        << EmfBuilder(Frame001mm).rawRecord(43, 0x7FFFFFF0, QByteArray(16, '\0')).finish() << true;
    QTest::newRow("EMF zero-sized record")
        << EmfBuilder(Frame001mm).rawRecord(43, 0, QByteArray(16, '\0')).finish() << true;
    QTest::newRow("EMF record of four bytes")
        << EmfBuilder(Frame001mm).rawRecord(43, 4, QByteArray(16, '\0')).finish() << true;
    QTest::newRow("EMF absurd frame")
        << patched(patched(good, 32, 0x7FFFFFFF), 36, 0x7FFFFFFF) << true;
    QTest::newRow("EMF frame and bounds empty")
        << patched(patched(patched(patched(good, 32, 0), 36, 0), 16, 0x80000000), 20, 0x80000000)
        << false;
    QTest::newRow("EMF absurd extents")
        << EmfBuilder(Frame001mm)
               .setMapMode(8)
               .setWindowExt(1, 1)
               .setViewportExt(0x7FFFFFFF, 0x7FFFFFFF)
               .ellipse(QRect(QPoint(-1000000, -1000000), QPoint(1000000, 1000000)))
               .finish()
        << true;
    QTest::newRow("EMF zero window extent")
        << EmfBuilder(Frame001mm).setMapMode(8).setWindowExt(0, 0).rectangle(box).finish() << true;
    {
        EmfBuilder b(Frame001mm);
        for (int i = 0; i < 100000; ++i)
            b.saveDC();
        b.rectangle(box).restoreDC(-100000).restoreDC(-5).restoreDC(7);
        QTest::newRow("EMF 100000 nested saves") << b.finish() << true;
    }
    QTest::newRow("EMF polygon count beyond the record")
        << EmfBuilder(Frame001mm).poly16(86, {{0, 0}, {10, 0}, {0, 10}}, 0x7FFFFFFF).finish()
        << true;
    QTest::newRow("EMF polygon of 65535 points")
        << EmfBuilder(Frame001mm).poly16(86, QVector<QPoint>(65535, QPoint(5, 5))).finish() << true;
    QTest::newRow("EMF poly-polygon counts beyond the record")
        << EmfBuilder(Frame001mm).ints(91, {0, 0, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, 3}).finish()
        << true;
    QTest::newRow("EMF poly-polygon counts beyond its points")
        << EmfBuilder(Frame001mm)
               .ints(8, {0, 0, 0, 0, 2, 3, 3, 0x7FFFFFFF, 0, 0, 1, 1, 2, 0})
               .finish()
        << true;
    {
        QByteArray bits;
        QByteArray info = dib24({{Qt::red}}, &bits);
        info = patched(patched(info, 4, 0x7FFFFFFF), 8, 0x7FFFFFFF);
        QTest::newRow("EMF bitmap of absurd size")
            << EmfBuilder(Frame001mm).stretchDib(box, info, bits, 1, 1).finish() << true;
        const QByteArray stretch =
            EmfBuilder(Frame001mm).stretchDib(box, dib24({{Qt::red}}, &bits), bits, 1, 1).finish();
        QTest::newRow("EMF bitmap offsets beyond the record")
            << patched(stretch, 88 + 48, 0xFFFFFF00) << true;
        QTest::newRow("EMF bitmap rows missing") << patched(stretch, 88 + 60, 1) << true;
    }
    {
        EmfBuilder b(Frame001mm);
        for (int i = 0; i < 20000; ++i)
            b.ints(29, {i % 400, i / 400, i % 400 + 1, i / 400 + 1});
        QTest::newRow("EMF 20000 excluded clip rectangles") << b.rectangle(box).finish() << true;
    }
    {
        // A run-length coded 8192 x 4096 bitmap takes a few bytes; a thousand of them would
        // ask for 32 billion pixels.
        Le info;
        info.u32(40).i32(8192).i32(4096).u16(1).u16(8).u32(1).u32(4).i32(0).i32(0).u32(0).u32(0);
        EmfBuilder b(Frame001mm);
        for (int i = 0; i < 1000; ++i)
            b.stretchDib(box, info.bytes, QByteArray::fromHex("00000001"), 8192, 4096);
        QTest::newRow("EMF a thousand huge run-length bitmaps") << b.finish() << true;
    }
    QTest::newRow("EMF clip region with a huge count")
        << EmfBuilder(Frame001mm)
               .ints(75, {48, 1, 32, 1, 0x7FFFFFFF, 0, 0, 0, 10, 10, 0, 0, 5, 5})
               .finish()
        << true;
    QTest::newRow("EMF text longer than its record")
        << EmfBuilder(Frame001mm).record(84, textRecord(QPoint(1, 1), "ab", 0x7FFFFFFF)).finish()
        << true;
    {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        QTest::newRow("EMF world transform not finite")
            << EmfBuilder(Frame001mm).worldTransform(nan, 0, 0, inf, 0, 0).rectangle(box).finish()
            << true;
    }
    QTest::newRow("EMF dashed line a billion pixels long") << EmfBuilder(Frame001mm)
                                                                  .createPen(1, 1, 0, Qt::black)
                                                                  .select(1)
                                                                  .moveTo(-900000000, 5)
                                                                  .lineTo(900000000, 5)
                                                                  .finish()
                                                           << true;
    QTest::newRow("EMF font of absurd height") << EmfBuilder(Frame001mm)
                                                      .record(82, fontRecord(1, -2000000000))
                                                      .select(1)
                                                      .record(84, textRecord(QPoint(1, 1), "ab"))
                                                      .finish()
                                               << true;
    // Glyphs thousands of pixels wide and a fraction of one high overflow FreeType's
    // rasteriser inside Qt's glyph cache.
    QTest::newRow("EMF text stretched 67000 times along one axis")
        << EmfBuilder(Frame001mm)
               .setMapMode(8)
               .setWindowExt(10, 4000)
               .setViewportExt(1690, 10)
               .record(82, fontRecord(1, -28))
               .select(1)
               .record(84,
                       textRecord(QPoint(24, 42), QStringLiteral("EMF GDI full command overview")))
               .finish()
        << true;

    {
        // Found by fuzzing: picsage-image render --box 512x512 ended with SIGSEGV on it.
        QFile file(RealData + "/../fuzz/fuzz_metafile/text-stretched-past-the-glyph-cache.emf");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow("EMF text stretched past the glyph cache, 512 wide")
            << file.readAll() << true;
    }
    QTest::newRow("WMF zero-sized record")
        << WmfBuilder(box, 96).rawRecord(0, 0x041B, QByteArray(8, '\0')).rectangle(box).finish()
        << true;
    QTest::newRow("WMF record size beyond the file")
        << WmfBuilder(box, 96).rawRecord(0x7FFFFFFF, 0x041B, QByteArray(8, '\0')).finish() << true;
    QTest::newRow("WMF placeable with no units per inch")
        << patched(WmfBuilder(box, 96).rectangle(box).finish(), 14, 0) << false;
    QTest::newRow("WMF empty box") << WmfBuilder(QRect(5, 5, 0, 0), 96).finish() << false;
    QTest::newRow("WMF without a window or a placeable header")
        << WmfBuilder(box, -1).rectangle(box).finish() << false;
    QTest::newRow("WMF window only, no placeable header")
        << WmfBuilder(box, -1).setWindowExt(200, 100).rectangle(box).finish() << true;
    {
        WmfBuilder b(box, 96);
        for (int i = 0; i < 70000; ++i)
            b.createBrush(0, Qt::red);
        QTest::newRow("WMF 70000 objects never deleted")
            << b.select(65535).rectangle(box).finish() << true;
    }
    QTest::newRow("WMF region with a huge scan count")
        << WmfBuilder(box, 96)
               .record(0x06FF, {0, 6, 0, 0, 0x7FFF, 0x7FFF, 0x7FFF, 0, 0, 10, 10, 3, 0, 5})
               .select(0)
               .record(0x012C, {0})
               .rectangle(box)
               .finish()
        << true;
    QTest::newRow("WMF poly-polygon counts beyond the record")
        << WmfBuilder(box, 96).record(0x0538, {2, 0x7FFF, 0x7FFF, 1, 1}).finish() << true;
    QTest::newRow("WMF text longer than its record")
        << WmfBuilder(box, 96).record(0x0521, {0x7FFF, 0x4141, 5, 5}).finish() << true;
    QTest::newRow("WMF bitmap of absurd size")
        << WmfBuilder(box, 96)
               .record(0x0F43, {0x20, 0xCC, 0, 1, 1, 0, 0, 10, 10, 0, 0, 40, 0, 0x7FFF, 0x7FFF,
                                0x7FFF, 0x7FFF, 1, 24})
               .finish()
        << true;
    for (const char *name : {"wmf/fulltest.wmf", "emf/fulltest.emf"}) {
        QFile file(RealData + '/' + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        for (int part : {3, 2}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 cut to 1/%2").arg(name).arg(part)))
                << bytes.left(bytes.size() / part) << true;
        }
        QByteArray scrambled = bytes;
        for (int i = 200; i < scrambled.size(); i += 97)
            scrambled[i] = char(scrambled[i] ^ 0x5A);
        QTest::newRow(qPrintable(QStringLiteral("%1 with bytes changed").arg(name)))
            << scrambled << true;
    }
}

// Broken and hostile files end in a refusal or a bounded rendering, never a crash.
void TestMetafile::hostile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, loads);
    Metafile m;
    QCOMPARE(m.loadData(bytes), loads);
    if (!loads) {
        QVERIFY(m.isNull());
        QVERIFY(m.toImage(QSize(10, 10)).isNull());
        return;
    }
    QVERIFY(m.size().width() >= 1 && m.size().width() <= 16384);
    QVERIFY(m.size().height() >= 1 && m.size().height() <= 16384);
    // A thumbnail, and what picsage-image render --box 512x512 paints.
    QVERIFY(!m.toImage(QSize(80, 60)).isNull());
    QVERIFY(!m.toImage(m.size().scaled(512, 512, Qt::KeepAspectRatio)).isNull());
}

void TestMetafile::backEnd_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("fitted");
    QTest::newRow("WMF") << "wmf/fulltest.wmf" << QSize(1056, 816) << QSize(200, 154);
    QTest::newRow("EMF") << "emf/fulltest.emf" << QSize(1056, 792) << QSize(200, 150);
}

// The metafile back-end behind an opened picture: sizes, painting into target ∩ visible
// without a shift, fitted renderings, and saving.
void TestMetafile::backEnd()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QSize, fitted);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = file.section(QLatin1Char('/'), -1);
    QVERIFY(QFile::copy(RealData + '/' + file, dir.filePath(name)));
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    QVERIFY(folder->init(dir.path(), {QStringLiteral("*.wmf"), QStringLiteral("*.emf")}));
    QSharedPointer<ImageWrapper> picture = folder->createImage(name, 0, folder);
    QVERIFY(picture);
    picture->load();
    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(picture->backEndKind(), BackEndMetafile);
    QCOMPARE(picture->imageSize(0), size);
    QCOMPARE(picture->imageSize(7), size);
    QCOMPARE(picture->frameCount(), 1);
    QVERIFY(!picture->canRotate(false));
    QVERIFY(!picture->canRotate(true));
    QVERIFY(picture->canDelete());
    QCOMPARE(picture->pixmapAt(0, 200, 200).size(), fitted);
    QCOMPARE(picture->imageAt(0, 0, 0).size(), size);
    QCOMPARE(picture->imageAt(0, 4000, 4000).width(), 4000); // fitting may enlarge
    QVERIFY(picture->pixmapAt(1, 200, 200).isNull());
    QVERIFY(picture->imageAt(-1, 0, 0).isNull());

    // Painting: white and the picture inside target ∩ visible, nothing elsewhere, and the
    // picture's top edge at the target's top edge.
    QImage canvas(700, 600, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::red);
    const QRect target(50, 40, size.width() / 2, size.height() / 2);
    const QRect visible(0, 0, 300, 250);
    {
        QPainter painter(&canvas);
        picture->paint(&painter, 0, target, visible, 0.5, nullptr);
    }
    QCOMPARE(canvas.pixelColor(40, 100), QColor(Qt::red));  // left of the target
    QCOMPARE(canvas.pixelColor(320, 100), QColor(Qt::red)); // right of the visible part
    QCOMPARE(canvas.pixelColor(100, 260), QColor(Qt::red)); // below the visible part
    QCOMPARE(canvas.pixelColor(298, 41), QColor(Qt::white));
    // The title band, where no raster operation makes white paper and transparency differ.
    const QImage expected = picture->imageAt(0, size.width() / 2, size.height() / 2);
    QImage painted = canvas.copy(QRect(target.topLeft(), QSize(250, 40)));
    const QImage wanted = imagecompare::overWhite(expected.copy(0, 0, 250, 40));
    QVERIFY(imagecompare::meanDifference(painted, wanted) < 4.0);

    // Saving: an unchanged picture in its own format is copied; a PNG is a rendering.
    const ImageFormat *own = picture->format();
    const ImageFormat *png = picture->imgFormat()->formatForId(FormatPng);
    const ImageFormat *psd = picture->imgFormat()->formatForId(FormatPsd);
    ImageBase *backEnd = picture->backEnd();
    QVERIFY(backEnd);
    const QString copy = dir.filePath("copy." + own->suffixes.first());
    QVERIFY(backEnd->save(own, copy, true));
    QFile original(dir.filePath(name)), copied(copy);
    QVERIFY(original.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), original.readAll());
    QVERIFY(backEnd->save(png, dir.filePath("nothing.png"), false));
    QVERIFY(!QFile::exists(dir.filePath("nothing.png")));
    QVERIFY(backEnd->save(png, dir.filePath("saved.png"), true));
    QCOMPARE(QImage(dir.filePath("saved.png")).size(), size);
    QVERIFY(!backEnd->save(psd, dir.filePath("saved.psd"), true));
}

void TestMetafile::paintDevices_data()
{
    QTest::addColumn<bool>("pixmap");
    QTest::newRow("image") << false;
    QTest::newRow("pixmap") << true;
}

// The back-end paints raster operations that read the destination onto any device: what is
// under them is the picture itself, on white paper.
void TestMetafile::paintDevices()
{
    QFETCH(bool, pixmap);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("invert.emf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(emfTransfer(0x00550009, NoSource)); // DSTINVERT over the square in D
    file.close();
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    QVERIFY(folder->init(dir.path(), {QStringLiteral("*.emf")}));
    QSharedPointer<ImageWrapper> picture = folder->createImage("invert.emf", 0, folder);
    QVERIFY(picture);
    picture->load();
    QCOMPARE(picture->status(), ImageStatusReady);
    const QRect target(QPoint(0, 0), picture->imageSize(0));
    QImage painted;
    if (pixmap) {
        QPixmap device(target.size());
        device.fill(Qt::red);
        QPainter painter(&device);
        picture->paint(&painter, 0, target, target, 1.0, nullptr);
        painter.end();
        painted = device.toImage();
    } else {
        painted = QImage(target.size(), QImage::Format_ARGB32_Premultiplied);
        painted.fill(Qt::red);
        QPainter painter(&painted);
        picture->paint(&painter, 0, target, target, 1.0, nullptr);
    }
    // Device pixels (50, 50) and (10, 50) of the 400 x 320 frame, and paper beside them.
    const double k = target.width() / 400.0;
    QCOMPARE(painted.pixelColor(int(50 * k), int(50 * k)), rgb(~D));
    QCOMPARE(painted.pixelColor(int(10 * k), int(50 * k)), rgb(D));
    QCOMPARE(painted.pixelColor(int(200 * k), int(200 * k)), QColor(Qt::white));
}

void TestMetafile::imageTool_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("WMF") << "wmf/fulltest.wmf" << QSize(1056, 816) << 20.0;
    QTest::newRow("EMF") << "emf/fulltest.emf" << QSize(1056, 792) << 30.0;
}

// picsage-image describes and renders metafiles.
void TestMetafile::imageTool()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);
    QTemporaryDir dir;
    QProcess info;
    info.start(QStringLiteral(PICSAGE_IMAGE_TOOL), {"info", RealData + '/' + file});
    QVERIFY(info.waitForFinished(60000));
    QCOMPARE(info.exitCode(), 0);
    const QJsonObject o = QJsonDocument::fromJson(info.readAllStandardOutput().trimmed()).object();
    QCOMPARE(o.value("backend").toString(), QStringLiteral("metafile"));
    QCOMPARE(o.value("width").toInt(), size.width());
    QCOMPARE(o.value("height").toInt(), size.height());
    QCOMPARE(o.value("frames").toInt(), 1);

    QProcess render;
    const QString out = dir.filePath("out.png");
    render.start(QStringLiteral(PICSAGE_IMAGE_TOOL),
                 {"render", RealData + '/' + file, "-o", out, "--box", "1100x1100"});
    QVERIFY(render.waitForFinished(60000));
    QCOMPARE(render.exitCode(), 0);
    const QImage image(out);
    QVERIFY(!image.isNull());
    const QImage reference(RealData + '/' + file.left(file.lastIndexOf('.')) + ".png");
    const double difference = imagecompare::contentDifference(image, reference, 80);
    QVERIFY2(difference < tolerance, qPrintable(QString::number(difference)));
}

QTEST_MAIN(TestMetafile)
#include "tst_metafile.moc"
