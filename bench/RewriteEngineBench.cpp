// The rewrite engine's own cost on the shortcut road: the gate, the
// permission refresh, reading the selection through the clipboard, choosing
// the mode, the provider call with an instant provider, counting, pasting
// and reporting. Every platform service is a fake and the fixed waits around
// the keystrokes are set to zero, so what remains is the engine's work and
// its trips through the event loop.
#include "Vellox/rewrite/RewriteCoordinator.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/rewrite/SelectionAutomation.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLogStore.h"
#include "platform/Platform.h"
#include "platform/fake/FakeKeySynthesizer.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePlatform.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

void BM_ShortcutRoadWithInstantProvider(benchmark::State& state)
{
    platform::PlatformGuard guard;
    auto& board = platform::fake::as<platform::fake::FakePasteboard>(guard.platform().pasteboard);
    auto& keys = platform::fake::as<platform::fake::FakeKeySynthesizer>(guard.platform().keySynthesizer);
    keys.onPost = [&](platform::KeySynthesizer::Chord chord) {
        if (chord == platform::KeySynthesizer::Chord::copy)
            board.putTextFromOtherClient(QStringLiteral("Please send the report ASAP, it is really very urgent."));
    };
    PreferencesStore::resetSharedForTesting();
    RewriteUsageStore::resetSharedForTesting();
    AppSettings settings;
    settings.provider = ProviderId::mock;
    settings.model = QStringLiteral("mock");
    PreferencesStore::shared().setSettings(settings);
    SelectionAutomation::setWaitsForTesting({0, 0, 0, 0, 0});

    for (auto _ : state) {
        board.putTextFromOtherClient(QStringLiteral("the user's clipboard"));
        bool done = false;
        auto run = [&]() -> QCoro::Task<void> {
            co_await RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey);
            done = true;
        };
        run();
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (RewriteUsageStore::shared().todayCount() != qint64(state.iterations()))
        state.SkipWithError("a rewrite did not complete");

    SelectionAutomation::setWaitsForTesting({});
    VelloxLogStore::waitForPendingWrites();
    PreferencesStore::resetSharedForTesting();
    RewriteUsageStore::resetSharedForTesting();
}
BENCHMARK(BM_ShortcutRoadWithInstantProvider)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
