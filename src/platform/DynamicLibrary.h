#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// A loaded shared library: dlopen with immediate binding and local symbols, unloaded when
// the object goes away. Stands in for LoadLibrary/GetProcAddress/FreeLibrary.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const QString &path) { load(path); }
    ~DynamicLibrary() { unload(); }
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    bool load(const QString &path);
    void unload();
    bool isLoaded() const { return m_handle != nullptr; }
    void *symbol(const char *name) const;
    // The loader's reason for the last failed load; empty after a successful one.
    QString errorString() const { return m_error; }

private:
    void *m_handle = nullptr;
    QString m_error;
};

// The absolute path of the file (library or program) that holds the given code address.
QString fileContainingAddress(const void *address);

} // namespace platform
