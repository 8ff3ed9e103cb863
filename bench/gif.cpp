// bench/gif: composing the frames of a 200-frame 640 x 480 GIF, in playback order and then
// 200 frames at random, through the picture library (ImageWrapper with its GIF back-end)
// and through Qt's own GIF reader, in one run. Every measurement runs in a child process
// of its own (Measure.h), so that its peak resident size is its alone.
//
// Qt's reader can only go forwards: a random frame means reading from the start up to it.
// The random case starts where playback in order ended (for Qt: nothing to keep).

#include "Measure.h"
#include "support/GifBuilder.h"

#include "image/ImageDirectory.h"
#include "image/ImageGif.h"
#include "image/ImageWrapper.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kFrames = 200;
constexpr QSize kScreen(640, 480);

// 256 colours, a 400 x 300 sprite moving over the screen, all three disposals in turn.
QByteArray makeAnimation()
{
    return giftest::encode(giftest::movingSprite(kScreen, QSize(400, 300), kFrames));
}

QVector<int> randomFrames()
{
    QRandomGenerator random(20261208);
    QVector<int> frames;
    for (int i = 0; i < kFrames; ++i)
        frames << int(random.bounded(kFrames));
    return frames;
}

QSharedPointer<ImageWrapper> openPicture(const QString &folder, const QString &name,
                                         QSharedPointer<ImageDirectory> *dir)
{
    dir->reset(new ImageDirectory);
    if (!(*dir)->init(folder, {})) return {};
    QSharedPointer<ImageWrapper> picture = (*dir)->createImage(name, 0, *dir);
    if (picture) picture->load();
    return picture && picture->status() == ImageStatusReady ? picture : nullptr;
}

// Pixels of every picture go through a checksum so that no work can be skipped.
quint64 touch(const QImage &image)
{
    return image.isNull() ? 0 : quint64(image.constBits()[image.sizeInBytes() / 2]) + 1;
}

void printRow(const char *what, const Measurement &picsage, const Measurement &qt)
{
    std::printf("| %-34s | %9.3f | %9.0f | %9.3f | %9.0f |\n", what,
                picsage.ok ? picsage.seconds : -1.0, picsage.grownKiB() / 1024.0,
                qt.ok ? qt.seconds : -1.0, qt.grownKiB() / 1024.0);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString name = QStringLiteral("bench-200x640x480.gif");
    const QString path = dir.filePath(name);
    {
        QFile file(path);
        const QByteArray bytes = makeAnimation();
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) ||
            file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "bench-gif: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const QVector<int> random = randomFrames();

    // In order: open, then every frame as it is shown during playback.
    const Measurement libOrder = measureBest(3, nullptr, [&] {
        QSharedPointer<ImageDirectory> folder;
        const QSharedPointer<ImageWrapper> picture = openPicture(dir.path(), name, &folder);
        if (!picture || picture->frameCount() != kFrames) return false;
        quint64 sum = 0;
        for (int i = 0; i < kFrames; ++i)
            sum += touch(picture->imageAt(i, 0, 0));
        return sum > 0;
    });
    const Measurement qtOrder = measureBest(3, nullptr, [&] {
        QImageReader reader(path, "gif");
        quint64 sum = 0;
        int read = 0;
        for (QImage image; reader.read(&image); ++read)
            sum += touch(image);
        return read == kFrames && sum > 0;
    });

    // At random, after the picture was opened and played once in order (neither timed):
    // playback has kept a picture every ten frames.
    QSharedPointer<ImageDirectory> folder;
    QSharedPointer<ImageWrapper> picture;
    const auto openAndPlay = [&] {
        picture = openPicture(dir.path(), name, &folder);
        for (int i = 0; picture && i < kFrames; ++i)
            picture->imageAt(i, 0, 0);
    };
    int mostDraws = 0, allDraws = 0;
    const Measurement libRandom = measureBest(3, openAndPlay, [&] {
        auto *gif = picture ? dynamic_cast<ImageGif *>(picture->backEnd()) : nullptr;
        if (!gif) return false;
        quint64 sum = 0;
        for (int frame : random)
            sum += touch(picture->imageAt(frame, 0, 0));
        return sum > 0;
    });
    {
        // The draws each random frame costs, counted in this process.
        openAndPlay();
        auto *gif = picture ? dynamic_cast<ImageGif *>(picture->backEnd()) : nullptr;
        for (int frame : random) {
            const int before = gif ? gif->animation().framesDrawn() : 0;
            picture->imageAt(frame, 0, 0);
            const int draws = gif ? gif->animation().framesDrawn() - before : -1;
            mostDraws = qMax(mostDraws, draws);
            allDraws += draws;
        }
        picture.reset();
    }
    const Measurement qtRandom = measureBest(1, nullptr, [&] {
        quint64 sum = 0;
        for (int frame : random) {
            QImageReader reader(path, "gif");
            QImage image;
            for (int i = 0; i <= frame; ++i)
                if (!reader.read(&image)) return false;
            sum += touch(image);
        }
        return sum > 0;
    });

    std::printf("bench/gif: %d frames of %dx%d (%lld bytes); time in seconds, memory grown "
                "during the work in MiB\n\n",
                kFrames, kScreen.width(), kScreen.height(), QFileInfo(path).size());
    std::printf("| %-34s | %9s | %9s | %9s | %9s |\n", "case", "picsage s", "MiB", "Qt s", "MiB");
    std::printf("|%s|%s|%s|%s|%s|\n", "------------------------------------", "-----------",
                "-----------", "-----------", "-----------");
    printRow("open + every frame in order", libOrder, qtOrder);
    printRow("then 200 frames at random", libRandom, qtRandom);
    std::printf("\npicsage frame draws per random frame: mean %.1f, most %d (target: at most 10)\n",
                double(allDraws) / random.size(), mostDraws);
    std::printf("targets: in order no slower than Qt's reader: %s; random at most ten draws: %s\n",
                libOrder.ok && qtOrder.ok && libOrder.seconds <= qtOrder.seconds ? "met"
                                                                                 : "NOT met",
                mostDraws <= 10 ? "met" : "NOT met");
    return libOrder.ok && qtOrder.ok && libRandom.ok && qtRandom.ok ? 0 : 1;
}
