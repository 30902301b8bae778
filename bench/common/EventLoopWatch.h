#pragma once
// The longest time between two turns of the event loop while some work runs: a timer asks for a turn every
// millisecond, and the work the thread does itself before and after the loop turns counts in.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

class EventLoopWatch {
public:
    EventLoopWatch()
    {
        m_since.start();
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_since.elapsed() - m_last);
            m_last = m_since.elapsed();
        });
        m_tick.start();
    }

    // Starts a new measure.
    void restart()
    {
        m_last = m_since.elapsed();
        m_longest = 0;
    }
    // The longest wait since restart(), up to now.
    qint64 longest() const { return std::max(m_longest, m_since.elapsed() - m_last); }

    // Runs `work` and gives the longest wait while it ran; `ok` tells whether it succeeded.
    qint64 during(const std::function<bool()> &work, bool &ok)
    {
        restart();
        ok = work();
        return longest();
    }

private:
    QElapsedTimer m_since;
    QTimer m_tick;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};
