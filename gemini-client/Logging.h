#pragma once

#include "platform/Logger.h"

#include <QStringList>

#include <optional>

namespace gemini {

// One of the library's loggers: a system-log logger that may be switched off.
class LibraryLogger {
public:
    LibraryLogger(QString category, bool (*enabled)());

    bool isEnabled() const { return enabled_(); }
    void debug(const QString& message) const { write(platform::LogLevel::Debug, message); }
    void info(const QString& message) const { write(platform::LogLevel::Info, message); }
    void error(const QString& message) const { write(platform::LogLevel::Error, message); }
    void write(platform::LogLevel level, const QString& message) const;

private:
    platform::Logger logger_;
    bool (*enabled_)();
};

// The library's three loggers. `defaultLogger` always writes; `network`
// (category "NetworkResponse") and `verbose` write only when the process was
// started with the launch argument "-GeminiClientDebugLogEnabled".
class Logging {
public:
    static const LibraryLogger& defaultLogger();
    static const LibraryLogger& network();
    static const LibraryLogger& verbose();

    // Whether the debug launch argument is one whole element of the list.
    static bool hasDebugLaunchArgument(const QStringList& arguments);
    // The process's own argument list: the application's, or the kernel's
    // record of it when no application object exists yet.
    static QStringList processArguments();

    // Lets tests switch the extra loggers on or off; nullopt goes back to the
    // launch argument.
    static void setDebugLoggingOverride(std::optional<bool> enabled);
};

} // namespace gemini
