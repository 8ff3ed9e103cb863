#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// A counting semaphore with QSemaphore's calls. It is built on std::mutex and
// std::condition_variable so that ThreadSanitizer sees what a release hands to the thread
// that acquires: QSemaphore hands over inside Qt, which is not instrumented, and every
// access to the data it guards would be reported as a race.
class Semaphore
{
public:
    explicit Semaphore(int permits = 0) : m_permits(permits) {}
    Semaphore(const Semaphore &) = delete;
    Semaphore &operator=(const Semaphore &) = delete;

    // Waits until n permits are free and takes them.
    void acquire(int n = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_freed.wait(lock, [&] { return m_permits >= n; });
        m_permits -= n;
    }

    // Takes n permits when they are free; never waits.
    bool tryAcquire(int n = 1)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_permits < n) return false;
        m_permits -= n;
        return true;
    }

    // Notifies under the lock: once a waiter has its permits, the releasing thread no longer
    // touches the semaphore, which may then go with its owner.
    void release(int n = 1)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_permits += n;
        m_freed.notify_all();
    }

    int available() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_permits;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    int m_permits;
};

} // namespace platform
