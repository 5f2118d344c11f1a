#pragma once

#include <QObject>

#include <functional>

// One Vellox per session: the running instance owns the bus name
// "app.vellox.desktop" (taken with the Services entry) and answers a second
// launch, which asks it to open the settings window and exits.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.vellox.desktop.Application")
public:
    static constexpr const char* kServiceName = "app.vellox.desktop";
    static constexpr const char* kObjectPath = "/app/vellox/desktop/Application";
    static constexpr const char* kInterface = "app.vellox.desktop.Application";

    // True when another instance answered; it has been asked to open its
    // settings window.
    static bool forwardToRunningInstance();

    // `showPopover` opens the tray popover; desktops without a tray bind it
    // to a key (gdbus call ... app.vellox.desktop.Application.ShowPopover).
    explicit SingleInstance(std::function<void()> showPopover = {}, QObject* parent = nullptr);
    // Exports this object so a later launch can reach it; false without a bus.
    bool exportOnSessionBus();

public slots:
    void OpenSettings();
    void ShowPopover();

private:
    std::function<void()> showPopover_;
};
