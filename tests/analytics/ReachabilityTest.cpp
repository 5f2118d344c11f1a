#include "analytics/Reachability.h"

#include "QueueTestSupport.h"
#include "platform/NotificationBus.h"
#include "platform/fake/FakeReachability.h"

#include <gtest/gtest.h>

using namespace analytics;
using namespace analytics_test;
using Path = platform::Reachability::Path;

namespace {

class ReachabilityTest : public ::testing::Test, public QueueFixture {
protected:
    platform::fake::FakeReachability& network()
    {
        return platform::fake::as<platform::fake::FakeReachability>(guard.platform().reachability);
    }
    AnalyticsQueue& makeGated()
    {
        storage = std::make_unique<AnalyticsStorage>(*config);
        api = std::make_shared<AnalyticsApi>(config);
        watcher = Reachability::create();
        queue = std::make_shared<AnalyticsQueue>(config, *storage, api, AnalyticsQueue::AnalyticsApiEndpoint::batch,
                                                 watcher);
        queue->start(false, true);
        return *queue;
    }
    std::shared_ptr<Reachability> watcher;
};

} // namespace

TEST_F(ReachabilityTest, ReportsOnceAtStartAndThenOnlyChanges)
{
    int reports = 0;
    QObject context;
    guard.platform().notifications->observe("reachabilityChanged", &context, [&](const QVariantMap&) { ++reports; });
    auto r = Reachability::create();
    int reachable = 0;
    r->whenReachable = [&](Reachability&) { ++reachable; };
    ASSERT_TRUE(r->startNotifier());
    ASSERT_TRUE(waitUntil([&] { return reports == 1; }));
    EXPECT_EQ(reachable, 1);
    network().setPath(Path::Unmetered);
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 1) << "the same path again is no change";
    EXPECT_EQ(r->currentReachabilityString(), "WiFi");

    network().setPath(Path::Cellular);
    r.reset(); // destroyed with a change still queued: nothing is delivered
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 1);
}

TEST_F(ReachabilityTest, TheQueuePausesWhileTheNetworkIsGoneAndFlushesWhenItComesBack)
{
    AnalyticsLogRecorder log;
    AnalyticsQueue& q = makeGated();
    q.add(makeEvent("e"));
    ASSERT_TRUE(server.waitForRequests(1)) << "the first report of a usable path flushes";
    ASSERT_TRUE(waitIdle());

    network().setPath(Path::Unavailable);
    ASSERT_TRUE(waitUntil([&] { return q.isPaused(); }));
    EXPECT_TRUE(log.contains("[Analytics] Queue is paused because network is unreachable"));
    q.add(makeEvent("offline"));
    q.flush();
    EXPECT_TRUE(log.contains("[Analytics] The queue is paused due to the reachability check"));

    network().setPath(Path::Unmetered);
    ASSERT_TRUE(server.waitForRequests(2));
    EXPECT_FALSE(q.isPaused());
    EXPECT_EQ(uuidsOf(server.requests().at(1)).size(), 1);
}

TEST_F(ReachabilityTest, WifiOnlyModeHoldsUploadsOnACellularPath)
{
    AnalyticsLogRecorder log;
    config->setDataMode(AnalyticsDataMode::wifiOnly);
    network().setPath(Path::Cellular);
    AnalyticsQueue& q = makeGated();
    ASSERT_TRUE(waitUntil([&] { return q.isPaused(); }));
    EXPECT_TRUE(log.contains("[Analytics] Queue is paused because its not in WiFi mode"));
    network().setPath(Path::Unmetered);
    ASSERT_TRUE(waitUntil([&] { return !q.isPaused(); }));
}
