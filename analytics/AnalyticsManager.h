#pragma once

#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace analytics {

// The application's one door to analytics. Set up once per process from the
// information file's "ANALYTICS_API_KEY" and "ANALYTICS_HOST"; without a token
// analytics stay off for the process and every event is silently dropped.
// Sending never blocks and never fails the caller: the event is handed to the
// client on one serial sender thread, so events reach it in the order they
// were sent.
class AnalyticsManager {
public:
    AnalyticsManager() = delete;

    static constexpr const char* kApiKeyInfoKey = "ANALYTICS_API_KEY";
    static constexpr const char* kHostInfoKey = "ANALYTICS_HOST";
    static constexpr const char* kAppInstalledSentKey = "vellox.analytics.app_installed_sent";
    static constexpr const char* kAppInstalledEvent = "app_installed";
    // Overrides the information file's host, so a test run or a developer can
    // point the program at another ingestion server.
    static constexpr const char* kHostEnvironmentVariable = "VELLOX_ANALYTICS_HOST";

    // Runs once per process, whatever its outcome: a later call never retries.
    static void configureIfNeeded();
    // Sends "app_installed" the first time analytics are on for this
    // installation. The flag is written once the client has queued the event,
    // so a run that ends before that sends it again next time.
    static void trackAppInstalledOnceIfNeeded();
    // Sends one event: without properties when none are given, with them (even
    // an empty map) when they are.
    static void track(const QString& name, const std::optional<QVariantMap>& properties = std::nullopt);

    // Guards the tracking switch and the one-time set-up flag. Set-up runs
    // under it, so an event sent meanwhile waits and then goes out.
    static QMutex& enabledLock();
    // Whether set-up configured the client with a token; read under the lock.
    static bool trackingEnabled();

    // Puts both flags back to off so a test can configure again.
    static void resetForTesting();
    // Blocks until every event sent so far has been handed to the client.
    static void waitForPendingSends();

private:
    // Both guarded by enabledLock().
    static bool didRunConfigure_;
    static bool trackingEnabled_;
    static bool appInstalledPosted_;
};

} // namespace analytics
