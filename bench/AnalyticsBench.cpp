#include "helpers/BenchScratch.h"

#include "analytics/AnalyticsApi.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/Gzip.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Platform.h"
#include "platform/linux/SystemClock.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <optional>

using namespace analytics;

namespace {

// A data folder of its own (kept until the program ends) and the real clock,
// for as long as a benchmark runs.
class AnalyticsScratch {
public:
    AnalyticsScratch()
        : folder(bench::retainedScratchFolder())
        , previousDataHome_(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder));
        platform::Platform services;
        services.clock = std::make_shared<platform::linuxbackend::SystemClock>();
        guard_.emplace(std::move(services));
        config = std::make_shared<AnalyticsConfig>(QStringLiteral("phc_bench"), QStringLiteral("http://127.0.0.1:9"));
        config->setFlushAt(1 << 30);
        config->setMaxQueueSize(1 << 30);
    }
    ~AnalyticsScratch()
    {
        guard_.reset();
        qputenv("XDG_DATA_HOME", previousDataHome_);
    }

    const QString folder;
    std::shared_ptr<AnalyticsConfig> config;

private:
    QByteArray previousDataHome_;
    std::optional<platform::PlatformGuard> guard_;
};

// An event the size of the application's own: its properties plus the
// context every event carries.
AnalyticsEvent typicalEvent()
{
    QVariantMap properties{
        {"trigger", "hotkey"}, {"provider", "gemini"}, {"$app_name", "Vellox"}, {"$app_version", "1.0.0"},
        {"$app_build", 42}, {"$is_testflight", false}, {"$is_sideloaded", false}, {"$app_namespace", "app.vellox.desktop"},
        {"$device_manufacturer", "LENOVO"}, {"$device_model", "x86_64"}, {"$device_type", "Desktop"},
        {"$is_emulator", false}, {"$device_name", "ThinkPad X1 Carbon Gen 11"}, {"$os_name", "Debian GNU/Linux"},
        {"$os_version", "12"}, {"$locale", "en"}, {"$timezone", "Europe/Berlin"}, {"$network_wifi", true},
        {"$network_cellular", false}, {"$screen_width", 2560.0f}, {"$screen_height", 1440.0f},
        {"$is_identified", false}, {"$process_person_profile", false}, {"$lib", "analytics-linux"},
        {"$lib_version", "3.57.3"}, {"$session_id", uuidText(TimeBasedEpochGenerator::shared().v7())},
    };
    return AnalyticsEvent("rewrite_success", uuidText(TimeBasedEpochGenerator::shared().v7()), properties,
                          QDateTime::currentDateTimeUtc(), TimeBasedEpochGenerator::shared().v7());
}

// Events stored to disk through the send queue, one file each, on the
// calling thread. Nothing is deleted while it runs (see BenchScratch.h); the
// warm-up leaves the steady-state rate, items_per_second, for the file system
// the label names. $TMPDIR picks the file system.
void BM_AnalyticsEnqueueToDisk(benchmark::State& state)
{
    AnalyticsScratch scratch;
    AnalyticsStorage storage(*scratch.config);
    auto api = std::make_shared<AnalyticsApi>(scratch.config);
    auto queue = std::make_shared<AnalyticsQueue>(scratch.config, storage, api,
                                                  AnalyticsQueue::AnalyticsApiEndpoint::batch, nullptr);
    const AnalyticsEvent event = typicalEvent();
    for (auto _ : state)
        queue->add(event);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(bench::describeFolder(scratch.folder));
}
BENCHMARK(BM_AnalyticsEnqueueToDisk)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinWarmUpTime(0.5)->MinTime(2.0);

// The upload body of a full batch: 50 events as JSON, then gzip.
void BM_AnalyticsGzipBatchOf50(benchmark::State& state)
{
    QList<AnalyticsEvent> events;
    for (int i = 0; i < 50; ++i)
        events << typicalEvent();
    qint64 compressed = 0;
    for (auto _ : state) {
        const QByteArray body = gzipped(AnalyticsApi::batchBody(QStringLiteral("phc_bench"), events));
        compressed = body.size();
        benchmark::DoNotOptimize(body.constData());
    }
    state.counters["gzip_bytes"] = static_cast<double>(compressed);
}
BENCHMARK(BM_AnalyticsGzipBatchOf50)->Unit(benchmark::kMicrosecond);

void BM_AnalyticsUuidV7(benchmark::State& state)
{
    TimeBasedEpochGenerator& generator = TimeBasedEpochGenerator::shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(generator.v7());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnalyticsUuidV7);

} // namespace
