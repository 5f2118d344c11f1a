// A process that queues analytics events, for tests that kill it with
// SIGKILL at awkward moments. Its home comes from the environment.
//
//   analytics_queue_child upload <host> <token> <count>
//     queues <count> events (printing each id), which starts an upload, and
//     then waits for the killer.
//   analytics_queue_child loop <host> <token>
//     queues events until killed; prints "READY" once the queue stands, then
//     each event's id once add() has returned for it.
//   analytics_queue_child migrate <host> <token>
//     opens the queue, which moves the earlier layouts into it, and prints
//     "MIGRATED".
//   analytics_queue_child capture-exit <host> <token>
//     sets the shared client up as the application does, with its debug log on,
//     captures events (the last one starts an upload) and returns from main
//     at once, while the client's threads are still at work.
//   analytics_queue_child upload-after-exit <host> <token>
//     lets the application object go, then hands the client an upload, as a
//     thread still at work during exit does, and ends once the upload had
//     time to start.

#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsFiles.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

using namespace analytics;

namespace {

// What a client thread that is never stopped may still do as the program
// ends. Registered before the client makes any of its static objects, it
// runs after all of them would have been destroyed: the latest moment such
// a thread can reach.
void useTheClientAfterStaticObjects()
{
    analyticsLog(QStringLiteral("[Analytics] Still at work at exit"));
    const FolderLock lock(QFile::decodeName(std::getenv("HOME")));
    const QString userAgent = analyticsSdkName() + QLatin1Char('/') + analyticsVersion();
    const QString id = uuidText(TimeBasedEpochGenerator::shared().v7());
    std::printf("%s %s\n", qPrintable(userAgent), qPrintable(id));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "capture-exit")
        std::atexit(useTheClientAfterStaticObjects);
    if (argc > 3 && std::string_view(argv[1]) == "upload-after-exit") {
        std::shared_ptr<AnalyticsApi> api;
        {
            QCoreApplication app(argc, argv);
            platform::PlatformGuard guard;
            platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
                {"CFBundleIdentifier", "app.vellox.desktop"}};
            api = std::make_shared<AnalyticsApi>(
                std::make_shared<AnalyticsConfig>(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[2])));
        }
        const AnalyticsEvent event(QStringLiteral("late"), QStringLiteral("user"), {}, QDateTime::currentDateTimeUtc(),
                                   TimeBasedEpochGenerator::shared().v7());
        api->batch({event}, [](const AnalyticsBatchUploadInfo&) { std::printf("ANSWERED\n"); });
        // Long enough for the network thread to take the upload up, were it
        // still running; nothing waits for its answer.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return 0;
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    platform::PlatformGuard guard;
    platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
        {"CFBundleIdentifier", "app.vellox.desktop"}};

    auto config = std::make_shared<AnalyticsConfig>(args[3], args[2]);
    if (args[1] == QLatin1String("capture-exit")) {
        config->setDebug(true);
        config->setDisableReachabilityForTesting(true);
        config->setDisableRemoteConfigForTesting(true);
        // The last event starts an upload that is still on its way at exit.
        constexpr int kEvents = 50;
        config->setFlushAt(kEvents);
        config->setMaxBatchSize(kEvents);
        const auto sdk = AnalyticsSDK::shared();
        sdk->setup(config);
        for (int i = 0; i < kEvents; ++i)
            sdk->capture(QStringLiteral("exit_test"), QVariantMap{{"i", i}});
        return 0;
    }
    const bool upload = args[1] == QLatin1String("upload");
    const bool migrate = args[1] == QLatin1String("migrate");
    const int count = upload && args.size() > 4 ? args[4].toInt() : 0;
    config->setFlushAt(upload ? count : 1000000);
    config->setMaxQueueSize(1000000);
    config->setMaxBatchSize(upload ? count : 50);
    AnalyticsStorage storage(*config);
    auto api = std::make_shared<AnalyticsApi>(config);
    auto queue = std::make_shared<AnalyticsQueue>(config, storage, api, AnalyticsQueue::AnalyticsApiEndpoint::batch,
                                                  nullptr);
    queue->start(true, true);
    if (migrate) {
        std::printf("MIGRATED\n");
        std::fflush(stdout);
        return 0;
    }

    if (upload) {
        for (int i = 0; i < count; ++i) {
            const AnalyticsEvent event(QStringLiteral("crash_test"), QStringLiteral("user"), {{"i", i}},
                                       QDateTime::currentDateTimeUtc(), TimeBasedEpochGenerator::shared().v7());
            std::printf("%s\n", qPrintable(uuidText(event.uuid())));
            std::fflush(stdout);
            queue->add(event);
        }
        return app.exec();
    }

    std::printf("READY\n");
    std::fflush(stdout);
    for (int i = 0;; ++i) {
        const AnalyticsEvent event(QStringLiteral("loop"), QStringLiteral("user"),
                                   {{"i", i}, {"pad", QString(512 + i % 4096, QLatin1Char('p'))}},
                                   QDateTime::currentDateTimeUtc(), TimeBasedEpochGenerator::shared().v7());
        queue->add(event);
        std::printf("%s\n", qPrintable(uuidText(event.uuid())));
        std::fflush(stdout);
    }
}
