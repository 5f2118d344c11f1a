#pragma once

#include "analytics/AnalyticsErrorTrackingConfig.h"
#include "crash-reporting/error-tracking/AnalyticsBinaryImageInfo.h"
#include "crash-reporting/error-tracking/AnalyticsStackFrame.h"
#include "crash-reporting/reporter/VXCrashReport.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace analytics {

// Turns the crash report of a previous run into the properties of one
// "$exception" event: the fatal level, the entry for the exception, signal or
// Mach exception that ended the run, the crashed thread's frames and the
// images they point into. Never fails: what the report lacks leaves keys out.
namespace AnalyticsCrashReportProcessor {

QVariantMap processReport(const VXCrashReport& report, const AnalyticsErrorTrackingConfig& config);

// The steps, for tests.
std::shared_ptr<const VXCrashReportThreadInfo> findCrashedThread(const VXCrashReport& report);
QList<AnalyticsStackFrame> buildStackFrames(const VXCrashReport& report, const AnalyticsErrorTrackingConfig& config);
std::optional<QVariantMap> buildExceptionInfo(const VXCrashReport& report, const QList<AnalyticsStackFrame>& frames);
QList<AnalyticsBinaryImageInfo> buildDebugImages(const VXCrashReport& report, const QList<AnalyticsStackFrame>& frames);
// The trimmed crash-info message of the signal; nothing when empty.
std::optional<QString> crashInfoMessage(const VXCrashReportSignalInfo& signal);
// The fatal-error kind ("Fatal error", ...) a runtime's failure message names.
std::optional<QString> parseSwiftFatalErrorType(const QString& message);
std::optional<QString> signalMessage(const VXCrashReportSignalInfo& signal);
QString machExceptionName(uint64_t type);
QString machExceptionMessage(const VXCrashReportMachExceptionInfo& exception);
// Whether the report comes from a 64-bit Arm process, whose return addresses
// may carry authentication bits above the low 36.
bool isArm64Report(const VXCrashReport& report);

} // namespace AnalyticsCrashReportProcessor
} // namespace analytics
