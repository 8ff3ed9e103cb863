#pragma once

// Real files written by other people, kept under tests/data/real with a manifest row each.
// A missing file fails the test that needs it with the file's name; it never skips it.

#include <QFile>
#include <QString>
#include <QtTest>

inline QString realDataPath(const QString &relative)
{
    return QStringLiteral(PICSAGE_REALDATA "/") + relative;
}

#define REQUIRE_REAL_FILE(path)                                                                    \
    QVERIFY2(QFile::exists(path), qPrintable(QStringLiteral("real test file missing: ") + (path)))
