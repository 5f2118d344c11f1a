// The shortcut road through the real panels: the picker and instruction rows
// of the road run once more, answered with real key presses through the X
// server, while another application holds the selection and gets the
// keyboard back at the end.

#include "Vellox/rewrite/RewriteRoadTestSupport.h"

#include "X11PanelsSupport.h"

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/PanelSurfaces.h"
#include "Vellox/panels/TonePickerPanel.h"
#include "Vellox/rewrite/SelectionAnchorResolver.h"

using namespace rewrite_test;
using namespace panels_x11;

namespace {

enum class Panel { picker, instruction };

struct Step {
    Panel panel;
    QStringList keys; // xdotool arguments
};

struct Case {
    const char* name;
    const char* layout;
    bool askTone;
    bool askInstruction;
    QList<Step> steps;
    // The user text the provider receives; none when the road ends quietly.
    std::optional<QString> userText;
    QString modeLabel;
};

// The describe row comes first, then the built-in tones.
const TonePreset& casual()
{
    return TonePreset::builtIns().at(1);
}

TEST(RewriteRoadWithRealPanels, KeysTypedIntoThePanelsDecideTheRewrite)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const QString words = QStringLiteral("Please send me the report by Friday.");
    const Case cases[] = {
        {"digit 3 picks the second tone", "us", true, false, {{Panel::picker, {"key", "3"}}}, words, casual().name},
        {"the same key on a French layout", "fr", true, false, {{Panel::picker, {"key", "quotedbl"}}}, words,
         casual().name},
        {"arrows and Return", "us", true, false, {{Panel::picker, {"key", "Down", "Down", "Return"}}}, words,
         casual().name},
        {"Escape ends quietly", "us", true, false, {{Panel::picker, {"key", "Escape"}}}, std::nullopt, {}},
        {"describe the edit, then type it", "us", true, false,
         {{Panel::picker, {"key", "1"}}, {Panel::instruction, {"type", "--delay", "15", " Make it rhyme "}},
          {Panel::instruction, {"key", "Return"}}},
         QStringLiteral("Instruction:\nMake it rhyme\n\nSelected text:\n") + words, QStringLiteral("describe_edit")},
        {"instruction asked directly", "fr", false, true,
         {{Panel::instruction, {"type", "--delay", "15", "Shorter"}}, {Panel::instruction, {"key", "KP_Enter"}}},
         QStringLiteral("Instruction:\nShorter\n\nSelected text:\n") + words, QStringLiteral("describe_edit")},
        {"instruction cancelled with Escape", "us", false, true,
         {{Panel::instruction, {"type", "abc"}}, {Panel::instruction, {"key", "Escape"}}}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoadHarness t;
        useDesktopServices(platform::Platform::current());
        SelectionAnchorResolver::resetCacheForTesting();
        PanelSurfaces panels;
        RewriteSurfaces::install(&panels);
        TargetApplication target;
        ASSERT_TRUE(target.isReady());
        setLayout(c.layout);
        t.selection = words;
        t.changeSettings([&](AppSettings& s) {
            s.askToneEachTime = c.askTone;
            s.askAICommandEachTime = c.askInstruction;
        });
        t.answer(QStringLiteral("Could you send the report by Friday?"));

        auto outcome = std::make_shared<OutcomeOf<void>>();
        driveInto<void>(outcome,
                        RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey));
        for (const Step& step : c.steps) {
            FloatingPanel* panel =
                step.panel == Panel::picker ? TonePickerPanel::panel() : CustomInstructionPanel::panel();
            ASSERT_TRUE(waitFor([&] {
                panel = step.panel == Panel::picker ? TonePickerPanel::panel() : CustomInstructionPanel::panel();
                return panel != nullptr;
            })) << "the panel did not open";
            ASSERT_TRUE(hasKeyboard(panel));
            xdotool(step.keys);
        }
        ASSERT_TRUE(waitFor([&] { return outcome->done; }));
        t.expectRunEndedCleanly();
        if (c.userText) {
            ASSERT_EQ(t.server.requests().size(), 1);
            EXPECT_EQ(t.lastUserText(), *c.userText);
            const auto error = RewriteFeedbackState::shared().lastError();
            EXPECT_EQ(t.pasted, QStringList{"Could you send the report by Friday?"})
                << "reported: " << (error ? error->text.toStdString() : "nothing") << "; "
                << t.logLines().join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(t.systemLog().contains(
                QStringLiteral("Starting rewrite chars=%1 provider=openai-compatible mode=%2")
                    .arg(words.size())
                    .arg(c.modeLabel)));
        } else {
            EXPECT_TRUE(t.server.requests().isEmpty());
            EXPECT_TRUE(t.pasted.isEmpty());
            EXPECT_FALSE(RewriteFeedbackState::shared().lastError());
        }
        EXPECT_TRUE(target.hasKeyboardAgain());
        EXPECT_FALSE(target.output().contains(QLatin1String("key "))) << "a key meant for a panel leaked";
        RewriteSurfaces::install(nullptr);
    }
}

} // namespace
