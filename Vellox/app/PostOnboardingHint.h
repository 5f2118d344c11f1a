#pragma once

// The one-time notice after onboarding that shows how to start a rewrite.
namespace PostOnboardingHint {

inline constexpr char kShownKey[] = "vellox.hint.post_onboarding_shown";
inline constexpr double kSeconds = 4.5;

void presentIfNeeded();

} // namespace PostOnboardingHint
