#pragma once

#include <memory>

namespace platform {

class AccessibilityTrust;
class Alerts;
class AppInfo;
class Beeper;
class Clock;
class CredentialStore;
class Defaults;
class GlobalMouseMonitor;
class HotKeyBackend;
class KeySynthesizer;
class KeyboardLayout;
class NotificationBus;
class Reachability;
class Opener;
class Pasteboard;
class Screens;
class SelectionLocator;
class SystemLog;
class SystemShortcuts;
class Workspace;

// Every platform service the program uses, one instance each. The program
// installs the Linux backends at start-up; tests install fakes through
// PlatformGuard. Code outside platform/ reaches services only through here.
struct Platform {
    std::shared_ptr<AccessibilityTrust> accessibilityTrust;
    std::shared_ptr<Alerts> alerts;
    std::shared_ptr<AppInfo> appInfo;
    std::shared_ptr<Beeper> beeper;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<CredentialStore> credentials;
    std::shared_ptr<Defaults> defaults;
    std::shared_ptr<GlobalMouseMonitor> globalMouse;
    std::shared_ptr<HotKeyBackend> hotKeys;
    std::shared_ptr<KeySynthesizer> keySynthesizer;
    std::shared_ptr<KeyboardLayout> keyboardLayout;
    std::shared_ptr<NotificationBus> notifications;
    std::shared_ptr<Reachability> reachability;
    std::shared_ptr<Opener> opener;
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<SelectionLocator> selectionLocator;
    std::shared_ptr<SystemLog> systemLog;
    std::shared_ptr<SystemShortcuts> systemShortcuts;
    std::shared_ptr<Workspace> workspace;

    // The installed set. Installing happens on the main thread before other
    // threads start using the services, so reads need no lock.
    static Platform& current();
    static void install(Platform services);
};

// Installs a set of services for its lifetime and puts the previous set back
// when it goes out of scope. By default it installs the in-memory fakes.
class PlatformGuard {
public:
    PlatformGuard();
    explicit PlatformGuard(Platform services);
    ~PlatformGuard();
    PlatformGuard(const PlatformGuard&) = delete;
    PlatformGuard& operator=(const PlatformGuard&) = delete;

    Platform& platform() { return Platform::current(); }

private:
    Platform previous_;
};

} // namespace platform
