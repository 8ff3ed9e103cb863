#include "Metafile.h"

#include "MetafileCanvas.h"
#include "MetafileLimits.h"

#include <QFile>
#include <QPainter>

#include <cmath>

namespace metafile {

namespace {

MetafileBytes bytesOf(const QByteArray &data)
{
    return MetafileBytes(reinterpret_cast<const uchar *>(data.constData()), quint32(data.size()));
}

} // namespace

bool Metafile::load(const QString &path)
{
    *this = Metafile();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limits::MaxFileBytes) return false;
    return loadData(file.readAll());
}

bool Metafile::loadData(const QByteArray &data)
{
    *this = Metafile();
    if (data.size() > limits::MaxFileBytes) return false;
    const MetafileBytes bytes = bytesOf(data);
    if (readEmfHeader(bytes, m_emf)) {
        QRectF frame = m_emf.deviceFrame();
        const QRect mm = m_emf.frame;
        m_millimetres =
            QSizeF((double(mm.right()) - mm.left()) / 100, (double(mm.bottom()) - mm.top()) / 100);
        if (!(frame.width() >= 1 && frame.height() >= 1)) {
            // No usable frame: the bounds of what was drawn, inclusive device pixels.
            const QRect b = m_emf.bounds;
            frame = QRectF(b.left(), b.top(), double(b.right()) - b.left() + 1,
                           double(b.bottom()) - b.top() + 1);
            m_millimetres = QSizeF(frame.width() / m_emf.pixelsPerMm.width(),
                                   frame.height() / m_emf.pixelsPerMm.height());
        }
        if (!(frame.width() >= 1 && frame.height() >= 1)) return false;
        m_bounds = frame;
        m_kind = Kind::Emf;
    } else if (readWmfHeader(bytes, m_wmf)) {
        const QSizeF pixels = m_wmf.pixelSize();
        if (!(pixels.width() > 0 && pixels.height() > 0)) return false;
        m_bounds = QRectF(QPointF(0, 0), pixels);
        m_millimetres = pixels * (25.4 / 96);
        m_kind = Kind::Wmf;
    } else {
        return false;
    }
    m_data = data;
    return true;
}

QSize Metafile::size(double dotsPerInch) const
{
    if (isNull() || !(dotsPerInch > 0)) return {};
    double w = m_millimetres.width() * dotsPerInch / 25.4;
    double h = m_millimetres.height() * dotsPerInch / 25.4;
    const double longest = std::max(w, h);
    if (longest > limits::MaxPictureSide) {
        w = w * limits::MaxPictureSide / longest;
        h = h * limits::MaxPictureSide / longest;
    }
    // Whole pixels, not lost to rounding in the millimetres (279.4 mm at 96 dpi is 1056).
    return QSize(std::max(1, int(w + 1e-6)), std::max(1, int(h + 1e-6)));
}

void Metafile::render(QPainter *painter, const QRectF &target) const
{
    if (isNull() || !painter || !painter->isActive() || target.isEmpty()) return;
    const QRectF f = m_bounds;
    const QTransform deviceToTarget =
        QTransform::fromTranslate(-f.x(), -f.y()) *
        QTransform::fromScale(target.width() / f.width(), target.height() / f.height()) *
        QTransform::fromTranslate(target.x(), target.y());
    const MetafileBytes bytes = bytesOf(m_data);
    if (m_kind == Kind::Emf) {
        MetafileCanvas canvas(painter, deviceToTarget, f, m_emf.pixelsPerMm);
        playEmf(bytes, canvas);
    } else {
        MetafileCanvas canvas(painter, deviceToTarget, f, QSizeF(96 / 25.4, 96 / 25.4));
        playWmf(bytes, m_wmf, canvas);
    }
}

QImage Metafile::toImage(const QSize &size) const
{
    if (isNull() || size.isEmpty()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    image.fill(Qt::transparent);
    QPainter painter(&image);
    render(&painter, QRectF(QPointF(0, 0), size));
    painter.end();
    return image;
}

} // namespace metafile
