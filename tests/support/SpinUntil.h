#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

#include <functional>

namespace test_support {

// Serves the event loop until `done` holds or the time is up; answers
// whether it held. The default deadline is sized for a loaded machine.
inline bool spinUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Serves the event loop until the global thread pool has no work left and
// what that work handed back to the loop has run: background reads and
// queries a test started have landed. Answers whether that happened in time.
inline bool finishQueuedWork(int timeoutMs = 20000)
{
    QThreadPool& pool = *QThreadPool::globalInstance();
    const bool idle = spinUntil(
        [&] {
            QCoreApplication::processEvents();
            return pool.activeThreadCount() == 0;
        },
        timeoutMs);
    QCoreApplication::processEvents();
    return idle;
}

} // namespace test_support
