#include "Vellox/settings/AppSettings.h"
#include "Vellox/settings/PreferencesStore.h"

#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>

namespace {

const QString kSettingsKey = QString::fromLatin1(PreferencesStore::settingsKey);

// What a launch and every shortcut press pay: a current record of eighteen
// presets that needs no repair, so nothing is written.
void BM_ReadSettingsCurrentRecord(benchmark::State& state)
{
    platform::PlatformGuard guard;
    AppSettings settings;
    settings.defaultTonePresetId = TonePreset::builtIns().at(6).id;
    settings.askToneEachTime = true;
    settings.provider = ProviderId::anthropic;
    settings.model = QStringLiteral("claude-3-7-sonnet-20250219");
    guard.platform().defaults->setValue(kSettingsKey, settings.toJson());

    for (auto _ : state) {
        AppSettings loaded = PreferencesStore::readSettings();
        benchmark::DoNotOptimize(loaded);
    }
}
BENCHMARK(BM_ReadSettingsCurrentRecord);

// An older record that needs every repair: a mock provider, both ask switches,
// a custom preset list with a legacy default name. The stored bytes are put
// back each round so every iteration repairs and writes back.
void BM_ReadSettingsRepairingOlderRecord(benchmark::State& state)
{
    platform::PlatformGuard guard;
    const QByteArray older(
        R"({"enabled":true,"provider":"mock","model":"o3-mini","askToneEachTime":true,"askAICommandEachTime":true,)"
        R"("tonePresets":[{"id":"5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11","name":"Assertive","instruction":"Be firm."},)"
        R"({"id":"9B2E7C1D-3F4A-4B5C-8D6E-7F8091A2B3C4","name":"Pirate","instruction":"Talk like a pirate."}],)"
        R"("defaultTonePresetId":"5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11"})");
    platform::Defaults& defaults = *guard.platform().defaults;

    for (auto _ : state) {
        defaults.setValue(kSettingsKey, older);
        AppSettings loaded = PreferencesStore::readSettings();
        benchmark::DoNotOptimize(loaded);
    }
}
BENCHMARK(BM_ReadSettingsRepairingOlderRecord);

} // namespace
