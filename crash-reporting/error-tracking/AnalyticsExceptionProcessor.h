#pragma once

#include "analytics/AnalyticsErrorTrackingConfig.h"
#include "crash-reporting/reporter/VXCrashReporter.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <exception>

namespace analytics::AnalyticsExceptionProcessor {

// Event properties of a thrown C++ exception and of the exceptions nested in
// it (std::throw_with_nested), outermost first, each with the current stack:
// {"$exception_level": "error", "$exception_list": [...], "$debug_images": [...]}.
QVariantMap errorToProperties(const std::exception_ptr& error, bool handled, const QString& mechanismType,
                              const AnalyticsErrorTrackingConfig& config);

// The same for a named exception with a reason and, when it has them, the
// return addresses of the stack it was raised on; without them the current
// stack is used and the entry is marked synthetic.
QVariantMap exceptionToProperties(const VXCrashReporterExceptionInfo& exception, bool handled,
                                  const QString& mechanismType, const AnalyticsErrorTrackingConfig& config);

// The steps, for tests.
QVariantList buildExceptionList(const std::exception_ptr& error, bool handled, const QString& mechanismType,
                                const AnalyticsErrorTrackingConfig& config);
// The readable name of the thrown object's type.
QString typeName(const std::exception_ptr& error);
// what() (or "Error" when that is empty), and " (Code: N)" for a system error.
QString extractErrorMessage(const std::exception_ptr& error);
// The namespace of a qualified type name; nothing without one.
std::optional<QString> extractModule(const QString& typeName);

} // namespace analytics::AnalyticsExceptionProcessor
