#include "helpers/BenchScratch.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/sdk/AnalyticsSDK.h"

#include "platform/Platform.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

// The application object the SDK's helpers expect, made once.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "AnalyticsCaptureBench";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        static QCoreApplication app(argc, argv);
}

// One of the application's own events, captured through the public API and
// stored as one file in the send queue. Nothing is uploaded: the queue never
// reaches its threshold and no timer runs. Nothing is deleted while it runs
// (see BenchScratch.h); after the warm-up, items_per_second is the
// steady-state rate on the file system the label names. $TMPDIR picks it.
void BM_CaptureToDisk(benchmark::State& state)
{
    ensureApplication();
    const QString folder = bench::retainedScratchFolder();
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder));
    {
        platform::PlatformGuard guard;
        auto config = std::make_shared<analytics::AnalyticsConfig>(QStringLiteral("bench-token"),
                                                                   QStringLiteral("http://127.0.0.1:9"));
        config->setDisableReachabilityForTesting(true);
        config->setDisableQueueTimerForTesting(true);
        config->setDisableFlushOnBackgroundForTesting(true);
        config->setDisableRemoteConfigForTesting(true);
        config->setFlushAt(1 << 30);
        config->setMaxQueueSize(1 << 30);
        auto sdk = analytics::AnalyticsSDK::with(config);
        const QVariantMap properties{{QStringLiteral("trigger"), QStringLiteral("hotkey")},
                                     {QStringLiteral("provider"), QStringLiteral("openai-compatible")}};
        for (auto _ : state)
            sdk->capture(QStringLiteral("rewrite_success"), properties);
        state.SetItemsProcessed(state.iterations());
        state.counters["queued"] = sdk->queue()->depth();
        state.SetLabel(bench::describeFolder(folder));
        sdk->close();
    }
    qputenv("XDG_DATA_HOME", previous);
}
BENCHMARK(BM_CaptureToDisk)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinWarmUpTime(0.5)->MinTime(2.0);

} // namespace
