#pragma once

#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/PanelEnvironment.h"
#include "Vellox/panels/PanelQuestion.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/SelectionAnchorResolver.h"

#include "platform/Platform.h"
#include "platform/fake/FakeGlobalMouseMonitor.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeSelectionLocator.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeWorkspace.h"

#include <QApplication>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

namespace panels_test {

inline bool spinUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

inline void spinFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// XKB key codes (evdev + 8) of the keys the tests press.
namespace xkb {
constexpr quint32 escape = 9;
constexpr quint32 digit1 = 10;
constexpr quint32 digit2 = 11;
constexpr quint32 digit4 = 13;
constexpr quint32 digit9 = 18;
constexpr quint32 digit0 = 19;
constexpr quint32 returnKey = 36;
constexpr quint32 letterA = 38;
constexpr quint32 keypad1 = 87;
constexpr quint32 keypadEnter = 104;
constexpr quint32 up = 111;
constexpr quint32 down = 116;
} // namespace xkb

// A key press as the xcb platform delivers it: with the key's native scan
// code, and the key and text that the layout and modifiers give it.
inline QKeyEvent keyPress(quint32 scanCode, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                          const QString& text = {})
{
    return QKeyEvent(QEvent::KeyPress, key, modifiers, scanCode, 0, 0, text);
}

// Sends the key to the widget with the keyboard in `panel`, through the
// application's event filters as a real key would go.
inline bool press(FloatingPanel* panel, QKeyEvent event)
{
    QWidget* target = panel && panel->focusWidget() ? panel->focusWidget() : panel;
    if (!target)
        return false;
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

// Collects the result of a question coroutine and counts its completions.
template <class T>
struct Outcome {
    int completions = 0;
    std::optional<T> value;
    bool done() const { return completions > 0; }
};

// Shared with the collecting coroutine, which may outlive the test's scope.
template <class T>
using OutcomePtr = std::shared_ptr<Outcome<T>>;

template <class T>
OutcomePtr<T> makeOutcome()
{
    return std::make_shared<Outcome<T>>();
}

template <class T>
QCoro::Task<void> collect(QCoro::Task<std::optional<T>> task, OutcomePtr<T> outcome)
{
    std::optional<T> value = co_await std::move(task);
    outcome->value = std::move(value);
    ++outcome->completions;
}

// The fakes, with a selection the anchor finds at once, the workspace's
// front application and the coordinator at rest.
class PanelsTest : public ::testing::Test {
protected:
    PanelsTest()
    {
        SelectionAnchorResolver::resetCacheForTesting();
        UIWindowCoordinator::shared().setActiveSurface(UIWindowCoordinator::Surface::none);
        locator().fallback = platform::SelectionLocator::FocusedElement{selection, std::nullopt};
    }
    ~PanelsTest() override
    {
        spinFor(1);
        PanelQuestion::setKeyboardSettleMsForTesting(keyboardSettleMs_);
    }

public:
    template <class Fake, class Service>
    static Fake& get(const std::shared_ptr<Service>& service)
    {
        return platform::fake::as<Fake>(service);
    }
    platform::fake::FakeScreens& screens() { return get<platform::fake::FakeScreens>(guard_.platform().screens); }
    platform::fake::FakeWorkspace& workspace() { return get<platform::fake::FakeWorkspace>(guard_.platform().workspace); }
    platform::fake::FakeSelectionLocator& locator()
    {
        return get<platform::fake::FakeSelectionLocator>(guard_.platform().selectionLocator);
    }
    platform::fake::FakeGlobalMouseMonitor& mouse()
    {
        return get<platform::fake::FakeGlobalMouseMonitor>(guard_.platform().globalMouse);
    }
    // Activations of the application that was in front when a panel opened
    // (the panels also activate themselves).
    int activationsOfFrontApplication()
    {
        int count = 0;
        for (const auto& app : workspace().activations)
            count += app.pid == frontPid ? 1 : 0;
        return count;
    }
    static constexpr qint64 frontPid = 4242;

    platform::fake::FakeSystemLog& log() { return get<platform::fake::FakeSystemLog>(guard_.platform().systemLog); }

protected:
    // Marks the panel as having held the keyboard, as the window system does
    // when it gives the panel the focus.
    static void giveFocus(FloatingPanel* panel)
    {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(panel, &activate);
    }
    // The keyboard goes to another application: our windows lose it, then
    // the environment reports the loss.
    static void switchAway()
    {
        QApplication::setActiveWindow(nullptr);
        emit PanelEnvironment::current().resignedActive();
    }

    const QRectF selection{400, 300, 120, 18};

private:
    platform::PlatformGuard guard_;
    // A loss of the keyboard is the user's switch away from the moment the
    // panel has it, unless a test says otherwise.
    int keyboardSettleMs_ = PanelQuestion::setKeyboardSettleMsForTesting(0);
};

} // namespace panels_test
