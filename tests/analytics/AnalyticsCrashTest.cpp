#include "QueueTestSupport.h"

#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

using namespace analytics;
using namespace analytics_test;
using Reply = LoopbackHttpServer::Reply;

namespace {

class AnalyticsCrashTest : public ::testing::Test, public QueueFixture {
protected:
    void startChild(QProcess& child, const QStringList& args)
    {
        child.setProgram(QStringLiteral(ANALYTICS_QUEUE_CHILD));
        child.setArguments(args);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start();
        ASSERT_TRUE(child.waitForStarted());
    }
    static void killHard(QProcess& child)
    {
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    }
};

} // namespace

TEST_F(AnalyticsCrashTest, EventsOfAnUploadCutShortByAKillAllArriveAfterARestart)
{
    // The server takes the upload and never answers.
    auto never = std::make_shared<LoopbackHttpServer::Gate>();
    server.setHandler([never](const LoopbackHttpServer::Request&) {
        Reply held = Reply::json("{}");
        held.gate = never;
        return held;
    });
    QProcess child;
    startChild(child, {"upload", server.baseUrl(), config->projectToken(), "30"});
    QStringList ids;
    ASSERT_TRUE(waitUntil(
        [&] {
            while (child.canReadLine())
                ids << QString::fromLatin1(child.readLine()).trimmed();
            return ids.size() == 30 && server.requests().size() >= 1;
        },
        30000));
    EXPECT_EQ(uuidsOf(server.requests().at(0)), ids) << "the upload was on its way";
    killHard(child);

    server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::json("{}"); });
    const int before = static_cast<int>(server.requests().size());
    AnalyticsQueue& q = make();
    EXPECT_EQ(q.depth(), 30);
    q.flush();
    ASSERT_TRUE(waitUntil([&] { return q.depth() == 0 && !q.isFlushing(); }));
    QStringList received;
    for (int i = before; i < server.requests().size(); ++i)
        received << uuidsOf(server.requests().at(i));
    EXPECT_EQ(QSet<QString>(received.begin(), received.end()), QSet<QString>(ids.begin(), ids.end()));
    EXPECT_TRUE(filesOnDisk().isEmpty()) << filesOnDisk().join(' ').toStdString();
}

TEST_F(AnalyticsCrashTest, KillsInTheMiddleOfEnqueuingLeaveNoTornFile)
{
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    make();
    queue.reset();
    storage.reset();
    for (int round = 0; round < 20; ++round) {
        QProcess child;
        startChild(child, {"loop", server.baseUrl(), config->projectToken()});
        ASSERT_TRUE(child.waitForReadyRead(30000));
        QThread::usleep(std::uniform_int_distribution<unsigned>(0, 40000)(random));
        killHard(child);
    }

    AnalyticsStorage probe(*config);
    const QString queueDir = probe.path(AnalyticsStorage::StorageKey::queue);
    int events = 0;
    for (const QString& name : QDir(queueDir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (isTemporaryFileName(name))
            continue;
        QFile file(queueDir + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
        ASSERT_TRUE(doc.isObject()) << "torn file " << name.toStdString();
        ASSERT_TRUE(AnalyticsEvent::fromJsonObject(doc.object()).has_value()) << name.toStdString();
        ++events;
    }
    EXPECT_GT(events, 0);
    AnalyticsQueue& q = make();
    EXPECT_EQ(q.depth(), events);
    for (const QString& name : filesOnDisk())
        EXPECT_FALSE(isTemporaryFileName(name)) << "a restart clears unfinished writes";
}

TEST_F(AnalyticsCrashTest, ASecondProcessOnTheSameFolderQueuesNothing)
{
    AnalyticsQueue& q = make();
    q.add(makeEvent("mine"));
    // The refused process must not touch anything else either, its working
    // folder included.
    const QString cwd = home.filePath("cwd");
    QDir().mkpath(cwd);
    QFile hidden(cwd + "/.hidden");
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.close();
    QProcess child;
    child.setWorkingDirectory(cwd);
    startChild(child, {"upload", server.baseUrl(), config->projectToken(), "3"});
    QStringList ids;
    ASSERT_TRUE(waitUntil(
        [&] {
            while (child.canReadLine())
                ids << QString::fromLatin1(child.readLine()).trimmed();
            return ids.size() == 3;
        },
        30000));
    QThread::msleep(200);
    QCoreApplication::processEvents();
    killHard(child);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(filesOnDisk(), q.fileQueue().items()) << "only this process's event is in the folder";
    EXPECT_TRUE(QFile::exists(cwd + "/.hidden"));
}
