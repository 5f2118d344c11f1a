#include "PanelsTestSupport.h"

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/CustomInstructionView.h"

#include <QLineEdit>
#include <QTest>

using namespace panels_test;
using Surface = UIWindowCoordinator::Surface;

namespace {

class InstructionPanel : public PanelsTest {
protected:
    ~InstructionPanel() override
    {
        CustomInstructionPanel::finish(std::nullopt);
        spinFor(1);
    }

    OutcomePtr<QString> start()
    {
        auto outcome = makeOutcome<QString>();
        collect(CustomInstructionPanel::prompt(), outcome);
        EXPECT_TRUE(CustomInstructionPanel::isShowing());
        return outcome;
    }
    static QLineEdit* field()
    {
        return static_cast<CustomInstructionView*>(CustomInstructionPanel::panel()->content())->field();
    }
};

TEST_F(InstructionPanel, ReturnAnswersTheTrimmedInstructionAndBlankReturnKeepsThePanelOpen)
{
    struct Case {
        const char* name;
        const char* typed;
        quint32 scanCode;
        int key;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"Return trims both ends", "   make it shorter \t ", xkb::returnKey, Qt::Key_Return, "make it shorter"},
        {"keypad Enter does the same", " add a greeting ", xkb::keypadEnter, Qt::Key_Enter, "add a greeting"},
        {"blank Return waits", "  \t  ", xkb::returnKey, Qt::Key_Return, std::nullopt},
        {"empty Return waits", "", xkb::returnKey, Qt::Key_Return, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = start();
        field()->insert(QString::fromUtf8(c.typed));
        EXPECT_TRUE(press(CustomInstructionPanel::panel(), keyPress(c.scanCode, c.key, Qt::NoModifier, "\r")))
            << "Return is swallowed either way";
        if (c.expected) {
            ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
            EXPECT_EQ(outcome->value, c.expected);
        } else {
            spinFor(30);
            EXPECT_FALSE(outcome->done());
            EXPECT_TRUE(CustomInstructionPanel::isShowing());
            EXPECT_EQ(field()->text(), QString::fromUtf8(c.typed)) << "the field keeps its text";
        }
        CustomInstructionPanel::finish(std::nullopt);
        spinFor(1);
    }
}

TEST_F(InstructionPanel, TypedKeysReachTheFieldWithTheCaretFromTheStart)
{
    auto outcome = start();
    spinUntil([] { return CustomInstructionPanel::panel()->focusWidget() == field(); });
    EXPECT_EQ(CustomInstructionPanel::panel()->focusWidget(), field());
    press(CustomInstructionPanel::panel(), keyPress(xkb::letterA, Qt::Key_A, Qt::NoModifier, "a"));
    EXPECT_EQ(field()->text(), "a");
}

TEST_F(InstructionPanel, EscapeCancelsAndGivesTheKeyboardBack)
{
    auto outcome = start();
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::instructionPanel);
    press(CustomInstructionPanel::panel(), keyPress(xkb::escape, Qt::Key_Escape));
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_FALSE(outcome->value);
    EXPECT_EQ(activationsOfFrontApplication(), 1);
    EXPECT_EQ(workspace().activations.last().pid, frontPid);
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::none);
}

TEST_F(InstructionPanel, OutsideClicksAndSwitchingAwayCancel)
{
    struct Case {
        const char* name;
        std::function<void(InstructionPanel&)> act;
    };
    const Case cases[] = {
        {"left click elsewhere",
         [](InstructionPanel& t) {
             t.screens().mouse = QPointF(1400, 880);
             t.mouse().press(platform::GlobalMouseMonitor::Button::left);
         }},
        {"right click elsewhere",
         [](InstructionPanel& t) {
             t.screens().mouse = QPointF(1400, 880);
             t.mouse().press(platform::GlobalMouseMonitor::Button::right);
         }},
        {"switching away", [](InstructionPanel&) { switchAway(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto outcome = start();
        giveFocus(CustomInstructionPanel::panel());
        QTest::keyClicks(field(), "draft");
        c.act(*this);
        ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
        EXPECT_FALSE(outcome->value);
        screens().mouse = QPointF(720, 450);
    }
}

// Passes everything on to the desktop's environment but the panels' requests
// for the keyboard, which it answers as a window manager does: it gives the
// panel the keyboard, or refuses and keeps it elsewhere.
class KeyboardGate : public PanelEnvironment {
public:
    KeyboardGate() { PanelEnvironment::install(this); }
    ~KeyboardGate() override { PanelEnvironment::install(nullptr); }

    QRectF anchoredFrame(QSizeF size, Placement placement) override { return desktop_.anchoredFrame(size, placement); }
    std::optional<QRectF> mainScreenVisibleFrame() const override { return desktop_.mainScreenVisibleFrame(); }
    QPointF mouseLocation() const override { return desktop_.mouseLocation(); }
    std::optional<Application> frontmostApplication() const override { return desktop_.frontmostApplication(); }
    bool isThisProcess(const Application& application) const override { return desktop_.isThisProcess(application); }
    void activate(const Application& application) override { desktop_.activate(application); }
    void activateThisApplication(QWidget* panel) override
    {
        ++asked;
        if (!refuse)
            QApplication::setActiveWindow(panel);
    }
    void hideThisApplication() override { desktop_.hideThisApplication(); }

    int asked = 0;
    bool refuse = false;

private:
    PanelEnvironment& desktop_ = PanelEnvironment::current();
};

// Right after the panel first has the keyboard, the window manager may still
// hand it to the application that a closing picker left it to. The panel
// asks for it back and keeps the draft; only a loss that lasts cancels it.
TEST_F(InstructionPanel, ALossRightAfterThePanelTookTheKeyboardIsAskedBackAndCancelsOnlyIfItLasts)
{
    PanelQuestion::setKeyboardSettleMsForTesting(60'000);
    KeyboardGate gate;
    auto outcome = start();
    FloatingPanel* panel = CustomInstructionPanel::panel();
    ASSERT_TRUE(spinUntil([&] { return panel->isActiveWindow() && panel->hasHadFocus(); }));
    QTest::keyClicks(field(), "draft");

    const int asked = gate.asked;
    switchAway();
    ASSERT_TRUE(spinUntil([&] { return panel->isActiveWindow(); })) << "the panel did not ask for the keyboard back";
    EXPECT_EQ(gate.asked, asked + 1);
    // Past the time a loss has to be undone in, nothing has changed.
    spinFor(1500);
    EXPECT_FALSE(outcome->done());
    EXPECT_TRUE(CustomInstructionPanel::isShowing());
    EXPECT_EQ(field()->text(), QStringLiteral("draft"));

    gate.refuse = true;
    switchAway();
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_FALSE(outcome->value);
}

TEST_F(InstructionPanel, ASecondPromptCancelsTheFirstWithAnEmptyField)
{
    auto first = start();
    QTest::keyClicks(field(), "first draft");
    auto second = start();
    ASSERT_TRUE(spinUntil([&] { return first->done(); }));
    EXPECT_FALSE(first->value);
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_FALSE(second->done());
    EXPECT_EQ(mouse().handlerCount(), 1);
}

TEST_F(InstructionPanel, CancelsQueuedForAReplacedPanelDoNotCloseItsSuccessor)
{
    auto first = start();
    giveFocus(CustomInstructionPanel::panel());
    screens().mouse = QPointF(1400, 880);
    mouse().press();
    auto second = start();
    ASSERT_TRUE(spinUntil([&] { return first->done(); }));
    spinFor(30);
    EXPECT_FALSE(second->done());
}

TEST_F(InstructionPanel, FadesInThenFadesOutBeforeItIsOrderedOut)
{
    auto outcome = start();
    QPointer<FloatingPanel> panel = CustomInstructionPanel::panel();
    EXPECT_EQ(panel->opacity(), 0);
    EXPECT_TRUE(spinUntil([&] { return panel->opacity() == 1; }, 20000));
    // What the panel showed at the moment it was ordered out, however long
    // a busy machine takes over the fade.
    struct HideWatch : QObject {
        std::optional<double> opacityAtHide;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Hide)
                opacityAtHide = static_cast<FloatingPanel*>(watched)->opacity();
            return false;
        }
    } watch;
    panel->installEventFilter(&watch);
    CustomInstructionPanel::finish(std::nullopt);
    EXPECT_TRUE(panel->isVisible()) << "ordered out only after the fade";
    EXPECT_TRUE(spinUntil([&] { return !panel; }, 20000)) << "deleted once ordered out";
    ASSERT_TRUE(watch.opacityAtHide);
    EXPECT_EQ(*watch.opacityAtHide, 0) << "faded out before it was ordered out";
}

TEST(InstructionPanelSize, ClampsTheFittingSizeAndTheLaidOutViewIs300Wide)
{
    struct Case {
        QSize fitting;
        QSize expected;
    };
    const Case cases[] = {
        {{100, 40}, {280, 92}},
        {{300, 200}, {300, 200}},
        {{500, 600}, {340, 420}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CustomInstructionPanel::panelSize(c.fitting), c.expected);
    CustomInstructionView view;
    EXPECT_EQ(CustomInstructionPanel::panelSize(view.fittingSize()).width(), 300);
}

} // namespace
