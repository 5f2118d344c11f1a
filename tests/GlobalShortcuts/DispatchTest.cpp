#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/Storage.h"

#include "platform/linux/X11HotKeyBackend.h"

#include <QApplication>
#include <QMenu>

#include <qcoro/qcorotask.h>

using namespace shortcuts_test;

namespace {

class Dispatch : public ShortcutsTest {
protected:
    // Records every action run, as "<name> down" or "<name> up".
    void listen(const Name& name)
    {
        onKeyDown(name, [this, raw = name.rawValue()] { runs.append(raw + " down"); });
        onKeyUp(name, [this, raw = name.rawValue()] { runs.append(raw + " up"); });
    }
    bool click(const Shortcut& shortcut)
    {
        const bool pressed = hotKeys().press(shortcut.carbonKeyCode(), shortcut.carbonModifiers());
        const bool released = hotKeys().release(shortcut.carbonKeyCode(), shortcut.carbonModifiers());
        return pressed && released;
    }
    QStringList runs;
};

// Notes whether a key event got through to the menu itself.
class WatchedMenu : public QMenu {
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        reached() = true;
        QMenu::keyPressEvent(event);
    }
    void keyReleaseEvent(QKeyEvent* event) override
    {
        reached() = true;
        QMenu::keyReleaseEvent(event);
    }

public:
    static bool& reached()
    {
        static bool seen = false;
        return seen;
    }
};

} // namespace

TEST_F(Dispatch, ActionsOfEveryNameWithThePressedShortcutRunInOrder)
{
    const Name a(QStringLiteral("a"));
    const Name b(QStringLiteral("b"));
    setShortcut(controlT, a);
    setShortcut(controlT, b);
    listen(a);
    listen(b);
    onKeyUp(a, [this] { runs.append(QStringLiteral("a up again")); });

    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs, (QStringList{"a down", "b down", "a up", "a up again", "b up"}));
    EXPECT_EQ(hotKeys().live().size(), 1);
}

TEST_F(Dispatch, PausedPressesRunNothingAndAreNotReplayed)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    setPaused(true);
    click(controlT);
    setPaused(false);
    EXPECT_TRUE(runs.isEmpty());
    click(controlT);
    EXPECT_EQ(runs, (QStringList{"rephraseSelection down", "rephraseSelection up"}));
}

TEST_F(Dispatch, AnActionWaitsUntilAShortcutIsStored)
{
    const Name name(QStringLiteral("later"));
    listen(name);
    EXPECT_EQ(hotKeys().registerCalls(), 0);
    setShortcut(controlY, name);
    EXPECT_TRUE(click(controlY));
    EXPECT_EQ(runs, (QStringList{"later down", "later up"}));
}

TEST_F(Dispatch, ActionsFollowTheStoredShortcutAtTheMomentOfThePress)
{
    const Name a(QStringLiteral("a"));
    const Name b(QStringLiteral("b"));
    setShortcut(controlT, a);
    setShortcut(controlY, b);
    listen(a);
    listen(b);

    // Edited behind the component's back: no hot key changes, yet a now
    // answers to Control-Y, and Control-T (still held) reaches nobody.
    defaults().setValue(userDefaultsKey(a), QString::fromUtf8(controlY.toJson()));
    EXPECT_TRUE(click(controlY));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs, (QStringList{"a down", "b down", "a up", "b up"}));
}

TEST_F(Dispatch, DisableReleasesTheHotKeyAndEnableBringsItBack)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    EXPECT_TRUE(isEnabled(name));

    disable(name);
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(click(controlT));

    enable(name);
    EXPECT_TRUE(isEnabled(name));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs.size(), 2);
}

TEST_F(Dispatch, SwitchingTheComponentOffReleasesEveryHotKeyUntilItIsOnAgain)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    const quint32 id = hotKeys().live().value(0).id;

    setEnabled(false);
    EXPECT_TRUE(hotKeys().live().isEmpty());
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(click(controlT));
    // A stray event while off reaches nobody.
    hotKeys().fire(id, platform::HotKeyBackend::Event::pressed);
    EXPECT_TRUE(runs.isEmpty());

    setEnabled(true);
    ASSERT_EQ(hotKeys().live().size(), 1);
    EXPECT_EQ(hotKeys().live().value(0).id, id);
    EXPECT_TRUE(isEnabled(name));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs.size(), 2);
}

TEST_F(Dispatch, ARefusedRegistrationIsLoggedNotCountedAndTriedAgainLater)
{
    hotKeys().refuse(17, kControl);
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    EXPECT_EQ(getShortcut(name), controlT);
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(hotKeys().hasHandler());
    EXPECT_TRUE(systemLog().messages().contains(QStringLiteral("Error registering hotkey ⌃T: -9878")));

    hotKeys().allow(17, kControl);
    enable(name);
    EXPECT_TRUE(isEnabled(name));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs.size(), 2);
}

TEST_F(Dispatch, ShortcutsThePlatformCannotTakeAreRefusedWithTheirStatus)
{
    // Only an edited store can carry values the platform cannot take.
    const Name name(QStringLiteral("edited"));
    defaults().setValue(userDefaultsKey(name), QStringLiteral(R"({"carbonKeyCode":-1,"carbonModifiers":4096})"));
    hotKeys().refuse(-1, kControl, platform::HotKeyBackend::statusUnsupported);
    listen(name);
    EXPECT_FALSE(isEnabled(name));
    ASSERT_FALSE(systemLog().messages().isEmpty());
    for (const QString& line : systemLog().messages())
        EXPECT_EQ(line, QStringLiteral("Error registering hotkey ⌃") + QChar(0xFFFD) + QStringLiteral(": -50"));
}

TEST_F(Dispatch, IdsCountUpAndTwoRegistrationsOfOneShortcutAreBothRemoved)
{
    const auto ignore = [](const Shortcut&) {};
    ASSERT_TRUE(CarbonHotKeys::registerHotKey(controlT, ignore, ignore));
    ASSERT_TRUE(CarbonHotKeys::registerHotKey(controlT, ignore, ignore));
    const auto entries = CarbonHotKeys::detail::entries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[1].id, entries[0].id + 1);

    CarbonHotKeys::unregisterHotKey(controlT);
    EXPECT_TRUE(CarbonHotKeys::detail::entries().isEmpty());
    EXPECT_TRUE(hotKeys().live().isEmpty());
}

TEST_F(Dispatch, EventsForUnknownIdsAreIgnored)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    hotKeys().fire(999999, platform::HotKeyBackend::Event::pressed);
    EXPECT_TRUE(runs.isEmpty());
}

TEST_F(Dispatch, RemovingOneNamesActionsKeepsTheHotKeyOfAnotherNameWithTheSameShortcut)
{
    const Name a(QStringLiteral("a"));
    const Name b(QStringLiteral("b"));
    setShortcut(controlT, a);
    setShortcut(controlT, b);
    listen(a);
    listen(b);

    removeHandler(a);
    EXPECT_TRUE(isEnabled(b));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs, (QStringList{"b down", "b up"}));

    removeHandler(b);
    EXPECT_FALSE(hotKeys().isRegistered(17, kControl));
}

TEST_F(Dispatch, RemovingANamesActionsKeepsTheHotKeyItsOwnStreamStillNeeds)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    const auto stream = events(name);
    settle();

    removeHandler(name);
    EXPECT_TRUE(isEnabled(name));
    EXPECT_TRUE(click(controlT));
    EXPECT_TRUE(runs.isEmpty());
    EXPECT_EQ(stream->pendingCount(), 2);
}

TEST_F(Dispatch, RemoveAllHandlersKeepsTheHotKeysThatStreamsStillNeed)
{
    const Name streamed(QStringLiteral("streamed"));
    const Name plain(QStringLiteral("plain"));
    setShortcut(controlT, streamed);
    setShortcut(controlY, plain);
    listen(streamed);
    listen(plain);
    const auto stream = events(streamed);
    settle();

    removeAllHandlers();
    EXPECT_TRUE(hotKeys().isRegistered(17, kControl));
    EXPECT_FALSE(hotKeys().isRegistered(16, kControl));
    EXPECT_TRUE(click(controlT));
    EXPECT_TRUE(runs.isEmpty());
    EXPECT_EQ(stream->pendingCount(), 2);
}

TEST_F(Dispatch, StreamsDeliverPressesAndReleasesInOrder)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    const auto all = events(name);
    const auto ups = events(EventType::keyUp, name);
    settle();
    click(controlT);
    click(controlT);

    QList<EventType> seen;
    while (const auto type = all->takeNext())
        seen.append(*type);
    EXPECT_EQ(seen, (QList<EventType>{EventType::keyDown, EventType::keyUp, EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(ups->pendingCount(), 2);
    EXPECT_EQ(ups->takeNext(), EventType::keyUp);
}

TEST_F(Dispatch, EndingTheLastStreamReleasesItsHotKey)
{
    const Name name(QStringLiteral("streamOnly"));
    setShortcut(controlT, name);
    disable(name);
    auto stream = events(name);
    settle();
    EXPECT_TRUE(isEnabled(name));

    stream->cancel();
    settle();
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(click(controlT));

    // With an action still listening the hot key stays.
    listen(name);
    auto second = events(name);
    settle();
    second.reset();
    settle();
    EXPECT_TRUE(isEnabled(name));
}

TEST_F(Dispatch, AStreamThatEndsAtOnceStillLeavesNoActionsBehind)
{
    const Name name(QStringLiteral("brief"));
    setShortcut(controlT, name);
    disable(name);
    events(name).reset();
    settle();
    EXPECT_FALSE(isEnabled(name));
}

namespace {

QCoro::Task<QList<EventType>> collect(EventStream* stream, int count)
{
    QList<EventType> out;
    while (out.size() < count) {
        const auto type = co_await stream->next();
        if (!type)
            break;
        out.append(*type);
    }
    co_return out;
}

} // namespace

TEST_F(Dispatch, AwaitingAStreamGetsEveryEventAndEndsWhenCancelled)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    const auto stream = events(name);
    settle();
    auto task = collect(stream.get(), 3);
    click(controlT);
    click(controlT);
    EXPECT_EQ(QCoro::waitFor(task), (QList<EventType>{EventType::keyDown, EventType::keyUp, EventType::keyDown}));

    auto rest = collect(stream.get(), 5);
    stream->cancel();
    EXPECT_EQ(QCoro::waitFor(rest), QList<EventType>{EventType::keyUp});
}

TEST_F(Dispatch, OpeningAMenuBeforeAnyRegistrationChangesNothing)
{
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    initialize();
    menu.show();
    ASSERT_TRUE(isMenuOpen());
    EXPECT_FALSE(hotKeys().hasHandler());

    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    EXPECT_TRUE(hotKeys().hasHandler());
    // The handler came in while the menu was open: hot keys give way at once.
    EXPECT_TRUE(hotKeys().live().isEmpty());
    menu.hide();
    EXPECT_EQ(hotKeys().live().size(), 1);
}

TEST_F(Dispatch, WhileAMenuIsOpenShortcutPressesComeFromTheApplicationsKeyEvents)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    WatchedMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.show();
    ASSERT_TRUE(isMenuOpen());
    EXPECT_TRUE(hotKeys().live().isEmpty());

    bool& seen = WatchedMenu::reached();
    const auto deliver = [&](QEvent::Type type, Key key, int qtKey, Qt::KeyboardModifiers modifiers,
                             bool autoRepeat = false) {
        seen = false;
        QKeyEvent event = keyEvent(type, key, qtKey, modifiers, autoRepeat);
        QApplication::sendEvent(&menu, &event);
        return !seen;
    };

    EXPECT_TRUE(deliver(QEvent::KeyPress, Key::t, Qt::Key_T, Qt::ControlModifier));
    EXPECT_TRUE(deliver(QEvent::KeyPress, Key::t, Qt::Key_T, Qt::ControlModifier, true));
    // Control let go first: the release still ends the press.
    EXPECT_TRUE(deliver(QEvent::KeyRelease, Key::t, Qt::Key_T, Qt::NoModifier));
    EXPECT_EQ(runs, (QStringList{"rephraseSelection down", "rephraseSelection up"}));

    // Other keys go on to the menu.
    EXPECT_FALSE(deliver(QEvent::KeyPress, Key::y, Qt::Key_Y, Qt::ControlModifier));
    EXPECT_FALSE(deliver(QEvent::KeyPress, Key::t, Qt::Key_T, Qt::NoModifier));
    EXPECT_EQ(runs.size(), 2);

    menu.hide();
    EXPECT_FALSE(isMenuOpen());
    EXPECT_EQ(hotKeys().live().size(), 1);
    EXPECT_FALSE(deliver(QEvent::KeyPress, Key::t, Qt::Key_T, Qt::ControlModifier));
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs.size(), 4);
}

TEST_F(Dispatch, AHotKeyThatCannotComeBackAfterTheMenuClosesIsDroppedAndCanBeRetried)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    {
        QMenu menu;
        menu.show();
        hotKeys().refuse(17, kControl);
    }
    EXPECT_FALSE(isMenuOpen());
    EXPECT_TRUE(CarbonHotKeys::detail::entries().isEmpty());
    EXPECT_FALSE(isEnabled(name));
    EXPECT_EQ(systemLog().messages().size(), 1);

    hotKeys().allow(17, kControl);
    enable(name);
    EXPECT_TRUE(click(controlT));
    EXPECT_EQ(runs.size(), 2);
}

TEST_F(Dispatch, TheSystemListKeepsTheCandidatesThatAreTaken)
{
    const Shortcut commandSpace(Key::space, ModifierFlag::command);
    reserved().setReserved({{17, kControl}, {49, kCommand}});
    EXPECT_EQ(CarbonHotKeys::system({controlY, commandSpace, controlT}), (QList<Shortcut>{commandSpace, controlT}));
    const QList<Shortcut> all = CarbonHotKeys::system();
    EXPECT_EQ(all.size(), 2);
    EXPECT_TRUE(all.contains(controlT));
    EXPECT_TRUE(all.contains(commandSpace));
}

TEST_F(Dispatch, WithoutAnX11DisplayTheRefusalIsLoggedOnceWithItsReason)
{
    // This suite runs offscreen: the real backend finds no X11 display, as
    // under Wayland or without DISPLAY.
    services().hotKeys = std::make_shared<platform::linuxbackend::X11HotKeyBackend>();
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    listen(name);
    enable(name);
    setEnabled(false);
    setEnabled(true);
    EXPECT_FALSE(isEnabled(name));
    EXPECT_EQ(systemLog().messages(),
              QStringList{QStringLiteral(
                  "Error registering hotkey ⌃T: -9879 (global shortcuts need an X11 session)")});

    // Another shortcut is worth a line of its own.
    setShortcut(controlY, name);
    EXPECT_EQ(systemLog().messages().size(), 2);
    EXPECT_FALSE(isEnabled(name));
}
