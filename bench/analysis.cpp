// The analysis tool's picture decode against libvips' thumbnail, for large JPEGs fitted
// into the tool's 320 and 512 boxes. Each row runs in a child process of its own.
//
//   bench-analysis [FOLDER]   FOLDER keeps the generated pictures (default: a temporary one)

#include "BenchPictures.h"
#include "Measure.h"
#include "app/PhotoApplication.h"
#include "tool/AnalysisImageLoader.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <vips/vips.h>

#include <cstdio>

namespace {
// Wakes Qt's image plug-ins up outside the timed part, as a running tool has them.
void qtSetUp()
{
    QImageReader::supportedImageFormats();
}

void vipsSetUp()
{
    VIPS_INIT("bench-analysis");
    vips_concurrency_set(0);
}

bool vipsThumbnail(const QString &path, int box, QSize *size)
{
    VipsImage *out = nullptr;
    if (vips_thumbnail(path.toUtf8().constData(), &out, box, "height", box, nullptr) != 0)
        return false;
    size_t bytes = 0;
    void *pixels = vips_image_write_to_memory(out, &bytes);
    *size = QSize(vips_image_get_width(out), vips_image_get_height(out));
    g_free(pixels);
    g_object_unref(out);
    return pixels != nullptr;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();

    std::printf(
        "Picture decode for analysis: picsage loadAnalysisImage vs libvips %s vips_thumbnail\n",
        vips_version_string());
    std::printf("best of 5 runs; peak = what the decode added to its process's peak resident "
                "size\n\n");
    std::printf("| picture | box | reader | output | time ms | peak MiB |\n");
    std::printf("|---|---|---|---|---:|---:|\n");

    struct Row
    {
        QSize size;
        int box;
        bool largeOnly;
    };
    const Row rows[] = {
        {{4000, 3000}, 320, false},  {{4000, 3000}, 512, false}, {{12000, 9000}, 320, false},
        {{12000, 9000}, 512, false}, {{4000, 3000}, 320, true},
    };
    for (const Row &row : rows) {
        const QString path = benchJpeg(folder, row.size);
        const QString name = QStringLiteral("%1x%2").arg(row.size.width()).arg(row.size.height());
        QSize qtSize, vipsSize;
        const Measurement qt = measureBest(5, qtSetUp, [&] {
            const QImage image = loadAnalysisImage(path, QSize(row.box, row.box), row.largeOnly);
            qtSize = image.size();
            return !image.isNull();
        });
        // The child's result size is recomputed here: children cannot hand it back.
        qtSize = row.largeOnly && row.size.width() < 10000 && row.size.height() < 10000
                     ? row.size
                     : fitAnalysisSize(row.size, QSize(row.box, row.box));
        const auto print = [&](const char *reader, const QSize &out, const Measurement &m) {
            std::printf("| %s | %d%s | %s | %dx%d | %.1f | %.1f |\n", qPrintable(name), row.box,
                        row.largeOnly ? " (category: full size by rule)" : "", reader, out.width(),
                        out.height(), m.ok ? m.seconds * 1000 : -1.0,
                        m.ok ? m.grownKiB() / 1024.0 : -1.0);
        };
        print("picsage", qtSize, qt);
        if (!row.largeOnly) {
            const Measurement vips =
                measureBest(5, vipsSetUp, [&] { return vipsThumbnail(path, row.box, &vipsSize); });
            print("vips_thumbnail", fitAnalysisSize(row.size, QSize(row.box, row.box)), vips);
        }
        std::fflush(stdout);
    }

    // What the command-line tool spends before it decodes anything.
    const Measurement startUp = measureBest(5, nullptr, [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int count = 1;
        static char name[] = "bench";
        static char *args[] = {name, nullptr};
        PhotoApplication app(count, args);
        return app.imageFormats() != nullptr;
    });
    std::printf("\napplication object start-up (style, skin, resources, translator, format table): "
                "%.1f ms, %.1f MiB\n",
                startUp.seconds * 1000, startUp.grownKiB() / 1024.0);
    return 0;
}
