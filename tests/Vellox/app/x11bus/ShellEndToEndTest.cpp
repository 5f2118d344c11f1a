// The whole program under Xvfb: a key in a real keyring, a provider on
// 127.0.0.1, text selected and the shortcut pressed with xdotool in a text
// window of another process, then the popover and the shortcut recorder.
#include "ShellSession.h"

#include <QTest>

namespace {

using namespace shell_session;

constexpr char kFirstAnswer[] = "Rewritten by the provider.";
constexpr char kSecondAnswer[] = "Second rewrite, by the recorded shortcut.";

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
        // says so.
        startProgram({QStringLiteral("--no-tray")}, programEnvironment());
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
    const QByteArray settings = findWindow(QStringLiteral("Vellox Settings"));
    ASSERT_FALSE(settings.isEmpty()) << "the program did not come up";

    // A second launch hands over to the running one, which shows its settings.
    ASSERT_TRUE(closeWindow(settings));
    EXPECT_TRUE(launchAgain({QStringLiteral("--no-tray")}));
    EXPECT_FALSE(findWindow(QStringLiteral("Vellox Settings")).isEmpty());

    TextWindowProcess text(QStringLiteral("hello there, friend"));
    ASSERT_TRUE(text.isReady());
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
    ASSERT_TRUE(spinUntil([&] { return text.text() == QString::fromUtf8(kFirstAnswer); }, 15000))
        << "text now: " << text.text().toStdString();
    ASSERT_TRUE(server_.waitForRequests(1));
    EXPECT_EQ(server_.requests().first().header("Authorization"), QByteArray("Bearer sk-e2e-key"));

    callApplication("ShowPopover");
    EXPECT_FALSE(findWindow(QStringLiteral("Vellox – Rewrites today: 1")).isEmpty());
    saveScreen(QStringLiteral("popover"));
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});

    // The user tabs through the settings form to the recorder and types the
    // new shortcut.
    callApplication("OpenSettings");
    const QByteArray window = findWindow(QStringLiteral("Vellox Settings"));
    ASSERT_FALSE(window.isEmpty());
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window)});
    const QString before = storedShortcut();
    bool recorded = false;
    for (int tabs = 0; tabs < 6 && !recorded; ++tabs) {
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        // Time for the recorder to start recording when the focus lands on it.
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
        recorded = spinUntil([&] { return storedShortcut() != before; }, 1500);
    }
    ASSERT_TRUE(recorded) << "the recorder never took the shortcut";
    const QJsonObject shortcut = QJsonDocument::fromJson(storedShortcut().toUtf8()).object();
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonKeyCode")).toInt(), 15); // R
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonModifiers")).toInt(), 4096 | 512); // control, shift
    saveScreen(QStringLiteral("recorder"));

    // The keyboard goes back to the text window only once the settings are gone.
    ASSERT_TRUE(closeWindow(window));
    const QByteArray textWindow = findWindow(QStringLiteral("Vellox test text window"));
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(textWindow)});
    QTest::qWait(200);
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
    // The recorded shortcut starts the next rewrite: the provider gets the
    // text the first rewrite left in the window, and its answer is counted.
    // Where the answer lands is the paste step's business, which the rewrite
    // road's own X11 tests check; here the shortcut is what matters.
    ASSERT_TRUE(server_.waitForRequests(2, 15000)) << "the recorded shortcut started no rewrite";
    EXPECT_TRUE(server_.requests().at(1).body.contains(kFirstAnswer));
    EXPECT_TRUE(spinUntil([&] { return defaults().value(QStringLiteral("vellox.usage.todayCount")).toInt() == 2; },
                          10000));
}

} // namespace
