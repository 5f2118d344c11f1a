#pragma once

#include "analytics/AnalyticsErrorTrackingConfig.h"
#include "analytics/AnalyticsEvent.h"

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariantMap>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace analytics {

class AnalyticsStorageManager;

// Network restriction of uploads.
enum class AnalyticsDataMode { wifiOnly = 0, cellular = 1, any = 2 };
std::optional<AnalyticsDataMode> analyticsDataMode(int raw);

// When events process the person profile.
enum class AnalyticsPersonProfiles { never = 0, always = 1, identifiedOnly = 2 };
std::optional<AnalyticsPersonProfiles> analyticsPersonProfiles(int raw);

// Replaces the property map of each event as it is built.
class AnalyticsPropertiesSanitizer {
public:
    virtual ~AnalyticsPropertiesSanitizer() = default;
    virtual QVariantMap sanitize(const QVariantMap& properties) = 0;
};

// A hook that edits an event before it is queued; nothing drops the event.
using BeforeSendBlock = std::function<std::optional<AnalyticsEvent>(AnalyticsEvent)>;

// A hook in a box, so that a list of hooks can be handed over as objects.
class BoxedBeforeSendBlock {
public:
    explicit BoxedBeforeSendBlock(BeforeSendBlock block)
        : block(std::move(block))
    {
    }
    BeforeSendBlock block;
};

// Settings of the ingestion client's sessions.
struct AnalyticsUrlSessionConfiguration {
    // Sent with every request besides the client's own headers.
    QList<QPair<QByteArray, QByteArray>> additionalHeaders;
    std::optional<QNetworkProxy> proxy;
};

// Rage-click detection settings; nothing reads them on this platform.
struct AnalyticsRageClickConfig {
    bool enabled = true;
    double thresholdPoints = 30.0;
    double timeoutInterval = 1.0;
    int minimumTapCount = 3;
};

// What the analytics client is set up with. One instance is shared by the
// client and everything it creates; it is filled in on one thread before
// set-up and only read afterwards (set-up itself writes optOut and
// storageManager).
class AnalyticsConfig {
public:
    // The analytics service's cloud ingestion hosts (24 characters each).
    static constexpr const char* kDefaultHost = "https://ingest.vellox.io";
    static constexpr const char* kEuHost = "https://eu-ing.vellox.io";
    static QString defaultHost() { return QString::fromLatin1(kDefaultHost); }

    // The token is stored trimmed of white space and newlines; an empty token
    // is kept as it is, and set-up decides what to make of it.
    explicit AnalyticsConfig(const QString& projectToken);
    // A blank host, or one that is not a valid URL, means the default host.
    AnalyticsConfig(const QString& projectToken, const QString& host);
    // Deprecated spellings of the two above; they log that they are.
    static std::shared_ptr<AnalyticsConfig> withApiKey(const QString& apiKey);
    static std::shared_ptr<AnalyticsConfig> withApiKey(const QString& apiKey, const QString& host);

    const QString& projectToken() const { return projectToken_; }
    const QUrl& host() const { return host_; }
    // Deprecated alias of projectToken(); logs that it is.
    QString apiKey() const;

    int flushAt() const { return flushAt_; }
    void setFlushAt(int count) { flushAt_ = count; }
    int maxQueueSize() const { return maxQueueSize_; }
    void setMaxQueueSize(int count) { maxQueueSize_ = count; }
    int maxBatchSize() const { return maxBatchSize_; }
    void setMaxBatchSize(int count) { maxBatchSize_ = count; }
    double flushIntervalSeconds() const { return flushIntervalSeconds_; }
    void setFlushIntervalSeconds(double seconds) { flushIntervalSeconds_ = seconds; }
    AnalyticsDataMode dataMode() const { return dataMode_; }
    void setDataMode(AnalyticsDataMode mode) { dataMode_ = mode; }

    // Largest stored event and largest upload body before compression. An
    // event over the cap is refused; a batch stops short of the cap.
    qint64 maxEventBytes() const { return maxEventBytes_; }
    void setMaxEventBytes(qint64 bytes) { maxEventBytes_ = bytes; }
    qint64 maxBatchBytes() const { return maxBatchBytes_; }
    void setMaxBatchBytes(qint64 bytes) { maxBatchBytes_ = bytes; }

    // Sending "$feature_flag_called" whenever a flag is read.
    bool sendFeatureFlagEvent() const { return sendFeatureFlagEvent_; }
    void setSendFeatureFlagEvent(bool on) { sendFeatureFlagEvent_ = on; }
    // Loading the feature flags during set-up.
    bool preloadFeatureFlags() const { return preloadFeatureFlags_; }
    void setPreloadFeatureFlags(bool on) { preloadFeatureFlags_ = on; }
    // Sending "Application Installed", "Application Opened" and the like by itself.
    bool captureApplicationLifecycleEvents() const { return captureApplicationLifecycleEvents_; }
    void setCaptureApplicationLifecycleEvents(bool on) { captureApplicationLifecycleEvents_ = on; }
    // Sending "$screen" events by itself.
    bool captureScreenViews() const { return captureScreenViews_; }
    void setCaptureScreenViews(bool on) { captureScreenViews_ = on; }
    bool enableSwizzling() const { return enableSwizzling_; }
    void setEnableSwizzling(bool on) { enableSwizzling_ = on; }
    bool debug() const { return debug_; }
    void setDebug(bool on) { debug_ = on; }
    bool optOut() const { return optOut_; }
    void setOptOut(bool on) { optOut_ = on; }

    // Turns a fresh time-ordered id into the anonymous id to store.
    const std::function<QUuid(QUuid)>& getAnonymousId() const { return getAnonymousId_; }
    void setGetAnonymousId(std::function<QUuid(QUuid)> transform) { getAnonymousId_ = std::move(transform); }
    bool reuseAnonymousId() const { return reuseAnonymousId_; }
    void setReuseAnonymousId(bool on) { reuseAnonymousId_ = on; }

    const std::shared_ptr<AnalyticsPropertiesSanitizer>& propertiesSanitizer() const { return propertiesSanitizer_; }
    void setPropertiesSanitizer(std::shared_ptr<AnalyticsPropertiesSanitizer> s) { propertiesSanitizer_ = std::move(s); }
    AnalyticsPersonProfiles personProfiles() const { return personProfiles_; }
    void setPersonProfiles(AnalyticsPersonProfiles profiles) { personProfiles_ = profiles; }
    bool setDefaultPersonProperties() const { return setDefaultPersonProperties_; }
    void setSetDefaultPersonProperties(bool on) { setDefaultPersonProperties_ = on; }
    const std::optional<QStringList>& evaluationContexts() const { return evaluationContexts_; }
    void setEvaluationContexts(std::optional<QStringList> contexts) { evaluationContexts_ = std::move(contexts); }
    // Deprecated alias of evaluationContexts; storing a value logs that it is.
    const std::optional<QStringList>& evaluationEnvironments() const { return evaluationContexts_; }
    void setEvaluationEnvironments(std::optional<QStringList> environments);
    const std::optional<QString>& appGroupIdentifier() const { return appGroupIdentifier_; }
    void setAppGroupIdentifier(std::optional<QString> id) { appGroupIdentifier_ = std::move(id); }
    const QString& snapshotEndpoint() const { return snapshotEndpoint_; }
    void setSnapshotEndpoint(const QString& path) { snapshotEndpoint_ = path; }
    AnalyticsErrorTrackingConfig& errorTrackingConfig() const { return *errorTrackingConfig_; }
    const std::optional<AnalyticsUrlSessionConfiguration>& urlSessionConfiguration() const { return urlSession_; }
    void setUrlSessionConfiguration(std::optional<AnalyticsUrlSessionConfiguration> c) { urlSession_ = std::move(c); }
    // Deprecated: always on; turning it off only logs.
    bool remoteConfig() const { return true; }
    void setRemoteConfig(bool on);
    bool surveys() const { return surveys_; }
    void setSurveys(bool on) { surveys_ = on; }

    bool disableReachabilityForTesting() const { return disableReachabilityForTesting_; }
    void setDisableReachabilityForTesting(bool on) { disableReachabilityForTesting_ = on; }
    bool disableQueueTimerForTesting() const { return disableQueueTimerForTesting_; }
    void setDisableQueueTimerForTesting(bool on) { disableQueueTimerForTesting_ = on; }
    bool disableFlushOnBackgroundForTesting() const { return disableFlushOnBackgroundForTesting_; }
    void setDisableFlushOnBackgroundForTesting(bool on) { disableFlushOnBackgroundForTesting_ = on; }
    bool disableRemoteConfigForTesting() const { return disableRemoteConfigForTesting_; }
    void setDisableRemoteConfigForTesting(bool on) { disableRemoteConfigForTesting_ = on; }

    // Set by set-up to the instance's identity store.
    const std::shared_ptr<AnalyticsStorageManager>& storageManager() const { return storageManager_; }
    void setStorageManager(std::shared_ptr<AnalyticsStorageManager> m) { storageManager_ = std::move(m); }

    // Replaces the whole before-send chain; the hooks run in the given order.
    void setBeforeSend(std::vector<BeforeSendBlock> hooks);
    void setBeforeSend(std::initializer_list<BeforeSendBlock> hooks) { setBeforeSend(std::vector(hooks)); }
    void setBeforeSend(const std::vector<std::shared_ptr<BoxedBeforeSendBlock>>& boxed);
    // Runs the chain; nothing when a hook dropped the event.
    std::optional<AnalyticsEvent> beforeSend(AnalyticsEvent event) const;

private:
    QString projectToken_;
    QUrl host_;
    int flushAt_ = 20;
    int maxQueueSize_ = 1000;
    int maxBatchSize_ = 50;
    double flushIntervalSeconds_ = 30.0;
    AnalyticsDataMode dataMode_ = AnalyticsDataMode::any;
    qint64 maxEventBytes_ = 1024 * 1024;
    qint64 maxBatchBytes_ = 8 * 1024 * 1024;
    bool sendFeatureFlagEvent_ = true;
    bool preloadFeatureFlags_ = true;
    bool captureApplicationLifecycleEvents_ = true;
    bool captureScreenViews_ = true;
    bool enableSwizzling_ = true;
    bool debug_ = false;
    bool optOut_ = false;
    std::function<QUuid(QUuid)> getAnonymousId_ = [](QUuid id) { return id; };
    bool reuseAnonymousId_ = false;
    std::shared_ptr<AnalyticsPropertiesSanitizer> propertiesSanitizer_;
    AnalyticsPersonProfiles personProfiles_ = AnalyticsPersonProfiles::identifiedOnly;
    bool setDefaultPersonProperties_ = true;
    std::optional<QStringList> evaluationContexts_;
    std::optional<QString> appGroupIdentifier_;
    QString snapshotEndpoint_ = QStringLiteral("/s/");
    std::shared_ptr<AnalyticsErrorTrackingConfig> errorTrackingConfig_ = std::make_shared<AnalyticsErrorTrackingConfig>();
    std::optional<AnalyticsUrlSessionConfiguration> urlSession_;
    bool disableReachabilityForTesting_ = false;
    bool disableQueueTimerForTesting_ = false;
    bool disableFlushOnBackgroundForTesting_ = false;
    bool disableRemoteConfigForTesting_ = false;
    std::shared_ptr<AnalyticsStorageManager> storageManager_;
    bool surveys_ = true;
    std::vector<BeforeSendBlock> beforeSend_;
};

} // namespace analytics
