// The shell on a Linux desktop, driven as a person drives it: onboarding
// against a local server and the start after it, the notice about a missing
// tray while the user types in our windows and in another program, and the
// popover's keys.
#include "ShellSession.h"

#include <QElapsedTimer>
#include <QTest>

#include <cstring>

namespace {

using namespace shell_session;

constexpr char kAnswer[] = "Rewritten by the local server.";
// The program tells of a missing tray 8 s after start; past that, a notice
// that would come has come.
constexpr int kPastTheNoticeMs = 12'000;
constexpr char kNoticeTitle[] = "Vellox has no tray icon";
// Onboarding's key field as a screen reader names it.
const QString kKeyFieldName = QStringLiteral("API key");

class ShellDesktop : public ShellSession {
protected:
    void SetUp() override
    {
        ShellSession::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        server_.setHandler([](const LoopbackHttpServer::Request& request) {
            if (request.target.endsWith("/models"))
                return LoopbackHttpServer::Reply::json(R"({"object":"list","data":[]})");
            if (request.target.endsWith("/chat/completions"))
                return LoopbackHttpServer::Reply::json(completion(kAnswer));
            return LoopbackHttpServer::Reply::json(R"({"error":{"message":"not here"}})", 404);
        });
    }

    // Onboarding's window sets no title of its own, so Qt names it after the
    // program (in _NET_WM_NAME only, which `search --name` does not read);
    // the popover, the only other window named so, is not open meanwhile.
    static QByteArray onboardingWindow()
    {
        QByteArray found;
        spinUntil(
            [&] {
                const QList<QByteArray> windows =
                    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                             QStringLiteral("^vellox$")})
                        .split('\n');
                for (const QByteArray& window : windows) {
                    if (!window.isEmpty()
                        && xdotool({QStringLiteral("getwindowname"), QString::fromLatin1(window)}) == "Vellox")
                        found = window;
                }
                return !found.isEmpty();
            },
            kStartMs);
        return found;
    }

    // The settings window the program opens by itself soon after a start
    // with onboarding done, closed again.
    bool closeTheSettingsOpenedAtStart()
    {
        const QByteArray settings = findWindow(kSettingsTitle, kStartMs);
        return !settings.isEmpty() && closeWindow(settings);
    }

    // How many characters the key field holds: it shows none of them.
    int keyFieldLength()
    {
        return probe({QStringLiteral("text"), QStringLiteral("--window"), kOnboardingName, QStringLiteral("--name"),
                      kKeyFieldName})
            .object()
            .value(QStringLiteral("characters"))
            .toInt(-1);
    }

    // Selects all of the text window's text and presses the rewrite shortcut.
    static void rewriteAll(const QByteArray& textWindow)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(textWindow)});
        ASSERT_TRUE(hasTheKeyboard(textWindow)) << "the text window never got the keyboard";
        xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
    }
};

TEST_F(ShellDesktop, OnboardingKeepsTheLocalServerItVerifiedTheKeyAtForLaterStarts)
{
    // First start, with the variable that names the local server, and the
    // widgets on the accessibility bus: the test reads which control has the
    // keyboard as a screen reader does.
    startProgram({QStringLiteral("--no-tray")}, programEnvironment(accessibleEnvironment()));
    const QByteArray onboarding = onboardingWindow();
    ASSERT_FALSE(onboarding.isEmpty()) << "onboarding did not open";
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(onboarding)});
    ASSERT_TRUE(hasTheKeyboard(onboarding)) << "onboarding never got the keyboard";
    // The key field takes the keyboard a moment after the window opens;
    // keys typed before that would go to another control.
    ASSERT_FALSE(focusedControl(kOnboardingName, kKeyFieldName).isEmpty()) << lastProbeOutput_.toStdString();
    xdotool({QStringLiteral("type"), QStringLiteral("sk-local-key")});
    // Every key typed has reached the field before Return sends it.
    ASSERT_TRUE(spinUntil([&] { return keyFieldLength() == int(std::strlen("sk-local-key")); }, kWindowMs))
        << "the key field holds " << keyFieldLength() << " characters";
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    const bool asked = server_.waitForRequests(1, kWindowMs);
    ASSERT_TRUE(asked) << "onboarding never tried the key";
    const LoopbackHttpServer::Request keyCheck = server_.requests().first();
    EXPECT_EQ(keyCheck.target, QByteArray("/v1/models"));
    EXPECT_EQ(keyCheck.header("Authorization"), QByteArray("Bearer sk-local-key"));
    ASSERT_TRUE(spinUntil([&] { return storedSettings().value(QStringLiteral("apiBaseURL")).toString() == serverBase(); },
                          kWindowMs))
        << "stored base URL: " << storedSettings().value(QStringLiteral("apiBaseURL")).toString().toStdString();
    ASSERT_TRUE(
        spinUntil([] { return defaults().value(QStringLiteral("vellox.onboarding.completed")).toBool(); }, kWindowMs));
    test_support::stopProcess(program_);

    // A later start as the autostart entry makes it: no variable.
    QProcessEnvironment environment = programEnvironment();
    environment.remove(QStringLiteral("VELLOX_OPENAI_BASE_URL"));
    startProgram({QStringLiteral("--no-tray")}, environment);
    ASSERT_TRUE(closeTheSettingsOpenedAtStart()) << "the later start showed no settings";
    TextWindowProcess text(QStringLiteral("hello there, friend"));
    ASSERT_TRUE(text.isReady());
    ASSERT_NO_FATAL_FAILURE(rewriteAll(findWindow(QStringLiteral("Vellox test text window"))));
    ASSERT_TRUE(spinUntil([&] { return text.text() == QString::fromUtf8(kAnswer); }, kStartMs))
        << "text now: " << text.text().toStdString();
    const LoopbackHttpServer::Request rewrite = server_.requests().last();
    EXPECT_EQ(rewrite.target, QByteArray("/v1/chat/completions"));
    EXPECT_EQ(rewrite.header("Authorization"), QByteArray("Bearer sk-local-key"));
    EXPECT_TRUE(rewrite.body.contains("hello there, friend"));
}

TEST_F(ShellDesktop, WithoutATraySettingsOpenedByASecondLaunchKeepsTheKeyboard)
{
    ASSERT_TRUE(storeKey("sk-key"));
    // With the tray icon: this desktop has no tray host and no notification
    // server, so the program tells the user in a window of its own.
    startProgram({}, programEnvironment());
    ASSERT_TRUE(closeTheSettingsOpenedAtStart());

    ASSERT_TRUE(launchAgain());
    const QByteArray settings = findWindow(kSettingsTitle);
    ASSERT_FALSE(settings.isEmpty()) << "the second launch opened no settings";
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    ASSERT_TRUE(spinUntil([&] { return activeWindow() == settings && focusedWindow() == settings; }, kWindowMs))
        << "the settings never got the keyboard";
    // Past the moment the notice is due, the keyboard stays where the user
    // types, and nothing covers the window.
    while (sinceLaunch.elapsed() < kPastTheNoticeMs) {
        ASSERT_EQ(activeWindow(), settings) << "after " << sinceLaunch.elapsed() << " ms";
        ASSERT_EQ(focusedWindow(), settings) << "after " << sinceLaunch.elapsed() << " ms";
        ASSERT_FALSE(isShown(QString::fromLatin1(kNoticeTitle))) << "after " << sinceLaunch.elapsed() << " ms";
        QTest::qWait(250);
    }

    // The user goes on in another program; once our windows are closed the
    // notice comes, and the keys still go where the user types.
    TextWindowProcess text(QStringLiteral("unchanged"));
    ASSERT_TRUE(text.isReady());
    const QByteArray textWindow = findWindow(QStringLiteral("Vellox test text window"));
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(textWindow)});
    ASSERT_TRUE(spinUntil([&] { return activeWindow() == textWindow; }, kWindowMs));
    ASSERT_TRUE(closeWindow(settings));
    const QByteArray notice = findWindow(QString::fromLatin1(kNoticeTitle), kStartMs);
    ASSERT_FALSE(notice.isEmpty()) << "no notice once the settings were closed";
    EXPECT_EQ(activeWindow(), textWindow);
    EXPECT_EQ(focusedWindow(), textWindow);
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("type"), QStringLiteral("typed after the notice")});
    EXPECT_TRUE(spinUntil([&] { return text.text() == QStringLiteral("typed after the notice"); }, kWindowMs))
        << "text now: " << text.text().toStdString();
    EXPECT_EQ(activeWindow(), textWindow);
}

TEST_F(ShellDesktop, ThePopoverKeysNamedOnItsRowsWorkWhileItHasTheKeyboard)
{
    ASSERT_TRUE(storeKey("sk-key"));
    startProgram({QStringLiteral("--no-tray")}, programEnvironment());
    ASSERT_TRUE(closeTheSettingsOpenedAtStart());
    const QString popoverName = QStringLiteral("^Vellox$");

    // The popover grabs the keyboard as it shows, before the call returns.
    callApplication("ShowPopover");
    ASSERT_FALSE(findWindow(popoverName).isEmpty()) << "the popover did not open";
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+comma")});
    const QByteArray settings = findWindow(kSettingsTitle);
    EXPECT_FALSE(settings.isEmpty()) << "Ctrl+, opened no settings";
    EXPECT_TRUE(spinUntil([&] { return !isShown(popoverName); }, kWindowMs));
    if (!settings.isEmpty()) {
        ASSERT_TRUE(closeWindow(settings));
    }

    callApplication("ShowPopover");
    ASSERT_FALSE(findWindow(popoverName).isEmpty()) << "the popover did not open again";
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
    ASSERT_TRUE(spinUntil([&] { return program_.state() == QProcess::NotRunning; }, kStartMs))
        << "Ctrl+Q did not quit";
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 0);
}

} // namespace
