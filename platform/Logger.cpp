#include "Logger.h"

#include "platform/Platform.h"

namespace platform {

void Logger::write(LogLevel level, const QString& message) const
{
    if (const auto& log = Platform::current().systemLog)
        log->write(level, subsystem_, category_, message);
}

} // namespace platform
