#include "AnalyticsErrorTrackingAutoCapture.h"

#include "analytics/integrations/AnalyticsIntegration.h"
#include "crash-reporting/error-tracking/AnalyticsErrorTrackingAutoCaptureIntegration.h"

namespace analytics {

void enableErrorTrackingAutoCapture()
{
    setErrorTrackingIntegrationFactory(
        [] { return std::make_shared<AnalyticsErrorTrackingAutoCaptureIntegration>(); });
}

} // namespace analytics
