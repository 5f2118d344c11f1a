#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace test_support {

// Serves the event loop until `done` holds or the time is up; answers
// whether it held.
inline bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace test_support
