#include "platform/decoders/IllustratorHandler.h"

#include "platform/decoders/DecoderLimits.h"
#include "platform/decoders/DeviceBytes.h"

#include <QDateTime>
#include <QIODevice>
#include <QImage>
#include <QVariant>

#include <poppler-qt5.h>

#include <cmath>

namespace platform::decoders {

namespace {

constexpr qint64 MaxFileBytes = qint64(1) << 30;
// A page is drawn no larger than this on a side (pages are at most 200 inches wide).
constexpr int MaxDrawnSide = 16384;
// PDF allows bytes before its header; Illustrator writes none, other writers a few.
constexpr int HeaderWindow = 1024;

void ignorePopplerMessage(const QString &, const QVariant &) {}

bool pastDeadline(const QVariant &deadline)
{
    return QDateTime::currentMSecsSinceEpoch() > deadline.toLongLong();
}

// The 72-dpi size of a page of `points`, made smaller (keeping its shape) until it fits.
QSize boundedSize(const QSizeF &points)
{
    if (!(points.width() >= 1 && points.height() >= 1)) return {};
    double scale = 1;
    const double side = qMax(points.width(), points.height());
    if (side > MaxDrawnSide) scale = MaxDrawnSide / side;
    const double area = points.width() * points.height() * scale * scale;
    if (area > double(MaxPixels)) scale *= std::sqrt(double(MaxPixels) / area);
    const QSize size(qMax(1, int(points.width() * scale)), qMax(1, int(points.height() * scale)));
    return fitsLimits(size.width(), size.height()) ? size : QSize();
}

} // namespace

IllustratorHandler::IllustratorHandler() = default;
IllustratorHandler::~IllustratorHandler() = default;

bool IllustratorHandler::canRead(QIODevice *device)
{
    return device && device->peek(HeaderWindow).contains("%PDF-");
}

bool IllustratorHandler::canRead() const
{
    if (!canRead(device())) return false;
    const_cast<IllustratorHandler *>(this)->setFormat("ai");
    return true;
}

bool IllustratorHandler::open() const
{
    if (m_opened) return bool(m_document);
    m_opened = true;
    // Poppler reports the damage it repairs through qDebug; the library prints nothing
    static const bool quiet = [] {
        Poppler::setDebugErrorFunction(ignorePopplerMessage, QVariant());
        return true;
    }();
    Q_UNUSED(quiet);
    if (!device()) return false;
    if (!canRead(device())) {
        m_error = device()->peek(16).startsWith("%!PS-Adobe")
                      ? QStringLiteral("PostScript-only Illustrator file (saved without PDF)")
                      : QStringLiteral("not a PDF-compatible Illustrator file");
        return false;
    }
    const QByteArray bytes = readWholeDevice(device(), MaxFileBytes);
    if (bytes.isEmpty()) {
        m_error = QStringLiteral("file cannot be read");
        return false;
    }
    std::unique_ptr<Poppler::Document> document(Poppler::Document::loadFromData(bytes));
    if (!document) {
        m_error = QStringLiteral("PDF part cannot be parsed");
        return false;
    }
    if (document->isLocked() || document->isEncrypted()) {
        m_error = QStringLiteral("encrypted file");
        return false;
    }
    if (document->numPages() < 1) {
        m_error = QStringLiteral("file has no page");
        return false;
    }
    const std::unique_ptr<Poppler::Page> page(document->page(0));
    m_pageSize = page ? boundedSize(page->pageSizeF()) : QSize();
    if (m_pageSize.isEmpty()) {
        m_error = QStringLiteral("first page has no usable size");
        return false;
    }
    document->setRenderBackend(Poppler::Document::SplashBackend);
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    // transparent paper: the page is not composed onto a paper colour
    document->setRenderHint(Poppler::Document::IgnorePaperColor);
    m_document = std::move(document);
    return true;
}

bool IllustratorHandler::read(QImage *image)
{
    if (!image || !open()) return false;
    const QSize target =
        m_scaledSize.isValid() && fitsLimits(m_scaledSize.width(), m_scaledSize.height())
            ? m_scaledSize
            : m_pageSize;
    const std::unique_ptr<Poppler::Page> page(m_document->page(0));
    if (!page) {
        m_error = QStringLiteral("first page cannot be read");
        return false;
    }
    const QSizeF points = page->pageSizeF();
    const double xres = 72.0 * target.width() / points.width();
    const double yres = 72.0 * target.height() / points.height();
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + MaxRenderSeconds * 1000;
    QImage result = page->renderToImage(xres, yres, 0, 0, target.width(), target.height(),
                                        Poppler::Page::Rotate0, nullptr, nullptr, pastDeadline,
                                        QVariant(deadline));
    if (result.isNull() || pastDeadline(deadline)) {
        m_error = result.isNull() ? QStringLiteral("first page cannot be drawn")
                                  : QStringLiteral("drawing took longer than allowed");
        return false;
    }
    if (result.size() != target) result = result.copy(QRect(QPoint(0, 0), target));
    *image = result;
    m_error.clear();
    return true;
}

bool IllustratorHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat || option == ScaledSize;
}

QVariant IllustratorHandler::option(ImageOption option) const
{
    if (option == ScaledSize) return m_scaledSize;
    if (!supportsOption(option) || !open()) return {};
    if (option == Size) return m_pageSize;
    return QImage::Format_ARGB32_Premultiplied;
}

void IllustratorHandler::setOption(ImageOption option, const QVariant &value)
{
    if (option == ScaledSize) m_scaledSize = value.toSize();
}

QString IllustratorHandler::errorText() const
{
    return m_error;
}

} // namespace platform::decoders
