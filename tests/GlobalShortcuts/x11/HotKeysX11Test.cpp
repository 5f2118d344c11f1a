#include "X11TestSupport.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/Storage.h"

#include <QMenu>

using namespace shortcuts_test;
using platform::linuxbackend::X11HotKeyBackend;

namespace {

class X11HotKeys : public X11ShortcutsTest {
protected:
    void listen(const Name& name)
    {
        onKeyDown(name, [this] { ++downs; });
        onKeyUp(name, [this] { ++ups; });
    }
    // Waits for the key-up, then a little longer so a stray second event would
    // show up too.
    void waitForKeyUp(int expected = 1)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return ups >= expected; }, 3000));
        QTest::qWait(150);
    }

    int downs = 0;
    int ups = 0;
};

const Name rephrase()
{
    return Name(QStringLiteral("rephraseSelection"), controlT);
}

} // namespace

TEST_F(X11HotKeys, ControlTGivesExactlyOneKeyDownAndOneKeyUp)
{
    const Name name = rephrase();
    listen(name);
    ASSERT_TRUE(isEnabled(name));
    xdotool({"keydown", "ctrl", "keydown", "t", "keyup", "t", "keyup", "ctrl"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}

TEST_F(X11HotKeys, ReleasingControlBeforeTStillGivesOneKeyUp)
{
    const Name name = rephrase();
    listen(name);
    xdotool({"keydown", "ctrl", "keydown", "t", "keyup", "ctrl", "keyup", "t"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}

TEST_F(X11HotKeys, AHeldKeyGivesOneKeyDownAndOneKeyUp)
{
    const Name name = rephrase();
    listen(name);
    // Xvfb starts with auto-repeat off; a short delay keeps the hold brief.
    AutoRepeat repeat;
    xdotool({"keydown", "ctrl", "keydown", "t", "sleep", "0.5", "keyup", "t", "keyup", "ctrl"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}

TEST_F(X11HotKeys, NumLockAndCapsLockDoNotHideTheShortcut)
{
    const Name name = rephrase();
    listen(name);
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "ctrl+t"});
    xdotool({"key", "Num_Lock"});
    waitForKeyUp();
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "ctrl+t"});
    xdotool({"key", "Caps_Lock"});
    waitForKeyUp(2);
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 2);
}

TEST_F(X11HotKeys, AKeyHeldByAnotherClientIsRefusedWithTheConsoleLine)
{
    auto otherClient = std::make_unique<X11HotKeyBackend>(X11HotKeyBackend::Connection::own);
    ASSERT_EQ(otherClient->registerHotKey(1, 17, kControl), platform::HotKeyBackend::statusOk);

    const Name name = rephrase();
    listen(name);
    EXPECT_FALSE(isEnabled(name));
    EXPECT_TRUE(logLines().contains(QStringLiteral("Error registering hotkey ⌃T: -9878")));
    // The other client's key is reported as taken; our own never is.
    const Shortcut ours(Key::u, ModifierFlag::control);
    ASSERT_TRUE(CarbonHotKeys::registerHotKey(ours, {}, {}));
    EXPECT_EQ(CarbonHotKeys::system({controlT, ours, controlY}), QList<Shortcut>{controlT});

    otherClient.reset();
    enable(name);
    EXPECT_TRUE(isEnabled(name));
    xdotool({"key", "ctrl+t"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
}

TEST_F(X11HotKeys, TheFunctionModifierCannotBeGrabbed)
{
    const Shortcut withFunction(Key::f1, ModifierFlag::function | ModifierFlag::control);
    EXPECT_FALSE(CarbonHotKeys::registerHotKey(withFunction, {}, {}));
    EXPECT_EQ(logLines().value(0), QStringLiteral("Error registering hotkey ⌃\U0001F310\uFE0EF1: -50"));
}

TEST_F(X11HotKeys, TheShortcutStillWorksWhileOneOfOurMenusIsOpen)
{
    const Name name = rephrase();
    listen(name);
    QMenu menu;
    menu.addAction(QStringLiteral("First"));
    menu.addAction(QStringLiteral("Second"));
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(isMenuOpen());

    // The grab is released while the menu holds the keyboard: another client
    // can take the key meanwhile.
    {
        X11HotKeyBackend otherClient(X11HotKeyBackend::Connection::own);
        EXPECT_EQ(otherClient.registerHotKey(1, 17, kControl), platform::HotKeyBackend::statusOk);
    }

    xdotool({"keydown", "ctrl", "keydown", "t", "keyup", "ctrl", "keyup", "t"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_TRUE(menu.isVisible());

    menu.close();
    ASSERT_TRUE(QTest::qWaitFor([] { return !isMenuOpen(); }, 2000));
    X11HotKeyBackend otherClient(X11HotKeyBackend::Connection::own);
    EXPECT_EQ(otherClient.registerHotKey(1, 17, kControl), platform::HotKeyBackend::statusTaken);
    xdotool({"key", "ctrl+t"});
    waitForKeyUp(2);
    EXPECT_EQ(downs, 2);
}

TEST_F(X11HotKeys, KeyTextFollowsTheServersLayout)
{
    const auto setLayout = [](const char* layout) {
        return QProcess::execute(QStringLiteral("setxkbmap"), {QString::fromLatin1(layout)});
    };
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Y"));
    ASSERT_EQ(setLayout("de"), 0);
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Z"));
    // A layout that types no Latin letters falls back to the next group.
    ASSERT_EQ(setLayout("ru,fr"), 0);
    EXPECT_EQ(Shortcut(Key::q, ModifierFlag::control).presentableDescription(), QStringLiteral("⌃A"));
    ASSERT_EQ(setLayout("us"), 0);
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Y"));
}
