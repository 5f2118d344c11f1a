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

    enum class Claim {
        owned,     // this process holds the name and is the running instance
        forwarded, // another instance holds it and was asked to open its settings
        noBus,     // no session bus: nothing to share, so this process runs
    };

    // Requests the bus name without queueing behind an owner, so of two
    // launches at the same moment exactly one gets it; the other hands over
    // to the owner. Export this object first, so a forward that arrives while
    // this process is still starting finds it.
    static Claim claimOrForward();

    // `showPopover` opens the tray popover; desktops without a tray bind it
    // to a key (gdbus call ... app.vellox.desktop.Application.ShowPopover).
    explicit SingleInstance(std::function<void()> showPopover = {}, QObject* parent = nullptr);
    void setShowPopover(std::function<void()> showPopover) { showPopover_ = std::move(showPopover); }
    // Exports this object so a later launch can reach it; false without a bus.
    bool exportOnSessionBus();

public slots:
    void OpenSettings();
    void ShowPopover();

private:
    std::function<void()> showPopover_;
};
