// The real metafiles, and a generated EMF+ file (emfplus.emf: 400 rounds of fills, ellipses,
// paths, dashed lines, transforms and text), rendered 1920 pixels wide: our record player in a
// process of its own, the whole picsage-image process, and LibreOffice's converter (the independent
// renderer of the tests' references) as a process, all measured in this one run: time and peak
// memory. The player's memory is set against the output picture plus the file.
//
//   bench-metafile

#include "Measure.h"

#include "metafile/Metafile.h"
#include "support/EmfPlusBuilder.h"
#include "support/MetafileBuilder.h"

#include <QDir>
#include <QFile>
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

// An EMF+ file of many records, as GDI+ writes them: solid and gradient brushes, pens,
// paths, transforms, clipping and text (the real files hold no EMF+ drawing to speak of).
QByteArray emfPlusWorkload()
{
    using B = mftest::EmfPlusBuilder;
    mftest::EmfBuilder emf(QRect(0, 0, 27940, 20955), 4);
    B b;
    b.header(true);
    b.record(0x401E, 1, {}); // anti-aliasing on
    b.object(0, 2, B::pen(3, Qt::black));
    b.object(1, 2, B::pen(2, Qt::darkBlue, {3, 1}));
    b.object(2, 1, B::linearBrush(QRectF(0, 0, 1117, 100), Qt::yellow, Qt::darkGreen));
    b.object(3, 3,
             B::path({{0, 0}, {40, -30}, {80, 30}, {120, 0}, {60, 60}},
                     QByteArray("\x00\x03\x03\x03\x81", 5)));
    b.object(4, 6, B::font(18, QStringLiteral("DejaVu Sans")));
    for (int i = 0; i < 400; ++i) {
        const double x = (i * 37) % 1000, y = (i * 53) % 760;
        const QColor c = QColor::fromHsv((i * 29) % 360, 200, 230, 200);
        b.floats(0x402A, 0, {1, 0, 0, 1, float(x), float(y)});
        b.fillRectColor(QRectF(0, 0, 60, 40), c);
        mftest::Le ellipse;
        ellipse.u32(2).raw(B::rect(QRectF(10, 10, 80, 50)));
        b.record(0x400E, 0, ellipse.bytes);
        b.floats(0x402F, 0, {float(i % 90)});
        mftest::Le path;
        path.u32(0);
        b.record(0x4015, 3, path.bytes);
        mftest::Le lines;
        lines.u32(3).f32(0).f32(0).f32(50).f32(20).f32(90).f32(-10);
        b.record(0x400D, 1, lines.bytes);
        if (i % 8 == 0) {
            mftest::Le text;
            const QString s = QStringLiteral("EMF+ %1").arg(i);
            text.u32(0xFF000000).u32(0xFFFFFFFF).u32(quint32(s.size()));
            text.raw(B::rect(QRectF(0, 0, 200, 40)));
            for (const QChar ch : s)
                text.u16(ch.unicode());
            b.record(0x401C, 0x8004, text.bytes);
        }
        if (i % 50 == 49) b.flushInto(emf);
    }
    b.flushInto(emf);
    return emf.finish();
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
    const QString generated = temporary.filePath("emfplus.emf");
    {
        QFile out(generated);
        if (!out.open(QIODevice::WriteOnly) || out.write(emfPlusWorkload()) < 0) return 1;
    }
    const QString realData = QStringLiteral(PICSAGE_REAL_DATA) + QLatin1Char('/');
    for (const QString &path :
         {realData + "wmf/fulltest.wmf", realData + "emf/fulltest.emf", generated}) {
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
