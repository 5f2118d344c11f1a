#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/Constants.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/Storage.h"

#include <QAction>
#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using namespace shortcuts_test;

namespace {

class Recording : public ShortcutsTest {
protected:
    Recording()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto* layout = new QVBoxLayout(&window);
        recorder = new RecorderCocoa(name, [this](const std::optional<Shortcut>& s) { changed.append(s); });
        other = new QLineEdit;
        layout->addWidget(recorder);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        services().notifications->observe(recorderActiveStatusDidChange, &window, [this](const QVariantMap& info) {
            activity.append(info.value(QStringLiteral("isActive")).toBool());
        });
    }
    ~Recording() override { QLocale::setDefault(QLocale::system()); }

    void startRecording()
    {
        recorder->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(recorder->isRecording());
    }
    void press(Key key, int qtKey, Qt::KeyboardModifiers modifiers = {})
    {
        QKeyEvent event = keyEvent(QEvent::KeyPress, key, qtKey, modifiers);
        QApplication::sendEvent(recorder, &event);
    }
    QVariant stored() const { return services().defaults->value(QStringLiteral("GlobalShortcuts_rephraseSelection")); }
    platform::Platform& services() const { return platform::Platform::current(); }

    // Before the window: closing it while recording still reports here.
    QList<std::optional<Shortcut>> changed;
    QList<bool> activity;
    const Name name{QStringLiteral("rephraseSelection")};
    QWidget window;
    RecorderCocoa* recorder = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace

TEST_F(Recording, AShortcutWithControlIsStoredAndEndsRecording)
{
    startRecording();
    EXPECT_EQ(recorder->placeholderText(), QStringLiteral("Press Shortcut"));
    press(Key::t, Qt::Key_T, Qt::ControlModifier);

    EXPECT_EQ(stored(), QVariant(QString::fromUtf8(controlT.toJson())));
    EXPECT_TRUE(hotKeys().isRegistered(17, kControl));
    EXPECT_EQ(changed, QList<std::optional<Shortcut>>{controlT});
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃T"));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->hasFocus());
    EXPECT_EQ(recorder->placeholderText(), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(activity, (QList<bool>{true, false}));
}

TEST_F(Recording, KeysWithoutControlOptionOrCommandMustBeFunctionKeys)
{
    struct Case {
        const char* name;
        Key key;
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        bool stored;
    };
    const Case cases[] = {
        {"bare letter", Key::a, Qt::Key_A, {}, false},
        {"shift letter", Key::a, Qt::Key_A, Qt::ShiftModifier, false},
        {"bare arrow", Key::leftArrow, Qt::Key_Left, {}, false},
        {"shift tab", Key::tab, Qt::Key_Backtab, Qt::ShiftModifier, false},
        {"F5", Key::f5, Qt::Key_F5, {}, true},
        {"shift F5", Key::f5, Qt::Key_F5, Qt::ShiftModifier, true},
        {"F13", Key::f13, Qt::Key_F13, {}, true},
        {"command letter", Key::a, Qt::Key_A, Qt::MetaModifier, true},
        {"option letter", Key::a, Qt::Key_A, Qt::AltModifier, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        services().defaults->remove(QStringLiteral("GlobalShortcuts_rephraseSelection"));
        const int beeps = beeper().beeps();
        startRecording();
        press(c.key, c.qtKey, c.modifiers);
        EXPECT_EQ(stored().isValid(), c.stored);
        EXPECT_EQ(beeper().beeps(), beeps + (c.stored ? 0 : 1));
        EXPECT_EQ(recorder->isRecording(), !c.stored);
        recorder->clearFocus();
    }
}

TEST_F(Recording, AKeyWithoutAPhysicalCounterpartIsRefused)
{
    startRecording();
    QKeyEvent synthetic(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier);
    QApplication::sendEvent(recorder, &synthetic);
    EXPECT_EQ(beeper().beeps(), 1);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_FALSE(stored().isValid());
}

TEST_F(Recording, EscapeEndsRecordingAndKeepsTheShortcut)
{
    setShortcut(controlT, name);
    startRecording();
    press(Key::escape, Qt::Key_Escape);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(getShortcut(name), controlT);
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃T"));
    EXPECT_TRUE(changed.isEmpty());
}

TEST_F(Recording, TabEndsRecordingAndGoesOnToTheNextControl)
{
    startRecording();
    press(Key::tab, Qt::Key_Tab);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(other->hasFocus());
    EXPECT_FALSE(stored().isValid());
}

TEST_F(Recording, DeleteClearsAShownShortcutAndKeepsRecording)
{
    setShortcut(controlT, name);
    startRecording();
    press(Key::delete_, Qt::Key_Backspace);
    EXPECT_FALSE(stored().isValid());
    EXPECT_FALSE(hotKeys().isRegistered(17, kControl));
    EXPECT_EQ(changed, QList<std::optional<Shortcut>>{std::nullopt});
    EXPECT_TRUE(recorder->text().isEmpty());
    EXPECT_TRUE(recorder->isRecording());

    // With nothing shown the key is only swallowed.
    press(Key::deleteForward, Qt::Key_Delete);
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(beeper().beeps(), 0);
}

TEST_F(Recording, TheClearButtonClearsTheShortcutAndStartsRecording)
{
    setShortcut(controlT, name);
    ASSERT_EQ(recorder->text(), QStringLiteral("⌃T"));
    auto* clear = recorder->findChild<QToolButton*>();
    ASSERT_NE(clear, nullptr);
    clear->click();
    EXPECT_FALSE(stored().isValid());
    EXPECT_EQ(changed, QList<std::optional<Shortcut>>{std::nullopt});
    EXPECT_TRUE(recorder->isRecording());
}

TEST_F(Recording, AShortcutOfTheApplicationsMenuIsRefusedWithTheItemsName)
{
    setShortcut(controlT, name);
    QMenu menu;
    menu.addAction(QStringLiteral("&Quit"))->setShortcut(QKeySequence(QStringLiteral("Meta+Q")));
    setMainMenu(&menu);
    startRecording();
    press(Key::q, Qt::Key_Q, Qt::MetaModifier);

    ASSERT_EQ(alerts().asked().size(), 1);
    const auto& asked = alerts().asked().first();
    EXPECT_TRUE(asked.question.title.contains(QStringLiteral("“Quit”")));
    EXPECT_FALSE(asked.question.informativeText);
    EXPECT_TRUE(asked.question.buttons.isEmpty());
    EXPECT_EQ(asked.window, &window);
    EXPECT_EQ(getShortcut(name), controlT);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(changed.isEmpty());
}

TEST_F(Recording, TheWindowsOwnMenuBarCountsWhenNoMainMenuIsSet)
{
    auto* bar = new QMenuBar(&window);
    bar->addMenu(QStringLiteral("Edit"))->addAction(QStringLiteral("Undo"))->setShortcut(QKeySequence::Undo);
    startRecording();
    press(Key::z, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(alerts().asked().size(), 1);
    EXPECT_FALSE(stored().isValid());
}

TEST_F(Recording, ASystemShortcutIsStoredOnlyWhenForced)
{
    reserved().setReserved({{17, kControl}});
    alerts().answerNext(0);
    startRecording();
    press(Key::t, Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(alerts().asked().size(), 1);
    const auto& question = alerts().asked().first().question;
    EXPECT_EQ(question.title,
              QStringLiteral("This keyboard shortcut is already taken by the system or another program."));
    EXPECT_TRUE(question.informativeText);
    EXPECT_EQ(question.buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Use Anyway")}));
    EXPECT_FALSE(stored().isValid());
    EXPECT_TRUE(recorder->isRecording());

    alerts().answerNext(1);
    press(Key::t, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(getShortcut(name), controlT);
    EXPECT_EQ(changed, QList<std::optional<Shortcut>>{controlT});
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(Recording, BareF12IsNeverCheckedAgainstTheSystem)
{
    reserved().setReserved({{111, 0}});
    startRecording();
    press(Key::f12, Qt::Key_F12);
    EXPECT_EQ(getShortcut(name), Shortcut(Key::f12, 0));
    EXPECT_TRUE(alerts().asked().isEmpty());
    EXPECT_EQ(reserved().calls(), 0);
}

TEST_F(Recording, OptionOnlyShortcutsAreRefusedWhereTheSystemDropsThem)
{
    struct Case {
        const char* name;
        Constants::Host host;
        Qt::KeyboardModifiers modifiers;
        bool refused;
    };
    const Case cases[] = {
        {"option on 15.1 sandboxed", {15, 1, true}, Qt::AltModifier, true},
        {"shift option on 15.0 sandboxed", {15, 0, true}, Qt::AltModifier | Qt::ShiftModifier, true},
        {"control option passes", {15, 1, true}, Qt::AltModifier | Qt::ControlModifier, false},
        {"15.2 passes", {15, 2, true}, Qt::AltModifier, false},
        {"unsandboxed passes", {15, 1, false}, Qt::AltModifier, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Constants::detail::setHostOverride(c.host);
        services().defaults->remove(QStringLiteral("GlobalShortcuts_rephraseSelection"));
        const auto askedBefore = alerts().asked().size();
        startRecording();
        press(Key::a, Qt::Key_A, c.modifiers);
        EXPECT_EQ(stored().isValid(), !c.refused);
        EXPECT_EQ(alerts().asked().size(), askedBefore + (c.refused ? 1 : 0));
        if (c.refused) {
            EXPECT_EQ(alerts().asked().last().question.title,
                      QStringLiteral("This keyboard shortcut can’t be used. Add Control or Command to it."));
        }
        recorder->clearFocus();
    }
}

TEST_F(Recording, GlobalShortcutsArePausedWhileRecording)
{
    const Name app(QStringLiteral("app"));
    setShortcut(controlY, app);
    int runs = 0;
    onKeyUp(app, [&] { ++runs; });
    startRecording();
    EXPECT_TRUE(isPaused());
    hotKeys().press(16, kControl);
    hotKeys().release(16, kControl);
    EXPECT_EQ(runs, 0);
    recorder->clearFocus();
    EXPECT_FALSE(isPaused());
    EXPECT_EQ(activity, (QList<bool>{true, false}));
}

TEST_F(Recording, MouseUpNearTheControlIsSwallowedAndFartherAwayEndsRecording)
{
    startRecording();
    const auto release = [&](QWidget* target, QPoint local) {
        QMouseEvent event(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
        return QApplication::sendEvent(target, &event);
    };
    EXPECT_TRUE(release(recorder, recorder->rect().center()));
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(release(recorder, QPoint(recorder->width() + 2, 2)));
    EXPECT_TRUE(recorder->isRecording());
    release(other, other->rect().center());
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(Recording, ShowingOrActivatingTheWindowDoesNotStartRecording)
{
    QWidget fresh;
    auto* only = new RecorderCocoa(name, {}, &fresh);
    fresh.show();
    fresh.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&fresh));
    QCoreApplication::processEvents();
    EXPECT_FALSE(only->isRecording());
    EXPECT_FALSE(isPaused());

    // Afterwards a click focuses it as usual.
    only->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(only->isRecording());
}

TEST_F(Recording, TheWindowLosingFocusEndsRecording)
{
    startRecording();
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(isPaused());

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QCoreApplication::processEvents();
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(Recording, DestroyingARecordingControlLiftsThePause)
{
    startRecording();
    delete recorder;
    EXPECT_FALSE(isPaused());
}

TEST_F(Recording, TheTextFollowsTheStoreForItsOwnNameOnly)
{
    setShortcut(controlT, name);
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃T"));
    setShortcut(controlY, Name(QStringLiteral("another")));
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃T"));
    resetAll();
    EXPECT_TRUE(recorder->text().isEmpty());

    setShortcut(controlY, Name(QStringLiteral("another")));
    recorder->setShortcutName(Name(QStringLiteral("another")));
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃Y"));
    EXPECT_GE(recorder->sizeHint().width(), RecorderCocoa::minimumWidth);
}
