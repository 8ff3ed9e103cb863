#include "PsdTestDocument.h"
#include "support/RealData.h"

#include "formats/PsdDecoder.h"
#include "formats/PsdDescriptor.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using namespace psdtest;

Q_DECLARE_METATYPE(QVector<QPoint>)
Q_DECLARE_METATYPE(QVector<QRgb>)

namespace {

constexpr int kSide = 4;

// A document whose merged picture is opaque white, as one saved without it is.
Document layered(const QVector<Layer> &layers, int mode = 3, bool psb = false)
{
    Document d;
    d.version = psb ? 2 : 1;
    d.mode = quint16(mode);
    d.width = d.height = kSide;
    d.channels = mode == 3 ? 3 : 1;
    for (int c = 0; c < d.channels; ++c)
        d.planes.append(QByteArray(kSide * kSide, char(255)));
    d.layers = layerSection(layers, psb);
    return d;
}

Layer withExtra(Layer l, const QByteArray &extra)
{
    l.extra += extra;
    return l;
}

Layer compressed(Layer l, quint16 compression)
{
    l.compression = compression;
    return l;
}

Layer hidden(Layer l)
{
    l.hidden = true;
    return l;
}

Layer clipped(Layer l)
{
    l.clipped = true;
    return l;
}

Layer withOpacity(Layer l, int opacity)
{
    l.opacity = quint8(opacity);
    return l;
}

Layer withMode(Layer l, const char *mode)
{
    l.blendMode = QByteArray(mode, 4);
    return l;
}

Layer withMask(Layer l, QRect rect, int sample, int defaultColour, bool disabled = false)
{
    l.hasMask = true;
    l.maskTop = rect.top(), l.maskLeft = rect.left();
    l.maskBottom = rect.bottom() + 1, l.maskRight = rect.right() + 1;
    l.maskDefault = quint8(defaultColour);
    l.maskDisabled = disabled;
    l.channels.append({-2, QByteArray(rect.width() * rect.height(), char(sample))});
    return l;
}

// A record without pixels that marks a group: its end below the members, its own record
// above them.
Layer marker(GroupMarker type)
{
    Layer l;
    l.extra = groupMarker(type);
    return l;
}

Layer full(std::initializer_list<int> colour, int alpha = -1)
{
    return Layer::filled(0, 0, kSide, kSide, colour, alpha);
}

// A group's record with its blend mode in the divider block, as Photoshop writes it.
Layer groupWith(const char *mode, GroupMarker type = OpenGroup)
{
    Layer l;
    l.blendMode = QByteArray(mode, 4);
    l.extra = layerInfoBlock("lsct", be32(type) + "8BIM" + QByteArray(mode, 4));
    return l;
}

Layer withMaskOnly(Layer l, QRect rect, int sample, int defaultColour)
{
    return withMask(l, rect, sample, defaultColour);
}

QByteArray descriptorKey(const QByteArray &k)
{
    return k.size() == 4 ? be32(0) + k : be32(quint32(k.size())) + k;
}

QByteArray descriptorDouble(const char *k, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    return descriptorKey(k) + "doub" + be64(bits);
}

// An artboard's group record: its rectangle and its background (1 white, 2 black,
// 3 transparent, 4 the colour given), in a descriptor as Photoshop writes it.
Layer artboard(QRect rect, int background, QRgb colour = 0)
{
    const QByteArray noName = be32(1) + be16(0);
    const QByteArray rectangle =
        descriptorKey("artboardRect") + "Objc" + noName + descriptorKey("classFloatRect") +
        be32(4) + descriptorDouble("Top ", rect.top()) + descriptorDouble("Left", rect.left()) +
        descriptorDouble("Btom", rect.bottom() + 1) + descriptorDouble("Rght", rect.right() + 1);
    const QByteArray colourItem = descriptorKey("Clr ") + "Objc" + noName + descriptorKey("RGBC") +
                                  be32(3) + descriptorDouble("Rd  ", qRed(colour)) +
                                  descriptorDouble("Grn ", qGreen(colour)) +
                                  descriptorDouble("Bl  ", qBlue(colour));
    const QByteArray descriptor = be32(16) + noName + descriptorKey("null") + be32(3) + rectangle +
                                  descriptorKey("artboardBackgroundType") + "long" +
                                  be32(quint32(background)) + colourItem;
    Layer l;
    l.blendMode = "pass";
    l.extra =
        layerInfoBlock("lsct", be32(OpenGroup) + "8BIMpass") + layerInfoBlock("artb", descriptor);
    return l;
}

const Layer kRed = full({255, 0, 0});
const Layer kGreen = full({0, 255, 0});

using BlendFn = std::function<double(double, double)>;

const BlendFn kNormal = [](double, double s) { return s; };

// A source colour with alpha `as` composed over a backdrop through a blend function, by
// the usual separable compositing formula, all in double.
QRgb composite(QRgb backdrop, QRgb source, double as, const BlendFn &blend = kNormal)
{
    const double ab = qAlpha(backdrop) / 255.0;
    const double ao = as + ab * (1 - as);
    if (ao <= 0) return 0;
    const auto one = [&](int b, int s) {
        const double cb = b / 255.0, cs = s / 255.0;
        const double mixed = (1 - ab) * cs + ab * blend(cb, cs);
        return int(std::lround((as * mixed + (1 - as) * ab * cb) / ao * 255));
    };
    return qRgba(one(qRed(backdrop), qRed(source)), one(qGreen(backdrop), qGreen(source)),
                 one(qBlue(backdrop), qBlue(source)), int(std::lround(ao * 255)));
}

bool decode(const QByteArray &bytes, QImage *image, int *drawn)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    psd::PsdDecoder decoder(&buffer);
    const bool ok = decoder.read(image);
    *drawn = decoder.layersDrawn();
    return ok;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 1 && qAbs(qGreen(a) - qGreen(b)) <= 1 &&
           qAbs(qBlue(a) - qBlue(b)) <= 1 && qAbs(qAlpha(a) - qAlpha(b)) <= 1;
}

// Mean absolute difference of the colour components, both pictures over white.
double meanDifference(const QImage &a, const QImage &b)
{
    QImage x(a.size(), QImage::Format_RGB32), y(b.size(), QImage::Format_RGB32);
    x.fill(Qt::white);
    y.fill(Qt::white);
    QPainter(&x).drawImage(0, 0, a);
    QPainter(&y).drawImage(0, 0, b);
    double sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            sum +=
                qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

// A layer record written by hand, for records that lie about their data.
QByteArray rawRecord(qint32 top, qint32 left, qint32 bottom, qint32 right,
                     QVector<QPair<qint16, quint32>> channels, quint32 extraLength = 12)
{
    QByteArray r = be32(quint32(top)) + be32(quint32(left)) + be32(quint32(bottom)) +
                   be32(quint32(right)) + be16(quint16(channels.size()));
    for (const auto &c : channels)
        r += be16(quint16(c.first)) + be32(c.second);
    r += QByteArray("8BIMnorm") + char(255) + char(0) + char(8) + char(0) + be32(extraLength);
    r += be32(0) + be32(0) + QByteArray("\x01L\0\0", 4);
    return r;
}

QByteArray section(int count, const QByteArray &records, const QByteArray &data)
{
    QByteArray info = be16(quint16(count)) + records + data;
    if (info.size() % 2) info.append('\0');
    return be32(quint32(info.size())) + info + be32(0);
}

Document withSection(const QByteArray &layers)
{
    Document d = layered({});
    d.layers = layers;
    return d;
}

// The same 8 or 16-bit document with its merged picture replaced by raw opaque white, as when it
// is saved without one.
QByteArray withoutMergedPicture(const QByteArray &file)
{
    const auto *p = reinterpret_cast<const uchar *>(file.constData());
    const bool psb = qFromBigEndian<quint16>(p + 4) == 2;
    const quint16 channels = qFromBigEndian<quint16>(p + 12);
    const quint32 height = qFromBigEndian<quint32>(p + 14), width = qFromBigEndian<quint32>(p + 18);
    const quint16 depth = qFromBigEndian<quint16>(p + 22);
    qint64 at = 26;
    at += 4 + qFromBigEndian<quint32>(p + at); // colour-mode data
    at += 4 + qFromBigEndian<quint32>(p + at); // image resources
    at += psb ? 8 + qint64(qFromBigEndian<quint64>(p + at)) : 4 + qFromBigEndian<quint32>(p + at);
    return file.left(int(at)) + be16(0) +
           QByteArray(int(channels * width * height * depth / 8), char(255));
}

// The JPEG of the thumbnail resource (1036), decoded, or a null picture.
QImage embeddedThumbnail(const QByteArray &file)
{
    const int block = file.indexOf(QByteArray("8BIM\x04\x0c", 6));
    const int jpeg = block < 0 ? -1 : file.indexOf(QByteArray("\xff\xd8\xff", 3), block);
    return jpeg < 0 ? QImage() : QImage::fromData(file.mid(jpeg), "JPEG");
}

// A document of any size whose merged picture is opaque white.
Document sized(const QVector<Layer> &layers, int width, int height, int mode = 3)
{
    Document d;
    d.mode = quint16(mode);
    d.width = quint32(width);
    d.height = quint32(height);
    d.channels = mode == 3 ? 3 : 1;
    for (int c = 0; c < d.channels; ++c)
        d.planes.append(QByteArray(width * height, char(255)));
    d.layers = layerSection(layers, false);
    return d;
}

// A record with no pixels of its own: a fill or an adjustment layer.
Layer settingsLayer(const QByteArray &block, int opacity = 255)
{
    Layer l;
    l.extra = block;
    l.opacity = quint8(opacity);
    return l;
}

int byte(double v)
{
    return std::clamp(int(std::lround(v)), 0, 255);
}

// Black to white: the grey at t of a two-stop gradient, midpoint m (0 to 1).
int ramp(double t, double m = 0.5)
{
    t = std::clamp(t, 0.0, 1.0);
    return byte(255 * (m == 0.5 ? t : std::pow(t, std::log(0.5) / std::log(m))));
}

double srgbToLinear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double v)
{
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

QString hex(QRgb c)
{
    return QStringLiteral("%1").arg(c, 8, 16, QChar('0'));
}

// Decodes a document whose layers are drawn and compares the colours at the points.
void checkPixels(const QByteArray &bytes, const QVector<QPoint> &points,
                 const QVector<QRgb> &pixels, int tolerance)
{
    QImage image;
    int drawn = 0;
    QVERIFY(decode(bytes, &image, &drawn));
    QVERIFY(drawn >= 1);
    for (int i = 0; i < points.size(); ++i) {
        const QRgb got = image.pixel(points[i]), want = pixels[i];
        QVERIFY2(qAbs(qRed(got) - qRed(want)) <= tolerance &&
                     qAbs(qGreen(got) - qGreen(want)) <= tolerance &&
                     qAbs(qBlue(got) - qBlue(want)) <= tolerance,
                 qPrintable(QStringLiteral("at (%1, %2): %3, want %4")
                                .arg(points[i].x())
                                .arg(points[i].y())
                                .arg(hex(got), hex(want))));
    }
}

} // namespace

class TestPsdLayers : public QObject
{
    Q_OBJECT
private slots:
    void compose_data();
    void compose();
    void blendModes_data();
    void blendModes();
    void dissolve();
    void spotColours_data();
    void spotColours();
    void colourModes_data();
    void colourModes();
    void hostileRecords_data();
    void hostileRecords();
    void manyLayers();
    void readerComposes();
    void realDocuments_data();
    void realDocuments();
    void descriptor();
    void descriptorRefusals_data();
    void descriptorRefusals();
    void fills_data();
    void fills();
    void adjustments_data();
    void adjustments();
    void vectorMasks_data();
    void vectorMasks();
    void effects_data();
    void effects();
    void hostileSettings_data();
    void hostileSettings();
};

void TestPsdLayers::compose_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("drawn");
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QVector<QRgb>>("pixels");

    const int rgb32 = QImage::Format_RGB32, argb32 = QImage::Format_ARGB32;
    const QRgb red = 0xffff0000, green = 0xff00ff00, blue = 0xff0000ff;
    const QVector<QPoint> corners = {{0, 0}, {3, 3}};

    QTest::newRow("one layer") << layered({full({200, 100, 50})}).build() << 1 << rgb32 << corners
                               << QVector<QRgb>{0xffc86432, 0xffc86432};
    QTest::newRow("order bottom to top")
        << layered({kRed, Layer::filled(0, 0, 2, 2, {0, 0, 255})}).build() << 2 << rgb32 << corners
        << QVector<QRgb>{blue, red};

    // Samples 10 * row + column of the layer's own rows and columns; the layer starts one
    // row above and two columns left of the canvas.
    Layer offset;
    offset.top = -1, offset.left = -2, offset.bottom = 3, offset.right = 2;
    QByteArray samples;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            samples.append(char(10 * y + x));
    offset.channels = {{0, samples}, {1, QByteArray(16, 0)}, {2, QByteArray(16, 0)}};
    const QVector<QPoint> clipPoints = {{0, 0}, {1, 1}, {1, 2}, {2, 0}};
    const QVector<QRgb> clipPixels = {0xff0c0000, 0xff170000, 0xff210000, 0};
    QTest::newRow("bounds clipped to canvas, raw")
        << layered({offset}).build() << 1 << argb32 << clipPoints << clipPixels;
    QTest::newRow("bounds clipped to canvas, run-length")
        << layered({compressed(offset, 1)}).build() << 1 << argb32 << clipPoints << clipPixels;
    QTest::newRow("bounds past every edge, run-length")
        << layered({compressed(Layer::filled(-3, -5000, 9, 30000, {1, 2, 3}), 1)}).build() << 1
        << rgb32 << corners << QVector<QRgb>{0xff010203, 0xff010203};

    QTest::newRow("opacity") << layered({kRed, withOpacity(kGreen, 128)}).build() << 2 << rgb32
                             << corners
                             << QVector<QRgb>{composite(red, green, 128 / 255.0),
                                              composite(red, green, 128 / 255.0)};
    QTest::newRow("fill opacity")
        << layered({kRed, withExtra(kGreen, fillOpacityBlock(64))}).build() << 2 << rgb32 << corners
        << QVector<QRgb>{composite(red, green, 64 / 255.0), composite(red, green, 64 / 255.0)};
    QTest::newRow("opacity and fill opacity")
        << layered({kRed, withOpacity(withExtra(kGreen, fillOpacityBlock(128)), 128)}).build() << 2
        << rgb32 << corners
        << QVector<QRgb>{composite(red, green, (128 / 255.0) * (128 / 255.0)),
                         composite(red, green, (128 / 255.0) * (128 / 255.0))};
    QTest::newRow("transparency channel")
        << layered({kRed, full({0, 255, 0}, 64)}).build() << 2 << rgb32 << corners
        << QVector<QRgb>{composite(red, green, 64 / 255.0), composite(red, green, 64 / 255.0)};
    QTest::newRow("transparent areas stay transparent")
        << layered({Layer::filled(0, 0, 2, 2, {0, 0, 255}, 128)}).build() << 1 << argb32 << corners
        << QVector<QRgb>{0x800000ff, 0};

    QTest::newRow("hidden layer") << layered({kRed, hidden(kGreen)}).build() << 1 << rgb32
                                  << corners << QVector<QRgb>{red, red};
    QTest::newRow("hidden group")
        << layered({kRed, marker(GroupEnd), kGreen, hidden(marker(ClosedGroup))}).build() << 1
        << rgb32 << corners << QVector<QRgb>{red, red};
    QTest::newRow("visible group")
        << layered({kRed, marker(GroupEnd), kGreen, marker(OpenGroup)}).build() << 2 << rgb32
        << corners << QVector<QRgb>{green, green};
    QTest::newRow("hidden outer group hides an inner one")
        << layered({kRed, marker(GroupEnd), marker(GroupEnd), kGreen, marker(OpenGroup),
                    hidden(marker(OpenGroup))})
               .build()
        << 1 << rgb32 << corners << QVector<QRgb>{red, red};
    QTest::newRow("layer above a hidden group is drawn")
        << layered({kRed, marker(GroupEnd), kGreen, hidden(marker(OpenGroup)),
                    Layer::filled(0, 0, 1, 1, {0, 0, 255})})
               .build()
        << 2 << rgb32 << corners << QVector<QRgb>{blue, red};
    QTest::newRow("group opacity scales its members")
        << layered({kRed, marker(GroupEnd), kGreen, withOpacity(marker(OpenGroup), 128)}).build()
        << 2 << rgb32 << corners
        << QVector<QRgb>{composite(red, green, 128 / 255.0), composite(red, green, 128 / 255.0)};

    QTest::newRow("mask hides inside, default shows outside")
        << layered({kRed, withMask(kGreen, QRect(0, 0, 2, 4), 0, 255)}).build() << 2 << rgb32
        << QVector<QPoint>{{0, 0}, {1, 3}, {2, 0}, {3, 3}} << QVector<QRgb>{red, red, green, green};
    QTest::newRow("mask default hides outside")
        << layered({kRed, withMask(kGreen, QRect(0, 0, 2, 2), 255, 0)}).build() << 2 << rgb32
        << corners << QVector<QRgb>{green, red};
    QTest::newRow("mask partly")
        << layered({kRed, withMask(kGreen, QRect(0, 0, 4, 4), 128, 0)}).build() << 2 << rgb32
        << corners
        << QVector<QRgb>{composite(red, green, 128 / 255.0), composite(red, green, 128 / 255.0)};
    QTest::newRow("mask disabled")
        << layered({kRed, withMask(kGreen, QRect(0, 0, 4, 4), 0, 0, true)}).build() << 2 << rgb32
        << corners << QVector<QRgb>{green, green};
    QTest::newRow("mask, run-length")
        << layered({kRed, compressed(withMask(kGreen, QRect(1, 1, 2, 2), 0, 255), 1)}).build() << 2
        << rgb32 << QVector<QPoint>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}
        << QVector<QRgb>{green, red, red, green};

    const Layer base = Layer::filled(0, 0, 2, 2, {0, 0, 255});
    QTest::newRow("clipping") << layered({kRed, base, clipped(kGreen)}).build() << 3 << rgb32
                              << QVector<QPoint>{{0, 0}, {1, 1}, {2, 2}, {3, 0}}
                              << QVector<QRgb>{green, green, red, red};
    QTest::newRow("clipping to a hidden base")
        << layered({kRed, hidden(base), clipped(kGreen)}).build() << 1 << rgb32 << corners
        << QVector<QRgb>{red, red};
    const QRgb halfBlue = composite(red, blue, 128 / 255.0);
    QTest::newRow("clipping to a half transparent base")
        << layered({kRed, Layer::filled(0, 0, 2, 2, {0, 0, 255}, 128), clipped(kGreen)}).build()
        << 3 << rgb32 << corners << QVector<QRgb>{composite(red, green, 128 / 255.0), red};
    QTest::newRow("clipping to a half transparent base, blended on their own")
        << layered({kRed,
                    withExtra(Layer::filled(0, 0, 2, 2, {0, 0, 255}, 128),
                              layerInfoBlock("clbl", be32(0))),
                    clipped(kGreen)})
               .build()
        << 3 << rgb32 << corners << QVector<QRgb>{composite(halfBlue, green, 128 / 255.0), red};
    QTest::newRow("clipping ends at an unclipped layer")
        << layered({kRed, base, clipped(kGreen), Layer::filled(3, 3, 4, 4, {0, 0, 255})}).build()
        << 4 << rgb32 << QVector<QPoint>{{0, 0}, {3, 3}, {2, 2}} << QVector<QRgb>{green, blue, red};

    QTest::newRow("clipped to a group")
        << layered({kRed, marker(GroupEnd), base, groupWith("pass"), clipped(kGreen)}).build() << 3
        << rgb32 << QVector<QPoint>{{0, 0}, {1, 1}, {2, 2}, {3, 0}}
        << QVector<QRgb>{green, green, red, red};
    QTest::newRow("group clipped to a layer")
        << layered({kRed, base, clipped(marker(GroupEnd)), kGreen, clipped(groupWith("norm"))})
               .build()
        << 3 << rgb32 << corners << QVector<QRgb>{green, red};
    // The base screens blue onto red; its clipped green layer, blended as a group with it,
    // takes the base's mode; blended on its own it covers the result.
    const Layer screenBase = withMode(full({0, 0, 255}), "scrn");
    QTest::newRow("clipped layers blend as a group with their base")
        << layered({kRed, screenBase, clipped(kGreen)}).build() << 3 << rgb32 << corners
        << QVector<QRgb>{0xffffff00, 0xffffff00};
    QTest::newRow("clipped layers blend on their own")
        << layered({kRed, withExtra(screenBase, layerInfoBlock("clbl", be32(0))), clipped(kGreen)})
               .build()
        << 3 << rgb32 << corners << QVector<QRgb>{green, green};
    QTest::newRow("base's opacity applies to its clipped layers")
        << layered({kRed, withOpacity(base, 128), clipped(kGreen)}).build() << 3 << rgb32 << corners
        << QVector<QRgb>{composite(red, green, 128 / 255.0), red};

    QTest::newRow("adjustment layer skipped")
        << layered({kRed, withExtra(kGreen, layerInfoBlock("levl", QByteArray(4, 0)))}).build() << 1
        << rgb32 << corners << QVector<QRgb>{red, red};
    QTest::newRow("layer without pixels skipped")
        << layered({kRed, Layer::filled(0, 0, 0, 0, {0, 255, 0})}).build() << 1 << rgb32 << corners
        << QVector<QRgb>{red, red};
    QTest::newRow("zip channels") << layered({kRed, compressed(kGreen, 2)}).build() << 2 << rgb32
                                  << corners << QVector<QRgb>{green, green};
    QTest::newRow("zip with prediction")
        << layered({compressed(offset, 3)}).build() << 1 << argb32 << clipPoints << clipPixels;
    QTest::newRow("zip, mask and transparency")
        << layered(
               {kRed, compressed(withMask(full({0, 255, 0}, 128), QRect(0, 0, 2, 4), 0, 255), 3)})
               .build()
        << 2 << rgb32 << corners << QVector<QRgb>{red, composite(red, green, 128 / 255.0)};
    Layer damaged = compressed(kGreen, 2);
    damaged.channels[1].second.clear(); // zlib data of nothing: far too short
    QTest::newRow("zip data too short: layer not drawn")
        << layered({kRed, damaged}).build() << 1 << rgb32 << corners << QVector<QRgb>{red, red};

    // Groups: a group that passes through lets its members blend with what is below it;
    // any other composes its members on their own first.
    const Layer multiplyGreen = withMode(kGreen, "mul ");
    QTest::newRow("pass-through group: members blend with what is below")
        << layered({kRed, marker(GroupEnd), multiplyGreen, groupWith("pass")}).build() << 2 << rgb32
        << corners << QVector<QRgb>{0xff000000, 0xff000000};
    QTest::newRow("isolated group: members blend among themselves")
        << layered({kRed, marker(GroupEnd), multiplyGreen, groupWith("norm")}).build() << 2 << rgb32
        << corners << QVector<QRgb>{green, green};
    QTest::newRow("group's own mode blends the whole")
        << layered({kRed, marker(GroupEnd), kGreen, groupWith("scrn")}).build() << 2 << rgb32
        << corners << QVector<QRgb>{0xffffff00, 0xffffff00};
    QTest::newRow("isolated group's opacity")
        << layered({kRed, marker(GroupEnd), kGreen, Layer::filled(0, 0, 2, 2, {0, 0, 255}),
                    withOpacity(groupWith("norm"), 128)})
               .build()
        << 3 << rgb32 << corners
        << QVector<QRgb>{composite(red, blue, 128 / 255.0), composite(red, green, 128 / 255.0)};
    QTest::newRow("isolated group's mask")
        << layered({kRed, marker(GroupEnd), kGreen,
                    withMaskOnly(groupWith("norm"), QRect(0, 0, 2, 4), 0, 255)})
               .build()
        << 2 << rgb32 << corners << QVector<QRgb>{red, green};
    QTest::newRow("nested isolated groups")
        << layered({kRed, marker(GroupEnd), marker(GroupEnd), multiplyGreen, groupWith("norm"),
                    groupWith("pass")})
               .build()
        << 2 << rgb32 << corners << QVector<QRgb>{green, green};
    // Nested past every limit: deeper groups pass through, deeper still are taken apart.
    for (const char *mode : {"norm", "mul ", "fdiv", "lum ", "colr"}) {
        QVector<Layer> deep;
        for (int i = 0; i < 80; ++i)
            deep.append(marker(GroupEnd));
        deep.append(full({0, 255, 0}, 90));
        for (int i = 0; i < 80; ++i)
            deep.append(groupWith(i % 2 && i != 79 ? "norm" : mode));
        QTest::addRow("80 nested groups, %s, on nothing", mode)
            << layered(deep).build() << 1 << argb32 << corners
            << QVector<QRgb>{qRgba(0, 255, 0, 90), qRgba(0, 255, 0, 90)};
    }
    // An artboard draws its background and cuts its members to its rectangle.
    const QVector<QPoint> artPoints = {{0, 0}, {2, 2}, {3, 3}, {3, 0}};
    QTest::newRow("artboard with its own colour")
        << layered({kRed, marker(GroupEnd), Layer::filled(0, 0, 2, 4, {0, 255, 0}),
                    artboard(QRect(0, 0, 3, 3), 4, qRgb(10, 20, 30))})
               .build()
        << 2 << rgb32 << artPoints << QVector<QRgb>{green, 0xff0a141e, red, red};
    QTest::newRow("artboard, black")
        << layered({kRed, marker(GroupEnd), Layer::filled(0, 0, 1, 1, {0, 255, 0}),
                    artboard(QRect(0, 0, 3, 3), 2)})
               .build()
        << 2 << rgb32 << artPoints << QVector<QRgb>{green, 0xff000000, red, red};
    QTest::newRow("artboard, transparent")
        << layered({kRed, marker(GroupEnd), Layer::filled(0, 0, 1, 1, {0, 255, 0}),
                    artboard(QRect(0, 0, 3, 3), 3)})
               .build()
        << 2 << rgb32 << artPoints << QVector<QRgb>{green, red, red, red};
    // Knockout: with no fill, the layer's shape shows what lies below its group.
    const Layer hole = withExtra(Layer::filled(0, 0, 2, 2, {0, 255, 0}),
                                 fillOpacityBlock(0) + layerInfoBlock("knko", be32(0x01000000)));
    QTest::newRow("knockout to the group's backdrop")
        << layered({kRed, marker(GroupEnd), Layer::filled(0, 0, 4, 4, {0, 0, 255}), hole,
                    groupWith("norm")})
               .build()
        << 3 << rgb32 << corners << QVector<QRgb>{red, blue};
    QTest::newRow("knockout in a pass-through group")
        << layered({kRed, marker(GroupEnd), Layer::filled(0, 0, 4, 4, {0, 0, 255}), hole,
                    groupWith("pass")})
               .build()
        << 3 << rgb32 << corners << QVector<QRgb>{red, blue};
    QTest::newRow("fill layer with pixels drawn")
        << layered({kRed, withExtra(kGreen, layerInfoBlock("SoCo", QByteArray(4, 0)))}).build() << 2
        << rgb32 << corners << QVector<QRgb>{green, green};

    QTest::newRow("grayscale") << layered({full({90}), Layer::filled(0, 0, 1, 1, {200})}, 1).build()
                               << 2 << rgb32 << corners << QVector<QRgb>{0xffc8c8c8, 0xff5a5a5a};
    QTest::newRow("large document")
        << layered({compressed(kRed, 1), compressed(Layer::filled(0, 0, 2, 2, {0, 0, 255}), 1)}, 3,
                   true)
               .build()
        << 2 << rgb32 << corners << QVector<QRgb>{blue, red};

    Document transparentMerged = layered({kGreen});
    transparentMerged.channels = 4;
    transparentMerged.planes.append(QByteArray(kSide * kSide, 0));
    transparentMerged.layers = layerSection({kGreen}, false, true);
    QTest::newRow("transparent merged picture")
        << transparentMerged.build() << 1 << rgb32 << corners << QVector<QRgb>{green, green};
    Document merged = layered({kGreen});
    merged.planes[0] = QByteArray(kSide * kSide, char(10));
    QTest::newRow("merged picture with content kept")
        << merged.build() << 0 << rgb32 << corners << QVector<QRgb>{0xff0affff, 0xff0affff};
    Document unsaved = merged;
    unsaved.resources = versionInfoResource(false);
    QTest::newRow("version information: no real merged picture")
        << unsaved.build() << 1 << rgb32 << corners << QVector<QRgb>{green, green};
    Document saved = merged;
    saved.resources = versionInfoResource(true);
    QTest::newRow("version information: real merged picture")
        << saved.build() << 0 << rgb32 << corners << QVector<QRgb>{0xff0affff, 0xff0affff};
    QTest::newRow("only hidden layers: merged kept")
        << layered({hidden(kGreen)}).build() << 0 << rgb32 << corners
        << QVector<QRgb>{0xffffffff, 0xffffffff};
}

void TestPsdLayers::compose()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, drawn);
    QFETCH(int, format);
    QFETCH(QVector<QPoint>, points);
    QFETCH(QVector<QRgb>, pixels);

    QImage image;
    int layersDrawn = -1;
    QVERIFY(decode(bytes, &image, &layersDrawn));
    QCOMPARE(layersDrawn, drawn);
    QCOMPARE(image.size(), QSize(kSide, kSide));
    QCOMPARE(int(image.format()), format);
    for (int i = 0; i < points.size(); ++i) {
        const QRgb got = image.pixel(points[i]);
        QVERIFY2(near(got, pixels[i]), qPrintable(QStringLiteral("at (%1, %2): %3, want %4")
                                                      .arg(points[i].x())
                                                      .arg(points[i].y())
                                                      .arg(got, 8, 16, QChar('0'))
                                                      .arg(pixels[i], 8, 16, QChar('0'))));
    }
}

namespace {

struct Rgbd
{
    double r, g, b;
};

using ColourFn = std::function<Rgbd(Rgbd, Rgbd)>;

// A mode that works on each component alone.
ColourFn eachComponent(const BlendFn &f)
{
    return [f](Rgbd b, Rgbd s) { return Rgbd{f(b.r, s.r), f(b.g, s.g), f(b.b, s.b)}; };
}

double lum(Rgbd c)
{
    return 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
}

Rgbd clipColour(Rgbd c)
{
    const double l = lum(c), n = std::min({c.r, c.g, c.b}), x = std::max({c.r, c.g, c.b});
    auto fix = [&](double v) {
        if (n < 0) v = l + (v - l) * l / (l - n);
        if (x > 1) v = l + (v - l) * (1 - l) / (x - l);
        return v;
    };
    return {fix(c.r), fix(c.g), fix(c.b)};
}

Rgbd setLum(Rgbd c, double l)
{
    const double d = l - lum(c);
    return clipColour({c.r + d, c.g + d, c.b + d});
}

double sat(Rgbd c)
{
    return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b});
}

Rgbd setSat(Rgbd c, double s)
{
    double *v[3] = {&c.r, &c.g, &c.b};
    std::sort(v, v + 3, [](double *a, double *b) { return *a < *b; });
    if (*v[2] > *v[0]) {
        *v[1] = (*v[1] - *v[0]) * s / (*v[2] - *v[0]);
        *v[2] = s;
    } else {
        *v[1] = *v[2] = 0;
    }
    *v[0] = 0;
    return c;
}

double burn(double b, double s)
{
    return b >= 1 ? 1 : s <= 0 ? 0 : 1 - std::min(1.0, (1 - b) / s);
}

double dodge(double b, double s)
{
    return b <= 0 ? 0 : s >= 1 ? 1 : std::min(1.0, b / (1 - s));
}

double hardLight(double b, double s)
{
    return s <= 0.5 ? b * 2 * s : b + (2 * s - 1) - b * (2 * s - 1);
}

// An opaque source of alpha `as` over an opaque backdrop through a blend of colours.
QRgb over(QRgb backdrop, QRgb source, double as, const ColourFn &blend)
{
    const Rgbd b{qRed(backdrop) / 255.0, qGreen(backdrop) / 255.0, qBlue(backdrop) / 255.0};
    const Rgbd s{qRed(source) / 255.0, qGreen(source) / 255.0, qBlue(source) / 255.0};
    const Rgbd m = blend(b, s);
    auto one = [&](double mixed, double under) {
        return int(std::lround(std::clamp(as * mixed + (1 - as) * under, 0.0, 1.0) * 255));
    };
    return qRgb(one(m.r, b.r), one(m.g, b.g), one(m.b, b.b));
}

} // namespace

void TestPsdLayers::blendModes_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<int>("opacity");
    QTest::addColumn<QRgb>("backdrop");
    QTest::addColumn<QRgb>("source");
    QTest::addColumn<QRgb>("expected");

    const QVector<std::tuple<const char *, const char *, ColourFn>> modes = {
        {"normal", "norm", eachComponent(kNormal)},
        {"darken", "dark", eachComponent([](double b, double s) { return std::min(b, s); })},
        {"multiply", "mul ", eachComponent([](double b, double s) { return b * s; })},
        {"color burn", "idiv", eachComponent(burn)},
        {"linear burn", "lbrn",
         eachComponent([](double b, double s) { return std::max(0.0, b + s - 1); })},
        {"darker color", "dkCl", [](Rgbd b, Rgbd s) { return lum(s) < lum(b) ? s : b; }},
        {"lighten", "lite", eachComponent([](double b, double s) { return std::max(b, s); })},
        {"screen", "scrn", eachComponent([](double b, double s) { return b + s - b * s; })},
        {"color dodge", "div ", eachComponent(dodge)},
        {"linear dodge", "lddg",
         eachComponent([](double b, double s) { return std::min(1.0, b + s); })},
        {"lighter color", "lgCl", [](Rgbd b, Rgbd s) { return lum(s) > lum(b) ? s : b; }},
        {"overlay", "over", eachComponent([](double b, double s) { return hardLight(s, b); })},
        {"soft light", "sLit", eachComponent([](double b, double s) {
             return s <= 0.5 ? 2 * b * s + b * b * (1 - 2 * s)
                             : 2 * b * (1 - s) + std::sqrt(b) * (2 * s - 1);
         })},
        {"hard light", "hLit", eachComponent(hardLight)},
        {"vivid light", "vLit", eachComponent([](double b, double s) {
             return s <= 0.5 ? burn(b, 2 * s) : dodge(b, 2 * s - 1);
         })},
        {"linear light", "lLit",
         eachComponent([](double b, double s) { return std::clamp(b + 2 * s - 1, 0.0, 1.0); })},
        {"pin light", "pLit", eachComponent([](double b, double s) {
             return s <= 0.5 ? std::min(b, 2 * s) : std::max(b, 2 * s - 1);
         })},
        {"hard mix", "hMix", eachComponent([](double b, double s) { return b + s >= 1 ? 1 : 0; })},
        {"difference", "diff", eachComponent([](double b, double s) { return std::abs(b - s); })},
        {"exclusion", "smud", eachComponent([](double b, double s) { return b + s - 2 * b * s; })},
        {"subtract", "fsub",
         eachComponent([](double b, double s) { return std::max(0.0, b - s); })},
        {"divide", "fdiv", eachComponent([](double b, double s) {
             return s <= 0 ? (b <= 0 ? 0 : 1) : std::min(1.0, b / s);
         })},
        {"hue", "hue ", [](Rgbd b, Rgbd s) { return setLum(setSat(s, sat(b)), lum(b)); }},
        {"saturation", "sat ", [](Rgbd b, Rgbd s) { return setLum(setSat(b, sat(s)), lum(b)); }},
        {"color", "colr", [](Rgbd b, Rgbd s) { return setLum(s, lum(b)); }},
        {"luminosity", "lum ", [](Rgbd b, Rgbd s) { return setLum(b, lum(s)); }},
        {"unknown mode as normal", "xxxx", eachComponent(kNormal)},
    };
    // Components on either side of one half, for the modes with two branches.
    const QVector<QPair<QRgb, QRgb>> pairs = {{qRgb(200, 100, 30), qRgb(50, 180, 240)},
                                              {qRgb(30, 220, 140), qRgb(240, 60, 0)}};
    for (const auto &[name, key, fn] : modes) {
        for (int i = 0; i < pairs.size(); ++i) {
            for (int opacity : {255, 100}) {
                if (i == 1 && opacity != 255) continue;
                const auto [b, s] = pairs[i];
                QTest::addRow("%s, colours %d, opacity %d", name, i, opacity)
                    << QByteArray(key) << opacity << b << s << over(b, s, opacity / 255.0, fn);
            }
        }
    }
}

void TestPsdLayers::blendModes()
{
    QFETCH(QByteArray, mode);
    QFETCH(int, opacity);
    QFETCH(QRgb, backdrop);
    QFETCH(QRgb, source);
    QFETCH(QRgb, expected);

    const Layer under = full({qRed(backdrop), qGreen(backdrop), qBlue(backdrop)});
    const Layer above = withOpacity(
        withMode(full({qRed(source), qGreen(source), qBlue(source)}), mode.constData()), opacity);
    QImage image;
    int drawn = 0;
    QVERIFY(decode(layered({under, above}).build(), &image, &drawn));
    QCOMPARE(drawn, 2);
    const QRgb got = image.pixel(2, 1);
    const auto close = [](int a, int b) { return qAbs(a - b) <= 2; };
    QVERIFY2(close(qRed(got), qRed(expected)) && close(qGreen(got), qGreen(expected)) &&
                 close(qBlue(got), qBlue(expected)) && qAlpha(got) == 255,
             qPrintable(QStringLiteral("%1, want %2")
                            .arg(got, 8, 16, QChar('0'))
                            .arg(expected, 8, 16, QChar('0'))));
}

void TestPsdLayers::dissolve()
{
    // Each pixel shows the layer or the backdrop, never a mixture, always the same ones.
    const Layer above = withOpacity(withMode(kGreen, "diss"), 100);
    QImage first, second;
    int drawn = 0;
    QVERIFY(decode(layered({kRed, above}).build(), &first, &drawn));
    QVERIFY(decode(layered({kRed, above}).build(), &second, &drawn));
    QCOMPARE(first, second);
    int shown = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const QRgb p = first.pixel(x, y);
            QVERIFY(p == 0xffff0000u || p == 0xff00ff00u);
            shown += p == 0xff00ff00u;
        }
    QVERIFY(shown > 0 && shown < kSide * kSide);
    QVERIFY(decode(layered({kRed, withMode(kGreen, "diss")}).build(), &first, &drawn));
    QCOMPARE(first.pixel(1, 2), 0xff00ff00u);
}

namespace {

// Samples of one channel over the whole canvas at a depth: bytes, big-endian 16-bit values,
// or big-endian floats (v / 255 for 32 bits).
QByteArray samplesAt(int depth, int v)
{
    QByteArray one;
    if (depth == 8) one = QByteArray(1, char(v));
    if (depth == 16) one = be16(quint16(v * 257));
    if (depth == 32) {
        const float f = v / 255.0f;
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        one = be32(bits);
    }
    return one.repeated(kSide * kSide);
}

// A document of one layer over the canvas with these samples, saved without its merged
// picture (the version information says so), and the same samples as a merged picture: its
// colours are what the layer must make.
QPair<QByteArray, QByteArray> sameSamples(int mode, int depth, std::initializer_list<int> samples,
                                          quint16 compression, bool psb = false)
{
    Layer l;
    l.bottom = l.right = kSide;
    l.compression = compression;
    qint16 id = 0;
    Document merged;
    merged.version = psb ? 2 : 1;
    merged.mode = quint16(mode);
    merged.depth = quint16(depth);
    merged.width = merged.height = kSide;
    merged.channels = quint16(samples.size());
    for (int v : samples) {
        l.channels.append({id++, samplesAt(depth, v)});
        merged.planes.append(samplesAt(depth, v));
    }
    Document layered = merged;
    layered.resources = versionInfoResource(false);
    layered.layers = depth == 8 ? layerSection({l}, psb) : deepLayerSection({l}, depth, psb);
    return {layered.build(), merged.build()};
}

} // namespace

void TestPsdLayers::colourModes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("reference");

    const int gray = 1, rgb = 3, cmyk = 4, lab = 9;
    const auto row = [](const char *name, const QPair<QByteArray, QByteArray> &pair) {
        QTest::newRow(name) << pair.first << pair.second;
    };
    row("rgb 16, zip with prediction", sameSamples(rgb, 16, {200, 90, 17}, 3));
    row("rgb 16, raw", sameSamples(rgb, 16, {200, 90, 17}, 0));
    row("rgb 16, run-length", sameSamples(rgb, 16, {1, 2, 250}, 1));
    row("rgb 16, zip, large document", sameSamples(rgb, 16, {200, 90, 17}, 2, true));
    row("rgb 32, zip with prediction", sameSamples(rgb, 32, {200, 90, 17}, 3));
    row("rgb 32, zip", sameSamples(rgb, 32, {10, 128, 255}, 2));
    row("gray 8, zip with prediction", sameSamples(gray, 8, {77}, 3));
    row("gray 16, run-length", sameSamples(gray, 16, {180}, 1));
    row("gray 32, zip", sameSamples(gray, 32, {180}, 2));
    row("cmyk 8", sameSamples(cmyk, 8, {20, 200, 130, 240}, 0));
    row("cmyk 8, zip with prediction", sameSamples(cmyk, 8, {20, 200, 130, 240}, 3));
    row("cmyk 16, zip with prediction", sameSamples(cmyk, 16, {20, 200, 130, 240}, 3));
    row("lab 8", sameSamples(lab, 8, {160, 100, 170}, 1));
    row("lab 16, zip", sameSamples(lab, 16, {160, 100, 170}, 2));
}

void TestPsdLayers::colourModes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, reference);

    QImage composed, merged;
    int drawn = -1, mergedDrawn = -1;
    QVERIFY(decode(reference, &merged, &mergedDrawn));
    QCOMPARE(mergedDrawn, 0);
    QVERIFY(decode(bytes, &composed, &drawn));
    QCOMPARE(drawn, 1);
    QCOMPARE(composed.pixel(3, 2), merged.pixel(3, 2));
}

void TestPsdLayers::spotColours_data()
{
    QTest::addColumn<int>("solidity");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QRgb>("fullInk");
    QTest::addColumn<QRgb>("halfInk");

    // Grey 128 under a blue ink: a solid ink covers it, a transparent one multiplies it.
    QTest::newRow("solid ink") << 100 << 0 << 8 << qRgb(0, 0, 255) << qRgb(64, 64, 192);
    QTest::newRow("solid ink, run-length") << 100 << 1 << 8 << qRgb(0, 0, 255) << qRgb(64, 64, 192);
    QTest::newRow("transparent ink") << 0 << 1 << 8 << qRgb(0, 0, 128) << qRgb(64, 64, 128);
    QTest::newRow("solid ink, 16 bits") << 100 << 0 << 16 << qRgb(0, 0, 255) << qRgb(64, 64, 192);
}

void TestPsdLayers::spotColours()
{
    QFETCH(int, solidity);
    QFETCH(int, compression);
    QFETCH(int, depth);
    QFETCH(QRgb, fullInk);
    QFETCH(QRgb, halfInk);

    Document d;
    d.width = d.height = kSide;
    d.channels = 4;
    d.depth = quint16(depth);
    d.compression = quint16(compression);
    const auto plane = [&](int left, int right) {
        QByteArray p;
        for (int i = 0; i < kSide * kSide; ++i) {
            const int v = i % kSide < 2 ? left : right;
            p += depth == 8 ? QByteArray(1, char(v)) : be16(quint16(v * 257));
        }
        return p;
    };
    for (int c = 0; c < 3; ++c)
        d.planes.append(plane(128, 128));
    // Full ink (0) on the left, half (128) on the right.
    d.planes.append(plane(0, 127));
    // The channel's name marks it as no transparency; its display information as a spot ink.
    d.resources = resourceBlock(1006, QByteArray("\x04Blue", 5)) +
                  resourceBlock(1077, be32(1) + be16(0) + be16(0) + be16(0) + be16(65535) +
                                          be16(0) + be16(quint16(solidity)) + char(2) + char(0));
    QImage image;
    int drawn = 0;
    QVERIFY(decode(d.build(), &image, &drawn));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QVERIFY2(near(image.pixel(0, 0), fullInk), qPrintable(QString::number(image.pixel(0, 0), 16)));
    QVERIFY2(near(image.pixel(3, 3), halfInk), qPrintable(QString::number(image.pixel(3, 3), 16)));
}

void TestPsdLayers::hostileRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("drawn");

    const QByteArray pixels = be16(0) + QByteArray(16, char(9));
    const QByteArray channelData = pixels + pixels + pixels;
    const QVector<QPair<qint16, quint32>> channels = {{0, 18}, {1, 18}, {2, 18}};
    const QByteArray good = rawRecord(0, 0, 4, 4, channels);

    QTest::newRow("well formed") << withSection(section(1, good, channelData)).build() << 1;
    QTest::newRow("layer count past the end")
        << withSection(section(30000, good, channelData)).build() << 0;
    QTest::newRow("negative layer count past the end")
        << withSection(section(-30000, good, channelData)).build() << 0;
    QByteArray longInfo = section(1, good, channelData);
    qToBigEndian(quint32(0x7ffffff0), longInfo.data());
    QTest::newRow("layer information past the section") << withSection(longInfo).build() << 0;
    QTest::newRow("channel count past the end")
        << withSection(section(1, rawRecord(0, 0, 4, 4, {{0, 18}}).replace(16, 2, be16(65535)),
                               channelData))
               .build()
        << 0;
    QTest::newRow("channel length past the end")
        << withSection(
               section(1, rawRecord(0, 0, 4, 4, {{0, 18}, {1, 0x7fffffff}, {2, 18}}), channelData))
               .build()
        << 0;
    QTest::newRow("later layer's channels past the end")
        << withSection(section(2, good + rawRecord(0, 0, 4, 4, {{0, 18}, {1, 18}, {2, 19}}),
                               channelData + channelData))
               .build()
        << 1;
    QTest::newRow("extra data past the end")
        << withSection(section(1, rawRecord(0, 0, 4, 4, channels, 0x10000), channelData)).build()
        << 0;
    QTest::newRow("raw data shorter than the bounds")
        << withSection(section(1, rawRecord(0, 0, 5, 4, channels), channelData)).build() << 0;
    QTest::newRow("huge bounds, raw")
        << withSection(section(1,
                               rawRecord(-0x7fffffff - 1, -0x7fffffff - 1, 0x7fffffff, 0x7fffffff,
                                         channels),
                               channelData))
               .build()
        << 0;
    // Four rows of two bytes each: far too short for a billion columns.
    const QByteArray shortRows = be16(1) + be16(2) + be16(2) + be16(2) + be16(2) +
                                 QByteArray("\x81\x09\x81\x09\x81\x09\x81\x09", 8);
    QTest::newRow("huge bounds, run-length rows too short")
        << withSection(section(1, rawRecord(0, 0, 4, 0x40000000, {{0, 18}, {1, 18}, {2, 18}}),
                               shortRows + shortRows + shortRows))
               .build()
        << 0;
    QTest::newRow("row table past the channel")
        << withSection(section(1, rawRecord(0, 0, 0x7fffffff, 4, channels),
                               be16(1) + QByteArray(16, 0) + pixels + pixels))
               .build()
        << 0;
    QByteArray pastRows = be16(1) + be16(60000) + be16(2) + be16(2) + be16(2) +
                          QByteArray("\xfd\x09\xfd\x09\xfd\x09\xfd\x09", 8);
    QTest::newRow("row counts past the channel")
        << withSection(section(1, rawRecord(0, 0, 4, 4, {{0, 18}, {1, 18}, {2, 18}}),
                               pastRows + pastRows + pastRows))
               .build()
        << 0;
    QTest::newRow("record cut by the section's end")
        << withSection(section(1, good.left(40), QByteArray())).build() << 0;
    QTest::newRow("bounds upside down")
        << withSection(section(1, rawRecord(4, 4, 0, 0, channels), channelData)).build() << 0;
    QTest::newRow("blend signature wrong")
        << withSection(section(1, QByteArray(good).replace(36, 4, "XXXX"), channelData)).build()
        << 0;

    // Zip channels: a few bytes of deflate cannot make 30000 x 30000 samples, and a stream
    // that is not zlib data, or ends early, makes none.
    const QByteArray tinyZip = be16(2) + zlibData(QByteArray(16, char(9)));
    const auto zipChannels = [&](const QByteArray &data) {
        const quint32 n = quint32(data.size());
        return QVector<QPair<qint16, quint32>>{{0, n}, {1, n}, {2, n}};
    };
    QTest::newRow("zip, well formed")
        << withSection(
               section(1, rawRecord(0, 0, 4, 4, zipChannels(tinyZip)), tinyZip + tinyZip + tinyZip))
               .build()
        << 1;
    QTest::newRow("zip claims far more than it holds")
        << withSection(section(1, rawRecord(0, 0, 30000, 30000, zipChannels(tinyZip)),
                               tinyZip + tinyZip + tinyZip))
               .build()
        << 0;
    const QByteArray notZlib = be16(2) + QByteArray(40, char(0x55));
    QTest::newRow("zip data that are not zlib")
        << withSection(
               section(1, rawRecord(0, 0, 4, 4, zipChannels(notZlib)), notZlib + notZlib + notZlib))
               .build()
        << 0;
    const QByteArray cut = tinyZip.left(tinyZip.size() - 6);
    QTest::newRow("zip stream cut short")
        << withSection(section(1, rawRecord(0, 0, 4, 4, zipChannels(cut)), cut + cut + cut)).build()
        << 0;
    QTest::newRow("zip of a layer far wider than any canvas")
        << withSection(section(1, rawRecord(0, -0x7fffffff, 4, 4, zipChannels(tinyZip)),
                               tinyZip + tinyZip + tinyZip))
               .build()
        << 0;
    // 16-bit layers in the section's Lr16 block, whose length lies.
    Document deep = layered({});
    deep.depth = 16;
    for (QByteArray &plane : deep.planes)
        plane += plane;
    QByteArray lying = deepLayerSection({kRed}, 16);
    qToBigEndian(quint32(0x7ffffff0), lying.data() + 16);
    deep.layers = lying;
    QTest::newRow("Lr16 block past the section") << deep.build() << 0;
    deep.layers = deepLayerSection({kRed}, 16).left(30);
    QTest::newRow("Lr16 block cut short") << deep.build() << 0;
}

void TestPsdLayers::hostileRecords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, drawn);

    QImage image;
    int layersDrawn = -1;
    QVERIFY(decode(bytes, &image, &layersDrawn));
    QCOMPARE(layersDrawn, drawn);
    QCOMPARE(image.size(), QSize(kSide, kSide));
    // Refused layers leave the merged picture as it was.
    QCOMPARE(image.pixel(3, 3), drawn ? 0xff090909u : 0xffffffffu);
}

void TestPsdLayers::manyLayers()
{
    // Thousands of one-pixel layers, each drawn in its turn.
    QVector<Layer> layers;
    for (int i = 0; i < 3000; ++i)
        layers.append(Layer::filled(i % kSide, (i / kSide) % kSide, i % kSide + 1,
                                    (i / kSide) % kSide + 1, {i % 256, 1, 2}));
    QImage image;
    int drawn = 0;
    QVERIFY(decode(layered(layers).build(), &image, &drawn));
    QCOMPARE(drawn, 3000);
    // The topmost layer that covers (3, 3) shows there.
    int top = -1;
    for (int i = 0; i < 3000; ++i)
        if (i % kSide == 3 && (i / kSide) % kSide == 3) top = i;
    QCOMPARE(image.pixel(3, 3), qRgb(top % 256, 1, 2));
}

void TestPsdLayers::readerComposes()
{
    // Through the image reader, as every program that uses the plug-in reads documents.
    QBuffer buffer;
    buffer.setData(layered({kRed, Layer::filled(1, 1, 2, 2, {0, 0, 255})}).build());
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "psd");
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.pixel(0, 0), 0xffff0000u);
    QCOMPARE(image.pixel(1, 1), 0xff0000ffu);
}

void TestPsdLayers::realDocuments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("drawn");
    QTest::addColumn<double>("fromMerged");

    // No real document saved without its merged picture is at hand: real documents with
    // one have it replaced by white, and their layers must make it again.
    QTest::newRow("two layers, run-length") << "hopper.psd" << 2 << 0.5;
    QTest::newRow("one layer, run-length") << "1layer.psd" << 1 << 0.5;
    QTest::newRow("gradient fill layer with an empty mask")
        << "colormodes_4x4_8bit_rgb.psd" << 1 << 0.5;
    QTest::newRow("grayscale layers") << "colormodes_4x4_8bit_grayscale.psd" << 1 << 1.0;
    QTest::newRow("16-bit layers in Lr16, zip with prediction") << "16bit5x5.psd" << 3 << 1.0;
    QTest::newRow("cmyk layers") << "colormodes_4x4_8bit_cmyk.psd" << 1 << 1.0;
}

void TestPsdLayers::realDocuments()
{
    QFETCH(QString, file);
    QFETCH(int, drawn);
    QFETCH(double, fromMerged);

    const QString path = realDataPath(QStringLiteral("psd/") + file);
    REQUIRE_REAL_FILE(path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();

    QImage merged, composed;
    int mergedDrawn = -1, layersDrawn = -1;
    QVERIFY(decode(bytes, &merged, &mergedDrawn));
    QCOMPARE(mergedDrawn, 0); // a real merged picture is kept
    QVERIFY(decode(withoutMergedPicture(bytes), &composed, &layersDrawn));
    QCOMPARE(layersDrawn, drawn);
    QCOMPARE(composed.size(), merged.size());
    const double difference = meanDifference(composed, merged);
    QVERIFY2(difference <= fromMerged, qPrintable(QString::number(difference)));

    // The document's own thumbnail, at its size, where it is big enough to compare.
    const QImage thumb = embeddedThumbnail(bytes);
    if (thumb.isNull() || thumb.width() < 16) return;
    const QImage scaled =
        composed.scaled(thumb.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double fromThumbnail = meanDifference(scaled, thumb);
    QVERIFY2(fromThumbnail < 8, qPrintable(QString::number(fromThumbnail)));
}

void TestPsdLayers::descriptor()
{
    using namespace desc;
    const QByteArray bytes =
        body("null", {item("Clr ", rgb(10, 20, 30)), item("Angl", unitFloat("#Ang", 45)),
                      item("Type", enumerated("GrdT", "Rdl ")), item("Rvrs", boolean(true)),
                      item("Lctn", integer(-7)), item("Nm  ", text("Ab")),
                      item("longerName", list({integer(1), doub(2.5)})),
                      item("data", "tdta" + be32(3) + "xyz")});
    psd::DescriptorValue d;
    qint64 used = 0;
    QVERIFY(psd::parseDescriptor(bytes.constData(), bytes.size(), &d, &used));
    QCOMPARE(used, qint64(bytes.size()));
    QCOMPARE(d.id, QByteArray("null"));
    quint32 colour = 0;
    QVERIFY(d.find("Clr ") && psd::descriptorColour(*d.find("Clr "), &colour));
    QCOMPARE(colour, 0xff0a141eu);
    QCOMPARE(d.numberOf("Angl"), 45.0);
    QCOMPARE(d.find("Angl")->id, QByteArray("#Ang"));
    QCOMPARE(d.enumOf("Type"), QByteArray("Rdl "));
    QCOMPARE(d.numberOf("Rvrs"), 1.0);
    QCOMPARE(d.numberOf("Lctn"), -7.0);
    QCOMPARE(d.find("Nm  ")->text, QStringLiteral("Ab"));
    QCOMPARE(d.find("longerName")->children.size(), size_t(2));
    QCOMPARE(d.find("longerName")->children[1].number, 2.5);
    QCOMPARE(d.find("data")->data, QByteArray("xyz"));
    QCOMPARE(d.numberOf("none", 3), 3.0);

    // Every shorter piece of it is refused.
    for (int n = 0; n < bytes.size(); ++n)
        QVERIFY2(!psd::parseDescriptor(bytes.constData(), n, &d), qPrintable(QString::number(n)));
}

void TestPsdLayers::descriptorRefusals_data()
{
    using namespace desc;
    QTest::addColumn<QByteArray>("bytes");
    QByteArray nested = integer(1);
    for (int i = 0; i < 100; ++i)
        nested = object("null", {item("in  ", nested)});
    QTest::newRow("nested too deep") << body("null", {item("in  ", nested)});
    QTest::newRow("item count past the end") << unicode("") + key("null") + be32(0x7fffffff);
    QTest::newRow("list count past the end")
        << body("null", {item("l   ", "VlLs" + be32(0x10000000) + integer(1))});
    QTest::newRow("name length past the end") << be32(0x7fffffff) + QByteArray(8, 0);
    QTest::newRow("key length past the end") << unicode("") + be32(0x7ffffff0) + QByteArray(8, 0);
    QTest::newRow("data length past the end")
        << body("null", {item("d   ", "tdta" + be32(0xfffffff0))});
    QTest::newRow("unknown type") << body("null", {item("x   ", "zzzz" + be32(0))});
}

void TestPsdLayers::descriptorRefusals()
{
    QFETCH(QByteArray, bytes);
    psd::DescriptorValue d;
    QVERIFY(!psd::parseDescriptor(bytes.constData(), bytes.size(), &d));
    QCOMPARE(d.type, psd::DescriptorValue::None);
}

void TestPsdLayers::fills_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QVector<QRgb>>("pixels");

    const QRgb red = 0xffff0000;
    const QRgb solid = qRgb(30, 60, 90);
    QTest::newRow("solid colour")
        << layered({kRed, settingsLayer(solidFillBlock(30, 60, 90))}).build()
        << QVector<QPoint>{{0, 0}, {3, 3}} << QVector<QRgb>{solid, solid};
    QTest::newRow("solid colour, opacity")
        << layered({kRed, settingsLayer(solidFillBlock(30, 60, 90), 128)}).build()
        << QVector<QPoint>{{1, 2}} << QVector<QRgb>{composite(red, solid, 128 / 255.0)};
    Layer bounded = settingsLayer(solidFillBlock(30, 60, 90));
    bounded.top = 1, bounded.left = 1, bounded.bottom = 3, bounded.right = 3;
    QTest::newRow("solid colour over its bounds")
        << layered({kRed, bounded}).build() << QVector<QPoint>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}
        << QVector<QRgb>{red, solid, solid, red};
    QTest::newRow("solid colour through a user mask")
        << layered({kRed,
                    withMask(settingsLayer(solidFillBlock(30, 60, 90)), QRect(0, 0, 2, 4), 0, 255)})
               .build()
        << QVector<QPoint>{{0, 0}, {3, 3}} << QVector<QRgb>{red, solid};
    const QByteArray hsb = layerInfoBlock(
        "SoCo",
        desc::versioned(
            "null",
            {desc::item("Clr ",
                        desc::object("HSBC", {desc::item("H   ", desc::unitFloat("#Ang", 120)),
                                              desc::item("Strt", desc::doub(100)),
                                              desc::item("Brgh", desc::doub(100))}))}));
    QTest::newRow("solid colour given as hue, saturation, brightness")
        << layered({kRed, settingsLayer(hsb)}).build() << QVector<QPoint>{{0, 0}}
        << QVector<QRgb>{0xff00ff00};
    const int grey = byte(0.299 * 30 + 0.587 * 60 + 0.114 * 90);
    QTest::newRow("solid colour, grayscale document")
        << layered({full({200}), settingsLayer(solidFillBlock(30, 60, 90))}, 1).build()
        << QVector<QPoint>{{0, 0}} << QVector<QRgb>{qRgb(grey, grey, grey)};

    // Gradients over a document 100 pixels wide (or high): pixel centres at t = (x + 0.5) / 100.
    const QVector<ColourStop> blackWhite = {{0, 50, 0, 0, 0}, {4096, 50, 255, 255, 255}};
    const auto grey3 = [](int v) { return qRgb(v, v, v); };
    const auto wide = [&](const QByteArray &block) {
        return sized({settingsLayer(block)}, 100, 4).build();
    };
    QVector<QPoint> across;
    QVector<QRgb> linear, reversed, reflected, midpoint;
    for (int x : {0, 24, 49, 50, 75, 99}) {
        const double t = (x + 0.5) / 100;
        across.append({x, 2});
        linear.append(grey3(ramp(t)));
        reversed.append(grey3(ramp(1 - t)));
        reflected.append(grey3(ramp(std::abs(t - 0.5) * 2)));
        midpoint.append(grey3(ramp(t, 0.25)));
    }
    QTest::newRow("linear gradient")
        << wide(gradientFillBlock("Lnr ", 0, blackWhite)) << across << linear;
    QTest::newRow("linear gradient, reversed")
        << wide(gradientFillBlock("Lnr ", 0, blackWhite, {}, true)) << across << reversed;
    QTest::newRow("linear gradient, angle 180")
        << wide(gradientFillBlock("Lnr ", 180, blackWhite)) << across << reversed;
    QTest::newRow("reflected gradient")
        << wide(gradientFillBlock("Rflc", 0, blackWhite)) << across << reflected;
    QTest::newRow("linear gradient, midpoint")
        << wide(gradientFillBlock("Lnr ", 0, {{0, 25, 0, 0, 0}, {4096, 50, 255, 255, 255}}))
        << across << midpoint;
    QVector<QRgb> scaled;
    for (int x : {0, 24, 49, 50, 75, 99})
        scaled.append(grey3(ramp(((x + 0.5) - 50) / 50 + 0.5)));
    QTest::newRow("linear gradient, scale 50")
        << wide(gradientFillBlock("Lnr ", 0, blackWhite, {}, false, 50)) << across << scaled;
    QVector<QPoint> down;
    QVector<QRgb> upwards;
    for (int y : {0, 30, 99}) {
        down.append({2, y});
        upwards.append(grey3(ramp(1 - (y + 0.5) / 100))); // 90 degrees: black at the bottom
    }
    QTest::newRow("linear gradient, angle 90")
        << sized({settingsLayer(gradientFillBlock("Lnr ", 90, blackWhite))}, 4, 100).build() << down
        << upwards;
    QVector<QRgb> threeStops;
    for (int x : {0, 24, 49, 50, 75, 99}) {
        const double t = (x + 0.5) / 100;
        threeStops.append(t < 0.5 ? qRgb(byte(255 * (1 - 2 * t)), 0, byte(255 * 2 * t))
                                  : qRgb(0, byte(255 * (2 * t - 1)), byte(255 * (2 - 2 * t))));
    }
    QTest::newRow("three stops")
        << wide(gradientFillBlock(
               "Lnr ", 0, {{0, 50, 255, 0, 0}, {2048, 50, 0, 0, 255}, {4096, 50, 0, 255, 0}}))
        << across << threeStops;
    QVector<QRgb> fading;
    for (int x : {0, 24, 49, 50, 75, 99})
        fading.append(composite(red, 0xff000000, ramp(1 - (x + 0.5) / 100) / 255.0));
    QTest::newRow("transparency stops")
        << sized({Layer::filled(0, 0, 4, 100, {255, 0, 0}),
                  settingsLayer(gradientFillBlock("Lnr ", 0, {{0, 50, 0, 0, 0}},
                                                  {{0, 50, 100}, {4096, 50, 0}}))},
                 100, 4)
               .build()
        << across << fading;

    // A tile of 2 x 2: red, green / blue, white, repeated from the document's corner.
    QImage tile(2, 2, QImage::Format_RGB32);
    tile.setPixel(0, 0, qRgb(255, 0, 0));
    tile.setPixel(1, 0, qRgb(0, 255, 0));
    tile.setPixel(0, 1, qRgb(0, 0, 255));
    tile.setPixel(1, 1, qRgb(255, 255, 255));
    const auto patterned = [&](const QByteArray &block) {
        Document d = layered({kGreen, settingsLayer(block)});
        d.layers.chop(4); // the global mask's length: 0, then the pattern block
        d.layers += be32(0) + patternsBlock("id-1", tile);
        return d.build();
    };
    const auto at = [&](int x, int y) { return tile.pixel(x % 2, y % 2); };
    QTest::newRow("pattern") << patterned(patternFillBlock("id-1"))
                             << QVector<QPoint>{{0, 0}, {1, 0}, {2, 1}, {3, 3}}
                             << QVector<QRgb>{at(0, 0), at(1, 0), at(2, 1), at(3, 3)};
    QTest::newRow("pattern, phase")
        << patterned(patternFillBlock("id-1", 100, 1, 0)) << QVector<QPoint>{{0, 0}, {1, 0}}
        << QVector<QRgb>{at(1, 0), at(0, 0)};
    QTest::newRow("pattern, scale 200") << patterned(patternFillBlock("id-1", 200))
                                        << QVector<QPoint>{{0, 0}, {1, 1}, {2, 0}, {3, 2}}
                                        << QVector<QRgb>{at(0, 0), at(0, 0), at(1, 0), at(1, 1)};
    QTest::newRow("pattern, phase far away")
        << patterned(patternFillBlock("id-1", 100, -1e300, 1e300))
        << QVector<QPoint>{{0, 0}, {1, 0}} << QVector<QRgb>{at(0, 0), at(1, 0)};
    const QByteArray infinite = layerInfoBlock(
        "GdFl",
        desc::versioned("null", {desc::item("Angl", desc::unitFloat("#Ang", HUGE_VAL)),
                                 desc::item("Type", desc::enumerated("GrdT", "Lnr ")),
                                 desc::item("Grad", gradientObject({{0, 50, 0, 0, 255}}, {}))}));
    QTest::newRow("gradient at an infinite angle")
        << layered({kRed, settingsLayer(infinite)}).build() << QVector<QPoint>{{0, 0}}
        << QVector<QRgb>{0xff0000ff};
    QTest::newRow("pattern not in the document")
        << patterned(patternFillBlock("other")) << QVector<QPoint>{{0, 0}}
        << QVector<QRgb>{0xff00ff00};

    // Square documents 100 x 100: the centre (50, 50), the radius half the side.
    const auto square = [&](const QByteArray &block) {
        return sized({settingsLayer(block)}, 100, 100).build();
    };
    const QVector<QPoint> round = {{50, 50}, {50, 0}, {99, 50}, {10, 10}, {70, 60}};
    QVector<QRgb> radial, diamond;
    for (const QPoint &p : round) {
        const double dx = p.x() + 0.5 - 50, dy = p.y() + 0.5 - 50;
        radial.append(grey3(ramp(std::hypot(dx, dy) / 50)));
        diamond.append(grey3(ramp((std::abs(dx) + std::abs(dy)) / 50)));
    }
    QTest::newRow("radial gradient")
        << square(gradientFillBlock("Rdl ", 90, blackWhite)) << round << radial;
    QTest::newRow("diamond gradient")
        << square(gradientFillBlock("Dmnd", 90, blackWhite)) << round << diamond;
    // Angle: t runs clockwise from the angle's direction (here to the right), so a quarter
    // turn up is three quarters along.
    QTest::newRow("angle gradient")
        << square(gradientFillBlock("Angl", 0, blackWhite))
        << QVector<QPoint>{{50, 10}, {50, 90}, {10, 50}}
        << QVector<QRgb>{grey3(ramp(0.75)), grey3(ramp(0.25)), grey3(ramp(0.5))};
}

void TestPsdLayers::fills()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<QPoint>, points);
    QFETCH(QVector<QRgb>, pixels);
    // Gradients are sampled at pixel centres; a step either way is allowed.
    checkPixels(bytes, points, pixels, 2);
}

void TestPsdLayers::adjustments_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QRgb>("below");
    QTest::addColumn<QRgb>("expected");

    const auto add = [](const char *name, const QByteArray &block, QRgb below, QRgb expected) {
        QTest::newRow(name) << block << below << expected;
    };
    const QRgb sample = qRgb(200, 100, 50);
    const int sampleLum = byte(0.299 * 200 + 0.587 * 100 + 0.114 * 50); // 124

    add("invert", layerInfoBlock("nvrt", QByteArray()), qRgb(10, 100, 200), qRgb(245, 155, 55));
    add("levels, input 50 to 200", levelsBlock({{50, 200, 0, 255, 100}}), qRgb(125, 50, 200),
        qRgb(128, 0, 255));
    add("levels, gamma 2", levelsBlock({{0, 255, 0, 255, 200}}), qRgb(64, 0, 255),
        qRgb(byte(255 * std::sqrt(64 / 255.0)), 0, 255));
    add("levels, output 100 to 200", levelsBlock({{0, 255, 100, 200, 100}}), qRgb(0, 255, 0),
        qRgb(100, 200, 100));
    add("levels, red only", levelsBlock({{}, {50, 200, 0, 255, 100}}), qRgb(125, 125, 125),
        qRgb(128, 125, 125));
    add("curves, composite through a point", curvesBlock({{{0, 0}, {128, 200}, {255, 255}}}),
        qRgb(128, 0, 255), qRgb(200, 0, 255));
    add("curves, inverting line on blue", curvesBlock({{}, {}, {}, {{0, 255}, {255, 0}}}),
        qRgb(100, 100, 100), qRgb(100, 100, 155));
    add("brightness, legacy", layerInfoBlock("brit", shorts({20, 0, 127, 0}) + QByteArray(1, 0)),
        qRgb(100, 0, 250), qRgb(120, 20, 255));
    const double slope = std::tan(150.0 / 200 * M_PI / 2);
    add("contrast, legacy", layerInfoBlock("brit", shorts({0, 50, 127, 0}) + QByteArray(1, 0)),
        qRgb(100, 127, 140),
        qRgb(byte((100 - 127.5) * slope + 127.5), byte((127 - 127.5) * slope + 127.5),
             byte((140 - 127.5) * slope + 127.5)));
    add("brightness, newer",
        layerInfoBlock("CgEd",
                       desc::versioned("null", {desc::item("Brgh", desc::integer(100)),
                                                desc::item("Cntr", desc::integer(0)),
                                                desc::item("useLegacy", desc::boolean(false))})),
        qRgb(64, 0, 255), qRgb(byte(255 * std::sqrt(64 / 255.0)), 0, 255));
    // Hue/saturation: version, colorize, padding, colorize settings, master settings.
    add("hue, a third of a turn", layerInfoBlock("hue2", shorts({2, 0, 0, 0, 0, 120, 0, 0})),
        qRgb(255, 0, 0), qRgb(0, 255, 0));
    add("saturation removed", layerInfoBlock("hue2", shorts({2, 0, 0, 0, 0, 0, -100, 0})), sample,
        qRgb(125, 125, 125));
    add("lightness up fully", layerInfoBlock("hue2", shorts({2, 0, 0, 0, 0, 0, 0, 100})), sample,
        qRgb(255, 255, 255));
    add("lightness down by half", layerInfoBlock("hue2", shorts({2, 0, 0, 0, 0, 0, 0, -50})),
        sample, qRgb(100, 50, 25));
    add("colorize blue", layerInfoBlock("hue2", shorts({2, 0x0100, 240, 100, 0, 0, 0, 0})),
        qRgb(128, 128, 128), qRgb(1, 1, 255));
    add("posterize, two levels", layerInfoBlock("post", shorts({2, 0})), qRgb(100, 200, 127),
        qRgb(0, 255, 0));
    add("posterize, four levels", layerInfoBlock("post", shorts({4, 0})), qRgb(100, 0, 255),
        qRgb(85, 0, 255));
    add("threshold, dark side", layerInfoBlock("thrs", shorts({128, 0})), sample, qRgb(0, 0, 0));
    add("threshold, light side", layerInfoBlock("thrs", shorts({128, 0})), qRgb(200, 150, 100),
        qRgb(255, 255, 255));
    const double linear = srgbToLinear(128 / 255.0) * 2;
    add("exposure, one stop",
        layerInfoBlock("expA", be16(1) + be32(0x3f800000) + be32(0) + be32(0x3f800000)),
        qRgb(128, 0, 255), qRgb(byte(255 * linearToSrgb(linear)), 0, 255));
    // Channel mixer: red from green, green from red, blue kept.
    add("channel mixer, swap",
        layerInfoBlock("mixr", shorts({1, 0, 0, 100, 0, 0, 0, 100, 0, 0, 0,
                                       0, 0, 0, 100, 0, 0, 0, 0,   0, 0, 0})),
        sample, qRgb(100, 200, 50));
    add("channel mixer, constant",
        layerInfoBlock("mixr", shorts({1, 0, 100, 0,   0, 0, 20, 0, 100, 0, 0,
                                       0, 0, 0,   100, 0, 0, 0,  0, 0,   0, 0})),
        sample, qRgb(byte(200 + 0.2 * 255), 100, 50));
    add("channel mixer, monochrome",
        layerInfoBlock(
            "mixr", shorts({1, 1, 50, 50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
        sample, qRgb(150, 150, 150));
    const auto mapBlock = [](QRgb from, QRgb to, bool reversed) {
        const auto stop = [](int at, QRgb c) {
            return be32(quint32(at)) + be32(50) + be16(0) + be16(quint16(qRed(c) * 257)) +
                   be16(quint16(qGreen(c) * 257)) + be16(quint16(qBlue(c) * 257)) + be16(0) +
                   be16(0);
        };
        return layerInfoBlock("grdm", be16(1) + char(reversed ? 1 : 0) + char(0) +
                                          desc::unicode("Map") + be16(2) + stop(0, from) +
                                          stop(4096, to) + be16(0) + QByteArray(40, 0));
    };
    add("gradient map, black to white", mapBlock(0xff000000, 0xffffffff, false), sample,
        qRgb(sampleLum, sampleLum, sampleLum));
    add("gradient map, red to blue", mapBlock(0xffff0000, 0xff0000ff, false), sample,
        qRgb(byte(255 - sampleLum), 0, byte(sampleLum)));
    add("gradient map, reversed", mapBlock(0xff000000, 0xffffffff, true), sample,
        qRgb(255 - sampleLum, 255 - sampleLum, 255 - sampleLum));
    const auto filterBlock = [](int density, bool luminosity) {
        return layerInfoBlock("phfl", be16(2) + be16(0) + be16(65535) + be16(0) + be16(0) +
                                          be16(0) + be32(quint32(density)) +
                                          char(luminosity ? 1 : 0));
    };
    add("photo filter, red, full", filterBlock(100, false), qRgb(200, 200, 200), qRgb(200, 0, 0));
    add("photo filter, red, half", filterBlock(50, false), qRgb(200, 200, 200),
        qRgb(200, 100, 100));
    {
        const double before = 0.299 * 200 + 0.587 * 200 + 0.114 * 200;
        const double after = 0.299 * 200;
        const double shift = before - after;
        add("photo filter, red, luminosity kept", filterBlock(100, true), qRgb(200, 200, 200),
            qRgb(byte(200 + shift), byte(shift), byte(shift)));
    }
    {
        const double x = 128 / 255.0, mid = 1 - std::abs(2 * x - 1);
        add("colour balance, midtones to red",
            layerInfoBlock("blnc", shorts({0, 0, 0, 100, 0, 0, 0, 0, 0}) + QByteArray(1, 0)),
            qRgb(128, 128, 128), qRgb(byte(255 * (x + 0.25 * mid)), 128, 128));
        const double high = 2 * (200 / 255.0) - 1;
        add("colour balance, highlights to blue",
            layerInfoBlock("blnc", shorts({0, 0, 0, 0, 0, 0, 0, 0, 100}) + QByteArray(1, 0)),
            qRgb(200, 200, 200), qRgb(200, 200, byte(200 + 255 * 0.25 * high)));
    }
    const auto bw = [](int red, int yellow) {
        return layerInfoBlock(
            "blwh",
            desc::versioned(
                "null",
                {desc::item("Rd  ", desc::integer(red)), desc::item("Yllw", desc::integer(yellow)),
                 desc::item("Grn ", desc::integer(40)), desc::item("Cyn ", desc::integer(60)),
                 desc::item("Bl  ", desc::integer(20)), desc::item("Mgnt", desc::integer(80)),
                 desc::item("useTint", desc::boolean(false))}));
    };
    add("black and white, red", bw(40, 60), qRgb(255, 0, 0), qRgb(102, 102, 102));
    add("black and white, yellow", bw(40, 60), qRgb(255, 255, 0), qRgb(153, 153, 153));
    add("black and white, orange", bw(50, 100), qRgb(255, 128, 0),
        qRgb(byte(128 + 127 * 0.5), byte(128 + 127 * 0.5), byte(128 + 127 * 0.5)));
    add("black and white, white", bw(0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255));
    // Selective colour: version, method, then ten records of cyan, magenta, yellow, black.
    const auto selective = [](bool absolute) {
        QByteArray b =
            shorts({1, absolute ? 1 : 0}) + shorts({0, 0, 0, 0}) + shorts({100, 0, 0, 0});
        for (int i = 0; i < 8; ++i)
            b += shorts({0, 0, 0, 0});
        return layerInfoBlock("selc", b);
    };
    add("selective colour, reds, absolute", selective(true), qRgb(255, 0, 0), qRgb(0, 0, 0));
    add("selective colour, reds, relative", selective(false), qRgb(255, 0, 0), qRgb(255, 0, 0));
    add("selective colour, blues untouched", selective(true), qRgb(0, 0, 255), qRgb(0, 0, 255));
    const auto vibrance = [](int vib, int sat) {
        return layerInfoBlock("vibA",
                              desc::versioned("null", {desc::item("vibrance", desc::integer(vib)),
                                                       desc::item("Strt", desc::integer(sat))}));
    };
    add("vibrance, saturation removed", vibrance(0, -100), sample, qRgb(125, 125, 125));
    add("vibrance, grey stays grey", vibrance(100, 0), qRgb(90, 90, 90), qRgb(90, 90, 90));
}

void TestPsdLayers::adjustments()
{
    QFETCH(QByteArray, block);
    QFETCH(QRgb, below);
    QFETCH(QRgb, expected);

    const Layer base = full({qRed(below), qGreen(below), qBlue(below)});
    const auto check = [&](const QVector<Layer> &layers, QPoint at, QRgb want, int drawnWanted) {
        QImage image;
        int drawn = 0;
        QVERIFY(decode(layered(layers).build(), &image, &drawn));
        QCOMPARE(drawn, drawnWanted);
        const QRgb got = image.pixel(at);
        QVERIFY2(near(got, want),
                 qPrintable(QStringLiteral("%1, want %2").arg(hex(got), hex(want))));
    };
    check({base, settingsLayer(block)}, {1, 1}, expected, 2);
    // At half opacity, half of the change; through a mask, none where it hides.
    check({base, settingsLayer(block, 128)}, {1, 1}, composite(below, expected, 128 / 255.0), 2);
    const Layer masked = withMask(settingsLayer(block), QRect(0, 0, 2, 4), 0, 255);
    check({base, masked}, {0, 0}, below | 0xff000000, 2);
    check({base, masked}, {3, 3}, expected, 2);
    // Below nothing, an adjustment shows nothing; hidden, it changes nothing.
    check({settingsLayer(block), Layer::filled(0, 0, 1, 1, {1, 2, 3})}, {0, 0}, qRgb(1, 2, 3), 2);
    check({base, hidden(settingsLayer(block))}, {1, 1}, below | 0xff000000, 1);
}

void TestPsdLayers::vectorMasks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QVector<QRgb>>("pixels");

    const QRgb red = 0xffff0000, green = 0xff00ff00, solid = qRgb(30, 60, 90);
    // The middle square of a 4 x 4 document: pixels (1, 1) to (2, 2).
    const QVector<QVector<QPointF>> square = {
        {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}}};
    const QVector<QPoint> points = {{0, 0}, {1, 1}, {2, 2}, {3, 0}};
    QTest::newRow("pixel layer")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(square))}).build() << points
        << QVector<QRgb>{red, green, green, red};
    QTest::newRow("inverted")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(square, 1))}).build() << points
        << QVector<QRgb>{green, red, red, green};
    QTest::newRow("starts filled")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(square, 0, true))}).build() << points
        << QVector<QRgb>{green, red, red, green};
    QTest::newRow("disabled")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(square, 4))}).build() << points
        << QVector<QRgb>{green, green, green, green};
    QTest::newRow("solid colour shape")
        << layered({kRed, settingsLayer(solidFillBlock(30, 60, 90) + vectorMaskBlock(square))})
               .build()
        << points << QVector<QRgb>{red, solid, solid, red};
    // Half of pixel (1, 1) lies left of x = 1.5.
    const QVector<QVector<QPointF>> half = {{{0.375, 0}, {1, 0}, {1, 1}, {0.375, 1}}};
    QTest::newRow("anti-aliased edge")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(half))}).build()
        << QVector<QPoint>{{0, 1}, {1, 1}, {2, 1}}
        << QVector<QRgb>{red, composite(red, green, 128 / 255.0), green};
    QTest::newRow("two shapes")
        << layered({kRed, withExtra(kGreen, vectorMaskBlock(
                                                {{{0, 0}, {0.25, 0}, {0.25, 0.25}, {0, 0.25}},
                                                 {{0.75, 0.75}, {1, 0.75}, {1, 1}, {0.75, 1}}}))})
               .build()
        << points << QVector<QRgb>{green, red, red, red};

    // A layer taller than the bands the mask is drawn in: the lower half shows.
    const QVector<QVector<QPointF>> lowerHalf = {{{0, 0.5}, {1, 0.5}, {1, 1}, {0, 1}}};
    QTest::newRow("tall layer") << sized({Layer::filled(0, 0, 600, 4, {255, 0, 0}),
                                          withExtra(Layer::filled(0, 0, 600, 4, {0, 255, 0}),
                                                    vectorMaskBlock(lowerHalf))},
                                         4, 600)
                                       .build()
                                << QVector<QPoint>{{1, 100}, {1, 299}, {1, 300}, {1, 511}, {1, 599}}
                                << QVector<QRgb>{red, red, green, green, green};

    // Mask parameters: user density, then user feather.
    const auto doubleBytes = [](double v) { return desc::doubleBits(v); };
    Layer dense = withMask(kGreen, QRect(0, 0, 4, 4), 0, 0);
    dense.maskFlags = 0x10;
    dense.maskTail = QByteArray(1, 1) + QByteArray(1, char(128)) + QByteArray(2, 0);
    QTest::newRow("user mask density")
        << layered({kRed, dense}).build() << QVector<QPoint>{{1, 1}}
        << QVector<QRgb>{composite(red, green, (255 - (255 * 128 + 127) / 255) / 255.0)};
    Layer feathered = withMask(kGreen, QRect(0, 0, 2, 4), 0, 255);
    feathered.maskFlags = 0x10;
    feathered.maskTail = QByteArray(1, 2) + doubleBytes(1) + QByteArray(2, 0);
    QTest::newRow("user mask feather")
        << layered({kRed, feathered}).build() << QVector<QPoint>{{0, 1}, {1, 1}, {2, 1}, {3, 1}}
        << QVector<QRgb>{red, composite(red, green, 85 / 255.0), composite(red, green, 170 / 255.0),
                         green};
    // Channel -2 holds the vector mask as rendered (here wrongly: all shown); the user's own
    // mask, hiding the right half, is channel -3 with the real rectangle and background.
    Layer both = withExtra(withMask(kGreen, QRect(0, 0, 4, 4), 255, 255), vectorMaskBlock(square));
    both.maskFlags = 0x08;
    both.maskTail = QByteArray(1, 0) + QByteArray(1, char(255)) + be32(0) + be32(2) + be32(4) +
                    be32(4) + QByteArray(2, 0);
    both.channels.append({-3, QByteArray(8, 0)});
    QTest::newRow("vector mask and real user mask")
        << layered({kRed, both}).build() << points << QVector<QRgb>{red, green, red, red};
    Layer renderedOnly =
        withExtra(withMask(kGreen, QRect(0, 0, 4, 4), 255, 255), vectorMaskBlock(square));
    renderedOnly.maskFlags = 0x08;
    QTest::newRow("rendered vector mask not applied twice")
        << layered({kRed, renderedOnly}).build() << points << QVector<QRgb>{red, green, green, red};
    Layer vectorDense =
        withExtra(withMask(kGreen, QRect(0, 0, 4, 4), 255, 255), vectorMaskBlock(square));
    vectorDense.maskFlags = 0x18;
    vectorDense.maskTail = QByteArray(1, 4) + QByteArray(1, char(128)) + QByteArray(2, 0);
    QTest::newRow("vector mask density")
        << layered({kRed, vectorDense}).build() << QVector<QPoint>{{0, 0}, {1, 1}}
        << QVector<QRgb>{composite(red, green, (255 - (255 * 128 + 127) / 255) / 255.0), green};
}

void TestPsdLayers::vectorMasks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<QPoint>, points);
    QFETCH(QVector<QRgb>, pixels);
    // Anti-aliased coverage may differ by a step from the exact area.
    checkPixels(bytes, points, pixels, 3);
}

void TestPsdLayers::effects_data()
{
    using namespace desc;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QVector<QRgb>>("pixels");

    // A green square, columns and rows 2 to 5, over red, in a document of 8 x 8.
    const QRgb red = 0xffff0000, green = 0xff00ff00, black = 0xff000000, blue = 0xff0000ff;
    const auto doc = [](const QByteArray &effects, int opacity = 255) {
        Layer square = Layer::filled(2, 2, 6, 6, {0, 255, 0});
        square.extra = effects;
        square.opacity = quint8(opacity);
        return sized({Layer::filled(0, 0, 8, 8, {255, 0, 0}), square}, 8, 8).build();
    };
    const auto common = [](const char *mode, double opacity, QByteArray colour) {
        return QVector<QByteArray>{item("enab", boolean(true)),
                                   item("Md  ", enumerated("BlnM", mode)), item("Clr ", colour),
                                   item("Opct", unitFloat("#Prc", opacity))};
    };
    const QVector<QPoint> row = {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {6, 3}, {7, 3}};

    QTest::newRow("colour overlay")
        << doc(effectsBlock({{"SoFi", common("Nrml", 100, rgb(0, 0, 255))}})) << row
        << QVector<QRgb>{red, red, blue, blue, red, red};
    QTest::newRow("colour overlay, half")
        << doc(effectsBlock({{"SoFi", common("Nrml", 50, rgb(0, 0, 255))}}))
        << QVector<QPoint>{{3, 3}} << QVector<QRgb>{qRgb(0, 128, 128)};
    QTest::newRow("colour overlay, multiply")
        << doc(effectsBlock({{"SoFi", common("Mltp", 100, rgb(128, 128, 128))}}))
        << QVector<QPoint>{{3, 3}} << QVector<QRgb>{qRgb(0, 128, 0)};
    QVector<QByteArray> off = common("Nrml", 100, rgb(0, 0, 255));
    off[0] = item("enab", boolean(false));
    QTest::newRow("effect disabled")
        << doc(effectsBlock({{"SoFi", off}})) << QVector<QPoint>{{3, 3}} << QVector<QRgb>{green};
    QTest::newRow("effects switched off")
        << doc(effectsBlock({{"SoFi", common("Nrml", 100, rgb(0, 0, 255))}}, false))
        << QVector<QPoint>{{3, 3}} << QVector<QRgb>{green};
    const auto stroke = [&](const char *place, int size) {
        return common("Nrml", 100, rgb(0, 0, 0)) +
               QVector<QByteArray>{item("Styl", enumerated("FStl", place)),
                                   item("PntT", enumerated("FrFl", "SClr")),
                                   item("Sz  ", unitFloat("#Pxl", size))};
    };
    QTest::newRow("stroke outside") << doc(effectsBlock({{"FrFX", stroke("OutF", 1)}})) << row
                                    << QVector<QRgb>{red, black, green, green, black, red};
    QTest::newRow("stroke inside") << doc(effectsBlock({{"FrFX", stroke("InsF", 1)}})) << row
                                   << QVector<QRgb>{red, red, black, green, red, red};
    QTest::newRow("stroke centred") << doc(effectsBlock({{"FrFX", stroke("CtrF", 2)}})) << row
                                    << QVector<QRgb>{red, black, black, green, black, red};
    // Light from the left (180 degrees): the shadow falls two pixels to the right.
    const QVector<QByteArray> shadow =
        common("Nrml", 100, rgb(0, 0, 0)) +
        QVector<QByteArray>{item("uglg", boolean(false)), item("lagl", unitFloat("#Ang", 180)),
                            item("Dstn", unitFloat("#Pxl", 2)), item("Ckmt", unitFloat("#Pxl", 0)),
                            item("blur", unitFloat("#Pxl", 0))};
    QTest::newRow("drop shadow") << doc(effectsBlock({{"DrSh", shadow}})) << row
                                 << QVector<QRgb>{red, red, green, green, black, black};
    Layer maskedSquare =
        withMask(Layer::filled(2, 2, 6, 6, {0, 255, 0}), QRect(4, 2, 2, 4), 0, 255);
    maskedSquare.extra = effectsBlock({{"DrSh", shadow}});
    QTest::newRow("drop shadow of a masked layer")
        << sized({Layer::filled(0, 0, 8, 8, {255, 0, 0}), maskedSquare}, 8, 8).build()
        << QVector<QPoint>{{3, 3}, {4, 3}, {5, 3}, {6, 3}}
        << QVector<QRgb>{green, black, black, red};
    QTest::newRow("drop shadow, layer at half opacity")
        << doc(effectsBlock({{"DrSh", shadow}}), 128) << QVector<QPoint>{{7, 3}, {1, 3}}
        << QVector<QRgb>{composite(red, black, 128 / 255.0), red};
    const QVector<QByteArray> glow = common("Nrml", 100, rgb(255, 255, 0)) +
                                     QVector<QByteArray>{item("Ckmt", unitFloat("#Prc", 100)),
                                                         item("blur", unitFloat("#Pxl", 1))};
    const QRgb yellow = 0xffffff00;
    QTest::newRow("outer glow") << doc(effectsBlock({{"OrGl", glow}})) << row
                                << QVector<QRgb>{red, yellow, green, green, yellow, red};
    QImage tile(2, 1, QImage::Format_RGB32);
    tile.setPixel(0, 0, qRgb(0, 0, 255));
    tile.setPixel(1, 0, qRgb(255, 255, 255));
    Layer overlaid = Layer::filled(2, 2, 6, 6, {0, 255, 0});
    overlaid.extra = effectsBlock(
        {{"patternFill",
          {item("enab", boolean(true)), item("Md  ", enumerated("BlnM", "Nrml")),
           item("Opct", unitFloat("#Prc", 100)),
           item("Ptrn", object("Ptrn", {item("Nm  ", text("P")), item("Idnt", text("tile"))}))}}});
    Document withPattern = sized({Layer::filled(0, 0, 8, 8, {255, 0, 0}), overlaid}, 8, 8);
    withPattern.layers.chop(4);
    withPattern.layers += be32(0) + patternsBlock("tile", tile);
    QTest::newRow("pattern overlay")
        << withPattern.build() << QVector<QPoint>{{1, 3}, {2, 3}, {3, 3}, {3, 4}}
        << QVector<QRgb>{red, blue, 0xffffffff, 0xffffffff};
    const QVector<QByteArray> innerShadow =
        common("Nrml", 100, rgb(0, 0, 0)) +
        QVector<QByteArray>{item("lagl", unitFloat("#Ang", 180)),
                            item("Dstn", unitFloat("#Pxl", 1)), item("blur", unitFloat("#Pxl", 0))};
    QTest::newRow("inner shadow") << doc(effectsBlock({{"IrSh", innerShadow}}))
                                  << QVector<QPoint>{{1, 3}, {2, 3}, {3, 3}, {5, 3}}
                                  << QVector<QRgb>{red, black, green, green};
    QTest::newRow("inner glow") << doc(effectsBlock({{"IrGl", glow}}))
                                << QVector<QPoint>{{1, 3}, {2, 3}, {3, 3}, {5, 3}}
                                << QVector<QRgb>{red, yellow, green, yellow};
    QTest::newRow("gradient overlay")
        << doc(effectsBlock(
               {{"GrFl", common("Nrml", 100, QByteArray()).mid(0, 2) +
                             QVector<QByteArray>{
                                 item("Opct", unitFloat("#Prc", 100)),
                                 item("Type", enumerated("GrdT", "Lnr ")),
                                 item("Angl", unitFloat("#Ang", 0)),
                                 item("Grad", gradientObject(
                                                  {{0, 50, 0, 0, 0}, {4096, 50, 0, 0, 0}}, {}))}}}))
        << QVector<QPoint>{{3, 3}, {0, 0}} << QVector<QRgb>{black, red};
}

void TestPsdLayers::effects()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<QPoint>, points);
    QFETCH(QVector<QRgb>, pixels);
    checkPixels(bytes, points, pixels, 2);
}

void TestPsdLayers::hostileSettings_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("onPixels"); // on a green layer, or on a layer without pixels
    QTest::addColumn<QRgb>("pixel");

    // Every block is cut short or lies about a count; the layer is skipped, nothing more.
    const QRgb red = 0xffff0000, green = 0xff00ff00;
    QTest::newRow("solid colour cut") << solidFillBlock(1, 2, 3).left(30) << false << red;
    QTest::newRow("solid colour, wrong version")
        << layerInfoBlock("SoCo", be32(15) + solidFillBlock(1, 2, 3).mid(16)) << false << red;
    QTest::newRow("gradient without stops") << gradientFillBlock("Lnr ", 0, {}) << false << red;
    QTest::newRow("pattern fill") << layerInfoBlock("PtFl", be32(16)) << false << red;
    QTest::newRow("levels cut") << layerInfoBlock("levl", be16(2) + QByteArray(20, 0)) << false
                                << red;
    QTest::newRow("curves, count past the end")
        << layerInfoBlock("curv", QByteArray(1, 0) + be16(1) + be32(1) + be16(60000)) << false
        << red;
    QTest::newRow("curves, every channel bit")
        << layerInfoBlock("curv", QByteArray(1, 0) + be16(1) + be32(0xffffffff) + be16(2) +
                                      QByteArray(8, 0))
        << false << red;
    QTest::newRow("gradient map, name past the end")
        << layerInfoBlock("grdm", be16(1) + QByteArray(2, 0) + be32(0x7fffffff)) << false << red;
    QTest::newRow("gradient map, stops past the end")
        << layerInfoBlock("grdm", be16(1) + QByteArray(2, 0) + desc::unicode("") + be16(5000))
        << false << red;
    QTest::newRow("hue/saturation cut") << layerInfoBlock("hue2", be16(2)) << false << red;
    QTest::newRow("photo filter, later form")
        << layerInfoBlock("phfl", be16(3) + QByteArray(17, 0)) << false << red;
    QTest::newRow("exposure cut") << layerInfoBlock("expA", be16(1) + be32(0)) << false << red;
    QTest::newRow("black and white, no descriptor")
        << layerInfoBlock("blwh", be32(16)) << false << red;
    QTest::newRow("vector mask cut") << layerInfoBlock("vmsk", be32(3)) << true << green;
    QTest::newRow("vector mask, knots past the count")
        << layerInfoBlock("vmsk", be32(3) + be32(0) + be16(0) + be16(60000) + QByteArray(22, 0) +
                                      be16(1) + QByteArray(24, char(0x7f)))
        << true << red;
    QTest::newRow("vector mask, ragged records")
        << layerInfoBlock("vmsk", be32(3) + be32(0) + be16(0) + be16(3) + QByteArray(22, 0) +
                                      be16(2) + QByteArray(10, 0))
        << true << red;
}

void TestPsdLayers::hostileSettings()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, onPixels);
    QFETCH(QRgb, pixel);
    QImage image;
    int layersDrawn = -1;
    const Layer top = onPixels ? withExtra(kGreen, block) : settingsLayer(block);
    QVERIFY(decode(layered({kRed, top}).build(), &image, &layersDrawn));
    QCOMPARE(layersDrawn, onPixels ? 2 : 1);
    QCOMPARE(image.pixel(1, 1), pixel);
}

QTEST_MAIN(TestPsdLayers)
#include "tst_psdlayers.moc"
