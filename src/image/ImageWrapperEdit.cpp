#include "image/ImageWrapper.h"

#include "formats/ExifItems.h"
#include "formats/PictureWriter.h"
#include "image/ImageBase.h"
#include "image/ImageDirectory.h"
#include "image/ImagePixmap.h"
#include "image/Orientation.h"
#include "image/PictureAlpha.h"
#include "platform/PropertyCopy.h"
#include "platform/StagedFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>

// Editing and saving an opened picture.

namespace {

// The orientation after a quarter turn. Turning what the viewer shows: for the mirrored
// values (2, 4, 5, 7) a clockwise turn of the picture on screen is the counter-clockwise
// step of the plain values' cycle.
int nextOrientation(int from, bool clockwise)
{
    switch (from) {
    case 2:
        return clockwise ? 7 : 5;
    case 3:
        return clockwise ? 8 : 6;
    case 4:
        return clockwise ? 5 : 7;
    case 5:
        return clockwise ? 2 : 4;
    case 6:
        return clockwise ? 3 : 1;
    case 7:
        return clockwise ? 4 : 2;
    case 8:
        return clockwise ? 1 : 3;
    default:
        return clockwise ? 6 : 8;
    }
}

// The row of the suffix after the last "." of the file name; null when there is none.
const ImageFormat *rowForPath(const ImageFormats *table, const QString &path)
{
    const QString fileName = QFileInfo(path).fileName();
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return nullptr;
    const ImageFormat *row = table->formatForSuffix(fileName.mid(dot + 1));
    return row && row->id != FormatUnknown ? row : nullptr;
}

bool samePath(const QString &a, const QString &b)
{
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// Scales (w, h) to fit the limits, keeping the aspect ratio and never enlarging; a limit of
// 0 or less is none. Integer arithmetic throughout, as the viewer's export dialog computes it.
QSize fitForExport(qint64 w, qint64 h, qint64 maxWidth, qint64 maxHeight)
{
    if (maxWidth <= 0) {
        if (maxHeight > 0 && maxHeight < h) {
            w = w * maxHeight / h;
            h = maxHeight;
        }
    } else if (maxHeight > 0) {
        if (maxHeight < h) {
            const qint64 w2 = w * maxHeight / h;
            if (maxWidth < w2) {
                h = h * maxWidth / w;
                w = maxWidth;
            } else {
                h = maxHeight;
                w = w2;
            }
        } else if (maxWidth < w) {
            if (maxHeight < h * maxWidth / w) {
                w = w * maxHeight / h;
                h = maxHeight;
            } else {
                h = h * maxWidth / w;
                w = maxWidth;
            }
        }
    } else if (maxWidth < w) {
        h = h * maxWidth / w;
        w = maxWidth;
    }
    // A very long, thin picture must not become zero pixels wide.
    return QSize(int(qMax<qint64>(1, w)), int(qMax<qint64>(1, h)));
}

// The orientation that shows the picture mirrored left to right (`horizontal`) or top to
// bottom, from the one that shows it as it was.
int mirroredOrientation(int from, bool horizontal)
{
    static const int leftRight[9] = {2, 2, 1, 4, 3, 6, 5, 8, 7};
    static const int topBottom[9] = {4, 4, 3, 2, 1, 8, 7, 6, 5};
    const int index = from >= 1 && from <= 8 ? from : 0;
    return horizontal ? leftRight[index] : topBottom[index];
}

} // namespace

bool ImageWrapper::canRotate(bool withSaving) const
{
    if (m_isClipMode.load() || !m_backEnd) return false;
    return m_backEnd->canRotate(withSaving);
}

// Crop and resize take the picture as it is shown; a pending turn goes into the pixels
// first, or the rectangle and the size would apply to the picture lying on its side.
static void bakePendingTurn(ImageBase *backEnd)
{
    if (auto *raster = dynamic_cast<ImagePixmap *>(backEnd)) raster->bakeOrientation();
}

bool ImageWrapper::crop(const QRect &rect)
{
    if (!m_backEnd) return false;
    bakePendingTurn(m_backEnd);
    if (!m_backEnd->crop(rect)) return false;
    m_originalSize = m_backEnd->imageSize(0);
    m_dirty = true;
    return true;
}

void ImageWrapper::resize(int width, int height, Qt::TransformationMode mode)
{
    if (!m_backEnd) return;
    bakePendingTurn(m_backEnd);
    if (!m_backEnd->resize(width, height, mode)) return;
    // With one side given the other follows the aspect ratio: the size is the frame's.
    m_originalSize = width > 0 && height > 0 ? QSize(width, height) : m_backEnd->imageSize(0);
    m_dirty = true;
}

void ImageWrapper::setImage(const QImage &image)
{
    if (m_backEnd) m_backEnd->setImage(image);
}

// The raster back-end's imageAt turns by the orientation's angle only; the mirrored values
// need the mirror as well.
QImage ImageWrapper::uprightImage(int frame) const
{
    const QImage image = imageAt(frame, 0, 0);
    if (backEndKind() == BackEndRaster && isMirroringOrientation(orientation()))
        return image.mirrored(true, false);
    return image;
}

bool ImageWrapper::convertImageFormat(const ImageFormat *row, const QString &path)
{
    return m_backEnd ? m_backEnd->convertImageFormat(row, path) : false;
}

bool ImageWrapper::canDelete() const
{
    return !pathName().isEmpty() && m_backEnd && m_backEnd->canDelete();
}

bool ImageWrapper::copyFile(const QString &path, bool overwrite)
{
    const QString source = pathName();
    if (source.isEmpty() || path.isEmpty()) return false;
    const QFileInfo target(path);
    if (target.exists() && !overwrite) return false;
    if (!target.exists()) return QFile::copy(source, path);
    // Replacing: the copy is staged beside the target and put in its place once it is on
    // disk, so a failed copy or a crash leaves the target as it was.
    platform::StagedFile staged(path);
    if (!staged.isValid()) return false;
    QFile in(source), out(staged.stagingPath());
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) return false;
    }
    out.close();
    if (out.error() != QFileDevice::NoError || !staged.commit()) return false;
    // A copy carries its source's permissions, as a fresh copy does.
    QFile::setPermissions(path, QFile::permissions(source));
    return true;
}

void ImageWrapper::_rotate(bool clockwise)
{
    m_originalSize.transpose();
    m_orientation = nextOrientation(m_orientation, clockwise);
    if (!m_thumbnail.isNull())
        m_thumbnailOrientation = nextOrientation(m_thumbnailOrientation, clockwise);
}

bool ImageWrapper::rotate(bool clockwise, QString &path, SaveType type)
{
    if (type != SaveToPath) path.clear();
    // The caller's path names the file written, or is empty after every failure.
    const auto fail = [&path] {
        path.clear();
        return false;
    };
    if (frameCount() <= 0) return fail();
    _rotate(clockwise);
    m_dirty = true;
    if (type == SaveNone || !(m_format->flags & FormatCanSave)) return fail();
    if (type == SaveOverwrite) {
        if (!save()) return fail();
        m_orientation = 1;
        m_dirty = false;
        return true;
    }
    const QString target = type == SaveRotateCopy ? createRotatePathName() : path;
    if (target.isEmpty() || !saveAs(target, true)) return fail();
    path = target;
    m_orientation = 1;
    m_dirty = false;
    return true;
}

QString ImageWrapper::createRotatePathName()
{
    const QString tag = tr(" - Rotate (%1)");
    const QRegularExpression pattern(tr(" - Rotate \\([0-9]+\\)"));
    const QFileInfo info(pathName());
    if (info.fileName().isEmpty()) return {};
    // Only the file's own name loses its old tags; a folder may be called anything.
    QString name = info.fileName();
    if (pattern.isValid()) name.remove(pattern);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString folder = info.path() + QLatin1Char('/');
    // Far more copies than anyone makes; past that, no name is offered.
    for (int n = 1; n < 100000; ++n) {
        QString candidate = name;
        const QString numbered = tag.arg(n);
        if (dot < 0)
            candidate += numbered;
        else
            candidate.insert(dot, numbered);
        candidate.prepend(folder);
        if (!QFileInfo::exists(candidate)) return candidate;
    }
    return {};
}

bool ImageWrapper::writeMirrored(const QString &path, bool horizontal)
{
    const ImageFormat *row = m_format;
    if (!row || !(row->flags & FormatCanSave) || path.isEmpty()) return false;
    QImage image = uprightImage(0);
    if (image.isNull()) return false;
    image = std::move(image).mirrored(horizontal, !horizontal);
    if (row->id == FormatBmp || ImageFormats::isJpegFormat(row->id))
        image = flattenOntoWhite(image);

    // Written beside the target and put in its place when whole, metadata included: a flip
    // in place that failed half-way would lose the user's photo.
    platform::StagedFile staged(path);
    if (!staged.isValid()) return false;
    const QString temporary = staged.stagingPath();
    bool written;
    if (row->id == FormatBmp || row->id == FormatPng || row->id == FormatTif) {
        written = saveWithWic(image, row->id, temporary);
    } else {
        QByteArray bytes;
        written = platform::encodeImage(image, row->suffixes.value(0).toLatin1().constData(), 100,
                                        &bytes) &&
                  platform::writeWholeFile(temporary, bytes);
    }
    if (!written) return false;
    if (!m_exifItems.isEmpty() && (row->flags & FormatHasExif)) {
        // The camera's items stay with the photo. The pixels are now upright and mirrored;
        // the embedded thumbnail is not, so its orientation takes the mirror.
        platform::copyExifData(pathName(), temporary, image.size());
        _rotateExif(row, temporary, 1, mirroredOrientation(thumbnailOrientation(), horizontal));
    }
    return staged.commit();
}

bool ImageWrapper::horizonFlip(const QString &path)
{
    return writeMirrored(path, true);
}

bool ImageWrapper::verticalFlip(const QString &path)
{
    return writeMirrored(path, false);
}

bool ImageWrapper::save()
{
    if (!m_backEnd) return false;
    if (!m_dirty) return true;
    if (frameCount() != 1) return false;
    return m_backEnd->save(m_format, pathName(), true);
}

bool ImageWrapper::save(const QString &path)
{
    const ImageFormat *row = rowForPath(m_imageFormats, path);
    if (!row || !m_backEnd) return false;
    return m_backEnd->save(row, path, true);
}

bool ImageWrapper::save(QString path, int maxWidth, int maxHeight, int quality,
                        ImageFormatEnum format)
{
    const ImageFormat *row = m_imageFormats->formatForId(format);
    if (!row || row->id == FormatUnknown || !(row->flags & FormatCanSave) || path.isEmpty())
        return false;
    const QSize size = imageSize(0);
    if (size.isEmpty()) return false;
    const QSize fitted = fitForExport(size.width(), size.height(), maxWidth, maxHeight);
    // A vector picture is drawn at the size wanted rather than reduced from its own.
    QImage picture = backEndKind() == BackEndMetafile ? imageAt(0, fitted.width(), fitted.height())
                                                      : uprightImage(0);
    if (picture.isNull()) return false;
    if (fitted != picture.size())
        picture = picture.scaled(fitted, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // Containers without alpha show transparent parts white, as every other write does.
    // An opaque picture (every decoded JPEG) is already what the flattening would draw: its
    // premultiplied pixels read 0xffRRGGBB, so it is only relabelled, without a painter pass
    // over a second copy.
    if (row->id == FormatBmp || ImageFormats::isJpegFormat(row->id)) {
        if (picture.format() == QImage::Format_ARGB32_Premultiplied && isOpaque(picture))
            picture.reinterpretAsFormat(QImage::Format_RGB32);
        else if (picture.hasAlphaChannel() || picture.format() != QImage::Format_RGB32)
            picture = flattenOntoWhite(picture);
    }
    return platform::saveImageAtomically(picture, path,
                                         row->suffixes.value(0).toLatin1().constData(), quality);
}

bool ImageWrapper::saveAs(const QString &path, bool)
{
    const ImageFormat *row = rowForPath(m_imageFormats, path);
    if (row && row->id == m_format->id && !m_dirty) {
        if (samePath(path, pathName())) return true;
        // The file's bytes are the picture; an existing file is not replaced.
        return QFile::copy(pathName(), path);
    }
    if (!row || !(row->flags & FormatCanSave) || frameCount() != 1 || !m_backEnd) return false;
    if (!m_backEnd->save(row, path, true)) return false;
    m_dirty = false;
    return true;
}

void ImageWrapper::_rotateExif(const ImageFormat *row, const QString &path, long orientation,
                               long thumbnailOrientation)
{
    if (!row) return;
    const QString mime = encoderMimeForFormat(row->id);
    QUuid encoder;
    if (mime.isEmpty() || !encoderClsidForMime(mime, &encoder)) return;

    // An item the file had keeps its identifier and type; a missing one (or one of a type
    // that cannot hold the value) is added as one 32-bit signed value.
    const auto item = [this](quint32 id, long value) {
        platform::PropertyItem out;
        out.id = id;
        out.type = PropertyTagTypeSLONG;
        for (const platform::PropertyItem &had : qAsConst(m_exifItems)) {
            if (had.id == id &&
                (had.type == PropertyTagTypeShort || had.type == PropertyTagTypeLong ||
                 had.type == PropertyTagTypeSLONG)) {
                out.type = had.type;
                break;
            }
        }
        const int bytes = out.type == PropertyTagTypeShort ? 2 : 4;
        for (int i = 0; i < bytes; ++i)
            out.value.append(char((quint32(value) >> (8 * i)) & 0xFF));
        return out;
    };
    // Failures leave the written file as it is (its pixels are right; only the items are
    // missing), as the platform's writer did.
    platform::writePropertyItems(path,
                                 {item(PropertyTagOrientation, orientation),
                                  item(PropertyTagThumbnailOrientation, thumbnailOrientation)});
}
