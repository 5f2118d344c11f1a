#include "AnalyticsSDK.h"

#include "analytics/sdk/AnalyticsClock.h"
#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsContext.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsReplayQueue.h"
#include "analytics/AnalyticsSessionManager.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/AnalyticsStorageManager.h"
#include "analytics/Reachability.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "analytics/flags/AnalyticsFlagsAnswer.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"
#include "analytics/integrations/AnalyticsIntegration.h"
#include "analytics/sdk/AnalyticsNotifications.h"

namespace analytics {

namespace {

const QString kNotSetUp =
    QStringLiteral("[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored.");
const QString kOptedOut = QStringLiteral("[Analytics] Analytics is in OptOut state.");
const QString kCaptureInternalName = QStringLiteral(
    "captureInternal(_:distinctId:properties:userProperties:userPropertiesSetOnce:groups:timestamp:skipBuildProperties:)");

bool isStringMap(const QVariant& value)
{
    if (!flags::isJsonObject(value))
        return false;
    const QVariantMap map = value.toMap();
    for (const QVariant& item : map)
        if (!flags::isJsonString(item))
            return false;
    return true;
}

// Merge where keys already present keep their value.
void mergeKeepingExisting(QVariantMap& into, const QVariantMap& from)
{
    for (auto it = from.cbegin(); it != from.cend(); ++it)
        if (!into.contains(it.key()))
            into.insert(it.key(), it.value());
}

bool nonEmpty(const AnalyticsSDK::Properties& map)
{
    return map && !map->isEmpty();
}

} // namespace

QMutex AnalyticsSDK::projectTokensLock_;
QSet<QString> AnalyticsSDK::projectTokens_;

std::shared_ptr<AnalyticsSDK> AnalyticsSDK::shared()
{
    // Never destroyed: it lives to the end of the process, past the point
    // where the threads and the application object it uses could still be
    // torn down safely.
    static const auto* instance =
        new std::shared_ptr<AnalyticsSDK>(new AnalyticsSDK(std::make_shared<AnalyticsConfig>(QString())));
    return *instance;
}

std::shared_ptr<AnalyticsSDK> AnalyticsSDK::with(std::shared_ptr<AnalyticsConfig> config)
{
    std::shared_ptr<AnalyticsSDK> sdk(new AnalyticsSDK(config));
    sdk->setup(std::move(config));
    return sdk;
}

AnalyticsSDK::AnalyticsSDK(std::shared_ptr<AnalyticsConfig> config)
    : config_(std::move(config))
    , sessionManager_(std::make_shared<AnalyticsSessionManager>())
{
}

AnalyticsSDK::~AnalyticsSDK()
{
    if (reachability_)
        reachability_->stopNotifier();
    sessionIdChangedToken_ = {};
    uninstallIntegrationsLocked();
}

std::shared_ptr<AnalyticsConfig> AnalyticsSDK::config() const
{
    QMutexLocker lock(&stateLock_);
    return config_;
}

AnalyticsSDK::Snapshot AnalyticsSDK::snapshot() const
{
    QMutexLocker lock(&stateLock_);
    return Snapshot{config_, queue_, replayQueue_, storage_, remoteConfig_, context_};
}

std::shared_ptr<AnalyticsRemoteConfig> AnalyticsSDK::remoteConfig() const
{
    QMutexLocker lock(&stateLock_);
    return remoteConfig_;
}

std::shared_ptr<AnalyticsQueue> AnalyticsSDK::queue() const
{
    QMutexLocker lock(&stateLock_);
    return queue_;
}

std::shared_ptr<AnalyticsStorage> AnalyticsSDK::storage() const
{
    QMutexLocker lock(&stateLock_);
    return storage_;
}

void AnalyticsSDK::setup(std::shared_ptr<AnalyticsConfig> config)
{
    QMutexLocker lock(&setupLock_);
    setupLocked(std::move(config));
}

void AnalyticsSDK::setupLocked(std::shared_ptr<AnalyticsConfig> config)
{
    debugLogEnabled = config->debug();
    if (enabled_) {
        analyticsLog(QStringLiteral("[Analytics] Setup called despite already being setup!"));
        return;
    }
    {
        QMutexLocker tokens(&projectTokensLock_);
        if (projectTokens_.contains(config->projectToken()))
            analyticsLog(QStringLiteral("Project token: ") + config->projectToken() +
                         QStringLiteral(" already has a Analytics instance."));
        else
            projectTokens_.insert(config->projectToken());
    }

    auto storage = std::make_shared<AnalyticsStorage>(*config);
    auto api = std::make_shared<AnalyticsApi>(config);
    std::shared_ptr<AnalyticsStorageManager> identity = config->storageManager();
    if (!identity) {
        identity = std::make_shared<AnalyticsStorageManager>(*config);
        config->setStorageManager(identity);
    }
    identity->getDeviceId();

    {
        QMutexLocker state(&stateLock_);
        config_ = config;
        storage_ = storage;
    }
    {
        QMutexLocker props(&personPropsLock_);
        registeredProperties_.reset();
    }
    {
        QMutexLocker groups(&groupsLock_);
        groups_.reset();
    }

    std::weak_ptr<AnalyticsSDK> weak = weak_from_this();
    auto remote = AnalyticsRemoteConfig::create(
        config, storage, api,
        [weak]() -> QVariantMap {
            auto self = weak.lock();
            if (!self)
                return {};
            const Snapshot s = self->snapshot();
            if (!s.config->setDefaultPersonProperties())
                return {};
            if (!self->enabled_) {
                analyticsLog(kNotSetUp);
                return {};
            }
            return s.context ? s.context->personPropertiesContext() : QVariantMap();
        },
        [weak](const QString& key, const std::optional<QVariant>& value) {
            if (auto self = weak.lock())
                self->reportFeatureFlagCalled(key, value);
        });

    std::shared_ptr<Reachability> reachability = Reachability::create();
    auto context = std::make_shared<AnalyticsContext>(reachability);

    {
        QMutexLocker optOut(&optOutLock_);
        if (const std::optional<bool> stored = storage->getBool(AnalyticsStorage::StorageKey::optOut))
            config->setOptOut(*stored);
        optOut_ = config->optOut();
    }

    auto queue = std::make_shared<AnalyticsQueue>(config, *storage, api, AnalyticsQueue::AnalyticsApiEndpoint::batch,
                                                 reachability);
    auto replayQueue = std::make_shared<AnalyticsReplayQueue>(config, *storage, api, reachability);
    queue->start(config->disableReachabilityForTesting(), config->disableQueueTimerForTesting());
    replayQueue->innerQueue().start(config->disableReachabilityForTesting(), config->disableQueueTimerForTesting());

    {
        QMutexLocker state(&stateLock_);
        remoteConfig_ = remote;
        reachability_ = reachability;
        context_ = context;
        queue_ = queue;
        replayQueue_ = replayQueue;
    }
    // Enabled only now that every collaborator is in place, so a capture on
    // another thread never meets a half-built SDK.
    enabled_ = true;

    sessionManager_->unregisterNotifications();
    sessionManager_->registerNotifications();
    sessionManager_->startSession();
    sessionIdChangedToken_ = sessionManager_->onSessionIdChanged().subscribe([weak] {
        if (auto self = weak.lock())
            self->notifyContextDidChange();
    });

    if (!config->optOut()) {
        installIntegrationsLocked();
        notifyContextDidChange();
    }

    if (!config->disableFlushOnBackgroundForTesting()) {
        didEnterBackgroundToken_ = DI::main().appLifecyclePublisher().onDidEnterBackground().subscribe([weak] {
            if (auto self = weak.lock())
                self->flush();
        });
    }

    postToMainThread([] { postNotification(QString::fromLatin1(kDidStartNotification)); });
}

void AnalyticsSDK::debug(bool enabled)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    debugLogEnabled = enabled;
}

bool AnalyticsSDK::gate(bool checkOptOut) const
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return false;
    }
    if (checkOptOut && optOut_) {
        analyticsLog(kOptedOut);
        return false;
    }
    return true;
}

void AnalyticsSDK::capture(const QString& event, const Properties& properties, const Properties& userProperties,
                           const Properties& userPropertiesSetOnce, const Groups& groups)
{
    captureInternal(event, std::nullopt, properties, userProperties, userPropertiesSetOnce, groups, std::nullopt,
                    false);
}

void AnalyticsSDK::capture(const QString& event, const std::optional<QString>& distinctId, const Properties& properties,
                           const Properties& userProperties, const Properties& userPropertiesSetOnce,
                           const Groups& groups, const std::optional<QDateTime>& timestamp)
{
    captureInternal(event, distinctId, properties, userProperties, userPropertiesSetOnce, groups, timestamp, false);
}

void AnalyticsSDK::captureInternal(const QString& event, const std::optional<QString>& distinctId,
                                   const Properties& properties, const Properties& userProperties,
                                   const Properties& userPropertiesSetOnce, const Groups& groups,
                                   const std::optional<QDateTime>& timestamp, bool skipBuildProperties)
{
    if (!gate(true))
        return;
    const Snapshot s = snapshot();
    if (!s.queue)
        return;

    const bool isSnapshot = event == QLatin1String("$snapshot");
    const QDateTime eventTime = timestamp.value_or(analyticsNow());
    const QString id = distinctId.value_or(getDistinctId());

    QVariantMap map;
    if (skipBuildProperties) {
        map = properties.value_or(QVariantMap());
    } else {
        if (nonEmpty(userProperties) || nonEmpty(userPropertiesSetOnce) || nonEmpty(groups))
            requirePersonProcessing(kCaptureInternalName);
        map = buildProperties(id, sanitizeDictionary(properties), sanitizeDictionary(userProperties),
                              sanitizeDictionary(userPropertiesSetOnce), groups, !isSnapshot, timestamp);
    }

    const std::optional<AnalyticsEvent> built = buildEvent(event, id, map, eventTime);
    if (!built)
        return;

    if (built->event() == QLatin1String("$snapshot")) {
        const QVariant sessionId = built->properties().value(QStringLiteral("$session_id"));
        if (!sessionId.isValid() || sessionId.isNull())
            return;
        if (!skipBuildProperties)
            setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
        if (s.replayQueue)
            s.replayQueue->add(*built);
        onEventCaptured_.invoke(*built);
        return;
    }
    if (!skipBuildProperties)
        setPersonPropertiesForFlagsIfNeeded(userProperties, userPropertiesSetOnce);
    s.queue->add(*built);
    onEventCaptured_.invoke(*built);
}

void AnalyticsSDK::enqueue(const AnalyticsEvent& event)
{
    const std::shared_ptr<AnalyticsQueue> q = queue();
    if (!q)
        return;
    q->add(event);
    onEventCaptured_.invoke(event);
}

QVariantMap AnalyticsSDK::buildProperties(const QString& distinctId, const Properties& properties,
                                          const Properties& userProperties, const Properties& userPropertiesSetOnce,
                                          const Groups& groups, bool appendSharedProps,
                                          const std::optional<QDateTime>& timestamp)
{
    const Snapshot s = snapshot();
    QVariantMap map;
    if (appendSharedProps) {
        if (s.context) {
            mergeKeepingExisting(map, s.context->staticContext());
            mergeKeepingExisting(map, s.context->dynamicContext());
        }
        mergeKeepingExisting(map, dynamicContext());
        if (userProperties)
            map.insert(QStringLiteral("$set"), *userProperties);
        if (userPropertiesSetOnce)
            map.insert(QStringLiteral("$set_once"), *userPropertiesSetOnce);
        if (groups) {
            const QVariant existing = map.value(QStringLiteral("$groups"));
            QVariantMap merged = isStringMap(existing) ? existing.toMap() : QVariantMap();
            mergeKeepingExisting(merged, *groups);
            map.insert(QStringLiteral("$groups"), merged);
        }
        if (const auto identity = s.config->storageManager())
            map.insert(QStringLiteral("$is_identified"), identity->isIdentified());
        map.insert(QStringLiteral("$process_person_profile"), hasPersonProcessing());
    }
    if (s.context)
        mergeKeepingExisting(map, s.context->sdkInfo());

    const QVariant givenSession = properties ? properties->value(QStringLiteral("$session_id")) : QVariant();
    if (!(flags::isJsonString(givenSession) && !givenSession.toString().isEmpty())) {
        const QDateTime at = timestamp.value_or(analyticsNow());
        if (const std::optional<QString> sessionId = sessionManager_->getSessionId(at, false))
            map.insert(QStringLiteral("$session_id"), *sessionId);
    }
    if (!appendSharedProps) {
        const QVariant givenId = properties ? properties->value(QStringLiteral("distinct_id")) : QVariant();
        if (!(flags::isJsonString(givenId) && !givenId.toString().isEmpty()))
            map.insert(QStringLiteral("distinct_id"), distinctId);
    }
    if (properties)
        mergeKeepingExisting(map, *properties);
    return map;
}

QVariantMap AnalyticsSDK::dynamicContext()
{
    QVariantMap map = getRegisteredProperties();
    const QVariantMap storedGroups = getGroups();
    if (!storedGroups.isEmpty())
        map.insert(QStringLiteral("$groups"), storedGroups);
    if (const auto remote = remoteConfig()) {
        if (const std::optional<QVariantMap> flagValues = remote->cachedFeatureFlags()) {
            QVariantList active;
            for (auto it = flagValues->cbegin(); it != flagValues->cend(); ++it) {
                map.insert(QStringLiteral("$feature/") + it.key(), it.value());
                if (!(flags::isJsonBool(it.value()) && !it.value().toBool()))
                    active.append(it.key());
            }
            if (!active.isEmpty())
                map.insert(QStringLiteral("$active_feature_flags"), active);
        }
    }
    return map;
}

std::optional<AnalyticsEvent> AnalyticsSDK::buildEvent(const QString& event, const QString& distinctId,
                                                       const QVariantMap& properties, const QDateTime& timestamp)
{
    const std::shared_ptr<AnalyticsConfig> cfg = config();
    QVariantMap map = properties;
    if (cfg->propertiesSanitizer())
        map = cfg->propertiesSanitizer()->sanitize(map);
    AnalyticsEvent built(event, distinctId, map, timestamp, TimeBasedEpochGenerator::shared().v7());
    std::optional<AnalyticsEvent> result = cfg->beforeSend(std::move(built));
    if (!result) {
        QString line = QStringLiteral("Analytics event ") + event + QStringLiteral(" was dropped");
        if (knownUnsafeEditableEvent(event))
            line += QStringLiteral(". This can cause unexpected behavior.");
        analyticsLog(line);
    }
    return result;
}

bool AnalyticsSDK::hasPersonProcessing()
{
    const std::shared_ptr<AnalyticsConfig> cfg = config();
    switch (cfg->personProfiles()) {
    case AnalyticsPersonProfiles::never:
        return false;
    case AnalyticsPersonProfiles::always:
        return true;
    case AnalyticsPersonProfiles::identifiedOnly:
        break;
    }
    const auto identity = cfg->storageManager();
    return !identity || identity->isIdentified() || identity->isPersonProcessing();
}

bool AnalyticsSDK::requirePersonProcessing(const QString& functionName)
{
    const std::shared_ptr<AnalyticsConfig> cfg = config();
    if (cfg->personProfiles() == AnalyticsPersonProfiles::never) {
        analyticsLog(QStringLiteral("[Analytics] ") + functionName +
                     QStringLiteral(" was called, but `personProfiles` is set to `never`. This call will be ignored."));
        return false;
    }
    if (const auto identity = cfg->storageManager(); identity && !identity->isPersonProcessing())
        identity->setPersonProcessing(true);
    return true;
}

void AnalyticsSDK::screen(const QString& title, const Properties& properties)
{
    if (!gate(true) || !queue())
        return;
    QVariantMap map{{QStringLiteral("$screen_name"), title}};
    if (const auto clean = sanitizeDictionary(properties))
        mergeKeepingExisting(map, *clean);
    const QVariantMap full = buildProperties(getDistinctId(), map, std::nullopt, std::nullopt, std::nullopt, true,
                                             std::nullopt);
    if (auto event = buildEvent(QStringLiteral("$screen"), getDistinctId(), full, analyticsNow()))
        enqueue(*event);
}

void AnalyticsSDK::alias(const QString& alias)
{
    if (!gate(true) || !requirePersonProcessing(QStringLiteral("alias(_:)")) || !queue())
        return;
    const QString id = getDistinctId();
    const QVariantMap full = buildProperties(id, QVariantMap{{QStringLiteral("alias"), alias}}, std::nullopt,
                                             std::nullopt, std::nullopt, true, std::nullopt);
    if (auto event = buildEvent(QStringLiteral("$create_alias"), id, full, analyticsNow()))
        enqueue(*event);
}

void AnalyticsSDK::group(const QString& type, const QString& key, const Properties& groupProperties)
{
    if (!gate(true) || !requirePersonProcessing(QStringLiteral("group(type:key:groupProperties:)")))
        return;
    groups(QVariantMap{{type, key}});
    groupIdentify(type, key, sanitizeDictionary(groupProperties));
    notifyContextDidChange();
}

QVariantMap AnalyticsSDK::getGroups()
{
    const std::shared_ptr<AnalyticsStorage> store = storage();
    QMutexLocker lock(&groupsLock_);
    if (!groups_) {
        groups_ = QVariantMap();
        if (store) {
            const std::optional<QVariant> stored = store->getJson(AnalyticsStorage::StorageKey::groups);
            if (stored && isStringMap(*stored))
                groups_ = stored->toMap();
        }
    }
    return *groups_;
}

QVariantMap AnalyticsSDK::groups(const QVariantMap& newGroups)
{
    const std::shared_ptr<AnalyticsStorage> store = storage();
    if (!store)
        return {};
    getGroups(); // fills the cache
    bool changed = false;
    QVariantMap merged;
    {
        QMutexLocker lock(&groupsLock_);
        merged = *groups_;
        for (auto it = newGroups.cbegin(); it != newGroups.cend(); ++it) {
            if (!merged.contains(it.key()) || merged.value(it.key()) != it.value())
                changed = true;
            merged.insert(it.key(), it.value());
        }
        groups_ = merged;
        store->setJson(AnalyticsStorage::StorageKey::groups, merged);
    }
    if (changed)
        if (const auto remote = remoteConfig())
            remote->reloadFeatureFlags();
    return merged;
}

void AnalyticsSDK::groupIdentify(const QString& type, const QString& key, const Properties& groupProperties)
{
    if (!gate(true) || !queue())
        return;
    QVariantMap map{{QStringLiteral("$group_type"), type}, {QStringLiteral("$group_key"), key}};
    const Properties clean = sanitizeDictionary(groupProperties);
    if (nonEmpty(clean))
        map.insert(QStringLiteral("$group_set"), *clean);
    setGroupPropertiesForFlagsIfNeeded(type, groupProperties);
    const QString id = getDistinctId();
    const QVariantMap full = buildProperties(id, map, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt);
    if (auto event = buildEvent(QStringLiteral("$groupidentify"), id, full, analyticsNow()))
        enqueue(*event);
}

void AnalyticsSDK::notifyContextDidChange()
{
    if (!gate(false))
        return;
    const QString id = getDistinctId();
    const QVariantMap map = buildProperties(id, std::nullopt, std::nullopt, std::nullopt, std::nullopt, true,
                                            std::nullopt);
    const QVariantMap context{{QStringLiteral("distinct_id"), id}, {QStringLiteral("event_properties"), map}};
    for (const auto& integration : installedIntegrations())
        integration->contextDidChange(context);
}

QString AnalyticsSDK::getPersonPropertiesHash(const QString& distinctId, const Properties& userPropertiesToSet,
                                              const Properties& userPropertiesToSetOnce)
{
    QVariantMap map{{QStringLiteral("distinct_id"), distinctId}};
    if (userPropertiesToSet)
        map.insert(QStringLiteral("userPropertiesToSet"), *userPropertiesToSet);
    if (userPropertiesToSetOnce)
        map.insert(QStringLiteral("userPropertiesToSetOnce"), *userPropertiesToSetOnce);
    if (const std::optional<QByteArray> data = toJSONData(map, JsonWriting::SortedKeys))
        return QString::fromUtf8(*data);
    QString description;
    QDebug(&description) << map;
    return description;
}

} // namespace analytics
