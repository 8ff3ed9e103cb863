#include "DynamicLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace platform {

bool DynamicLibrary::load(const QString &path)
{
    unload();
    m_handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    m_error = m_handle ? QString() : QString::fromLocal8Bit(::dlerror());
    return m_handle != nullptr;
}

void DynamicLibrary::unload()
{
    if (m_handle) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
}

void *DynamicLibrary::symbol(const char *name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

QString fileContainingAddress(const void *address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) return QString();
    QString name = QFile::decodeName(info.dli_fname);
    // The main program may be reported by a bare or relative argv[0]; the kernel knows better.
    if (!name.contains(QLatin1Char('/'))) {
        const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
        if (!self.isEmpty()) name = self;
    }
    return QDir::cleanPath(QFileInfo(name).absoluteFilePath());
}

} // namespace platform
