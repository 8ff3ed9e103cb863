#include "Arguments.h"
#include "ImageTool.h"
#include "WholePicture.h"

#include "image/ImageWrapper.h"
#include "image/PixmapClipRoot.h"

#include <QImage>
#include <QPainter>

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

// Paints `region` of frame `frame` (or the whole `upright` picture) at `size` into `canvas`.
// False when the canvas cannot be made.
bool paintPart(ImageWrapper &picture, int frame, const QSize &upright, const QSize &shown,
               const QRect &region, const QSize &size, QImage *canvas)
{
    *canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (canvas->isNull()) return false;
    const double scale = double(size.width()) / shown.width();
    // The whole picture's rectangle at that scale, placed so that the region's corner is at
    // the canvas' top-left.
    const QRect target(qRound(-region.x() * scale), qRound(-region.y() * scale),
                       region.isValid() ? qRound(upright.width() * scale) : size.width(),
                       region.isValid() ? qRound(upright.height() * scale) : size.height());
    paintSettled(picture, *canvas, frame, target, scale);
    return true;
}

} // namespace

int runRender(const QStringList &args)
{
    const QString name = QStringLiteral("render");
    Arguments line(name,
                   {Arguments::output(QStringLiteral("a file"), QStringLiteral("OUT.png")),
                    {{QStringLiteral("--box")}, QStringLiteral("WxH")},
                    {{QStringLiteral("--region")}, QStringLiteral("X,Y,W,H")},
                    {{QStringLiteral("--frame")}, QStringLiteral("a number from 0")},
                    {{QStringLiteral("--exif-thumbnail")}}},
                   {QStringLiteral("FILE")});
    const int bad = line.read(args);
    if (bad >= 0) return bad;
    const QString file = line.operand(), output = line.value(QStringLiteral("-o"));
    QSize box;
    QRect region;
    int frame = 0;
    if (line.has(QStringLiteral("--box")) && !parseBox(line.value(QStringLiteral("--box")), &box))
        return usageError(name, QStringLiteral("--box needs WxH, both above 0"));
    if (line.has(QStringLiteral("--region")) &&
        !parseRegion(line.value(QStringLiteral("--region")), &region))
        return usageError(name, QStringLiteral("--region needs X,Y,W,H, W and H above 0"));
    if (line.has(QStringLiteral("--frame"))) {
        bool ok = false;
        frame = line.value(QStringLiteral("--frame")).toInt(&ok);
        if (!ok || frame < 0)
            return usageError(name, QStringLiteral("--frame needs a number from 0"));
    }

    // The whole first picture into a box is decoded for the box, not for the screen.
    const bool whole = box.isValid() && !region.isValid() && frame == 0;
    QString reason;
    const QSharedPointer<ImageWrapper> picture =
        openPicture(file, &reason, nullptr, whole ? box : QSize());
    if (!picture) {
        reportError(file, reason);
        return ExitInput;
    }
    // Vector and animation back-ends paint at the size asked for, as before.
    const bool decodedWhole = whole && picture->backEndKind() == BackEndRaster;
    if (frame >= picture->frameCount())
        return usageError(name, QStringLiteral("%1 has %2 frame(s); --frame %3 is not one")
                                    .arg(file)
                                    .arg(picture->frameCount())
                                    .arg(frame));
    const QSize upright = decodedWhole ? wholeSize(*picture) : uprightSize(*picture, frame);
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
    const QSize size = ImageWrapper::fitInto(shown, box.isValid() ? box : shown);
    if (qint64(size.width()) * size.height() > MaxOutputPixels)
        return usageError(name, QStringLiteral("%1x%2 is too large to render; give a --box")
                                    .arg(size.width())
                                    .arg(size.height()));

    QImage canvas;
    if (decodedWhole) {
        canvas = renderWhole(*picture, size, line.has(QStringLiteral("--exif-thumbnail")));
        if (canvas.isNull()) {
            reportError(file, QStringLiteral("not a picture that can be decoded"));
            return ExitInput;
        }
    } else if (!paintPart(*picture, frame, upright, shown, region, size, &canvas)) {
        reportError(
            output,
            QStringLiteral("not enough memory for %1x%2").arg(size.width()).arg(size.height()));
        return ExitOutput;
    }
    if (!writePng(output, canvas, &reason)) {
        reportError(output, reason);
        return ExitOutput;
    }
    return ExitOk;
}

} // namespace imagetool
