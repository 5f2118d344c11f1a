#include "Logger.h"

#include "platform/LogDetail.h"
#include "platform/Platform.h"

namespace platform {

void Logger::write(LogLevel level, const QString& message) const
{
    // Bounded as the rewrite log bounds its detail: messages quote provider
    // answers, and the system log keeps them for every reader of the journal.
    if (const auto& log = Platform::current().systemLog)
        log->write(level, subsystem_, category_, boundedLogDetail(message));
}

} // namespace platform
