#pragma once

#include "platform/DynamicLibrary.h"

#include <QMap>
#include <QMutex>
#include <QObject>

// The recognition module library, loaded once per process on first use, and the objects
// its factories handed out, cached per method and released when the process ends.
class LibraryHolder : public QObject
{
public:
    static LibraryHolder *instance();

    // The method's object, or null when the module or its factory is missing or the
    // factory gave nothing (a null answer is asked again next time).
    void *object(int method);

    ~LibraryHolder() override;

private:
    LibraryHolder();

    platform::DynamicLibrary m_library;
    QMap<int, void *> m_objects;
    QMutex m_mutex;
};
