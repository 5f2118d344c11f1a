// The integration inside one process: one SDK at a time holds it, the
// reporter it builds is armed once per process, and the crash context goes
// into the reporter as compact JSON.
#include "analytics/AnalyticsConfig.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "analytics/sdk/IngestionServer.h"
#include "crash-reporting/error-tracking/AnalyticsErrorTrackingAutoCaptureIntegration.h"
#include "crash-reporting/reporter/VXCrashReporter.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace analytics;

namespace {

std::shared_ptr<AnalyticsSDK> sdkFor(const QString& token, const QString& host)
{
    auto config = std::make_shared<AnalyticsConfig>(token, host);
    config->setDisableReachabilityForTesting(true);
    config->setDisableQueueTimerForTesting(true);
    config->setDisableFlushOnBackgroundForTesting(true);
    config->setCaptureApplicationLifecycleEvents(false);
    config->setCaptureScreenViews(false);
    config->setPreloadFeatureFlags(false);
    config->setSendFeatureFlagEvent(false);
    return AnalyticsSDK::with(config);
}

} // namespace

TEST(AutoCaptureIntegration, OneHolderPerProcessAndTheContextKeptInTheReporter)
{
    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
    ingestion.remoteConfig = R"({"errorTracking": {"autocaptureExceptions": true}})";
    const auto first = sdkFor("token-a", ingestion.host());
    const auto second = sdkFor("token-b", ingestion.host());
    ASSERT_TRUE(ingestion.waitFor([&] {
        return first->remoteConfig()->autoCaptureExceptions() && second->remoteConfig()->autoCaptureExceptions();
    }));

    AnalyticsErrorTrackingAutoCaptureIntegration holder;
    AnalyticsErrorTrackingAutoCaptureIntegration other;
    ASSERT_TRUE(holder.install(first).isInstalled());
    ASSERT_NE(holder.crashReporter(), nullptr);
    EXPECT_TRUE(holder.crashReporter()->isEnabled());
    // Signals, not Mach exceptions, on this system.
    EXPECT_EQ(holder.crashReporter()->configuration().signalHandlerType(),
              unsigned(VXCrashReporterConfig::SignalHandlerTypeBSD));

    const AnalyticsIntegrationInstallResult refused = other.install(second);
    ASSERT_FALSE(refused.isInstalled());
    EXPECT_EQ(description(*refused.skipped), "Already installed to another AnalyticsSDK instance");
    EXPECT_EQ(other.crashReporter(), nullptr);
    other.contextDidChange({{"distinct_id", "nobody"}}); // unbound: nothing to keep it in

    holder.uninstall(second); // bound to another, living SDK: stays
    ASSERT_NE(holder.crashReporter(), nullptr);

    const QVariantMap context{{"distinct_id", "user-7"}, {"event_properties", QVariantMap{{"$lib", "vellox"}}}};
    holder.contextDidChange(context);
    EXPECT_EQ(holder.crashReporter()->customData(),
              QByteArray(R"({"distinct_id":"user-7","event_properties":{"$lib":"vellox"}})"));

    holder.uninstall(first);
    EXPECT_EQ(holder.crashReporter(), nullptr);
    // Free again; a second reporter in this process cannot be armed, yet the
    // integration installs.
    ASSERT_TRUE(other.install(second).isInstalled());
    ASSERT_NE(other.crashReporter(), nullptr);
    EXPECT_FALSE(other.crashReporter()->isEnabled());
    other.uninstall(second);
}
