#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>

// The application's start-up, reopen and termination work. Start-up wires the
// subsystems together: analytics, the Services entry, the permission state, a
// credential warm-up, the global shortcut whose release starts a rewrite, and
// first-run onboarding.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int kOpenSettingsDelayMs = 550;

    // What start-up reaches outside the shell; tests replace them.
    struct Hooks {
        std::function<void()> installServicesProvider;
        std::function<void()> startRewrite;
    };

    explicit AppDelegate(QObject* parent = nullptr);
    AppDelegate(Hooks hooks, QObject* parent = nullptr);

    // Returns without waiting for anything it starts.
    void applicationDidFinishLaunching();
    // Asks for the settings window unless a window is visible. Always true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationWillTerminate();

    // What the global shortcut's release does.
    void rephraseKeyUp();

    bool isObservingActivation() const { return bool(becomeActiveObserver_); }

private:
    void requestOpenSettingsAfterLaunchIfNeeded();
    static bool isLikelyOnboardingWindowVisible();

    Hooks hooks_;
    QMetaObject::Connection becomeActiveObserver_;
};
