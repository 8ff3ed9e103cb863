#include "image/ImageWrapper.h"

#include "image/ImageBase.h"
#include "image/ImageDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

// Editing and saving an opened picture.

bool ImageWrapper::canRotate(bool withSaving) const
{
    if (m_isClipMode.load() || !m_backEnd) return false;
    return m_backEnd->canRotate(withSaving);
}

bool ImageWrapper::crop(const QRect &rect)
{
    if (!m_backEnd || !m_backEnd->crop(rect)) return false;
    m_dirty = true;
    return true;
}

void ImageWrapper::resize(int width, int height, Qt::TransformationMode mode)
{
    if (!m_backEnd || !m_backEnd->resize(width, height, mode)) return;
    m_originalSize = QSize(width, height);
    m_dirty = true;
}

void ImageWrapper::setImage(const QImage &image)
{
    if (m_backEnd) m_backEnd->setImage(image);
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
    // Replacing: copy beside the target, then rename over it, so a failed copy leaves the
    // target as it was.
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.picsage-XXXXXX"));
    if (!temporary.open()) return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || temporary.write(chunk) != chunk.size()) return false;
    }
    if (!temporary.flush()) return false;
    temporary.close();
    QFile::setPermissions(temporary.fileName(), QFile::permissions(source));
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return false;
    temporary.setAutoRemove(false);
    return true;
}

// Not implemented yet (the editing issue): turns, flips and the save family.

bool ImageWrapper::rotate(bool, QString &path, SaveType type)
{
    if (type != SaveToPath) path.clear();
    return false;
}

void ImageWrapper::_rotate(bool) {}

QString ImageWrapper::createRotatePathName()
{
    return {};
}

bool ImageWrapper::horizonFlip(const QString &)
{
    return false;
}

bool ImageWrapper::verticalFlip(const QString &)
{
    return false;
}

bool ImageWrapper::save()
{
    return false;
}

bool ImageWrapper::save(const QString &)
{
    return false;
}

bool ImageWrapper::save(QString, int, int, int, ImageFormatEnum)
{
    return false;
}

bool ImageWrapper::saveAs(const QString &, bool)
{
    return false;
}

void ImageWrapper::_rotateExif(const ImageFormat *, const QString &, long, long) {}
