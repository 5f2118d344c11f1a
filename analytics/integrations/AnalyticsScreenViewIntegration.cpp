#include "AnalyticsScreenViewIntegration.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/sdk/AnalyticsSDK.h"

namespace analytics {

namespace {

QMutex installedLock;
bool installed = false;

} // namespace

ApplicationScreenViewPublisher& ApplicationScreenViewPublisher::shared()
{
    static ApplicationScreenViewPublisher publisher;
    return publisher;
}

AnalyticsIntegrationInstallResult AnalyticsScreenViewIntegration::install(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    {
        QMutexLocker lock(&installedLock);
        if (installed)
            return AnalyticsIntegrationInstallResult::skip(AnalyticsIntegrationInstallSkipReason::alreadyInstalled);
        installed = true;
    }
    analytics_ = sdk;
    std::weak_ptr<AnalyticsScreenViewIntegration> weak = weak_from_this();
    screenViewToken_ = ApplicationScreenViewPublisher::shared().onScreenView().subscribe([weak](const QString& name) {
        auto self = weak.lock();
        if (!self)
            return;
        auto sdk = self->analytics_.lock();
        if (!sdk)
            return;
        if (sdk->config()->captureScreenViews())
            sdk->screen(name);
        else
            analyticsLog(
                QStringLiteral("[Analytics] Skipping $screen event - captureScreenViews is disabled in configuration"));
    });
    return AnalyticsIntegrationInstallResult::installed();
}

void AnalyticsScreenViewIntegration::uninstall(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    if (auto current = analytics_.lock(); current && current != sdk)
        return;
    screenViewToken_ = {};
    analytics_.reset();
    QMutexLocker lock(&installedLock);
    installed = false;
}

} // namespace analytics
