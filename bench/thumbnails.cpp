// picsage-image render --box and thumbnails beside the tools a user would pick instead,
// measured in this one run as whole processes (time and the largest process' peak memory):
// vipsthumbnail for large JPEGs and for a folder, Qt's scaled read for a small box.
// The peers write what picsage-image writes: PNG for render, JPEG thumbnails.
//
//   bench-thumbnails

#include "Measure.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int Runs = 3;
constexpr int FolderJpegs = 300;

// A photograph-like picture: smooth gradients, edges and fine detail.
QImage scene(const QSize &size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((seed * 37 + 120) % 360, 200, 90));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        const int x = (i * 7919 + seed * 104729) % size.width();
        const int y = (i * 104729 + seed * 7919) % size.height();
        painter.setBrush(QColor::fromHsv((i * 53 + seed) % 360, 180, 200));
        painter.setPen(QPen(Qt::black, qMax(1, size.width() / 800)));
        painter.drawEllipse(QPoint(x, y), size.width() / 12, size.height() / 10);
    }
    return image;
}

// A large JPEG without holding it: a small scene enlarged by vips, which streams.
bool largeJpeg(const QString &path, const QSize &size, const QDir &work)
{
    const QString small = work.filePath(QStringLiteral("seed-%1.png").arg(size.width()));
    const QSize seedSize = size / 10;
    if (!scene(seedSize, size.width()).save(small)) return false;
    const Measurement m = measureProgram({"/usr/bin/vips", "resize", small.toStdString(),
                                          (path + QStringLiteral("[Q=88]")).toStdString(), "10"});
    return m.ok && QFile::exists(path);
}

void printRow(const char *work, const char *program, const Measurement &m)
{
    if (!m.ok) {
        std::printf("| %-34s | %-46s | %7s | %8s |\n", work, program, "failed", "-");
        return;
    }
    std::printf("| %-34s | %-46s | %7.0f | %8.1f |\n", work, program, m.seconds * 1000,
                m.peakKiB / 1024.0);
    std::fflush(stdout);
}

Measurement bestOf(int runs, const std::vector<std::vector<std::string>> &commands,
                   const std::function<void()> &before)
{
    Measurement best;
    for (int i = 0; i < runs; ++i) {
        if (before) before();
        const Measurement m = measurePrograms(commands);
        if (!m.ok) return m;
        if (!best.ok || m.seconds < best.seconds) best.seconds = m.seconds;
        best.peakKiB = qMax(best.peakKiB, m.peakKiB);
        best.ok = true;
    }
    return best;
}

// Makes the pictures in a child of its own: a program started later inherits its starter's
// peak memory, so this process never holds a picture (nor Qt's GUI start-up).
bool makePictures(int argc, char **argv, const QDir &work, std::vector<std::string> jpegs[2])
{
    const QSize sizes[] = {{800, 600}, {1600, 1200}, {2400, 1600}, {4000, 3000}};
    for (int i = 0; i < FolderJpegs; ++i)
        jpegs[i % 2].push_back(
            work.filePath(QStringLiteral("folder/p%1.jpg").arg(i, 3, 10, QChar('0')))
                .toStdString());
    const pid_t pid = ::fork();
    if (pid == 0) {
        QGuiApplication app(argc, argv);
        bool ok = largeJpeg(work.filePath("12000.jpg"), QSize(12000, 9000), work) &&
                  largeJpeg(work.filePath("30000.jpg"), QSize(30000, 20000), work) &&
                  scene(QSize(4000, 3000), 4).save(work.filePath("4000.jpg"), "JPEG", 90);
        // The folder: JPEGs of mixed sizes, a few PNG, GIF and Photoshop documents.
        work.mkpath("folder");
        QVector<QImage> bases;
        for (int i = 0; i < 4; ++i)
            bases.append(scene(sizes[i], i));
        for (int i = 0; ok && i < FolderJpegs; ++i)
            ok = bases.at(i % 4).save(QString::fromStdString(jpegs[i % 2][size_t(i / 2)]), "JPEG",
                                      80 + i % 15);
        for (int i = 0; i < 3; ++i)
            ok = ok && scene(QSize(1200, 900), 10 + i)
                           .save(work.filePath(QStringLiteral("folder/q%1.png").arg(i)));
        ok = ok &&
             QFile::copy(QStringLiteral(PICSAGE_REAL_DATA "/gif/dispose_prev.gif"),
                         work.filePath("folder/anim.gif")) &&
             QFile::copy(QStringLiteral(PICSAGE_REAL_DATA "/psd/hopper.psd"),
                         work.filePath("folder/hopper.psd"));
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    if (!temp.isValid()) return 1;
    const QDir work(temp.path());
    const std::string tool = PICSAGE_IMAGE_TOOL, qtRead = QT_SCALED_READ;
    auto at = [&](const char *name) { return work.filePath(QLatin1String(name)).toStdString(); };

    std::fprintf(stderr, "making the pictures...\n");
    std::vector<std::string> jpegs[2];
    if (!makePictures(argc, argv, work, jpegs)) return 1;

    std::printf("| %-34s | %-46s | %7s | %8s |\n", "work", "program", "ms", "peak MiB");
    std::printf("|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(48, '-').c_str(),
                std::string(8, '-').append(":").c_str(), std::string(9, '-').append(":").c_str());
    struct Render
    {
        const char *work, *in, *box, *vipsSize;
    };
    const Render renders[] = {
        {"12000 x 9000 JPEG into 1920x1080", "12000.jpg", "1920x1080", "1920x1080"},
        {"30000 x 20000 JPEG, 1920 wide", "30000.jpg", "1920x100000", "1920x100000"},
    };
    for (const Render &r : renders) {
        printRow(
            r.work, "picsage-image render --box",
            bestProgram(Runs, {tool, "render", at(r.in), "-o", at("out.png"), "--box", r.box}));
        printRow(r.work, "vipsthumbnail (PNG)",
                 bestProgram(Runs, {"/usr/bin/vipsthumbnail", at(r.in), "-s", r.vipsSize, "-o",
                                    at("vips.png")}));
    }
    printRow("4000 x 3000 JPEG into 320x320", "picsage-image render --box",
             bestProgram(
                 Runs, {tool, "render", at("4000.jpg"), "-o", at("out.png"), "--box", "320x320"}));
    printRow("4000 x 3000 JPEG into 320x320", "Qt scaled read (QImageReader, PNG)",
             bestProgram(Runs, {qtRead, at("4000.jpg"), at("qt.png"), "320", "320"}));

    // Every run starts from an empty output folder: thumbnails keeps up-to-date ones.
    const QString thumbs = work.filePath("thumbs");
    auto clean = [&] {
        QDir(thumbs).removeRecursively();
        work.mkpath("thumbs");
    };
    printRow("300 JPEGs + 5 others into 256x256", "picsage-image thumbnails --jobs 2 --format jpg",
             bestOf(Runs,
                    {{tool, "thumbnails", at("folder"), "-o", thumbs.toStdString(), "--box",
                      "256x256", "--jobs", "2", "--format", "jpg"}},
                    clean));
    std::vector<std::vector<std::string>> vips;
    for (const std::vector<std::string> &half : jpegs) {
        std::vector<std::string> command = {"/usr/bin/vipsthumbnail"};
        command.insert(command.end(), half.begin(), half.end());
        for (const char *arg : {"-s", "256", "-o"})
            command.push_back(arg);
        command.push_back(thumbs.toStdString() + "/%s.jpg");
        vips.push_back(command);
    }
    printRow("300 JPEGs only into 256x256", "vipsthumbnail -s 256, 2 processes",
             bestOf(Runs, vips, clean));
    return 0;
}
