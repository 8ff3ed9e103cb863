#include "image/ImagePixmap.h"

#include "formats/ImageFormats.h"
#include "image/BackEndFactory.h"
#include "image/ImageGifSvgShared.h"
#include "image/ImageWrapper.h"
#include "image/RenderCache.h"
#include "platform/FittedDecode.h"
#include "platform/FrameDecoder.h"
#include "platform/PictureReaders.h"
#include "platform/ScreenMetrics.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <cstring>
#include <mutex>

namespace {

// What Qt's readers decode, one picture or all frames together, stays below this many
// pixels, so neither a size read from a file nor thousands of frames exhaust memory.
constexpr qint64 MaxTotalPixels = 2 * ImagePixmap::ClipPixels;
// A frame list longer than this is not read further.
constexpr int MaxFrames = 10000;

bool isDecoderRow(int id)
{
    return id == FormatBmp || id == FormatJpg || id == FormatPng || id == FormatTif ||
           id == FormatXmind;
}

qint64 pixels(const QSize &size)
{
    return qint64(size.width()) * size.height();
}

// The circular distance between two pages of a list of `count`.
int pageDistance(int a, int b, int count)
{
    const int d = qAbs(a - b);
    return qMin(d, count - d);
}

} // namespace

ImagePixmap::ImagePixmap(ImageWrapper *owner, bool clipAllowed)
    : ImageBase(owner), m_clipAllowed(clipAllowed)
{
}

ImagePixmap::~ImagePixmap() = default;

bool ImagePixmap::load(const ImageFormat *row)
{
    if (!row) return false;
    // A JPEG fitted into a decode box is read reduced by its codec, which the frame decoder
    // does not do.
    const bool boxed = ImageFormats::isJpegFormat(row->id) && owner()->decodeBox().isValid();
    if (isDecoderRow(row->id) && !boxed && loadWithDecoder(row)) return true;
    // What the decoder path held is dropped; the readers start afresh.
    dropFrames();
    const bool read = loadWithReader(row);
    if (read || !boxed || !isDecoderRow(row->id)) return read;
    // A JPEG Qt's reader refuses may still be one the frame decoder reads whole.
    dropFrames();
    return loadWithDecoder(row);
}

void ImagePixmap::dropFrames()
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    m_frames.clear();
    m_delays.clear();
    m_lazy = false;
    m_sources.reset();
    m_sourceSizes.clear();
}

bool ImagePixmap::loadWithDecoder(const ImageFormat *row)
{
    QScopedPointer<platform::FrameDecoder> decoder(new platform::FrameDecoder);
    const bool opened = row->id == FormatXmind ? decoder->open(xmindThumbnail(pathName()))
                                               : decoder->open(pathName());
    if (!opened) return false;
    const int count = decoder->frameCount();
    const bool lazy = row->id == FormatTif && count > LazyPageThreshold;
    bool lastOk = false;
    bool any = false;
    // Lazy pages keep their place in the list even when they fail, so that page n is always
    // the decoder's page n; a failed page stays null and shows the checkerboard.
    auto keepPlace = [&](int n, const QSize &size) {
        std::lock_guard<std::mutex> locker(m_framesMutex);
        m_lazy = true;
        m_sourceSizes.resize(n + 1);
        m_sourceSizes[n] = size;
        m_frames.append(QImage());
    };
    for (int n = 0; n < count; ++n) {
        const QSize size = decoder->frameSize(n);
        lastOk = false;
        if (!size.isValid() || pixels(size) > ClipPixels) {
            if (lazy) keepPlace(n, QSize());
            continue;
        }
        setOriginalSize(size);
        if (lazy && n > LazyKeepDistance) {
            keepPlace(n, size);
            lastOk = true;
            continue;
        }
        const QImage image = decoder->decodeFrame(n);
        if (image.isNull()) {
            if (lazy) keepPlace(n, size);
            continue;
        }
        if (lazy) keepPlace(n, size);
        {
            std::lock_guard<std::mutex> locker(m_framesMutex);
            if (lazy)
                m_frames.last() = image;
            else
                m_frames.append(image);
        }
        setFormatRow(const_cast<ImageFormat *>(row));
        setReady(true);
        lastOk = true;
        any = true;
    }
    if (!(lastOk && count >= 1)) return false;
    if (m_lazy) {
        std::lock_guard<std::mutex> locker(m_framesMutex);
        m_sourceSizes.resize(count);
        m_sources.reset(decoder.take());
    }
    if (ImageFormats::isJpegFormat(row->id)) readJfifDensity();
    return any;
}

bool ImagePixmap::loadWithReader(const ImageFormat *row)
{
    QImageReader reader(pathName(), QByteArray());
    reader.setAutoTransform(false);
    const bool raw = ImageFormats::isRawFormat(row->id);
    const ImageFormat *current = row;
    if (!raw) {
        // Raw files go to the reader of their suffix; others to the reader chosen for them.
        if (!platform::pictureReaders::prepare(reader, QFileInfo(pathName()).suffix()))
            return false;
        current = formatTable()->formatForSuffix(
            QString::fromLatin1(platform::pictureReaders::formatName(reader.format())));
        setFormatRow(const_cast<ImageFormat *>(current));
        if (current->id == FormatUnknown) return false;
    }

    const QSize size = reader.size();
    setOriginalSize(size);
    // A header claiming far more pixels than the file's data can hold is not decoded.
    const QByteArray name = platform::pictureReaders::formatName(reader.format());
    if (!platform::FrameDecoder::dataCanHold(name, size, QFileInfo(pathName()).size(),
                                             name == "png" ? reader.imageFormat()
                                                           : QImage::Format_Invalid))
        return false;
    QSize decodeSize = size;
    bool fitted = false;
    const QSize box = owner()->decodeBox();
    if (box.isValid() && !raw && !(current->flags & FormatMultiFrame) && size.isValid()) {
        // The box is in upright pixels; the decode in stored ones.
        const bool turned = orientation() >= 5 && orientation() <= 8;
        const QSize upright = turned ? size.transposed() : size;
        QSize inBox = ImageWrapper::fitInto(upright, box);
        if (turned) inBox.transpose();
        if (inBox.width() < size.width() && inBox.height() < size.height()) {
            decodeSize = inBox;
            fitted = true;
        }
    }
    if (!fitted && m_clipAllowed && pixels(size) > ClipPixels &&
        (current->flags & FormatScaledDecode)) {
        // Fit into the screen keeping the aspect ratio; tiles show the rest when zoomed in.
        const QSize screen = platform::primaryScreenSize();
        const qint64 w = size.width(), h = size.height();
        const qint64 sw = screen.width(), sh = screen.height();
        if (w * sh > sw * h)
            decodeSize = QSize(int(sw), int(qMax<qint64>(1, h * sw / w)));
        else
            decodeSize = QSize(int(qMax<qint64>(1, w * sh / h)), int(sh));
        fitted = true;
        setClipMode(true);
    }
    // A picture whose size cannot be read, or that is too large to hold, is not decoded.
    if (!decodeSize.isValid() || pixels(decodeSize) > MaxTotalPixels) return false;

    bool success = false;
    qint64 total = 0;
    if (current->flags & FormatMultiFrame) {
        m_animated = true;
        if (fitted) reader.setScaledSize(decodeSize);
        if (current->id == FormatGif || current->id == FormatWebp) {
            while (reader.canRead() && m_frames.size() < MaxFrames) {
                QImage image;
                if (!reader.read(&image)) break;
                if (!image.isNull()) {
                    total += pixels(image.size());
                    if (total > MaxTotalPixels) break;
                    std::lock_guard<std::mutex> locker(m_framesMutex);
                    m_frames.append(image);
                    m_delays.append(reader.nextImageDelay());
                }
                if (reader.currentImageNumber() >= reader.imageCount() - 1) break;
            }
            success = !m_frames.isEmpty();
        }
    } else {
        // Readers count their pages while they still stand at the start of the file (TIFF
        // cannot once a page was read), so the count is asked for first.
        reader.imageCount();
        if (fitted) {
            // One picture at screen size, decoded reduced and made smaller in place: the
            // picture's full size is never held, nor two pictures at once.
            const QImage image = platform::decodeFitted(reader, size, decodeSize);
            if (!image.isNull()) {
                std::lock_guard<std::mutex> locker(m_framesMutex);
                m_frames.append(image);
            }
        }
        while (!fitted) {
            if (!m_frames.isEmpty()) {
                // Later pages are checked before they are decoded, as the first was.
                const QSize next = reader.size();
                if (!next.isValid() || total + pixels(next) > MaxTotalPixels) break;
            }
            QImage image;
            if (!reader.read(&image)) break;
            if (!image.isNull()) {
                total += pixels(image.size());
                std::lock_guard<std::mutex> locker(m_framesMutex);
                m_frames.append(image);
            }
            if (m_frames.size() >= MaxFrames || !reader.jumpToNextImage()) break;
        }
        success = !m_frames.isEmpty();
        if (ImageFormats::isJpegFormat(current->id)) readJfifDensity();
    }
    setReady(true);
    return success;
}

// The density of a JFIF file's APP0 segment, which a written copy keeps. Files without one
// (an EXIF segment first, for instance) have nothing there to keep.
void ImagePixmap::readJfifDensity()
{
    QFile file(pathName());
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray head = file.read(18);
    if (head.size() < 18) return;
    const auto *b = reinterpret_cast<const uchar *>(head.constData());
    if (b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF || b[3] != 0xE0) return;
    if (std::memcmp(b + 6, "JFIF\0", 5) != 0) return;
    m_jfifPresent = true;
    m_jfifUnits = b[13];
    m_jfifXDensity = quint16(b[14] << 8 | b[15]);
    m_jfifYDensity = quint16(b[16] << 8 | b[17]);
}

void ImagePixmap::ensureFrame(int n)
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    if (!m_lazy || n < 0 || n >= m_frames.size()) return;
    if (m_frames.at(n).isNull() && m_sources) m_frames[n] = m_sources->decodeFrame(n);
    // Only the pages near the current one stay decoded, however the viewer jumps.
    const int count = m_frames.size();
    for (int i = 0; i < count; ++i) {
        if (pageDistance(i, n, count) > LazyKeepDistance && !m_frames.at(i).isNull())
            m_frames[i] = QImage();
    }
}

QImage ImagePixmap::frame(int n) const
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    return m_frames.value(n);
}

int ImagePixmap::decodedFrameCount() const
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    int decoded = 0;
    for (const QImage &image : m_frames)
        decoded += image.isNull() ? 0 : 1;
    return decoded;
}

bool ImagePixmap::appendFrame(const uchar *bits, int width, int height, int byteCount)
{
    if (width <= 0 || height <= 0 || pixels(QSize(width, height)) > ClipPixels) return false;
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return false;
    const qint64 capacity = qint64(width) * height * 4;
    if (bits && byteCount >= 0 && byteCount <= capacity) {
        image.fill(0);
        std::memcpy(image.bits(), bits, size_t(byteCount));
    } else {
        image.fill(0);
    }
    std::lock_guard<std::mutex> locker(m_framesMutex);
    m_frames.append(image);
    return true;
}

QSize ImagePixmap::imageSize(int n) const
{
    QSize size;
    {
        std::lock_guard<std::mutex> locker(m_framesMutex);
        if (n < 0 || n >= m_frames.size())
            size = originalSize();
        else if (m_lazy && m_frames.at(n).isNull())
            size = m_sourceSizes.value(n);
        else
            size = m_frames.at(n).size();
    }
    const int o = orientation();
    return o >= 5 && o <= 8 ? size.transposed() : size;
}

int ImagePixmap::frameCount() const
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    return m_frames.size();
}

int ImagePixmap::orientationAngle() const
{
    return quarterTurnAngle(orientation());
}

QImage ImagePixmap::imageAt(int n, int, int)
{
    if (n < 0 || n >= frameCount()) return {};
    ensureFrame(n);
    return turnQuarter(frame(n), orientationAngle());
}

QPixmap ImagePixmap::pixmapAt(int n, int width, int height)
{
    const QImage image = imageAt(n, width, height);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

bool ImagePixmap::canRotate(bool withSaving) const
{
    if (ImageFormats::isTiffFormat(formatRow()->id) && frameCount() > 1) return false;
    return withSaving ? (formatRow()->flags & FormatCanSave) != 0 : true;
}

bool ImagePixmap::canDelete() const
{
    return true;
}

bool ImagePixmap::isAnimation() const
{
    return m_animated;
}

int ImagePixmap::delay(int n) const
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    const int value = n >= 0 && n < m_delays.size() ? m_delays.at(n) : 0;
    return value < 1 ? 100 : value;
}

QImage ImagePixmap::checkerTile(int square)
{
    square = qMax(1, square);
    QImage tile(square * 4, square * 4, QImage::Format_RGB32);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            const QRgb colour = (row + col) % 2 == 0 ? qRgb(229, 229, 229) : qRgb(197, 197, 197);
            for (int y = row * square; y < (row + 1) * square; ++y) {
                auto *line = reinterpret_cast<QRgb *>(tile.scanLine(y));
                for (int x = col * square; x < (col + 1) * square; ++x)
                    line[x] = colour;
            }
        }
    }
    return tile;
}

QBrush ImagePixmap::checkerBrush()
{
    if (!m_checkerReady) {
        // The tile itself is the texture: the brush repeats it seamlessly, where a larger
        // texture only repeats cleanly when its side is a multiple of the tile's (not so at
        // every DPI) and costs megabytes per picture.
        m_checkerBrush = QBrush(QPixmap::fromImage(checkerTile(qRound(platform::dpiScaled(8)))));
        m_checkerReady = true;
    }
    return m_checkerBrush;
}

void ImagePixmap::paintPlaceholder(QPainter *painter, const QRect &target)
{
    const QImage thumb = thumbnail();
    if (thumb.isNull()) return;
    painter->save();
    painter->translate(target.topLeft());
    int width = target.width();
    int height = target.height();
    translateByExif(painter, width, height, thumbnailOrientation());
    painter->fillRect(QRect(0, 0, width, height), checkerBrush());
    // The thumbnail centre-cropped to the target's aspect ratio.
    const qint64 w = thumb.width(), h = thumb.height();
    QRect source = thumb.rect();
    if (width > 0 && height > 0) {
        if (h * width > w * height) {
            const int band = int(qint64(height) * w / width);
            source = QRect(0, int((h - band) / 2), int(w), band);
        } else {
            const int band = int(qint64(width) * h / height);
            source = QRect(int((w - band) / 2), 0, band, int(h));
        }
    }
    painter->drawImage(QRect(0, 0, width, height), thumb, source);
    painter->restore();
}

void ImagePixmap::paint(QPainter *painter, int n, const QRect &target, const QRect &visible,
                        double scale, RenderCache *cache)
{
    if (!painter) return;
    if (n < 0 || n >= frameCount()) {
        // Not decoded yet: the EXIF thumbnail stands in.
        paintPlaceholder(painter, target);
        return;
    }
    ensureFrame(n);
    const QImage picture = frame(n);
    if (isClipMode() && originalSize().width() > 0 &&
        double(picture.width()) / originalSize().width() < scale &&
        paintClip(painter, picture, target, visible, scale))
        return;
    if (status() != ImageStatusReady) {
        const QImage thumb = thumbnail();
        painter->fillRect(thumb.rect(), checkerBrush());
        painter->drawImage(0, 0, thumb);
        return;
    }
    painter->save();
    if (scale < 1 && !m_animated && !isClipMode() && cache) {
        painter->fillRect(target.intersected(visible), checkerBrush());
        if (cache->draw(painter, target, visible.size(), orientation(), n)) {
            painter->restore();
            return;
        }
    }
    painter->translate(target.topLeft());
    int width = target.width();
    int height = target.height();
    translateByExif(painter, width, height, orientation());
    painter->fillRect(QRect(0, 0, width, height), checkerBrush());
    painter->drawImage(QRect(0, 0, width, height), picture);
    painter->restore();
}

void ImagePixmap::paintCache(QImage &out, int n, QRect target, long, QSize view)
{
    out = QImage();
    if (n < 0 || n >= frameCount() || target.isEmpty()) return;
    ensureFrame(n);
    const QImage picture = frame(n);
    const QSize shown = imageSize(n);
    if (picture.isNull() || shown.isEmpty()) return;
    const int angle = orientationAngle();
    const bool quarter = angle == 90 || angle == -90;
    const double s = double(target.width()) / shown.width();
    const QRect visibleT =
        target.intersected(QRect(QPoint(0, 0), view)).translated(-target.topLeft());
    if (visibleT.isEmpty()) return;

    const double shownArea = shown.width() * s * shown.height() * s;
    if (double(visibleT.width()) * visibleT.height() / shownArea > 0.5) {
        const QSize size = quarter ? target.size().transposed() : target.size();
        const QImage scaled = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        out = turnQuarter(scaled, angle).copy(visibleT);
        return;
    }
    // Only the visible part is scaled: map it back onto the unturned picture.
    const int tw = target.width(), th = target.height();
    QRect r;
    switch (angle) {
    case 180:
        r = QRect(tw - visibleT.x() - visibleT.width(), th - visibleT.y() - visibleT.height(),
                  visibleT.width(), visibleT.height());
        break;
    case 90:
        r = QRect(visibleT.y(), tw - visibleT.x() - visibleT.width(), visibleT.height(),
                  visibleT.width());
        break;
    case -90:
        r = QRect(th - visibleT.y() - visibleT.height(), visibleT.x(), visibleT.height(),
                  visibleT.width());
        break;
    default:
        r = visibleT;
        break;
    }
    const QRect region =
        QRect(int(r.x() / s), int(r.y() / s), int(r.width() / s), int(r.height() / s))
            .intersected(picture.rect());
    if (region.isEmpty()) return;
    const QImage piece =
        picture.copy(region).scaled(r.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    out = turnQuarter(piece, angle);
}

QImage ImagePixmap::turnQuarter(const QImage &image, int angle)
{
    angle = ((angle % 360) + 360) % 360;
    if (angle == 0 || image.isNull()) return image;
    const int depth = image.depth();
    if (depth < 8 || depth % 8 != 0) return image.transformed(QTransform().rotate(angle));
    const int bpp = depth / 8;
    const int w = image.width(), h = image.height();
    QImage out(angle == 180 ? QSize(w, h) : QSize(h, w), image.format());
    if (out.isNull()) return {};
    out.setColorTable(image.colorTable());
    out.setDotsPerMeterX(angle == 180 ? image.dotsPerMeterX() : image.dotsPerMeterY());
    out.setDotsPerMeterY(angle == 180 ? image.dotsPerMeterY() : image.dotsPerMeterX());
    const int ow = out.width(), oh = out.height();
    for (int y = 0; y < oh; ++y) {
        uchar *dst = out.scanLine(y);
        if (bpp == 4) {
            auto *line = reinterpret_cast<quint32 *>(dst);
            for (int x = 0; x < ow; ++x) {
                int sx, sy;
                if (angle == 90) {
                    sx = y;
                    sy = h - 1 - x;
                } else if (angle == 270) {
                    sx = w - 1 - y;
                    sy = x;
                } else {
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                }
                line[x] = reinterpret_cast<const quint32 *>(image.constScanLine(sy))[sx];
            }
        } else {
            for (int x = 0; x < ow; ++x) {
                int sx, sy;
                if (angle == 90) {
                    sx = y;
                    sy = h - 1 - x;
                } else if (angle == 270) {
                    sx = w - 1 - y;
                    sy = x;
                } else {
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                }
                std::memcpy(dst + x * bpp, image.constScanLine(sy) + sx * bpp, size_t(bpp));
            }
        }
    }
    return out;
}

bool ImagePixmap::crop(const QRect &rect)
{
    const QRect r = rect.intersected(QRect(QPoint(0, 0), imageSize(0)));
    std::lock_guard<std::mutex> locker(m_framesMutex);
    if (!r.isValid() || m_frames.isEmpty()) return false;
    m_frames[0] = m_frames.at(0).copy(r);
    return true;
}

bool ImagePixmap::resize(int width, int height, Qt::TransformationMode mode)
{
    if (width <= 0 && height <= 0) return false;
    std::lock_guard<std::mutex> locker(m_framesMutex);
    for (QImage &image : m_frames) {
        if (width > 0 && height > 0)
            image = image.scaled(width, height, Qt::IgnoreAspectRatio, mode);
        else if (width > 0)
            image = image.scaledToWidth(width, mode);
        else
            image = image.scaledToHeight(height, mode);
    }
    return true;
}

void ImagePixmap::setImage(const QImage &image)
{
    std::lock_guard<std::mutex> locker(m_framesMutex);
    m_frames = {image};
}
