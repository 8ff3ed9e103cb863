#include "LibraryHolder.h"

#include "AnalysisMethod.h"
#include "RecognitionObject.h"
#include "app/ModuleDirectory.h"

#include <QDir>
#include <QVector>

#include <algorithm>

namespace {
const char *const ModuleName = "lensmind";

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

LibraryHolder *LibraryHolder::instance()
{
    static LibraryHolder holder;
    return &holder;
}

LibraryHolder::LibraryHolder()
{
    const QString folder = latestVersionDirectory(QLatin1String(ModuleName));
    // Without a version folder there is nothing to load; a bare "/lensmind/..." would
    // reach for the file-system root.
    if (!folder.isEmpty()) {
        m_library.load(folder + QStringLiteral("/%1/%1.so").arg(QLatin1String(ModuleName)));
    }
}

LibraryHolder::~LibraryHolder()
{
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        if (!it.value()) continue;
        if (auto release = reinterpret_cast<recognition::Release>(
                m_library.symbol(methodReleaseExport(it.key()))))
            release(it.value());
    }
    m_objects.clear();
    m_library.unload();
}

void *LibraryHolder::object(int method)
{
    QMutexLocker locker(&m_mutex);
    if (void *cached = m_objects.value(method)) return cached;
    auto factory =
        reinterpret_cast<recognition::Factory>(m_library.symbol(methodFactoryExport(method)));
    if (!factory) return nullptr;
    void *object = factory();
    m_objects.insert(method, object);
    return object;
}
