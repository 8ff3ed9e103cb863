#include "RawIOHandler.h"

#include "RawFile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QVariant>

namespace {
Q_LOGGING_CATEGORY(lcRaw, "picsage.raw", QtInfoMsg)
}

RawIOHandler::RawIOHandler() = default;
RawIOHandler::~RawIOHandler() = default;

bool RawIOHandler::_open() const
{
    QIODevice *device = this->device();
    if (!device) return false;
    device->seek(0);
    if (m_raw) return true;

    // LibRaw reads files by name: a device that is not a file on disk cannot be read, nor a
    // file opened from a descriptor, which has no name (asking for "" makes Qt warn).
    auto *file = qobject_cast<QFile *>(device);
    if (!file || file->fileName().isEmpty()) return false;
    const QFileInfo info(*file);
    auto opened = std::make_unique<raw::RawFile>();
    if (!opened->open(info.filePath(), raw::isRawSuffix(info.suffix()))) return false;
    m_raw = std::move(opened);
    return true;
}

bool RawIOHandler::canRead(QIODevice *device)
{
    if (!device) return false;
    bool opened = false;
    {
        RawIOHandler probe;
        probe.setDevice(device);
        opened = probe._open();
    }
    device->seek(0);
    return opened;
}

bool RawIOHandler::canRead() const
{
    // Opening is the check: the file is opened once and kept for the read.
    if (!_open()) return false;
    setFormat("raw");
    return true;
}

bool RawIOHandler::read(QImage *image)
{
    if (!image || !_open()) return false;
    const QSize target = m_scaledSize.isValid() ? m_scaledSize : m_raw->size();
    const QSize preview = m_raw->previewSize();
    // Only the embedded preview is ever decoded; the line says whether it is smaller than
    // what was asked for.
    qCDebug(lcRaw) << (target.width() < preview.width() || target.height() < preview.height()
                           ? "Using thumbnail"
                           : "Decoding raw data");

    QImage decoded = m_raw->preview();
    if (decoded.isNull()) return false;
    if (m_scaledSize.isValid() && decoded.size() != target)
        decoded = decoded.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (decoded.isNull()) return false;
    *image = decoded;
    return true;
}

bool RawIOHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == Description || option == ScaledSize || option == ImageFormat;
}

QVariant RawIOHandler::option(ImageOption option) const
{
    switch (option) {
    case Size:
        return _open() ? m_raw->size() : QSize();
    case Description:
        // Opened here too, so that QImageReader::text() works before anything else was asked.
        return _open() ? m_raw->description() : QString();
    case ScaledSize:
        return m_scaledSize;
    case ImageFormat:
        return QImage::Format_RGB32;
    default:
        return QVariant();
    }
}

void RawIOHandler::setOption(ImageOption option, const QVariant &value)
{
    if (option == ScaledSize) m_scaledSize = value.toSize();
}
