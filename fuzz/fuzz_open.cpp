// Feeds arbitrary bytes through the viewer's open path: the bytes become a file with a
// picture suffix (the first byte picks which), opened through its folder, loaded and painted
// at a small size, every frame and the upright picture asked for. A refusal or a picture,
// never a crash, never more memory or time than the readers' limits allow.
#include "image/ImageDirectory.h"
#include "image/ImageWrapper.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The frame decoder's rows first, then rows only Qt's readers take, then our own readers
// (camera raw, metafiles, Photoshop). New rows go at the end, so that kept inputs keep theirs.
const char *const Suffixes[] = {"jpg", "png", "tif", "bmp", "jpeg", "tiff", "webp", "gif",
                                "dng", "cr2", "nef", "emf", "wmf",  "psd",  "psb",  "svg",
                                "tga", "pcx", "ras", "pbm", "wbmp", "heic", "ppm",  "ai"};

struct Environment
{
    Environment()
    {
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = new QGuiApplication(argc, argv);
    }
    int argc = 1;
    char name[10] = "fuzz_open";
    char *argv[2] = {name, nullptr};
    QGuiApplication *app = nullptr;
    QTemporaryDir folder;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Environment *environment = new Environment;
    if (size < 1 || !environment->folder.isValid()) return 0;
    const QString name =
        QStringLiteral("input.%1").arg(QLatin1String(Suffixes[data[0] % std::size(Suffixes)]));
    const QString path = environment->folder.filePath(name);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }

    QSharedPointer<ImageDirectory> folder(new ImageDirectory);
    if (folder->init(environment->folder.path(), {name})) {
        const QSharedPointer<ImageWrapper> picture = folder->createImage(name, 0, folder);
        if (picture) {
            picture->load();
            const int frames = picture->frameCount();
            const QSize shown = picture->imageSize(0);
            if (picture->status() == ImageStatusReady && frames > 0 && !shown.isEmpty()) {
                const QSize box = shown.scaled(QSize(64, 48), Qt::KeepAspectRatio);
                QImage canvas(box.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
                QPainter painter(&canvas);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                const QRect target(QPoint(0, 0), canvas.size());
                for (int n = 0; n < frames && n < 4; ++n)
                    picture->paint(&painter, n, target, target,
                                   double(target.width()) / shown.width(), nullptr);
                painter.end();
                picture->imageAt(frames - 1, 0, 0);
            }
        }
    }
    QFile::remove(path);
    return 0;
}
