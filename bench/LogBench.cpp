#include "Vellox/settings/VelloxLogStore.h"

#include "platform/Platform.h"
#include "platform/linux/SystemClock.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A log folder of its own and the real clock, for as long as a benchmark runs.
class LogScratch {
public:
    LogScratch()
        : previousStateHome_(qgetenv("XDG_STATE_HOME"))
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir_.path()));
        platform::Platform services;
        services.clock = std::make_shared<platform::linuxbackend::SystemClock>();
        guard_.emplace(std::move(services));
    }
    ~LogScratch()
    {
        VelloxLogStore::waitForPendingWrites();
        guard_.reset();
        qputenv("XDG_STATE_HOME", previousStateHome_);
    }

private:
    QTemporaryDir dir_;
    QByteArray previousStateHome_;
    std::optional<platform::PlatformGuard> guard_;
};

VelloxLogStore::Entry typicalFailure()
{
    return {.level = VelloxLogStore::Level::error,
            .code = QStringLiteral("http_429"),
            .msg = QStringLiteral("The provider is busy. Try again in a moment."),
            .provider = QStringLiteral("openai-compatible"),
            .model = QStringLiteral("gpt-4o-mini"),
            .detail = QStringLiteral("HTTP 429: {\n  \"error\": {\n    \"message\": \"Rate limit reached\",\n"
                                     "    \"type\": \"requests\"\n  }\n}")};
}

// One entry all the way into the file: formatting, the hand-over to the
// worker, the append and the size check that decides on rotation.
void BM_AppendOneEntryToFile(benchmark::State& state)
{
    LogScratch scratch;
    const VelloxLogStore::Entry entry = typicalFailure();
    for (auto _ : state) {
        VelloxLogStore::record(entry);
        VelloxLogStore::waitForPendingWrites();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendOneEntryToFile);

// What the caller pays: the line is built and queued, the file work happens
// elsewhere. The queue is drained outside the timed part now and then.
void BM_RecordOnCallerThread(benchmark::State& state)
{
    LogScratch scratch;
    const VelloxLogStore::Entry entry = typicalFailure();
    std::int64_t queued = 0;
    for (auto _ : state) {
        VelloxLogStore::record(entry);
        if (++queued % 256 == 0) {
            state.PauseTiming();
            VelloxLogStore::waitForPendingWrites();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordOnCallerThread);

} // namespace
