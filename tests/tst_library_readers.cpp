// The readers that decode through Debian's libraries: HEIF through libheif (real files
// against references made with heif-convert, and files libheif writes here with turns,
// mirrors and alpha), the TIFF pages Qt's reader gets wrong through libtiff (written by
// libtiff in the test), and PDF-compatible Illustrator files through Poppler. Each reader
// is driven directly, as Qt's image reader drives it.
#include "support/PictureCompare.h"
#include "support/RealData.h"

#include "platform/PropertyItems.h"
#include "platform/decoders/HeifHandler.h"
#include "platform/decoders/IllustratorHandler.h"
#include "platform/decoders/TiffHandler.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <libheif/heif.h>
#include <tiffio.h>

#include <functional>
#include <memory>

using platform::decoders::HeifHandler;
using platform::decoders::IllustratorHandler;
using platform::decoders::TiffHandler;

Q_DECLARE_METATYPE(QVector<QRgb>)

namespace {

// One handler of each kind over `bytes`, as Qt's reader would use it.
template <class Handler> struct Probe
{
    QByteArray bytes;
    QBuffer buffer{&bytes};
    Handler handler;

    explicit Probe(const QByteArray &data) : bytes(data)
    {
        buffer.open(QIODevice::ReadOnly);
        handler.setDevice(&buffer);
    }
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- HEIF written by libheif ----

heif_error writeToArray(heif_context *, const void *data, size_t size, void *userdata)
{
    static_cast<QByteArray *>(userdata)->append(static_cast<const char *>(data), int(size));
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// A tiny EXIF block (TIFF header, one directory): Make "Test" and the given orientation.
QByteArray exifBlock(quint16 orientation)
{
    QByteArray b("II*\0\x08\0\0\0", 8);
    auto put16 = [&b](quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&b, &put16](quint32 v) {
        put16(quint16(v & 0xFFFF));
        put16(quint16(v >> 16));
    };
    put16(2);
    put16(0x010F), put16(2), put32(5), put32(8 + 2 + 2 * 12 + 4);
    put16(0x0112), put16(3), put32(1), put32(orientation);
    put32(0);
    b.append("Test", 5);
    return b;
}

// `picture` encoded by libheif's HEVC encoder, shown turned as EXIF orientation
// `orientation` says (libheif writes irot and imir for it), with an EXIF block.
QByteArray encodeHeif(const QImage &picture, int orientation)
{
    // the encoders are registered while libheif is initialised
    heif_init(nullptr);
    const bool alpha = picture.hasAlphaChannel();
    const QImage rgba =
        picture.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    heif_image *image = nullptr;
    heif_image_create(rgba.width(), rgba.height(), heif_colorspace_RGB,
                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, rgba.width(), rgba.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgba.height(); ++y)
        memcpy(plane + y * stride, rgba.constScanLine(y), size_t(rgba.bytesPerLine()));
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    QByteArray out;
    if (encoder) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_encoding_options *options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_image_handle *handle = nullptr;
        if (heif_context_encode_image(context, image, encoder, options, &handle).code ==
            heif_error_Ok) {
            const QByteArray exif = exifBlock(quint16(orientation));
            heif_context_add_exif_metadata(context, handle, exif.constData(), exif.size());
            heif_writer writer{1, writeToArray};
            heif_context_write(context, &writer, &out);
            heif_image_handle_release(handle);
        }
        heif_encoding_options_free(options);
        heif_encoder_release(encoder);
    }
    heif_context_free(context);
    heif_image_release(image);
    heif_deinit();
    return out;
}

// What a viewer shows for a picture stored with EXIF orientation `o`: 5 and 7 turn a
// quarter clockwise, then mirror across (5) or upside down (7).
QImage oriented(const QImage &stored, int o)
{
    const int quarters[9] = {0, 0, 0, 2, 0, 1, 1, 1, 3};
    QImage image = stored.transformed(QTransform().rotate(90 * quarters[o]));
    if (o == 2 || o == 5) image = image.mirrored(true, false);
    if (o == 4 || o == 7) image = image.mirrored(false, true);
    return image;
}

// ---- TIFF pages written by libtiff ----

struct TiffPage
{
    quint16 photometric = PHOTOMETRIC_RGB;
    quint16 bits = 8;
    quint16 samples = 3;
    quint16 extra = 0; // EXTRASAMPLE_* of the one extra sample, 0 for none
    quint16 planar = PLANARCONFIG_CONTIG;
    bool tiled = false;
    quint16 orientation = ORIENTATION_TOPLEFT;
    // the samples of the four quadrants (top left, top right, bottom left, bottom right)
    QVector<QVector<quint32>> quadrants;
};

// Pages of 40 x 24 pixels: tiles of 16 x 16 and strips of 5 rows, so that the last tile
// column and strip are partly filled.
QByteArray writeTiff(const QString &path, const QVector<TiffPage> &pages)
{
    constexpr int W = 40, H = 24;
    TIFF *tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tiff) return {};
    for (const TiffPage &page : pages) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, W);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, H);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bits);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samples);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.photometric);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, page.planar);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, page.orientation);
        if (page.extra) {
            const quint16 extra[] = {page.extra};
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        const int blockW = page.tiled ? 16 : W, blockH = page.tiled ? 16 : 5;
        if (page.tiled) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        } else {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 5);
        }
        const bool separate = page.planar == PLANARCONFIG_SEPARATE;
        const int planes = separate ? page.samples : 1, perPixel = separate ? 1 : page.samples;
        const int rowBytes = (blockW * perPixel * page.bits + 7) / 8;
        for (int plane = 0; plane < planes; ++plane) {
            for (int by = 0; by < H; by += blockH) {
                for (int bx = 0; bx < W; bx += blockW) {
                    const int rows = page.tiled ? blockH : qMin(blockH, H - by);
                    QByteArray block(rowBytes * rows, '\0');
                    auto *data = reinterpret_cast<uchar *>(block.data());
                    for (int y = 0; y < rows; ++y) {
                        for (int x = 0; x < blockW; ++x) {
                            const int px = bx + x, py = by + y;
                            if (px >= W || py >= H) continue;
                            const auto &q = page.quadrants[(py >= H / 2) * 2 + (px >= W / 2)];
                            for (int s = 0; s < perPixel; ++s) {
                                const quint32 v = q[separate ? plane : s];
                                const qint64 index = qint64(x) * perPixel + s;
                                uchar *row = data + y * rowBytes;
                                if (page.bits == 8) {
                                    row[index] = uchar(v);
                                } else if (page.bits == 16) {
                                    const quint16 v16 = quint16(v);
                                    memcpy(row + 2 * index, &v16, 2);
                                } else {
                                    for (int bit = 0; bit < page.bits; ++bit) {
                                        const qint64 at = index * page.bits + bit;
                                        if (v >> (page.bits - 1 - bit) & 1)
                                            row[at / 8] |= uchar(0x80 >> (at % 8));
                                    }
                                }
                            }
                        }
                    }
                    if (page.tiled)
                        TIFFWriteEncodedTile(
                            tiff,
                            TIFFComputeTile(tiff, quint32(bx), quint32(by), 0, quint16(plane)),
                            data, block.size());
                    else
                        TIFFWriteEncodedStrip(tiff,
                                              TIFFComputeStrip(tiff, quint32(by), quint16(plane)),
                                              data, block.size());
                }
            }
        }
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return fileBytes(path);
}

} // namespace

Q_DECLARE_METATYPE(TiffPage)

namespace {

QVector<QRgb> quadrantColours(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const int w = argb.width(), h = argb.height();
    return {argb.pixel(w / 4, h / 4), argb.pixel(3 * w / 4, h / 4), argb.pixel(w / 4, 3 * h / 4),
            argb.pixel(3 * w / 4, 3 * h / 4)};
}

int worstDifference(const QVector<QRgb> &a, const QVector<QRgb> &b)
{
    int worst = 0;
    for (int i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16, 24})
            worst = qMax(worst, qAbs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF)));
    return worst;
}

// ---- Illustrator ----

// A 200 x 100 point page whose left half is painted red and right half left bare.
QByteArray pdfPage()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QSizeF(200, 100), QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(72);
    QPainter painter(&writer);
    painter.fillRect(QRect(0, 0, 100, 100), Qt::red);
    painter.end();
    return bytes;
}

// A PDF whose trailer names a standard encryption dictionary whose user password is not
// empty: it cannot be opened without a password.
QByteArray encryptedPdf()
{
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
        "<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + QByteArray(64, '1') + "> /U <" +
            QByteArray(64, '7') + "> >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (int offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size 5 /Root 1 0 R /Encrypt 4 0 R /ID [<" + QByteArray(32, 'a') + "> <" +
           QByteArray(32, 'a') + ">] >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

class TestLibraryReaders : public QObject
{
    Q_OBJECT

private slots:
    void heifRealFiles_data();
    void heifRealFiles();
    void heifTransformsAndAlpha_data();
    void heifTransformsAndAlpha();
    void tiffPages_data();
    void tiffPages();
    void tiffOtherPagesStayWithQt();
    void illustrator();
    void illustratorRefusals_data();
    void illustratorRefusals();
    void damagedFilesRefused_data();
    void damagedFilesRefused();

private:
    QTemporaryDir m_dir;
};

void TestLibraryReaders::heifRealFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("make");
    QTest::newRow("Stonehenge") << "heic/Stonehenge.heic" << QSize(300, 200)
                                << QByteArray("NIKON CORPORATION");
    QTest::newRow("two images, thumbnails")
        << "heic/exiv2_heic.heic" << QSize(1280, 854) << QByteArray();
}

void TestLibraryReaders::heifRealFiles()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    QFETCH(QByteArray, make);
    REAL_DATA(path, file);
    const QImage reference(realDataPath(QString(file).replace(".heic", ".png")));
    QVERIFY(!reference.isNull());

    Probe<HeifHandler> probe(fileBytes(path));
    QVERIFY(HeifHandler::canRead(&probe.buffer));
    QCOMPARE(probe.buffer.pos(), 0);
    QCOMPARE(probe.handler.option(QImageIOHandler::Size).toSize(), size);
    QImage image;
    QVERIFY2(probe.handler.read(&image), qPrintable(probe.handler.errorText()));
    QCOMPARE(maxChannelDifference(image, reference), 0);

    // the item's EXIF reaches the property items, without an orientation
    const QVector<platform::PropertyItem> items = platform::readPropertyItems(path);
    auto item = [&items](quint32 id) {
        for (const auto &i : items)
            if (i.id == id) return i.value;
        return QByteArray();
    };
    QCOMPARE(item(0x010F).left(make.size()), make);
    QVERIFY(item(0x0112).isEmpty());
}

void TestLibraryReaders::heifTransformsAndAlpha_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("alpha");
    for (int o = 1; o <= 8; ++o)
        QTest::addRow("orientation %d", o) << o << false;
    QTest::newRow("alpha, turned") << 6 << true;
}

void TestLibraryReaders::heifTransformsAndAlpha()
{
    QFETCH(int, orientation);
    QFETCH(bool, alpha);
    const QImage stored =
        quadrantPicture(QSize(64, 48), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const QByteArray heif = encodeHeif(stored, orientation);
    QVERIFY(!heif.isEmpty());

    Probe<HeifHandler> probe(heif);
    QVERIFY(probe.handler.canRead());
    const QImage expected = oriented(stored, orientation);
    QCOMPARE(probe.handler.option(QImageIOHandler::Size).toSize(), expected.size());
    QImage image;
    QVERIFY2(probe.handler.read(&image), qPrintable(probe.handler.errorText()));
    QCOMPARE(image.hasAlphaChannel(), alpha);
    QVERIFY(worstDifference(quadrantColours(image), quadrantColours(expected)) <= 24);

    // the orientation item is not passed on: the pixels are already turned
    const QString path = m_dir.filePath(QStringLiteral("turned.heic"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(heif) == heif.size());
    file.close();
    const auto items = platform::readPropertyItems(path);
    QVERIFY(std::any_of(items.begin(), items.end(), [](const auto &i) { return i.id == 0x010F; }));
    QVERIFY(std::none_of(items.begin(), items.end(), [](const auto &i) { return i.id == 0x0112; }));
}

void TestLibraryReaders::tiffPages_data()
{
    QTest::addColumn<TiffPage>("page");
    QTest::addColumn<QVector<QRgb>>("colours");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("ours");

    const QVector<QRgb> labColours = {qRgb(255, 255, 255), qRgb(119, 119, 119), qRgb(255, 0, 0),
                                      qRgb(0, 255, 0)};
    // white, L* 50, sRGB red and green as L*a*b* relative to D50
    const double lab[4][3] = {
        {100, 0, 0}, {50.196, 0, 0}, {54.29, 80.81, 69.89}, {87.82, -79.29, 80.99}};
    auto labPage = [&lab](quint16 photometric, quint16 bits) {
        TiffPage page;
        page.photometric = photometric;
        page.bits = bits;
        const double top = bits == 8 ? 255 : 65535, unit = bits == 8 ? 1 : 256;
        const quint32 mask = bits == 8 ? 0xFF : 0xFFFF;
        for (const auto &c : lab) {
            const quint32 l = quint32(qRound(c[0] / 100 * top));
            const int offset = photometric == PHOTOMETRIC_ICCLAB ? 128 : 0;
            page.quadrants << QVector<quint32>{l, quint32(qRound((c[1] + offset) * unit)) & mask,
                                               quint32(qRound((c[2] + offset) * unit)) & mask};
        }
        return page;
    };
    // 8-bit a* and b* move the green, at the edge of sRGB, by up to 10
    QTest::newRow("CIELab 8-bit") << labPage(PHOTOMETRIC_CIELAB, 8) << labColours << 12 << true;
    QTest::newRow("CIELab 16-bit") << labPage(PHOTOMETRIC_CIELAB, 16) << labColours << 3 << true;
    QTest::newRow("ICCLab 8-bit") << labPage(PHOTOMETRIC_ICCLAB, 8) << labColours << 12 << true;

    TiffPage grey12;
    grey12.photometric = PHOTOMETRIC_MINISBLACK;
    grey12.bits = 12;
    grey12.samples = 1;
    grey12.quadrants = {{0}, {4095}, {2048}, {1024}};
    const QVector<QRgb> greys = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(128, 128, 128),
                                 qRgb(64, 64, 64)};
    QTest::newRow("grey 12-bit") << grey12 << greys << 0 << true;

    TiffPage rgb12;
    rgb12.bits = 12;
    rgb12.quadrants = {{4095, 0, 0}, {0, 4095, 0}, {0, 0, 4095}, {2048, 1024, 4095}};
    const QVector<QRgb> rgbs = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                                qRgb(128, 64, 255)};
    QTest::newRow("RGB 12-bit") << rgb12 << rgbs << 0 << true;
    TiffPage rgb10 = rgb12;
    rgb10.bits = 10;
    rgb10.quadrants = {{1023, 0, 0}, {0, 1023, 0}, {0, 0, 1023}, {512, 256, 1023}};
    QTest::newRow("RGB 10-bit tiled") << [&] {
        rgb10.tiled = true;
        return rgb10;
    }() << rgbs << 0 << true;

    TiffPage rgba16;
    rgba16.bits = 16;
    rgba16.samples = 4;
    rgba16.extra = EXTRASAMPLE_UNASSALPHA;
    rgba16.planar = PLANARCONFIG_SEPARATE;
    rgba16.quadrants = {
        {65535, 0, 0, 65535}, {0, 65535, 0, 32896}, {0, 0, 65535, 0}, {32896, 16448, 65535, 65535}};
    const QVector<QRgb> rgbas = {qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 128), qRgba(0, 0, 255, 0),
                                 qRgba(128, 64, 255, 255)};
    QTest::newRow("RGBA 16-bit planes in strips") << rgba16 << rgbas << 0 << true;
    rgba16.tiled = true;
    QTest::newRow("RGBA 16-bit planes in tiles") << rgba16 << rgbas << 0 << true;

    TiffPage greyAlpha;
    greyAlpha.photometric = PHOTOMETRIC_MINISBLACK;
    greyAlpha.samples = 2;
    greyAlpha.extra = EXTRASAMPLE_UNASSALPHA;
    greyAlpha.quadrants = {{200, 255}, {100, 128}, {0, 255}, {255, 0}};
    const QVector<QRgb> greyAlphas = {qRgba(200, 200, 200, 255), qRgba(100, 100, 100, 128),
                                      qRgba(0, 0, 0, 255), qRgba(255, 255, 255, 0)};
    QTest::newRow("grey with alpha") << greyAlpha << greyAlphas << 0 << true;

    TiffPage rgb8;
    rgb8.quadrants = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {128, 64, 255}};
    QTest::newRow("RGB 8-bit: Qt's") << rgb8 << rgbs << 0 << false;
}

void TestLibraryReaders::tiffPages()
{
    QFETCH(TiffPage, page);
    QFETCH(QVector<QRgb>, colours);
    QFETCH(int, tolerance);
    QFETCH(bool, ours);
    const QByteArray tiff = writeTiff(m_dir.filePath(QStringLiteral("page.tif")), {page});
    QVERIFY(!tiff.isEmpty());

    Probe<TiffHandler> probe(tiff);
    QCOMPARE(TiffHandler::canRead(&probe.buffer), ours);
    QCOMPARE(probe.buffer.pos(), 0);
    QCOMPARE(probe.handler.option(QImageIOHandler::Size).toSize(), QSize(40, 24));
    QCOMPARE(probe.handler.imageCount(), 1);
    QImage image;
    QVERIFY2(probe.handler.read(&image), qPrintable(probe.handler.errorText()));
    const QVector<QRgb> seen = quadrantColours(image);
    QString shown;
    for (QRgb c : seen)
        shown += QString::number(c, 16) + ' ';
    QVERIFY2(worstDifference(seen, colours) <= tolerance, qPrintable(shown));
}

void TestLibraryReaders::tiffOtherPagesStayWithQt()
{
    TiffPage rgb8;
    rgb8.quadrants = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {128, 64, 255}};
    TiffPage grey12;
    grey12.photometric = PHOTOMETRIC_MINISBLACK;
    grey12.bits = 12;
    grey12.samples = 1;
    grey12.quadrants = {{0}, {4095}, {2048}, {1024}};
    grey12.orientation = ORIENTATION_RIGHTTOP;
    const QByteArray tiff = writeTiff(m_dir.filePath(QStringLiteral("mixed.tif")), {rgb8, grey12});

    Probe<TiffHandler> probe(tiff);
    QVERIFY(probe.handler.canRead());
    QCOMPARE(probe.handler.imageCount(), 2);
    QImage first, second;
    QVERIFY(probe.handler.read(&first));
    QVERIFY(probe.handler.jumpToNextImage());
    QCOMPARE(probe.handler.currentImageNumber(), 1);
    // the caller turns the page as its Orientation tag says
    QCOMPARE(probe.handler.option(QImageIOHandler::ImageTransformation).toInt(),
             int(QImageIOHandler::TransformationRotate90));
    QVERIFY(probe.handler.read(&second));
    QCOMPARE(quadrantColours(first), (QVector<QRgb>{qRgb(255, 0, 0), qRgb(0, 255, 0),
                                                    qRgb(0, 0, 255), qRgb(128, 64, 255)}));
    QCOMPARE(quadrantColours(second), (QVector<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255),
                                                     qRgb(128, 128, 128), qRgb(64, 64, 64)}));
    QVERIFY(!probe.handler.jumpToImage(2));
}

void TestLibraryReaders::illustrator()
{
    Probe<IllustratorHandler> probe(pdfPage());
    QVERIFY(probe.handler.canRead());
    QCOMPARE(probe.handler.option(QImageIOHandler::Size).toSize(), QSize(200, 100));
    QImage image;
    QVERIFY2(probe.handler.read(&image), qPrintable(probe.handler.errorText()));
    QCOMPARE(image.size(), QSize(200, 100));
    QCOMPARE(image.convertToFormat(QImage::Format_ARGB32).pixel(50, 50), qRgb(255, 0, 0));
    QCOMPARE(qAlpha(image.pixel(150, 50)), 0); // the paper is transparent

    Probe<IllustratorHandler> scaled(pdfPage());
    scaled.handler.setOption(QImageIOHandler::ScaledSize, QSize(60, 30));
    QVERIFY(scaled.handler.read(&image));
    QCOMPARE(image.size(), QSize(60, 30));
    QCOMPARE(image.convertToFormat(QImage::Format_ARGB32).pixel(15, 15), qRgb(255, 0, 0));
}

void TestLibraryReaders::illustratorRefusals_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    QTest::newRow("PostScript only")
        << QByteArray("%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n"
                      "%%BoundingBox: 0 0 100 100\n%%EndComments\nshowpage\n%%EOF\n")
        << "PostScript";
    QTest::newRow("encrypted") << encryptedPdf() << "encrypted";
}

void TestLibraryReaders::illustratorRefusals()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    Probe<IllustratorHandler> probe(file);
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QVERIFY(!probe.handler.read(&image));
    QVERIFY2(probe.handler.errorText().contains(reason), qPrintable(probe.handler.errorText()));
    QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 255));
}

void TestLibraryReaders::damagedFilesRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("file");
    // Scrambled picture data may decode to noise (HEVC and deflate data carry no checksum);
    // it must not crash, and a picture read must be whole.
    QTest::addColumn<bool>("refused");

    const QByteArray heic = fileBytes(realDataPath(QStringLiteral("heic/Stonehenge.heic")));
    QTest::newRow("HEIF cut in its picture data")
        << "heif" << heic.left(heic.size() - 4000) << true;
    QByteArray scrambled = heic;
    for (int i = heic.size() / 2; i < heic.size(); i += 7)
        scrambled[i] = char(scrambled[i] ^ 0x5A);
    QTest::newRow("HEIF scrambled") << "heif" << scrambled << false;
    QTest::newRow("HEIF header only") << "heif" << heic.left(40) << true;

    TiffPage lab16;
    lab16.photometric = PHOTOMETRIC_CIELAB;
    lab16.bits = 16;
    lab16.planar = PLANARCONFIG_SEPARATE;
    lab16.tiled = true;
    lab16.quadrants = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};
    const QByteArray tiff = writeTiff(m_dir.filePath(QStringLiteral("damaged.tif")), {lab16});
    QTest::newRow("TIFF tiles cut") << "tiff" << tiff.left(tiff.size() / 3) << true;
    QByteArray tiffScrambled = tiff;
    for (int i = 16; i < tiff.size() - 200; i += 5)
        tiffScrambled[i] = char(tiffScrambled[i] ^ 0x33);
    QTest::newRow("TIFF pixel data scrambled") << "tiff" << tiffScrambled << false;

    const QByteArray pdf = pdfPage();
    QTest::newRow("AI cut after its header") << "ai" << pdf.left(60) << true;
    QTest::newRow("AI header and noise")
        << "ai" << QByteArray("%PDF-1.4\n") + QByteArray(500, '\x9f') << true;
}

void TestLibraryReaders::damagedFilesRefused()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, file);
    QFETCH(bool, refused);
    std::unique_ptr<QImageIOHandler> handler;
    if (kind == "heif") handler = std::make_unique<HeifHandler>();
    if (kind == "tiff") handler = std::make_unique<TiffHandler>();
    if (kind == "ai") handler = std::make_unique<IllustratorHandler>();
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    handler->setDevice(&buffer);
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QSize stated = handler->option(QImageIOHandler::Size).toSize();
    const bool read = handler->read(&image);
    if (!refused && read) {
        QCOMPARE(image.size(), stated);
        return;
    }
    QVERIFY(!read);
    QCOMPARE(image.size(), QSize(3, 3));
    QCOMPARE(image.pixel(1, 1), qRgb(0, 0, 255));
}

QTEST_MAIN(TestLibraryReaders)
#include "tst_library_readers.moc"
