#include "AnalysisImageLoader.h"

#include "formats/PsdPreview.h"
#include "platform/FileNameBytes.h"
#include "platform/PictureReaders.h"

#include <QFileInfo>
#include <QImageReader>

namespace {
constexpr int LargeSide = 10000;
}

QSize fitAnalysisSize(const QSize &size, const QSize &target)
{
    const qint64 w = size.width(), h = size.height();
    const qint64 W = target.width(), H = target.height();
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return QSize();
    // 64-bit products: a side read from a file times the target must not overflow.
    qint64 fw, fh;
    if (double(w) / double(h) > double(W) / double(H)) {
        fw = W;
        fh = h * W / w;
    } else {
        fw = w * H / h;
        fh = H;
    }
    return QSize(int(qMax<qint64>(fw, 1)), int(qMax<qint64>(fh, 1)));
}

QImage loadAnalysisImage(const QString &path, const QSize &target, bool largeOnly)
{
    QImage image;
    // Opened by the exact bytes of its name, which need not be text.
    QFile file;
    if (!platform::openForReading(file, path)) return QImage();
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("psd") || suffix == QLatin1String("psb")) {
        image = psdPreviewBitmap(&file);
    } else {
        QImageReader reader(&file);
        if (!platform::pictureReaders::prepare(reader, suffix)) return QImage();
        const QSize size = reader.size();
        const auto wantsFit = [&](const QSize &s) {
            return !largeOnly || s.width() >= LargeSide || s.height() >= LargeSide;
        };
        if (size.isValid() && wantsFit(size)) {
            const QSize fit = fitAnalysisSize(size, target);
            if (!fit.isValid()) return QImage(); // a zero side: nothing to fit
            reader.setScaledSize(fit);
        }
        image = reader.read();
        // A reader that cannot tell the size before decoding: bound the buffer afterwards.
        if (!size.isValid() && !image.isNull() && wantsFit(image.size())) {
            const QSize fit = fitAnalysisSize(image.size(), target);
            if (fit != image.size())
                image = image.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    // Converted in place where the depth stays (RGB32, premultiplied ARGB32): a picture kept
    // at full size is never held twice.
    if (!image.isNull() && image.format() != QImage::Format_ARGB32)
        image = std::move(image).convertToFormat(QImage::Format_ARGB32);
    return image;
}
