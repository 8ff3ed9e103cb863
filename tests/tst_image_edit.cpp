// Editing and saving an opened picture through ImageWrapper: quarter turns and where they
// go, rotated-copy names, flips, crop and resize on turned pictures, the save family with its
// fit rules, and what the raster back-end writes (flattening, metadata, JFIF density).

#include "formats/ExifItems.h"
#include "formats/ImageFormats.h"
#include "image/ImageWrapper.h"
#include "platform/PropertyItems.h"
#include "support/FileState.h"
#include "support/OpenPicture.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/UprightRender.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cstring>

#include <sys/stat.h>

namespace {

// JPEG written at the best quality and read back differs by a few levels per channel.
constexpr double JpegMeanTolerance = 3.0;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int itemValue(const QVector<platform::PropertyItem> &items, quint32 id, int *type = nullptr)
{
    for (const platform::PropertyItem &item : items) {
        if (item.id != id || item.value.isEmpty()) continue;
        if (type) *type = item.type;
        return quint8(item.value.at(0));
    }
    return 0;
}

QImage readBack(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// The JFIF density fields (units, x, y) of a JPEG file, found by walking its segments.
bool jfifDensity(const QString &path, int *units, int *x, int *y)
{
    const QByteArray bytes = fileBytes(path);
    int pos = 2;
    while (pos + 4 <= bytes.size() && quint8(bytes.at(pos)) == 0xFF) {
        const int marker = quint8(bytes.at(pos + 1));
        const int length = quint8(bytes.at(pos + 2)) << 8 | quint8(bytes.at(pos + 3));
        if (marker == 0xDA) return false;
        if (marker == 0xE0 && bytes.mid(pos + 4, 5) == QByteArray("JFIF\0", 5)) {
            *units = quint8(bytes.at(pos + 11));
            *x = quint8(bytes.at(pos + 12)) << 8 | quint8(bytes.at(pos + 13));
            *y = quint8(bytes.at(pos + 14)) << 8 | quint8(bytes.at(pos + 15));
            return true;
        }
        pos += 2 + length;
    }
    return false;
}

} // namespace

class TestImageEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void quarterTurns_data();
    void quarterTurns();
    void turnsUndoAndCycle_data();
    void turnsUndoAndCycle();
    void rotateCopyNames_data();
    void rotateCopyNames();
    void rotateTargets_data();
    void rotateTargets();
    void rotateMultiFrameOverwrite();
    void exportFit_data();
    void exportFit();
    void saveAsUnchanged();
    void copyFileRefusesExisting();
    void transparentBecomesWhite_data();
    void transparentBecomesWhite();
    void exportFlattens_data();
    void exportFlattens();
    void savedTurnExact_data();
    void savedTurnExact();
    void jfifDensityKept();
    void orientationItemsWritten_data();
    void orientationItemsWritten();
    void flips_data();
    void flips();
    void cropAndResizeUpright_data();
    void cropAndResizeUpright();
    void clipModeNeverWritten();
    void nonWritableFormats();
    void cameraMetadataKept_data();
    void cameraMetadataKept();
    void replacedFileKeepsPermissions_data();
    void replacedFileKeepsPermissions();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A 40 x 30 picture with distinct quadrants, as JPEG with an orientation or as PNG.
    QString makePicture(const QString &name, int orientation = 0);

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestImageEdit::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString TestImageEdit::makePicture(const QString &name, int orientation)
{
    const QString file = path(name);
    const QImage image = quadrantPicture(QSize(40, 30), QImage::Format_ARGB32);
    if (name.endsWith(QLatin1String(".jpg"))) {
        const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
        if (orientation > 0 ? !writeOrientedJpeg(file, opaque, orientation)
                            : !opaque.save(file, "JPEG", 100))
            return {};
    } else if (!image.save(file)) {
        return {};
    }
    return file;
}

void TestImageEdit::quarterTurns_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("clockwise");
    QTest::addColumn<int>("to");

    // Plain turns follow the cycle 1 -> 6 -> 3 -> 8; the mirrored values turn the way the
    // picture on screen turns.
    const int cw[9] = {0, 6, 7, 8, 5, 2, 3, 4, 1};
    const int ccw[9] = {0, 8, 5, 6, 7, 4, 1, 2, 3};
    for (int o = 1; o <= 8; ++o) {
        QTest::newRow(qPrintable(QStringLiteral("%1 cw").arg(o))) << o << true << cw[o];
        QTest::newRow(qPrintable(QStringLiteral("%1 ccw").arg(o))) << o << false << ccw[o];
    }
}

void TestImageEdit::quarterTurns()
{
    QFETCH(int, from);
    QFETCH(bool, clockwise);
    QFETCH(int, to);

    const QString file = makePicture(QStringLiteral("turn.jpg"), from);
    QVERIFY(!file.isEmpty());
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->orientation(), long(from));
    const QSize before = picture->imageSize(0);
    const QImage shown = paintUpright(*picture);

    QString out = QStringLiteral("untouched");
    QVERIFY(!picture->rotate(clockwise, out, SaveNone));
    QVERIFY(out.isEmpty());
    QCOMPARE(picture->orientation(), long(to));
    QVERIFY(picture->dirty());
    QCOMPARE(picture->imageSize(0), before.transposed());
    // What the viewer paints now is what it painted before, turned a quarter.
    const QImage expected = shown.transformed(QTransform().rotate(clockwise ? 90 : -90));
    QCOMPARE(maxChannelDifference(paintUpright(*picture), expected), 0);
    QCOMPARE(fileSha256(file), fileSha256(file)); // nothing written
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 1);
}

void TestImageEdit::turnsUndoAndCycle_data()
{
    QTest::addColumn<int>("from");
    for (int o = 1; o <= 8; ++o)
        QTest::newRow(qPrintable(QString::number(o))) << o;
}

void TestImageEdit::turnsUndoAndCycle()
{
    QFETCH(int, from);
    const QString file = makePicture(QStringLiteral("cycle.jpg"), from);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out;
    picture->rotate(true, out, SaveNone);
    picture->rotate(false, out, SaveNone);
    QCOMPARE(picture->orientation(), long(from));
    for (int i = 0; i < 4; ++i)
        picture->rotate(true, out, SaveNone);
    QCOMPARE(picture->orientation(), long(from));
    if (from == 1) {
        QList<long> seen;
        for (int i = 0; i < 4; ++i) {
            picture->rotate(true, out, SaveNone);
            seen.append(picture->orientation());
        }
        QCOMPARE(seen, (QList<long>{6, 3, 8, 1}));
    }
}

void TestImageEdit::rotateCopyNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<bool>("translated");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first copy") << "a.jpg" << QStringList() << false << "a - Rotate (1).jpg";
    QTest::newRow("turning a turned copy")
        << "a - Rotate (1).jpg" << QStringList{"a.jpg"} << false << "a - Rotate (2).jpg";
    QTest::newRow("numbers taken")
        << "a.jpg" << QStringList{"a - Rotate (1).jpg", "a - Rotate (2).jpg"} << false
        << "a - Rotate (3).jpg";
    QTest::newRow("two dots") << "a.b.png" << QStringList() << false << "a.b - Rotate (1).png";
    QTest::newRow("translated") << "a.jpg" << QStringList() << true
                                << QString::fromUtf8("a - 旋转 (1).jpg");
    QTest::newRow("translated tag stripped")
        << QString::fromUtf8("a - 旋转 (1).jpg") << QStringList{QString::fromUtf8("a.jpg")} << true
        << QString::fromUtf8("a - 旋转 (2).jpg");
}

void TestImageEdit::rotateCopyNames()
{
    QFETCH(QString, name);
    QFETCH(QStringList, existing);
    QFETCH(bool, translated);
    QFETCH(QString, expected);

    QTranslator translator;
    if (translated) {
        const QString qm = QStringLiteral(PICSAGE_LIBDIR "/mui/zh_CN/default.qm");
        QVERIFY2(translator.load(qm), qPrintable(qm));
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }
    const QString file = makePicture(
        name.endsWith(QLatin1String(".png")) ? QStringLiteral("x.png") : QStringLiteral("x.jpg"));
    QVERIFY(QFile::rename(file, path(name)));
    for (const QString &other : existing)
        QVERIFY(QFile::copy(path(name), path(other)));
    const QSharedPointer<ImageWrapper> picture = openPicture(path(name));
    QVERIFY(picture);
    QString out;
    const bool ok = picture->rotate(true, out, SaveRotateCopy);
    if (translated) QCoreApplication::removeTranslator(&translator);
    QVERIFY(ok);
    QCOMPARE(out, path(expected));
    QVERIFY(QFileInfo::exists(out));
    QCOMPARE(picture->orientation(), 1L);
    QVERIFY(!picture->dirty());
}

void TestImageEdit::rotateTargets_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("target"); // for SaveToPath
    QTest::addColumn<bool>("ownFileChanges");

    QTest::newRow("overwrite") << int(SaveOverwrite) << QString() << true;
    QTest::newRow("to path, same format") << int(SaveToPath) << "out.jpg" << false;
    QTest::newRow("to path, png") << int(SaveToPath) << "out.png" << false;
    QTest::newRow("to path, tiff") << int(SaveToPath) << "out.tif" << false;
    QTest::newRow("to path, bmp") << int(SaveToPath) << "out.bmp" << false;
}

void TestImageEdit::rotateTargets()
{
    QFETCH(int, type);
    QFETCH(QString, target);
    QFETCH(bool, ownFileChanges);

    const QString file = makePicture(QStringLiteral("own.jpg"), 1);
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    const QImage shown = paintUpright(*picture);
    QString out = target.isEmpty() ? QString() : path(target);
    QVERIFY(picture->rotate(true, out, SaveType(type)));
    QCOMPARE(picture->orientation(), 1L);
    QVERIFY(!picture->dirty());
    QCOMPARE(fileSha256(file) != before, ownFileChanges);
    const QString written = ownFileChanges ? file : out;
    QVERIFY(!written.isEmpty());
    const QImage expected = shown.transformed(QTransform().rotate(90));
    QVERIFY2(meanChannelDifference(renderUpright(written), expected) <= JpegMeanTolerance,
             qPrintable(QString::number(meanChannelDifference(renderUpright(written), expected))));
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());
}

void TestImageEdit::rotateMultiFrameOverwrite()
{
    REAL_DATA(source, QStringLiteral("tiff/multipage.tiff"));
    const QString file = path(QStringLiteral("pages.tif"));
    QVERIFY(QFile::copy(source, file));
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->frameCount(), 3);
    QString out = QStringLiteral("x");
    QVERIFY(!picture->rotate(true, out, SaveOverwrite));
    QVERIFY(out.isEmpty());
    QVERIFY(picture->dirty());
    QCOMPARE(picture->orientation(), 6L);
    QCOMPARE(fileSha256(file), before);
    QVERIFY(!picture->canRotate(true));
}

void TestImageEdit::exportFit_data()
{
    QTest::addColumn<int>("maxWidth");
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("no limits") << 0 << 0 << QSize(400, 300);
    QTest::newRow("width 100") << 100 << 0 << QSize(100, 75);
    QTest::newRow("larger box") << 1000 << 1000 << QSize(400, 300);
    QTest::newRow("height 150") << 0 << 150 << QSize(200, 150);
    QTest::newRow("height limits in a box") << 300 << 100 << QSize(133, 100);
    QTest::newRow("width limits in a box") << 100 << 300 << QSize(100, 75);
    QTest::newRow("square box") << 200 << 200 << QSize(200, 150);
    QTest::newRow("only width larger") << 5000 << -1 << QSize(400, 300);
    QTest::newRow("height above, width below") << 200 << 1000 << QSize(200, 150);
}

void TestImageEdit::exportFit()
{
    QFETCH(int, maxWidth);
    QFETCH(int, maxHeight);
    QFETCH(QSize, expected);

    const QString file = path(QStringLiteral("big.png"));
    QVERIFY(quadrantPicture(QSize(400, 300), QImage::Format_ARGB32).save(file));
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    const QString out = path(QStringLiteral("small.png"));
    QVERIFY(picture->save(out, maxWidth, maxHeight, 90, FormatPng));
    QCOMPARE(QImageReader(out).size(), expected);
    QVERIFY(!picture->dirty());
    QCOMPARE(fileSha256(file), before);
    // A format that cannot be written and an empty path write nothing.
    QVERIFY(!picture->save(path(QStringLiteral("x.gif")), 0, 0, 90, FormatGif));
    QVERIFY(!picture->save(QString(), 0, 0, 90, FormatPng));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("x.gif"))));
}

void TestImageEdit::saveAsUnchanged()
{
    const QString file = makePicture(QStringLiteral("same.jpg"), 6);
    const QByteArray before = fileBytes(file);
    const QDateTime modified = QFileInfo(file).lastModified();
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(picture->saveAs(file, false));
    QCOMPARE(fileBytes(file), before);
    QCOMPARE(QFileInfo(file).lastModified(), modified);
    // Another path in the same format: the file's bytes, unchanged.
    const QString copy = path(QStringLiteral("copy.jpg"));
    QVERIFY(picture->saveAs(copy, false));
    QCOMPARE(fileBytes(copy), before);
    // save() of an unchanged picture writes nothing and succeeds.
    QVERIFY(picture->save());
    QCOMPARE(fileBytes(file), before);
    // The back-end's save to another path in its own format copies too.
    const QString copy2 = path(QStringLiteral("copy2.jpg"));
    QVERIFY(picture->save(copy2));
    QCOMPARE(fileBytes(copy2), before);
}

void TestImageEdit::copyFileRefusesExisting()
{
    const QString file = makePicture(QStringLiteral("c.png"));
    const QString other = makePicture(QStringLiteral("other.jpg"));
    const QByteArray otherBytes = fileBytes(other);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(!picture->copyFile(other, false));
    QCOMPARE(fileBytes(other), otherBytes);
    QVERIFY(picture->copyFile(other, true));
    QCOMPARE(fileBytes(other), fileBytes(file));
    const QString fresh = path(QStringLiteral("fresh.png"));
    QVERIFY(picture->copyFile(fresh, false));
    QCOMPARE(fileBytes(fresh), fileBytes(file));
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());
}

void TestImageEdit::transparentBecomesWhite_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepsAlpha");
    QTest::newRow("jpg") << "out.jpg" << false;
    QTest::newRow("jpeg") << "out.jpeg" << false;
    QTest::newRow("bmp") << "out.bmp" << false;
    QTest::newRow("png") << "out.png" << true;
    QTest::newRow("tif") << "out.tif" << true;
}

void TestImageEdit::transparentBecomesWhite()
{
    QFETCH(QString, target);
    QFETCH(bool, keepsAlpha);

    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y)
        for (int x = 10; x < 20; ++x)
            image.setPixel(x, y, qRgba(200, 0, 0, 255));
    const QString file = path(QStringLiteral("alpha.png"));
    QVERIFY(image.save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    picture->setDirty(true);
    QVERIFY(picture->saveAs(path(target), false));
    const QImage back = readBack(path(target));
    QCOMPARE(back.size(), QSize(20, 10));
    const QRgb left = back.pixel(2, 5);
    if (keepsAlpha) {
        QCOMPARE(qAlpha(left), 0);
    } else {
        QCOMPARE(qAlpha(left), 255);
        QVERIFY2(qRed(left) > 245 && qGreen(left) > 245 && qBlue(left) > 245,
                 qPrintable(QString::number(left, 16)));
    }
    QVERIFY(qRed(back.pixel(15, 5)) > 180 && qGreen(back.pixel(15, 5)) < 40);
}

// The reduced copy in a container without alpha: transparent parts white, opaque pixels as
// they were (an opaque picture takes a shorter way there).
void TestImageEdit::exportFlattens_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("target");
    QTest::newRow("opaque png to bmp") << "in.png" << false << int(FormatBmp) << "out.bmp";
    QTest::newRow("transparent png to bmp") << "in.png" << true << int(FormatBmp) << "out.bmp";
    QTest::newRow("transparent png to jpg") << "in.png" << true << int(FormatJpg) << "out.jpg";
    QTest::newRow("jpg to jpg") << "in.jpg" << false << int(FormatJpg) << "out.jpg";
    QTest::newRow("jpg to bmp") << "in.jpg" << false << int(FormatBmp) << "out.bmp";
}

void TestImageEdit::exportFlattens()
{
    QFETCH(QString, source);
    QFETCH(bool, transparent);
    QFETCH(int, format);
    QFETCH(QString, target);

    QImage image(40, 20, QImage::Format_ARGB32);
    image.fill(transparent ? Qt::transparent : QColor(30, 60, 90));
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            image.setPixel(x, y, qRgba(200, 10, 10, 255));
    const QString file = path(source);
    QVERIFY(image.save(file, nullptr, 100));
    const QImage decoded = readBack(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(picture->save(path(target), 0, 0, 100, ImageFormatEnum(format)));
    const QImage back = readBack(path(target));
    QCOMPARE(back.size(), QSize(40, 20));
    const QRgb left = back.pixel(5, 10);
    QCOMPARE(qAlpha(left), 255);
    const QRgb expected = transparent ? qRgb(255, 255, 255) : decoded.pixel(5, 10);
    // BMP keeps the pixels exactly, JPEG within its re-encoding.
    const int tolerance = format == FormatBmp ? 0 : 6;
    QVERIFY2(
        qAbs(qRed(left) - qRed(expected)) <= tolerance &&
            qAbs(qGreen(left) - qGreen(expected)) <= tolerance &&
            qAbs(qBlue(left) - qBlue(expected)) <= tolerance,
        qPrintable(QString::number(left, 16) + QLatin1Char(' ') + QString::number(expected, 16)));
    QVERIFY(qRed(back.pixel(30, 10)) > 180 && qGreen(back.pixel(30, 10)) < 40);
}

// A turn written to a lossless file holds exactly the picture turned, for sizes that end
// inside the copying tiles.
void TestImageEdit::savedTurnExact_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("clockwise");
    QTest::newRow("70x45 cw") << QSize(70, 45) << true;
    QTest::newRow("70x45 ccw") << QSize(70, 45) << false;
    QTest::newRow("33x97 cw") << QSize(33, 97) << true;
    QTest::newRow("33x97 ccw") << QSize(33, 97) << false;
    QTest::newRow("1x5 cw") << QSize(1, 5) << true;
}

void TestImageEdit::savedTurnExact()
{
    QFETCH(QSize, size);
    QFETCH(bool, clockwise);

    const QImage image = quadrantPicture(size, QImage::Format_RGB32);
    const QString file = path(QStringLiteral("plain.png"));
    QVERIFY(image.save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out = path(QStringLiteral("turned.png"));
    QVERIFY(picture->rotate(clockwise, out, SaveToPath));
    const QImage back = readBack(out);
    const QImage expected = readBack(file).transformed(QTransform().rotate(clockwise ? 90 : -90));
    QCOMPARE(back.size(), size.transposed());
    QCOMPARE(maxChannelDifference(back, expected), 0);
}

void TestImageEdit::jfifDensityKept()
{
    QImage image = quadrantPicture(QSize(40, 30), QImage::Format_RGB32);
    const QString file = path(QStringLiteral("dense.jpg"));
    QVERIFY(image.save(file, "JPEG", 100));
    // Dots per centimetre, 118 x 59: something Qt's writer does not produce by itself.
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        QCOMPARE(bytes.mid(6, 5), QByteArray("JFIF\0", 5));
        bytes[13] = 2;
        bytes[14] = 0;
        bytes[15] = 118;
        bytes[16] = 0;
        bytes[17] = 59;
        f.seek(0);
        f.write(bytes);
    }
    QVERIFY(setExifOrientation(file, 6));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out = path(QStringLiteral("turned.jpg"));
    QVERIFY(picture->rotate(true, out, SaveToPath));
    int units = 0, x = 0, y = 0;
    QVERIFY(jfifDensity(out, &units, &x, &y));
    QCOMPARE(units, 2);
    QCOMPARE(x, 118);
    QCOMPARE(y, 59);
    // Still a picture that reads whole.
    QCOMPARE(QImageReader(out).size(), QSize(40, 30));
}

void TestImageEdit::orientationItemsWritten_data()
{
    QTest::addColumn<bool>("withThumbnailItem");
    QTest::addColumn<int>("thumbnailType");
    // The orientation item keeps its type (SHORT); a thumbnail orientation the file did not
    // have is added as SLONG.
    QTest::newRow("orientation only") << false << int(PropertyTagTypeSLONG);
    QTest::newRow("with thumbnail orientation") << true << int(PropertyTagTypeShort);
}

void TestImageEdit::orientationItemsWritten()
{
    QFETCH(bool, withThumbnailItem);
    QFETCH(int, thumbnailType);

    const QString file = path(QStringLiteral("items.jpg"));
    QVERIFY(quadrantPicture(QSize(40, 30), QImage::Format_RGB32).save(file, "JPEG", 100));
    QVERIFY(setExifOrientation(file, 8, withThumbnailItem ? 3 : 0));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out;
    QVERIFY(picture->rotate(false, out, SaveRotateCopy));
    const QVector<platform::PropertyItem> items = platform::readPropertyItems(out);
    int type = 0;
    QCOMPARE(itemValue(items, PropertyTagOrientation, &type), 1);
    QCOMPARE(type, int(PropertyTagTypeShort));
    // Without a thumbnail the thumbnail orientation follows the main one, and is not turned.
    QCOMPARE(itemValue(items, PropertyTagThumbnailOrientation, &type), withThumbnailItem ? 3 : 8);
    QCOMPARE(type, thumbnailType);
    // Turned pixels: the picture is shown 40 x 30 after one counter-clockwise turn of 8.
    QCOMPARE(QImageReader(out).size(), QSize(40, 30));
}

void TestImageEdit::flips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<double>("tolerance");

    QTest::newRow("png horizontal") << "f.png" << 0 << true << 0.0;
    QTest::newRow("png vertical") << "f.png" << 0 << false << 0.0;
    QTest::newRow("jpg turned 6 horizontal") << "f.jpg" << 6 << true << JpegMeanTolerance;
    QTest::newRow("jpg mirrored 2 vertical") << "f.jpg" << 2 << false << JpegMeanTolerance;
    QTest::newRow("jpg mirrored 7 horizontal") << "f.jpg" << 7 << true << JpegMeanTolerance;
}

void TestImageEdit::flips()
{
    QFETCH(QString, name);
    QFETCH(int, orientation);
    QFETCH(bool, horizontal);
    QFETCH(double, tolerance);

    const QString file = makePicture(name, orientation);
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    const QImage shown = paintUpright(*picture);
    const QString out = path(QStringLiteral("flipped.") + QFileInfo(name).suffix());
    QVERIFY(horizontal ? picture->horizonFlip(out) : picture->verticalFlip(out));
    QVERIFY(!picture->dirty());
    QCOMPARE(picture->orientation(), long(orientation ? orientation : 1));
    QCOMPARE(fileSha256(file), before);
    const QImage expected = shown.mirrored(horizontal, !horizontal);
    const QImage back = readBack(out);
    QVERIFY2(meanChannelDifference(back, expected) <= tolerance,
             qPrintable(QString::number(meanChannelDifference(back, expected))));
}

void TestImageEdit::cropAndResizeUpright_data()
{
    QTest::addColumn<int>("orientation");
    for (int o : {1, 3, 5, 6, 8})
        QTest::newRow(qPrintable(QString::number(o))) << o;
}

void TestImageEdit::cropAndResizeUpright()
{
    QFETCH(int, orientation);
    const QString file = makePicture(QStringLiteral("crop.jpg"), orientation);
    const QImage shown = renderUpright(file);
    QVERIFY(!shown.isNull());

    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    // The rectangle is taken on the picture as shown.
    const QRect rect(3, 4, 12, 9);
    QVERIFY(picture->crop(rect));
    QVERIFY(picture->dirty());
    QCOMPARE(picture->imageSize(0), rect.size());
    QVERIFY(meanChannelDifference(paintUpright(*picture), shown.copy(rect)) <= 0.01);
    const QString out = path(QStringLiteral("cropped.png"));
    QVERIFY(picture->saveAs(out, false));
    QVERIFY(meanChannelDifference(readBack(out), shown.copy(rect)) <= 0.01);

    const QSharedPointer<ImageWrapper> again = openPicture(file);
    QVERIFY(again);
    const QSize size = shown.size() * 2;
    again->resize(size.width(), size.height(), Qt::FastTransformation);
    QCOMPARE(again->imageSize(0), size);
    QCOMPARE(again->originalSize(), size);
    const QImage expected = shown.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QVERIFY(meanChannelDifference(paintUpright(*again), expected) <= 0.01);
    // Only the width: the height follows.
    const QSharedPointer<ImageWrapper> third = openPicture(file);
    third->resize(shown.width() / 2, 0, Qt::SmoothTransformation);
    QCOMPARE(third->imageSize(0), shown.size() / 2);
    QCOMPARE(third->originalSize(), shown.size() / 2);
    // Outside the picture: nothing to crop.
    QVERIFY(!third->crop(QRect(500, 500, 10, 10)));
}

void TestImageEdit::clipModeNeverWritten()
{
    // A picture decoded at screen size must not replace its file: the reduced decode is not
    // the picture.
    const QString file = path(QStringLiteral("huge.jpg"));
    {
        // 12000 x 9000 grey pixels (over 104,857,600): the whole decode stays at 108 MB.
        QImage huge(12000, 9000, QImage::Format_Grayscale8);
        for (int y = 0; y < huge.height(); ++y)
            std::memset(huge.scanLine(y), (y / 300) % 2 ? 200 : 60, size_t(huge.width()));
        QVERIFY(huge.save(file, "JPEG", 50));
    }
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(picture->isClipMode());
    QVERIFY(!picture->canRotate(true));
    QString out;
    QVERIFY(!picture->rotate(true, out, SaveOverwrite));
    QCOMPARE(fileSha256(file), before);
}

void TestImageEdit::nonWritableFormats()
{
    // PPM is read but never written.
    const QString file = path(QStringLiteral("plain.ppm"));
    QVERIFY(quadrantPicture(QSize(20, 20), QImage::Format_RGB32).save(file, "PPM"));
    const QByteArray before = fileSha256(file);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out;
    // The turn stays in memory; nothing is written anywhere.
    QVERIFY(!picture->rotate(true, out, SaveRotateCopy));
    QVERIFY(out.isEmpty());
    QCOMPARE(picture->orientation(), 6L);
    QVERIFY(picture->dirty());
    QVERIFY(!picture->horizonFlip(path(QStringLiteral("m.ppm"))));
    QVERIFY(!picture->saveAs(path(QStringLiteral("m.ppm")), false));
    QVERIFY(!picture->save(path(QStringLiteral("m.ppm"))));
    QVERIFY(!picture->save());
    QCOMPARE(fileSha256(file), before);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("plain.ppm")});
    QVERIFY(picture->canDelete());
}

void TestImageEdit::cameraMetadataKept_data()
{
    // What is written, and how the embedded thumbnail (orientation 6) must then be shown.
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<int>("thumbnailOrientation");
    // Shown 1536 x 2048 (orientation 6): turned a quarter more it is stored 2048 x 1536; a
    // flip stores it as shown.
    QTest::newRow("turned, copy") << "rotate copy" << QSize(2048, 1536) << 3;
    QTest::newRow("turned, overwrite") << "rotate overwrite" << QSize(2048, 1536) << 3;
    QTest::newRow("flipped left to right") << "flip horizontal" << QSize(1536, 2048) << 5;
    QTest::newRow("flipped top to bottom, in place")
        << "flip vertical in place" << QSize(1536, 2048) << 7;
}

// Writing a turned or mirrored photo keeps the camera's items and the thumbnail.
void TestImageEdit::cameraMetadataKept()
{
    QFETCH(QString, edit);
    QFETCH(QSize, stored);
    QFETCH(int, thumbnailOrientation);
    REAL_DATA(source, QStringLiteral("jpeg/exif_thumb_orient6_canon_hdr_YES.jpg"));
    const QString file = path(QStringLiteral("canon.jpg"));
    QVERIFY(QFile::copy(source, file));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    const auto valueOf = [](const QVector<platform::PropertyItem> &items, quint32 id) {
        for (const platform::PropertyItem &item : items)
            if (item.id == id) return item.value;
        return QByteArray();
    };
    const QVector<platform::PropertyItem> before = platform::readPropertyItems(file);
    QVERIFY(valueOf(before, 0x010F).startsWith("Canon"));

    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(picture->hasThumbnail());
    QCOMPARE(picture->thumbnailOrientation(), 6L);
    QString written;
    if (edit.startsWith(QLatin1String("rotate"))) {
        const bool overwrite = edit.endsWith(QLatin1String("overwrite"));
        QVERIFY(picture->rotate(true, written, overwrite ? SaveOverwrite : SaveRotateCopy));
        if (overwrite) written = file;
    } else {
        written = edit.endsWith(QLatin1String("in place")) ? file : path(QStringLiteral("out.jpg"));
        QVERIFY(edit.contains(QLatin1String("horizontal")) ? picture->horizonFlip(written)
                                                           : picture->verticalFlip(written));
    }
    const QVector<platform::PropertyItem> after = platform::readPropertyItems(written);
    // The camera's items and the thumbnail stay; the edit is in the pixels, the thumbnail's
    // orientation says how to show the unedited thumbnail.
    QCOMPARE(valueOf(after, 0x010F), valueOf(before, 0x010F));
    QCOMPARE(valueOf(after, 0x9003), valueOf(before, 0x9003)); // date taken
    QCOMPARE(valueOf(after, PropertyTagThumbnailData), valueOf(before, PropertyTagThumbnailData));
    QCOMPARE(itemValue(after, PropertyTagOrientation), 1);
    QCOMPARE(itemValue(after, PropertyTagThumbnailOrientation), thumbnailOrientation);
    QCOMPARE(QImageReader(written).size(), stored);
    const QByteArray x = valueOf(after, PropertyTagExifPixXDim);
    const QByteArray y = valueOf(after, PropertyTagExifPixYDim);
    QVERIFY(x.size() >= 2 && y.size() >= 2);
    QCOMPARE(quint8(x.at(1)) * 256 + quint8(x.at(0)), stored.width());
    QCOMPARE(quint8(y.at(1)) * 256 + quint8(y.at(0)), stored.height());
    // Reopened, it shows upright with its thumbnail.
    const QSharedPointer<ImageWrapper> again = openPicture(written);
    QVERIFY(again);
    QCOMPARE(again->orientation(), 1L);
    QVERIFY(again->hasThumbnail());
    QCOMPARE(again->originalSize(), stored);
}

void TestImageEdit::replacedFileKeepsPermissions_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("0640") << 0640;
    QTest::newRow("0604") << 0604;
    QTest::newRow("0755") << 0755;
}

void TestImageEdit::replacedFileKeepsPermissions()
{
    QFETCH(int, mode);
    const QString file = makePicture(QStringLiteral("perm.jpg"), 6);
    const QByteArray native = QFile::encodeName(file);
    QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QString out;
    QVERIFY(picture->rotate(true, out, SaveOverwrite));
    struct stat info = {};
    QCOMPARE(::stat(native.constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
    // A new file gets what any new file gets: 0666 less the umask.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const QString fresh = path(QStringLiteral("fresh.png"));
    QVERIFY(picture->save(fresh, 0, 0, 90, FormatPng));
    QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), int(0666 & ~mask));
    QCOMPARE(stagingLeftovers(m_dir->path()), QStringList());
}

QTEST_MAIN(TestImageEdit)
#include "tst_image_edit.moc"
