#pragma once

#include "analytics/AnalyticsMulticastCallback.h"
#include "analytics/flags/AnalyticsFeatureFlagResult.h"
#include "analytics/sdk/AnalyticsSerialQueue.h"

#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace analytics {

class AnalyticsApi;
class AnalyticsConfig;
class AnalyticsStorage;

// What the analytics service decides for this installation: the project's
// remote configuration, the feature flags for the current user with their
// payloads and details, the error-tracking switch, the replay linkage, and
// the person and group properties sent when flags are evaluated. Each is kept
// in memory behind its own lock and written through to storage, so the last
// known values are there at the next launch before the network answers.
//
// Made by create(), which loads every cache and starts the remote
// configuration fetch. Every operation may be called from any thread.
class AnalyticsRemoteConfig : public std::enable_shared_from_this<AnalyticsRemoteConfig> {
public:
    using FlagsCallback = std::function<void(const std::optional<QVariantMap>& flags)>;
    using PropertiesProvider = std::function<QVariantMap()>;
    using FlagCalledReporter = std::function<void(const QString& key, const std::optional<QVariant>& value)>;

    static std::shared_ptr<AnalyticsRemoteConfig> create(std::shared_ptr<AnalyticsConfig> config,
                                                         std::shared_ptr<AnalyticsStorage> storage,
                                                         std::shared_ptr<AnalyticsApi> api,
                                                         PropertiesProvider defaultPersonProperties,
                                                         FlagCalledReporter featureFlagCalled = {});
    ~AnalyticsRemoteConfig();

    static constexpr const char* kHasFeatureFlagsKey = "hasFeatureFlags";

    // Loads the flags for the current identity. At most one request is in
    // flight; a reload meanwhile waits for it, and a further one replaces the
    // waiting one, whose callback then gets the cached flags at once.
    void reloadFeatureFlags(FlagsCallback callback = {});
    void loadFeatureFlags(const QString& distinctId, const std::optional<QString>& anonymousId,
                          const std::optional<QString>& deviceId, const QVariantMap& groups, FlagsCallback callback);

    std::optional<AnalyticsFeatureFlagResult> getFeatureFlagResult(const QString& key);

    // Cached values, from memory or else from storage.
    std::optional<QVariantMap> cachedFeatureFlags();
    std::optional<QVariantMap> cachedFlagDetails();
    std::optional<QVariantMap> cachedRemoteConfig();
    std::optional<QString> requestId();
    std::optional<qint64> evaluatedAt();

    void setPersonPropertiesForFlags(const QVariantMap& properties);
    void resetPersonPropertiesForFlags();
    QVariantMap personPropertiesForFlags();
    // Both take groupPropertiesForFlagsLock() themselves.
    void setGroupPropertiesForFlags(const QString& groupType, const QVariantMap& properties);
    void resetGroupPropertiesForFlags(const std::optional<QString>& groupType);
    QVariantMap groupPropertiesForFlags();

    bool autoCaptureExceptions();
    bool sessionReplayFlagActive();
    bool remoteConfigDidFetch();
    bool isLoadingFeatureFlags();

    // Forgets flags, replay and error-tracking state and the properties for
    // flags; the stored remote configuration stays for the next launch.
    void clear();

    AnalyticsMulticastCallback<std::optional<QVariantMap>>& onRemoteConfigLoaded() { return onRemoteConfigLoaded_; }
    AnalyticsMulticastCallback<std::optional<QVariantMap>>& onFeatureFlagsLoaded() { return onFeatureFlagsLoaded_; }

    void setCanReloadFlagsForTesting(bool can) { canReloadFlagsForTesting_ = can; }
    // Blocks until the answers handed to the internal queue so far are handled.
    void waitForIdleForTesting() { dispatchQueue_.waitForIdle(); }

private:
    AnalyticsRemoteConfig(std::shared_ptr<AnalyticsConfig> config, std::shared_ptr<AnalyticsStorage> storage,
                          std::shared_ptr<AnalyticsApi> api, PropertiesProvider defaultPersonProperties,
                          FlagCalledReporter featureFlagCalled);

    struct PendingRequest {
        QString distinctId;
        std::optional<QString> anonymousId;
        std::optional<QString> deviceId;
        QVariantMap groups;
        FlagsCallback callback;
    };

    void start();
    void loadCachedPropertiesForFlags();
    void preloadSessionReplay();
    void preloadErrorTrackingConfig();
    void preloadRemoteConfig();
    void reloadRemoteConfig(std::function<void(const std::optional<QVariantMap>&)> callback);
    void onRemoteConfigFetched(const std::optional<QVariantMap>& remoteConfig);
    void processErrorTrackingConfig(const std::optional<QVariantMap>& remoteConfig);
    void preloadFeatureFlags();
    void handleFlagsAnswer(const std::optional<QVariantMap>& answer, FlagsCallback callback);
    void finishFlagsRequest(const std::optional<QVariantMap>& flags, const FlagsCallback& callback);
    void notifyFeatureFlags(const std::optional<QVariantMap>& flags);
    QVariantMap personPropertiesForRequest();
    void clearFeatureFlags();

    // Cache readers; the caller holds the guarding lock.
    std::optional<QVariantMap> cachedFeatureFlagsLocked();
    std::optional<QVariantMap> cachedPayloadsLocked();
    std::optional<QVariantMap> cachedFlagsLocked();
    std::optional<QVariantMap> cachedRemoteConfigLocked();

    std::shared_ptr<AnalyticsConfig> config_;
    std::shared_ptr<AnalyticsStorage> storage_;
    std::shared_ptr<AnalyticsApi> api_;
    PropertiesProvider getDefaultPersonProperties_;
    FlagCalledReporter featureFlagCalled_;

    QMutex loadingFeatureFlagsLock_;
    bool loadingFeatureFlags_ = false;
    std::optional<PendingRequest> pendingFeatureFlagsRequest_;

    QMutex featureFlagsLock_;
    std::optional<QVariantMap> flags_;
    std::optional<QVariantMap> featureFlags_;
    std::optional<QVariantMap> featureFlagPayloads_;
    std::optional<QString> requestId_;
    std::optional<qint64> evaluatedAt_;

    QMutex sessionReplayLock_;
    bool sessionReplayFlagActive_ = false;
    std::optional<double> recordingSampleRate_;
    std::optional<double> recordingMinimumDuration_;

    QMutex errorTrackingLock_;
    bool autoCaptureExceptions_ = false;

    QMutex remoteConfigLock_;
    std::optional<QVariantMap> remoteConfig_;

    QMutex loadingRemoteConfigLock_;
    bool loadingRemoteConfig_ = false;
    bool remoteConfigDidFetch_ = false;

    QMutex personPropertiesForFlagsLock_;
    QVariantMap personPropertiesForFlags_;
    QMutex groupPropertiesForFlagsLock_;
    QVariantMap groupPropertiesForFlags_; // group type to a map of properties

    std::atomic<bool> canReloadFlagsForTesting_{true};
    AnalyticsMulticastCallback<std::optional<QVariantMap>> onRemoteConfigLoaded_;
    AnalyticsMulticastCallback<std::optional<QVariantMap>> onFeatureFlagsLoaded_;
    AnalyticsSerialQueue dispatchQueue_{QStringLiteral("analytics-flags")};
};

} // namespace analytics
