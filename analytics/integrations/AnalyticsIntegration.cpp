#include "AnalyticsIntegration.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/integrations/AnalyticsAppLifeCycleIntegration.h"
#include "analytics/integrations/AnalyticsScreenViewIntegration.h"

namespace analytics {

QString description(AnalyticsIntegrationInstallSkipReason reason)
{
    switch (reason) {
    case AnalyticsIntegrationInstallSkipReason::alreadyInstalled:
        return QStringLiteral("Already installed to another AnalyticsSDK instance");
    case AnalyticsIntegrationInstallSkipReason::disabledInRemoteConfig:
        return QStringLiteral("Disabled in remote config");
    case AnalyticsIntegrationInstallSkipReason::notAvailableOnPlatform:
        return QStringLiteral("Not available on this platform");
    }
    return {};
}

std::vector<std::shared_ptr<AnalyticsIntegration>> getIntegrations(const AnalyticsConfig& config)
{
    // The crash auto-capture integration belongs before these two once the
    // error-tracking half is linked in; until then autoCapture adds nothing.
    std::vector<std::shared_ptr<AnalyticsIntegration>> list;
    if (config.captureScreenViews())
        list.push_back(std::make_shared<AnalyticsScreenViewIntegration>());
    if (config.captureApplicationLifecycleEvents())
        list.push_back(std::make_shared<AnalyticsAppLifeCycleIntegration>());
    return list;
}

} // namespace analytics
