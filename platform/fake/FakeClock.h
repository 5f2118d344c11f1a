#pragma once

#include "platform/Clock.h"

#include <QMutex>

namespace platform::fake {

// A clock that stands still until a test moves it.
class FakeClock final : public Clock {
public:
    FakeClock()
        : now_(QDateTime(QDate(2026, 1, 15), QTime(9, 30, 0), Qt::UTC))
    {
    }

    QDateTime now() const override
    {
        QMutexLocker lock(&mutex_);
        return now_;
    }
    void set(const QDateTime& when)
    {
        QMutexLocker lock(&mutex_);
        now_ = when.toUTC();
    }
    void advance(qint64 milliseconds)
    {
        QMutexLocker lock(&mutex_);
        now_ = now_.addMSecs(milliseconds);
    }

private:
    mutable QMutex mutex_;
    QDateTime now_;
};

} // namespace platform::fake
