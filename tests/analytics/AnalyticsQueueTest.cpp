#include "QueueTestSupport.h"

#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <cstring>
#include <sys/resource.h>
#include <thread>

using namespace analytics;
using namespace analytics_test;
using Reply = LoopbackHttpServer::Reply;

namespace {

class AnalyticsQueueTest : public ::testing::Test, public QueueFixture {};

// While it lives, files of this process cannot grow past a few bytes (EFBIG),
// which a write meets as it would a full disk; root is held to it too.
class FileWritesFail {
public:
    FileWritesFail()
    {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit tiny = saved_;
        tiny.rlim_cur = 8;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileWritesFail()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

TEST_F(AnalyticsQueueTest, UploadsAGzipBatchWithTheWireHeadersAndEmptiesTheFolder)
{
    config->setFlushAt(2);
    AnalyticsQueue& q = make();
    const AnalyticsEvent first = makeEvent("app_installed");
    const AnalyticsEvent second = makeEvent("rewrite_success", {{"provider", "gemini"}});
    q.add(first);
    EXPECT_EQ(filesOnDisk().size(), 1);
    q.add(second);

    ASSERT_TRUE(server.waitForRequests(1));
    const auto& request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/batch");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.header("User-Agent"), "analytics-linux/3.57.3");
    ASSERT_TRUE(request.body.startsWith("\x1f\x8b")) << "a gzip member";

    const QJsonObject body = QJsonDocument::fromJson(gunzip(request.body)).object();
    EXPECT_EQ(body.keys(), QStringList({"api_key", "batch", "sent_at"}));
    EXPECT_EQ(body["api_key"].toString(), "phc_test");
    EXPECT_TRUE(toISO8601Date(body["sent_at"].toString()).has_value());
    const QJsonArray batch = body["batch"].toArray();
    ASSERT_EQ(batch.size(), 2);
    EXPECT_EQ(batch[0].toObject(), first.toJsonObject());
    EXPECT_EQ(batch[1].toObject(), second.toJsonObject());

    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(filesOnDisk().isEmpty());
    EXPECT_EQ(q.depth(), 0);
}

TEST_F(AnalyticsQueueTest, FlushesAtTheThresholdAndNotBefore)
{
    config->setFlushAt(20);
    AnalyticsQueue& q = make();
    for (int i = 0; i < 19; ++i)
        q.add(makeEvent(QString("e%1").arg(i)));
    QThread::msleep(100);
    QCoreApplication::processEvents();
    EXPECT_TRUE(server.requests().isEmpty());
    q.add(makeEvent("e19"));
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 20);
}

TEST_F(AnalyticsQueueTest, TheTimerFlushesWhatIsBelowTheThreshold)
{
    config->setFlushIntervalSeconds(0.1);
    AnalyticsQueue& q = make(true);
    q.add(makeEvent("lonely"));
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 1);
    ASSERT_TRUE(waitIdle());
    q.stop();
}

TEST_F(AnalyticsQueueTest, OverTheCapTheOldestGoAndOrderIsKept)
{
    config->setMaxQueueSize(5);
    config->setMaxBatchSize(50);
    AnalyticsLogRecorder log;
    AnalyticsQueue& q = make();
    QStringList ids;
    for (int i = 0; i < 8; ++i) {
        const AnalyticsEvent event = makeEvent(QString("e%1").arg(i));
        ids << uuidText(event.uuid());
        q.add(event);
    }
    EXPECT_EQ(q.depth(), 5);
    EXPECT_EQ(filesOnDisk().size(), 5);
    EXPECT_EQ(log.count("[Analytics] Queue is full, dropping oldest event"), 3);
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(uuidsOf(server.requests().at(0)), ids.mid(3));
}

TEST_F(AnalyticsQueueTest, AtTheCapAFailedWriteLosesNothingStored)
{
    config->setMaxQueueSize(3);
    AnalyticsLogRecorder log;
    AnalyticsQueue& q = make();
    for (int i = 0; i < 3; ++i)
        q.add(makeEvent(QString("e%1").arg(i)));
    const QStringList stored = filesOnDisk();
    {
        FileWritesFail full;
        q.add(makeEvent("no room"));
    }
    EXPECT_TRUE(log.containsPrefix("[Analytics] Could not write file "));
    EXPECT_EQ(q.depth(), 3);
    EXPECT_EQ(filesOnDisk(), stored) << "the oldest event is kept when the new one cannot be stored";
    EXPECT_EQ(log.count("[Analytics] Queue is full, dropping oldest event"), 0);

    q.add(makeEvent("room again"));
    EXPECT_EQ(q.depth(), 3);
    EXPECT_EQ(filesOnDisk().mid(0, 2), stored.mid(1)) << "only now does the oldest go";
    EXPECT_EQ(log.count("[Analytics] Queue is full, dropping oldest event"), 1);
}

TEST_F(AnalyticsQueueTest, AQueueFolderThatCannotBeListedSaysWhy)
{
    make();
    const QString folder = queueFolder();
    queue.reset();
    storage.reset();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    struct Case {
        const char* name;
        std::function<bool()> block;
        int error;
    };
    const Case cases[] = {
        {"a file in its place",
         [&] {
             QFile file(folder);
             return file.open(QIODevice::WriteOnly);
         },
         ENOTDIR},
        {"a link to itself", [&] { return QFile::link(folder, folder); }, ELOOP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder);
        ASSERT_TRUE(c.block());
        AnalyticsLogRecorder log;
        AnalyticsQueue& q = make();
        EXPECT_EQ(q.depth(), 0);
        EXPECT_TRUE(log.contains("[Analytics] Failed to load files for queue " + folder + ": " +
                                 QString::fromLocal8Bit(std::strerror(c.error))))
            << log.lines().join('\n').toStdString();
        queue.reset();
        storage.reset();
    }
    QFile::remove(folder);
}

TEST_F(AnalyticsQueueTest, BatchesStopAtTheirCountAndByteCaps)
{
    config->setMaxBatchSize(3);
    AnalyticsQueue& q = make();
    for (int i = 0; i < 5; ++i)
        q.add(makeEvent("e", {{"pad", QString(400, 'x')}}));
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 3);
    ASSERT_TRUE(waitIdle());

    config->setMaxBatchBytes(1000);
    q.flush();
    ASSERT_TRUE(server.waitForRequests(2));
    EXPECT_EQ(batchOf(server.requests().at(1)).size(), 1) << "two events of ~500 bytes pass 1000 bytes";

    config->setMaxEventBytes(300);
    AnalyticsLogRecorder log;
    q.add(makeEvent("huge", {{"pad", QString(400, 'x')}}));
    EXPECT_TRUE(log.contains("[Analytics] Event 'huge' is larger than 300 bytes, dropping it"));
}

TEST_F(AnalyticsQueueTest, ServerAnswersDecideBetweenDeletingRetryingAndShrinking)
{
    struct Case {
        const char* name;
        Reply reply;
        bool deleted;
        qint64 pauseMs; // 0: none
    };
    const Case cases[] = {
        {"200", Reply::json("{}", 200), true, 0},
        {"204", Reply::json("", 204), true, 0},
        {"400", Reply::json(R"({"error":"bad"})", 400), true, 0},
        {"401", Reply::json("{}", 401), true, 0},
        {"404", Reply::json("{}", 404), true, 0},
        {"301", Reply::json("{}", 301).withHeader("Location", "/elsewhere"), false, 5000},
        {"408", Reply::json("{}", 408), false, 5000},
        {"429 with Retry-After", Reply::json("{}", 429).withHeader("Retry-After", "120"), false, 120000},
        {"500", Reply::json(R"({"error":"down"})", 500), false, 5000},
        {"503", Reply::json("{}", 503), false, 5000},
        {"no answer", Reply::closeWithoutAnswer(), false, 5000},
        // The status decides, however long the body behind it.
        {"200 with a 6 MB body", Reply::json("{\"pad\":\"" + QByteArray(6 << 20, 'x') + "\"}", 200), true, 0},
        {"500 with a 6 MB body", Reply::json("{\"pad\":\"" + QByteArray(6 << 20, 'x') + "\"}", 500), false, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnalyticsQueue& q = make();
        q.clear();
        for (int i = 0; i < 4; ++i)
            q.add(makeEvent("e"));
        const int before = static_cast<int>(server.requests().size());
        // Every request of the case gets the same answer: the network layer
        // itself resends once after a connection closed without an answer.
        server.setHandler([&c](const LoopbackHttpServer::Request&) { return c.reply; });
        q.flush();
        ASSERT_TRUE(server.waitForRequests(before + 1));
        ASSERT_TRUE(waitUntil([&] { return !q.isFlushing() && (c.deleted ? q.depth() == 0 : true); }, 20000));
        EXPECT_EQ(q.depth(), c.deleted ? 0 : 4);
        EXPECT_EQ(filesOnDisk().size(), c.deleted ? 0 : 4);
        EXPECT_EQ(q.pausedUntilMs(), c.pauseMs ? clock().now().toMSecsSinceEpoch() + c.pauseMs : 0);
        EXPECT_EQ(q.retryCount(), c.pauseMs ? 1 : 0);
    }
}

TEST_F(AnalyticsQueueTest, AnAnswerThatNeverEndsEndsAtTheDeadline)
{
    struct Case {
        const char* name;
        Reply reply;
        bool deleted;
    };
    Reply trickledHead = Reply::json("{}", 200);
    trickledHead.headByteDelayMs = 150;
    Reply trickledBody = Reply::json("", 200);
    trickledBody.headers = {{"Content-Length", "200"}};
    for (int i = 0; i < 200; ++i)
        trickledBody.withPiece("x", 150);
    const Case cases[] = {
        {"the head a byte at a time", trickledHead, false},
        {"200, then the body a byte at a time", trickledBody, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnalyticsLogRecorder log;
        AnalyticsQueue& q = make();
        api->setRequestDeadline(std::chrono::milliseconds(1500));
        q.clear();
        for (int i = 0; i < 3; ++i)
            q.add(makeEvent("e"));
        server.enqueue(c.reply);
        const int before = static_cast<int>(server.requests().size());
        q.flush();
        ASSERT_TRUE(server.waitForRequests(before + 1));
        // Either answer would keep the request going for 30 s.
        ASSERT_TRUE(waitUntil([&] { return !q.isFlushing(); }, 15000));
        EXPECT_EQ(q.depth(), c.deleted ? 0 : 3);
        EXPECT_EQ(q.retryCount(), c.deleted ? 0 : 1);
        if (c.deleted)
            continue;
        EXPECT_TRUE(log.contains("[Analytics] Error calling the batch API: No complete answer within 1.5 s."))
            << log.lines().join('\n').toStdString();
        // The usual back-off, and then the queue moves again.
        EXPECT_EQ(q.pausedUntilMs(), clock().now().toMSecsSinceEpoch() + 5000);
        clock().advance(5001);
        q.flush();
        ASSERT_TRUE(server.waitForRequests(before + 2));
        ASSERT_TRUE(waitUntil([&] { return q.depth() == 0 && !q.isFlushing(); }));
    }
}

TEST_F(AnalyticsQueueTest, TooLargeHalvesTheBatchAndDropsASingleEvent)
{
    AnalyticsQueue& q = make();
    for (int i = 0; i < 4; ++i)
        q.add(makeEvent("e"));
    server.enqueue(Reply::json("{}", 413));
    q.flush();
    ASSERT_TRUE(server.waitForRequests(2)) << "the smaller batch goes at once";
    ASSERT_TRUE(waitUntil([&] { return q.depth() == 2 && !q.isFlushing(); }));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 4);
    EXPECT_EQ(batchOf(server.requests().at(1)).size(), 2);
    EXPECT_EQ(q.retryCount(), 0);
    EXPECT_EQ(q.pausedUntilMs(), 0);

    q.clear();
    q.add(makeEvent("alone"));
    server.enqueue(Reply::json("{}", 413));
    q.flush();
    ASSERT_TRUE(server.waitForRequests(3));
    ASSERT_TRUE(waitUntil([&] { return q.depth() == 0 && !q.isFlushing(); })) << "one event too large cannot shrink";
}

TEST_F(AnalyticsQueueTest, BackOffGrowsToThirtySecondsAndHoldsFlushesBack)
{
    AnalyticsLogRecorder log;
    server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::json("{}", 500); });
    AnalyticsQueue& q = make();
    q.add(makeEvent("e"));
    const double expected[] = {5, 10, 15, 20, 25, 30, 30};
    int failures = 0;
    for (double delay : expected) {
        ++failures;
        log.clear();
        q.flush();
        ASSERT_TRUE(server.waitForRequests(failures));
        ASSERT_TRUE(waitUntil([&] { return q.retryCount() == failures && !q.isFlushing(); }));
        EXPECT_TRUE(log.contains(QString("[Analytics] Pausing queue consumption for %1.0 seconds due to %2.0 API failure(s).")
                                     .arg(delay)
                                     .arg(failures)));
        log.clear();
        q.flush();
        EXPECT_TRUE(log.containsPrefix("[Analytics] The queue is paused until `")) << "refused while paused";
        clock().advance(static_cast<qint64>(delay * 1000) + 1);
    }
    EXPECT_EQ(q.depth(), 1) << "an outage loses nothing";

    server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::json("{}", 200); });
    q.flush();
    ASSERT_TRUE(waitUntil([&] { return q.depth() == 0 && !q.isFlushing(); }));
    EXPECT_EQ(q.retryCount(), 0);
}

TEST_F(AnalyticsQueueTest, AnAcceptedBatchDeletesExactlyItsOwnFiles)
{
    // The head of the queue moves while the batch is out: the cap drops the
    // oldest event (part of the batch) and a new one comes in behind.
    config->setMaxQueueSize(3);
    auto gate = std::make_shared<LoopbackHttpServer::Gate>();
    Reply held = Reply::json("{}", 200);
    held.gate = gate;
    server.enqueue(held);
    AnalyticsQueue& q = make();
    for (int i = 0; i < 3; ++i)
        q.add(makeEvent(QString("old%1").arg(i)));
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    const AnalyticsEvent late = makeEvent("late");
    q.add(late);
    EXPECT_EQ(q.depth(), 3);
    gate->open();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(q.depth(), 1) << "the late event stays queued";
    EXPECT_EQ(filesOnDisk().size(), 1);
    q.flush();
    ASSERT_TRUE(server.waitForRequests(2));
    EXPECT_EQ(uuidsOf(server.requests().at(1)), QStringList{uuidText(late.uuid())});
}

TEST_F(AnalyticsQueueTest, MissingAndCorruptFilesAreSkippedAndForgotten)
{
    AnalyticsQueue& q = make();
    for (int i = 0; i < 4; ++i)
        q.add(makeEvent(QString("e%1").arg(i)));
    const QStringList names = q.fileQueue().items();
    QFile::remove(queueFolder() + "/" + names[0]);
    QFile broken(queueFolder() + "/" + names[1]);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{\"event\":");
    broken.close();
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 2);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(q.depth(), 0);
    EXPECT_TRUE(filesOnDisk().isEmpty());
}

TEST_F(AnalyticsQueueTest, EarlierLayoutsMoveIntoTheQueueFolder)
{
    make();
    const QString app = storage->appFolder();
    queue.reset();
    storage.reset();
    QDir().mkpath(app + "/analytics.queueFolder");
    const AnalyticsEvent clash = makeEvent("clash");
    for (const QString& name : {QString("A"), QString("B"), uuidText(clash.uuid())}) {
        QFile f(app + "/analytics.queueFolder/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(makeEvent(name).toJsonObject()).toJson());
    }
    {
        // The same name already queued in the new folder: both must survive.
        QDir().mkpath(app + "/analytics.queueFolder.uuid");
        QFile f(app + "/analytics.queueFolder.uuid/" + uuidText(clash.uuid()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(clash.toJsonObject()).toJson());
    }
    {
        QFile f(app + "/analytics.queue.plist");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"([{"event":"p1","distinct_id":"d","timestamp":"2024-01-31T12:00:00.250Z"},
                    {"event":"p2","distinct_id":"d"}, 7])");
    }
    // Something that cannot be moved keeps the old folder (and itself) alive.
    QDir().mkpath(app + "/analytics.queueFolder/stray");
    AnalyticsQueue& q = make();
    EXPECT_EQ(q.depth(), 6);
    EXPECT_EQ(QDir(app + "/analytics.queueFolder").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"stray"});
    EXPECT_FALSE(QFileInfo::exists(app + "/analytics.queue.plist"));
    EXPECT_FALSE(QFileInfo::exists(app + "/analytics.queue.plist.migrating"));
    EXPECT_TRUE(q.fileQueue().items().contains("1706702400.25"));
    config->setMaxBatchSize(10);
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(batchOf(server.requests().at(0)).size(), 6);
}

TEST_F(AnalyticsQueueTest, AfterARestartTheQueueRunsInCreationOrder)
{
    make();
    const QString folder = queueFolder();
    queue.reset();
    storage.reset();
    auto createdMs = [](const QString& path) {
        const QFileInfo info(path);
        return (info.birthTime().isValid() ? info.birthTime() : info.lastModified()).toMSecsSinceEpoch();
    };
    // Names against the order of creation; each file is made again until the
    // file system gives it a later time than the one before.
    QStringList ids;
    qint64 previous = std::numeric_limits<qint64>::min();
    for (const QString& name : {QString("C"), QString("B"), QString("A")}) {
        const AnalyticsEvent event = makeEvent(name);
        ids << uuidText(event.uuid());
        const QString path = folder + "/" + name;
        ASSERT_TRUE(waitUntil([&] {
            QFile::remove(path);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(event.toJsonObject()).toJson()) <= 0)
                return false;
            file.close();
            return createdMs(path) > previous;
        }));
        previous = createdMs(path);
    }
    AnalyticsQueue& q = make();
    EXPECT_EQ(q.fileQueue().items(), QStringList({"C", "B", "A"}));
    q.flush();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(uuidsOf(server.requests().at(0)), ids);
}

TEST_F(AnalyticsQueueTest, EightThreadsTenThousandEventsArriveExactlyOnce)
{
    config->setFlushAt(50);
    config->setMaxQueueSize(20000);
    AnalyticsQueue& q = make();
    constexpr int kThreads = 8;
    constexpr int kTotal = 10000;
    std::vector<QStringList> made(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> done = 0;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < kTotal; i += kThreads) {
                const AnalyticsEvent event = makeEvent("load");
                made[static_cast<size_t>(t)] << uuidText(event.uuid());
                q.add(event);
            }
            ++done;
        });
    ASSERT_TRUE(waitUntil([&] { return done == kThreads; }, 120000));
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!q.isFlushing() && q.depth() > 0)
                q.flush();
            return q.depth() == 0 && !q.isFlushing();
        },
        120000));

    QSet<QString> expected;
    for (const auto& ids : made)
        for (const auto& id : ids)
            expected.insert(id);
    QStringList received;
    for (const auto& request : server.requests())
        received << uuidsOf(request);
    EXPECT_EQ(received.size(), kTotal) << "nothing twice";
    EXPECT_EQ(QSet<QString>(received.begin(), received.end()), expected);
    EXPECT_TRUE(filesOnDisk().isEmpty());
}
