#include "ModuleDirectory.h"

#include "platform/DynamicLibrary.h"

#include <QFileInfo>

QString moduleDirectory()
{
    static const QString directory = [] {
        const QString file =
            platform::fileContainingAddress(reinterpret_cast<const void *>(&moduleDirectory));
        return QFileInfo(file).absolutePath();
    }();
    return directory;
}
