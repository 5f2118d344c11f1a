#pragma once

#include <QString>

#include <cstddef>

// How the crash reporter captures crashes and where it keeps its reports.
class VXCrashReporterConfig {
public:
    enum SignalHandlerType : unsigned {
        SignalHandlerTypeBSD = 0,
        // Mach exceptions: unavailable on this system, which uses signals instead.
        SignalHandlerTypeMach = 1,
    };
    enum SymbolicationStrategy : unsigned {
        SymbolicationStrategyNone = 0,
        SymbolicationStrategySymbolTable = 1 << 0,
        SymbolicationStrategyObjC = 1 << 1,
        SymbolicationStrategyAll = SymbolicationStrategySymbolTable | SymbolicationStrategyObjC,
    };

    // Size cap of a live report.
    static constexpr size_t kDefaultMaxReportBytes = 1024 * 1024;

    static VXCrashReporterConfig defaultConfiguration() { return VXCrashReporterConfig(); }

    VXCrashReporterConfig() = default;
    // A null base path means the user's cache folder.
    explicit VXCrashReporterConfig(const QString& basePath);
    VXCrashReporterConfig(unsigned signalHandlerType, unsigned symbolicationStrategy,
                          const QString& basePath = QString());
    VXCrashReporterConfig(unsigned signalHandlerType, unsigned symbolicationStrategy,
                          bool shouldRegisterUncaughtExceptionHandler, const QString& basePath = QString(),
                          size_t maxReportBytes = kDefaultMaxReportBytes);

    unsigned signalHandlerType() const { return signalHandlerType_; }
    unsigned symbolicationStrategy() const { return symbolicationStrategy_; }
    bool shouldRegisterUncaughtExceptionHandler() const { return shouldRegisterUncaughtExceptionHandler_; }
    const QString& basePath() const { return basePath_; }
    size_t maxReportBytes() const { return maxReportBytes_; }

private:
    unsigned signalHandlerType_ = SignalHandlerTypeBSD;
    unsigned symbolicationStrategy_ = SymbolicationStrategyNone;
    bool shouldRegisterUncaughtExceptionHandler_ = true;
    QString basePath_;
    size_t maxReportBytes_ = kDefaultMaxReportBytes;
};
