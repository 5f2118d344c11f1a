#pragma once

#include "Vellox/settings/ProviderId.h"

#include <QCoroTask>
#include <QString>

#include <optional>

// Checks a typed API key with one cheap authenticated request to the
// provider's model listing and, when the service does not refuse it, stores
// the key, switches the settings to that provider with its default model and
// marks onboarding completed. Runs on the main thread without blocking it.
namespace OnboardingValidator {

struct ValidationFailure {
    QString message;
    friend bool operator==(const ValidationFailure&, const ValidationFailure&) = default;
};

// None on success.
using ValidationResult = std::optional<ValidationFailure>;

inline constexpr const char* kOnboardingCompletedKey = "vellox.onboarding.completed";
inline constexpr int kProbeTimeoutMs = 12'000;

// What the user reads when a key is refused for its form, and when the
// credential store does not keep it; the settings window says the same.
QString invalidKeyMessage();
QString keyNotSavedMessage();

QCoro::Task<ValidationResult> validate(ProviderId provider, QString key);

// The model a provider starts with after its key is accepted.
QString defaultModel(ProviderId provider);

} // namespace OnboardingValidator
