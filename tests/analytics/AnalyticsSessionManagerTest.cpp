#include "analytics/AnalyticsSessionManager.h"

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "platform/Platform.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <thread>

using namespace analytics;
using Reason = AnalyticsSessionManager::SessionIDChangeReason;

namespace {

class AnalyticsSessionManagerTest : public ::testing::Test {
protected:
    AnalyticsSessionManagerTest()
    {
        changes = manager->onSessionIdChanged().subscribe([this] { ++changeCount; });
    }
    platform::fake::FakeClock& clock() { return platform::fake::as<platform::fake::FakeClock>(guard.platform().clock); }
    QDateTime at(double secondsFromNow)
    {
        return guard.platform().clock->now().addMSecs(static_cast<qint64>(secondsFromNow * 1000));
    }
    void foreground() { ApplicationLifecyclePublisher::shared().applicationStateChanged(Qt::ApplicationActive); }
    void background() { ApplicationLifecyclePublisher::shared().applicationStateChanged(Qt::ApplicationInactive); }

    platform::PlatformGuard guard;
    AnalyticsLogRecorder log;
    std::shared_ptr<AnalyticsSessionManager> manager = std::make_shared<AnalyticsSessionManager>();
    std::shared_ptr<RegistrationToken> changes;
    int changeCount = 0;
};

} // namespace

TEST_F(AnalyticsSessionManagerTest, TransitionTable)
{
    enum class Start { none, empty, held };
    struct Case {
        const char* name;
        Start start;
        bool inBackground;
        double activityAgo; // seconds before the read; the session started then too
        double startedAgo;
        bool readOnly;
        enum { same, fresh, cleared } outcome;
        std::optional<Reason> reason;
    };
    const Case cases[] = {
        {"none, foreground: starts one", Start::none, false, 0, 0, false, Case::fresh, Reason::sessionIdEmpty},
        {"empty text, foreground: replaced", Start::empty, false, 0, 0, false, Case::fresh, Reason::sessionIdEmpty},
        {"none, background: stays none", Start::none, true, 0, 0, false, Case::cleared, std::nullopt},
        {"exactly 30 minutes idle: kept", Start::held, false, 1800, 1800, false, Case::same, std::nullopt},
        {"just over 30 minutes, foreground: rotated", Start::held, false, 1800.001, 1800.001, false, Case::fresh,
         Reason::sessionTimeout},
        {"just over 30 minutes, background: cleared", Start::held, true, 1800.001, 1800.001, false, Case::cleared,
         Reason::sessionTimeout},
        {"active but 24 hours long, foreground: rotated", Start::held, false, 60, 86400.5, false, Case::fresh,
         Reason::sessionPastMaximumLength},
        {"active but 24 hours long, background: cleared", Start::held, true, 60, 86400.5, false, Case::cleared,
         Reason::sessionPastMaximumLength},
        {"read only never changes", Start::held, false, 90000, 90000, true, Case::same, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager = std::make_shared<AnalyticsSessionManager>();
        changes = manager->onSessionIdChanged().subscribe([this] { ++changeCount; });
        manager->registerNotifications();
        background();
        if (!c.inBackground)
            foreground();
        // Set the session at its start time, then move activity forward.
        clock().advance(static_cast<qint64>(-c.startedAgo * 1000));
        if (c.start == Start::held)
            manager->startSession();
        else if (c.start == Start::empty)
            manager->setSessionId(QString());
        // Activity every 25 minutes keeps a long session alive up to its last touch.
        for (double left = c.startedAgo - c.activityAgo; left > 0; left -= 1500) {
            clock().advance(static_cast<qint64>(std::min(left, 1500.0) * 1000));
            manager->touchSession();
        }
        clock().advance(static_cast<qint64>(c.activityAgo * 1000));
        const std::optional<QString> before = manager->getSessionId(at(0), true);
        changeCount = 0;
        log.clear();

        const std::optional<QString> id = manager->getSessionId(at(0), c.readOnly);
        switch (c.outcome) {
        case Case::same:
            EXPECT_EQ(id, before);
            EXPECT_EQ(changeCount, 0);
            break;
        case Case::fresh:
            ASSERT_TRUE(id);
            EXPECT_NE(id, before);
            EXPECT_EQ(id->size(), 36);
            EXPECT_EQ(manager->getSessionId(at(0), true), id);
            EXPECT_EQ(changeCount, 1);
            EXPECT_EQ(log.lines(), QStringList{"[Analytics] New session id created " + *id + " (" +
                                               AnalyticsSessionManager::caseName(*c.reason) + ")"});
            break;
        case Case::cleared:
            EXPECT_FALSE(id);
            EXPECT_FALSE(manager->getSessionId(at(0), true));
            if (c.reason) {
                EXPECT_EQ(log.lines(), QStringList{"[Analytics] Session id cleared - reason: (" +
                                                   AnalyticsSessionManager::caseName(*c.reason) + ")"});
            }
            break;
        }
        manager->unregisterNotifications();
    }
}

TEST_F(AnalyticsSessionManagerTest, ExplicitOperationsAndActivity)
{
    manager->registerNotifications();
    background();
    foreground();
    bool completed = false;
    manager->startSession([&] { completed = true; });
    EXPECT_TRUE(completed);
    const auto first = manager->getSessionId(at(0), true);
    ASSERT_TRUE(first);
    EXPECT_TRUE(log.contains("[Analytics] New session id created " + *first + " (sessionStart)"));

    // Activation changes count as activity: 20 minutes, a focus change, 20 more.
    clock().advance(20 * 60 * 1000);
    background();
    foreground();
    clock().advance(20 * 60 * 1000);
    EXPECT_EQ(manager->getSessionId(at(0), false), first);

    // A focus change after more than 30 idle minutes rotates at once.
    clock().advance(31 * 60 * 1000);
    background();
    const auto rotated = manager->getSessionId(at(0), true);
    EXPECT_NE(rotated, first);
    EXPECT_TRUE(manager->isAppInBackground());

    manager->setSessionId("custom");
    EXPECT_EQ(manager->getSessionId(at(0), true), "custom");
    manager->resetSession();
    EXPECT_NE(manager->getSessionId(at(0), true), "custom");
    manager->endSession();
    EXPECT_FALSE(manager->getSessionId(at(0), true));
    EXPECT_TRUE(log.contains("[Analytics] Session id cleared - reason: (sessionEnd)"));

    manager->unregisterNotifications();
    foreground();
    EXPECT_TRUE(manager->isAppInBackground()) << "no longer subscribed";
}

TEST_F(AnalyticsSessionManagerTest, WrapperSdkNameSwitchesTheOperationsOff)
{
    setAnalyticsSdkName("analytics-react-native");
    bool completed = false;
    manager->startSession([&] { completed = true; });
    manager->resetSession();
    EXPECT_FALSE(manager->getSessionId(at(0), false));
    EXPECT_FALSE(completed);
    manager->setSessionId("kept");
    manager->endSession();
    EXPECT_EQ(manager->getSessionId(at(0), false), "kept");
    setAnalyticsSdkName(kAnalyticsDefaultSdkName);
}

TEST_F(AnalyticsSessionManagerTest, ConcurrentReadersRotateAnExpiredSessionOnce)
{
    manager->registerNotifications();
    background();
    foreground();
    manager->startSession();
    clock().advance(3600 * 1000);
    changeCount = 0;
    std::vector<std::thread> threads;
    std::vector<std::optional<QString>> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { seen[static_cast<size_t>(i)] = manager->getSessionId(at(0), false); });
    for (auto& thread : threads)
        thread.join();
    for (const auto& id : seen)
        EXPECT_EQ(id, seen[0]) << "every reader gets the one new session";
    EXPECT_EQ(changeCount, 1);
    manager->unregisterNotifications();
}

TEST(AnalyticsMulticastCallbackTest, TokensKeepSubscriptionsAndSnapshotsAreStable)
{
    QList<int> counts;
    AnalyticsMulticastCallback<int> multicast([&](int n) { counts << n; });
    int calls = 0;
    std::shared_ptr<RegistrationToken> late;
    auto token = multicast.subscribe([&](const int& value) {
        calls += value;
        if (!late)
            late = multicast.subscribe([&](const int&) { calls += 100; });
    });
    multicast.invoke(1);
    EXPECT_EQ(calls, 1) << "a handler added during invoke waits for the next one";
    multicast.invoke(1);
    EXPECT_EQ(calls, 102);
    token.reset();
    late.reset();
    multicast.invoke(1);
    EXPECT_EQ(calls, 102);
    EXPECT_EQ(counts, QList<int>({1, 2, 1, 0}));

    std::shared_ptr<RegistrationToken> outliving;
    {
        AnalyticsMulticastCallback<> gone;
        outliving = gone.subscribe([] {});
    }
    outliving.reset(); // a token released after its multicast does nothing
}

TEST(AnalyticsSessionReasonTest, RawValues)
{
    EXPECT_EQ(AnalyticsSessionManager::rawValue(Reason::sessionPastMaximumLength), "Session past maximum length");
    EXPECT_EQ(AnalyticsSessionManager::reasonFromRawValue("Custom session set"), Reason::customSessionId);
    EXPECT_FALSE(AnalyticsSessionManager::reasonFromRawValue("nope"));
}
