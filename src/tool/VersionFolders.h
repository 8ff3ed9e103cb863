#pragma once

#include <QString>

// The newest version folder of `name`, three folders above `start` (moduleDirectory() by
// default); empty when there is none.
QString latestVersionDirectory(const QString &name);
QString latestVersionDirectory(const QString &start, const QString &name);

// Version order of folder names: dot-separated numbers compared piece by piece, a
// non-number piece counting 0, a prefix older than what extends it. True when a < b.
bool versionLess(const QString &a, const QString &b);
