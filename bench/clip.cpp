// bench-clip: a 30000 x 20000 JPEG shown fit-to-screen, then at 100 % at its centre on a
// 1920 x 1080 view until every visible tile is decoded, against a full decode of the same
// file with Qt's image reader, in one run.

#include "Measure.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

const QSize View(1920, 1080);
const QSize PictureSize(30000, 20000);

// Written row by row through libjpeg: the full picture never sits in memory, so making it
// costs little beside what is measured. Gradients and a grid give the codec real work.
bool writeLargeJpeg(const QString &path, const QSize &size)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(size.width()) * 3);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const bool line = x % 256 < 3 || y % 256 < 3;
            row[size_t(x) * 3] = JSAMPLE(line ? 0 : x * 255 / size.width());
            row[size_t(x) * 3 + 1] = JSAMPLE(line ? 0 : y * 255 / size.height());
            row[size_t(x) * 3 + 2] = JSAMPLE(line ? 0 : ((x ^ y) >> 4) & 0xff);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

void setUp()
{
    QImageReader::supportedImageFormats();
}

// Fit-to-screen, then 100 % at the centre, painted again until no visible tile is loading.
bool clipView(const QString &path, bool *clipMode, int *tiles)
{
    const QFileInfo info(path);
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(info.absolutePath(), {info.fileName()})) return false;
    const QSharedPointer<ImageWrapper> picture = folder->createImage(info.fileName(), 0, folder);
    if (!picture) return false;
    picture->load();
    if (picture->status() != ImageStatusReady) return false;
    const QSize full = picture->originalSize();
    QImage canvas(View, QImage::Format_ARGB32_Premultiplied);
    {
        const QSize box = full.scaled(View, Qt::KeepAspectRatio);
        QPainter painter(&canvas);
        const QRect target(QPoint(0, 0), box);
        picture->paint(&painter, 0, target, canvas.rect(), double(box.width()) / full.width(),
                       nullptr);
    }
    const QRect target(
        QPoint(View.width() / 2 - full.width() / 2, View.height() / 2 - full.height() / 2), full);
    for (int round = 0; round < 8; ++round) {
        {
            QPainter painter(&canvas);
            picture->paint(&painter, 0, target, canvas.rect(), 1.0, nullptr);
        }
        PixmapClipRoot *root = picture->findChild<PixmapClipRoot *>();
        if (!root) return false;
        if (root->loadingCount() == 0) {
            *clipMode = picture->isClipMode();
            *tiles = 0;
            return true;
        }
        *tiles = root->loadingCount();
        root->waitForLoaders();
    }
    return false;
}

// The whole picture at full size, four bytes a pixel as a QImage would hold it (Qt 5's
// QImage cannot: 2.4 GB is past its size limit), straight through libjpeg.
bool fullDecode(const QString &path)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file) return false;
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * 4;
    std::vector<JSAMPLE> pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {pixels.data() + stride * info.output_scanline};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return !pixels.empty();
}

double mib(long kib)
{
    return kib / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QString path = QStringLiteral("%1/clip-%2x%3.jpg")
                             .arg(folder)
                             .arg(PictureSize.width())
                             .arg(PictureSize.height());
    if (!QFile::exists(path) && !writeLargeJpeg(path, PictureSize)) {
        std::fprintf(stderr, "bench-clip: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("A %dx%d JPEG on a %dx%d view: picsage's clip tiles vs a full decode "
                "with libjpeg\n",
                PictureSize.width(), PictureSize.height(), View.width(), View.height());
    std::printf("one run each, in a child process of its own; peak = the child's peak "
                "resident size\n\n");
    std::printf("| work | time ms | peak MiB |\n|---|---:|---:|\n");
    bool clipMode = false;
    int tiles = 0;
    const Measurement clip =
        measureInChild(setUp, [&] { return clipView(path, &clipMode, &tiles); });
    const Measurement decode = measureInChild(setUp, [&] { return fullDecode(path); });
    std::printf("| picsage: open, fit to screen, 100 %% at the centre with every visible tile "
                "ready | %s | %.1f |\n",
                clip.ok ? qPrintable(QString::number(clip.seconds * 1000, 'f', 0)) : "failed",
                mib(clip.peakKiB));
    std::printf("| full decode | %s | %.1f |\n",
                decode.ok ? qPrintable(QString::number(decode.seconds * 1000, 'f', 0)) : "failed",
                mib(decode.peakKiB));
    std::printf("\ntargets: picsage's peak under 400 MiB; its time under a third of the full "
                "decode's\n");
    return clip.ok && decode.ok ? 0 : 1;
}
