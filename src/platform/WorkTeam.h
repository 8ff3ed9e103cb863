#pragma once

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

// The calling thread and a few helper threads that share one piece of work after another,
// such as the strips of rows of a picture being decoded. The helpers are started once and
// wait between pieces, so a piece costs a wake-up rather than a thread start. Built on
// std::mutex and std::condition_variable, which ThreadSanitizer sees through.
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
            m_closing = true;
            m_wake.notify_all();
        }
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
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_work = &work;
            m_busy = int(m_helpers.size());
            ++m_generation;
            m_wake.notify_all();
        }
        work(0);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [&] { return m_busy == 0; });
        m_work = nullptr;
    }

private:
    void serve(int member)
    {
        unsigned long long seen = 0;
        for (;;) {
            const std::function<void(int)> *work;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [&] { return m_closing || m_generation != seen; });
                if (m_closing) return;
                seen = m_generation;
                work = m_work;
            }
            (*work)(member);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (--m_busy == 0) m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    const std::function<void(int)> *m_work = nullptr;
    unsigned long long m_generation = 0;
    int m_busy = 0;
    bool m_closing = false;
    std::vector<std::thread> m_helpers;
};

} // namespace platform
