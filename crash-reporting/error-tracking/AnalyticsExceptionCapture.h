#pragma once

#include "crash-reporting/reporter/VXCrashReporter.h"

#include <QVariantMap>

#include <exception>
#include <optional>

namespace analytics {

class AnalyticsSDK;

// Sends an "$exception" event through the SDK for a handled error: its
// properties (level "error", the exception list with the current stack and
// the images it points into) plus the caller's, which win on a shared key.
// The SDK adds its usual context. Does nothing but log before set-up.
void captureException(AnalyticsSDK& sdk, const std::exception_ptr& error,
                      const std::optional<QVariantMap>& properties = std::nullopt);
// The same for a named exception with a reason, and the return addresses of
// its stack when it has them.
void captureException(AnalyticsSDK& sdk, const VXCrashReporterExceptionInfo& exception,
                      const std::optional<QVariantMap>& properties = std::nullopt);

} // namespace analytics
