#pragma once

#include "analytics/AnalyticsMulticastCallback.h"
#include "analytics/integrations/AnalyticsIntegration.h"

#include <QMutex>

#include <memory>

namespace analytics {

// Where screen names are published; nothing on this platform publishes any.
class ApplicationScreenViewPublisher {
public:
    static ApplicationScreenViewPublisher& shared();
    AnalyticsMulticastCallback<QString>& onScreenView() { return onScreenView_; }

private:
    AnalyticsMulticastCallback<QString> onScreenView_;
};

// Sends "$screen" for every published screen name.
class AnalyticsScreenViewIntegration final : public AnalyticsIntegration,
                                             public std::enable_shared_from_this<AnalyticsScreenViewIntegration> {
public:
    QString typeName() const override { return QStringLiteral("AnalyticsScreenViewIntegration"); }
    bool requiresSwizzling() const override { return true; }
    AnalyticsIntegrationInstallResult install(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void uninstall(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void contextDidChange(const QVariantMap&) override {}

private:
    std::weak_ptr<AnalyticsSDK> analytics_;
    std::shared_ptr<RegistrationToken> screenViewToken_;
};

} // namespace analytics
