#pragma once

#include "Vellox/app/OnboardingTypes.h"

#include <QCoroTask>

class QWidget;

// Decides at launch whether first-run onboarding is needed, chooses the panel
// it opens on from probes made off the main thread, and shows the window.
// Main thread only.
class OnboardingWindowController {
public:
    OnboardingWindowController() = delete;

    enum class Presentation { automatic, accessibilityResume };

    static constexpr const char* completedKey = "vellox.onboarding.completed";
    static constexpr int kHintDelayMs = 400;

    // Returns at once; shows the window later unless onboarding is completed
    // or a saved key marks it completed.
    static void presentIfNeeded();
    // Returns at once; replaces any shown onboarding window.
    static void present(Presentation presentation);
    static QCoro::Task<void> presentAsync(Presentation presentation);
    static QCoro::Task<OnboardingPanel> resolveInitialPanelAsync(Presentation presentation);
    static QCoro::Task<bool> anyProviderHasKeyAsync();
    static void installOnboardingWindow(OnboardingPanel initialPanel);
    static void openAccessibilitySettings();

    // The onboarding window, while one is installed (also when hidden by its
    // close button).
    static QWidget* window();
    // Whether the onboarding window is on screen: asked by the launch
    // sequence instead of guessing from window sizes.
    static bool isWindowVisible();

    // What "Got it" does: records completion, sends the event, closes the
    // window and shows the hint a moment later.
    static void finish();

    // Closes and drops the window. Tests only.
    static void resetForTesting();
};
