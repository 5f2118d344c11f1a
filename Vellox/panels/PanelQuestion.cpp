#include "Vellox/panels/PanelQuestion.h"

#include "Vellox/panels/FloatingPanel.h"

#include "platform/GlobalMouseMonitor.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <utility>

PanelQuestion::PanelQuestion(UIWindowCoordinator::Surface surface, KeyHandler onKey, Cancel cancel)
    : surface_(surface)
    , onKey_(std::move(onKey))
    , cancel_(std::move(cancel))
{
}

PanelQuestion::~PanelQuestion()
{
    removeMonitors();
}

namespace {

// Panels of earlier showings still fading out. A new showing takes them off
// screen at once: a window that the window manager unmaps after the new
// panel has the keyboard can make it hand the keyboard elsewhere.
QList<QPointer<FloatingPanel>>& leavingPanels()
{
    static QList<QPointer<FloatingPanel>> panels;
    return panels;
}

// The application the last showing handed the keyboard back to. When one
// panel follows another ("Describe the edit" opens the instruction panel),
// the window manager may not have moved the keyboard back yet, and the front
// application is still our own closed panel.
std::optional<PanelEnvironment::Application>& lastHandedBack()
{
    static std::optional<PanelEnvironment::Application> application;
    return application;
}

// For a moment after a panel first has the keyboard, the window manager may
// still give it to the application that a panel of ours closing just before
// left it to, or that application may take it late: one panel follows
// another, and a busy application answers the window manager's hand-over
// after the new panel has asked. A loss in that moment is not the user's.
int& keyboardSettleMs()
{
    static int ms = 500;
    return ms;
}
// How long a panel that lost the keyboard in that moment has to get it back
// before the loss counts after all.
constexpr int kKeyboardReclaimMs = 1000;

// Showings begun by any of the panels, so a hand-back can tell whether
// another panel took over meanwhile.
quint64& showingsBegun()
{
    static quint64 count = 0;
    return count;
}

} // namespace

void PanelQuestion::beginShowing()
{
    for (const QPointer<FloatingPanel>& leaving : std::exchange(leavingPanels(), {})) {
        if (leaving && leaving->isVisible()) {
            leaving->orderOut();
            leaving->deleteLater();
        }
    }
    ++generation_;
    ++showingsBegun();
    UIWindowCoordinator& coordinator = UIWindowCoordinator::shared();
    coordinator.closeSettingsWindowIfOpen();
    coordinator.closeMenuPopoverIfOpen();
    coordinator.markSurfaceVisible(surface_);
    PanelEnvironment& environment = PanelEnvironment::current();
    const std::optional<PanelEnvironment::Application> front = environment.frontmostApplication();
    previousApp_ = front && !environment.isThisProcess(*front) ? front : lastHandedBack();
}

void PanelQuestion::showPanel(FloatingPanel* panel, int fadeInMs)
{
    panel->orderFront(0);
    PanelEnvironment::current().activateThisApplication(panel);
    panel->fadeTo(1, fadeInMs);
    panel_ = panel;

    qApp->installEventFilter(this);
    keyFilterInstalled_ = true;

    mouseMonitor_ = platform::Platform::current().globalMouse;
    if (mouseMonitor_) {
        const quint64 generation = generation_;
        mouseToken_ = mouseMonitor_->add([this, generation](platform::GlobalMouseMonitor::Button) {
            QMetaObject::invokeMethod(
                this,
                [this, generation] {
                    if (generation != generation_ || !panel_)
                        return;
                    if (!panel_->desktopFrame().contains(PanelEnvironment::current().mouseLocation()))
                        cancel_();
                },
                Qt::QueuedConnection);
        });
    }

    PanelEnvironment& environment = PanelEnvironment::current();
    const quint64 generation = generation_;
    resignObserver_ = connect(&environment, &PanelEnvironment::resignedActive, this, [this, generation] {
        // Only a loss after the panel held the keyboard counts, and only if
        // the panel has not got it back by the time the check runs. On a
        // busy machine the loss that ended the previous showing can arrive
        // after this panel opened, followed at once by this panel's own gain.
        const bool hadFocus = panel_ && panel_->hasHadFocus();
        const bool settling = hadFocus && panel_->msSinceFirstFocus() < keyboardSettleMs();
        QMetaObject::invokeMethod(
            this,
            [this, generation, hadFocus, settling] {
                if (!hadFocus || generation != generation_ || !panel_ || panel_->isActiveWindow())
                    return;
                if (!settling) {
                    cancel_();
                    return;
                }
                // Just after the panel took the keyboard: ask for it again,
                // and cancel only if it stays away.
                PanelEnvironment::current().activateThisApplication(panel_);
                QTimer::singleShot(kKeyboardReclaimMs, this, [this, generation] {
                    if (generation == generation_ && panel_ && !panel_->isActiveWindow())
                        cancel_();
                });
            },
            Qt::QueuedConnection);
    });
    activationObserver_ = connect(&environment, &PanelEnvironment::applicationActivated, this, [this, generation] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != generation_ || !panel_ || !panel_->hasHadFocus())
                    return;
                PanelEnvironment& environment = PanelEnvironment::current();
                const auto front = environment.frontmostApplication();
                if (!front || !environment.isThisProcess(*front))
                    cancel_();
            },
            Qt::QueuedConnection);
    });
}

bool PanelQuestion::endShowing(const std::function<void(FloatingPanel*)>& orderOut)
{
    if (!panel_)
        return false;
    removeMonitors();
    const std::optional<PanelEnvironment::Application> previousApp = std::exchange(previousApp_, std::nullopt);
    FloatingPanel* panel = std::exchange(panel_, nullptr);
    leavingPanels().append(panel);
    orderOut(panel);
    PanelEnvironment::current().hideThisApplication();
    lastHandedBack() = previousApp;
    pendingHandBack_ = previousApp;
    UIWindowCoordinator::shared().markSurfaceHidden(surface_);
    return true;
}

void PanelQuestion::handBackKeyboard()
{
    const std::optional<PanelEnvironment::Application> application = std::exchange(pendingHandBack_, std::nullopt);
    if (!application)
        return;
    const quint64 begun = showingsBegun();
    QMetaObject::invokeMethod(
        this,
        [application, begun] {
            if (showingsBegun() == begun)
                PanelEnvironment::current().activate(*application);
        },
        Qt::QueuedConnection);
}

int PanelQuestion::setKeyboardSettleMsForTesting(int ms)
{
    return std::exchange(keyboardSettleMs(), ms);
}

void PanelQuestion::removeMonitors()
{
    if (keyFilterInstalled_ && qApp)
        qApp->removeEventFilter(this);
    keyFilterInstalled_ = false;
    if (mouseToken_ && mouseMonitor_)
        mouseMonitor_->remove(*mouseToken_);
    mouseToken_.reset();
    mouseMonitor_.reset();
    disconnect(resignObserver_);
    disconnect(activationObserver_);
}

bool PanelQuestion::eventFilter(QObject* watched, QEvent* event)
{
    // Key events reach the application filter twice, for the window and for
    // the widget with the focus; the widget's copy is the one to act on.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !panel_)
        return false;
    return onKey_(static_cast<QKeyEvent*>(event));
}
