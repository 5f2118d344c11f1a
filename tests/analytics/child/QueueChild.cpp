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

#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"

#include <QCoreApplication>

#include <cstdio>

using namespace analytics;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    platform::PlatformGuard guard;
    platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
        {"CFBundleIdentifier", "app.vellox.desktop"}};

    auto config = std::make_shared<AnalyticsConfig>(args[3], args[2]);
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
