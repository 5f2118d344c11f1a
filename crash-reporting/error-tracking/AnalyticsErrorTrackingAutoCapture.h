#pragma once

namespace analytics {

// Lets an SDK set up with errorTrackingConfig().autoCapture() on install the
// crash auto-capture integration along with its others. A program opts in by
// calling this once before setting the SDK up; without the call crash capture
// stays dormant whatever the configuration says.
void enableErrorTrackingAutoCapture();

} // namespace analytics
