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

// The newest version folder of `name`, three folders above `start` (moduleDirectory() by
// default); empty when there is none.
QString latestVersionDirectory(const QString &name);
QString latestVersionDirectory(const QString &start, const QString &name);

// Version order of folder names: dot-separated numbers compared piece by piece, a
// non-number piece counting 0, a prefix older than what extends it. True when a < b.
bool versionLess(const QString &a, const QString &b);
