#include "PsdTestDocument.h"
#include "support/RealData.h"

#include "formats/PsdDecoder.h"

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

QTEST_MAIN(TestPsdLayers)
#include "tst_psdlayers.moc"
