#pragma once

#include "Vellox/app/OnboardingTypes.h"

// The shell's calls into the rewrite engine that go beyond its shared state
// objects, gathered so the shell depends on the engine at one place.
namespace EngineAdapters {

// Checks a key with the provider and, on acceptance, stores it and marks
// onboarding completed.
QCoro::Task<OnboardingKeyCheck::Result> validateOnboardingKey(ProviderId provider, QString key);

// Starts one rewrite of the current selection, as the global shortcut does.
void startShortcutRewrite();

// Installs the engine's answer to the desktop's Services call.
void installServicesProvider();

} // namespace EngineAdapters
