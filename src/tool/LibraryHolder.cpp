#include "LibraryHolder.h"

#include "AnalysisMethod.h"
#include "RecognitionObject.h"
#include "VersionFolders.h"

namespace {
const char *const ModuleName = "lensmind";
} // namespace

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
