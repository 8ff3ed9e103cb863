#pragma once

// Measures one piece of work in a child process of its own, so that every row of a table
// starts from the same state and peak memory figures do not mix.

#include <chrono>
#include <functional>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
