#pragma once

#include "platform/Clock.h"
#include "platform/Platform.h"

#include <QDateTime>

namespace analytics {

// Now, from the platform's clock when one is installed, so events, sessions
// and the queue agree on the time (and tests can move it).
inline QDateTime analyticsNow()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

} // namespace analytics
