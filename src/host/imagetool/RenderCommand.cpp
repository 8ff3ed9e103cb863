#include "ImageTool.h"

#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

namespace imagetool {

namespace {

// The largest picture render writes (400 MiB of pixels); larger ones need a --box.
constexpr qint64 MaxOutputPixels = 104857600;

bool parseBox(const QString &text, QSize *box)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 2) return false;
    bool okW = false, okH = false;
    const int w = parts.at(0).toInt(&okW);
    const int h = parts.at(1).toInt(&okH);
    if (!okW || !okH || w <= 0 || h <= 0) return false;
    *box = QSize(w, h);
    return true;
}

// The picture's size as shown: stored size, turned for orientations 5-8.
QSize uprightSize(const ImageWrapper &picture, int frame)
{
    if (!picture.isClipMode()) return picture.imageSize(frame);
    const QSize stored = picture.originalSize();
    const long o = picture.orientation();
    return o >= 5 && o <= 8 ? stored.transposed() : stored;
}

QSize fitInto(const QSize &size, const QSize &box)
{
    const double scale =
        qMin(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(qMax(1, qRound(size.width() * scale)), qMax(1, qRound(size.height() * scale)));
}

bool parseRegion(const QString &text, QRect *region)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) return false;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts.at(i).toInt(&ok);
        if (!ok || v[i] < 0) return false;
    }
    if (v[2] == 0 || v[3] == 0) return false;
    *region = QRect(v[0], v[1], v[2], v[3]);
    return true;
}

// Paints until the clip tiles in view have all been decoded: nothing repaints a canvas when
// a tile becomes ready, so wait for the loaders and paint again. A tile that keeps failing
// leaves its stand-in after a few rounds.
void paintSettled(ImageWrapper &picture, QImage &canvas, int frame, const QRect &target,
                  double scale)
{
    constexpr int Rounds = 4;
    for (int round = 0; round < Rounds; ++round) {
        canvas.fill(Qt::transparent);
        {
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            // The picture replaces what lies below it, the viewer's checkerboard included, so
            // transparent parts stay transparent.
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            picture.paint(&painter, frame, target, canvas.rect(), scale, nullptr);
        }
        PixmapClipRoot *root = picture.findChild<PixmapClipRoot *>();
        if (!root || root->loadingCount() == 0) return;
        root->waitForLoaders();
    }
}

} // namespace

int runRender(const QStringList &args)
{
    const QString name = QStringLiteral("render");
    QString file, output;
    QSize box;
    QRect region;
    int frame = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!hasValue) return usageError(name, QStringLiteral("%1 needs a file").arg(arg));
            output = args.at(++i);
        } else if (arg == QLatin1String("--box")) {
            if (!hasValue || !parseBox(args.at(i + 1), &box))
                return usageError(name, QStringLiteral("--box needs WxH, both above 0"));
            ++i;
        } else if (arg == QLatin1String("--region")) {
            if (!hasValue || !parseRegion(args.at(i + 1), &region))
                return usageError(name, QStringLiteral("--region needs X,Y,W,H, W and H above 0"));
            ++i;
        } else if (arg == QLatin1String("--frame")) {
            bool ok = false;
            frame = hasValue ? args.at(i + 1).toInt(&ok) : -1;
            if (!ok || frame < 0)
                return usageError(name, QStringLiteral("--frame needs a number from 0"));
            ++i;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return usageError(name, QStringLiteral("unknown option %1").arg(arg));
        } else if (file.isEmpty()) {
            file = arg;
        } else {
            return usageError(name, QStringLiteral("give one FILE"));
        }
    }
    if (file.isEmpty()) return usageError(name, QStringLiteral("no FILE given"));
    if (output.isEmpty()) return usageError(name, QStringLiteral("no -o OUT.png given"));

    QString reason;
    const QSharedPointer<ImageWrapper> picture = openPicture(file, &reason);
    if (!picture) {
        reportError(file, reason);
        return ExitInput;
    }
    if (frame >= picture->frameCount())
        return usageError(name, QStringLiteral("%1 has %2 frame(s); --frame %3 is not one")
                                    .arg(file)
                                    .arg(picture->frameCount())
                                    .arg(frame));
    const QSize upright = uprightSize(*picture, frame);
    if (upright.isEmpty()) {
        reportError(file, QStringLiteral("the picture has no size"));
        return ExitInput;
    }
    if (region.isValid() && !QRect(QPoint(0, 0), upright).contains(region))
        return usageError(name,
                          QStringLiteral("--region %1,%2,%3,%4 lies outside the %5x%6 picture")
                              .arg(region.x())
                              .arg(region.y())
                              .arg(region.width())
                              .arg(region.height())
                              .arg(upright.width())
                              .arg(upright.height()));
    // The part shown: the whole picture, or the region, fitted into the box.
    const QSize shown = region.isValid() ? region.size() : upright;
    const QSize size = fitInto(shown, box.isValid() ? box : shown);
    if (qint64(size.width()) * size.height() > MaxOutputPixels)
        return usageError(name, QStringLiteral("%1x%2 is too large to render; give a --box")
                                    .arg(size.width())
                                    .arg(size.height()));

    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) {
        reportError(
            output,
            QStringLiteral("not enough memory for %1x%2").arg(size.width()).arg(size.height()));
        return ExitOutput;
    }
    const double scale = double(size.width()) / shown.width();
    // The whole picture's rectangle at that scale, placed so that the region's corner is at
    // the canvas' top-left.
    const QRect target(qRound(-region.x() * scale), qRound(-region.y() * scale),
                       region.isValid() ? qRound(upright.width() * scale) : size.width(),
                       region.isValid() ? qRound(upright.height() * scale) : size.height());
    paintSettled(*picture, canvas, frame, target, scale);

    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly)) {
        reportError(output, out.errorString());
        return ExitOutput;
    }
    QImageWriter writer(&out, "png");
    if (!writer.write(canvas.convertToFormat(QImage::Format_ARGB32))) {
        out.cancelWriting();
        reportError(output, writer.errorString());
        return ExitOutput;
    }
    if (!out.commit()) {
        reportError(output, out.errorString());
        return ExitOutput;
    }
    return ExitOk;
}

} // namespace imagetool
