// Editing a large JPEG: turning it a quarter and writing it over itself, and exporting a
// reduced copy 1920 pixels wide, through ImageWrapper beside ImageMagick (Magick++) and
// libvips doing the same in the same run. Each row runs in a child process of its own, so
// peak memory figures do not mix; peers missing at configure time are left out.
//
//   bench-edit [FOLDER]   FOLDER keeps the generated picture (default: a temporary one)
//
// Like for like: every turn writes JPEG quality 100 (what the viewer writes after a turn),
// every export quality 90 with the nearest-pixel scaling the viewer's export uses (vips:
// its thumbnail, which shrinks while decoding, the way one would use it).

#include "BenchPictures.h"
#include "Measure.h"
#include "formats/ImageFormats.h"
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#ifdef PICSAGE_BENCH_MAGICK
#include <Magick++.h>
#endif
#ifdef PICSAGE_BENCH_VIPS
#include <vips/vips.h>
#endif

#include <cstdio>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QSize Picture(4000, 3000);
constexpr int ExportWidth = 1920;
constexpr int TurnQuality = 100;
constexpr int ExportQuality = 90;

QString g_source; // the generated picture, never changed
QString g_work;   // the copy a turn overwrites
QString g_export; // the reduced copy

// Every turn starts from a fresh copy of the picture (not timed).
void freshCopy()
{
    QFile::remove(g_work);
    QFile::copy(g_source, g_work);
    QFile::remove(g_export);
}

QSharedPointer<ImageWrapper> openWhole(const QString &path)
{
    const QFileInfo info(path);
    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (!folder->init(info.absolutePath(), {info.fileName()})) return {};
    QSharedPointer<ImageWrapper> picture = folder->createImage(info.fileName(), 0, folder);
    if (!picture) return {};
    picture->enableClipMode(false);
    picture->load();
    return picture->status() == ImageStatusReady ? picture : QSharedPointer<ImageWrapper>();
}

bool picsageTurn()
{
    const QSharedPointer<ImageWrapper> picture = openWhole(g_work);
    QString path;
    return picture && picture->rotate(true, path, SaveOverwrite);
}

bool picsageExport()
{
    const QSharedPointer<ImageWrapper> picture = openWhole(g_source);
    return picture && picture->save(g_export, ExportWidth, 0, ExportQuality, FormatJpg);
}

#ifdef PICSAGE_BENCH_MAGICK
void magickSetUp()
{
    freshCopy();
    Magick::InitializeMagick(nullptr);
}

bool magickTurn()
{
    try {
        Magick::Image image;
        image.read(QFile::encodeName(g_work).toStdString());
        image.rotate(90);
        image.quality(TurnQuality);
        image.write(QFile::encodeName(g_work).toStdString());
        return true;
    } catch (...) {
        return false;
    }
}

bool magickExport()
{
    try {
        Magick::Image image;
        image.read(QFile::encodeName(g_source).toStdString());
        const size_t height = image.rows() * ExportWidth / image.columns();
        image.sample(Magick::Geometry(ExportWidth, height));
        image.quality(ExportQuality);
        image.write(QFile::encodeName(g_export).toStdString());
        return true;
    } catch (...) {
        return false;
    }
}
#endif

#ifdef PICSAGE_BENCH_VIPS
void vipsSetUp()
{
    freshCopy();
    VIPS_INIT("bench-edit");
}

// vips reads lazily: the turned picture goes to a new file that then replaces the old.
bool vipsTurn()
{
    const QByteArray work = QFile::encodeName(g_work);
    const QByteArray temporary = work + ".vips.jpg";
    VipsImage *in = vips_image_new_from_file(work.constData(), nullptr);
    if (!in) return false;
    VipsImage *out = nullptr;
    bool ok = vips_rot(in, &out, VIPS_ANGLE_D90, nullptr) == 0 &&
              vips_jpegsave(out, temporary.constData(), "Q", TurnQuality, nullptr) == 0;
    if (out) g_object_unref(out);
    g_object_unref(in);
    return ok && std::rename(temporary.constData(), work.constData()) == 0;
}

bool vipsExport()
{
    VipsImage *out = nullptr;
    if (vips_thumbnail(QFile::encodeName(g_source).constData(), &out, ExportWidth, "height", 100000,
                       nullptr) != 0)
        return false;
    const bool ok = vips_jpegsave(out, QFile::encodeName(g_export).constData(), "Q", ExportQuality,
                                  nullptr) == 0;
    g_object_unref(out);
    return ok;
}
#endif

// The processor time (user + system, all threads) the work takes in a child of its own,
// best of `runs`: on a shared, busy machine wall time mostly measures the wait for a core.
double cpuSeconds(int runs, const std::function<void()> &setUp, const std::function<bool()> &work)
{
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        int fds[2];
        if (::pipe(fds) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            if (setUp) setUp();
            struct rusage before = {}, after = {};
            ::getrusage(RUSAGE_SELF, &before);
            const bool ok = work();
            ::getrusage(RUSAGE_SELF, &after);
            const auto seconds = [](const struct timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
            const double used = seconds(after.ru_utime) - seconds(before.ru_utime) +
                                seconds(after.ru_stime) - seconds(before.ru_stime);
            const double message = ok ? used : -1;
            (void)!::write(fds[1], &message, sizeof message);
            ::_exit(0);
        }
        ::close(fds[1]);
        double message = -1;
        if (::read(fds[0], &message, sizeof message) != sizeof message) message = -1;
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
        if (message < 0) return -1;
        if (best < 0 || message < best) best = message;
    }
    return best;
}

void row(const char *task, const char *who, const std::function<void()> &setUp,
         const std::function<bool()> &work)
{
    const Measurement m = measureBest(3, setUp, work);
    const double cpu = cpuSeconds(3, setUp, work);
    if (!m.ok || cpu < 0) {
        std::printf("| %s | %s | failed | - | - | - |\n", task, who);
        return;
    }
    std::printf("| %s | %s | %.0f | %.0f | %.1f | %.1f |\n", task, who, m.seconds * 1000.0,
                cpu * 1000.0, m.peakKiB / 1024.0, m.grownKiB() / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    g_source = benchJpeg(folder, Picture);
    g_work = folder + QStringLiteral("/work.jpg");
    g_export = folder + QStringLiteral("/export.jpg");
    if (!QFile::exists(g_source)) {
        std::fprintf(stderr, "bench-edit: cannot write %s\n", qPrintable(g_source));
        return 1;
    }
    const auto qtSetUp = [] {
        freshCopy();
        QImageReader::supportedImageFormats();
    };

    std::printf("Editing a %dx%d JPEG: picsage ImageWrapper beside its peers; best of 3 runs\n"
                "(each in a child process). cpu = user + system time of all threads; peak = the "
                "process's peak resident size; grown = what the work added after set-up.\n\n",
                Picture.width(), Picture.height());
    std::printf("| task | program | wall ms | cpu ms | peak MiB | grown MiB |\n"
                "|---|---|---:|---:|---:|---:|\n");
    const char *turn = "turn cw, overwrite (Q100)";
    const char *reduce = "export 1920 wide (Q90)";
    row(turn, "picsage rotate(SaveOverwrite)", qtSetUp, picsageTurn);
#ifdef PICSAGE_BENCH_MAGICK
    row(turn, "ImageMagick " MagickLibVersionText, magickSetUp, magickTurn);
#endif
#ifdef PICSAGE_BENCH_VIPS
    row(turn, "libvips rot + jpegsave", vipsSetUp, vipsTurn);
#endif
    row(reduce, "picsage save(path, 1920, 0, ...)", qtSetUp, picsageExport);
#ifdef PICSAGE_BENCH_MAGICK
    row(reduce, "ImageMagick sample", magickSetUp, magickExport);
#endif
#ifdef PICSAGE_BENCH_VIPS
    row(reduce, "libvips thumbnail", vipsSetUp, vipsExport);
#endif
    std::printf("\ntarget: picsage no slower than the faster peer.\n");
    return 0;
}
