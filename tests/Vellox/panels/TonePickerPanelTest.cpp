#include "PanelsTestSupport.h"

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/SelectionCoordinator.h"
#include "Vellox/panels/TonePickerPanel.h"
#include "Vellox/panels/TonePickerView.h"

#include <QTest>

#include <QWidget>

using namespace panels_test;
using Surface = UIWindowCoordinator::Surface;

namespace {

QList<TonePreset> presets(int count)
{
    return TonePreset::builtIns().mid(0, count);
}

class TonePicker : public PanelsTest {
protected:
    ~TonePicker() override
    {
        TonePickerPanel::finish(std::nullopt);
        CustomInstructionPanel::finish(std::nullopt);
        spinFor(1);
    }


    // Starts a question whose outcome lands in `outcome`.
    void start(const OutcomePtr<TonePickerChoice>& outcome, const QList<TonePreset>& list, bool describeEdit = true)
    {
        collect(TonePickerPanel::askUser(list, describeEdit), outcome);
        ASSERT_TRUE(TonePickerPanel::isShowing());
    }
};

TEST_F(TonePicker, KeysActByPhysicalKeyWhateverTheLayoutOrModifiers)
{
    enum class Expect { passedOn, cancelled, describeEdit, preset0, preset7, stays };
    struct Case {
        const char* name;
        quint32 scanCode;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* text;
        Expect expect;
    };
    const Case cases[] = {
        {"digit 1 picks the describe row", xkb::digit1, Qt::Key_1, Qt::NoModifier, "1", Expect::describeEdit},
        {"digit 2 picks the first preset", xkb::digit2, Qt::Key_2, Qt::NoModifier, "2", Expect::preset0},
        {"digit 9 picks the eighth preset", xkb::digit9, Qt::Key_9, Qt::NoModifier, "9", Expect::preset7},
        {"shift-digit 1 still picks", xkb::digit1, Qt::Key_Exclam, Qt::ShiftModifier, "!", Expect::describeEdit},
        {"AZERTY digit row key gives & and picks", xkb::digit1, Qt::Key_Ampersand, Qt::NoModifier, "&",
         Expect::describeEdit},
        {"keypad 1 passes on", xkb::keypad1, Qt::Key_1, Qt::KeypadModifier, "1", Expect::passedOn},
        {"digit 0 passes on", xkb::digit0, Qt::Key_0, Qt::NoModifier, "0", Expect::passedOn},
        {"a letter passes on", xkb::letterA, Qt::Key_A, Qt::NoModifier, "a", Expect::passedOn},
        {"Return picks the focused row", xkb::returnKey, Qt::Key_Return, Qt::NoModifier, "\r", Expect::describeEdit},
        {"keypad Enter picks the focused row", xkb::keypadEnter, Qt::Key_Enter, Qt::KeypadModifier, "\r",
         Expect::describeEdit},
        {"Escape cancels", xkb::escape, Qt::Key_Escape, Qt::NoModifier, "\x1b", Expect::cancelled},
        {"Down moves and stays", xkb::down, Qt::Key_Down, Qt::NoModifier, "", Expect::stays},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = makeOutcome<TonePickerChoice>();
        start(outcome, presets(10));
        const bool consumed =
            press(TonePickerPanel::panel(), keyPress(c.scanCode, c.key, c.modifiers, QString::fromUtf8(c.text)));
        spinUntil([&] { return outcome->done(); }, c.expect == Expect::passedOn || c.expect == Expect::stays ? 50 : 2000);
        switch (c.expect) {
        case Expect::passedOn:
        case Expect::stays:
            EXPECT_EQ(consumed, c.expect == Expect::stays);
            EXPECT_FALSE(outcome->done());
            EXPECT_TRUE(TonePickerPanel::isShowing());
            break;
        case Expect::cancelled:
            EXPECT_TRUE(consumed);
            ASSERT_TRUE(outcome->done());
            EXPECT_FALSE(outcome->value);
            break;
        case Expect::describeEdit:
            EXPECT_TRUE(consumed);
            ASSERT_TRUE(outcome->done());
            EXPECT_EQ(outcome->value, TonePickerChoice::describeEdit());
            break;
        case Expect::preset0:
        case Expect::preset7:
            EXPECT_TRUE(consumed);
            ASSERT_TRUE(outcome->done());
            EXPECT_EQ(outcome->value, TonePickerChoice::preset(presets(10)[c.expect == Expect::preset0 ? 0 : 7]));
            break;
        }
        TonePickerPanel::finish(std::nullopt);
        spinFor(1);
    }
}

TEST_F(TonePicker, WithoutTheDescribeRowDigitsPickPresetsAndADigitBeyondTheListPassesOn)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3), false);
    EXPECT_FALSE(press(TonePickerPanel::panel(), keyPress(xkb::digit4, Qt::Key_4, Qt::NoModifier, "4")));
    spinFor(20);
    EXPECT_FALSE(outcome->done());
    EXPECT_TRUE(press(TonePickerPanel::panel(), keyPress(xkb::digit1, Qt::Key_1, Qt::NoModifier, "1")));
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_EQ(outcome->value, TonePickerChoice::preset(presets(3)[0]));
}

TEST_F(TonePicker, ArrowsStopAtBothEndsAndReturnTakesTheFocusedRow)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(2));
    SelectionCoordinator& list = SelectionCoordinator::shared();
    press(TonePickerPanel::panel(), keyPress(xkb::up, Qt::Key_Up));
    EXPECT_EQ(list.focusedIndex(), 0);
    for (int i = 0; i < 5; ++i)
        press(TonePickerPanel::panel(), keyPress(xkb::down, Qt::Key_Down));
    EXPECT_EQ(list.focusedIndex(), 2);
    press(TonePickerPanel::panel(), keyPress(xkb::returnKey, Qt::Key_Return, Qt::NoModifier, "\r"));
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_EQ(outcome->value, TonePickerChoice::preset(presets(2)[1]));
}

TEST_F(TonePicker, ReturnOnAnEmptyListIsConsumedAndDoesNothing)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, {}, false);
    EXPECT_TRUE(press(TonePickerPanel::panel(), keyPress(xkb::returnKey, Qt::Key_Return, Qt::NoModifier, "\r")));
    spinFor(20);
    EXPECT_FALSE(outcome->done());
    EXPECT_TRUE(TonePickerPanel::isShowing());
}

// Every way out resumes the caller once, one turn later, never from inside
// the handler that ended the showing.
TEST_F(TonePicker, EveryWayOutResumesTheCallerExactlyOnceAndOutsideTheHandler)
{
    struct Case {
        const char* name;
        std::function<void(TonePicker&)> exit;
        bool answers;
    };
    const Case cases[] = {
        {"escape", [](TonePicker&) { press(TonePickerPanel::panel(), keyPress(xkb::escape, Qt::Key_Escape)); }, false},
        {"digit", [](TonePicker&) { press(TonePickerPanel::panel(), keyPress(xkb::digit2, Qt::Key_2, {}, "2")); },
         true},
        {"tap on a row",
         [](TonePicker&) {
             auto* view = static_cast<TonePickerView*>(TonePickerPanel::panel()->content());
             const QPoint centre = view->rowContents()[1].geometry.center();
             QWidget* row = view->childAt(centre);
             QTest::mouseClick(row, Qt::LeftButton, {}, row->mapFrom(view, centre));
         },
         true},
        {"click outside",
         [](TonePicker& t) {
             t.screens().mouse = QPointF(5, 890);
             t.mouse().press(platform::GlobalMouseMonitor::Button::right);
         },
         false},
        {"resign active after having focus",
         [](TonePicker&) {
             giveFocus(TonePickerPanel::panel());
             switchAway();
         },
         false},
        {"another application activated",
         [](TonePicker& t) {
             giveFocus(TonePickerPanel::panel());
             t.workspace().front = platform::Workspace::FrontApplication{0x800001, 999, "Other", "other"};
             emit PanelEnvironment::current().applicationActivated();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = makeOutcome<TonePickerChoice>();
        start(outcome, presets(4));
        workspace().activations.clear();
        c.exit(*this);
        EXPECT_EQ(outcome->completions, 0) << "resumed inside the handler";
        ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
        EXPECT_EQ(outcome->value.has_value(), c.answers);
        EXPECT_FALSE(TonePickerPanel::isShowing());
        TonePickerPanel::finish(TonePickerChoice::describeEdit());
        spinUntil([&] { return activationsOfFrontApplication() >= 1; });
        spinFor(20);
        EXPECT_EQ(outcome->completions, 1);
        EXPECT_EQ(activationsOfFrontApplication(), 1) << "the previous application gets the keyboard back once";
        EXPECT_EQ(workspace().activations.last().pid, frontPid);
        screens().mouse = QPointF(720, 450);
    }
}

TEST_F(TonePicker, AClickOverThePanelDoesNotCancel)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3));
    screens().mouse = TonePickerPanel::panel()->cardFrame().center();
    mouse().press();
    spinFor(20);
    EXPECT_FALSE(outcome->done());
    EXPECT_TRUE(TonePickerPanel::isShowing());
}

TEST_F(TonePicker, ASecondQuestionCancelsTheFirstAndShowsTheNewList)
{
    auto first = makeOutcome<TonePickerChoice>();
    auto second = makeOutcome<TonePickerChoice>();
    start(first, presets(2));
    start(second, presets(5), false);
    ASSERT_TRUE(spinUntil([&] { return first->done(); }));
    EXPECT_FALSE(first->value);
    EXPECT_FALSE(second->done());
    EXPECT_EQ(SelectionCoordinator::shared().rows().size(), 5);
    EXPECT_EQ(mouse().handlerCount(), 1);
}

// Choosing "Describe the edit" closes the picker and opens the instruction
// panel in the same turn; a cancel the picker's showing queued before that
// must not close the new panel.
TEST_F(TonePicker, ACancelQueuedByThePickerDoesNotReachTheInstructionPanelThatFollows)
{
    auto picker = makeOutcome<TonePickerChoice>();
    start(picker, presets(3));
    giveFocus(TonePickerPanel::panel());
    screens().mouse = QPointF(5, 890);
    mouse().press();
    switchAway();
    TonePickerPanel::finish(TonePickerChoice::describeEdit());
    auto instruction = makeOutcome<QString>();
    collect(CustomInstructionPanel::prompt(), instruction);
    giveFocus(CustomInstructionPanel::panel());
    ASSERT_TRUE(spinUntil([&] { return picker->done(); }));
    spinFor(50);
    EXPECT_EQ(picker->value, TonePickerChoice::describeEdit());
    EXPECT_TRUE(CustomInstructionPanel::isShowing());
    EXPECT_FALSE(instruction->done());
}

// A click or focus loss seen while one picker showed is handled one turn
// later; by then a new question may have replaced that picker, and the new
// one must stay.
TEST_F(TonePicker, CancelsQueuedForAReplacedPickerDoNotCloseItsSuccessor)
{
    auto first = makeOutcome<TonePickerChoice>();
    auto second = makeOutcome<TonePickerChoice>();
    start(first, presets(3));
    giveFocus(TonePickerPanel::panel());
    screens().mouse = QPointF(5, 890);
    mouse().press();
    switchAway();
    start(second, presets(3));
    giveFocus(TonePickerPanel::panel());
    ASSERT_TRUE(spinUntil([&] { return first->done(); }));
    spinFor(50);
    EXPECT_FALSE(second->done());
    EXPECT_TRUE(TonePickerPanel::isShowing());
}

// The window manager may still report our closed picker as the front window
// when the instruction panel opens; the keyboard must still go back to the
// application the user came from.
TEST_F(TonePicker, ThePanelThatFollowsThePickerHandsTheKeyboardToTheUsersApplication)
{
    auto picker = makeOutcome<TonePickerChoice>();
    start(picker, presets(3));
    press(TonePickerPanel::panel(), keyPress(xkb::digit1, Qt::Key_1, Qt::NoModifier, "1"));
    workspace().front =
        platform::Workspace::FrontApplication{0x600001, QCoreApplication::applicationPid(), "Vellox", "vellox"};
    workspace().activations.clear();
    auto instruction = makeOutcome<QString>();
    collect(CustomInstructionPanel::prompt(), instruction);
    spinFor(30);
    EXPECT_TRUE(workspace().activations.isEmpty()) << "no hand-back between two panels of ours";
    press(CustomInstructionPanel::panel(), keyPress(xkb::escape, Qt::Key_Escape));
    ASSERT_TRUE(spinUntil([&] { return instruction->done(); }));
    spinUntil([&] { return !workspace().activations.isEmpty(); });
    spinFor(10);
    ASSERT_EQ(workspace().activations.size(), 1);
    EXPECT_EQ(workspace().activations.last().pid, frontPid);
}

TEST_F(TonePicker, LosingTheKeyboardBeforeThePanelFirstHadItDoesNotCancel)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3));
    switchAway();
    spinFor(20);
    EXPECT_TRUE(TonePickerPanel::isShowing());
    giveFocus(TonePickerPanel::panel());
    switchAway();
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_FALSE(outcome->value);
}

TEST_F(TonePicker, OwnActivationDoesNotCancel)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3));
    giveFocus(TonePickerPanel::panel());
    workspace().front = platform::Workspace::FrontApplication{0x600001, QCoreApplication::applicationPid(), "Vellox", "vellox"};
    emit PanelEnvironment::current().applicationActivated();
    spinFor(20);
    EXPECT_TRUE(TonePickerPanel::isShowing());
}

TEST_F(TonePicker, ShowingClosesTheSettingsWindowAndReportsTheSurfaceUntilItEnds)
{
    QWidget settings;
    settings.setWindowTitle("Vellox Settings");
    UIWindowCoordinator::shared().registerWindow(&settings);
    settings.show();
    UIWindowCoordinator::shared().markSurfaceVisible(Surface::settings);

    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3));
    EXPECT_FALSE(settings.isVisible());
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::tonePicker);
    EXPECT_EQ(mouse().handlerCount(), 1);
    TonePickerPanel::finish(std::nullopt);
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::none);
    EXPECT_EQ(mouse().handlerCount(), 0);
}

TEST_F(TonePicker, FinishingAnIdlePickerDoesNothing)
{
    log().clear();
    UIWindowCoordinator::shared().markSurfaceVisible(Surface::tonePicker);
    log().clear();
    TonePickerPanel::finish(std::nullopt);
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::tonePicker);
    EXPECT_TRUE(log().messages().isEmpty());
    EXPECT_EQ(activationsOfFrontApplication(), 0);
}

TEST_F(TonePicker, ThePanelSitsUnderTheSelectionAndFadesIn)
{
    auto outcome = makeOutcome<TonePickerChoice>();
    start(outcome, presets(3));
    FloatingPanel* panel = TonePickerPanel::panel();
    EXPECT_EQ(panel->cardFrame().topLeft(), QPointF(selection.left(), selection.bottom() + 8));
    EXPECT_EQ(panel->opacity(), 0);
    ASSERT_TRUE(spinUntil([&] { return panel->opacity() == 1; }, 20000));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(panel->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
}

TEST(TonePickerSize, ClampsTheFittingSize)
{
    struct Case {
        QSize fitting;
        QSize expected;
    };
    const Case cases[] = {
        {{100, 50}, {260, 140}},
        {{260, 300}, {260, 300}},
        {{300, 900}, {300, 460}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TonePickerPanel::panelSize(c.fitting), c.expected);
}

} // namespace
