// The whole program under Xvfb: a key in a real keyring, a provider on
// 127.0.0.1, text selected and the shortcut pressed with xdotool in a text
// window of another process, then the popover and the shortcut recorder.
#include "ShellSession.h"

namespace {

using namespace shell_session;

constexpr char kFirstAnswer[] = "Rewritten by the provider.";
constexpr char kSecondAnswer[] = "Second rewrite, by the recorded shortcut.";
// The shortcut recorder as a screen reader names it.
const QString kRecorderName = QStringLiteral("Rewrite selection shortcut");
// More than the settings window has controls in its tab order.
constexpr int kTabStops = 20;

class ShellEndToEnd : public ShellSession {
protected:
    void SetUp() override
    {
        ShellSession::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(storeKey("sk-e2e-key")) << "the key could not be stored";
        server_.setHandler([this](const LoopbackHttpServer::Request& request) {
            if (!request.target.endsWith("/chat/completions"))
                return LoopbackHttpServer::Reply::json(R"({"error":{"message":"not here"}})", 404);
            return LoopbackHttpServer::Reply::json(completion(answers_++ == 0 ? kFirstAnswer : kSecondAnswer));
        });
        // No tray host runs here; this test has no use for the notice that
        // says so. The test reads which control has the keyboard as a screen
        // reader does.
        startProgram({QStringLiteral("--no-tray")}, programEnvironment(accessibleEnvironment()));
    }

    QString storedShortcut() const
    {
        return defaults().value(QStringLiteral("GlobalShortcuts_rephraseSelection")).toString();
    }

    int answers_ = 0;
};

TEST_F(ShellEndToEnd, ShortcutRewritesTheSelectionThenARecordedShortcutDoesToo)
{
    // With a saved key onboarding marks itself done, and the settings window
    // opens shortly after launch.
    const QByteArray settings = findWindow(kSettingsTitle);
    ASSERT_FALSE(settings.isEmpty()) << "the program did not come up";

    // A second launch hands over to the running one, which shows its settings.
    ASSERT_TRUE(closeWindow(settings));
    EXPECT_TRUE(launchAgain({QStringLiteral("--no-tray")}));
    // They take the keyboard; waiting for that keeps their activation from
    // taking it from the text window that opens next.
    EXPECT_TRUE(hasTheKeyboard(findWindow(kSettingsTitle)));

    TextWindowProcess text(QStringLiteral("hello there, friend"));
    ASSERT_TRUE(text.isReady());
    const QByteArray textWindow = findWindow(QStringLiteral("Vellox test text window"));
    ASSERT_TRUE(hasTheKeyboard(textWindow));
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
    ASSERT_TRUE(spinUntil([&] { return text.text() == QString::fromUtf8(kFirstAnswer); }, kWindowMs))
        << "text now: " << text.text().toStdString();
    ASSERT_TRUE(server_.waitForRequests(1));
    EXPECT_EQ(server_.requests().first().header("Authorization"), QByteArray("Bearer sk-e2e-key"));

    // The popover grabs the keyboard as it shows, before the call returns.
    callApplication("ShowPopover");
    const QString popover = QStringLiteral("Vellox – Rewrites today: 1");
    ASSERT_FALSE(findWindow(popover).isEmpty()) << "the popover did not open";
    saveScreen(QStringLiteral("popover"));
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(spinUntil([&] { return !isShown(popover); }, kWindowMs)) << "Escape left the popover open";

    // The user tabs through the settings form to the recorder and types the
    // new shortcut. Each Tab goes once the one before has moved the focus,
    // and the recorder records from the moment it has the focus.
    callApplication("OpenSettings");
    const QByteArray window = findWindow(kSettingsTitle);
    ASSERT_FALSE(window.isEmpty());
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window)});
    ASSERT_TRUE(hasTheKeyboard(window));
    const QString before = storedShortcut();
    QJsonObject focused = focusedControl(kSettingsTitle, {});
    ASSERT_FALSE(focused.isEmpty()) << "no control of the settings has the keyboard: " << lastProbeOutput_.toStdString();
    for (int tabs = 0; tabs < kTabStops && focused.value(QStringLiteral("name")) != kRecorderName; ++tabs) {
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        focused = focusedControl(kSettingsTitle, {}, focused.value(QStringLiteral("path")).toString());
        ASSERT_FALSE(focused.isEmpty()) << "Tab moved the focus nowhere: " << lastProbeOutput_.toStdString();
    }
    ASSERT_EQ(focused.value(QStringLiteral("name")).toString(), kRecorderName) << "Tab never reached the recorder";
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
    const bool recorded = spinUntil([&] { return storedShortcut() != before; }, kWindowMs);
    ASSERT_TRUE(recorded) << "the recorder never took the shortcut";
    const QJsonObject shortcut = QJsonDocument::fromJson(storedShortcut().toUtf8()).object();
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonKeyCode")).toInt(), 15); // R
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonModifiers")).toInt(), 4096 | 512); // control, shift
    saveScreen(QStringLiteral("recorder"));

    // The keyboard goes back to the text window only once the settings are gone.
    ASSERT_TRUE(closeWindow(window));
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(textWindow)});
    ASSERT_TRUE(hasTheKeyboard(textWindow));
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
    // The recorded shortcut starts the next rewrite: the provider gets the
    // text the first rewrite left in the window, and its answer is counted.
    // Where the answer lands is the paste step's business, which the rewrite
    // road's own X11 tests check; here the shortcut is what matters.
    ASSERT_TRUE(server_.waitForRequests(2, kWindowMs)) << "the recorded shortcut started no rewrite";
    EXPECT_TRUE(server_.requests().at(1).body.contains(kFirstAnswer));
    EXPECT_TRUE(spinUntil([&] { return defaults().value(QStringLiteral("vellox.usage.todayCount")).toInt() == 2; },
                          kWindowMs));
}

} // namespace
