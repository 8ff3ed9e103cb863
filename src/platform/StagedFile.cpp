#include "platform/StagedFile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryFile>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The process's umask, read without changing it (umask() would race with other threads).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) return mode_t(mask);
            }
        }
    }
    return 022;
}

bool syncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

StagedFile::StagedFile(const QString &target)
{
    QFileInfo info(target);
    // A link is followed: the file it names gets the new version, the link stays.
    if (info.isSymLink() && info.exists()) info.setFile(info.canonicalFilePath());
    m_target = info.absoluteFilePath();
    QTemporaryFile temporary(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                             QStringLiteral(".picsage-XXXXXX"));
    if (!temporary.open()) return;
    temporary.setAutoRemove(false);
    m_staging = temporary.fileName();
}

StagedFile::~StagedFile()
{
    if (!m_committed && !m_staging.isEmpty()) QFile::remove(m_staging);
}

bool StagedFile::commit()
{
    if (m_staging.isEmpty() || m_committed) return false;
    const QByteArray staging = QFile::encodeName(m_staging);
    const QByteArray target = QFile::encodeName(m_target);
    struct stat existing = {};
    const mode_t mode = ::stat(target.constData(), &existing) == 0 ? (existing.st_mode & 07777)
                                                                   : mode_t(0666 & ~currentUmask());
    if (::chmod(staging.constData(), mode) != 0) return false;
    // The data is on disk before the name points at it.
    if (!syncPath(staging, O_RDONLY)) return false;
    if (std::rename(staging.constData(), target.constData()) != 0) return false;
    m_committed = true;
    syncPath(QFile::encodeName(QFileInfo(m_target).absolutePath()), O_RDONLY | O_DIRECTORY);
    return true;
}

bool encodeImage(const QImage &image, const char *format, int quality, QByteArray *out)
{
    out->clear();
    QBuffer buffer(out);
    if (!buffer.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    return writer.write(image) && !out->isEmpty();
}

bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

bool saveImageAtomically(const QImage &image, const QString &path, const char *format, int quality)
{
    if (image.isNull() || path.isEmpty()) return false;
    QByteArray bytes;
    if (!encodeImage(image, format, quality, &bytes)) return false;
    StagedFile staged(path);
    return staged.isValid() && writeWholeFile(staged.stagingPath(), bytes) && staged.commit();
}

} // namespace platform
