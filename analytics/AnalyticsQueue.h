#pragma once

#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsFileBackedQueue.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace analytics {

class AnalyticsConfig;
class AnalyticsStorage;
class Reachability;
class SerialQueue;

// One batch handed to an uploader: its events, oldest first, and a
// completion to call exactly once (true deletes the batch's files).
struct AnalyticsConsumerPayload {
    QList<AnalyticsEvent> events;
    std::function<void(bool)> completion;
};

// The persistent send queue in front of one endpoint: stores each event as
// its own file, uploads at most one batch at a time when enough are queued,
// on a timer, when the network comes back or when asked, deletes what the
// service accepted, and backs off after failures. Nothing that reaches the
// queue's folder is lost to a crash: a batch's files go only once the
// service took them, and then exactly those files.
//
// Made with std::make_shared; pending uploads and timers hold it weakly.
class AnalyticsQueue : public std::enable_shared_from_this<AnalyticsQueue> {
public:
    enum class AnalyticsApiEndpoint { batch = 0, snapshot = 1 };

    AnalyticsQueue(std::shared_ptr<AnalyticsConfig> config, const AnalyticsStorage& storage,
                   std::shared_ptr<AnalyticsApi> api, AnalyticsApiEndpoint endpoint,
                   std::shared_ptr<Reachability> reachability);
    ~AnalyticsQueue();
    AnalyticsQueue(const AnalyticsQueue&) = delete;
    AnalyticsQueue& operator=(const AnalyticsQueue&) = delete;

    // Arms the reachability gate and the repeating flush timer on the main
    // thread, unless switched off.
    void start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting);
    void stop();

    // Stores one event on the caller's thread, then flushes when at least
    // flushAt events are queued.
    void add(const AnalyticsEvent& event);
    void flushIfOverThreshold();
    // Uploads one batch now unless a batch is out, the network is down or a
    // back-off pause runs.
    void flush();
    // Whether flush() would start a batch now. Logs the reason when not.
    bool canFlushNow() const;
    void clear();

    int depth() const;
    AnalyticsFileBackedQueue& fileQueue() { return *fileQueue_; }
    bool isFlushing() const { return isFlushing_.load(); }
    bool isPaused() const { return paused_.load(); }
    // Milliseconds since 1970 until which uploads wait; 0 when none.
    qint64 pausedUntilMs() const { return pausedUntil_.load(); }
    int retryCount() const { return retryCount_.load(); }
    // The most events the next batch takes (halved after a 413).
    int batchLimit() const;

private:
    // Takes the in-flight flag when a flush may start.
    bool canFlush();
    void take(int count);
    void eventHandler(const AnalyticsConsumerPayload& payload);
    void handleResult(const AnalyticsBatchUploadInfo& info, const AnalyticsConsumerPayload& payload);
    void finishFlush();

    std::shared_ptr<AnalyticsConfig> config_;
    std::shared_ptr<AnalyticsApi> api_;
    AnalyticsApiEndpoint endpoint_;
    std::shared_ptr<Reachability> reachability_;
    std::unique_ptr<AnalyticsFileBackedQueue> fileQueue_;
    std::shared_ptr<SerialQueue> dispatchQueue_;
    // False when another process holds the folder: the queue then stores
    // and sends nothing.
    bool ownsFolder_ = true;

    std::atomic<bool> paused_{false};
    std::atomic<qint64> pausedUntil_{0};
    std::atomic<int> retryCount_{0};
    std::atomic<bool> isFlushing_{false};
    std::atomic<int> batchLimit_{0}; // 0: the configured maximum
    // Lives on the main thread and owns the flush timer.
    QPointer<QObject> timerHost_;
};

} // namespace analytics
