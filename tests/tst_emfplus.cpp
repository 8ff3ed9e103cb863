// EMF+ records in enhanced metafiles: each record kind drawn from files written record by
// record, the choice between EMF+ and GDI records that GDI+ makes, and broken records.
#include "support/EmfPlusBuilder.h"
#include "support/ImageCompare.h"

#include "metafile/Metafile.h"

#include <QBuffer>
#include <QPainter>
#include <QtTest>

#include <functional>

using namespace mftest;
using metafile::Metafile;
using B = EmfPlusBuilder;

namespace {

// A probe: the colour expected at a point, or somewhere inside an area, or an area whose
// pixels are all either fully covered or not at all.
struct Probe
{
    enum Kind { Pixel, Anywhere, NoPartial };
    QRect area;
    QColor color; // invalid: nothing drawn
    Kind kind = Pixel;
};
using Probes = QVector<Probe>;

Probe at(int x, int y, const QColor &c = QColor())
{
    return {QRect(x, y, 1, 1), c, Probe::Pixel};
}
Probe inside(const QRect &r, const QColor &c)
{
    return {r, c, Probe::Anywhere};
}
Probe noPartial(const QRect &r)
{
    return {r, QColor(), Probe::NoPartial};
}

const QRect Frame001mm(0, 0, 10000, 8000); // 400 x 320 device pixels at 4 per mm
const double Tolerance = 30;
const QSize Pixels(400, 320);

bool near(QRgb p, const QColor &c, int tolerance)
{
    if (!c.isValid()) return qAlpha(p) < 16;
    return qAlpha(p) > 200 && std::abs(qRed(p) - c.red()) <= tolerance &&
           std::abs(qGreen(p) - c.green()) <= tolerance &&
           std::abs(qBlue(p) - c.blue()) <= tolerance;
}

// An EMF whose first record after the header holds `plus`' records (and an EMF+ header
// when `header`); `gdi` writes GDI records after it.
QByteArray emfPlus(const std::function<void(B &)> &plus, bool dual = false,
                   const std::function<void(EmfBuilder &)> &gdi = {})
{
    EmfBuilder emf(Frame001mm);
    B b;
    b.header(dual);
    plus(b);
    b.flushInto(emf);
    if (gdi) gdi(emf);
    return emf.finish();
}

void blueGdiBox(EmfBuilder &e, const QRect &r)
{
    e.createBrush(1, 0, Qt::blue).select(1).select(0x80000008).rectangle(r);
}

QByteArray points(const QVector<QPointF> &pts)
{
    Le p;
    for (const QPointF &pt : pts)
        p.f32(float(pt.x())).f32(float(pt.y()));
    return p.bytes;
}

} // namespace

Q_DECLARE_METATYPE(Probes)

class TestEmfPlus : public QObject
{
    Q_OBJECT

private slots:
    void realFile();
    void drawing_data();
    void drawing();
    void hostile_data();
    void hostile();
};

// The real file's EMF+ panel (a gradient, an ellipse, a line and text, drawn only by EMF+
// records) against LibreOffice's rendering of the file (tests/data/real/MANIFEST.tsv). The
// reference places the picture on a page of its own: both are located by their drawn
// content, and the panel is cut out of each at the same place within it.
void TestEmfPlus::realFile()
{
    const QString path = QStringLiteral(PICSAGE_REAL_DATA) + "/emf/fulltest.emf";
    const QImage reference(QStringLiteral(PICSAGE_REAL_DATA) + "/emf/fulltest.png");
    QVERIFY(!reference.isNull());
    Metafile m;
    QVERIFY(m.load(path));
    const QImage ours = imagecompare::overWhite(m.toImage(m.size()));
    const QImage theirs = imagecompare::overWhite(reference);
    const QRect co = imagecompare::drawnContent(ours), ct = imagecompare::drawnContent(theirs);
    QVERIFY(!co.isNull() && !ct.isNull());
    // The panel's drawing, below its two GDI text lines, as shares of the drawn content.
    const QRectF emfPlusPanel(0.36, 0.78, 0.30, 0.20), gdiPanel(0.01, 0.78, 0.30, 0.20);
    auto cut = [&](const QImage &image, const QRect &content, const QRectF &panel) {
        return image.copy(QRectF(content.x() + panel.x() * content.width(),
                                 content.y() + panel.y() * content.height(),
                                 panel.width() * content.width(), panel.height() * content.height())
                              .toRect());
    };
    const QImage expected = cut(theirs, ct, emfPlusPanel);
    const double difference =
        imagecompare::contentDifference(cut(ours, co, emfPlusPanel), expected, 80);
    QVERIFY2(difference < Tolerance, qPrintable(QString::number(difference)));
    // The measure tells panels apart: the neighbouring GDI panel is far from it.
    const double unrelated = imagecompare::contentDifference(cut(ours, co, gdiPanel), expected, 80);
    QVERIFY2(unrelated > Tolerance, qPrintable(QString::number(unrelated)));
}

void TestEmfPlus::drawing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Probes>("probes");
    const QColor red(Qt::red), green(Qt::green), blue(Qt::blue), black(Qt::black);
    auto row = [](const char *name, const QByteArray &bytes, const Probes &probes) {
        QTest::newRow(name) << bytes << probes;
    };
    const QRect box(QPoint(200, 200), QPoint(300, 300));

    // Which records draw.
    row("EMF+ only: the EMF+ fill draws, the GDI records do not",
        emfPlus([&](B &b) { b.fillRectColor(QRectF(10, 10, 100, 100), red); }, false,
                [&](EmfBuilder &e) { blueGdiBox(e, box); }),
        {at(50, 50, red), at(250, 250)});
    row("dual: the GDI fallback is skipped",
        emfPlus([&](B &b) { b.fillRectColor(QRectF(200, 200, 100, 100), red); }, true,
                [&](EmfBuilder &e) { blueGdiBox(e, box); }),
        {at(250, 250, red)});
    row("GDI records after GetDC draw",
        emfPlus([&](B &b) { b.record(B::GetDC, 0, {}); }, true,
                [&](EmfBuilder &e) { blueGdiBox(e, box); }),
        {at(250, 250, blue)});
    {
        // An EMF+ header later than the first record: the file is a GDI file that
        // carries some EMF+ drawing too.
        EmfBuilder e(Frame001mm);
        blueGdiBox(e, box);
        B b;
        b.header(true).fillRectColor(QRectF(10, 10, 100, 100), red);
        b.flushInto(e);
        e.rectangle(QRect(QPoint(320, 10), QPoint(390, 80)));
        row("a late EMF+ header keeps the GDI records", e.finish(),
            {at(250, 250, blue), at(50, 50, red), at(350, 50, blue)});
    }
    row("EndOfFile ends the EMF+ drawing", emfPlus([&](B &b) {
            b.record(B::EndOfFile, 0, {}).fillRectColor(QRectF(10, 10, 100, 100), red);
        }),
        {at(50, 50)});

    // Objects and shapes.
    row("brush object", emfPlus([&](B &b) {
            b.object(3, 1, B::solidBrush(green)).fillRect(QRectF(10, 10, 100, 100), 3, false);
        }),
        {at(50, 50, green), at(150, 150)});
    row("a brush object in two pieces", emfPlus([&](B &b) {
            const QByteArray whole = B::solidBrush(green);
            Le first;
            first.u32(quint32(whole.size())).raw(whole.left(8));
            b.record(B::Object, 0x8000 | 0x0100 | 3, first.bytes);
            b.record(B::Object, 0x0100 | 3, whole.mid(8));
            b.fillRect(QRectF(10, 10, 100, 100), 3, false);
        }),
        {at(50, 50, green)});
    row("a brush object in two pieces, both flagged", emfPlus([&](B &b) {
            const QByteArray whole = B::solidBrush(green);
            for (const QByteArray &piece : {whole.left(8), whole.mid(8)}) {
                Le p;
                p.u32(quint32(whole.size())).raw(piece);
                b.record(B::Object, 0x8000 | 0x0100 | 3, p.bytes);
            }
            b.fillRect(QRectF(10, 10, 100, 100), 3, false);
        }),
        {at(50, 50, green)});
    row("Clear", emfPlus([&](B &b) {
            Le p;
            p.u32(QColor(Qt::green).rgba());
            b.record(B::Clear, 0, p.bytes);
        }),
        {at(5, 5, green), at(395, 315, green)});
    row("DrawRects with a 10-unit pen", emfPlus([&](B &b) {
            Le p;
            p.u32(1).raw(B::rect(QRectF(50, 50, 200, 100)));
            b.object(1, 2, B::pen(10, black)).record(B::DrawRects, 1, p.bytes);
        }),
        {at(50, 100, black), at(54, 100, black), at(150, 100), at(150, 58)});
    row("DrawRects, 16-bit rectangles", emfPlus([&](B &b) {
            Le p;
            p.u32(1).i16(50).i16(50).i16(200).i16(100);
            b.object(1, 2, B::pen(10, black)).record(B::DrawRects, 0x4000 | 1, p.bytes);
        }),
        {at(50, 100, black), at(150, 100)});
    row("FillEllipse", emfPlus([&](B &b) {
            Le p;
            p.u32(QColor(Qt::blue).rgba()).raw(B::rect(QRectF(100, 100, 200, 100)));
            b.record(B::FillEllipse, 0x8000, p.bytes);
        }),
        {at(200, 150, blue), at(105, 105), at(295, 195)});
    row("DrawEllipse", emfPlus([&](B &b) {
            b.object(2, 2, B::pen(6, black));
            b.record(B::DrawEllipse + 0, 2, B::rect(QRectF(100, 100, 200, 100)));
        }),
        {at(100, 150, black), at(200, 100, black), at(200, 150)});
    row("FillPolygon", emfPlus([&](B &b) {
            Le p;
            p.u32(QColor(Qt::red).rgba()).u32(3).raw(points({{100, 300}, {200, 100}, {300, 300}}));
            b.record(B::FillPolygon, 0x8000, p.bytes);
        }),
        {at(200, 250, red), at(110, 120)});
    row("FillPolygon, relative points", emfPlus([&](B &b) {
            Le p;
            // (100, 300) in the 15-bit form, +100/-200, +100/+200, then -5/0 in 7 bits.
            p.u32(QColor(Qt::red).rgba()).u32(4);
            p.u8(0x80).u8(100).u8(0x81).u8(0x2C);
            p.u8(0x80).u8(100).u8(0xFF).u8(0x38);
            p.u8(0x80).u8(100).u8(0x80).u8(200);
            p.u8(0x7B).u8(0);
            b.record(B::FillPolygon, 0x8000 | 0x0800, p.bytes);
        }),
        {at(200, 250, red), at(110, 120)});
    row("DrawLines, closed", emfPlus([&](B &b) {
            Le p;
            p.u32(3).raw(points({{100, 100}, {300, 100}, {300, 250}}));
            b.object(0, 2, B::pen(8, black)).record(B::DrawLines, 0x2000, p.bytes);
        }),
        {at(200, 100, black), at(300, 200, black), at(200, 175, black), at(250, 130)});
    row("dashed pen", emfPlus([&](B &b) {
            Le p;
            p.u32(2).raw(points({{0, 100}, {400, 100}}));
            b.object(0, 2, B::pen(10, black, {2, 2})).record(B::DrawLines, 0, p.bytes);
        }),
        {at(10, 100, black), at(30, 100), at(50, 100, black)});
    row("DrawBeziers", emfPlus([&](B &b) {
            Le p;
            p.u32(4).raw(points({{50, 200}, {50, 50}, {350, 50}, {350, 200}}));
            b.object(0, 2, B::pen(8, black)).record(B::DrawBeziers, 0, p.bytes);
        }),
        {at(50, 195, black), at(200, 88, black), at(200, 150)});
    row("path object: FillPath and DrawPath", emfPlus([&](B &b) {
            b.object(5, 3,
                     B::path({{50, 50}, {150, 50}, {150, 150}, {50, 150}},
                             QByteArray("\x00\x01\x01\x81", 4)));
            Le fill;
            fill.u32(QColor(Qt::green).rgba());
            b.record(B::FillPath, 0x8000 | 5, fill.bytes);
            b.object(1, 2, B::pen(6, black));
            Le draw;
            draw.u32(1);
            b.record(B::DrawPath, 5, draw.bytes);
        }),
        {at(100, 100, green), at(50, 100, black), at(100, 150, black), at(200, 200)});
    row("FillPie", emfPlus([&](B &b) {
            Le p;
            p.u32(QColor(Qt::red).rgba()).f32(0).f32(90).raw(B::rect(QRectF(100, 60, 200, 200)));
            b.record(B::FillPie, 0x8000, p.bytes);
        }),
        {at(250, 210, red), at(150, 110), at(250, 110), at(150, 210)});
    row("FillClosedCurve", emfPlus([&](B &b) {
            Le p;
            p.u32(QColor(Qt::blue).rgba()).f32(0.5f).u32(4);
            p.raw(points({{100, 160}, {200, 60}, {300, 160}, {200, 260}}));
            b.record(B::FillClosedCurve, 0x8000, p.bytes);
        }),
        {at(200, 160, blue), at(105, 70)});
    row("region object: FillRegion of two rectangles", emfPlus([&](B &b) {
            b.object(4, 4, B::region(QRectF(0, 0, 100, 100), 2, QRectF(200, 200, 100, 100)));
            Le p;
            p.u32(QColor(Qt::red).rgba());
            b.record(B::FillRegion, 0x8000 | 4, p.bytes);
        }),
        {at(50, 50, red), at(250, 250, red), at(150, 150)});
    row("linear gradient", emfPlus([&](B &b) {
            b.object(2, 1, B::linearBrush(QRectF(0, 0, 400, 100), red, blue));
            b.fillRect(QRectF(0, 0, 400, 320), 2, false);
        }),
        {at(2, 50, red), at(398, 50, blue)});
    row("hatch brush", emfPlus([&](B &b) {
            b.object(2, 1, B::hatchBrush(4, black, green));
            b.fillRect(QRectF(0, 0, 100, 100), 2, false);
        }),
        {inside(QRect(0, 0, 100, 100), black), inside(QRect(0, 0, 100, 100), green), at(150, 150)});
    row("path gradient: centre colour inside, nothing outside its boundary", emfPlus([&](B &b) {
            Le p;
            p.u32(B::Version).u32(3).u32(0).i32(0).u32(QColor(Qt::red).rgba()).f32(200).f32(150);
            p.u32(1).u32(QColor(Qt::blue).rgba()).u32(4);
            p.raw(points({{100, 100}, {300, 100}, {300, 200}, {100, 200}}));
            b.object(2, 1, p.bytes).fillRect(QRectF(50, 50, 300, 200), 2, false);
        }),
        {at(200, 150, red), at(60, 60), inside(QRect(100, 100, 10, 10), QColor(80, 0, 175))});
    row("texture brush", emfPlus([&](B &b) {
            Le p;
            p.u32(B::Version).u32(2).u32(0).i32(0);
            p.raw(B::bitmap({{Qt::red, Qt::green}, {Qt::blue, QColor(Qt::yellow)}}));
            b.object(2, 1, p.bytes).fillRect(QRectF(0, 0, 100, 100), 2, false);
        }),
        {at(0, 0, red), at(1, 0, green), at(0, 1, blue), at(2, 3, blue), at(150, 150)});
    row("DrawArc", emfPlus([&](B &b) {
            Le p;
            p.f32(0).f32(90).raw(B::rect(QRectF(100, 60, 200, 200)));
            b.object(0, 2, B::pen(8, black)).record(B::DrawArc, 0, p.bytes);
        }),
        {at(270, 230, black), at(300, 160, black), at(100, 160), at(200, 160)});
    row("source-copy compositing replaces what is below", emfPlus([&](B &b) {
            b.fillRectColor(QRectF(0, 0, 100, 100), red);
            b.record(0x4023, 1, {});
            b.fillRectColor(QRectF(0, 0, 100, 100), QColor(0, 0, 255, 128));
        }),
        {at(50, 50, QColor(0, 0, 255, 128))});

    // Transforms, containers and state.
    row("world transform", emfPlus([&](B &b) {
            b.floats(B::SetWorldTransform, 0, {2, 0, 0, 2, 0, 0});
            b.fillRectColor(QRectF(10, 10, 50, 50), red);
        }),
        {at(100, 100, red), at(130, 130)});
    row("translate, then scale after it", emfPlus([&](B &b) {
            b.floats(B::TranslateWorldTransform, 0, {100, 0});
            b.floats(B::ScaleWorldTransform, 0x2000, {1, 2});
            b.fillRectColor(QRectF(0, 0, 50, 50), red);
        }),
        {at(125, 90, red), at(25, 25), at(125, 110)});
    row("rotation", emfPlus([&](B &b) {
            b.floats(B::TranslateWorldTransform, 0, {200, 100});
            b.floats(B::RotateWorldTransform, 0, {90});
            b.fillRectColor(QRectF(0, 0, 100, 20), red);
        }),
        {at(190, 150, red), at(250, 110)});
    row("page unit inch", emfPlus([&](B &b) {
            b.floats(B::SetPageTransform, 4, {1});
            b.fillRectColor(QRectF(0.5, 0.5, 1, 1), red);
        }),
        {at(100, 100, red), at(40, 40), at(150, 150)});
    row("page unit millimetre, scale 2", emfPlus([&](B &b) {
            b.floats(B::SetPageTransform, 6, {2});
            b.fillRectColor(QRectF(0, 0, 10, 10), red);
        }),
        {at(70, 70, red), at(80, 80)});
    row("Save and Restore", emfPlus([&](B &b) {
            Le i;
            i.u32(7);
            b.record(B::Save, 0, i.bytes);
            b.floats(B::SetWorldTransform, 0, {1, 0, 0, 1, 200, 0});
            b.record(B::Restore, 0, i.bytes);
            b.fillRectColor(QRectF(10, 10, 50, 50), red);
        }),
        {at(30, 30, red), at(230, 30)});
    row("BeginContainer maps its source rectangle onto its destination", emfPlus([&](B &b) {
            Le p;
            p.raw(B::rect(QRectF(100, 100, 100, 100))).raw(B::rect(QRectF(0, 0, 10, 10))).u32(1);
            b.record(B::BeginContainer, 2 << 8, p.bytes);
            b.fillRectColor(QRectF(0, 0, 5, 5), red);
            Le i;
            i.u32(1);
            b.record(B::EndContainer, 0, i.bytes);
            b.fillRectColor(QRectF(300, 0, 20, 20), blue);
        }),
        {at(125, 125, red), at(175, 175), at(310, 10, blue)});
    row("a container keeps its world transform to itself", emfPlus([&](B &b) {
            b.floats(B::SetWorldTransform, 0, {1, 0, 0, 1, 100, 100});
            Le i;
            i.u32(3);
            b.record(B::BeginContainerNoParams, 0, i.bytes);
            b.floats(B::SetWorldTransform, 0, {1, 0, 0, 1, 50, 0});
            b.fillRectColor(QRectF(0, 0, 20, 20), red);
            b.record(B::EndContainer, 0, i.bytes);
            b.fillRectColor(QRectF(0, 0, 20, 20), blue);
        }),
        {at(160, 110, red), at(110, 110, blue)});

    // Clipping.
    row("SetClipRect replaces the clip", emfPlus([&](B &b) {
            b.record(B::SetClipRect, 0, B::rect(QRectF(0, 0, 100, 100)));
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(50, 50, red), at(150, 150)});
    row("SetClipRect excludes", emfPlus([&](B &b) {
            b.record(B::SetClipRect, 4 << 8, B::rect(QRectF(0, 0, 100, 100)));
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(50, 50), at(150, 150, red)});
    row("OffsetClip moves the clip", emfPlus([&](B &b) {
            b.record(B::SetClipRect, 0, B::rect(QRectF(0, 0, 100, 100)));
            b.floats(0x4035, 0, {200, 0});
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(250, 50, red), at(50, 50)});
    row("ResetClip", emfPlus([&](B &b) {
            b.record(B::SetClipRect, 0, B::rect(QRectF(0, 0, 100, 100)));
            b.record(B::ResetClip, 0, {});
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(150, 150, red)});
    row("SetClipPath intersects", emfPlus([&](B &b) {
            b.object(5, 3,
                     B::path({{0, 0}, {200, 0}, {200, 200}, {0, 200}},
                             QByteArray("\x00\x01\x01\x81", 4)));
            b.record(B::SetClipRect, 0, B::rect(QRectF(100, 100, 200, 200)));
            b.record(B::SetClipPath, 5 | (1 << 8), {});
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(150, 150, red), at(50, 50), at(250, 250)});
    row("SetClipRegion", emfPlus([&](B &b) {
            b.object(4, 4, B::region(QRectF(0, 0, 100, 100), 2, QRectF(200, 200, 100, 100)));
            b.record(B::SetClipRegion, 4, {});
            b.fillRectColor(QRectF(0, 0, 400, 320), red);
        }),
        {at(50, 50, red), at(250, 250, red), at(150, 150)});

    // Text.
    row("DrawString", emfPlus([&](B &b) {
            b.object(6, 6, B::font(60, QStringLiteral("DejaVu Sans")));
            Le p;
            const QString s = QStringLiteral("EMF+");
            p.u32(QColor(Qt::black).rgba()).u32(0xFFFFFFFF).u32(quint32(s.size()));
            p.raw(B::rect(QRectF(20, 20, 360, 100)));
            for (const QChar c : s)
                p.u16(c.unicode());
            b.record(B::DrawString, 0x8000 | 6, p.bytes);
        }),
        {inside(QRect(20, 20, 200, 80), black), at(300, 250)});
    row("DrawString wraps between words", emfPlus([&](B &b) {
            b.object(6, 6, B::font(40, QStringLiteral("DejaVu Sans")));
            Le p;
            const QString s = QStringLiteral("AAAA BBBB");
            p.u32(QColor(Qt::black).rgba()).u32(0xFFFFFFFF).u32(quint32(s.size()));
            p.raw(B::rect(QRectF(20, 20, 150, 200)));
            for (const QChar c : s)
                p.u16(c.unicode());
            b.record(B::DrawString, 0x8000 | 6, p.bytes);
        }),
        {inside(QRect(20, 20, 100, 40), black), inside(QRect(20, 75, 100, 40), black),
         at(200, 40)});
    row("DrawDriverString, characters", emfPlus([&](B &b) {
            b.object(6, 6, B::font(60, QStringLiteral("DejaVu Sans")));
            Le p;
            const QString s = QStringLiteral("HI");
            p.u32(QColor(Qt::blue).rgba()).u32(1 | 4).u32(0).u32(quint32(s.size()));
            for (const QChar c : s)
                p.u16(c.unicode());
            p.raw(points({{100, 200}, {0, 0}}));
            b.record(B::DrawDriverString, 0x8000 | 6, p.bytes);
        }),
        {inside(QRect(100, 140, 100, 60), blue), at(50, 100), at(300, 280)});

    // Images.
    const QByteArray checker = B::bitmap({{Qt::red, Qt::green}, {Qt::blue, QColor(Qt::yellow)}});
    row("DrawImage", emfPlus([&](B &b) {
            b.object(7, 5, checker);
            Le p;
            p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 2, 2)));
            p.raw(B::rect(QRectF(100, 100, 200, 200)));
            b.record(B::DrawImage, 7, p.bytes);
        }),
        {at(140, 140, red), at(260, 140, green), at(140, 260, blue), at(50, 50)});
    for (quint32 wrap : {0u, 4u}) {
        // The source reaches one image width past the pixels on the right.
        row(wrap ? "image attributes: clamp colour past the pixels"
                 : "image attributes: tiles past the pixels",
            emfPlus([&](B &b) {
                b.object(7, 5, checker);
                Le a;
                a.u32(B::Version).u32(0).u32(wrap).u32(QColor(Qt::black).rgba()).i32(0).u32(0);
                b.object(8, 8, a.bytes);
                Le p;
                p.u32(8).u32(2).raw(B::rect(QRectF(0, 0, 4, 2)));
                p.raw(B::rect(QRectF(0, 0, 400, 200)));
                b.record(B::DrawImage, 7, p.bytes);
            }),
            // Probed at the source pixels' centres, where smoothing mixes in no neighbour.
            {at(50, 50, red), at(150, 50, green), at(250, 50, wrap ? black : red),
             at(350, 150, wrap ? black : QColor(Qt::yellow))});
    }
    row("DrawImagePoints turns the image", emfPlus([&](B &b) {
            b.object(7, 5, checker);
            Le p;
            p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 2, 2))).u32(3);
            // Top-left at (300,100), top-right at (300,300), bottom-left at (100,100).
            p.raw(points({{300, 100}, {300, 300}, {100, 100}}));
            b.record(B::DrawImagePoints, 7, p.bytes);
        }),
        {at(260, 140, red), at(260, 260, green), at(140, 140, blue)});
    {
        QImage png(2, 2, QImage::Format_ARGB32);
        png.setPixel(0, 0, qRgb(255, 0, 0));
        png.setPixel(1, 0, qRgb(0, 255, 0));
        png.setPixel(0, 1, qRgb(0, 0, 255));
        png.setPixel(1, 1, qRgb(255, 255, 0));
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        png.save(&buffer, "PNG");
        row("DrawImage of a PNG bitmap", emfPlus([&](B &b) {
                Le o;
                o.u32(B::Version).u32(1).i32(2).i32(2).i32(0).u32(0x0026200A).u32(1).raw(encoded);
                b.object(7, 5, o.bytes);
                Le p;
                p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 2, 2)));
                p.raw(B::rect(QRectF(100, 100, 200, 200)));
                b.record(B::DrawImage, 7, p.bytes);
            }),
            {at(140, 140, red), at(260, 140, green), at(140, 260, blue), at(50, 50)});
    }
    {
        EmfBuilder inner(QRect(0, 0, 2500, 2500)); // 100 x 100 pixels
        inner.createBrush(1, 0, Qt::green).select(1).select(0x80000008);
        inner.rectangle(QRect(QPoint(0, 0), QPoint(100, 100)));
        const QByteArray nested = inner.finish();
        row("DrawImage of a metafile", emfPlus([&](B &b) {
                b.object(7, 5, B::metafileImage(nested));
                Le p;
                p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 100, 100)));
                p.raw(B::rect(QRectF(200, 100, 100, 100)));
                b.record(B::DrawImage, 7, p.bytes);
            }),
            {at(250, 150, green), at(150, 150), at(250, 250)});
    }
    {
        // A nested EMF+ file, and a nested placeable WMF of 96 units an inch (100 pixels).
        const QByteArray plusOnly =
            emfPlus([&](B &b) { b.fillRectColor(QRectF(0, 0, 200, 160), blue); });
        WmfBuilder wmf(QRect(0, 0, 100, 100), 96);
        wmf.createBrush(0, Qt::red).select(0).rectangle(QRect(0, 0, 100, 100));
        const QByteArray windows = wmf.finish();
        row("DrawImage of an EMF+ metafile and of a WMF", emfPlus([&](B &b) {
                b.object(7, 5, B::metafileImage(plusOnly));
                Le p;
                p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 400, 320)));
                p.raw(B::rect(QRectF(0, 0, 200, 160)));
                b.record(B::DrawImage, 7, p.bytes);
                Le w;
                w.u32(B::Version).u32(2).u32(2).u32(quint32(windows.size())).raw(windows);
                b.object(8, 5, w.bytes);
                Le q;
                q.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 100, 100)));
                q.raw(B::rect(QRectF(250, 150, 100, 100)));
                b.record(B::DrawImage, 8, q.bytes);
            }),
            {at(50, 40, blue), at(150, 120), at(300, 200, red), at(240, 140)});
    }

    // Modes.
    row("anti-aliasing off leaves no partial pixels", emfPlus([&](B &b) {
            b.record(B::SetAntiAliasMode, 0, {});
            Le p;
            p.u32(QColor(Qt::blue).rgba()).raw(B::rect(QRectF(100.3, 100.3, 200, 100)));
            b.record(B::FillEllipse, 0x8000, p.bytes);
        }),
        {at(200, 150, blue), noPartial(QRect(90, 90, 220, 120))});
    row("anti-aliasing on smooths the edges", emfPlus([&](B &b) {
            b.record(B::SetAntiAliasMode, 1 | (4 << 1), {});
            Le p;
            p.u32(QColor(Qt::blue).rgba()).raw(B::rect(QRectF(100.3, 100.3, 200, 100)));
            b.record(B::FillEllipse, 0x8000, p.bytes);
        }),
        {at(200, 150, blue), inside(QRect(90, 90, 220, 120), QColor(0, 0, 255, 128))});
}

void TestEmfPlus::drawing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Probes, probes);
    Metafile m;
    QVERIFY(m.loadData(bytes));
    const QImage image = m.toImage(Pixels).convertToFormat(QImage::Format_ARGB32);
    for (const Probe &p : probes) {
        bool found = p.kind == Probe::NoPartial;
        for (int y = p.area.top(); y <= p.area.bottom(); ++y)
            for (int x = p.area.left(); x <= p.area.right(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (p.kind == Probe::NoPartial)
                    found = found && (qAlpha(pixel) == 0 || qAlpha(pixel) == 255);
                else if (p.color.alpha() < 255)
                    found = found || (qAlpha(pixel) > 20 && qAlpha(pixel) < 235);
                else
                    found = found || near(pixel, p.color, p.kind == Probe::Anywhere ? 60 : 40);
            }
        const QRgb seen = image.pixel(p.area.topLeft());
        QVERIFY2(found, qPrintable(QStringLiteral("at %1,%2 want %3, have #%4")
                                       .arg(p.area.x())
                                       .arg(p.area.y())
                                       .arg(p.color.isValid() ? p.color.name() : "nothing")
                                       .arg(seen, 8, 16, QLatin1Char('0'))));
    }
}

void TestEmfPlus::hostile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    auto row = [](const char *name, const std::function<void(B &)> &plus) {
        QTest::newRow(name) << emfPlus(plus);
    };
    row("record size beyond the comment",
        [](B &b) { b.rawRecord(B::FillRects, 0x8000, 0x7FFFFFF0, 0x7FFFFFE4, QByteArray(8, 0)); });
    row("record size below its header", [](B &b) { b.rawRecord(B::Clear, 0, 4, 0, {}); });
    row("FillRects counting millions", [](B &b) {
        Le p;
        p.u32(0xFF0000FF).u32(0x7FFFFFFF).raw(B::rect(QRectF(0, 0, 10, 10)));
        b.record(B::FillRects, 0x8000, p.bytes);
    });
    row("continued object announcing 4 GiB", [](B &b) {
        Le p;
        p.u32(0xFFFFFFFF).raw(B::solidBrush(Qt::red));
        for (int i = 0; i < 4; ++i)
            b.record(B::Object, 0x8000 | 0x0100, p.bytes);
        b.fillRect(QRectF(0, 0, 100, 100), 0, false);
    });
    row("path with a huge point count", [](B &b) {
        Le p;
        p.u32(B::Version).u32(0x7FFFFFFF).u32(0).f32(0).f32(0);
        b.object(1, 3, p.bytes);
        b.record(B::FillPath, 0x8000 | 1, QByteArray(4, 0));
    });
    row("region nested without end", [](B &b) {
        Le p;
        p.u32(B::Version).u32(1000);
        for (int i = 0; i < 1000; ++i)
            p.u32(1);
        b.object(1, 4, p.bytes);
        b.record(B::SetClipRegion, 1, {});
        b.fillRectColor(QRectF(0, 0, 10, 10), Qt::red);
    });
    row("bitmap claiming a huge size", [](B &b) {
        Le p;
        p.u32(B::Version).u32(1).i32(1 << 20).i32(1 << 20).i32(1 << 22).u32(0x0026200A).u32(0);
        b.object(1, 5, p.bytes);
        Le d;
        d.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 1, 1))).raw(B::rect(QRectF(0, 0, 9, 9)));
        b.record(B::DrawImage, 1, d.bytes);
    });
    row("driver string with more glyphs than bytes", [](B &b) {
        b.object(6, 6, B::font(20, QStringLiteral("DejaVu Sans")));
        Le p;
        p.u32(0xFF000000).u32(1).u32(0).u32(0x00FFFFFF).u16(65);
        b.record(B::DrawDriverString, 0x8000 | 6, p.bytes);
    });
    row("world transform of infinities", [](B &b) {
        const float inf = std::numeric_limits<float>::infinity();
        b.floats(B::SetWorldTransform, 0, {inf, 0, 0, inf, 0, 0});
        b.floats(B::SetWorldTransform, 0, {1e30f, 0, 0, 1e30f, 0, 0});
        b.fillRectColor(QRectF(0, 0, 10, 10), Qt::red);
    });
    row("containers nested past the limit", [](B &b) {
        Le i;
        i.u32(1);
        for (int n = 0; n < 5000; ++n)
            b.record(B::BeginContainerNoParams, 0, i.bytes);
        b.fillRectColor(QRectF(0, 0, 10, 10), Qt::red);
    });
    row("font with a huge size", [](B &b) {
        b.object(6, 6, B::font(1e30f, QStringLiteral("DejaVu Sans")));
        Le p;
        p.u32(0xFF000000).u32(0xFFFFFFFF).u32(1).raw(B::rect(QRectF(0, 0, 0, 0))).u16(65);
        b.record(B::DrawString, 0x8000 | 6, p.bytes);
    });
    for (const char *word : {"a ", "a\n"}) {
        // The longest text a string may hold, wrapped or broken at every word.
        const QString s = QString::fromLatin1(word).repeated(32768);
        QTest::newRow(word[1] == ' ' ? "DrawString of 32768 words" : "DrawString of 32768 lines")
            << emfPlus([&](B &b) {
                   b.object(6, 6, B::font(12, QStringLiteral("DejaVu Sans")));
                   Le p;
                   p.u32(0xFF000000).u32(0xFFFFFFFF).u32(quint32(s.size()));
                   p.raw(B::rect(QRectF(0, 0, 40, 300)));
                   for (const QChar c : s)
                       p.u16(c.unicode());
                   b.record(B::DrawString, 0x8000 | 6, p.bytes);
               });
    }
    {
        // A metafile that holds itself as an image, again and again.
        QByteArray inner;
        for (int depth = 0; depth < 8; ++depth) {
            const QByteArray previous = inner;
            inner = emfPlus([&](B &b) {
                if (!previous.isEmpty()) b.object(1, 5, B::metafileImage(previous));
                Le p;
                p.u32(0xFFFFFFFF).u32(2).raw(B::rect(QRectF(0, 0, 400, 320)));
                p.raw(B::rect(QRectF(0, 0, 400, 320)));
                b.record(B::DrawImage, 1, p.bytes);
            });
        }
        QTest::newRow("metafiles nested eight deep") << inner;
    }
}

// Broken records end in a bounded rendering: no crash, no hang, no huge allocation.
void TestEmfPlus::hostile()
{
    QFETCH(QByteArray, bytes);
    Metafile m;
    QVERIFY(m.loadData(bytes));
    QVERIFY(!m.toImage(Pixels).isNull());
}

QTEST_MAIN(TestEmfPlus)
#include "tst_emfplus.moc"
