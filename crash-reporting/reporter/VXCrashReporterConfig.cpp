#include "crash-reporting/reporter/VXCrashReporterConfig.h"

VXCrashReporterConfig::VXCrashReporterConfig(const QString& basePath) : basePath_(basePath) { }

VXCrashReporterConfig::VXCrashReporterConfig(unsigned signalHandlerType, unsigned symbolicationStrategy,
                                             const QString& basePath)
    : VXCrashReporterConfig(signalHandlerType, symbolicationStrategy, true, basePath)
{
}

VXCrashReporterConfig::VXCrashReporterConfig(unsigned signalHandlerType, unsigned symbolicationStrategy,
                                             bool shouldRegisterUncaughtExceptionHandler, const QString& basePath,
                                             size_t maxReportBytes)
    : signalHandlerType_(signalHandlerType), symbolicationStrategy_(symbolicationStrategy),
      shouldRegisterUncaughtExceptionHandler_(shouldRegisterUncaughtExceptionHandler), basePath_(basePath),
      maxReportBytes_(maxReportBytes)
{
}
