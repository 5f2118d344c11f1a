#include "Logging.h"

#include "gemini-client/GeminiClientInfo.h"

#include <QCoreApplication>
#include <QFile>

#include <atomic>

namespace gemini {

namespace {

// -1: follow the launch argument; 0 or 1: forced by a test.
std::atomic<int> debugOverride{-1};

bool alwaysOn()
{
    return true;
}

// Read once, when first asked, as the loggers are made on first use.
bool launchArgumentPresent()
{
    static const bool present = Logging::hasDebugLaunchArgument(Logging::processArguments());
    return present;
}

bool debugLoggingEnabled()
{
    const int forced = debugOverride.load();
    return forced >= 0 ? forced == 1 : launchArgumentPresent();
}

} // namespace

LibraryLogger::LibraryLogger(QString category, bool (*enabled)())
    : logger_(QString::fromLatin1(GeminiClientInfo::identifier), std::move(category))
    , enabled_(enabled)
{
}

void LibraryLogger::write(platform::LogLevel level, const QString& message) const
{
    if (enabled_())
        logger_.write(level, message);
}

const LibraryLogger& Logging::defaultLogger()
{
    static const LibraryLogger logger(QString(), alwaysOn);
    return logger;
}

const LibraryLogger& Logging::network()
{
    static const LibraryLogger logger(QStringLiteral("NetworkResponse"), debugLoggingEnabled);
    return logger;
}

const LibraryLogger& Logging::verbose()
{
    static const LibraryLogger logger(QString(), debugLoggingEnabled);
    return logger;
}

bool Logging::hasDebugLaunchArgument(const QStringList& arguments)
{
    return arguments.contains(QString::fromLatin1(GeminiClientInfo::debugLaunchArgument));
}

QStringList Logging::processArguments()
{
    if (QCoreApplication::instance())
        return QCoreApplication::arguments();
    QFile file(QStringLiteral("/proc/self/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments;
    for (const QByteArray& argument : file.readAll().split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    return arguments;
}

void Logging::setDebugLoggingOverride(std::optional<bool> enabled)
{
    debugOverride.store(enabled ? int(*enabled) : -1);
}

} // namespace gemini
