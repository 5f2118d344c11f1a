#pragma once

#include "analytics/AnalyticsEvent.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

namespace analytics {

class AnalyticsApi;
class AnalyticsConfig;
class AnalyticsQueue;
class AnalyticsStorage;
class Reachability;
class AnalyticsReplayQueue;

// Decides whether replay events are parked in the buffer instead of sent.
class AnalyticsReplayBufferDelegate {
public:
    virtual ~AnalyticsReplayBufferDelegate() = default;
    virtual bool shouldBuffer() const = 0;
    virtual void didBuffer(AnalyticsReplayQueue& queue) = 0;
};

// An on-disk buffer of replay events; every start begins empty.
class AnalyticsReplayBufferQueue {
public:
    explicit AnalyticsReplayBufferQueue(QString folder);
    void setup();
    void add(const QByteArray& data);
    int depth() const;
    const QString& queue() const { return folder_; }

private:
    QString folder_;
    mutable QMutex itemsLock_;
    QStringList items_;
};

// Where "$snapshot" events go: a second send queue bound to the snapshot
// endpoint, or the buffer while a delegate asks for it.
class AnalyticsReplayQueue {
public:
    AnalyticsReplayQueue(std::shared_ptr<AnalyticsConfig> config, const AnalyticsStorage& storage,
                         std::shared_ptr<AnalyticsApi> api, std::shared_ptr<Reachability> reachability);

    void add(const AnalyticsEvent& event);
    void flush();

    AnalyticsQueue& innerQueue() { return *innerQueue_; }
    AnalyticsReplayBufferQueue& bufferQueue() { return bufferQueue_; }
    // Held weakly; none at creation.
    void setBufferDelegate(std::weak_ptr<AnalyticsReplayBufferDelegate> delegate);

private:
    std::shared_ptr<AnalyticsQueue> innerQueue_;
    AnalyticsReplayBufferQueue bufferQueue_;
    mutable QMutex delegateLock_;
    std::weak_ptr<AnalyticsReplayBufferDelegate> bufferDelegate_;
};

} // namespace analytics
