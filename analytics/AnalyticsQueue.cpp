#include "AnalyticsQueue.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/Reachability.h"
#include "analytics/SerialQueue.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QLocale>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace analytics {

namespace {

constexpr double kBackoffStepSeconds = 5.0;
constexpr double kMaxBackoffSeconds = 30.0;

QDateTime now()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

// A double as the log lines print it: 5.0, 12.5.
QString doubleText(double value)
{
    if (std::floor(value) == value && std::fabs(value) < 1e15)
        return QString::number(value, 'f', 1);
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

bool isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// Worth sending again later: no answer, a redirect, a server error, a
// time-out or a rate limit.
bool isRetryable(int status)
{
    return status == -1 || (status >= 300 && status <= 399) || status >= 500 || status == 408 || status == 429;
}

} // namespace

AnalyticsQueue::AnalyticsQueue(std::shared_ptr<AnalyticsConfig> config, const AnalyticsStorage& storage,
                               std::shared_ptr<AnalyticsApi> api, AnalyticsApiEndpoint endpoint,
                               std::shared_ptr<Reachability> reachability)
    : config_(std::move(config))
    , api_(std::move(api))
    , endpoint_(endpoint)
    , reachability_(std::move(reachability))
    , dispatchQueue_(SerialQueue::create())
    , ownsFolder_(storage.ownsFolder())
{
    using Key = AnalyticsStorage::StorageKey;
    const bool isBatch = endpoint_ == AnalyticsApiEndpoint::batch;
    const QString folder = storage.path(isBatch ? Key::queue : Key::replayQeueue);
    QStringList oldQueues;
    if (isBatch)
        oldQueues << storage.path(Key::oldQueueFolder) << storage.path(Key::oldQueuePlist);
    if (!ownsFolder_) {
        analyticsLog(QStringLiteral("[Analytics] Another process uses the queue folder ") + folder +
                     QStringLiteral("; this process queues nothing"));
        // An empty stand-in that never touches the folder.
        fileQueue_ = std::make_unique<AnalyticsFileBackedQueue>(QString(), QStringList());
        return;
    }
    fileQueue_ = std::make_unique<AnalyticsFileBackedQueue>(folder, oldQueues);
}

AnalyticsQueue::~AnalyticsQueue()
{
    if (timerHost_) {
        if (isMainThread())
            delete timerHost_.data();
        else
            timerHost_->deleteLater();
    }
}

void AnalyticsQueue::start(bool disableReachabilityForTesting, bool disableQueueTimerForTesting)
{
    if (!timerHost_) {
        auto* host = new QObject;
        if (QCoreApplication* app = QCoreApplication::instance(); app && host->thread() != app->thread())
            host->moveToThread(app->thread());
        timerHost_ = host;
    }
    const std::weak_ptr<AnalyticsQueue> weak = weak_from_this();

    if (!disableReachabilityForTesting && reachability_) {
        QObject::connect(reachability_.get(), &Reachability::becameReachable, timerHost_, [weak, r = reachability_] {
            const auto self = weak.lock();
            if (!self)
                return;
            const bool wifi = r->connection() == Reachability::Connection::wifi;
            if (self->config_->dataMode() == AnalyticsDataMode::wifiOnly && !wifi) {
                analyticsLog(QStringLiteral("[Analytics] Queue is paused because its not in WiFi mode"));
                self->paused_ = true;
            } else {
                self->paused_ = false;
            }
            if (wifi && !self->isFlushing_)
                self->flush();
        });
        QObject::connect(reachability_.get(), &Reachability::becameUnreachable, timerHost_, [weak] {
            if (const auto self = weak.lock()) {
                analyticsLog(QStringLiteral("[Analytics] Queue is paused because network is unreachable"));
                self->paused_ = true;
            }
        });
        ReachabilityError error;
        if (!reachability_->startNotifier(&error))
            analyticsLog(QStringLiteral("Error: Unable to monitor network reachability: ") + error.detail);
    }

    if (!disableQueueTimerForTesting) {
        const int intervalMs = static_cast<int>(std::max(0.001, config_->flushIntervalSeconds()) * 1000);
        QMetaObject::invokeMethod(
            timerHost_,
            [weak, intervalMs, host = timerHost_.data()] {
                auto* timer = host->findChild<QTimer*>();
                if (!timer) {
                    timer = new QTimer(host);
                    QObject::connect(timer, &QTimer::timeout, host, [weak] {
                        if (const auto self = weak.lock(); self && !self->isFlushing_)
                            self->flush();
                    });
                }
                timer->start(intervalMs);
            },
            Qt::QueuedConnection);
    }
}

void AnalyticsQueue::stop()
{
    if (!timerHost_)
        return;
    QMetaObject::invokeMethod(
        timerHost_,
        [host = timerHost_.data()] {
            if (auto* timer = host->findChild<QTimer*>())
                timer->stop();
        },
        isMainThread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

int AnalyticsQueue::depth() const
{
    return fileQueue_->depth();
}

int AnalyticsQueue::batchLimit() const
{
    const int limit = batchLimit_.load();
    const int configured = std::max(1, config_->maxBatchSize());
    return limit > 0 ? std::min(limit, configured) : configured;
}

void AnalyticsQueue::add(const AnalyticsEvent& event)
{
    if (!ownsFolder_) {
        analyticsLog(QStringLiteral("[Analytics] Event '") + event.event() +
                     QStringLiteral("' dropped: another process uses the queue folder"));
        return;
    }
    if (!isValidObject(event.properties())) {
        analyticsLog(QStringLiteral("[Analytics] Tried to queue unserialisable AnalyticsEvent"));
        return;
    }
    const QByteArray data = QJsonDocument(event.toJsonObject()).toJson(QJsonDocument::Compact);
    if (data.size() > config_->maxEventBytes()) {
        analyticsLog(QStringLiteral("[Analytics] Event '") + event.event() + QStringLiteral("' is larger than ") +
                     QString::number(config_->maxEventBytes()) + QStringLiteral(" bytes, dropping it"));
        return;
    }
    // The new event is stored before the oldest go: when the write fails (a
    // full disk), the queue keeps what it had rather than losing one more.
    if (!fileQueue_->add(data))
        return;
    const int cap = std::max(1, config_->maxQueueSize());
    while (fileQueue_->depth() > cap) {
        analyticsLog(QStringLiteral("[Analytics] Queue is full, dropping oldest event"));
        fileQueue_->deleteAt(0);
    }
    analyticsLog(QStringLiteral("Queued event '") + event.event() + QStringLiteral("'. Depth: ") +
                 QString::number(fileQueue_->depth()));
    flushIfOverThreshold();
}

void AnalyticsQueue::flushIfOverThreshold()
{
    if (depth() >= config_->flushAt())
        flush();
}

bool AnalyticsQueue::canFlushNow() const
{
    if (isFlushing_) {
        analyticsLog(QStringLiteral("[Analytics] Already flushing"));
        return false;
    }
    if (paused_) {
        analyticsLog(QStringLiteral("[Analytics] The queue is paused due to the reachability check"));
        return false;
    }
    const qint64 until = pausedUntil_.load();
    if (until != 0 && until > now().toMSecsSinceEpoch()) {
        analyticsLog(QStringLiteral("The queue is paused until `") +
                     toISO8601String(QDateTime::fromMSecsSinceEpoch(until, Qt::UTC)) + QStringLiteral("`"));
        return false;
    }
    return true;
}

bool AnalyticsQueue::canFlush()
{
    if (!ownsFolder_ || !canFlushNow())
        return false;
    // Only one caller wins the flag; the others see a batch out.
    bool expected = false;
    if (!isFlushing_.compare_exchange_strong(expected, true)) {
        analyticsLog(QStringLiteral("[Analytics] Already flushing"));
        return false;
    }
    return true;
}

void AnalyticsQueue::flush()
{
    if (canFlush())
        take(batchLimit());
}

void AnalyticsQueue::clear()
{
    fileQueue_->clear();
}

void AnalyticsQueue::finishFlush()
{
    isFlushing_ = false;
}

void AnalyticsQueue::take(int count)
{
    dispatchQueue_->async([weak = weak_from_this(), count] {
        const auto self = weak.lock();
        if (!self)
            return;
        const auto items = self->fileQueue_->peek(count, self->config_->maxBatchBytes());
        QStringList names;
        AnalyticsConsumerPayload payload;
        for (const auto& item : items) {
            names << item.name;
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(item.data, &error);
            if (error.error != QJsonParseError::NoError || !doc.isObject())
                continue;
            if (auto event = AnalyticsEvent::fromJsonObject(doc.object()))
                payload.events.append(std::move(*event));
        }
        // The completion removes exactly the files read for this batch,
        // wherever the head of the queue has moved meanwhile.
        payload.completion = [weak, names](bool remove) {
            const auto queue = weak.lock();
            if (!queue)
                return;
            if (remove) {
                queue->fileQueue_->remove(names);
                if (!names.isEmpty())
                    analyticsLog(QStringLiteral("[Analytics] Completed!"));
            }
            queue->finishFlush();
        };
        if (payload.events.isEmpty()) {
            // Nothing to send; files that held no usable event go too.
            payload.completion(true);
            return;
        }
        self->eventHandler(payload);
    });
}

void AnalyticsQueue::eventHandler(const AnalyticsConsumerPayload& payload)
{
    analyticsLog(QStringLiteral("Sending batch of ") + QString::number(payload.events.size()) +
                 QStringLiteral(" events to Analytics"));
    auto completion = [weak = weak_from_this(), payload](const AnalyticsBatchUploadInfo& info) {
        if (const auto self = weak.lock())
            self->handleResult(info, payload);
    };
    if (endpoint_ == AnalyticsApiEndpoint::snapshot)
        api_->snapshot(payload.events, std::move(completion));
    else
        api_->batch(payload.events, std::move(completion));
}

void AnalyticsQueue::handleResult(const AnalyticsBatchUploadInfo& info, const AnalyticsConsumerPayload& payload)
{
    const int size = static_cast<int>(payload.events.size());
    if (info.notSent) {
        // Building the request failed here; the same batch would fail again.
        analyticsLog(QStringLiteral("[Analytics] Dropping a batch of ") + QString::number(size) +
                     QStringLiteral(" events that could not be sent"));
        retryCount_ = 0;
        payload.completion(true);
        return;
    }
    const int status = info.statusCode.value_or(-1);
    if (status == 413 && size > 1) {
        const int smaller = std::max(1, size / 2);
        batchLimit_ = smaller;
        analyticsLog(QStringLiteral("[Analytics] Batch too large for the server, retrying with ") +
                     QString::number(smaller) + QStringLiteral(" events"));
        payload.completion(false);
        flush();
        return;
    }
    if (isRetryable(status)) {
        const int count = ++retryCount_;
        double delay = std::min(count * kBackoffStepSeconds, kMaxBackoffSeconds);
        if (info.retryAfterSeconds)
            delay = std::max(delay, static_cast<double>(*info.retryAfterSeconds));
        pausedUntil_ = now().toMSecsSinceEpoch() + static_cast<qint64>(delay * 1000);
        analyticsLog(QStringLiteral("Pausing queue consumption for ") + doubleText(delay) +
                     QStringLiteral(" seconds due to ") + doubleText(count) + QStringLiteral(" API failure(s)."));
        payload.completion(false);
        return;
    }
    retryCount_ = 0;
    if (status >= 200 && status <= 299) {
        // Grow back towards the configured size after a 413.
        const int limit = batchLimit_.load();
        if (limit > 0)
            batchLimit_ = limit * 2 >= std::max(1, config_->maxBatchSize()) ? 0 : limit * 2;
    }
    payload.completion(true);
}

} // namespace analytics
