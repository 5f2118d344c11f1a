#include "AnalyticsRemoteConfig.h"

#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/AnalyticsStorageManager.h"
#include "analytics/flags/AnalyticsFlagsAnswer.h"
#include "analytics/sdk/AnalyticsNotifications.h"

#include <QTimeZone>

namespace analytics {

using Key = AnalyticsStorage::StorageKey;
using namespace flags;

namespace {

std::optional<QVariantMap> readObject(AnalyticsStorage& storage, Key key)
{
    const std::optional<QVariant> value = storage.getJson(key);
    if (!value || !isJsonObject(*value))
        return std::nullopt;
    return value->toMap();
}

void writeObject(AnalyticsStorage& storage, Key key, const QVariantMap& value)
{
    storage.setJson(key, value);
}

void removeKey(AnalyticsStorage& storage, Key key)
{
    storage.setData(key, std::nullopt);
}

constexpr const char* kQuotaWarning =
    "[Analytics] Warning: Feature flags quota limit reached - flags could not be updated. "
    "See https://vellox.io/docs/billing/limits";

} // namespace

std::shared_ptr<AnalyticsRemoteConfig> AnalyticsRemoteConfig::create(std::shared_ptr<AnalyticsConfig> config,
                                                                     std::shared_ptr<AnalyticsStorage> storage,
                                                                     std::shared_ptr<AnalyticsApi> api,
                                                                     PropertiesProvider defaultPersonProperties,
                                                                     FlagCalledReporter featureFlagCalled)
{
    std::shared_ptr<AnalyticsRemoteConfig> remote(new AnalyticsRemoteConfig(
        std::move(config), std::move(storage), std::move(api), std::move(defaultPersonProperties),
        std::move(featureFlagCalled)));
    remote->start();
    return remote;
}

AnalyticsRemoteConfig::AnalyticsRemoteConfig(std::shared_ptr<AnalyticsConfig> config,
                                             std::shared_ptr<AnalyticsStorage> storage,
                                             std::shared_ptr<AnalyticsApi> api,
                                             PropertiesProvider defaultPersonProperties,
                                             FlagCalledReporter featureFlagCalled)
    : config_(std::move(config))
    , storage_(std::move(storage))
    , api_(std::move(api))
    , getDefaultPersonProperties_(std::move(defaultPersonProperties))
    , featureFlagCalled_(std::move(featureFlagCalled))
{
}

AnalyticsRemoteConfig::~AnalyticsRemoteConfig() = default;

void AnalyticsRemoteConfig::start()
{
    loadCachedPropertiesForFlags();
    preloadSessionReplay();
    preloadErrorTrackingConfig();
    preloadRemoteConfig();
}

void AnalyticsRemoteConfig::loadCachedPropertiesForFlags()
{
    {
        QMutexLocker lock(&personPropertiesForFlagsLock_);
        if (auto stored = readObject(*storage_, Key::personPropertiesForFlags))
            personPropertiesForFlags_ = *stored;
    }
    QMutexLocker lock(&groupPropertiesForFlagsLock_);
    if (auto stored = readObject(*storage_, Key::groupPropertiesForFlags)) {
        bool allObjects = true;
        for (const QVariant& group : std::as_const(*stored))
            allObjects = allObjects && isJsonObject(group);
        if (allObjects)
            groupPropertiesForFlags_ = *stored;
    }
}

void AnalyticsRemoteConfig::preloadSessionReplay()
{
    std::optional<QVariantMap> replay;
    QVariantMap flagValues;
    {
        QMutexLocker lock(&featureFlagsLock_);
        replay = readObject(*storage_, Key::sessionReplay);
        flagValues = cachedFeatureFlagsLocked().value_or(QVariantMap());
    }
    if (!replay)
        return;
    const QVariant endpoint = replay->value(QStringLiteral("endpoint"));
    if (isJsonString(endpoint))
        config_->setSnapshotEndpoint(endpoint.toString());
    QMutexLocker lock(&sessionReplayLock_);
    FlagReporter report;
    if (config_->sendFeatureFlagEvent() && featureFlagCalled_)
        report = [this](const QString& key, const QVariant& value) { featureFlagCalled_(key, value); };
    sessionReplayFlagActive_ = isRecordingActive(flagValues, *replay, report);
}

void AnalyticsRemoteConfig::preloadErrorTrackingConfig()
{
    const std::optional<QVariantMap> stored = readObject(*storage_, Key::errorTracking);
    if (!stored)
        return;
    const QVariant autocapture = stored->value(QStringLiteral("autocaptureExceptions"));
    QMutexLocker lock(&errorTrackingLock_);
    autoCaptureExceptions_ = isJsonBool(autocapture) && autocapture.toBool();
}

void AnalyticsRemoteConfig::preloadRemoteConfig()
{
    {
        QMutexLocker lock(&remoteConfigLock_);
        remoteConfig_ = cachedRemoteConfigLocked();
    }
    if (config_->disableRemoteConfigForTesting())
        return;
    std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
    dispatchQueue_.post([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->reloadRemoteConfig([weak](const std::optional<QVariantMap>& remoteConfig) {
            auto self = weak.lock();
            if (!self)
                return;
            if (!remoteConfig) {
                analyticsLog(QStringLiteral("[Analytics] Remote config response is missing, skipping loading flags"));
                self->notifyFeatureFlags(std::nullopt);
                return;
            }
            const QVariant has = remoteConfig->value(QString::fromLatin1(kHasFeatureFlagsKey));
            if (isJsonBool(has) && !has.toBool()) {
                analyticsLog(
                    QStringLiteral("[Analytics] hasFeatureFlags is false, clearing flags and skipping loading flags"));
                self->clearFeatureFlags();
                self->notifyFeatureFlags(QVariantMap());
                return;
            }
            if (self->config_->preloadFeatureFlags())
                self->preloadFeatureFlags();
        });
    });
}

void AnalyticsRemoteConfig::reloadRemoteConfig(std::function<void(const std::optional<QVariantMap>&)> callback)
{
    {
        QMutexLocker lock(&loadingRemoteConfigLock_);
        loadingRemoteConfig_ = true;
    }
    std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
    api_->remoteConfig([weak, callback = std::move(callback)](const std::optional<QVariantMap>& answer,
                                                              const std::optional<QString>&) {
        // Handled on the queue, never on the client's network thread: if this
        // is the last hold on the configuration, it must not end there, where
        // the client it owns cannot stop its own thread.
        auto self = weak.lock();
        if (!self)
            return;
        // Moved in, so no hold is left on this thread once the job is queued.
        AnalyticsSerialQueue& queue = self->dispatchQueue_;
        queue.post([self = std::move(self), answer, callback] {
            self->onRemoteConfigFetched(answer);
            if (callback)
                callback(answer);
        });
    });
}

void AnalyticsRemoteConfig::onRemoteConfigFetched(const std::optional<QVariantMap>& remoteConfig)
{
    if (remoteConfig) {
        {
            QMutexLocker lock(&remoteConfigLock_);
            remoteConfig_ = remoteConfig;
            writeObject(*storage_, Key::remoteConfig, *remoteConfig);
        }
        processErrorTrackingConfig(remoteConfig);
        std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
        postToMainThread([weak, remoteConfig] {
            if (auto self = weak.lock())
                self->onRemoteConfigLoaded_.invoke(remoteConfig);
        });
    }
    QMutexLocker lock(&loadingRemoteConfigLock_);
    remoteConfigDidFetch_ = true;
    loadingRemoteConfig_ = false;
}

void AnalyticsRemoteConfig::processErrorTrackingConfig(const std::optional<QVariantMap>& remoteConfig)
{
    const QVariant errorTracking = remoteConfig ? remoteConfig->value(QStringLiteral("errorTracking")) : QVariant();
    if (isJsonBool(errorTracking)) {
        {
            QMutexLocker lock(&errorTrackingLock_);
            autoCaptureExceptions_ = errorTracking.toBool();
        }
        if (!errorTracking.toBool())
            removeKey(*storage_, Key::errorTracking);
        return;
    }
    if (isJsonObject(errorTracking)) {
        const QVariant autocapture = errorTracking.toMap().value(QStringLiteral("autocaptureExceptions"));
        {
            QMutexLocker lock(&errorTrackingLock_);
            autoCaptureExceptions_ = isJsonBool(autocapture) && autocapture.toBool();
        }
        writeObject(*storage_, Key::errorTracking, errorTracking.toMap());
        return;
    }
    QMutexLocker lock(&errorTrackingLock_);
    autoCaptureExceptions_ = false;
}

void AnalyticsRemoteConfig::preloadFeatureFlags()
{
    {
        QMutexLocker lock(&featureFlagsLock_);
        cachedFeatureFlagsLocked();
    }
    if (!config_->preloadFeatureFlags())
        return;
    std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
    dispatchQueue_.post([weak] {
        if (auto self = weak.lock())
            self->reloadFeatureFlags();
    });
}

void AnalyticsRemoteConfig::notifyFeatureFlags(const std::optional<QVariantMap>& flags)
{
    std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
    postToMainThread([weak, flags] {
        if (auto self = weak.lock())
            self->onFeatureFlagsLoaded_.invoke(flags);
        postNotification(QString::fromLatin1(kDidReceiveFeatureFlagsNotification));
    });
}

void AnalyticsRemoteConfig::reloadFeatureFlags(FlagsCallback callback)
{
    if (!canReloadFlagsForTesting_)
        return;
    const std::shared_ptr<AnalyticsStorageManager> identity = config_->storageManager();
    if (!identity) {
        analyticsLog(
            QStringLiteral("[Analytics] No AnalyticsStorageManager found in config, skipping loading feature flags"));
        if (callback)
            callback(std::nullopt);
        return;
    }
    QVariantMap groups;
    {
        QMutexLocker lock(&featureFlagsLock_);
        if (auto stored = readObject(*storage_, Key::groups)) {
            bool allTexts = true;
            for (const QVariant& value : std::as_const(*stored))
                allTexts = allTexts && isJsonString(value);
            if (allTexts)
                groups = *stored;
        }
    }
    const QString distinctId = identity->getDistinctId();
    std::optional<QString> anonymousId;
    if (!config_->reuseAnonymousId())
        anonymousId = identity->getAnonymousId();
    std::optional<QString> deviceId = identity->getDeviceId();
    if (deviceId->isEmpty())
        deviceId.reset();
    loadFeatureFlags(distinctId, anonymousId, deviceId, groups, std::move(callback));
}

void AnalyticsRemoteConfig::loadFeatureFlags(const QString& distinctId, const std::optional<QString>& anonymousId,
                                             const std::optional<QString>& deviceId, const QVariantMap& groups,
                                             FlagsCallback callback)
{
    std::optional<PendingRequest> superseded;
    bool deferred = false;
    {
        QMutexLocker lock(&loadingFeatureFlagsLock_);
        if (loadingFeatureFlags_) {
            deferred = true;
            superseded = std::move(pendingFeatureFlagsRequest_);
            pendingFeatureFlagsRequest_ = PendingRequest{distinctId, anonymousId, deviceId, groups, std::move(callback)};
        } else {
            loadingFeatureFlags_ = true;
        }
    }
    if (deferred) {
        if (superseded && superseded->callback) {
            std::optional<QVariantMap> cached;
            {
                QMutexLocker lock(&featureFlagsLock_);
                cached = cachedFeatureFlagsLocked();
            }
            superseded->callback(cached);
        }
        return;
    }

    const QVariantMap personProperties = personPropertiesForRequest();
    std::optional<QMap<QString, QVariantMap>> groupProperties;
    {
        QMutexLocker lock(&groupPropertiesForFlagsLock_);
        if (!groupPropertiesForFlags_.isEmpty()) {
            groupProperties.emplace();
            for (auto it = groupPropertiesForFlags_.cbegin(); it != groupPropertiesForFlags_.cend(); ++it)
                groupProperties->insert(it.key(), it.value().toMap());
        }
    }
    QMap<QString, QString> groupKeys;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        groupKeys.insert(it.key(), it.value().toString());
    std::weak_ptr<AnalyticsRemoteConfig> weak = weak_from_this();
    api_->flags(distinctId, anonymousId, deviceId, groupKeys, personProperties, groupProperties,
                [weak, callback = std::move(callback)](const std::optional<QVariantMap>& answer,
                                                       const std::optional<QString>&) {
                    auto self = weak.lock();
                    if (!self)
                        return;
                    AnalyticsSerialQueue& queue = self->dispatchQueue_;
                    queue.post([self = std::move(self), answer, callback] { self->handleFlagsAnswer(answer, callback); });
                });
}

QVariantMap AnalyticsRemoteConfig::personPropertiesForRequest()
{
    QVariantMap defaults;
    if (config_->setDefaultPersonProperties() && getDefaultPersonProperties_)
        defaults = getDefaultPersonProperties_();
    QMutexLocker lock(&personPropertiesForFlagsLock_);
    return overlay(std::move(defaults), personPropertiesForFlags_);
}

void AnalyticsRemoteConfig::handleFlagsAnswer(const std::optional<QVariantMap>& answer, FlagsCallback callback)
{
    if (!answer) {
        analyticsLog(QStringLiteral("[Analytics] Error: Flags response data is nil"));
        finishFlagsRequest(std::nullopt, callback);
        return;
    }
    if (isQuotaLimited(*answer)) {
        analyticsLog(QString::fromLatin1(kQuotaWarning));
        QVariantMap cached;
        {
            QMutexLocker lock(&featureFlagsLock_);
            cached = cachedFeatureFlagsLocked().value_or(QVariantMap());
        }
        finishFlagsRequest(cached, callback);
        return;
    }
    const std::optional<FlagsAnswer> read = readFlagsAnswer(normalizeResponse(*answer));
    if (!read) {
        analyticsLog(QStringLiteral("[Analytics] Error: Flags response missing correct featureFlags format"));
        finishFlagsRequest(std::nullopt, callback);
        return;
    }
    QVariantMap stored;
    {
        QMutexLocker lock(&featureFlagsLock_);
        if (read->requestId) {
            requestId_ = read->requestId;
            storage_->setJson(Key::requestId, *read->requestId);
        }
        if (read->evaluatedAt) {
            evaluatedAt_ = read->evaluatedAt;
            storage_->setJson(Key::evaluatedAt, *read->evaluatedAt);
        }
        if (!read->errorsWhileComputingFlags) {
            if (read->flags) {
                flags_ = read->flags;
                writeObject(*storage_, Key::flags, *flags_);
            }
            featureFlags_ = read->featureFlags;
            writeObject(*storage_, Key::enabledFeatureFlags, *featureFlags_);
            featureFlagPayloads_ = read->featureFlagPayloads;
            writeObject(*storage_, Key::enabledFeatureFlagPayloads, *featureFlagPayloads_);
        } else {
            // Flags the service failed to compute are missing from the answer;
            // their cached values are better than none.
            if (read->flags) {
                flags_ = overlay(cachedFlagsLocked().value_or(QVariantMap()), *read->flags);
                writeObject(*storage_, Key::flags, *flags_);
            }
            featureFlags_ = overlay(cachedFeatureFlagsLocked().value_or(QVariantMap()), read->featureFlags);
            writeObject(*storage_, Key::enabledFeatureFlags, *featureFlags_);
            featureFlagPayloads_ = overlay(cachedPayloadsLocked().value_or(QVariantMap()), read->featureFlagPayloads);
            writeObject(*storage_, Key::enabledFeatureFlagPayloads, *featureFlagPayloads_);
        }
        stored = *featureFlags_;
    }
    finishFlagsRequest(stored, callback);
}

void AnalyticsRemoteConfig::finishFlagsRequest(const std::optional<QVariantMap>& flags, const FlagsCallback& callback)
{
    notifyFeatureFlags(flags);
    std::optional<PendingRequest> pending;
    {
        QMutexLocker lock(&loadingFeatureFlagsLock_);
        loadingFeatureFlags_ = false;
        pending = std::move(pendingFeatureFlagsRequest_);
        pendingFeatureFlagsRequest_.reset();
    }
    if (pending)
        loadFeatureFlags(pending->distinctId, pending->anonymousId, pending->deviceId, pending->groups,
                         std::move(pending->callback));
    if (callback)
        callback(flags);
}

std::optional<AnalyticsFeatureFlagResult> AnalyticsRemoteConfig::getFeatureFlagResult(const QString& key)
{
    std::optional<QVariant> value;
    std::optional<QVariant> payload;
    {
        QMutexLocker lock(&featureFlagsLock_);
        const std::optional<QVariantMap> values = cachedFeatureFlagsLocked();
        if (values && values->contains(key))
            value = values->value(key);
        const std::optional<QVariantMap> payloads = cachedPayloadsLocked();
        if (payloads && payloads->contains(key))
            payload = payloads->value(key);
    }
    return makeResult(key, value, payload);
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedFeatureFlagsLocked()
{
    if (!featureFlags_)
        featureFlags_ = readObject(*storage_, Key::enabledFeatureFlags);
    return featureFlags_;
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedPayloadsLocked()
{
    if (!featureFlagPayloads_)
        featureFlagPayloads_ = readObject(*storage_, Key::enabledFeatureFlagPayloads);
    return featureFlagPayloads_;
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedFlagsLocked()
{
    if (!flags_)
        flags_ = readObject(*storage_, Key::flags);
    return flags_;
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedRemoteConfigLocked()
{
    if (!remoteConfig_)
        remoteConfig_ = readObject(*storage_, Key::remoteConfig);
    return remoteConfig_;
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedFeatureFlags()
{
    QMutexLocker lock(&featureFlagsLock_);
    return cachedFeatureFlagsLocked();
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedFlagDetails()
{
    QMutexLocker lock(&featureFlagsLock_);
    return cachedFlagsLocked();
}

std::optional<QVariantMap> AnalyticsRemoteConfig::cachedRemoteConfig()
{
    QMutexLocker lock(&remoteConfigLock_);
    return cachedRemoteConfigLocked();
}

std::optional<QString> AnalyticsRemoteConfig::requestId()
{
    QMutexLocker lock(&featureFlagsLock_);
    if (requestId_)
        return requestId_;
    return storage_->getString(Key::requestId);
}

std::optional<qint64> AnalyticsRemoteConfig::evaluatedAt()
{
    QMutexLocker lock(&featureFlagsLock_);
    if (evaluatedAt_)
        return evaluatedAt_;
    return storage_->getInt(Key::evaluatedAt);
}

void AnalyticsRemoteConfig::setPersonPropertiesForFlags(const QVariantMap& properties)
{
    QMutexLocker lock(&personPropertiesForFlagsLock_);
    personPropertiesForFlags_ = overlay(personPropertiesForFlags_, properties);
    writeObject(*storage_, Key::personPropertiesForFlags, personPropertiesForFlags_);
}

void AnalyticsRemoteConfig::resetPersonPropertiesForFlags()
{
    QMutexLocker lock(&personPropertiesForFlagsLock_);
    personPropertiesForFlags_.clear();
    writeObject(*storage_, Key::personPropertiesForFlags, personPropertiesForFlags_);
}

QVariantMap AnalyticsRemoteConfig::personPropertiesForFlags()
{
    QMutexLocker lock(&personPropertiesForFlagsLock_);
    return personPropertiesForFlags_;
}

void AnalyticsRemoteConfig::setGroupPropertiesForFlags(const QString& groupType, const QVariantMap& properties)
{
    QMutexLocker lock(&groupPropertiesForFlagsLock_);
    groupPropertiesForFlags_.insert(groupType, overlay(groupPropertiesForFlags_.value(groupType).toMap(), properties));
    writeObject(*storage_, Key::groupPropertiesForFlags, groupPropertiesForFlags_);
}

void AnalyticsRemoteConfig::resetGroupPropertiesForFlags(const std::optional<QString>& groupType)
{
    QMutexLocker lock(&groupPropertiesForFlagsLock_);
    if (groupType)
        groupPropertiesForFlags_.remove(*groupType);
    else
        groupPropertiesForFlags_.clear();
    writeObject(*storage_, Key::groupPropertiesForFlags, groupPropertiesForFlags_);
}

QVariantMap AnalyticsRemoteConfig::groupPropertiesForFlags()
{
    QMutexLocker lock(&groupPropertiesForFlagsLock_);
    return groupPropertiesForFlags_;
}

bool AnalyticsRemoteConfig::autoCaptureExceptions()
{
    QMutexLocker lock(&errorTrackingLock_);
    return autoCaptureExceptions_;
}

bool AnalyticsRemoteConfig::sessionReplayFlagActive()
{
    QMutexLocker lock(&sessionReplayLock_);
    return sessionReplayFlagActive_;
}

bool AnalyticsRemoteConfig::remoteConfigDidFetch()
{
    QMutexLocker lock(&loadingRemoteConfigLock_);
    return remoteConfigDidFetch_;
}

bool AnalyticsRemoteConfig::isLoadingFeatureFlags()
{
    QMutexLocker lock(&loadingFeatureFlagsLock_);
    return loadingFeatureFlags_;
}

void AnalyticsRemoteConfig::clearFeatureFlags()
{
    QMutexLocker lock(&featureFlagsLock_);
    flags_ = QVariantMap();
    featureFlags_ = QVariantMap();
    featureFlagPayloads_ = QVariantMap();
    writeObject(*storage_, Key::flags, *flags_);
    writeObject(*storage_, Key::enabledFeatureFlags, *featureFlags_);
    writeObject(*storage_, Key::enabledFeatureFlagPayloads, *featureFlagPayloads_);
    requestId_.reset();
    removeKey(*storage_, Key::requestId);
    evaluatedAt_.reset();
    removeKey(*storage_, Key::evaluatedAt);
}

void AnalyticsRemoteConfig::clear()
{
    clearFeatureFlags();
    {
        QMutexLocker lock(&sessionReplayLock_);
        sessionReplayFlagActive_ = false;
        recordingSampleRate_.reset();
    }
    {
        QMutexLocker lock(&errorTrackingLock_);
        autoCaptureExceptions_ = false;
    }
    resetPersonPropertiesForFlags();
    resetGroupPropertiesForFlags(std::nullopt);
    {
        QMutexLocker lock(&remoteConfigLock_);
        remoteConfig_.reset();
    }
    {
        QMutexLocker lock(&loadingRemoteConfigLock_);
        remoteConfigDidFetch_ = false;
    }
    removeKey(*storage_, Key::sessionReplay);
}

} // namespace analytics
