#include "host/viewer/Trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace viewer {

namespace {

// Names tried in one trash before giving up: "a.jpg", "a.2.jpg", ... "a.1000.jpg".
constexpr int MaxNameAttempts = 1000;

bool statPath(const QString &path, struct stat *st)
{
    return ::lstat(QFile::encodeName(path).constData(), st) == 0;
}

// Creates `path` (and its parents) with mode 0700 if missing; true when it is a real folder
// afterwards.
bool ensureFolder(const QString &path)
{
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path)) return false;
    struct stat st = {};
    if (!statPath(path, &st) || !S_ISDIR(st.st_mode)) return false;
    ::chmod(QFile::encodeName(path).constData(), S_IRWXU);
    return true;
}

// The mount point of `path`: the highest folder above it on the same device.
QString mountPointOf(const QString &path, dev_t device)
{
    QString current = QFileInfo(path).absolutePath();
    for (;;) {
        const QString parent = QFileInfo(current).absolutePath();
        if (parent == current) return current;
        struct stat st = {};
        if (!statPath(parent, &st) || st.st_dev != device) return current;
        current = parent;
    }
}

QString candidateName(const QString &fileName, int attempt)
{
    if (attempt == 1) return fileName;
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return fileName + QLatin1Char('.') + QString::number(attempt);
    return fileName.left(dot) + QLatin1Char('.') + QString::number(attempt) + fileName.mid(dot);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Trash::Trash(const QString &home) : m_home(home)
{
    if (!m_home.isEmpty()) return;
    QString data = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    m_home = data + QStringLiteral("/Trash");
}

QString Trash::trashForDevice(const QString &filePath, QString *topDir) const
{
    struct stat file = {};
    if (!statPath(filePath, &file)) return QString();

    // The home trash, when it lives on the file's device.
    QString homeBase = m_home;
    while (!QFileInfo::exists(homeBase) && homeBase != QFileInfo(homeBase).absolutePath())
        homeBase = QFileInfo(homeBase).absolutePath();
    struct stat home = {};
    if (statPath(homeBase, &home) && home.st_dev == file.st_dev) {
        topDir->clear();
        return m_home;
    }

    // A trash at the top of the file's own mount.
    const QString top = mountPointOf(filePath, file.st_dev);
    *topDir = top;
    const QString uid = QString::number(::getuid());
    const QString shared = top + QStringLiteral("/.Trash");
    struct stat st = {};
    // An administrator's $topdir/.Trash counts only when it is a real, sticky folder.
    if (statPath(shared, &st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        return shared + QLatin1Char('/') + uid;
    return top + QStringLiteral("/.Trash-") + uid;
}

bool Trash::moveToTrash(const QString &path, QString *error, QString *trashedAs) const
{
    const QFileInfo info(path);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    struct stat file = {};
    if (!statPath(absolute, &file)) {
        *error = QStringLiteral("%1: %2").arg(absolute, systemError());
        return false;
    }
    QString topDir;
    const QString trash = trashForDevice(absolute, &topDir);
    const QString filesDir = trash + QStringLiteral("/files");
    const QString infoDir = trash + QStringLiteral("/info");
    if (trash.isEmpty() || !ensureFolder(filesDir) || !ensureFolder(infoDir)) {
        *error = QStringLiteral("no trash can take %1").arg(absolute);
        return false;
    }
    struct stat trashStat = {};
    if (!statPath(filesDir, &trashStat) || trashStat.st_dev != file.st_dev) {
        *error = QStringLiteral("the trash for %1 is on another device").arg(absolute);
        return false;
    }

    // Paths in a mount's own trash are relative to its top, so the mount may move.
    const QString original = topDir.isEmpty() ? absolute : QDir(topDir).relativeFilePath(absolute);
    const QByteArray infoText =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        "\n";

    for (int attempt = 1; attempt <= MaxNameAttempts; ++attempt) {
        const QString name = candidateName(info.fileName(), attempt);
        const QString infoPath = infoDir + QLatin1Char('/') + name + QStringLiteral(".trashinfo");
        const QString target = filesDir + QLatin1Char('/') + name;
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) continue;
        // Creating the info file exclusively reserves the name against other programs.
        const int fd = ::open(QFile::encodeName(infoPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            *error = QStringLiteral("%1: %2").arg(infoPath, systemError());
            return false;
        }
        const bool written =
            ::write(fd, infoText.constData(), size_t(infoText.size())) == ssize_t(infoText.size());
        const bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            *error = QStringLiteral("%1: %2").arg(infoPath, systemError());
            ::unlink(QFile::encodeName(infoPath).constData());
            return false;
        }
        if (::rename(QFile::encodeName(absolute).constData(),
                     QFile::encodeName(target).constData()) != 0) {
            *error = QStringLiteral("%1: %2").arg(absolute, systemError());
            ::unlink(QFile::encodeName(infoPath).constData());
            return false;
        }
        if (trashedAs) *trashedAs = target;
        return true;
    }
    *error = QStringLiteral("no free name in %1").arg(filesDir);
    return false;
}

} // namespace viewer
