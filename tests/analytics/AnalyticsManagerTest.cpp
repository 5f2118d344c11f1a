#include "analytics/AnalyticsManager.h"

#include "analytics/AnalyticsConfig.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakePlatform.h"
#include "support/RecordingAnalyticsClient.h"

#include <QSemaphore>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

using analytics::AnalyticsConfig;
using analytics::AnalyticsManager;
using platform::fake::FakeAppInfo;
using platform::fake::FakeDefaults;

namespace {

const QString kTokenKey = QStringLiteral("ANALYTICS_API_KEY");
const QString kHostKey = QStringLiteral("ANALYTICS_HOST");
const QString kInstalledKey = QStringLiteral("vellox.analytics.app_installed_sent");

class AnalyticsManagerTest : public ::testing::Test {
protected:
    QVariantMap& info() { return platform::fake::as<FakeAppInfo>(guard.platform().appInfo).values; }
    FakeDefaults& defaults() { return platform::fake::as<FakeDefaults>(guard.platform().defaults); }

    platform::PlatformGuard guard;
    RecordingAnalytics analytics;
};

} // namespace

TEST_F(AnalyticsManagerTest, StaysOffWithoutAUsableToken)
{
    struct Case {
        const char* name;
        QVariant token;
    };
    const Case cases[] = {
        {"absent", QVariant()},
        {"empty", QStringLiteral("")},
        {"blank", QStringLiteral("  \n\t ")},
        {"not a string", 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnalyticsManager::resetForTesting();
        info().remove(kTokenKey);
        if (c.token.isValid())
            info().insert(kTokenKey, c.token);

        AnalyticsManager::configureIfNeeded();
        AnalyticsManager::trackAppInstalledOnceIfNeeded();
        AnalyticsManager::track("rewrite_triggered", QVariantMap{{"trigger", "hotkey"}});

        EXPECT_FALSE(AnalyticsManager::trackingEnabled());
        EXPECT_TRUE(analytics.client().configs().isEmpty());
        EXPECT_TRUE(analytics.sent().isEmpty());
        EXPECT_EQ(defaults().writeCount(), 0) << "the installation flag stays unset";
    }
}

TEST_F(AnalyticsManagerTest, ConfiguresOnceWithTheTrimmedTokenAndTheFourSwitchesOff)
{
    struct Case {
        const char* name;
        QVariant host;
        QString expectedHost;
    };
    const QString defaultHost = QString::fromLatin1(AnalyticsConfig::kDefaultHost);
    const Case cases[] = {
        {"no host", QVariant(), defaultHost},
        {"blank host", QStringLiteral("   "), defaultHost},
        {"host not a string", 7, defaultHost},
        {"host with blanks", QStringLiteral(" https://eu.analytics.test \n"), "https://eu.analytics.test"},
        {"host that is no URL", QStringLiteral("https://exa mple.test"), defaultHost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnalyticsManager::resetForTesting();
        const auto before = analytics.client().configs().size();
        info().insert(kTokenKey, QStringLiteral("  phc_token \n"));
        info().remove(kHostKey);
        if (c.host.isValid())
            info().insert(kHostKey, c.host);

        AnalyticsManager::configureIfNeeded();
        AnalyticsManager::configureIfNeeded();

        EXPECT_TRUE(AnalyticsManager::trackingEnabled());
        const auto configs = analytics.client().configs();
        ASSERT_EQ(configs.size(), before + 1) << "set up exactly once";
        const AnalyticsConfig& config = *configs.last();
        EXPECT_EQ(config.projectToken(), "phc_token");
        EXPECT_EQ(config.host().toString(), c.expectedHost);
        EXPECT_FALSE(config.captureApplicationLifecycleEvents());
        EXPECT_FALSE(config.captureScreenViews());
        EXPECT_FALSE(config.preloadFeatureFlags());
        EXPECT_FALSE(config.sendFeatureFlagEvent());
    }
}

TEST_F(AnalyticsManagerTest, NeverRetriesAfterAFirstRunWithoutToken)
{
    AnalyticsManager::configureIfNeeded();
    info().insert(kTokenKey, QStringLiteral("late-token"));
    AnalyticsManager::configureIfNeeded();
    EXPECT_FALSE(AnalyticsManager::trackingEnabled());
    EXPECT_TRUE(analytics.client().configs().isEmpty());
}

TEST_F(AnalyticsManagerTest, TrackPicksTheCaptureFormAndRunsOffTheCallersThread)
{
    AnalyticsManager::track("too_early");
    EXPECT_TRUE(analytics.sent().isEmpty()) << "nothing is sent before set-up";

    analytics.switchOn();
    AnalyticsManager::track("plain");
    AnalyticsManager::track("empty_map", QVariantMap{});
    AnalyticsManager::track("api_key_added", QVariantMap{{"provider", "gemini"}});

    const auto sent = analytics.sent();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent[0].event, "plain");
    EXPECT_FALSE(sent[0].properties.has_value());
    EXPECT_EQ(sent[1].event, "empty_map");
    EXPECT_EQ(sent[1].properties, QVariantMap{}) << "an empty map still takes the form with properties";
    EXPECT_EQ(sent[2].event, "api_key_added");
    EXPECT_EQ(sent[2].properties, QVariantMap({{"provider", "gemini"}}));
    for (const auto& capture : sent)
        EXPECT_NE(capture.thread, QThread::currentThread());
}

TEST_F(AnalyticsManagerTest, EventsFromManyThreadsKeepEachThreadsOrderOnOneSender)
{
    analytics.switchOn();
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                AnalyticsManager::track(QStringLiteral("e"), QVariantMap{{"t", t}, {"i", i}});
        });
    for (auto& thread : threads)
        thread.join();

    const auto sent = analytics.sent();
    ASSERT_EQ(sent.size(), kThreads * kEach);
    std::vector<int> next(kThreads, 0);
    QSet<QThread*> senders;
    for (const auto& capture : sent) {
        const int t = capture.properties->value("t").toInt();
        EXPECT_EQ(capture.properties->value("i").toInt(), next[t]++) << "thread " << t << " reordered";
        senders.insert(capture.thread);
    }
    EXPECT_EQ(senders.size(), 1) << "one sender thread, not one per event";
}

TEST_F(AnalyticsManagerTest, AnnouncesTheInstallationOncePerInstallation)
{
    analytics.switchOn();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();

    const auto sent = analytics.sent();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].event, "app_installed");
    EXPECT_FALSE(sent[0].properties.has_value());
    EXPECT_EQ(defaults().value(kInstalledKey), QVariant(true));
    EXPECT_EQ(defaults().writeCount(kInstalledKey), 1);
}

TEST_F(AnalyticsManagerTest, InstallationFlagIsWrittenOnlyAfterTheEventIsQueued)
{
    bool flagSetWhenCaptured = true;
    class Probe final : public analytics::AnalyticsClient {
    public:
        explicit Probe(std::function<void()> onCapture)
            : onCapture_(std::move(onCapture))
        {
        }
        void setup(std::shared_ptr<AnalyticsConfig>) override {}
        void capture(const QString&) override { onCapture_(); }
        void capture(const QString&, const QVariantMap&) override { onCapture_(); }

    private:
        std::function<void()> onCapture_;
    };
    analytics::ScopedAnalyticsClient probe(
        std::make_shared<Probe>([&] { flagSetWhenCaptured = defaults().contains(kInstalledKey); }));
    info().insert(kTokenKey, QStringLiteral("token"));
    AnalyticsManager::configureIfNeeded();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();
    AnalyticsManager::waitForPendingSends();

    EXPECT_FALSE(flagSetWhenCaptured) << "a run that dies before queueing must send it next time";
    EXPECT_EQ(defaults().value(kInstalledKey), QVariant(true));
}

TEST_F(AnalyticsManagerTest, InstallationAlreadyAnnouncedSendsNothing)
{
    defaults().setValue(kInstalledKey, true);
    analytics.switchOn();
    AnalyticsManager::trackAppInstalledOnceIfNeeded();
    EXPECT_TRUE(analytics.sent().isEmpty());
}

TEST_F(AnalyticsManagerTest, EventSentDuringSetUpWaitsAndThenGoesOut)
{
    QSemaphore entered;
    QSemaphore proceed;
    analytics.client().onSetup = [&] {
        entered.release();
        proceed.acquire();
    };
    info().insert(kTokenKey, QStringLiteral("token"));

    std::thread configuring([] { AnalyticsManager::configureIfNeeded(); });
    entered.acquire();
    std::atomic<bool> trackReturned = false;
    std::thread sending([&] {
        AnalyticsManager::track("during_setup");
        trackReturned = true;
    });
    QThread::msleep(50);
    EXPECT_FALSE(trackReturned) << "the event waits for set-up to finish";
    proceed.release();
    configuring.join();
    sending.join();

    const auto sent = analytics.sent();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].event, "during_setup");
}
