#include "support/GifBuilder.h"
#include "support/GifReference.h"

#include "image/GifAnimation.h"
#include "platform/GifFrameDecoder.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QtTest>

using platform::GifFrame;
using platform::GifFrameDecoder;

namespace {

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255),
           kWhite = qRgb(255, 255, 255);

giftest::Animation fourColours(QSize screen)
{
    giftest::Animation a;
    a.screen = screen;
    a.palette = {kWhite, kRed, kGreen, kBlue};
    a.background = 3;
    return a;
}

// Every frame the decoder reads, or the error it stops with.
struct Decoded
{
    bool opened = false;
    platform::GifScreen screen;
    QSize canvas;
    QVector<GifFrame> frames;
    GifFrameDecoder::Error error = GifFrameDecoder::NoError;
};

Decoded decode(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    GifFrameDecoder decoder(&buffer);
    Decoded d;
    d.opened = decoder.open();
    GifFrame f;
    while (d.opened && decoder.readFrame(&f))
        d.frames << f;
    d.screen = decoder.screen();
    d.canvas = decoder.canvasSize();
    d.error = decoder.error();
    return d;
}

bool loadAnimation(GifAnimation &animation, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return animation.load(&buffer);
}

QString realFile(const QString &name)
{
    return QStringLiteral(PICSAGE_REALDATA "/gif/") + name;
}

// Two pictures show the same: equal colours where either is visible.
QString firstDifference(const QImage &mine, const QImage &expected)
{
    const QImage a = mine.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    if (a.size() != b.size()) return QStringLiteral("sizes differ");
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb m = a.pixel(x, y), e = b.pixel(x, y);
            if (m != e && (qAlpha(m) != 0 || qAlpha(e) != 0))
                return QStringLiteral("at %1,%2: %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(m, 8, 16)
                    .arg(e, 8, 16);
        }
    return QString();
}

} // namespace

class TestGif : public QObject
{
    Q_OBJECT

private slots:
    void decoderReadsRecords();
    void decoderRefusesHostile_data();
    void decoderRefusesHostile();
    void composition_data();
    void composition();
    void checkpoints();
    void realFramesMatchQt_data();
    void realFramesMatchQt();
    void spriteAnimationInAnyOrder_data();
    void spriteAnimationInAnyOrder();
    void spriteAnimationMatchesQt();
    void frameBrokenPartWay();
};

void TestGif::decoderReadsRecords()
{
    giftest::Animation a = fourColours(QSize(8, 6));
    a.loopCount = 3;
    giftest::Frame first = giftest::solid(QRect(0, 0, 8, 6), 1, 2, 7);
    giftest::Frame second = giftest::solid(QRect(2, 1, 4, 3), 2, 3, 0);
    second.transparent = 0;
    second.indices[0] = 0;
    second.palette = {kWhite, kBlue, kRed};
    second.interlaced = true;
    for (int y = 0; y < 3; ++y)
        second.indices[y * 4 + 3] = char(y); // column 3 shows its row
    a.frames = {first, second};

    const Decoded d = decode(giftest::encode(a));
    QVERIFY(d.opened);
    QCOMPARE(d.error, GifFrameDecoder::NoError);
    QCOMPARE(d.screen.size, QSize(8, 6));
    QVERIFY(d.screen.hasGlobalPalette);
    QCOMPARE(d.screen.backgroundIndex, 3);
    QCOMPARE(d.screen.globalPalette.value(1), kRed);
    QCOMPARE(d.screen.loopCount, 3);
    QCOMPARE(d.canvas, QSize(8, 6));
    QCOMPARE(d.frames.size(), 2);
    QCOMPARE(d.frames[0].delayCs, 7);
    QCOMPARE(d.frames[0].disposal, 2);
    QCOMPARE(d.frames[0].transparentIndex, -1);
    QCOMPARE(d.frames[0].image.pixel(5, 5), kRed);
    QCOMPARE(d.frames[1].rect, QRect(2, 1, 4, 3));
    QCOMPARE(d.frames[1].disposal, 3);
    QCOMPARE(d.frames[1].transparentIndex, 0);
    QVERIFY(d.frames[1].interlaced);
    QCOMPARE(d.frames[1].image.pixel(0, 0), 0u);    // the transparent index
    QCOMPARE(d.frames[1].image.pixel(1, 1), kRed);  // the local palette
    QCOMPARE(d.frames[1].image.pixel(3, 1), kBlue); // interlaced rows in their places
    QCOMPARE(d.frames[1].image.pixel(3, 2), kRed);
}

void TestGif::decoderRefusesHostile_data()
{
    using namespace giftest;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("frames");

    const QByteArray tiny = descriptor(0, 0, 1, 1) + tinyData();
    QTest::newRow("empty") << QByteArray() << int(GifFrameDecoder::NotGif) << 0;
    QTest::newRow("not a GIF") << QByteArray("PNG and more bytes here")
                               << int(GifFrameDecoder::NotGif) << 0;
    QTest::newRow("header only") << header(10, 10).left(9) << int(GifFrameDecoder::NotGif) << 0;
    QTest::newRow("screen 65535 x 65535")
        << header(65535, 65535) + tiny + trailer() << int(GifFrameDecoder::TooLarge) << 0;
    QTest::newRow("frame 65535 x 65535 without data")
        << header(10, 10) + descriptor(0, 0, 65535, 65535) + tinyData() + trailer()
        << int(GifFrameDecoder::Truncated) << 0;
    QTest::newRow("frame far outside the screen")
        << header(10, 10) + descriptor(60000, 60000, 1, 1) + tinyData() + trailer()
        << int(GifFrameDecoder::NoError) << 1;
    QTest::newRow("pixels end early in a later frame")
        << header(10, 10) + tiny + descriptor(0, 0, 4, 4) + tinyData() + trailer()
        << int(GifFrameDecoder::Truncated) << 1;
    QTest::newRow("truncated inside a data block")
        << header(10, 10) + tiny + descriptor(0, 0, 4, 4) + QByteArray("\x02\x10\x44\x01", 4)
        << int(GifFrameDecoder::Truncated) << 1;
    QTest::newRow("cut inside the image descriptor")
        << header(10, 10) + descriptor(0, 0, 1, 1).left(5) << int(GifFrameDecoder::Truncated) << 0;
    QTest::newRow("no trailer is whole")
        << header(10, 10) + tiny + tiny << int(GifFrameDecoder::NoError) << 2;
    QTest::newRow("unknown record")
        << header(10, 10) + tiny + QByteArray("\x07") << int(GifFrameDecoder::Corrupt) << 1;
    QByteArray noPalette = header(4, 4);
    noPalette[10] = 0;
    noPalette.chop(6);
    QTest::newRow("no palette at all")
        << noPalette + tiny + trailer() << int(GifFrameDecoder::Corrupt) << 0;
    QByteArray many = header(1, 1);
    const int count = platform::gif::kMaxFrames + 1000;
    many.reserve(many.size() + count * tiny.size() + 1);
    for (int i = 0; i < count; ++i)
        many += tiny;
    QTest::newRow("hundreds of thousands of frames")
        << QByteArray(many + QByteArray(tiny).repeated(300000 - count) + trailer())
        << int(GifFrameDecoder::TooManyFrames) << platform::gif::kMaxFrames;
}

void TestGif::decoderRefusesHostile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, error);
    QFETCH(int, frames);
    const Decoded d = decode(bytes);
    QCOMPARE(int(d.error), error);
    QCOMPARE(d.frames.size(), frames);
    for (const GifFrame &f : d.frames) // what is stored never exceeds the canvas
        QVERIFY(QRect(QPoint(0, 0), d.canvas).contains(f.stored) || f.stored.isEmpty());

    // The animation takes nothing from a refused stream. It reads a frame's pixels only
    // when drawing it: a later frame whose pixels end early is drawn as far as nothing.
    const bool laterPixels = QByteArray(QTest::currentDataTag()).startsWith("pixels end early");
    const bool accepted = error == int(GifFrameDecoder::NoError) || laterPixels;
    GifAnimation animation;
    QCOMPARE(loadAnimation(animation, bytes), accepted);
    QCOMPARE(animation.frameCount(), accepted ? frames + (laterPixels ? 1 : 0) : 0);
    if (laterPixels) {
        QCOMPARE(animation.composedFrame(1), animation.composedFrame(0));
        QVERIFY(animation.rawFrame(1).isNull());
    }
}

void TestGif::composition_data()
{
    QTest::addColumn<int>("disposal");
    QTest::addColumn<QRgb>("whereFrameOneWas"); // frame 2, at a pixel only frame 1 covered
    QTest::addColumn<QRgb>("elsewhere");        // frame 2, at a pixel no later frame covers

    QTest::newRow("0 leaves the canvas") << 0 << kGreen << kRed;
    QTest::newRow("1 leaves the canvas") << 1 << kGreen << kRed;
    // The screen's background colour (blue here) is not drawn: the area is cleared.
    QTest::newRow("2 clears to transparent") << 2 << QRgb(0) << kRed;
    QTest::newRow("3 restores the previous picture") << 3 << kRed << kRed;
}

void TestGif::composition()
{
    QFETCH(int, disposal);
    QFETCH(QRgb, whereFrameOneWas);
    QFETCH(QRgb, elsewhere);

    giftest::Animation a = fourColours(QSize(10, 10));
    a.frames = {giftest::solid(QRect(0, 0, 10, 10), 1),
                giftest::solid(QRect(2, 2, 4, 4), 2, disposal),
                giftest::solid(QRect(8, 8, 2, 2), 3)};
    GifAnimation animation;
    QVERIFY(loadAnimation(animation, giftest::encode(a)));
    QCOMPARE(animation.canvasSize(), QSize(10, 10));
    QCOMPARE(animation.background(), QColor(kBlue));
    QCOMPARE(animation.composedFrame(1).pixel(3, 3), kGreen);
    const QImage last = animation.composedFrame(2);
    QCOMPARE(last.size(), QSize(10, 10));
    QCOMPARE(last.pixel(3, 3), whereFrameOneWas);
    QCOMPARE(last.pixel(0, 0), elsewhere);
    QCOMPARE(last.pixel(9, 9), kBlue);
    QVERIFY(animation.composedFrame(3).isNull());
    QVERIFY(animation.composedFrame(-1).isNull());
}

// Frames are replayed from the nearest kept picture: every tenth one and the last one.
void TestGif::checkpoints()
{
    giftest::Animation a = fourColours(QSize(40, 2));
    a.frames << giftest::solid(QRect(0, 0, 40, 2), 0);
    for (int i = 1; i < 40; ++i)
        a.frames << giftest::solid(QRect(i, 0, 1, 2), uchar(1 + i % 3), 1, i % 5);
    GifAnimation animation;
    QVERIFY(loadAnimation(animation, giftest::encode(a)));
    QCOMPARE(animation.frameCount(), 40);
    QCOMPARE(animation.delayMs(0), 100);
    QCOMPARE(animation.delayMs(7), 20);

    struct Step
    {
        int frame;
        int draws;
        bool kept;
    };
    const Step steps[] = {
        {25, 25, false},                  // from frame 0; nothing kept but the last picture
        {30, 5, true},                    // from the last picture, and frame 30 is kept
        {35, 5, false},  {12, 12, false}, // backwards: from frame 0 again
        {31, 1, false},                   // from the kept frame 30
        {39, 8, false},  {30, 0, true},
    };
    for (const Step &s : steps) {
        const int before = animation.framesDrawn();
        const QImage picture = animation.composedFrame(s.frame);
        QCOMPARE(animation.framesDrawn() - before, s.draws);
        QCOMPARE(animation.isCheckpoint(s.frame), s.kept || s.frame == 0);
        for (int x = 1; x < 40; ++x) // columns up to the frame show their frame's colour
            QCOMPARE(picture.pixel(x, 1), x <= s.frame ? a.palette[1 + x % 3] : kWhite);
    }
}

void TestGif::realFramesMatchQt_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("loopCount");
    QTest::newRow("disposal 2, local palettes") << "dispose_bgnd.gif" << 5 << 0;
    QTest::newRow("disposal 2, transparency, loop 10") << "dispose-background.gif" << 3 << 10;
    QTest::newRow("disposal 3") << "dispose_prev.gif" << 5 << 0;
}

// Composed frames equal Qt's own reader's pixel for pixel, except where "restore to
// background" cleared a frame's area: there we are transparent, as browsers are, while Qt's
// reader fills opaque files with the screen's background colour.
void TestGif::realFramesMatchQt()
{
    QFETCH(QString, file);
    QFETCH(int, frames);
    QFETCH(int, loopCount);
    QVERIFY2(QFile::exists(realFile(file)), qPrintable(realFile(file) + " is missing"));
    GifAnimation animation;
    QVERIFY(animation.load(realFile(file)));
    QCOMPARE(animation.frameCount(), frames);
    QCOMPARE(animation.loopCount(), loopCount);

    QImageReader qt(realFile(file), "gif");
    QCOMPARE(qt.imageCount(), frames);
    const QSize canvas = animation.canvasSize();
    QImage restored(canvas, QImage::Format_Grayscale8); // pixels showing the background
    restored.fill(0);
    QImage restoredUnder;
    for (int i = 0; i < frames; ++i) {
        if (i > 0 && animation.disposal(i - 1) == 2) {
            for (int y = animation.frameRect(i - 1).top(); y <= animation.frameRect(i - 1).bottom();
                 ++y)
                for (int x = animation.frameRect(i - 1).left();
                     x <= animation.frameRect(i - 1).right(); ++x)
                    restored.setPixel(x, y, qRgb(255, 255, 255));
        } else if (i > 0 && animation.disposal(i - 1) == 3) {
            QPainter p(&restored);
            p.drawImage(animation.frameRect(i - 1).topLeft(), restoredUnder);
        }
        const QRect rect = animation.frameRect(i);
        restoredUnder = restored.copy(rect);
        const QImage raw = animation.rawFrame(i);
        for (int y = 0; y < raw.height(); ++y)
            for (int x = 0; x < raw.width(); ++x)
                if (qAlpha(raw.pixel(x, y)))
                    restored.setPixel(rect.x() + x, rect.y() + y, qRgb(0, 0, 0));

        const QImage expected = qt.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!expected.isNull(), qPrintable(qt.errorString()));
        const QImage mine = animation.composedFrame(i).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(mine.size(), expected.size());
        int same = 0, restoredPixels = 0;
        for (int y = 0; y < canvas.height(); ++y) {
            for (int x = 0; x < canvas.width(); ++x) {
                const QRgb m = mine.pixel(x, y), q = expected.pixel(x, y);
                if (m == q || (qAlpha(m) == 0 && qAlpha(q) == 0)) {
                    ++same;
                    continue;
                }
                QVERIFY2(qGray(restored.pixel(x, y)) == 255 && qAlpha(m) == 0,
                         qPrintable(QStringLiteral("frame %1 at %2,%3: %4, Qt %5")
                                        .arg(i)
                                        .arg(x)
                                        .arg(y)
                                        .arg(m, 8, 16)
                                        .arg(q, 8, 16)));
                ++restoredPixels;
            }
        }
        QVERIFY(same > 0);
        Q_UNUSED(restoredPixels);
    }
}

void TestGif::spriteAnimationInAnyOrder_data()
{
    QTest::addColumn<QVector<int>>("order");
    QTest::addColumn<bool>("holdPictures"); // the caller keeps every picture it was given

    QVector<int> forwards, backwards, random;
    for (int i = 0; i < 60; ++i) {
        forwards << i;
        backwards.prepend(i);
        random << (i * 37 + 11) % 60;
    }
    QTest::newRow("in order") << forwards << false;
    QTest::newRow("in order, every picture held") << forwards << true;
    QTest::newRow("backwards") << backwards << false;
    QTest::newRow("at random, every picture held") << random << true;
    QTest::newRow("twice in order") << (forwards + forwards) << false;
}

// Frames are drawn onto the last picture in place: a picture handed out earlier and still
// held never changes, and every order of asking gives the same pictures.
void TestGif::spriteAnimationInAnyOrder()
{
    QFETCH(QVector<int>, order);
    QFETCH(bool, holdPictures);
    const giftest::Animation a = giftest::movingSprite(QSize(80, 60), QSize(50, 36), 60);
    const giftest::Playback expected = giftest::play(a);
    GifAnimation animation;
    QVERIFY(loadAnimation(animation, giftest::encode(a)));
    QCOMPARE(animation.frameCount(), 60);

    QVector<QPair<int, QImage>> held;
    for (int i : order) {
        const QImage picture = animation.composedFrame(i);
        const QString difference = firstDifference(picture, expected.frames[i]);
        QVERIFY2(difference.isEmpty(),
                 qPrintable(QStringLiteral("frame %1 %2").arg(i).arg(difference)));
        if (holdPictures) held << qMakePair(i, picture);
    }
    for (const auto &h : held)
        QVERIFY2(firstDifference(h.second, expected.frames[h.first]).isEmpty(),
                 qPrintable(QStringLiteral("held frame %1 changed").arg(h.first)));
}

// Qt's reader composes the same pictures, except where "restore to background" cleared a
// frame's area: we are transparent there.
void TestGif::spriteAnimationMatchesQt()
{
    const giftest::Animation a = giftest::movingSprite(QSize(80, 60), QSize(50, 36), 60);
    const QByteArray bytes = giftest::encode(a);
    const giftest::Playback reference = giftest::play(a);
    GifAnimation animation;
    QVERIFY(loadAnimation(animation, bytes));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader qt(&buffer, "gif");
    int backgroundPixels = 0;
    for (int i = 0; i < a.frames.size(); ++i) {
        const QImage expected = qt.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!expected.isNull(), qPrintable(qt.errorString()));
        const QImage mine = animation.composedFrame(i).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(mine.size(), expected.size());
        for (int y = 0; y < mine.height(); ++y)
            for (int x = 0; x < mine.width(); ++x) {
                const QRgb m = mine.pixel(x, y), q = expected.pixel(x, y);
                if (qGray(reference.background[i].pixel(x, y)) == 255) {
                    QCOMPARE(qAlpha(m), 0);
                    ++backgroundPixels;
                } else if (m != q && (qAlpha(m) != 0 || qAlpha(q) != 0)) {
                    QFAIL(qPrintable(QStringLiteral("frame %1 at %2,%3: %4, Qt %5")
                                         .arg(i)
                                         .arg(x)
                                         .arg(y)
                                         .arg(m, 8, 16)
                                         .arg(q, 8, 16)));
                }
            }
    }
    QVERIFY(backgroundPixels > 0); // the case was there to compare
}

// A frame whose pixels end after a few rows is left out whole, although its first rows
// were already drawn when the end came; the frames after it are drawn as usual.
void TestGif::frameBrokenPartWay()
{
    giftest::Animation a = fourColours(QSize(8, 8));
    a.frames = {giftest::solid(QRect(0, 0, 8, 8), 1), giftest::solid(QRect(0, 0, 8, 4), 2),
                giftest::solid(QRect(6, 6, 2, 2), 3)};
    QByteArray bytes = giftest::encode(a);
    // Frame 1 claims eight rows; its data hold four.
    const QByteArray descriptor("\x2c\x00\x00\x00\x00\x08\x00\x04\x00", 9);
    const int at = bytes.indexOf(descriptor);
    QVERIFY(at > 0);
    bytes[at + 7] = 8;

    for (const bool inOrder : {true, false}) {
        GifAnimation animation;
        QVERIFY(loadAnimation(animation, bytes));
        QCOMPARE(animation.frameCount(), 3);
        if (inOrder) QCOMPARE(animation.composedFrame(1).pixel(0, 0), kRed);
        const QImage last = animation.composedFrame(2);
        QCOMPARE(last.pixel(0, 0), kRed);  // frame 1 left out, its first row too
        QCOMPARE(last.pixel(7, 7), kBlue); // frame 2 drawn
        QCOMPARE(last.pixel(7, 3), kRed);
        QCOMPARE(animation.composedFrame(1).pixel(0, 0), kRed);
        QVERIFY(animation.rawFrame(1).isNull());
    }
}

QTEST_GUILESS_MAIN(TestGif)
#include "tst_gif.moc"
