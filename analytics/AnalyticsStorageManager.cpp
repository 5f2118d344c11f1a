#include "AnalyticsStorageManager.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/TimeBasedEpochGenerator.h"

namespace analytics {

using Key = AnalyticsStorage::StorageKey;

AnalyticsStorageManager::AnalyticsStorageManager(const AnalyticsConfig& config)
    : storage_(std::make_unique<AnalyticsStorage>(config))
    , idGen_(config.getAnonymousId())
{
}

QString AnalyticsStorageManager::anonymousIdLocked()
{
    if (!anonymousId_) {
        anonymousId_ = storage_->getString(Key::anonymousId);
        if (!anonymousId_) {
            QUuid id = TimeBasedEpochGenerator::shared().v7();
            if (idGen_)
                id = idGen_(id);
            anonymousId_ = uuidText(id);
            storage_->setJson(Key::anonymousId, *anonymousId_);
        }
    }
    return *anonymousId_;
}

QString AnalyticsStorageManager::getAnonymousId()
{
    QMutexLocker lock(&anonLock_);
    return anonymousIdLocked();
}

void AnalyticsStorageManager::setAnonymousId(const QString& id)
{
    QMutexLocker lock(&anonLock_);
    anonymousId_ = id;
    storage_->setJson(Key::anonymousId, id);
}

QString AnalyticsStorageManager::getDistinctId()
{
    QMutexLocker lock(&distinctLock_);
    if (!distinctId_ && !cachedDistinctId_) {
        distinctId_ = storage_->getString(Key::distinctId);
        cachedDistinctId_ = true;
    }
    if (distinctId_)
        return *distinctId_;
    QMutexLocker anon(&anonLock_);
    return anonymousIdLocked();
}

void AnalyticsStorageManager::setDistinctId(const QString& id)
{
    QMutexLocker lock(&distinctLock_);
    distinctId_ = id;
    storage_->setJson(Key::distinctId, id);
}

QString AnalyticsStorageManager::getDeviceId()
{
    QMutexLocker lock(&deviceIdLock_);
    if (deviceId_)
        return *deviceId_;
    deviceId_ = storage_->getString(Key::deviceId);
    if (!deviceId_) {
        {
            QMutexLocker anon(&anonLock_);
            deviceId_ = anonymousIdLocked();
        }
        storage_->setJson(Key::deviceId, *deviceId_);
    }
    return *deviceId_;
}

bool AnalyticsStorageManager::isIdentified()
{
    QMutexLocker lock(&identifiedLock_);
    if (!isIdentifiedValue_) {
        isIdentifiedValue_ = storage_->getBool(Key::isIdentified);
        if (!isIdentifiedValue_) {
            // Lock order: identified, distinct, anon (getDistinctId takes both).
            const QString distinct = getDistinctId();
            QMutexLocker anon(&anonLock_);
            isIdentifiedValue_ = distinct != anonymousIdLocked();
        }
    }
    return *isIdentifiedValue_;
}

void AnalyticsStorageManager::setIdentified(bool identified)
{
    QMutexLocker lock(&identifiedLock_);
    isIdentifiedValue_ = identified;
    storage_->setJson(Key::isIdentified, identified);
}

bool AnalyticsStorageManager::isPersonProcessing()
{
    QMutexLocker lock(&personProcessingLock_);
    if (!personProcessingEnabled_)
        personProcessingEnabled_ = storage_->getBool(Key::personProcessingEnabled).value_or(false);
    return *personProcessingEnabled_;
}

void AnalyticsStorageManager::setPersonProcessing(bool enabled)
{
    QMutexLocker lock(&personProcessingLock_);
    if (personProcessingEnabled_ == enabled)
        return;
    personProcessingEnabled_ = enabled;
    storage_->setJson(Key::personProcessingEnabled, enabled);
}

void AnalyticsStorageManager::reset(bool keepAnonymousId, bool deleteFiles)
{
    {
        QMutexLocker lock(&distinctLock_);
        distinctId_.reset();
        cachedDistinctId_ = false;
        if (deleteFiles)
            storage_->setData(Key::distinctId, std::nullopt);
    }
    if (!keepAnonymousId) {
        QMutexLocker lock(&anonLock_);
        anonymousId_.reset();
        if (deleteFiles)
            storage_->setData(Key::anonymousId, std::nullopt);
    }
    {
        QMutexLocker lock(&identifiedLock_);
        isIdentifiedValue_.reset();
        if (deleteFiles)
            storage_->setData(Key::isIdentified, std::nullopt);
    }
    {
        QMutexLocker lock(&personProcessingLock_);
        personProcessingEnabled_.reset();
        if (deleteFiles)
            storage_->setData(Key::personProcessingEnabled, std::nullopt);
    }
}

} // namespace analytics
