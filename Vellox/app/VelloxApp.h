#pragma once

#include "Vellox/app/StatusDot.h"

#include <QObject>
#include <QPointer>

class AppDelegate;
class MenuBarWindow;
class QMenu;
class QSystemTrayIcon;
class SettingsWindow;
class StatusNotifierTray;

// The application's scenes: the tray icon with its status dot and popover,
// the settings window, and the answer to every open-settings request.
// Creating it brings the engine's shared state objects into being, in the
// order the tray label observes them.
class VelloxApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Without a tray the program still runs; tests and the benchmark
        // decide themselves.
        bool useTray = true;
        // How long start-up waits for a tray host before telling the user
        // there is none; at login the host often starts after Vellox.
        int trayGraceMs = kTrayGraceMs;
    };
    static constexpr int kTrayGraceMs = 8000;

    explicit VelloxApp(AppDelegate* delegate, Options options, QObject* parent = nullptr);
    ~VelloxApp() override;

    StatusDotState dotState() const;
    AppDelegate* delegate() const { return delegate_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    MenuBarWindow* popover();
    SettingsWindow* settingsWindow() const;

    // The open-settings request's answer: close the popover and the settings
    // window, open the settings window afresh, mark it visible.
    void answerOpenSettingsRequest();
    void openSettings();
    void togglePopover();
    void quit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateTrayIcon();
    void createTray();
    void noticeMissingTray();
    bool trayShown() const;

    AppDelegate* delegate_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    StatusNotifierTray* notifierTray_ = nullptr;
    QPointer<MenuBarWindow> popover_;
    QPointer<SettingsWindow> settings_;
    StatusDotState shownDot_ = StatusDotState::none;
    bool trayIconSet_ = false;
    bool trayNoticeShown_ = false;
    // The notice is due and waits for our windows to close.
    bool waitingForWindows_ = false;
};
