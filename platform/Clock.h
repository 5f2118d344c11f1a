#pragma once

#include <QDateTime>

namespace platform {

// Wall-clock time, injectable so that tests control dates and durations.
class Clock {
public:
    virtual ~Clock() = default;
    // Now, in UTC.
    virtual QDateTime now() const = 0;
};

} // namespace platform
