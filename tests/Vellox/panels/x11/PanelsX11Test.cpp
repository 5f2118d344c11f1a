#include "Vellox/panels/PanelsTestSupport.h"

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/PanelSurfaces.h"
#include "Vellox/panels/TonePickerPanel.h"

#include "X11PanelsSupport.h"

using namespace panels_test;

namespace {

using namespace panels_x11;

class PanelsX11 : public ::testing::Test {
protected:
    PanelsX11()
    {
        useDesktopServices(guard_.platform());
        SelectionAnchorResolver::resetCacheForTesting();
    }

    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_TRUE(target_.isReady()) << "the other application never got the keyboard";
        targetWindow_ = target_.window();
    }

    void TearDown() override
    {
        TonePickerPanel::finish(std::nullopt);
        CustomInstructionPanel::finish(std::nullopt);
        spinFor(200);
    }

    static bool panelHasKeyboard(FloatingPanel* panel) { return hasKeyboard(panel); }
    bool keyboardBackAtTarget() { return target_.hasKeyboardAgain(); }
    QString targetOutput() { return target_.output(); }

    static QList<TonePreset> presets(int count) { return TonePreset::builtIns().mid(0, count); }

    quint64 targetWindow_ = 0;

private:
    platform::PlatformGuard guard_;
    TargetApplication target_;
};

TEST_F(PanelsX11, ThePickerOpensAtThePointerTakesTheKeyboardAndAClickElsewhereCancels)
{
    xdotool({"mousemove", "300", "250"});
    auto outcome = makeOutcome<TonePickerChoice>();
    collect(TonePickerPanel::askUser(presets(3), true), outcome);
    FloatingPanel* panel = TonePickerPanel::panel();
    ASSERT_TRUE(panelHasKeyboard(panel));
    saveScreen("picker-at-pointer");
    // Above other windows, on every desktop, and out of task bars and pagers.
    const QString state = run(QStringLiteral("xprop"), {"-id", QString::number(panel->winId()), "_NET_WM_STATE"});
    for (const char* atom : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
        EXPECT_TRUE(state.contains(QLatin1String(atom))) << atom;
    EXPECT_TRUE(run(QStringLiteral("xprop"), {"-id", QString::number(panel->winId()), "_NET_WM_DESKTOP"})
                    .contains(QLatin1String("4294967295")));
    // No accessibility service answers here, so the pointer is the anchor.
    EXPECT_EQ(panel->cardFrame().topLeft(), QPointF(310, 250 - panel->cardFrame().height() / 2));

    // On the header, where a click picks no row.
    const QPoint header = panel->cardFrame().topLeft().toPoint() + QPoint(60, 10);
    xdotool({"mousemove", QString::number(header.x()), QString::number(header.y()), "click", "1"});
    spinFor(200);
    EXPECT_FALSE(outcome->done()) << "a click on the panel itself does not cancel";

    // On the bare desktop: the keyboard stays with the panel, so only the
    // raw button event tells us, and only our activation hands the keyboard
    // back to the other application.
    xdotool({"mousemove", "1000", "900", "click", "1"});
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_FALSE(outcome->value);
    EXPECT_FALSE(TonePickerPanel::isShowing());
    EXPECT_TRUE(keyboardBackAtTarget());
}

TEST_F(PanelsX11, AClickInAnotherApplicationCancelsToo)
{
    xdotool({"mousemove", "300", "250"});
    auto outcome = makeOutcome<TonePickerChoice>();
    collect(TonePickerPanel::askUser(presets(3), true), outcome);
    ASSERT_TRUE(panelHasKeyboard(TonePickerPanel::panel()));
    xdotool({"mousemove", "650", "400", "click", "3"});
    ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
    EXPECT_FALSE(outcome->value);
    EXPECT_TRUE(keyboardBackAtTarget());
}

TEST_F(PanelsX11, TheMouseMonitorSeesLeftAndRightPressesAnywhere)
{
    platform::linuxbackend::X11GlobalMouseMonitor monitor;
    QList<platform::GlobalMouseMonitor::Button> presses;
    const auto token = monitor.add([&](platform::GlobalMouseMonitor::Button b) { presses.append(b); });
    ASSERT_TRUE(token);
    xdotool({"mousemove", "1000", "900", "click", "1", "click", "2", "click", "3"});
    ASSERT_TRUE(spinUntil([&] { return presses.size() >= 2; }));
    spinFor(100);
    using Button = platform::GlobalMouseMonitor::Button;
    EXPECT_EQ(presses, (QList<Button>{Button::left, Button::right})) << "the middle button is not ours";
    monitor.remove(*token);
    xdotool({"click", "1"});
    spinFor(150);
    EXPECT_EQ(presses.size(), 2);
}

TEST_F(PanelsX11, DigitKeysPickByPhysicalKeyOnUsAndFrenchLayouts)
{
    struct Case {
        const char* name;
        const char* layout;
        QStringList keys;
        std::optional<int> expectedRow;
    };
    const Case cases[] = {
        {"digit 2 on us", "us", {"key", "2"}, 1},
        {"shift-1 on us", "us", {"key", "exclam"}, 0},
        {"digit row key 3 on fr (types a quote)", "fr", {"key", "quotedbl"}, 2},
        {"digit 2 on fr (Shift held to type it)", "fr", {"key", "2"}, 1},
        {"keypad 1 passes, Escape cancels", "us", {"key", "KP_1", "Escape"}, std::nullopt},
        {"arrows and Return", "us", {"key", "Down", "Down", "Down", "Up", "Return"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setLayout(c.layout);
        auto outcome = makeOutcome<TonePickerChoice>();
        collect(TonePickerPanel::askUser(presets(5), true), outcome);
        ASSERT_TRUE(panelHasKeyboard(TonePickerPanel::panel()));
        xdotool(c.keys);
        ASSERT_TRUE(spinUntil([&] { return outcome->done(); }));
        std::optional<TonePickerChoice> expected;
        if (c.expectedRow)
            expected = *c.expectedRow == 0 ? TonePickerChoice::describeEdit()
                                           : TonePickerChoice::preset(presets(5)[*c.expectedRow - 1]);
        EXPECT_EQ(outcome->value, expected);
        EXPECT_TRUE(keyboardBackAtTarget());
    }
    EXPECT_FALSE(targetOutput().contains("key ")) << "no key meant for a panel reached the other application";
}

TEST_F(PanelsX11, TheInstructionPanelTakesTypingAndGivesTheKeyboardBack)
{
    PanelSurfaces surfaces;
    auto typed = makeOutcome<QString>();
    collect(surfaces.askInstruction(), typed);
    ASSERT_TRUE(panelHasKeyboard(CustomInstructionPanel::panel()));
    xdotool({"key", "Return"});
    spinFor(150);
    EXPECT_FALSE(typed->done()) << "Return on an empty field waits";
    xdotool({"type", "--delay", "20", "  make it warmer "});
    xdotool({"key", "KP_Enter"});
    ASSERT_TRUE(spinUntil([&] { return typed->done(); }));
    EXPECT_EQ(typed->value, "make it warmer");
    EXPECT_TRUE(keyboardBackAtTarget());

    auto cancelled = makeOutcome<QString>();
    collect(surfaces.askInstruction(), cancelled);
    ASSERT_TRUE(panelHasKeyboard(CustomInstructionPanel::panel()));
    xdotool({"type", "abc"});
    xdotool({"key", "Escape"});
    ASSERT_TRUE(spinUntil([&] { return cancelled->done(); }));
    EXPECT_FALSE(cancelled->value);
    EXPECT_TRUE(keyboardBackAtTarget());
    EXPECT_FALSE(targetOutput().contains("key ")) << "the typing stayed in the panel";
}

TEST_F(PanelsX11, TheBusyChipAndTheNoticeNeverTakeTheKeyboard)
{
    PanelSurfaces surfaces;
    surfaces.showSpinner();
    surfaces.presentNotice({"Select text first, then press the shortcut.", RewriteFeedbackMessage::Level::info,
                            std::nullopt},
                           2.5);
    spinFor(400);
    EXPECT_EQ(activeWindow(), targetWindow_);
    xdotool({"type", "x"});
    EXPECT_TRUE(spinUntil([&] { return targetOutput().contains("key x"); }));
    surfaces.hideSpinner();
}

} // namespace
