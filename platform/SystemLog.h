#pragma once

#include <QString>

namespace platform {

enum class LogLevel { Debug, Info, Notice, Error, Fault };

// The system log: one message at a time, tagged with a subsystem and a
// category. Safe to call from any thread.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(LogLevel level, const QString& subsystem, const QString& category,
                       const QString& message) = 0;
};

} // namespace platform
