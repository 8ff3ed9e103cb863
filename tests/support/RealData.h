#pragma once

// Real picture files written by other people, kept in tests/data/real (see its MANIFEST.tsv).
// A missing file fails the test that needs it: nothing passes for want of data.

#include <QFile>
#include <QString>
#include <QtTest>

inline QString realDataPath(const QString &relative)
{
    return QStringLiteral(PICSAGE_REALDATA "/") + relative;
}

// Inside a test function: declares `var` as the path of the real file, or fails the test
// when the file is missing.
#define REAL_DATA(var, relative)                                                                   \
    const QString var = realDataPath(relative);                                                    \
    if (!QFile::exists(var)) QFAIL(qPrintable(QStringLiteral("missing test data: ") + var))
