#pragma once

// Measures one piece of work in a child process of its own, so that every row of a table
// starts from the same state and peak memory figures do not mix.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

struct Measurement
{
    double seconds = -1; // the work alone, set-up excluded
    long peakKiB = -1;   // the child's peak resident size
    long startKiB = -1;  // its peak resident size when the work began (after set-up)
    bool ok = false;

    long grownKiB() const { return peakKiB - startKiB; }
};

// `setUp` runs first (library start-up, not timed); `work` returns false on failure.
inline Measurement measureInChild(const std::function<void()> &setUp,
                                  const std::function<bool()> &work)
{
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFd[0]);
        if (setUp) setUp();
        // A forked child starts with its parent's peak, and with the parent's freed but still
        // resident heap, which the work would reuse unseen: give that back and restart the
        // peak from here, so the work's own growth is what is measured.
        ::malloc_trim(0);
        const int clearRefs = ::open("/proc/self/clear_refs", O_WRONLY);
        if (clearRefs >= 0) {
            (void)!::write(clearRefs, "5", 1);
            ::close(clearRefs);
        }
        struct rusage before = {};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = work();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double message[3] = {seconds, ok ? 1.0 : 0.0, double(before.ru_maxrss)};
        (void)!::write(pipeFd[1], message, sizeof message);
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    double message[3] = {-1, 0, 0};
    const bool got = ::read(pipeFd[0], message, sizeof message) == sizeof message;
    ::close(pipeFd[0]);
    int status = 0;
    struct rusage usage = {};
    ::wait4(pid, &status, 0, &usage);
    Measurement m;
    m.seconds = message[0];
    m.peakKiB = usage.ru_maxrss;
    m.startKiB = long(message[2]);
    m.ok = got && message[1] != 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The best time and the highest peak of `runs` children; not ok when any run failed.
inline Measurement measureBest(int runs, const std::function<void()> &setUp,
                               const std::function<bool()> &work)
{
    Measurement best = measureInChild(setUp, work);
    for (int i = 1; i < runs && best.ok; ++i) {
        const Measurement m = measureInChild(setUp, work);
        best.ok = m.ok;
        if (m.seconds < best.seconds) best.seconds = m.seconds;
        if (m.peakKiB > best.peakKiB) {
            best.peakKiB = m.peakKiB;
            best.startKiB = m.startKiB;
        }
    }
    return best;
}

// Runs programs side by side in a child of its own that waits for them all, so that the peak
// memory of every process they start (LibreOffice's launcher starts the real one) counts:
// the peak is the largest of any one process. The output of the programs goes nowhere.
inline Measurement measurePrograms(const std::vector<std::vector<std::string>> &commands)
{
    int pipeFd[2];
    if (::pipe(pipeFd) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFd[0]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> children;
        bool ok = true;
        for (const std::vector<std::string> &argv : commands) {
            std::vector<char *> args;
            for (const std::string &a : argv)
                args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            pid_t child;
            if (posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ) == 0)
                children.push_back(child);
            else
                ok = false;
        }
        for (const pid_t child : children) {
            int status = -1;
            ::waitpid(child, &status, 0);
            ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        struct rusage usage = {};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        const double message[3] = {seconds, ok ? 1.0 : 0.0, double(usage.ru_maxrss)};
        (void)!::write(pipeFd[1], message, sizeof message);
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    double message[3] = {-1, 0, 0};
    const bool got = ::read(pipeFd[0], message, sizeof message) == sizeof message;
    ::close(pipeFd[0]);
    ::waitpid(pid, nullptr, 0);
    Measurement m;
    m.seconds = message[0];
    m.ok = got && message[1] != 0;
    m.peakKiB = long(message[2]);
    m.startKiB = 0;
    return m;
}

inline Measurement measureProgram(const std::vector<std::string> &argv)
{
    return measurePrograms({argv});
}

// The best time and the highest peak of `runs` runs of one program.
inline Measurement bestProgram(int runs, const std::vector<std::string> &argv)
{
    Measurement best = measureProgram(argv);
    for (int i = 1; i < runs && best.ok; ++i) {
        const Measurement m = measureProgram(argv);
        if (m.seconds < best.seconds) best.seconds = m.seconds;
        if (m.peakKiB > best.peakKiB) best.peakKiB = m.peakKiB;
        best.ok = m.ok;
    }
    return best;
}
