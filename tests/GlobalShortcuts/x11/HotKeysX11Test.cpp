#include "X11TestSupport.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/Storage.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return ups >= expected; }, 20000));
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
    ASSERT_TRUE(QTest::qWaitFor([] { return !isMenuOpen(); }, 20000));
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
    // The new layout shows once the server's announcement has arrived.
    const auto shows = [](const Shortcut& shortcut, const QString& text) {
        return QTest::qWaitFor([&] { return shortcut.presentableDescription() == text; }, 20000);
    };
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Y"));
    ASSERT_EQ(setLayout("de"), 0);
    EXPECT_TRUE(shows(controlY, QStringLiteral("⌃Z")));
    // A layout that types no Latin letters falls back to the next group.
    ASSERT_EQ(setLayout("ru,fr"), 0);
    EXPECT_TRUE(shows(Shortcut(Key::q, ModifierFlag::control), QStringLiteral("⌃A")));
    ASSERT_EQ(setLayout("us"), 0);
    EXPECT_TRUE(shows(controlY, QStringLiteral("⌃Y")));
}

TEST_F(X11HotKeys, KeyTextIsCheapOnceTheKeymapIsRead)
{
    // Menus and recorders ask for many keys at a time.
    EXPECT_EQ(controlT.presentableDescription(), QStringLiteral("⌃T"));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 500; ++i)
        (void)Shortcut(Key(i % 50), ModifierFlag::control).presentableDescription();
    EXPECT_LT(clock.elapsed(), 150);
}

TEST_F(X11HotKeys, AHeldKeyWhileOurMenuIsOpenGivesOneKeyDownAndOneKeyUp)
{
    const Name name = rephrase();
    listen(name);
    QMenu menu;
    menu.addAction(QStringLiteral("First"));
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(isMenuOpen());

    AutoRepeat repeat;
    xdotool({"keydown", "ctrl", "keydown", "t", "sleep", "0.6", "keyup", "t", "keyup", "ctrl"});
    waitForKeyUp();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
    EXPECT_TRUE(menu.isVisible());
    menu.close();
}

TEST_F(X11HotKeys, APopupOpenedByTheKeyDownDoesNotEatTheNextPress)
{
    // A panel of our own that takes the keyboard while it shows, as the tone
    // picker does: the release of the shortcut goes to it, not to the root.
    QWidget popup(nullptr, Qt::Popup);
    popup.resize(200, 100);
    const Name name = rephrase();
    onKeyDown(name, [&] {
        ++downs;
        if (!popup.isVisible()) {
            popup.move(100, 100);
            popup.show();
        }
    });
    onKeyUp(name, [&] { ++ups; });

    xdotool({"keydown", "ctrl", "keydown", "t"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup.isVisible(); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popup));
    xdotool({"keyup", "t", "keyup", "ctrl"});
    waitForKeyUp();
    popup.hide();
    QTest::qWait(100);

    xdotool({"key", "ctrl+t"});
    waitForKeyUp(2);
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(ups, 2);
}

namespace {

// In the child run of the test below: a backend made before main() creates
// the application, as a static of the program would be.
std::shared_ptr<X11HotKeyBackend>& earlyBackend()
{
    static std::shared_ptr<X11HotKeyBackend> backend;
    return backend;
}
const bool earlyBackendMade = [] {
    if (qEnvironmentVariableIsSet("VELLOX_TEST_EARLY_BACKEND"))
        earlyBackend() = std::make_shared<X11HotKeyBackend>();
    return true;
}();

} // namespace

// Run by the test below in a process of its own.
TEST(X11EarlyBackend, DISABLED_HearsItsKeysOnceTheApplicationExists)
{
    ASSERT_TRUE(earlyBackendMade && earlyBackend());
    int presses = 0;
    earlyBackend()->setHandler([&](quint32, platform::HotKeyBackend::Event event) {
        presses += event == platform::HotKeyBackend::Event::pressed;
    });
    ASSERT_EQ(earlyBackend()->registerHotKey(1, Key::t.rawValue, kControl), platform::HotKeyBackend::statusOk);
    xdotool({"key", "ctrl+t"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses == 1; }, 20000));
    earlyBackend().reset();
}

TEST(X11EarlyBackend, ABackendMadeBeforeTheApplicationHearsItsKeys)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELLOX_TEST_EARLY_BACKEND"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=X11EarlyBackend.DISABLED_HearsItsKeysOnceTheApplicationExists")});
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
}

TEST_F(X11HotKeys, TheFullListOfTakenShortcutsComesQuickly)
{
    X11HotKeyBackend otherClient(X11HotKeyBackend::Connection::own);
    ASSERT_EQ(otherClient.registerHotKey(1, Key::u.rawValue, kControl | kShift), platform::HotKeyBackend::statusOk);
    QElapsedTimer clock;
    clock.start();
    const QList<Shortcut> taken = CarbonHotKeys::system();
    // Once some 800 ms of checked grabs, one round trip per shortcut.
    EXPECT_LT(clock.elapsed(), 300);
    EXPECT_EQ(taken, QList<Shortcut>{Shortcut(Key::u, ModifierFlag::control | ModifierFlag::shift)});
}

TEST_F(X11HotKeys, NumLockMovedToAnotherModifierStillDoesNotHideTheShortcut)
{
    const Name name = rephrase();
    listen(name);
    const auto xmodmap = [](const QStringList& expressions) {
        QStringList arguments;
        for (const QString& expression : expressions)
            arguments << QStringLiteral("-e") << expression;
        return QProcess::execute(QStringLiteral("xmodmap"), arguments);
    };
    ASSERT_EQ(xmodmap({"clear mod2", "add mod3 = Num_Lock"}), 0);
    // The server announces the new mapping and the grabs follow it, as soon
    // as a loaded machine gets round to it: until then a press goes unseen,
    // so the press is tried again until one arrives.
    QDeadlineTimer deadline(20000);
    do {
        xdotool({"key", "Num_Lock"});
        xdotool({"key", "ctrl+t"});
        xdotool({"key", "Num_Lock"});
    } while (!QTest::qWaitFor([&] { return ups >= 1; }, 3000) && !deadline.hasExpired());
    waitForKeyUp();
    EXPECT_EQ(xmodmap({"clear mod3", "add mod2 = Num_Lock"}), 0);
    QTest::qWait(300);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 1);
}
