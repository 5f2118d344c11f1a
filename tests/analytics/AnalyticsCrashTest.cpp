#include "QueueTestSupport.h"

#include <QElapsedTimer>
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
    // Runs the child to its end, which must be a clean one: no sanitizer report.
    void expectCleanRun(const QStringList& args)
    {
        QProcess child;
        child.setProgram(QStringLiteral(ANALYTICS_QUEUE_CHILD));
        child.setArguments(args);
        child.start();
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return child.state() == QProcess::NotRunning; }, 60000));
        const QByteArray errors = child.readAllStandardError();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains("Sanitizer")) << errors.toStdString();
        EXPECT_FALSE(errors.contains("runtime error")) << errors.toStdString();
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

TEST_F(AnalyticsCrashTest, EveryEventWhoseAddReturnedSurvivesAKill)
{
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    make();
    queue.reset();
    storage.reset();
    QSet<QString> promised;
    for (int round = 0; round < 20; ++round) {
        QProcess child;
        startChild(child, {"loop", server.baseUrl(), config->projectToken()});
        ASSERT_TRUE(waitUntil([&] { return child.canReadLine(); }, 30000));
        QThread::usleep(std::uniform_int_distribution<unsigned>(0, 40000)(random));
        killHard(child);
        // Only whole lines: a line cut by the kill was never promised.
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            if (lines[i] != "READY")
                promised.insert(QString::fromLatin1(lines[i]));
    }
    EXPECT_GT(promised.size(), 0);

    AnalyticsQueue& q = make();
    QSet<QString> stored;
    for (const QString& name : filesOnDisk()) {
        EXPECT_FALSE(isTemporaryFileName(name)) << "a restart clears unfinished writes";
        QFile file(queueFolder() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
        ASSERT_TRUE(doc.isObject()) << "torn file " << name.toStdString();
        const auto event = AnalyticsEvent::fromJsonObject(doc.object());
        ASSERT_TRUE(event.has_value()) << name.toStdString();
        stored.insert(uuidText(event->uuid()));
    }
    EXPECT_EQ(q.depth(), stored.size());
    const QSet<QString> lost = promised - stored;
    EXPECT_TRUE(lost.isEmpty()) << lost.size() << " of " << promised.size() << " events lost, one is "
                                << (lost.isEmpty() ? std::string() : lost.begin()->toStdString());
}

TEST_F(AnalyticsCrashTest, AMigrationCutShortByAKillEndsWithEveryEventOnce)
{
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    make();
    const QString list = storage->appFolder() + "/analytics.queue.plist";
    const QString folder = queueFolder();
    queue.reset();
    storage.reset();
    // Some elements share a time and some have none, as an older list holds them.
    QJsonArray elements;
    QSet<QString> expected;
    for (int i = 0; i < 1500; ++i) {
        QJsonObject event = makeEvent(QString("old%1").arg(i)).toJsonObject();
        if (i % 7 == 0)
            event.remove("timestamp");
        else if (i % 5 == 0)
            event["timestamp"] = "2024-01-31T12:00:00.250Z";
        elements.append(event);
        expected.insert(event["uuid"].toString());
    }
    const QByteArray listBytes = QJsonDocument(elements).toJson(QJsonDocument::Compact);
    auto writeList = [&] {
        QFile file(list);
        return file.open(QIODevice::WriteOnly) && file.write(listBytes) == listBytes.size();
    };

    // How long a whole migration takes here, so kills land inside one.
    ASSERT_TRUE(writeList());
    QElapsedTimer timer;
    timer.start();
    {
        QProcess child;
        startChild(child, {"migrate", server.baseUrl(), config->projectToken()});
        ASSERT_TRUE(child.waitForFinished(60000));
    }
    const qint64 wholeMs = std::max<qint64>(timer.elapsed(), 1);
    auto storedIds = [&] {
        QStringList ids;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot)) {
            QFile file(folder + "/" + name);
            if (file.open(QIODevice::ReadOnly))
                ids << QJsonDocument::fromJson(file.readAll()).object().value("uuid").toString();
        }
        return ids;
    };
    auto sameOnce = [&](const QStringList& ids) {
        return ids.size() == expected.size() && QSet<QString>(ids.begin(), ids.end()) == expected;
    };
    ASSERT_TRUE(sameOnce(storedIds()));

    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(QDir(folder).removeRecursively());
        ASSERT_TRUE(writeList());
        QProcess child;
        startChild(child, {"migrate", server.baseUrl(), config->projectToken()});
        QThread::msleep(std::uniform_int_distribution<qint64>(0, wholeMs)(random));
        if (child.state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(30000));

        // The next start finishes what the killed one began.
        AnalyticsQueue& q = make();
        EXPECT_EQ(q.depth(), expected.size());
        queue.reset();
        storage.reset();
        const QStringList ids = storedIds();
        EXPECT_TRUE(sameOnce(ids)) << ids.size() << " files for " << expected.size() << " events";
        EXPECT_FALSE(QFileInfo::exists(list));
        EXPECT_FALSE(QFileInfo::exists(list + ".migrating"));
    }
}

// The client's threads are never stopped; whatever they touch must outlive
// them, however early the program ends. The child also uses the client once
// more after its static objects would have gone, as such a thread may.
TEST_F(AnalyticsCrashTest, AProgramThatCapturesAndExitsAtOnceExitsClean)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        expectCleanRun({"capture-exit", server.baseUrl(), config->projectToken()});
    }
}

// A thread still at work as the program ends may hand the client an upload
// after the application object is gone; Qt's networking must not be started
// then, as it reads that object's freed state.
TEST_F(AnalyticsCrashTest, AnUploadHandedOverAfterTheApplicationEndedIsDroppedCleanly)
{
    expectCleanRun({"upload-after-exit", server.baseUrl(), config->projectToken()});
    EXPECT_TRUE(server.requests().isEmpty());
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
