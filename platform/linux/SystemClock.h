#pragma once

#include "platform/Clock.h"

namespace platform::linuxbackend {

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

} // namespace platform::linuxbackend
