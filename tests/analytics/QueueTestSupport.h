#pragma once

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePlatform.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <zlib.h>

#include <functional>
#include <memory>

namespace analytics_test {

// Restores gzip bytes; empty on any error.
inline QByteArray gunzip(const QByteArray& data)
{
    z_stream stream{};
    if (inflateInit2(&stream, 31) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            inflateEnd(&stream);
            return {};
        }
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - stream.avail_out));
    } while (status != Z_STREAM_END);
    inflateEnd(&stream);
    return out;
}

// The events of one recorded batch upload, as JSON objects.
inline QJsonArray batchOf(const LoopbackHttpServer::Request& request)
{
    return QJsonDocument::fromJson(gunzip(request.body)).object().value("batch").toArray();
}

inline QStringList uuidsOf(const LoopbackHttpServer::Request& request)
{
    QStringList ids;
    for (const QJsonValue& event : batchOf(request))
        ids << event.toObject().value("uuid").toString();
    return ids;
}

// Spins the event loop until the condition holds.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

inline analytics::AnalyticsEvent makeEvent(const QString& name, QVariantMap properties = {})
{
    return analytics::AnalyticsEvent(name, QStringLiteral("user-1"), std::move(properties),
                                     QDateTime::currentDateTimeUtc(), analytics::TimeBasedEpochGenerator::shared().v7());
}

// A queue in a private home, uploading to a loopback server started here.
class QueueFixture {
public:
    QueueFixture()
    {
        platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
            {"CFBundleIdentifier", "app.vellox.desktop"}};
        config = std::make_shared<analytics::AnalyticsConfig>(QStringLiteral("phc_test"), server.baseUrl());
        config->setFlushAt(1000);
        config->setMaxQueueSize(1000);
        server.setHandler([](const LoopbackHttpServer::Request&) { return LoopbackHttpServer::Reply::json("{}"); });
    }
    ~QueueFixture()
    {
        queue.reset();
        api.reset();
        storage.reset();
    }

    // Builds storage, client and queue from the configuration as it stands.
    analytics::AnalyticsQueue& make(bool withTimer = false)
    {
        queue.reset();
        storage = std::make_unique<analytics::AnalyticsStorage>(*config);
        api = std::make_shared<analytics::AnalyticsApi>(config);
        queue = std::make_shared<analytics::AnalyticsQueue>(config, *storage, api,
                                                            analytics::AnalyticsQueue::AnalyticsApiEndpoint::batch,
                                                            nullptr);
        queue->start(true, !withTimer);
        return *queue;
    }

    QString queueFolder() const
    {
        return storage->path(analytics::AnalyticsStorage::StorageKey::queue);
    }
    // Every entry of the queue folder, temporary ones included.
    QStringList filesOnDisk() const
    {
        return QDir(queueFolder()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    platform::fake::FakeClock& clock() { return platform::fake::as<platform::fake::FakeClock>(guard.platform().clock); }
    bool waitIdle(int timeoutMs = 5000)
    {
        return waitUntil([this] { return !queue->isFlushing(); }, timeoutMs);
    }

    TempHome home;
    platform::PlatformGuard guard;
    LoopbackHttpServer server;
    std::shared_ptr<analytics::AnalyticsConfig> config;
    std::unique_ptr<analytics::AnalyticsStorage> storage;
    std::shared_ptr<analytics::AnalyticsApi> api;
    std::shared_ptr<analytics::AnalyticsQueue> queue;
};

} // namespace analytics_test
