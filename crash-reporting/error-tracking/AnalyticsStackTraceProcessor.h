#pragma once

#include "analytics/AnalyticsErrorTrackingConfig.h"
#include "crash-reporting/error-tracking/AnalyticsStackFrame.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

namespace analytics::AnalyticsStackTraceProcessor {

// Frames for return addresses of this process, in the addresses' order. An
// address the dynamic loader knows nothing about yields no frame. With
// `stripTopAnalyticsFrames`, the analytics client's own frames at the top are
// left out until the first other frame.
QList<AnalyticsStackFrame> symbolicateAddresses(const std::vector<uint64_t>& addresses,
                                                const AnalyticsErrorTrackingConfig& config,
                                                bool stripTopAnalyticsFrames);

// The calling thread's stack, outermost call first, with the client's own top
// frames stripped: {"frames": [...], "type": "raw"}; nothing when no frame is left.
std::optional<QVariantMap> buildStacktrace(const AnalyticsErrorTrackingConfig& config);
// The same for given return addresses (innermost first), nothing stripped.
std::optional<QVariantMap> buildStacktraceFromAddresses(const std::vector<uint64_t>& addresses,
                                                        const AnalyticsErrorTrackingConfig& config);

// The path of this process's executable, which the loader may name only
// relatively or not at all.
QString mainExecutablePath();

} // namespace analytics::AnalyticsStackTraceProcessor
