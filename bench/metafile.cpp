// The real metafiles rendered 1920 pixels wide: our record player in a process of its own,
// the whole picsage-image process, and LibreOffice's converter (the independent renderer of
// the tests' references) as a process, all measured in this one run: time and peak memory.
// The player's memory is set against the output picture plus the file.
//
//   bench-metafile

#include "Measure.h"

#include "metafile/Metafile.h"
#include "support/MetafileBuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Width = 1920;

// An A4 page of a square in red, then eight transfers over the whole frame: the raster
// operations of real files (evaluated pixel by pixel), or as many plain brush fills.
QByteArray rasterOpPage(bool evaluated)
{
    const QRect frame(0, 0, 29700, 21000);
    const QRect whole(0, 0, 1188, 840); // the frame in the builder's device pixels
    mftest::EmfBuilder b(frame);
    b.createBrush(1, 0, Qt::red).createBrush(2, 0, QColor(60, 110, 150)).select(1);
    b.rectangle(QRect(100, 100, 600, 500)).select(2);
    QByteArray bits;
    const QByteArray info = mftest::dib24({{Qt::white, Qt::yellow}, {Qt::cyan, Qt::white}}, &bits);
    const quint32 withSource[] = {0x008800C6, 0x00EE0086, 0x00C000CA, 0x00B8074A};
    const quint32 withoutSource[] = {0x005A0049, 0x00550009, 0x00A000C9, 0x00F50225};
    for (int i = 0; i < 4; ++i) {
        if (evaluated) {
            b.stretchDib(whole, info, bits, 2, 2, withSource[i]);
            b.bitBlt(whole, withoutSource[i]);
        } else {
            b.bitBlt(whole, 0x00F00021).bitBlt(whole, 0x00F00021);
        }
    }
    return b.finish();
}

void printRow(const char *what, const char *file, const Measurement &m, double budgetMb,
              bool grownOnly)
{
    if (!m.ok) {
        std::printf("| %-34s | %-12s | %9s | %9s | %9s | %8s |\n", what, file, "failed", "-", "-",
                    "-");
        return;
    }
    const double peak = m.peakKiB / 1024.0, grown = m.grownKiB() / 1024.0;
    if (grownOnly)
        std::printf("| %-34s | %-12s | %9.3f | %9.0f | %9.1f | %8.2f |\n", what, file, m.seconds,
                    peak, grown, grown / budgetMb);
    else
        std::printf("| %-34s | %-12s | %9.3f | %9.0f | %9s | %8s |\n", what, file, m.seconds, peak,
                    "-", "-");
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    if (!temporary.isValid()) return 1;
    const QString soffice = QStringLiteral(PICSAGE_SOFFICE);
    const bool havePeer = !soffice.isEmpty() && QFileInfo(soffice).isExecutable();
    const std::string profile =
        "-env:UserInstallation=file://" + temporary.filePath("lo-profile").toStdString();

    std::printf("| %-34s | %-12s | %9s | %9s | %9s | %8s |\n", "measurement", "file", "time (s)",
                "peak MB", "grown MB", "/ budget");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", "------------------------------------", "--------------",
                "-----------", "-----------", "-----------", "----------");
    for (const char *name : {"wmf/fulltest.wmf", "emf/fulltest.emf"}) {
        const QString path = QStringLiteral(PICSAGE_REAL_DATA) + QLatin1Char('/') + name;
        const QByteArray file = QFileInfo(path).fileName().toUtf8();
        metafile::Metafile probe;
        if (!probe.load(path)) return 1;
        const QSize size = probe.size().scaled(Width, 1 << 20, Qt::KeepAspectRatio);
        // The budget: the output picture (4 bytes a pixel) plus the file.
        const double budgetMb =
            (double(size.width()) * size.height() * 4 + QFileInfo(path).size()) / (1024.0 * 1024.0);

        const Measurement player = measureBest(
            5,
            [&] {
                static QGuiApplication app(argc, argv);
                metafile::Metafile warm; // the font database, once, outside the measure
                warm.load(path);
                warm.toImage(QSize(16, 16));
            },
            [&] {
                metafile::Metafile picture;
                if (!picture.load(path)) return false;
                const QImage image = picture.toImage(size);
                return image.width() == Width;
            });
        printRow("picsage player (in process)", file.constData(), player, budgetMb, true);

        const std::string out = temporary.filePath("out.png").toStdString();
        const Measurement tool =
            bestProgram(3, {PICSAGE_IMAGE_TOOL, "render", path.toStdString(), "-o", out, "--box",
                            std::to_string(Width) + "x" + std::to_string(1 << 16)});
        printRow("picsage-image render (process)", file.constData(), tool, budgetMb, false);

        if (havePeer) {
            const std::string filter =
                "png:draw_png_Export:{\"PixelWidth\":{\"type\":\"long\",\"value\":\"" +
                std::to_string(Width) + "\"},\"PixelHeight\":{\"type\":\"long\",\"value\":\"" +
                std::to_string(Width * 1123 / 794) + "\"}}";
            const std::vector<std::string> lo = {soffice.toStdString(),
                                                 profile,
                                                 "--headless",
                                                 "--convert-to",
                                                 filter,
                                                 "--outdir",
                                                 temporary.path().toStdString(),
                                                 path.toStdString()};
            measureProgram(lo); // first run sets up its profile
            printRow("LibreOffice --convert-to (process)", file.constData(), bestProgram(2, lo),
                     budgetMb, false);
        } else {
            std::printf("| %-34s | %-12s | %9s | %9s | %9s | %8s |\n",
                        "LibreOffice (not installed)", file.constData(), "-", "-", "-", "-");
        }
    }
    for (bool evaluated : {true, false}) {
        const QByteArray page = rasterOpPage(evaluated);
        const Measurement m = measureBest(
            5, [&] { static QGuiApplication app(argc, argv); },
            [&] {
                metafile::Metafile picture;
                if (!picture.loadData(page)) return false;
                return picture.toImage(picture.size().scaled(Width, 1 << 20, Qt::KeepAspectRatio))
                           .width() == Width;
            });
        const double budgetMb = double(Width) * (Width * 210 / 297) * 4 / (1024.0 * 1024.0);
        printRow(evaluated ? "8 raster ops over the frame" : "8 brush fills over the frame (peer)",
                 "A4 built", m, budgetMb, true);
    }
    std::printf("\nOutput %d pixels wide. grown = the player's peak minus its size before the "
                "render; budget = output picture (4 bytes a pixel) + file. LibreOffice renders "
                "its A4 page, with the picture on it, %d pixels wide.\n",
                Width, Width);
    return 0;
}
