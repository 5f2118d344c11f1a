#pragma once

#include "analytics/AnalyticsMulticastCallback.h"
#include "analytics/integrations/AnalyticsIntegration.h"

#include <memory>

namespace analytics {

// Sends "Application Installed" or "Application Updated" once per process, and
// "Application Opened" and "Application Backgrounded" as the application moves
// between the foreground and the background.
class AnalyticsAppLifeCycleIntegration final
    : public AnalyticsIntegration,
      public std::enable_shared_from_this<AnalyticsAppLifeCycleIntegration> {
public:
    static constexpr const char* kVersionKey = "AnalyticsVersionKey";
    static constexpr const char* kBuildKey = "AnalyticsBuildKeyV2";

    QString typeName() const override { return QStringLiteral("AnalyticsAppLifeCycleIntegration"); }
    bool requiresSwizzling() const override { return false; }
    AnalyticsIntegrationInstallResult install(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void uninstall(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void contextDidChange(const QVariantMap&) override {}

    // Forgets that this process already sent its install-or-update event.
    static void resetForTesting();

private:
    void captureInstallOrUpdate();
    void captureOpened();
    void captureBackgrounded();

    std::weak_ptr<AnalyticsSDK> analytics_;
    bool isFreshAppLaunch_ = true;
    bool isAppBackgrounded_ = true;
    std::shared_ptr<RegistrationToken> didBecomeActiveToken_;
    std::shared_ptr<RegistrationToken> didEnterBackgroundToken_;
    std::shared_ptr<RegistrationToken> didFinishLaunchingToken_;
};

} // namespace analytics
