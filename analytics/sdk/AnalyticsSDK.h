#pragma once

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsMulticastCallback.h"
#include "analytics/flags/AnalyticsFeatureFlagResult.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace analytics {

class AnalyticsApi;
class AnalyticsContext;
class AnalyticsIntegration;
class AnalyticsQueue;
class AnalyticsRemoteConfig;
class AnalyticsReplayQueue;
class AnalyticsSessionManager;
class AnalyticsStorage;
class Reachability;

// The analytics SDK's front object. set-up builds its collaborators (storage,
// identity, remote configuration, reachability, context, queues, session) and
// every event goes through one funnel, captureInternal(), which stamps it with
// context, identity, session, super properties, groups and flags, runs the
// before-send hooks and stores it in the persistent send queue on the calling
// thread.
//
// Every operation may be called from any thread. Before set-up, and after
// close(), operations do nothing (and say so in the debug log).
class AnalyticsSDK : public std::enable_shared_from_this<AnalyticsSDK> {
public:
    using Properties = std::optional<QVariantMap>;
    using Groups = std::optional<QVariantMap>; // group type to group key

    // The process-wide instance, made over an empty token and disabled until
    // set up.
    static std::shared_ptr<AnalyticsSDK> shared();
    // A new instance set up with the configuration; shared() is not touched.
    static std::shared_ptr<AnalyticsSDK> with(std::shared_ptr<AnalyticsConfig> config);
    ~AnalyticsSDK();

    void setup(std::shared_ptr<AnalyticsConfig> config);
    void debug(bool enabled);
    bool isEnabled() const { return enabled_.load(); }
    std::shared_ptr<AnalyticsConfig> config() const;

    // Capture.
    void capture(const QString& event, const Properties& properties = std::nullopt,
                 const Properties& userProperties = std::nullopt, const Properties& userPropertiesSetOnce = std::nullopt,
                 const Groups& groups = std::nullopt);
    void capture(const QString& event, const std::optional<QString>& distinctId, const Properties& properties,
                 const Properties& userProperties, const Properties& userPropertiesSetOnce, const Groups& groups,
                 const std::optional<QDateTime>& timestamp = std::nullopt);
    void screen(const QString& title, const Properties& properties = std::nullopt);
    void alias(const QString& alias);
    void group(const QString& type, const QString& key, const Properties& groupProperties = std::nullopt);

    // The one funnel of every event.
    void captureInternal(const QString& event, const std::optional<QString>& distinctId, const Properties& properties,
                         const Properties& userProperties, const Properties& userPropertiesSetOnce,
                         const Groups& groups, const std::optional<QDateTime>& timestamp, bool skipBuildProperties);

    // Identity (reads answer empty before set-up).
    QString getDistinctId();
    QString getAnonymousId();
    QString getDeviceId();
    std::optional<QString> getSessionId();
    void startSession();
    void endSession();
    void flush();
    void identify(const QString& distinctId, const Properties& userProperties = std::nullopt,
                  const Properties& userPropertiesSetOnce = std::nullopt);
    void setPersonProperties(const Properties& userPropertiesToSet,
                             const Properties& userPropertiesSetOnce = std::nullopt);
    void registerProperties(const QVariantMap& properties);
    void unregisterProperties(const QString& key);
    QVariantMap getRegisteredProperties();
    QVariantMap getGroups();
    void reset();
    void optIn();
    void optOut();
    bool isOptOut();
    void close();

    // Feature flags.
    std::optional<AnalyticsFeatureFlagResult> getFeatureFlagResult(const QString& key,
                                                                   std::optional<bool> sendFeatureFlagEvent = {});
    std::optional<QVariant> getFeatureFlag(const QString& key, std::optional<bool> sendFeatureFlagEvent = {});
    bool isFeatureEnabled(const QString& key, std::optional<bool> sendFeatureFlagEvent = {});
    std::optional<QVariant> getFeatureFlagPayload(const QString& key);
    void reloadFeatureFlags(std::function<void()> done = {});
    void setPersonPropertiesForFlags(const QVariantMap& properties, bool reloadFeatureFlags = true);
    void resetPersonPropertiesForFlags(bool reloadFeatureFlags = true);
    void setGroupPropertiesForFlags(const QString& groupType, const QVariantMap& properties,
                                    bool reloadFeatureFlags = true);
    void resetGroupPropertiesForFlags(const std::optional<QString>& groupType = std::nullopt,
                                      bool reloadFeatureFlags = true);
    void captureFeatureView(const QString& flag, const std::optional<QString>& flagVariant = std::nullopt);
    void captureFeatureInteraction(const QString& flag, const std::optional<QString>& flagVariant = std::nullopt);

    // Integrations.
    void installIntegrations();
    void uninstallIntegrations();
    std::vector<std::shared_ptr<AnalyticsIntegration>> installedIntegrations();
    void captureDeepLink(const QUrl& url, const std::optional<QString>& referrer = std::nullopt);
    void captureDeepLinks(const QList<QUrl>& urls);

    // Subscribers told of every event handed to a queue, on the capturing thread.
    AnalyticsMulticastCallback<AnalyticsEvent>& onEventCaptured() { return onEventCaptured_; }

    // Internal operations shared by the parts of the SDK.
    QVariantMap buildProperties(const QString& distinctId, const Properties& properties,
                                const Properties& userProperties, const Properties& userPropertiesSetOnce,
                                const Groups& groups, bool appendSharedProps, const std::optional<QDateTime>& timestamp);
    std::optional<AnalyticsEvent> buildEvent(const QString& event, const QString& distinctId,
                                             const QVariantMap& properties, const QDateTime& timestamp);
    QVariantMap dynamicContext();
    bool hasPersonProcessing();
    bool requirePersonProcessing(const QString& functionName);
    QVariantMap groups(const QVariantMap& newGroups);
    void groupIdentify(const QString& type, const QString& key, const Properties& groupProperties);
    void notifyContextDidChange();
    QString getPersonPropertiesHash(const QString& distinctId, const Properties& userPropertiesToSet,
                                    const Properties& userPropertiesToSetOnce);
    void setPersonPropertiesForFlagsIfNeeded(const Properties& userProperties, const Properties& userPropertiesSetOnce);
    void setGroupPropertiesForFlagsIfNeeded(const QString& type, const Properties& groupProperties);
    void reportFeatureFlagCalled(const QString& key, const std::optional<QVariant>& value);

    // Collaborators, for tests and integrations.
    std::shared_ptr<AnalyticsRemoteConfig> remoteConfig() const;
    std::shared_ptr<AnalyticsQueue> queue() const;
    std::shared_ptr<AnalyticsStorage> storage() const;
    std::shared_ptr<AnalyticsSessionManager> sessionManager() const { return sessionManager_; }

private:
    explicit AnalyticsSDK(std::shared_ptr<AnalyticsConfig> config);
    void setupLocked(std::shared_ptr<AnalyticsConfig> config);
    void uninstallIntegrationsLocked();
    void installIntegrationsLocked();
    std::optional<QVariant> featureFlagValue(const QString& key, std::optional<bool> sendEvent);
    void captureFeatureEvent(const QString& operation, const QString& event, const QString& personPrefix,
                             const QString& flag, const std::optional<QString>& flagVariant);
    // Hands a built event to its queue and to the subscribers.
    void enqueue(const AnalyticsEvent& event);
    bool gate(bool checkOptOut) const;

    // The collaborators one event needs, read together under stateLock_ so a
    // capture never sees half of a set-up or a close.
    struct Snapshot {
        std::shared_ptr<AnalyticsConfig> config;
        std::shared_ptr<AnalyticsQueue> queue;
        std::shared_ptr<AnalyticsReplayQueue> replayQueue;
        std::shared_ptr<AnalyticsStorage> storage;
        std::shared_ptr<AnalyticsRemoteConfig> remoteConfig;
        std::shared_ptr<AnalyticsContext> context;
    };
    Snapshot snapshot() const;

    std::atomic<bool> enabled_{false};
    // Mirrors config()->optOut() for lock-free reads on capturing threads.
    std::atomic<bool> optOut_{false};

    QMutex setupLock_;
    QMutex optOutLock_;
    mutable QMutex stateLock_;
    std::shared_ptr<AnalyticsConfig> config_;
    std::shared_ptr<AnalyticsQueue> queue_;
    std::shared_ptr<AnalyticsReplayQueue> replayQueue_;
    std::shared_ptr<AnalyticsStorage> storage_;
    std::shared_ptr<Reachability> reachability_;
    std::shared_ptr<AnalyticsRemoteConfig> remoteConfig_;
    std::shared_ptr<AnalyticsContext> context_;

    // Super properties and groups live in memory once read and are written
    // through, so building an event reads no file.
    QMutex personPropsLock_;
    std::optional<QVariantMap> registeredProperties_;
    QMutex groupsLock_;
    std::optional<QVariantMap> groups_;

    QMutex cachedPersonPropertiesLock_;
    std::optional<QString> cachedPersonPropertiesHash_;
    QMutex flagCallReportedLock_;
    QHash<QString, QList<std::optional<QVariant>>> flagCallReported_;

    QMutex integrationsLock_;
    std::vector<std::shared_ptr<AnalyticsIntegration>> installedIntegrations_;

    std::shared_ptr<AnalyticsSessionManager> sessionManager_;
    AnalyticsMulticastCallback<AnalyticsEvent> onEventCaptured_;
    std::shared_ptr<RegistrationToken> sessionIdChangedToken_;
    std::shared_ptr<RegistrationToken> didEnterBackgroundToken_;

    static QMutex projectTokensLock_;
    static QSet<QString> projectTokens_;
};

} // namespace analytics
