#pragma once

#include "analytics/AnalyticsStorage.h"

#include <QMutex>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace analytics {

class AnalyticsConfig;

// The identity store: anonymous id, distinct id, device id, and the
// identified and person-processing flags, each read from storage at most once
// and then answered from memory under its own lock.
//
// Lock order: identified, then distinct, then anon; deviceId, then anon.
// Nothing is taken while anon is held.
class AnalyticsStorageManager {
public:
    explicit AnalyticsStorageManager(const AnalyticsConfig& config);

    QString getAnonymousId();
    void setAnonymousId(const QString& id);
    QString getDistinctId();
    void setDistinctId(const QString& id);
    // The anonymous id of the moment the device id was first asked for;
    // resets never change it.
    QString getDeviceId();
    bool isIdentified();
    void setIdentified(bool identified);
    bool isPersonProcessing();
    void setPersonProcessing(bool enabled);

    // Forgets the cached identity; with deleteFiles, its files too.
    void reset(bool keepAnonymousId, bool deleteFiles);

    AnalyticsStorage& storage() { return *storage_; }

private:
    // Under anonLock_.
    QString anonymousIdLocked();

    std::unique_ptr<AnalyticsStorage> storage_;
    QMutex anonLock_;
    QMutex distinctLock_;
    QMutex deviceIdLock_;
    QMutex identifiedLock_;
    QMutex personProcessingLock_;
    std::function<QUuid(QUuid)> idGen_;
    std::optional<QString> distinctId_;
    bool cachedDistinctId_ = false;
    std::optional<QString> anonymousId_;
    std::optional<QString> deviceId_;
    std::optional<bool> isIdentifiedValue_;
    std::optional<bool> personProcessingEnabled_;
};

} // namespace analytics
