#include "VersionFolders.h"

#include "app/ModuleDirectory.h"

#include <QDir>
#include <QVector>

#include <algorithm>

namespace {
QVector<qulonglong> versionPieces(const QString &name)
{
    QVector<qulonglong> pieces;
    for (const QString &piece : name.split(QLatin1Char('.'))) {
        bool ok = false;
        const qulonglong value = piece.toULongLong(&ok, 10);
        pieces << (ok ? value : 0);
    }
    return pieces;
}
} // namespace

bool versionLess(const QString &a, const QString &b)
{
    const QVector<qulonglong> pa = versionPieces(a), pb = versionPieces(b);
    return std::lexicographical_compare(pa.cbegin(), pa.cend(), pb.cbegin(), pb.cend());
}

QString latestVersionDirectory(const QString &name)
{
    return latestVersionDirectory(moduleDirectory(), name);
}

QString latestVersionDirectory(const QString &start, const QString &name)
{
    QDir dir(start);
    for (int i = 0; i < 3; ++i)
        dir.cdUp();
    const QString candidate = dir.absolutePath() + QLatin1Char('/') + name;
    QStringList versions = QDir(candidate).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (versions.isEmpty()) return QString();
    // Stable on the name order, so of two equal versions (1.0, 1.00) the later name wins.
    std::stable_sort(versions.begin(), versions.end(), versionLess);
    return candidate + QLatin1Char('/') + versions.last();
}
