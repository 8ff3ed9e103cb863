#pragma once

// Runs a program the way a shell would: arguments as raw bytes (so a file name that is not
// UTF-8 reaches the program unchanged), an environment adjusted per run, standard output
// collected, and how the process ended, with its peak resident size.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTemporaryFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

struct SpawnResult
{
    bool started = false;
    bool exited = false; // false: killed by a signal (or never started)
    int signal = 0;
    int code = 0; // the exit status as the signed 8-bit value the process ended with
    long peakKiB = -1;
    QByteArray output;
    QByteArray errors;
};

// Environment changes: a name mapped to a null QByteArray is removed, any other value set.
using EnvironmentChanges = QMap<QByteArray, QByteArray>;

inline SpawnResult spawn(const QByteArray &program, const QList<QByteArray> &args,
                         const EnvironmentChanges &changes = {}, int timeoutSeconds = 300)
{
    SpawnResult result;
    QList<QByteArray> environment;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!changes.contains(entry.left(entry.indexOf('=')))) environment << entry;
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        if (!it.value().isNull()) environment << it.key() + '=' + it.value();

    std::vector<char *> argv{const_cast<char *>(program.constData())};
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const QByteArray &e : environment)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);

    QTemporaryFile out, err;
    if (!out.open() || !err.open()) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.handle(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.handle(), STDERR_FILENO);
    pid_t pid = 0;
    const int failed =
        posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return result;
    result.started = true;

    int status = 0;
    struct rusage usage = {};
    for (int waited = 0;; waited += 10) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return result;
        if (waited >= timeoutSeconds * 1000) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        QThread::msleep(10);
    }
    result.exited = WIFEXITED(status);
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.code = result.exited ? qint8(WEXITSTATUS(status)) : 1000;
    result.peakKiB = usage.ru_maxrss;
    out.seek(0);
    err.seek(0);
    result.output = out.readAll();
    result.errors = err.readAll();
    return result;
}
