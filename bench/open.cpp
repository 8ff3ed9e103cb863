// Opening a large JPEG and rendering it at screen size (fitted into 1920 x 1080) through
// ImageWrapper, against libvips' thumbnail of the same size. Each row runs in a child
// process of its own, so peak memory figures do not mix. Then picsage-viewer's start to its
// first picture painted, against the plainest Qt viewer (bench-viewer-peer) on the same
// pictures and the same screen.
//
//   bench-open [FOLDER]   FOLDER keeps the generated pictures (default: a temporary one)
//
// The primary screen decides clip mode's reduced decode, so the program asks Qt for a
// 1920 x 1080 screen (the VNC platform plug-in, on a port of its own) unless
// QT_QPA_PLATFORM says otherwise.

#include "BenchPictures.h"
#include "Measure.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <vips/vips.h>

#include <cstdio>
#include <cstdlib>

namespace {

const QSize Screen(1920, 1080);

// A small picture opened before the measured work, as a running viewer has already shown
// one: readers, codecs and fonts are loaded then, once per process, and are no part of
// opening the large picture.
QString warmUpPicture;

bool picsageOpen(const QString &path, QSize *size, bool *clipMode);
bool vipsThumbnail(const QString &path, QSize *size);

void qtSetUp()
{
    QImageReader::supportedImageFormats();
    QSize size;
    bool clipMode = false;
    picsageOpen(warmUpPicture, &size, &clipMode);
}

void vipsSetUp()
{
    VIPS_INIT("bench-open");
    QSize size;
    vipsThumbnail(warmUpPicture, &size);
}

// What the viewer does for a picture it shows whole: open it through its folder, load it,
// paint it upright into the screen-sized box.
bool picsageOpen(const QString &path, QSize *size, bool *clipMode)
{
    const QFileInfo info(path);
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(info.absolutePath(), {info.fileName()})) return false;
    const QSharedPointer<ImageWrapper> picture = folder->createImage(info.fileName(), 0, folder);
    if (!picture) return false;
    picture->load();
    if (picture->status() != ImageStatusReady) return false;
    const QSize shown = picture->imageSize(0);
    const QSize box = shown.scaled(Screen, Qt::KeepAspectRatio);
    QImage canvas(box, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect target(QPoint(0, 0), box);
    picture->paint(&painter, 0, target, target, double(box.width()) / shown.width(), nullptr);
    painter.end();
    *size = canvas.size();
    *clipMode = picture->isClipMode();
    return true;
}

bool vipsThumbnail(const QString &path, QSize *size)
{
    VipsImage *out = nullptr;
    if (vips_thumbnail(path.toUtf8().constData(), &out, Screen.width(), "height", Screen.height(),
                       nullptr) != 0)
        return false;
    size_t bytes = 0;
    void *pixels = vips_image_write_to_memory(out, &bytes);
    *size = QSize(vips_image_get_width(out), vips_image_get_height(out));
    g_free(pixels);
    g_object_unref(out);
    return pixels != nullptr;
}

double mib(long kib)
{
    return kib / 1024.0;
}

// One start of a viewer program that ends after its first paint: the wall time from start
// to exit, and the time to the first paint that the program reports ("first-paint-ms N" on
// standard error). Negative when it failed.
struct ViewerStart
{
    double wallMs = -1;
    double firstPaintMs = -1;
};

ViewerStart startViewer(const QString &program, const QStringList &args)
{
    ViewerStart result;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return result;
    result.wallMs = clock.nsecsElapsed() / 1e6;
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    const int at = errors.indexOf(QLatin1String("first-paint-ms "));
    if (at >= 0)
        result.firstPaintMs = errors.mid(at + 15).section(QLatin1Char('\n'), 0, 0).toDouble();
    return result;
}

// Best of `runs` by the reported first paint.
ViewerStart bestStart(int runs, const QString &program, const QStringList &args)
{
    ViewerStart best;
    for (int i = 0; i < runs; ++i) {
        const ViewerStart run = startViewer(program, args);
        if (run.firstPaintMs < 0) return ViewerStart();
        if (best.firstPaintMs < 0 || run.firstPaintMs < best.firstPaintMs) best = run;
    }
    return best;
}

QString ms(double value)
{
    return value < 0 ? QStringLiteral("failed") : QString::number(value, 'f', 1);
}

void viewerStartTable(const QString &folder)
{
    std::printf("\nViewer start to first picture painted (window 960x680 on the same screen); "
                "best of 3 starts\n\n");
    std::printf("| picture | who | first paint ms | start to exit ms |\n");
    std::printf("|---|---|---:|---:|\n");
    struct Who
    {
        const char *name;
        QString program;
        QStringList options;
    };
    const Who whos[] = {
        {"picsage-viewer",
         QStringLiteral(PICSAGE_VIEWER),
         {QStringLiteral("--exit-after-first-paint")}},
        {"Qt QImageReader, whole", QStringLiteral(VIEWER_PEER), {}},
        {"Qt QImageReader, scaled read",
         QStringLiteral(VIEWER_PEER),
         {QStringLiteral("--scaled-read")}},
    };
    for (const QSize &size : {QSize(4000, 3000), QSize(12000, 9000)}) {
        const QString path = benchJpeg(folder, size);
        const QString name = QStringLiteral("%1x%2 JPEG").arg(size.width()).arg(size.height());
        for (const Who &who : whos) {
            const ViewerStart start = bestStart(3, who.program, who.options + QStringList{path});
            std::printf("| %s | %s | %s | %s |\n", qPrintable(name), who.name,
                        qPrintable(ms(start.firstPaintMs)), qPrintable(ms(start.wallMs)));
            std::fflush(stdout);
        }
    }
    std::printf("\nfirst paint: from the program's main() to the end of its first paint of the "
                "picture; start to exit: from spawning the process to its exit right after\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "vnc:size=1920x1080:port=0", 1);
    QGuiApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QSize screen = QGuiApplication::primaryScreen()->size();
    warmUpPicture = benchJpeg(folder, QSize(64, 48));

    std::printf("Open and render at screen size: picsage ImageWrapper vs libvips %s "
                "vips_thumbnail\n",
                vips_version_string());
    std::printf("screen %dx%d; best of 3 runs; peak = what the work added to its process's "
                "peak resident size, after a 64x48 JPEG was opened the same way\n\n",
                screen.width(), screen.height());
    std::printf(
        "| picture | who | output | clip mode | time ms | peak MiB | screen picture MiB |\n");
    std::printf("|---|---|---|---|---:|---:|---:|\n");

    for (const QSize &size : {QSize(4000, 3000), QSize(12000, 9000)}) {
        const QString path = benchJpeg(folder, size);
        const QString name = QStringLiteral("%1x%2 JPEG").arg(size.width()).arg(size.height());
        const QSize fitted = size.scaled(Screen, Qt::KeepAspectRatio);
        const double screenMiB = fitted.width() * fitted.height() * 4 / 1048576.0;

        QSize ours, theirs;
        bool clipMode = false;
        const Measurement picsage =
            measureBest(3, qtSetUp, [&] { return picsageOpen(path, &ours, &clipMode); });
        // The child's answers do not come back; ask once more here for the table.
        picsageOpen(path, &ours, &clipMode);
        const Measurement thumbnail =
            measureBest(3, vipsSetUp, [&] { return vipsThumbnail(path, &theirs); });
        // vips_thumbnail answers the fitted size; the child's answer does not come back.
        theirs = fitted;

        std::printf("| %s | picsage | %dx%d | %s | %s | %.1f | %.1f |\n", qPrintable(name),
                    ours.width(), ours.height(), clipMode ? "yes" : "no",
                    picsage.ok ? qPrintable(QString::number(picsage.seconds * 1000, 'f', 1))
                               : "failed",
                    mib(picsage.grownKiB()), screenMiB);
        std::printf("| %s | vips_thumbnail | %dx%d | - | %s | %.1f | %.1f |\n", qPrintable(name),
                    theirs.width(), theirs.height(),
                    thumbnail.ok ? qPrintable(QString::number(thumbnail.seconds * 1000, 'f', 1))
                                 : "failed",
                    mib(thumbnail.grownKiB()), screenMiB);
        std::fflush(stdout);
    }
    std::printf("\ntargets: picsage no slower than vips_thumbnail; for 12000x9000 picsage's peak "
                "under twice the screen picture\n");
    viewerStartTable(folder);
    return 0;
}
