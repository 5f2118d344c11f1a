// Identity, person properties, super properties, reset, opt-out and close.
#include "AnalyticsSDK.h"

#include "analytics/sdk/AnalyticsClock.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsReplayQueue.h"
#include "analytics/AnalyticsSessionManager.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/AnalyticsStorageManager.h"
#include "analytics/Reachability.h"
#include "analytics/flags/AnalyticsFlagsAnswer.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"

namespace analytics {

namespace {

const QString kNotSetUp =
    QStringLiteral("[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored.");

bool sessionOperationsOff()
{
    return analyticsSdkName() == QLatin1String("analytics-react-native");
}

} // namespace

QString AnalyticsSDK::getDistinctId()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return {};
    }
    const auto identity = config()->storageManager();
    return identity ? identity->getDistinctId() : QString();
}

QString AnalyticsSDK::getAnonymousId()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return {};
    }
    const auto identity = config()->storageManager();
    return identity ? identity->getAnonymousId() : QString();
}

QString AnalyticsSDK::getDeviceId()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return {};
    }
    const auto identity = config()->storageManager();
    return identity ? identity->getDeviceId() : QString();
}

std::optional<QString> AnalyticsSDK::getSessionId()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return std::nullopt;
    }
    return sessionManager_->getSessionId(analyticsNow(), true);
}

void AnalyticsSDK::startSession()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    sessionManager_->startSession();
}

void AnalyticsSDK::endSession()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    if (!sessionOperationsOff())
        sessionManager_->endSession();
}

void AnalyticsSDK::flush()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const Snapshot s = snapshot();
    if (s.queue)
        s.queue->flush();
    if (s.replayQueue)
        s.replayQueue->flush();
}

void AnalyticsSDK::identify(const QString& distinctId, const Properties& userProperties,
                            const Properties& userPropertiesSetOnce)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    if (distinctId.isEmpty()) {
        analyticsLog(QStringLiteral("identify call not allowed, distinctId is invalid: ") + distinctId);
        return;
    }
    if (optOut_) {
        analyticsLog(QStringLiteral("[Analytics] Analytics is in OptOut state."));
        return;
    }
    if (!requirePersonProcessing(QStringLiteral("identify(_:userProperties:userPropertiesSetOnce:)")))
        return;
    const Snapshot s = snapshot();
    const auto identity = s.config->storageManager();
    if (!s.queue || !identity)
        return;

    const QString oldDistinctId = getDistinctId();
    const bool identified = identity->isIdentified();

    if (distinctId != oldDistinctId && !identified) {
        QVariantMap properties{{QStringLiteral("distinct_id"), distinctId}};
        if (!s.config->reuseAnonymousId()) {
            identity->setAnonymousId(oldDistinctId);
            properties.insert(QStringLiteral("$anon_distinct_id"), oldDistinctId);
        }
        identity->setDistinctId(distinctId);
        identity->setIdentified(true);
        const QVariantMap full = buildProperties(distinctId, properties, sanitizeDictionary(userProperties),
                                                 sanitizeDictionary(userPropertiesSetOnce), std::nullopt, true,
                                                 std::nullopt);
        const auto event = buildEvent(QStringLiteral("$identify"), distinctId, full, analyticsNow());
        if (!event)
            return;
        setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
        s.queue->add(*event);
        onEventCaptured_.invoke(*event);
        if (s.remoteConfig)
            s.remoteConfig->reloadFeatureFlags();
        notifyContextDidChange();
        return;
    }

    const bool somethingToSet =
        (userProperties && !userProperties->isEmpty()) || (userPropertiesSetOnce && !userPropertiesSetOnce->isEmpty());
    if (distinctId == oldDistinctId && somethingToSet) {
        const QString hash = getPersonPropertiesHash(distinctId, userProperties, userPropertiesSetOnce);
        {
            QMutexLocker lock(&cachedPersonPropertiesLock_);
            if (cachedPersonPropertiesHash_ == hash) {
                lock.unlock();
                analyticsLog(QStringLiteral("[Analytics] A duplicate identify call was made with the same properties. "
                                            "The $set event has been ignored."));
                return;
            }
            cachedPersonPropertiesHash_ = hash;
        }
        captureInternal(QStringLiteral("$set"), distinctId, std::nullopt, userProperties, userPropertiesSetOnce,
                        std::nullopt, std::nullopt, false);
        setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
        return;
    }
    analyticsLog(QStringLiteral("already identified with id: ") + oldDistinctId);
}

void AnalyticsSDK::setPersonProperties(const Properties& userPropertiesToSet, const Properties& userPropertiesSetOnce)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const bool hasSet = userPropertiesToSet && !userPropertiesToSet->isEmpty();
    const bool hasSetOnce = userPropertiesSetOnce && !userPropertiesSetOnce->isEmpty();
    if (!hasSet && !hasSetOnce)
        return;
    if (!requirePersonProcessing(QStringLiteral("setPersonProperties(userPropertiesToSet:userPropertiesToSetOnce:)")))
        return;
    const QString id = getDistinctId();
    const QString hash = getPersonPropertiesHash(id, userPropertiesToSet, userPropertiesSetOnce);
    {
        QMutexLocker lock(&cachedPersonPropertiesLock_);
        if (cachedPersonPropertiesHash_ == hash) {
            lock.unlock();
            analyticsLog(QStringLiteral(
                "[Analytics] A duplicate setPersonProperties call was made with the same properties. It has been ignored."));
            return;
        }
        cachedPersonPropertiesHash_ = hash;
    }
    const QVariantMap forFlags =
        flags::overlay(userPropertiesSetOnce.value_or(QVariantMap()), userPropertiesToSet.value_or(QVariantMap()));
    if (!forFlags.isEmpty())
        setPersonPropertiesForFlags(forFlags, false);
    captureInternal(QStringLiteral("$set"), id, std::nullopt, userPropertiesToSet, userPropertiesSetOnce, std::nullopt,
                    std::nullopt, false);
}

void AnalyticsSDK::setPersonPropertiesForFlagsIfNeeded(const Properties& userProperties,
                                                       const Properties& userPropertiesSetOnce)
{
    const QVariantMap merged = flags::overlay(sanitizeDictionary(userProperties).value_or(QVariantMap()),
                                              sanitizeDictionary(userPropertiesSetOnce).value_or(QVariantMap()));
    if (merged.isEmpty())
        return;
    if (const auto remote = remoteConfig())
        remote->setPersonPropertiesForFlags(merged);
}

void AnalyticsSDK::setGroupPropertiesForFlagsIfNeeded(const QString& type, const Properties& groupProperties)
{
    const QVariantMap clean = sanitizeDictionary(groupProperties).value_or(QVariantMap());
    if (clean.isEmpty())
        return;
    if (const auto remote = remoteConfig())
        remote->setGroupPropertiesForFlags(type, clean);
}

QVariantMap AnalyticsSDK::getRegisteredProperties()
{
    const std::shared_ptr<AnalyticsStorage> store = storage();
    QMutexLocker lock(&personPropsLock_);
    if (!registeredProperties_) {
        registeredProperties_ = QVariantMap();
        if (store) {
            const std::optional<QVariant> stored = store->getJson(AnalyticsStorage::StorageKey::registerProperties);
            if (stored && flags::isJsonObject(*stored))
                registeredProperties_ = stored->toMap();
        }
    }
    return *registeredProperties_;
}

void AnalyticsSDK::registerProperties(const QVariantMap& properties)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const std::optional<QVariantMap> clean = sanitizeDictionary(properties);
    if (!clean)
        return;
    getRegisteredProperties();
    {
        QMutexLocker lock(&personPropsLock_);
        registeredProperties_ = flags::overlay(*registeredProperties_, *clean);
        if (const auto store = storage())
            store->setJson(AnalyticsStorage::StorageKey::registerProperties, *registeredProperties_);
    }
    notifyContextDidChange();
}

void AnalyticsSDK::unregisterProperties(const QString& key)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    getRegisteredProperties();
    {
        QMutexLocker lock(&personPropsLock_);
        registeredProperties_->remove(key);
        if (const auto store = storage())
            store->setJson(AnalyticsStorage::StorageKey::registerProperties, *registeredProperties_);
    }
    notifyContextDidChange();
}

void AnalyticsSDK::reset()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const Snapshot s = snapshot();
    const bool keepAnonymousId = s.config->reuseAnonymousId();
    if (s.storage)
        s.storage->reset(keepAnonymousId);
    if (const auto identity = s.config->storageManager())
        identity->reset(keepAnonymousId, false);
    {
        QMutexLocker lock(&personPropsLock_);
        registeredProperties_.reset();
    }
    {
        QMutexLocker lock(&groupsLock_);
        groups_.reset();
    }
    {
        QMutexLocker lock(&cachedPersonPropertiesLock_);
        cachedPersonPropertiesHash_.reset();
    }
    {
        QMutexLocker lock(&flagCallReportedLock_);
        flagCallReported_.clear();
    }
    // A new session starts, and the session keeps following the application's
    // activity: dropping its lifecycle subscriptions here would freeze the new
    // session until the next set-up.
    sessionManager_->resetSession();
    if (s.remoteConfig) {
        s.remoteConfig->clear();
        s.remoteConfig->reloadFeatureFlags();
    }
    notifyContextDidChange();
}

bool AnalyticsSDK::isOptOut()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return true;
    }
    return optOut_;
}

void AnalyticsSDK::optIn()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    {
        QMutexLocker lock(&optOutLock_);
        if (!optOut_)
            return;
        const Snapshot s = snapshot();
        s.config->setOptOut(false);
        optOut_ = false;
        if (s.storage)
            s.storage->setJson(AnalyticsStorage::StorageKey::optOut, false);
    }
    QMutexLocker lock(&setupLock_);
    installIntegrationsLocked();
}

void AnalyticsSDK::optOut()
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    {
        QMutexLocker lock(&optOutLock_);
        if (optOut_)
            return;
        const Snapshot s = snapshot();
        s.config->setOptOut(true);
        optOut_ = true;
        if (s.storage)
            s.storage->setJson(AnalyticsStorage::StorageKey::optOut, true);
    }
    QMutexLocker lock(&setupLock_);
    uninstallIntegrationsLocked();
}

void AnalyticsSDK::close()
{
    QMutexLocker lock(&setupLock_);
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    enabled_ = false;
    Snapshot s = snapshot();
    {
        QMutexLocker tokens(&projectTokensLock_);
        projectTokens_.remove(s.config->projectToken());
    }
    if (s.queue)
        s.queue->stop();
    if (s.replayQueue)
        s.replayQueue->innerQueue().stop();
    if (const auto identity = s.config->storageManager())
        identity->reset(s.config->reuseAnonymousId(), false);
    s.config->setStorageManager(nullptr);
    std::shared_ptr<Reachability> reachability;
    {
        QMutexLocker state(&stateLock_);
        queue_.reset();
        replayQueue_.reset();
        config_ = std::make_shared<AnalyticsConfig>(QString());
        remoteConfig_.reset();
        storage_.reset();
        reachability = std::move(reachability_);
        context_.reset();
    }
    if (reachability)
        reachability->stopNotifier();
    {
        QMutexLocker flagsLock(&flagCallReportedLock_);
        flagCallReported_.clear();
    }
    {
        QMutexLocker props(&personPropsLock_);
        registeredProperties_.reset();
    }
    {
        QMutexLocker groups(&groupsLock_);
        groups_.reset();
    }
    if (!sessionOperationsOff())
        sessionManager_->endSession();
    didEnterBackgroundToken_ = {};
    debugLogEnabled = false;
    uninstallIntegrationsLocked();
}

} // namespace analytics
