// Events on their whole road: capture, the queue on disk, and upload to a
// server on 127.0.0.1, across threads, a killed process and the application's
// own facade.
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsManager.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "IngestionServer.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"
#include "support/TempHome.h"
#include "Vellox/settings/KeychainStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

#include <sys/types.h>
#include <signal.h>

using namespace analytics;

namespace {

const QString kToken = QStringLiteral("tok");
const char* kChildHostVariable = "VELLOX_TEST_CHILD_INGESTION_HOST";
constexpr int kChildEvents = 30;

std::shared_ptr<AnalyticsConfig> deliveryConfig(const QString& host)
{
    auto config = std::make_shared<AnalyticsConfig>(kToken, host);
    config->setDisableReachabilityForTesting(true);
    config->setDisableQueueTimerForTesting(true);
    config->setDisableFlushOnBackgroundForTesting(true);
    config->setDisableRemoteConfigForTesting(true);
    // As the application has them.
    config->setCaptureApplicationLifecycleEvents(false);
    config->setCaptureScreenViews(false);
    config->setPreloadFeatureFlags(false);
    config->setSendFeatureFlagEvent(false);
    return config;
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

} // namespace

// Run only as a child process of SurvivesAKillDuringUpload: captures events,
// starts an upload the server never answers, and waits to be killed.
TEST(AnalyticsCrashChild, DISABLED_CapturesStartsAnUploadAndHangs)
{
    const QString host = qEnvironmentVariable(kChildHostVariable);
    ASSERT_FALSE(host.isEmpty());
    platform::PlatformGuard guard;
    auto config = deliveryConfig(host);
    config->setFlushAt(1000);
    auto sdk = AnalyticsSDK::with(config);
    for (int n = 0; n < kChildEvents; ++n)
        sdk->capture(QStringLiteral("child_event"), QVariantMap{{"n", n}});
    sdk->flush();
    std::fputs("captured\n", stdout);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

TEST(AnalyticsDelivery, EveryCapturedEventSurvivesAKillDuringUpload)
{
    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
    ingestion.batchGate = std::make_shared<LoopbackHttpServer::Gate>(); // never answers the child

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildHostVariable), ingestion.host());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=AnalyticsCrashChild.*"});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(ingestion.waitFor([&] { return !ingestion.requestsTo("/batch").isEmpty(); }, 30000))
        << "the child starts an upload";
    EXPECT_EQ(ingestion.events().size(), kChildEvents) << "the upload in flight carries the events";
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    // The next run of the program, against a server that answers.
    const qsizetype before = ingestion.events().size();
    ingestion.batchGate.reset();
    auto sdk = AnalyticsSDK::with(deliveryConfig(ingestion.host()));
    sdk->flush();
    ASSERT_TRUE(ingestion.waitFor([&] { return ingestion.events().size() - before >= kChildEvents; }));
    QSet<int> delivered;
    for (qsizetype i = before; i < ingestion.events().size(); ++i)
        delivered.insert(ingestion.events()[i].value("properties").toMap().value("n").toInt());
    EXPECT_EQ(delivered.size(), kChildEvents) << "every captured event arrives after the restart";
    sdk->close();
}

TEST(AnalyticsDelivery, EightThreadsDeliverExactlyTheirEventsEachInOrder)
{
    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
    constexpr int kThreads = 8;
    constexpr int kTotal = 10000;
    constexpr int kEach = kTotal / kThreads;
    auto config = deliveryConfig(ingestion.host());
    config->setMaxQueueSize(kTotal * 2);
    auto sdk = AnalyticsSDK::with(config);

    QMutex capturedLock;
    QSet<QString> captured;
    std::shared_ptr<RegistrationToken> token = sdk->onEventCaptured().subscribe([&](const AnalyticsEvent& event) {
        QMutexLocker lock(&capturedLock);
        captured.insert(uuidText(event.uuid()));
    });
    std::atomic<int> finished = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                sdk->capture(QStringLiteral("threaded"), QVariantMap{{"t", t}, {"i", i}});
            ++finished;
        });
    // The server lives on this thread: keep serving while they capture.
    ASSERT_TRUE(ingestion.waitFor([&] { return finished == kThreads; }, 120000));
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(ingestion.waitFor(
        [&] {
            if (ingestion.events().size() >= kTotal)
                return true;
            sdk->flush();
            return false;
        },
        120000));

    const QList<QVariantMap> received = ingestion.events();
    EXPECT_EQ(received.size(), kTotal);
    QSet<QString> uuids;
    std::vector<int> next(kThreads, 0);
    for (const QVariantMap& event : received) {
        uuids.insert(event.value("uuid").toString());
        const QVariantMap properties = event.value("properties").toMap();
        const int t = properties.value("t").toInt();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(properties.value("i").toInt(), next[t]) << "thread " << t;
        next[t] = properties.value("i").toInt() + 1;
    }
    EXPECT_EQ(uuids, captured);
    sdk->close();
}

class AnalyticsProgramEvents : public ::testing::Test {
protected:
    void SetUp() override { AnalyticsManager::resetForTesting(); }
    void TearDown() override
    {
        AnalyticsManager::waitForPendingSends();
        AnalyticsSDK::shared()->close();
        AnalyticsManager::resetForTesting();
        qunsetenv(AnalyticsManager::kHostEnvironmentVariable);
    }
    QVariantMap& info() { return platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values; }

    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
};

TEST_F(AnalyticsProgramEvents, ReachTheServerWithATokenAndALoopbackHost)
{
    info().insert(AnalyticsManager::kApiKeyInfoKey, kToken);
    qputenv(AnalyticsManager::kHostEnvironmentVariable, ingestion.host().toUtf8());
    AnalyticsManager::configureIfNeeded();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();
    KeychainStore::setApiKey(QStringLiteral("sk-test"), ProviderId::anthropic);
    AnalyticsManager::track(QStringLiteral("rewrite_triggered"), QVariantMap{{"trigger", "hotkey"}, {"provider", "anthropic"}});
    AnalyticsManager::waitForPendingSends();
    AnalyticsSDK::shared()->flush();

    ASSERT_TRUE(ingestion.waitForEvents(3));
    QStringList names;
    for (const auto& event : ingestion.events())
        names.append(event.value("event").toString());
    EXPECT_EQ(names, QStringList({"app_installed", "api_key_added", "rewrite_triggered"}));
    EXPECT_EQ(ingestion.events()[1].value("properties").toMap().value("provider"), "anthropic");
    EXPECT_EQ(ingestion.requestsTo("/array/").size(), 1) << "the remote configuration is fetched at set-up";
    EXPECT_EQ(ingestion.requestsTo("/flags").size(), 0);
}

TEST_F(AnalyticsProgramEvents, WithoutATokenNothingIsSentAndNoFileIsWritten)
{
    qputenv(AnalyticsManager::kHostEnvironmentVariable, ingestion.host().toUtf8());
    AnalyticsManager::configureIfNeeded();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();
    KeychainStore::setApiKey(QStringLiteral("sk-test"), ProviderId::gemini);
    AnalyticsManager::track(QStringLiteral("rewrite_triggered"), QVariantMap{{"trigger", "hotkey"}});
    AnalyticsManager::track(QStringLiteral("rewrite_failed"), QVariantMap{{"code", "http_500"}});
    AnalyticsManager::waitForPendingSends();
    ingestion.waitFor([] { return false; }, 200);

    EXPECT_TRUE(ingestion.server.requests().isEmpty());
    EXPECT_FALSE(AnalyticsSDK::shared()->isEnabled());
    for (const QString& file : filesUnder(home.path()))
        EXPECT_FALSE(file.contains("analytics")) << file.toStdString();
}
