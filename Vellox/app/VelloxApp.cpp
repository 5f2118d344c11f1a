#include "Vellox/app/VelloxApp.h"

#include "Vellox/app/AppDelegate.h"
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/OpenSettingsRequest.h"
#include "Vellox/app/SettingsWindow.h"
#include "Vellox/app/StatusNotifierTray.h"
#include "Vellox/app/TrayAbsenceNotice.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/settings/VelloxLog.h"
#include "platform/NotificationBus.h"
#include "platform/Platform.h"
#include "platform/XEmbedTrayWatcher.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

VelloxApp::VelloxApp(AppDelegate* delegate, Options options, QObject* parent)
    : QObject(parent)
    , delegate_(delegate)
{
    // The tray label observes these three; reading them here creates them
    // before start-up runs.
    auto& readiness = AppReadinessState::shared();
    auto& chrome = RewriteChromeState::shared();
    auto& feedback = RewriteFeedbackState::shared();
    connect(&readiness, &AppReadinessState::permissionStatusChanged, this, &VelloxApp::updateTrayIcon);
    // Drawn once the step that changed the phase is done: a rewrite starts
    // its request in that step, and drawing the icon first would delay it.
    connect(&chrome, &RewriteChromeState::phaseChanged, this, &VelloxApp::updateTrayIcon, Qt::QueuedConnection);
    connect(&feedback, &RewriteFeedbackState::lastErrorChanged, this, &VelloxApp::updateTrayIcon);

    if (auto bus = platform::Platform::current().notifications)
        bus->observe(QString::fromLatin1(OpenSettingsRequest::kName), this,
                     [this](const QVariantMap&) { answerOpenSettingsRequest(); });

    if (options.useTray) {
        // The icon is shown even with no tray host yet: Qt docks a shown icon
        // as soon as a host takes the tray selection (it watches for the
        // host's MANAGER announcement), so a host that starts after Vellox
        // still gets it.
        createTray();
        // Qt has chosen its way by now, by whether a StatusNotifierItem host
        // was registered. Gone the XEmbed way, it would leave out such a host
        // starting later, so that case gets an item of its own.
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected() && !StatusNotifierTray::hostRegistered(bus)) {
            auto* xembedTray = new platform::XEmbedTrayWatcher(this);
            notifierTray_ = new StatusNotifierTray(
                bus, [xembedTray] { return xembedTray->trayPresent(); },
                {[this] { togglePopover(); }, [this](QPoint at) { trayMenu_->popup(at); }}, this);
            notifierTray_->setIcon(tray_->icon());
            // A tray that starts docks the icon at once; the item gives way
            // then, not at some later check, so the icon never shows twice.
            connect(xembedTray, &platform::XEmbedTrayWatcher::trayChanged, notifierTray_,
                    &StatusNotifierTray::reconcile);
        }
        if (!trayShown())
            QTimer::singleShot(options.trayGraceMs, this, &VelloxApp::noticeMissingTray);
    }
}

void VelloxApp::noticeMissingTray()
{
    if (trayNoticeShown_ || trayShown())
        return;
    // Onboarding or Settings may be where the user types right now; the
    // notice waits until every window of ours is closed, so it neither
    // covers one nor comes between the user and it.
    const QWidgetList windows = QApplication::topLevelWidgets();
    if (std::any_of(windows.cbegin(), windows.cend(), [](const QWidget* w) { return w->isVisible(); })) {
        if (!waitingForWindows_) {
            waitingForWindows_ = true;
            qApp->installEventFilter(this);
        }
        return;
    }
    if (waitingForWindows_) {
        waitingForWindows_ = false;
        qApp->removeEventFilter(this);
    }
    trayNoticeShown_ = true;
    VelloxLog::startup().notice(QStringLiteral("No system tray is available: Vellox runs without its tray "
                                               "icon. Start Vellox again to open its settings."));
    qWarning("Vellox: no system tray is available; start Vellox again to open its settings.");
    TrayAbsenceNotice::show();
}

bool VelloxApp::eventFilter(QObject* watched, QEvent* event)
{
    // Asked once the hide is complete, and after a window closed for good is gone.
    if (event->type() == QEvent::Hide && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        QMetaObject::invokeMethod(this, &VelloxApp::noticeMissingTray, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

bool VelloxApp::trayShown() const
{
    return QSystemTrayIcon::isSystemTrayAvailable() || (notifierTray_ && notifierTray_->isRegistered());
}

VelloxApp::~VelloxApp()
{
    delete popover_;
    delete settings_;
    delete trayMenu_;
}

SettingsWindow* VelloxApp::settingsWindow() const
{
    return settings_;
}

StatusDotState VelloxApp::dotState() const
{
    return StatusDot::stateFor(AppReadinessState::shared().permissionStatus(), RewriteChromeState::shared().phase(),
                               RewriteFeedbackState::shared().lastError().has_value());
}

void VelloxApp::createTray()
{
    tray_ = new QSystemTrayIcon(this);
    tray_->setToolTip(QStringLiteral("Vellox"));
    trayMenu_ = new QMenu;
    connect(trayMenu_->addAction(QStringLiteral("Open Vellox")), &QAction::triggered, this, &VelloxApp::togglePopover);
    connect(trayMenu_->addAction(QStringLiteral("Settings…")), &QAction::triggered, this,
            [] { OpenSettingsRequest::post(); });
    trayMenu_->addSeparator();
    connect(trayMenu_->addAction(QStringLiteral("Quit Vellox")), &QAction::triggered, this, &VelloxApp::quit);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            togglePopover();
    });
    updateTrayIcon();
    tray_->show();
}

void VelloxApp::updateTrayIcon()
{
    if (!tray_)
        return;
    const StatusDotState state = dotState();
    if (trayIconSet_ && state == shownDot_)
        return;
    shownDot_ = state;
    trayIconSet_ = true;
    tray_->setIcon(StatusDot::icon(state, StatusDot::themeSymbol()));
    if (notifierTray_)
        notifierTray_->setIcon(tray_->icon());
}

MenuBarWindow* VelloxApp::popover()
{
    if (!popover_)
        popover_ = new MenuBarWindow([this] { openSettings(); }, [this] { quit(); });
    return popover_;
}

void VelloxApp::togglePopover()
{
    MenuBarWindow* window = popover();
    if (window->isVisible()) {
        UIWindowCoordinator::shared().closeMenuPopoverIfOpen();
        return;
    }
    QRect anchor = tray_ ? tray_->geometry() : QRect();
    if (!anchor.isValid() || anchor.isEmpty())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    window->popUp(anchor);
}

void VelloxApp::answerOpenSettingsRequest()
{
    UIWindowCoordinator::shared().closeMenuPopoverIfOpen();
    UIWindowCoordinator::shared().closeSettingsWindowIfOpen();
    openSettings();
    UIWindowCoordinator::shared().markSurfaceVisible(UIWindowCoordinator::Surface::settings);
}

void VelloxApp::openSettings()
{
    // A window closed a moment ago is still waiting for deletion; it is not
    // reused, so each opening starts from fresh state.
    if (settings_ && !settings_->isVisible()) {
        settings_->deleteLater();
        settings_ = nullptr;
    }
    if (!settings_)
        settings_ = new SettingsWindow;
    settings_->present();
}

void VelloxApp::quit()
{
    UIWindowCoordinator::shared().closeMenuPopoverIfOpen();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
