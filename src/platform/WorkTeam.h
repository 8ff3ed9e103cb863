#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

// The calling thread and a few helper threads that share one piece of work after another,
// such as the strips of rows of a picture being decoded. The helpers are started once; between
// pieces each side spins for a few microseconds before it sleeps, so that pieces that follow
// one another closely cost no system call. Built on std::atomic, std::mutex and
// std::condition_variable, which ThreadSanitizer sees through.
class WorkTeam
{
public:
    // A team of at most `members` threads, the caller included; helpers that the system
    // will not start are left out, so size() may be smaller (down to the caller alone).
    explicit WorkTeam(int members)
    {
        // Room for every helper first: once one runs, nothing here may throw.
        m_helpers.reserve(size_t(std::max(members - 1, 0)));
        for (int i = 1; i < members; ++i) {
            try {
                m_helpers.emplace_back([this, i] { serve(i); });
            } catch (const std::system_error &) {
                break;
            }
        }
    }

    WorkTeam(const WorkTeam &) = delete;
    WorkTeam &operator=(const WorkTeam &) = delete;

    ~WorkTeam()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing.store(true, std::memory_order_release);
        }
        m_wake.notify_all();
        for (std::thread &helper : m_helpers)
            helper.join();
    }

    int size() const { return int(m_helpers.size()) + 1; }

    // The number of members worth using on this machine for work that divides well.
    static int suggestedSize(int most)
    {
        return std::max(1, std::min(most, int(std::thread::hardware_concurrency())));
    }

    // Calls work(member) once for each member, 0 on the calling thread, all at the same time,
    // and returns when every call has returned. `work` must not throw.
    void run(const std::function<void(int)> &work)
    {
        m_work = &work; // read by the helpers only once they see the new generation
        m_busy.store(int(m_helpers.size()), std::memory_order_relaxed);
        {
            // Under the lock, so that a helper about to sleep sees the new generation.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_generation.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
        work(0);
        const auto done = [&] { return m_busy.load(std::memory_order_acquire) == 0; };
        if (!spinUntil(done)) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_done.wait(lock, done);
        }
    }

private:
    // Spins for a few microseconds; true when `ready` came true meanwhile.
    template <typename Ready> static bool spinUntil(const Ready &ready)
    {
        for (int i = 0; i < 4096; ++i) {
            if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        return ready();
    }

    void serve(int member)
    {
        unsigned long long seen = 0;
        const auto woken = [&] {
            return m_closing.load(std::memory_order_acquire) ||
                   m_generation.load(std::memory_order_acquire) != seen;
        };
        for (;;) {
            if (!spinUntil(woken)) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, woken);
            }
            if (m_closing.load(std::memory_order_acquire)) return;
            seen = m_generation.load(std::memory_order_acquire);
            (*m_work)(member);
            if (m_busy.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done.notify_all();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    const std::function<void(int)> *m_work = nullptr;
    std::atomic<unsigned long long> m_generation{0};
    std::atomic<int> m_busy{0};
    std::atomic<bool> m_closing{false};
    std::vector<std::thread> m_helpers;
};

} // namespace platform
