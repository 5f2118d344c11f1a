#pragma once

namespace analytics::AnalyticsDebugUtils {

// Whether a debugger (any tracer) is attached to this process; false, with a
// debug log line, when that cannot be told.
bool isDebuggerAttached();

} // namespace analytics::AnalyticsDebugUtils
