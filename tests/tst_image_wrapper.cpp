// An opened picture: EXIF data, loading on other threads, the raster back-end's decoding
// paths (decoder, Qt readers, clip mode, lazy pages) and its painting.

#include "host/ViewerRenderCache.h"
#include "image/ImagePixmap.h"
#include "platform/ScreenMetrics.h"
#include "support/EmissionCounter.h"
#include "support/OpenPicture.h"
#include "support/PictureCompare.h"
#include "support/RealData.h"
#include "support/TiffWriter.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

Q_DECLARE_METATYPE(QImage::Format)

namespace {

ImagePixmap *rasterOf(const QSharedPointer<ImageWrapper> &picture)
{
    return dynamic_cast<ImagePixmap *>(picture->backEnd());
}

// What the viewer shows: the picture painted upright into `size`.
QImage paintUpright(ImageWrapper &picture, const QSize &size, int frame = 0, bool smooth = false)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    const QRect target(QPoint(0, 0), size);
    const QSize shown = picture.imageSize(frame);
    picture.paint(&painter, frame, target, target, double(size.width()) / shown.width(), nullptr);
    painter.end();
    return canvas;
}

// The same picture turned by Qt's own reading of the EXIF orientation.
QImage uprightByQt(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

QImage rotated(const QImage &image, int angle)
{
    return angle ? image.transformed(QTransform().rotate(angle)) : image;
}

} // namespace

class TestImageWrapper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void realOrientationsPaintUpright_data();
    void realOrientationsPaintUpright();
    void decodeBoxTakesTheCodecsReducedDecode_data();
    void decodeBoxTakesTheCodecsReducedDecode();
    void imageAtTurnsWithoutMirroring_data();
    void imageAtTurnsWithoutMirroring();
    void exifThumbnails_data();
    void exifThumbnails();
    void thumbnailStandsInForAMissingFrame();

    void loadOnAWorkerThreadWhilePolling();
    void twoThreadsLoadOnce();
    void loadWhenReadyLoadsNothing();
    void failedPictures_data();
    void failedPictures();
    void fileVanishesBetweenInitAndLoad();

    void clipMode_data();
    void clipMode();
    void lazyTiffHoldsAtMostElevenPages_data();
    void lazyTiffHoldsAtMostElevenPages();
    void lazyTiffKeepsBrokenPagesInPlace();
    void decoderAndReaderPaths_data();
    void decoderAndReaderPaths();

    void checkerboardBehindTransparency();
    void quarterTurnsByPixelCopies_data();
    void quarterTurnsByPixelCopies();
    void paintCache_data();
    void paintCache();
    void renderCacheThread();

    void hasAlphaAndDelay();
    void editsInMemory();
    void appendFrame_data();
    void appendFrame();
    void convertToBmpFlattensOntoWhite();
    void jfifDensityIsRead();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString orientedCopy(int orientation);

    QTemporaryDir m_dir;
    QString m_huge; // 12000 x 9000 JPEG
};

void TestImageWrapper::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A grey picture keeps the whole decode at 108 MB.
    m_huge = path(QStringLiteral("huge.jpg"));
    QImage huge(12000, 9000, QImage::Format_Grayscale8);
    for (int y = 0; y < huge.height(); ++y)
        std::memset(huge.scanLine(y), (y / 300) % 2 ? 200 : 60, size_t(huge.width()));
    QVERIFY(huge.save(m_huge, "JPEG", 50));
}

// Orientation 2, 4 and 7 have no real example: a real picture with its orientation changed.
QString TestImageWrapper::orientedCopy(int orientation)
{
    const QString copy = path(QStringLiteral("oriented-%1.jpg").arg(orientation));
    if (!QFile::exists(copy)) {
        if (!QFile::copy(realDataPath(QStringLiteral("jpeg/orient_Landscape_1.jpg")), copy))
            return {};
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        if (!setExifOrientation(copy, orientation)) return {};
    }
    return copy;
}

void TestImageWrapper::realOrientationsPaintUpright_data()
{
    QTest::addColumn<QString>("realFile");
    QTest::addColumn<int>("orientation");

    QTest::newRow("1 upright") << "jpeg/orient_Landscape_1.jpg" << 1;
    QTest::newRow("2 mirrored") << QString() << 2;
    QTest::newRow("3 turned 180") << "jpeg/orient_Landscape_3.jpg" << 3;
    QTest::newRow("4 mirrored top-bottom") << QString() << 4;
    QTest::newRow("5 transposed") << "jpeg/orient_Portrait_5.jpg" << 5;
    QTest::newRow("6 turned clockwise") << "jpeg/orient_Landscape_6.jpg" << 6;
    QTest::newRow("7 transversed") << QString() << 7;
    QTest::newRow("8 turned counter-clockwise") << "jpeg/orient_Landscape_8.jpg" << 8;
}

void TestImageWrapper::realOrientationsPaintUpright()
{
    QFETCH(QString, realFile);
    QFETCH(int, orientation);
    REAL_DATA(base, QStringLiteral("jpeg/orient_Landscape_1.jpg"));
    const QString file = realFile.isEmpty() ? orientedCopy(orientation) : realDataPath(realFile);
    QVERIFY(QFile::exists(file));

    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(picture->orientation(), long(orientation));

    const QImage expected = uprightByQt(file);
    QVERIFY(!expected.isNull());
    QCOMPARE(picture->imageSize(0), expected.size());

    // Full size: every pixel in its place.
    const QImage painted = paintUpright(*picture, expected.size());
    QCOMPARE(maxChannelDifference(painted, expected), 0);

    // Fitted into a box, smoothly, as the viewer paints it zoomed out.
    const QSize box = expected.size().scaled(QSize(300, 300), Qt::KeepAspectRatio);
    const QImage small = paintUpright(*picture, box, 0, true);
    const QImage reference = expected.scaled(box, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Painter and QImage scale by different filters: close, not equal.
    QVERIFY2(meanChannelDifference(small, reference) < 6,
             qPrintable(QString::number(meanChannelDifference(small, reference))));
}

void TestImageWrapper::decodeBoxTakesTheCodecsReducedDecode_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("huge");
    for (int o = 1; o <= 8; ++o)
        QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(o))) << o << false;
    QTest::newRow("12000 x 9000, beyond clip mode's size") << 1 << true;
}

// A box an eighth of the picture is exactly the codec's 1/8 decode: the decode box must give
// that and nothing else (a full decode reduced afterwards rounds differently), upright, and
// never in clip mode.
void TestImageWrapper::decodeBoxTakesTheCodecsReducedDecode()
{
    QFETCH(int, orientation);
    QFETCH(bool, huge);
    QString file = m_huge;
    if (!huge) {
        file = path(QStringLiteral("boxed-%1.jpg").arg(orientation));
        QImage stored = quadrantPicture(QSize(1600, 1200), QImage::Format_RGB32);
        for (int y = 0; y < stored.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(stored.scanLine(y));
            for (int x = 0; x < stored.width(); ++x) {
                const int grain = int((x * 7919u + y * 104729u) % 61u) - 30;
                line[x] = qRgb(qBound(0, qRed(line[x]) + grain, 255), qGreen(line[x]),
                               qBound(0, qBlue(line[x]) - grain, 255));
            }
        }
        QVERIFY(writeOrientedJpeg(file, stored, orientation));
    }
    const QSize stored = QImageReader(file).size();
    const bool turned = orientation >= 5;
    const QSize box = (turned ? stored.transposed() : stored) / 8;

    const QSharedPointer<ImageWrapper> picture = initPicture(file);
    QVERIFY(picture);
    picture->setDecodeBox(box);
    QCOMPARE(picture->decodeBox(), box);
    picture->load();
    QCOMPARE(picture->status(), ImageStatusReady);
    QVERIFY(!picture->isClipMode());
    QCOMPARE(picture->imageSize(0), box);
    QCOMPARE(ImageWrapper::fitInto(picture->imageSize(0), box), box);

    QImageReader codec(file);
    codec.setAutoTransform(true);
    codec.setScaledSize(stored / 8);
    const QImage eighth = codec.read();
    const QImage boxed = picture->uprightImage(0);
    QCOMPARE(maxChannelDifference(boxed, eighth), 0);
    if (huge) return;

    // And it is the picture: the full decode, scaled, within a filter's difference.
    const QImage full =
        uprightByQt(file).scaled(box, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY2(meanChannelDifference(boxed, full) < 4,
             qPrintable(QString::number(meanChannelDifference(boxed, full))));
    // The viewer's own path is unchanged without a box.
    const QSharedPointer<ImageWrapper> viewer = openPicture(file);
    QCOMPARE(viewer->imageSize(0), turned ? stored.transposed() : stored);
}

void TestImageWrapper::imageAtTurnsWithoutMirroring_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("angle");

    const int angles[] = {0, 0, 0, 180, 180, 90, 90, -90, -90};
    for (int o = 1; o <= 8; ++o)
        QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(o))) << o << angles[o];
}

void TestImageWrapper::imageAtTurnsWithoutMirroring()
{
    QFETCH(int, orientation);
    QFETCH(int, angle);
    const QImage stored = quadrantPicture(QSize(40, 24), QImage::Format_RGB32);
    const QString file = path(QStringLiteral("turn-%1.png").arg(orientation));
    QVERIFY(stored.save(file));
    QVERIFY(setExifOrientation(file, orientation));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->orientation(), long(orientation));
    const QImage turned = picture->imageAt(0, 0, 0);
    QCOMPARE(maxChannelDifference(turned, rotated(stored, angle)), 0);
    QCOMPARE(picture->pixmapAt(0, 0, 0).size(), turned.size());
    QCOMPARE(picture->imageSize(0), turned.size());
    QVERIFY(picture->imageAt(1, 0, 0).isNull());
    QVERIFY(picture->imageAt(-1, 0, 0).isNull());
    QVERIFY(picture->pixmapAt(3, 0, 0).isNull());
}

void TestImageWrapper::exifThumbnails_data()
{
    QTest::addColumn<QString>("realFile");
    QTest::addColumn<int>("writtenThumbnailOrientation");
    QTest::addColumn<QSize>("thumbnailSize");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("thumbnailOrientation");
    QTest::addColumn<QSize>("exifSize");

    QTest::newRow("camera picture, thumbnail follows the picture")
        << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg" << 0 << QSize(160, 120) << 6 << 6
        << QSize(2048, 1536);
    QTest::newRow("thumbnail orientation of its own")
        << "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg" << 3 << QSize(160, 120) << 6 << 3
        << QSize(2048, 1536);
    QTest::newRow("no thumbnail") << "jpeg/orient_Landscape_6.jpg" << 0 << QSize() << 6 << 6
                                  << QSize();
}

void TestImageWrapper::exifThumbnails()
{
    QFETCH(QString, realFile);
    QFETCH(int, writtenThumbnailOrientation);
    QFETCH(QSize, thumbnailSize);
    QFETCH(int, orientation);
    QFETCH(int, thumbnailOrientation);
    QFETCH(QSize, exifSize);
    REAL_DATA(original, realFile);

    QString file = original;
    if (writtenThumbnailOrientation) {
        file = path(QStringLiteral("thumb-orientation.jpg"));
        QFile::remove(file);
        QVERIFY(QFile::copy(original, file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(setExifOrientation(file, orientation, writtenThumbnailOrientation));
    } else {
        // The file itself has no thumbnail-orientation item.
        for (const platform::PropertyItem &item : platform::readPropertyItems(file))
            QVERIFY(item.id != PropertyTagThumbnailOrientation);
    }

    // Before loading, from the EXIF data alone.
    const QSharedPointer<ImageWrapper> picture = initPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->status(), ImageStatusNone);
    QCOMPARE(picture->hasThumbnail(), thumbnailSize.isValid());
    QCOMPARE(picture->thumbnail().isNull(), !thumbnailSize.isValid());
    if (thumbnailSize.isValid()) QCOMPARE(picture->thumbnail().size(), thumbnailSize);
    QCOMPARE(picture->orientation(), long(orientation));
    QCOMPARE(picture->thumbnailOrientation(), long(thumbnailOrientation));
    if (exifSize.isValid()) QCOMPARE(picture->originalSize(), exifSize);
    QVERIFY(picture->timeStamp().isValid());
    QCOMPARE(picture->normalizedPathName(), QFileInfo(file).absoluteFilePath());
}

void TestImageWrapper::thumbnailStandsInForAMissingFrame()
{
    REAL_DATA(file, "jpeg/exif_thumb_orient6_canon_hdr_YES.jpg");
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->frameCount(), 1);
    // Frame 3 does not exist: the thumbnail, upright and centre-cropped, fills the target.
    const QImage painted = paintUpright(*picture, QSize(120, 160), 3, true);
    const QImage expected =
        rotated(picture->thumbnail(), 90)
            .scaled(QSize(120, 160), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY2(meanChannelDifference(painted, expected) < 6,
             qPrintable(QString::number(meanChannelDifference(painted, expected))));
}

void TestImageWrapper::loadOnAWorkerThreadWhilePolling()
{
    const QSharedPointer<ImageWrapper> picture = initPicture(m_huge);
    QVERIFY(picture);
    QSignalSpy ready(picture.data(), &ImageWrapper::imageReady);
    std::atomic<bool> emittedOnWorker{false};
    std::atomic<bool> finished{false};
    // Written and read on the worker only.
    std::thread::id workerId;
    connect(
        picture.data(), &ImageWrapper::imageReady, picture.data(),
        [&] { emittedOnWorker = std::this_thread::get_id() == workerId; }, Qt::DirectConnection);

    QList<int> seen;
    // A std::thread, whose join() ThreadSanitizer sees as the hand-over it is.
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        picture->load();
        finished.store(true);
    });
    while (!finished.load()) {
        const int status = picture->status();
        if (seen.isEmpty() || seen.last() != status) seen.append(status);
        // Clip mode and ready never show before the status says loading.
        if (picture->isClipMode() || picture->ready()) QVERIFY(status != ImageStatusNone);
        std::this_thread::yield();
    }
    worker.join();
    if (seen.last() != picture->status()) seen.append(picture->status());

    QCOMPARE(picture->status(), ImageStatusReady);
    QVERIFY(picture->ready());
    QVERIFY(picture->isClipMode());
    QCOMPARE(ready.count(), 1);
    QVERIFY(emittedOnWorker);
    // None -> Loading -> Ready, in that order, some of them too quick to see.
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen.at(i) > seen.at(i - 1));
    QVERIFY(!seen.contains(ImageStatusFailed));
}

void TestImageWrapper::twoThreadsLoadOnce()
{
    const QSharedPointer<ImageWrapper> picture = initPicture(m_huge);
    QVERIFY(picture);
    QList<ImageBase *> backEnds;
    std::mutex listLock;
    connect(
        picture.data(), &ImageWrapper::imageReady, picture.data(),
        [&] {
            std::lock_guard<std::mutex> locker(listLock);
            backEnds.append(picture->backEnd());
        },
        Qt::DirectConnection);
    std::thread first([&] { picture->load(); });
    std::thread second([&] { picture->load(); });
    first.join();
    second.join();

    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(backEnds.size(), 2);
    // The second load found the picture ready and kept the first one's back-end.
    QVERIFY(backEnds.at(0));
    QCOMPARE(backEnds.at(1), backEnds.at(0));
    QCOMPARE(picture->backEnd(), backEnds.at(0));
    QCOMPARE(picture->frameCount(), 1);
}

void TestImageWrapper::loadWhenReadyLoadsNothing()
{
    const QString file = path(QStringLiteral("plain.png"));
    QVERIFY(quadrantPicture(QSize(8, 8), QImage::Format_ARGB32).save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QSignalSpy ready(picture.data(), &ImageWrapper::imageReady);
    ImageBase *const backEnd = picture->backEnd();
    picture->load();
    QCOMPARE(ready.count(), 1);
    QCOMPARE(picture->backEnd(), backEnd);

    picture->setOpenRef(ImageOpenRef(7));
    QCOMPARE(int(picture->openRef()), 7);

    picture->close();
    QCOMPARE(picture->status(), ImageStatusNone);
    QVERIFY(!picture->ready());
    QVERIFY(!picture->backEnd());
    QCOMPARE(picture->frameCount(), 0);
    QCOMPARE(picture->imageSize(0), QSize());
    QVERIFY(picture->imageAt(0, 0, 0).isNull());
    QCOMPARE(picture->originalSize(), QSize(8, 8));

    // The overload without lock and signal loads again.
    QVERIFY(picture->load(QString()));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(picture->frameCount(), 1);
}

void TestImageWrapper::failedPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("empty jpg") << "empty.jpg" << QByteArray();
    QTest::newRow("garbage png") << "garbage.png" << QByteArray(4096, '\x17');
    QTest::newRow("truncated jpeg") << "cut.jpg" << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
    QTest::newRow("text with a tif suffix") << "notes.tif" << QByteArray("just some words\n");
    QTest::newRow("unknown suffix") << "file.xyz" << QByteArray("also words\n");
}

void TestImageWrapper::failedPictures()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    const QSharedPointer<ImageWrapper> picture = initPicture(file.fileName());
    QVERIFY(picture);
    QSignalSpy ready(picture.data(), &ImageWrapper::imageReady);
    picture->load();
    QCOMPARE(ready.count(), 1);
    QCOMPARE(picture->status(), ImageStatusFailed);
    QCOMPARE(picture->frameCount(), 0);
    QVERIFY(picture->imageAt(0, 0, 0).isNull());
    // Painting a picture that failed draws nothing and does not crash.
    const QImage painted = paintUpright(*picture, QSize(10, 10));
    QCOMPARE(painted.pixel(5, 5), 0u);
}

void TestImageWrapper::fileVanishesBetweenInitAndLoad()
{
    const QString file = path(QStringLiteral("vanishing.png"));
    QVERIFY(quadrantPicture(QSize(8, 8), QImage::Format_ARGB32).save(file));
    const QSharedPointer<ImageWrapper> picture = initPicture(file);
    QVERIFY(picture);
    QVERIFY(QFile::remove(file));
    picture->load();
    QCOMPARE(picture->status(), ImageStatusFailed);

    // Gone before init: init fails and the folder hands out nothing.
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    const QString other = path(QStringLiteral("gone.png"));
    QVERIFY(quadrantPicture(QSize(8, 8), QImage::Format_ARGB32).save(other));
    QVERIFY(folder->init(m_dir.path(), {QStringLiteral("gone.png")}));
    QVERIFY(QFile::remove(other));
    QVERIFY(!folder->createImage(QStringLiteral("gone.png"), 0, folder));
    ImageWrapper direct;
    QVERIFY(!direct.init(folder, QStringLiteral("gone.png")));
    QCOMPARE(direct.status(), ImageStatusFailed);
}

void TestImageWrapper::clipMode_data()
{
    QTest::addColumn<bool>("allowed");
    QTest::newRow("clip mode allowed") << true;
    QTest::newRow("clip mode disabled") << false;
}

void TestImageWrapper::clipMode()
{
    QFETCH(bool, allowed);
    const QSharedPointer<ImageWrapper> picture = openPicture(m_huge, allowed);
    QVERIFY(picture);
    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(picture->isClipMode(), allowed);
    QCOMPARE(picture->originalSize(), QSize(12000, 9000));
    // In clip mode the size is the stored one, not the reduced decode's.
    QCOMPARE(picture->imageSize(0), QSize(12000, 9000));
    const QSize decoded = picture->imageAt(0, 0, 0).size();
    if (allowed) {
        const QSize screen = platform::primaryScreenSize();
        QVERIFY(decoded.width() == screen.width() || decoded.height() == screen.height());
        QVERIFY(decoded.width() <= screen.width() && decoded.height() <= screen.height());
        QVERIFY(qAbs(decoded.width() * 9000.0 / decoded.height() - 12000) < 12000 * 0.01);
        QVERIFY(!picture->canRotate(false));
    } else {
        QCOMPARE(decoded, QSize(12000, 9000));
        QVERIFY(picture->canRotate(false));
    }
}

void TestImageWrapper::lazyTiffHoldsAtMostElevenPages_data()
{
    QTest::addColumn<QList<int>>("visits");
    QTest::newRow("page 20 first") << QList<int>{20};
    QTest::newRow("stepping forward") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    QTest::newRow("stepping back over the start") << QList<int>{2, 1, 0, 40, 39, 38, 37};
    QTest::newRow("jumping around") << QList<int>{20, 33, 7, 14, 26, 40, 3, 29, 18, 0, 11};
}

void TestImageWrapper::lazyTiffHoldsAtMostElevenPages()
{
    QFETCH(QList<int>, visits);
    const QString file = path(QStringLiteral("pages41.tif"));
    if (!QFile::exists(file)) QVERIFY(writeMultiPageTiff(file, 41, QSize(8, 6)));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    ImagePixmap *raster = rasterOf(picture);
    QVERIFY(raster);
    QVERIFY(raster->isLazy());
    QCOMPARE(picture->frameCount(), 41);
    QCOMPARE(raster->decodedFrameCount(), 6);
    QCOMPARE(picture->imageSize(30), QSize(8, 6));
    QVERIFY(!picture->canRotate(false));

    for (int page : visits) {
        const QImage image = picture->imageAt(page, 0, 0);
        QCOMPARE(image.size(), QSize(8, 6));
        QCOMPARE(QColor(image.pixel(3, 3)), tiffPageColour(page));
        QVERIFY2(raster->decodedFrameCount() <= 11,
                 qPrintable(QString::number(raster->decodedFrameCount())));
    }
    if (visits == QList<int>{20}) {
        // Page 20 and nothing from the start, which is more than 5 away.
        QCOMPARE(raster->decodedFrameCount(), 1);
    }
}

void TestImageWrapper::lazyTiffKeepsBrokenPagesInPlace()
{
    for (int broken : {3, 20}) {
        const QString file = path(QStringLiteral("broken-page-%1.tif").arg(broken));
        QVERIFY(writeMultiPageTiff(file, 41, QSize(8, 6), broken));
        const QSharedPointer<ImageWrapper> picture = openPicture(file);
        QVERIFY(picture);
        QCOMPARE(picture->status(), ImageStatusReady);
        QCOMPARE(picture->frameCount(), 41);
        QVERIFY(picture->imageAt(broken, 0, 0).isNull());
        // The pages around it are still themselves.
        for (int page : {broken - 1, broken + 1, 40}) {
            const QImage image = picture->imageAt(page, 0, 0);
            QCOMPARE(QColor(image.pixel(3, 3)), tiffPageColour(page));
        }
        // A broken page paints only the checkerboard.
        const QImage painted = paintUpright(*picture, QSize(8, 6), broken);
        QCOMPARE(painted.pixel(0, 0), qRgb(229, 229, 229));
    }
}

void TestImageWrapper::decoderAndReaderPaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("writeAs");
    QTest::addColumn<int>("formatId");

    // The decoder rows keep the row of their suffix; the others take the content's.
    QTest::newRow("bmp") << "a.bmp" << QByteArray("bmp") << int(FormatBmp);
    QTest::newRow("jpg") << "a.jpg" << QByteArray("jpeg") << int(FormatJpg);
    QTest::newRow("png") << "a.png" << QByteArray("png") << int(FormatPng);
    QTest::newRow("tif") << "a.tif" << QByteArray("tiff") << int(FormatTif);
    QTest::newRow("jpeg read by Qt") << "a.jpeg" << QByteArray("jpeg") << int(FormatJpeg);
    QTest::newRow("jfif read by Qt") << "a.jfif" << QByteArray("jpeg") << int(FormatJpeg);
    QTest::newRow("tiff read by Qt") << "a.tiff" << QByteArray("tiff") << int(FormatTiff);
    QTest::newRow("png named jpg") << "png.jpg" << QByteArray("png") << int(FormatJpg);
    QTest::newRow("png named ppm, read by Qt") << "png.ppm" << QByteArray("png") << int(FormatPng);
    QTest::newRow("xpm") << "a.xpm" << QByteArray("xpm") << int(FormatXpm);
}

void TestImageWrapper::decoderAndReaderPaths()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, writeAs);
    QFETCH(int, formatId);
    const QImage stored = quadrantPicture(QSize(24, 16), QImage::Format_RGB32);
    const QString file = path(QStringLiteral("paths-") + name);
    QVERIFY(stored.save(file, writeAs.constData(), 100));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QCOMPARE(picture->status(), ImageStatusReady);
    QCOMPARE(int(picture->format()->id), formatId);
    QCOMPARE(picture->backEndKind(), BackEndRaster);
    QCOMPARE(picture->originalSize(), QSize(24, 16));
    QCOMPARE(picture->frameCount(), 1);
    QVERIFY(meanChannelDifference(picture->imageAt(0, 0, 0), stored) < 8);
    QVERIFY(!picture->isAnimation());
    QVERIFY(picture->canDelete());
}

void TestImageWrapper::checkerboardBehindTransparency()
{
    const QImage tile = ImagePixmap::checkerTile(8);
    QCOMPARE(tile.size(), QSize(32, 32));
    QCOMPARE(tile.pixel(0, 0), qRgb(229, 229, 229));
    QCOMPARE(tile.pixel(8, 0), qRgb(197, 197, 197));
    QCOMPARE(tile.pixel(0, 8), qRgb(197, 197, 197));
    QCOMPARE(tile.pixel(8, 8), qRgb(229, 229, 229));
    QCOMPARE(tile.pixel(31, 31), qRgb(229, 229, 229));

    const QString file = path(QStringLiteral("clear.png"));
    QImage clear(64, 64, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    QVERIFY(clear.save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    const QImage painted = paintUpright(*picture, QSize(64, 64));
    const int square = qRound(platform::dpiScaled(8));
    QCOMPARE(painted.pixel(0, 0), qRgb(229, 229, 229));
    QCOMPARE(painted.pixel(square, 0), qRgb(197, 197, 197));
    QCOMPARE(painted.pixel(square, square), qRgb(229, 229, 229));
}

void TestImageWrapper::quarterTurnsByPixelCopies_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<int>("angle");
    const QImage::Format formats[] = {QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_ARGB32,
                                      QImage::Format_RGB32,
                                      QImage::Format_RGB888,
                                      QImage::Format_Indexed8,
                                      QImage::Format_Grayscale8,
                                      QImage::Format_RGB16,
                                      QImage::Format_Mono};
    for (QImage::Format format : formats) {
        for (int angle : {0, 90, 180, -90, 270}) {
            QTest::newRow(qPrintable(QStringLiteral("format %1 by %2").arg(format).arg(angle)))
                << format << angle;
        }
    }
}

void TestImageWrapper::quarterTurnsByPixelCopies()
{
    QFETCH(QImage::Format, format);
    QFETCH(int, angle);
    const QImage source = quadrantPicture(QSize(13, 7), format);
    const QImage turned = ImagePixmap::turnQuarter(source, angle);
    const QImage expected = source.transformed(QTransform().rotate(angle));
    QCOMPARE(turned.format(), expected.format());
    QCOMPARE(turned.size(), expected.size());
    QCOMPARE(turned.colorTable(), expected.colorTable());
    QCOMPARE(turned, expected);
}

void TestImageWrapper::paintCache_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<QSize>("view");

    // The view shows most of the picture (one smooth scaling of the whole) or a small part
    // (only that part is scaled).
    for (int o : {1, 3, 6, 8}) {
        const bool turned = o >= 5;
        const QSize shown = turned ? QSize(60, 90) : QSize(90, 60);
        const QRect whole(QPoint(5, 4), shown * 0.5);
        QTest::newRow(qPrintable(QStringLiteral("orientation %1, all visible").arg(o)))
            << o << whole << QSize(200, 200);
        const QRect zoomed(QPoint(-30, -20), shown * 0.9);
        QTest::newRow(qPrintable(QStringLiteral("orientation %1, part visible").arg(o)))
            << o << zoomed << QSize(20, 16);
    }
}

void TestImageWrapper::paintCache()
{
    QFETCH(int, orientation);
    QFETCH(QRect, target);
    QFETCH(QSize, view);
    const QString file = path(QStringLiteral("cache-%1.png").arg(orientation));
    const QImage stored = quadrantPicture(QSize(90, 60), QImage::Format_ARGB32_Premultiplied);
    QVERIFY(stored.save(file));
    QVERIFY(setExifOrientation(file, orientation));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);

    QImage out;
    picture->paintCache(out, 0, target, orientation, view);
    const QRect visibleT =
        target.intersected(QRect(QPoint(0, 0), view)).translated(-target.topLeft());
    QCOMPARE(out.size(), visibleT.size());
    const QImage expected =
        picture->imageAt(0, 0, 0)
            .scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .copy(visibleT);
    QVERIFY2(meanChannelDifference(out, expected) < 12,
             qPrintable(QString::number(meanChannelDifference(out, expected))));

    QImage none(3, 3, QImage::Format_RGB32);
    picture->paintCache(none, 4, target, orientation, view);
    QVERIFY(none.isNull());
}

void TestImageWrapper::renderCacheThread()
{
    const QString file = path(QStringLiteral("cached.png"));
    // Opaque, so that the cached rendering shows exactly, without the checkerboard.
    QVERIFY(quadrantPicture(QSize(200, 120), QImage::Format_RGB32).save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    ViewerRenderCache cache(picture);
    // Counted on the cache's thread while this thread reads the count.
    EmissionCounter updated(&cache, &RenderCache::onUpdate);
    cache.start();

    const QRect target(10, 10, 100, 60);
    const QRect visible(0, 0, 150, 100);
    auto paintOnce = [&] {
        QImage canvas(visible.size(), QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        picture->paint(&painter, 0, target, visible, 0.5, &cache);
        return canvas;
    };
    // The first request is handed to the thread; meanwhile the picture is drawn directly.
    const QImage direct = paintOnce();
    QTRY_COMPARE_WITH_TIMEOUT(updated.count(), 1, 30000);
    QCOMPARE(cache.renderCount(), 1);

    // The same request again: drawn from the cache.
    const QImage cached = paintOnce();
    QImage rendering;
    picture->paintCache(rendering, 0, target, 1, visible.size());
    QCOMPARE(cached.copy(target.intersected(visible)), rendering.convertToFormat(cached.format()));
    QVERIFY(meanChannelDifference(direct.copy(target), cached.copy(target)) < 12);

    // A changed request is taken at once when the thread allows it, and rendered anew.
    cache.takeNextRequestAtOnce();
    const QRect moved = target.translated(7, 3);
    {
        QImage canvas(visible.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&canvas);
        picture->paint(&painter, 0, moved, visible, 0.5, &cache);
    }
    QTRY_COMPARE_WITH_TIMEOUT(updated.count(), 2, 30000);
    QCOMPARE(cache.renderCount(), 2);
    cache.stop();
    QVERIFY(cache.isFinished());
}

void TestImageWrapper::hasAlphaAndDelay()
{
    const QString png = path(QStringLiteral("alpha.png"));
    QVERIFY(quadrantPicture(QSize(8, 8), QImage::Format_ARGB32).save(png));
    const QString jpg = path(QStringLiteral("opaque.jpg"));
    QVERIFY(quadrantPicture(QSize(8, 8), QImage::Format_RGB32).save(jpg));
    const QSharedPointer<ImageWrapper> withAlpha = openPicture(png);
    const QSharedPointer<ImageWrapper> opaque = openPicture(jpg);
    QVERIFY(withAlpha && opaque);
    QVERIFY(withAlpha->hasAlpha(-1));
    QVERIFY(opaque->hasAlpha(-1));
    QVERIFY(withAlpha->hasAlpha(0));
    QVERIFY(!opaque->imageAt(0, 0, 0).isNull());
    // Decoded to premultiplied ARGB: the decoder path keeps an alpha channel.
    QCOMPARE(opaque->hasAlpha(0), opaque->imageAt(0, 0, 0).hasAlphaChannel());
    QCOMPARE(withAlpha->delay(0), 100);
    QCOMPARE(withAlpha->delay(5), 100);

    ImageWrapper unopened;
    QCOMPARE(unopened.delay(0), 0);
    QCOMPARE(unopened.frameCount(), 0);
    QVERIFY(!unopened.isAnimation());
    QCOMPARE(unopened.format()->id, FormatUnknown);
    QCOMPARE(unopened.path(), QString());
    QCOMPARE(unopened.pathName(), QString());
    QCOMPARE(unopened.index(), -1);
    QVERIFY(!unopened.canRotate(false));
    QVERIFY(!unopened.canDelete());
}

void TestImageWrapper::editsInMemory()
{
    const QString file = path(QStringLiteral("edit.png"));
    QVERIFY(quadrantPicture(QSize(40, 30), QImage::Format_ARGB32).save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVERIFY(picture->canRotate(false));
    QVERIFY(picture->canRotate(true));

    QVERIFY(!picture->crop(QRect(100, 100, 5, 5)));
    QVERIFY(!picture->dirty());
    QVERIFY(picture->crop(QRect(30, 20, 50, 50)));
    QVERIFY(picture->isDirty());
    QCOMPARE(picture->imageSize(0), QSize(10, 10));

    picture->setDirty(false);
    picture->resize(20, 0, Qt::SmoothTransformation);
    QCOMPARE(picture->imageSize(0), QSize(20, 20));
    QVERIFY(picture->dirty());
    picture->resize(0, 0, Qt::FastTransformation);
    QCOMPARE(picture->imageSize(0), QSize(20, 20));

    QImage replacement(7, 5, QImage::Format_ARGB32);
    replacement.fill(Qt::red);
    picture->setImage(replacement);
    QCOMPARE(picture->frameCount(), 1);
    QCOMPARE(picture->imageSize(0), QSize(7, 5));
}

void TestImageWrapper::appendFrame_data()
{
    QTest::addColumn<int>("byteCount");
    QTest::addColumn<bool>("copied");
    QTest::newRow("whole frame") << 4 * 4 * 3 << true;
    QTest::newRow("part of a frame") << 4 * 4 << true;
    QTest::newRow("more than fits: zero-filled") << 4 * 4 * 3 + 1 << false;
}

void TestImageWrapper::appendFrame()
{
    QFETCH(int, byteCount);
    QFETCH(bool, copied);
    const QString file = path(QStringLiteral("frames.png"));
    QVERIFY(quadrantPicture(QSize(4, 3), QImage::Format_ARGB32).save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    QVector<quint32> bits(4 * 3 + 1, 0xFF112233u);
    QVERIFY(picture->backEnd()->appendFrame(reinterpret_cast<const uchar *>(bits.constData()), 4, 3,
                                            byteCount));
    QCOMPARE(picture->frameCount(), 2);
    const QImage frame = picture->imageAt(1, 0, 0);
    QCOMPARE(frame.size(), QSize(4, 3));
    QCOMPARE(frame.pixel(0, 0), copied ? 0xFF112233u : 0u);
    QVERIFY(!picture->backEnd()->appendFrame(nullptr, 0, 3, 0));
}

void TestImageWrapper::convertToBmpFlattensOntoWhite()
{
    const QString file = path(QStringLiteral("see-through.png"));
    QImage clear(10, 10, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    QVERIFY(clear.save(file));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    ImageFormats table;
    const QString bmp = path(QStringLiteral("flat.bmp"));
    QVERIFY(picture->convertImageFormat(table.formatForId(FormatBmp), bmp));
    QCOMPARE(QImage(bmp).pixel(5, 5), qRgb(255, 255, 255));
    const QString png = path(QStringLiteral("still-clear.png"));
    QVERIFY(picture->convertImageFormat(table.formatForId(FormatPng), png));
    QCOMPARE(qAlpha(QImage(png).pixel(5, 5)), 0);
    const QString jpg = path(QStringLiteral("flat.jpg"));
    QVERIFY(picture->convertImageFormat(table.formatForId(FormatJpg), jpg));
    QCOMPARE(QImageReader(jpg).format(), QByteArray("jpeg"));
    QVERIFY(QColor(QImage(jpg).pixel(5, 5)).lightness() > 250);
    const QString xpm = path(QStringLiteral("kept.xpm"));
    QVERIFY(picture->convertImageFormat(table.formatForId(FormatXpm), xpm));
    QCOMPARE(QImageReader(xpm).format(), QByteArray("xpm"));
    // A format without a writer fails and leaves what was there.
    const QString gif = path(QStringLiteral("x.gif"));
    QFile existing(gif);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("old") == 3);
    existing.close();
    QVERIFY(!picture->convertImageFormat(table.formatForId(FormatGif), gif));
    QVERIFY(!picture->convertImageFormat(nullptr, gif));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("old"));
}

void TestImageWrapper::jfifDensityIsRead()
{
    QImage image = quadrantPicture(QSize(16, 16), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(300 / 0.0254));
    image.setDotsPerMeterY(qRound(150 / 0.0254));
    const QString file = path(QStringLiteral("dense.jpg"));
    QVERIFY(image.save(file, "JPEG"));
    const QSharedPointer<ImageWrapper> picture = openPicture(file);
    QVERIFY(picture);
    ImagePixmap *raster = rasterOf(picture);
    QVERIFY(raster);
    QVERIFY(raster->hasJfifDensity());
    QCOMPARE(int(raster->jfifUnits()), 1);
    QCOMPARE(int(raster->jfifXDensity()), 300);
    QCOMPARE(int(raster->jfifYDensity()), 150);

    // A PNG has none to keep.
    const QString png = path(QStringLiteral("no-density.png"));
    QVERIFY(image.save(png));
    const QSharedPointer<ImageWrapper> other = openPicture(png);
    QVERIFY(other && !rasterOf(other)->hasJfifDensity());
}

QTEST_MAIN(TestImageWrapper)
#include "tst_image_wrapper.moc"
