#include "image/ImageWrapper.h"

#include "formats/ExifItems.h"
#include "image/BackEndFactory.h"
#include "image/ImageBase.h"
#include "image/ImageDirectory.h"
#include "image/PixmapClipRoot.h"
#include "platform/PictureReaders.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace {

// The orientation that a raw file's reader states (from the camera's metadata), for raw files
// whose metadata the EXIF reader does not know (CR3); 0 when it states none.
quint8 rawOrientation(const QString &path, const ImageFormats &formats)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (!ImageFormats::isRawFormat(formats.formatForSuffix(suffix)->id)) return 0;
    QImageReader reader(path, suffix.toLatin1());
    bool ok = false;
    const int orientation = reader.text(QStringLiteral("Orientation")).toInt(&ok);
    return ok && orientation >= 1 && orientation <= 8 ? quint8(orientation) : 0;
}

} // namespace

ImageWrapper::ImageWrapper() : m_imageFormats(new ImageFormats)
{
    m_format = m_imageFormats->formatForId(FormatUnknown);
}

ImageWrapper::~ImageWrapper()
{
    delete m_clipRoot; // waits for its tile loaders
    delete m_backEnd;
    delete m_imageFormats;
}

bool ImageWrapper::init(QSharedPointer<ImageDirectory> dir, const QString &name)
{
    m_directory = dir;
    m_name = name;
    if (!dir) {
        setStatus(ImageStatusFailed);
        return false;
    }
    return getExifData(dir->pathName(name));
}

void ImageWrapper::close()
{
    setStatus(ImageStatusNone);
    m_ready.store(false);
    delete m_clipRoot; // the tiles belong to the picture that goes
    m_clipRoot = nullptr;
    delete m_backEnd;
    m_backEnd = nullptr;
}

void ImageWrapper::load()
{
    std::lock_guard<std::mutex> locker(m_mutex);
    if (!m_ready.load()) _load();
    emit imageReady();
}

bool ImageWrapper::load(const QString &)
{
    _load();
    return true;
}

void ImageWrapper::_load()
{
    setStatus(ImageStatusLoading);
    const int dot = m_name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : m_name.mid(dot + 1);
    m_format = m_imageFormats->formatForSuffix(suffix);

    delete m_backEnd;
    m_backEnd = nullptr;
    ImageFormat *const row = m_format;
    m_backEnd = createBackEnd(row->id, this, m_clipAllowed);
    setStatus(m_backEnd->load(row) ? ImageStatusReady : ImageStatusFailed);

    if (status() == ImageStatusFailed && row->id == FormatGif &&
        backEndKindOf(m_backEnd) == BackEndGif && gifMayFallBack(m_backEnd)) {
        // Qt's reader takes GIFs the GIF back-end cannot decode.
        delete m_backEnd;
        m_backEnd = createRasterBackEnd(this, m_clipAllowed);
        setStatus(m_backEnd->load(row) ? ImageStatusReady : ImageStatusFailed);
    }
}

bool ImageWrapper::getExifData(const QString &path)
{
    m_normalizedPathName = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setStatus(ImageStatusFailed);
        return false;
    }
    file.close();
    m_timeStamp = QFileInfo(path).lastModified();

    m_exifItems = platform::readPropertyItems(path);
    bool orientationSeen = false, thumbnailOrientationSeen = false;
    for (const platform::PropertyItem &item : qAsConst(m_exifItems)) {
        const QByteArray &value = item.value;
        switch (item.id) {
        case PropertyTagOrientation:
            if (!value.isEmpty()) m_orientation = quint8(value.at(0));
            orientationSeen = !value.isEmpty();
            break;
        case PropertyTagThumbnailData: {
            QBuffer buffer;
            buffer.setData(value);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            reader.setAutoTransform(false);
            const QSize size =
                platform::pictureReaders::prepare(reader, QString()) ? reader.size() : QSize();
            // A thumbnail is small; a header claiming otherwise is not decoded.
            if (size.isValid() && qint64(size.width()) * size.height() <= 4096 * 4096)
                m_thumbnail = reader.read();
            break;
        }
        case PropertyTagThumbnailOrientation:
            if (!value.isEmpty()) m_thumbnailOrientation = quint8(value.at(0));
            thumbnailOrientationSeen = true;
            break;
        case PropertyTagExifPixXDim:
            if (value.size() >= 2)
                m_originalSize.setWidth(quint8(value.at(1)) * 256 + quint8(value.at(0)));
            break;
        case PropertyTagExifPixYDim:
            if (value.size() >= 2)
                m_originalSize.setHeight(quint8(value.at(1)) * 256 + quint8(value.at(0)));
            break;
        default:
            break;
        }
        if (item.id != PropertyTagThumbnailOrientation && !thumbnailOrientationSeen)
            m_thumbnailOrientation = m_orientation;
    }
    if (!orientationSeen) {
        if (const quint8 stated = rawOrientation(path, *m_imageFormats)) m_orientation = stated;
    }
    return true;
}

bool ImageWrapper::ready() const
{
    return m_ready.load();
}

ImageStatus ImageWrapper::status() const
{
    return ImageStatus(m_status.load());
}

void ImageWrapper::setStatus(ImageStatus status)
{
    m_status.exchange(status);
}

ImageOpenRef ImageWrapper::openRef() const
{
    return ImageOpenRef(m_openRef.load());
}

void ImageWrapper::setOpenRef(ImageOpenRef ref)
{
    m_openRef.exchange(ref);
}

QString ImageWrapper::name() const
{
    return m_name;
}

QString ImageWrapper::path() const
{
    return m_directory ? m_directory->path() : QString();
}

QString ImageWrapper::pathName() const
{
    return m_directory ? m_directory->pathName(m_name) : QString();
}

QString ImageWrapper::normalizedPathName() const
{
    return m_normalizedPathName;
}

int ImageWrapper::index() const
{
    return m_directory ? m_directory->indexOf(m_name) : -1;
}

QSharedPointer<ImageDirectory> ImageWrapper::directory() const
{
    return m_directory;
}

ImageFormat *ImageWrapper::format() const
{
    return m_format;
}

ImageFormats *ImageWrapper::imgFormat() const
{
    return m_imageFormats;
}

QSize ImageWrapper::imageSize(int frame) const
{
    if (m_isClipMode.load()) return m_originalSize;
    return m_backEnd ? m_backEnd->imageSize(frame) : QSize();
}

QSize ImageWrapper::originalSize() const
{
    return m_originalSize;
}

int ImageWrapper::frameCount() const
{
    return m_backEnd ? m_backEnd->frameCount() : 0;
}

int ImageWrapper::delay(int frame) const
{
    return m_backEnd ? m_backEnd->delay(frame) : 0;
}

bool ImageWrapper::isAnimation() const
{
    return m_backEnd ? m_backEnd->isAnimation() : false;
}

QImage ImageWrapper::imageAt(int frame, int width, int height) const
{
    return m_backEnd ? m_backEnd->imageAt(frame, width, height) : QImage();
}

QPixmap ImageWrapper::pixmapAt(int frame, int width, int height) const
{
    return m_backEnd ? m_backEnd->pixmapAt(frame, width, height) : QPixmap();
}

bool ImageWrapper::hasAlpha(int frame) const
{
    // The GIF back-end answers from its palette.
    if (m_format->id == FormatGif && backEndKindOf(m_backEnd) == BackEndGif)
        return gifHasAlpha(m_backEnd);
    if (frame < 0) return true;
    return imageAt(frame, 0, 0).hasAlphaChannel();
}

bool ImageWrapper::hasThumbnail() const
{
    return !m_thumbnail.isNull();
}

QImage ImageWrapper::thumbnail() const
{
    return m_thumbnail;
}

long ImageWrapper::orientation() const
{
    return m_orientation;
}

long ImageWrapper::thumbnailOrientation() const
{
    return m_thumbnailOrientation;
}

QDateTime ImageWrapper::timeStamp() const
{
    return m_timeStamp;
}

bool ImageWrapper::dirty() const
{
    return m_dirty;
}

bool ImageWrapper::isDirty() const
{
    return m_dirty;
}

void ImageWrapper::setDirty(bool dirty)
{
    m_dirty = dirty;
}

bool ImageWrapper::isClipMode() const
{
    return m_isClipMode.load();
}

void ImageWrapper::enableClipMode(bool enable)
{
    m_clipAllowed = enable;
}

void ImageWrapper::setDecodeBox(const QSize &box)
{
    m_decodeBox = box;
}

QSize ImageWrapper::decodeBox() const
{
    return m_decodeBox;
}

QSize ImageWrapper::fitInto(const QSize &size, const QSize &box)
{
    if (size.isEmpty() || box.isEmpty()) return size;
    const double scale =
        qMin(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(qMax(1, qRound(size.width() * scale)), qMax(1, qRound(size.height() * scale)));
}

ImageBackEndKind ImageWrapper::backEndKind() const
{
    return backEndKindOf(m_backEnd);
}

ImageBase *ImageWrapper::backEnd() const
{
    return m_backEnd;
}

QVector<platform::PropertyItem> ImageWrapper::exifItems() const
{
    return m_exifItems;
}

void ImageWrapper::paint(QPainter *painter, int frame, const QRect &target, const QRect &visible,
                         double scale, RenderCache *cache)
{
    if (m_backEnd) m_backEnd->paint(painter, frame, target, visible, scale, cache);
}

void ImageWrapper::paintCache(QImage &out, int frame, QRect target, long orientation, QSize view)
{
    if (m_backEnd) m_backEnd->paintCache(out, frame, target, orientation, view);
}

void ImageWrapper::translateByExif(QPainter *painter, int &width, int &height, int orientation)
{
    if (orientation >= 5 && orientation <= 8) qSwap(width, height);
    const qreal w = width;
    const qreal h = height;
    switch (orientation) {
    case 2:
        painter->scale(-1, 1);
        painter->translate(-w, 0);
        break;
    case 3:
        painter->rotate(180);
        painter->translate(-w, -h);
        break;
    case 4:
        painter->rotate(180);
        painter->scale(-1, 1);
        painter->translate(0, -h);
        break;
    case 5:
        painter->rotate(90);
        painter->scale(1, -1);
        break;
    case 6:
        painter->rotate(90);
        painter->translate(0, -h);
        break;
    case 7:
        painter->rotate(270);
        painter->scale(1, -1);
        painter->translate(-w, -h);
        break;
    case 8:
        painter->rotate(270);
        painter->translate(-w, 0);
        break;
    default:
        break;
    }
}
