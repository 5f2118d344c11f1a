// Installing the integrations, and the deep-link captures.
#include "AnalyticsSDK.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/integrations/AnalyticsDeepLinkHelper.h"
#include "analytics/integrations/AnalyticsIntegration.h"

namespace analytics {

void AnalyticsSDK::installIntegrations()
{
    QMutexLocker lock(&setupLock_);
    installIntegrationsLocked();
}

void AnalyticsSDK::uninstallIntegrations()
{
    QMutexLocker lock(&setupLock_);
    uninstallIntegrationsLocked();
}

std::vector<std::shared_ptr<AnalyticsIntegration>> AnalyticsSDK::installedIntegrations()
{
    QMutexLocker lock(&integrationsLock_);
    return installedIntegrations_;
}

void AnalyticsSDK::installIntegrationsLocked()
{
    {
        QMutexLocker lock(&integrationsLock_);
        if (!installedIntegrations_.empty()) {
            analyticsLog(QStringLiteral("[Analytics] Integrations already installed. Call uninstallIntegrations() first."));
            return;
        }
    }
    const std::shared_ptr<AnalyticsConfig> cfg = config();
    std::vector<std::shared_ptr<AnalyticsIntegration>> installed;
    const std::shared_ptr<AnalyticsSDK> self = shared_from_this();
    for (const auto& integration : getIntegrations(*cfg)) {
        const QString name = integration->typeName();
        if (integration->requiresSwizzling() && !cfg->enableSwizzling()) {
            analyticsLog(QStringLiteral("Integration ") + name +
                         QStringLiteral(" skipped. Integration requires swizzling but enableSwizzling is disabled in config"));
            continue;
        }
        const AnalyticsIntegrationInstallResult result = integration->install(self);
        if (result.isInstalled()) {
            installed.push_back(integration);
            analyticsLog(QStringLiteral("Integration ") + name + QStringLiteral(" installed"));
        } else {
            analyticsLog(QStringLiteral("Integration ") + name + QStringLiteral(" skipped: ") +
                         description(*result.skipped));
        }
    }
    QMutexLocker lock(&integrationsLock_);
    installedIntegrations_ = std::move(installed);
}

void AnalyticsSDK::uninstallIntegrationsLocked()
{
    std::vector<std::shared_ptr<AnalyticsIntegration>> installed;
    {
        QMutexLocker lock(&integrationsLock_);
        installed.swap(installedIntegrations_);
    }
    // From the destructor no shared owner is left to hand over; integrations
    // holding this SDK then see it gone and clear themselves.
    const std::shared_ptr<AnalyticsSDK> self = weak_from_this().lock();
    for (const auto& integration : installed) {
        integration->uninstall(self);
        analyticsLog(QStringLiteral("Integration ") + integration->typeName() + QStringLiteral(" uninstalled"));
    }
}

void AnalyticsSDK::captureDeepLink(const QUrl& url, const std::optional<QString>& referrer)
{
    if (!enabled_) {
        analyticsLog(
            QStringLiteral("[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored."));
        return;
    }
    if (url.isEmpty())
        return;
    captureInternal(QStringLiteral("Deep Link Opened"), std::nullopt, buildDeepLinkProperties(url, referrer),
                    std::nullopt, std::nullopt, std::nullopt, std::nullopt, false);
}

void AnalyticsSDK::captureDeepLinks(const QList<QUrl>& urls)
{
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            continue;
        captureDeepLink(url, std::nullopt);
    }
}

} // namespace analytics
