#include "AnalyticsIntegration.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/integrations/AnalyticsAppLifeCycleIntegration.h"
#include "analytics/integrations/AnalyticsScreenViewIntegration.h"

#include <QMutex>

namespace analytics {

namespace {

QMutex& factoryLock()
{
    static QMutex lock;
    return lock;
}

AnalyticsIntegrationFactory& errorTrackingFactory()
{
    static AnalyticsIntegrationFactory factory;
    return factory;
}

std::shared_ptr<AnalyticsIntegration> makeErrorTrackingIntegration()
{
    AnalyticsIntegrationFactory factory;
    {
        QMutexLocker lock(&factoryLock());
        factory = errorTrackingFactory();
    }
    // Called outside the lock so a maker may itself look at the registration.
    return factory ? factory() : nullptr;
}

} // namespace

void setErrorTrackingIntegrationFactory(AnalyticsIntegrationFactory factory)
{
    QMutexLocker lock(&factoryLock());
    errorTrackingFactory() = std::move(factory);
}

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
    std::vector<std::shared_ptr<AnalyticsIntegration>> list;
    // First, so a crash in another integration's install is already caught.
    if (config.errorTrackingConfig().autoCapture()) {
        if (std::shared_ptr<AnalyticsIntegration> errorTracking = makeErrorTrackingIntegration())
            list.push_back(std::move(errorTracking));
    }
    if (config.captureScreenViews())
        list.push_back(std::make_shared<AnalyticsScreenViewIntegration>());
    if (config.captureApplicationLifecycleEvents())
        list.push_back(std::make_shared<AnalyticsAppLifeCycleIntegration>());
    return list;
}

} // namespace analytics
