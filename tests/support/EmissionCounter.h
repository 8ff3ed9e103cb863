#pragma once

#include <QObject>

#include <atomic>

// Counts a signal's emissions, whichever thread emits. QSignalSpy appends to a list on the
// emitting thread, so reading it while a loader or cache thread may still emit is a race.
class EmissionCounter
{
public:
    template <typename Sender, typename Signal> EmissionCounter(const Sender *sender, Signal signal)
    {
        QObject::connect(
            sender, signal, &m_context, [this] { m_count.fetch_add(1); }, Qt::DirectConnection);
    }
    EmissionCounter(const EmissionCounter &) = delete;
    EmissionCounter &operator=(const EmissionCounter &) = delete;

    int count() const { return m_count.load(); }

private:
    QObject m_context; // ends the connection with the counter
    std::atomic<int> m_count{0};
};
