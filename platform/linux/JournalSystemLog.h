#pragma once

#include "platform/SystemLog.h"

namespace platform::linuxbackend {

// Writes to the systemd journal with SUBSYSTEM and CATEGORY fields, or to
// standard error when no journal socket is there (containers, CI).
class JournalSystemLog final : public SystemLog {
public:
    JournalSystemLog();
    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override;

private:
    bool journal_;
};

} // namespace platform::linuxbackend
