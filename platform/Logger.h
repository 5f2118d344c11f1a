#pragma once

#include "platform/SystemLog.h"

#include <QString>

namespace platform {

// A named logger of the system log: a subsystem and a category, writing to
// whichever SystemLog is installed at the time of each call. Every message is
// bounded first, as boundedLogDetail says.
class Logger {
public:
    Logger(QString subsystem, QString category)
        : subsystem_(std::move(subsystem))
        , category_(std::move(category))
    {
    }

    void debug(const QString& message) const { write(LogLevel::Debug, message); }
    void info(const QString& message) const { write(LogLevel::Info, message); }
    void notice(const QString& message) const { write(LogLevel::Notice, message); }
    void error(const QString& message) const { write(LogLevel::Error, message); }
    void fault(const QString& message) const { write(LogLevel::Fault, message); }
    void write(LogLevel level, const QString& message) const;

    const QString& subsystem() const { return subsystem_; }
    const QString& category() const { return category_; }

private:
    QString subsystem_;
    QString category_;
};

} // namespace platform
