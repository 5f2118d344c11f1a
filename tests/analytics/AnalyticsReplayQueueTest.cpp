#include "analytics/AnalyticsReplayQueue.h"

#include "QueueTestSupport.h"

#include <gtest/gtest.h>

using namespace analytics;
using namespace analytics_test;

namespace {

struct Buffering : AnalyticsReplayBufferDelegate {
    bool on = true;
    int buffered = 0;
    bool shouldBuffer() const override { return on; }
    void didBuffer(AnalyticsReplayQueue&) override { ++buffered; }
};

class AnalyticsReplayQueueTest : public ::testing::Test, public QueueFixture {
protected:
    std::unique_ptr<AnalyticsReplayQueue> makeReplay()
    {
        make();
        return std::make_unique<AnalyticsReplayQueue>(config, *storage, api, nullptr);
    }
    QString bufferFolder() const { return storage->path(AnalyticsStorage::StorageKey::replayBufferQueue); }
};

} // namespace

TEST_F(AnalyticsReplayQueueTest, WithoutADelegateSnapshotsGoToTheSnapshotEndpoint)
{
    auto replay = makeReplay();
    replay->add(makeEvent("$snapshot"));
    EXPECT_EQ(replay->innerQueue().depth(), 1);
    EXPECT_TRUE(QFile::exists(storage->path(AnalyticsStorage::StorageKey::replayQeueue) + "/" +
                              replay->innerQueue().fileQueue().items().value(0)));
    replay->flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(server.requests()[0].target, "/s/");
    EXPECT_EQ(QJsonDocument::fromJson(gunzip(server.requests()[0].body)).array().size(), 1);
}

TEST_F(AnalyticsReplayQueueTest, ABufferingDelegateParksEventsAndHoldsFlushesBack)
{
    AnalyticsLogRecorder log;
    auto replay = makeReplay();
    auto delegate = std::make_shared<Buffering>();
    replay->setBufferDelegate(delegate);
    replay->add(makeEvent("$snapshot"));
    replay->add(makeEvent("$snapshot"));
    EXPECT_EQ(replay->bufferQueue().depth(), 2);
    EXPECT_EQ(delegate->buffered, 2);
    EXPECT_EQ(replay->innerQueue().depth(), 0);
    EXPECT_EQ(QDir(bufferFolder()).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(log.contains("[Analytics] Buffered replay event '$snapshot'. Buffer depth: 2"));
    replay->flush();
    EXPECT_TRUE(log.contains(QString::fromUtf8("[Analytics] Replay queue flush suppressed \u2014 still buffering")));

    replay.reset();
    auto restarted = std::make_unique<AnalyticsReplayQueue>(config, *storage, api, nullptr);
    EXPECT_TRUE(QDir(bufferFolder()).entryList(QDir::Files).isEmpty()) << "a start begins with an empty buffer";
}
