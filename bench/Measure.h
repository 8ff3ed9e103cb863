#pragma once

// Measures one piece of work in a child process of its own, so that every row of a table
// starts from the same state and peak memory figures do not mix.

#include <chrono>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct Measurement
{
    double seconds = -1;  // the work alone, set-up excluded
    long peakKiB = -1;    // the child's peak resident size
    bool ok = false;
};

// `setUp` runs first (library start-up, not timed); `work` returns false on failure.
inline Measurement measureInChild(const std::function<void()> &setUp,
                                  const std::function<bool()> &work)
{
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFd[0]);
        if (setUp)
            setUp();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = work();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double message[2] = {seconds, ok ? 1.0 : 0.0};
        (void)!::write(pipeFd[1], message, sizeof message);
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    double message[2] = {-1, 0};
    const bool got = ::read(pipeFd[0], message, sizeof message) == sizeof message;
    ::close(pipeFd[0]);
    int status = 0;
    struct rusage usage = {};
    ::wait4(pid, &status, 0, &usage);
    Measurement m;
    m.seconds = message[0];
    m.peakKiB = usage.ru_maxrss;
    m.ok = got && message[1] != 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The best time of `runs` children and the peak memory of the first.
inline Measurement measureBest(int runs, const std::function<void()> &setUp,
                               const std::function<bool()> &work)
{
    Measurement best = measureInChild(setUp, work);
    for (int i = 1; i < runs && best.ok; ++i) {
        const Measurement m = measureInChild(setUp, work);
        if (m.ok && m.seconds < best.seconds)
            best.seconds = m.seconds;
    }
    return best;
}
