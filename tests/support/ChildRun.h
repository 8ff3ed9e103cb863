#pragma once

// Runs a program to its end and reports its exit code, its output and the peak resident
// memory of the children run so far (the kernel keeps the largest of them).

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

struct ChildResult
{
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
    long peakChildKiB = 0; // the largest peak of any child so far
};

inline ChildResult runChild(const QString &program, const QStringList &args, int timeoutMs = 120000)
{
    ChildResult result;
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.crashed = true;
        return result;
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    struct rusage usage = {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    result.peakChildKiB = usage.ru_maxrss;
    return result;
}
