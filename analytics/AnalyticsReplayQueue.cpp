#include "AnalyticsReplayQueue.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsFiles.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/TimeBasedEpochGenerator.h"

#include <QDir>
#include <QJsonDocument>

namespace analytics {

AnalyticsReplayBufferQueue::AnalyticsReplayBufferQueue(QString folder)
    : folder_(std::move(folder))
{
}

void AnalyticsReplayBufferQueue::setup()
{
    if (folder_.isEmpty())
        return;
    QDir(folder_).removeRecursively();
    if (!QDir().mkpath(folder_))
        analyticsLog(QStringLiteral("[Analytics] Error trying to create replay buffer folder ") + folder_);
    QMutexLocker lock(&itemsLock_);
    items_.clear();
}

void AnalyticsReplayBufferQueue::add(const QByteArray& data)
{
    if (folder_.isEmpty())
        return;
    const QString name = uuidText(TimeBasedEpochGenerator::shared().v7());
    QString error;
    if (!writeFileAtomically(folder_ + QLatin1Char('/') + name, data, Durability::ProcessCrash, &error)) {
        analyticsLog(QStringLiteral("[Analytics] Could not write replay buffer file ") + error);
        return;
    }
    QMutexLocker lock(&itemsLock_);
    items_.append(name);
}

int AnalyticsReplayBufferQueue::depth() const
{
    QMutexLocker lock(&itemsLock_);
    return static_cast<int>(items_.size());
}

namespace {
// A process that does not hold the storage folder must leave its buffer alone.
QString bufferFolder(const AnalyticsStorage& storage)
{
    return storage.ownsFolder() ? storage.path(AnalyticsStorage::StorageKey::replayBufferQueue) : QString();
}
} // namespace

AnalyticsReplayQueue::AnalyticsReplayQueue(std::shared_ptr<AnalyticsConfig> config, const AnalyticsStorage& storage,
                                           std::shared_ptr<AnalyticsApi> api, std::shared_ptr<Reachability> reachability)
    : innerQueue_(std::make_shared<AnalyticsQueue>(std::move(config), storage, std::move(api),
                                                   AnalyticsQueue::AnalyticsApiEndpoint::snapshot,
                                                   std::move(reachability)))
    , bufferQueue_(bufferFolder(storage))
{
    bufferQueue_.setup();
}

void AnalyticsReplayQueue::setBufferDelegate(std::weak_ptr<AnalyticsReplayBufferDelegate> delegate)
{
    QMutexLocker lock(&delegateLock_);
    bufferDelegate_ = std::move(delegate);
}

void AnalyticsReplayQueue::add(const AnalyticsEvent& event)
{
    std::shared_ptr<AnalyticsReplayBufferDelegate> delegate;
    {
        QMutexLocker lock(&delegateLock_);
        delegate = bufferDelegate_.lock();
    }
    if (!delegate || !delegate->shouldBuffer()) {
        innerQueue_->add(event);
        return;
    }
    if (!isValidObject(event.properties())) {
        analyticsLog(QStringLiteral("[Analytics] Tried to buffer unserialisable AnalyticsEvent"));
        return;
    }
    bufferQueue_.add(QJsonDocument(event.toJsonObject()).toJson(QJsonDocument::Compact));
    analyticsLog(QStringLiteral("[Analytics] Buffered replay event '") + event.event() +
                 QStringLiteral("'. Buffer depth: ") + QString::number(bufferQueue_.depth()));
    delegate.reset();
    {
        QMutexLocker lock(&delegateLock_);
        delegate = bufferDelegate_.lock();
    }
    if (delegate)
        delegate->didBuffer(*this);
}

void AnalyticsReplayQueue::flush()
{
    std::shared_ptr<AnalyticsReplayBufferDelegate> delegate;
    {
        QMutexLocker lock(&delegateLock_);
        delegate = bufferDelegate_.lock();
    }
    if (delegate && delegate->shouldBuffer()) {
        analyticsLog(QStringLiteral("[Analytics] Replay queue flush suppressed \u2014 still buffering"));
        return;
    }
    innerQueue_->flush();
}

} // namespace analytics
