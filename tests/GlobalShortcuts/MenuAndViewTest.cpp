#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuItemShortcuts.h"
#include "GlobalShortcuts/Recorder.h"
#include "GlobalShortcuts/Storage.h"
#include "GlobalShortcuts/ViewShortcuts.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace shortcuts_test;

namespace {

class MenuItems : public ShortcutsTest {
protected:
    QAction item{QStringLiteral("Rewrite")};
    const QKeySequence controlTSequence{QStringLiteral("Ctrl+T")};
    const QKeySequence controlYSequence{QStringLiteral("Ctrl+Y")};
};

class Views : public ShortcutsTest {};

class Wrapper : public ShortcutsTest {};

} // namespace

TEST_F(MenuItems, ABoundItemFollowsItsNamesShortcutAfterOneTurnOfTheEventLoop)
{
    const Name name(QStringLiteral("bound"));
    setShortcutFor(&item, name);
    EXPECT_TRUE(item.shortcut().isEmpty());

    setShortcut(controlT, name);
    EXPECT_TRUE(item.shortcut().isEmpty());
    settle();
    EXPECT_EQ(item.shortcut(), controlTSequence);

    setShortcut(controlY, Name(QStringLiteral("another")));
    settle();
    EXPECT_EQ(item.shortcut(), controlTSequence);

    setShortcut(std::nullopt, name);
    settle();
    EXPECT_TRUE(item.shortcut().isEmpty());
}

TEST_F(MenuItems, RebindingFollowsOnlyTheNewNameAndUnbindingClears)
{
    const Name first(QStringLiteral("first"));
    const Name second(QStringLiteral("second"));
    setShortcut(controlT, first);
    setShortcut(controlY, second);
    setShortcutFor(&item, first);
    EXPECT_EQ(item.shortcut(), controlTSequence);
    setShortcutFor(&item, second);
    EXPECT_EQ(item.shortcut(), controlYSequence);

    setShortcut(Shortcut(Key::u, ModifierFlag::control), first);
    settle();
    EXPECT_EQ(item.shortcut(), controlYSequence);

    setShortcutFor(&item, std::nullopt);
    EXPECT_TRUE(item.shortcut().isEmpty());
    setShortcut(controlT, second);
    settle();
    EXPECT_TRUE(item.shortcut().isEmpty());
}

TEST_F(MenuItems, ADirectShortcutKeepsNoBinding)
{
    setShortcut(&item, controlT);
    EXPECT_EQ(item.shortcut(), controlTSequence);
    setShortcut(&item, Shortcut(Key::keypad5, ModifierFlag::command));
    EXPECT_TRUE(item.shortcut().isEmpty());
    setShortcut(&item, std::optional<Shortcut>());
    EXPECT_TRUE(item.shortcut().isEmpty());
}

TEST_F(Views, TheViewGetsPressesAndReleasesInOrderWhileItLives)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    auto view = std::make_unique<QObject>();
    QList<EventType> all;
    int releases = 0;
    onKeyboardShortcut(view.get(), name, [&](EventType type) { all.append(type); });
    onGlobalKeyboardShortcut(view.get(), name, EventType::keyUp, [&] { ++releases; });
    settle();

    hotKeys().press(17, kControl);
    hotKeys().release(17, kControl);
    EXPECT_EQ(all, (QList<EventType>{EventType::keyDown, EventType::keyUp}));
    EXPECT_EQ(releases, 1);

    disable(name);
    enable(name);
    view.reset();
    settle();
    // Nothing listens any more, so the hot key is gone with the view.
    EXPECT_FALSE(isEnabled(name));
    EXPECT_FALSE(hotKeys().press(17, kControl));
}

TEST_F(Views, ALocalShortcutFollowsTheStoreAndStepsAsideWhileRecording)
{
    const Name name(QStringLiteral("local"));
    QAction action;
    QPushButton button;
    globalKeyboardShortcut(&action, name);
    globalKeyboardShortcut(&button, name);
    EXPECT_TRUE(action.shortcut().isEmpty());

    setShortcut(controlT, name);
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    EXPECT_EQ(button.shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));

    setShortcut(controlY, Name(QStringLiteral("another")));
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));

    services().notifications->post(recorderActiveStatusDidChange, {{QStringLiteral("isActive"), true}});
    EXPECT_TRUE(action.shortcut().isEmpty());
    services().notifications->post(recorderActiveStatusDidChange, {{QStringLiteral("isActive"), false}});
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    // Anything but a Boolean counts as not recording.
    services().notifications->post(recorderActiveStatusDidChange, {});
    EXPECT_EQ(action.shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
}

TEST_F(Wrapper, LabelsAreShownVerbatimOrLookedUpAndTheControlIsKept)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    const Name other(QStringLiteral("other"));
    setShortcut(controlY, other);

    Recorder bare(name);
    EXPECT_FALSE(bare.hasLabel());
    EXPECT_GE(bare.control()->sizeHint().width(), RecorderCocoa::minimumWidth);

    Recorder verbatim(QStringLiteral("Rewrite selection"), name);
    ASSERT_TRUE(verbatim.hasLabel());
    EXPECT_EQ(qobject_cast<QLabel*>(verbatim.label())->text(), QStringLiteral("Rewrite selection"));

    std::unique_ptr<Recorder> keyed(Recorder::withLabelKey("Rewrite selection", name));
    EXPECT_EQ(qobject_cast<QLabel*>(keyed->label())->text(), QStringLiteral("Rewrite selection"));

    int made = 0;
    Recorder custom(name, {}, [&] {
        ++made;
        return new QPushButton(QStringLiteral("?"));
    });
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(custom.hasLabel());

    RecorderCocoa* control = bare.control();
    EXPECT_EQ(control->text(), QStringLiteral("⌃T"));
    bare.setName(other);
    EXPECT_EQ(bare.control(), control);
    EXPECT_EQ(control->text(), QStringLiteral("⌃Y"));
}

TEST_F(Wrapper, RenamingToTheSameNameLeavesARecordingAlone)
{
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    int calls = 0;
    Recorder row(name, [&](const std::optional<Shortcut>&) { ++calls; });
    row.show();
    row.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&row));
    row.control()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(row.control()->isRecording());

    row.setName(Name(QStringLiteral("rephraseSelection")));
    EXPECT_TRUE(row.control()->isRecording());

    QKeyEvent press = keyEvent(QEvent::KeyPress, Key::y, Qt::Key_Y, Qt::ControlModifier);
    QApplication::sendEvent(row.control(), &press);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(getShortcut(name), controlY);
}
