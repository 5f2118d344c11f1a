#pragma once

// Header only: include it from tests that link vellox_analytics.
#include "analytics/AnalyticsClient.h"
#include "analytics/AnalyticsManager.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"

#include <QList>
#include <QMutex>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

// An analytics client that records what it is asked to do. Captures arrive on
// the analytics sender thread: call waitForSends() before reading them.
class RecordingAnalyticsClient final : public analytics::AnalyticsClient {
public:
    struct Capture {
        QString event;
        std::optional<QVariantMap> properties; // none: the form without properties
        QThread* thread = nullptr;
    };

    void setup(std::shared_ptr<analytics::AnalyticsConfig> config) override
    {
        if (onSetup)
            onSetup();
        QMutexLocker lock(&mutex_);
        configs_.append(std::move(config));
    }
    void capture(const QString& event) override { record({event, std::nullopt, QThread::currentThread()}); }
    void capture(const QString& event, const QVariantMap& properties) override
    {
        record({event, properties, QThread::currentThread()});
    }

    static void waitForSends() { analytics::AnalyticsManager::waitForPendingSends(); }

    QList<std::shared_ptr<analytics::AnalyticsConfig>> configs() const
    {
        QMutexLocker lock(&mutex_);
        return configs_;
    }
    QList<Capture> captures() const
    {
        QMutexLocker lock(&mutex_);
        return captures_;
    }

    // Runs inside setup(), before it records; lets a test hold set-up open.
    std::function<void()> onSetup;

private:
    void record(Capture capture)
    {
        QMutexLocker lock(&mutex_);
        captures_.append(std::move(capture));
    }

    mutable QMutex mutex_;
    QList<std::shared_ptr<analytics::AnalyticsConfig>> configs_;
    QList<Capture> captures_;
};

// Installs a recording client and starts from unconfigured analytics; leaves
// them unconfigured again.
class RecordingAnalytics {
public:
    RecordingAnalytics()
        : client_(std::make_shared<RecordingAnalyticsClient>())
        , scope_(client_)
    {
        analytics::AnalyticsManager::resetForTesting();
    }
    ~RecordingAnalytics()
    {
        RecordingAnalyticsClient::waitForSends();
        analytics::AnalyticsManager::resetForTesting();
    }
    RecordingAnalytics(const RecordingAnalytics&) = delete;
    RecordingAnalytics& operator=(const RecordingAnalytics&) = delete;

    RecordingAnalyticsClient& client() { return *client_; }

    // Puts a project token into the installed fake information file and sets
    // analytics up, so events flow to the recording client.
    void switchOn(const QString& token = QStringLiteral("test-token"))
    {
        auto& info = platform::fake::as<platform::fake::FakeAppInfo>(platform::Platform::current().appInfo);
        info.values.insert(QString::fromLatin1(analytics::AnalyticsManager::kApiKeyInfoKey), token);
        analytics::AnalyticsManager::configureIfNeeded();
    }

    QList<RecordingAnalyticsClient::Capture> sent()
    {
        RecordingAnalyticsClient::waitForSends();
        return client_->captures();
    }

private:
    std::shared_ptr<RecordingAnalyticsClient> client_;
    analytics::ScopedAnalyticsClient scope_;
};
