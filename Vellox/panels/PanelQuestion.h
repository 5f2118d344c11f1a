#pragma once

#include "Vellox/panels/PanelEnvironment.h"
#include "Vellox/panels/UIWindowCoordinator.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class FloatingPanel;
class QKeyEvent;
namespace platform {
class GlobalMouseMonitor;
}

// What the tone picker and the instruction panel share while they ask the
// user: the panel on screen, the application to give the keyboard back to,
// the key filter, the click-elsewhere monitor and the focus observers.
//
// Every showing gets a generation number. The cancels that the mouse monitor
// and the focus observers queue carry the generation of their showing and
// are dropped when a newer showing, or none, is on screen by the time they
// run: a late cancel from the tone picker must not close the instruction
// panel that the "Describe the edit" row opened. Focus losses before the
// panel first held the keyboard are ignored too, since showing a panel moves
// the focus through states that say nothing about the user's intent; and a
// loss in the moment after it first held it makes the panel ask for the
// keyboard again, and cancels only if the panel does not get it back.
class PanelQuestion : public QObject {
    Q_OBJECT
public:
    // Answers true when the key was handled and must not reach the panel.
    using KeyHandler = std::function<bool(QKeyEvent* event)>;
    using Cancel = std::function<void()>;

    PanelQuestion(UIWindowCoordinator::Surface surface, KeyHandler onKey, Cancel cancel);
    ~PanelQuestion() override;

    bool isShowing() const { return panel_ != nullptr; }
    FloatingPanel* panel() const { return panel_; }
    quint64 generation() const { return generation_; }

    // Starts a new generation, closes the settings window and the popover,
    // reports the surface visible and notes the front application.
    void beginShowing();
    // Shows the built panel, gives it the keyboard, fades it in and installs
    // the key filter, the mouse monitor and the focus observers.
    void showPanel(FloatingPanel* panel, int fadeInMs);
    // Removes the filter, monitor and observers, takes the panel off screen
    // with `orderOut` and reports the surface hidden. Does nothing when no
    // panel shows.
    bool endShowing(const std::function<void(FloatingPanel*)>& orderOut);
    // Gives the keyboard back to the application that had it before the
    // ended showing, one turn after the caller resumes, unless a panel has
    // opened meanwhile: "Describe the edit" opens the instruction panel at
    // once, and handing the keyboard over in between would set the window
    // manager moving it back and forth while the new panel asks for it. The
    // new panel hands it back in the end.
    void handBackKeyboard();

    // How long after a panel first holds the keyboard a loss is asked back
    // rather than taken as the user's switch; 0 takes every loss as one.
    // Answers the previous setting.
    static int setKeyboardSettleMsForTesting(int ms);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void removeMonitors();
    void queueCancel(bool needsPointerOutside, bool needsOtherApplication, bool needsFocusFirst);

    UIWindowCoordinator::Surface surface_;
    KeyHandler onKey_;
    Cancel cancel_;

    QPointer<FloatingPanel> panel_;
    std::optional<PanelEnvironment::Application> previousApp_;
    std::optional<PanelEnvironment::Application> pendingHandBack_;
    quint64 generation_ = 0;
    bool keyFilterInstalled_ = false;
    std::shared_ptr<platform::GlobalMouseMonitor> mouseMonitor_;
    std::optional<int> mouseToken_;
    QMetaObject::Connection resignObserver_;
    QMetaObject::Connection activationObserver_;
};
