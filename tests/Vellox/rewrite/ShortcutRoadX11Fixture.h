#pragma once

#include "RewriteRoadTestSupport.h"
#include "TextWindowProcess.h"
#include "support/DesktopPlatform.h"

#include "Vellox/rewrite/SelectionAutomation.h"
#include "platform/fake/FakePlatform.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <iostream>
#include <utility>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

// The shortcut road for real under an X server: the program's own clipboard,
// XTest chords into other processes, a provider on a loopback server.

namespace rewrite_test {

// A window of a new process gets the focus quickly, but not on a loaded machine.
inline constexpr int kFocusWaitMs = 30000;

inline platform::Platform x11Desktop()
{
    platform::Platform p = desktopWithFakeStores();
    p.clock = platform::fake::makeFakePlatform().clock;
    return p;
}

// A clipboard manager of its own, with its settings and history in `home`:
// it asks every new clipboard owner for its data at once.
class ClipboardManager {
public:
    explicit ClipboardManager(const QString& home)
    {
        QDir().mkpath(home);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        process_.setProcessEnvironment(environment);
        // Nothing of it may outlive a test that ends early, nor hold its output
        // open. It starts a clipboard monitor process of its own, so it gets a
        // process group that is ended as a whole.
        process_.setChildProcessModifier([] {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::setpgid(0, 0);
        });
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral("copyq"), QStringList{});
    }
    ~ClipboardManager()
    {
        const pid_t group = pid_t(process_.processId());
        if (group > 0)
            ::kill(-group, SIGTERM);
        if (!process_.waitForFinished(10000) && group > 0)
            ::kill(-group, SIGKILL);
        process_.waitForFinished(2000);
        // The monitor may outlast the manager by a moment.
        if (group > 0) {
            QDeadlineTimer deadline(10000);
            while (::kill(-group, 0) == 0 && !deadline.hasExpired())
                QThread::msleep(10);
            ::kill(-group, SIGKILL);
        }
    }

    // The manager is up once it asks for what we put on the clipboard.
    ::testing::AssertionResult ready()
    {
        if (!process_.waitForStarted(10000))
            return ::testing::AssertionFailure() << "the clipboard manager never started";
        platform::Pasteboard& board = *platform::Platform::current().pasteboard;
        board.setText(QStringLiteral("is anybody there"));
        if (!spinUntil([&] { return board.fetchedByClientOf(0); }, 20000))
            return ::testing::AssertionFailure() << "the clipboard manager never asked for the clipboard";
        return ::testing::AssertionSuccess();
    }

private:
    QProcess process_;
};

// Holds a process stopped for a moment, and lets it go on at the latest when
// the test ends.
class StoppedProcess {
public:
    explicit StoppedProcess(qint64 pid)
        : pid_(pid)
    {
        ::kill(pid_t(pid_), SIGSTOP);
    }
    ~StoppedProcess() { resume(); }
    void resume()
    {
        if (std::exchange(stopped_, false))
            ::kill(pid_t(pid_), SIGCONT);
    }

private:
    qint64 pid_;
    bool stopped_ = true;
};

class ShortcutRoadX11Fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
    }

    void TearDown() override
    {
        PreferencesStore::resetSharedForTesting();
        SelectionAutomation::setWaitsForTesting({});
    }

    void runRoad()
    {
        ASSERT_TRUE(run(RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey), 20000).done);
    }

    // Waits until the window manager has given the keyboard to the process.
    static bool hasTheKeyboard(qint64 pid)
    {
        return spinUntil([pid] {
            const auto front = platform::Platform::current().workspace->frontmostApplication();
            return front && front->pid == pid;
        }, kFocusWaitMs);
    }

    // A key and a provider at this test's loopback server.
    void useLoopbackProvider()
    {
        PreferencesStore::resetSharedForTesting();
        KeychainStore::setApiKey(QStringLiteral("sk-x11"), ProviderId::openaiCompatible);
        AppSettings settings;
        settings.apiBaseURL = server.baseUrl() + QStringLiteral("/v1");
        PreferencesStore::shared().setSettings(settings);
    }

    // A loaded test machine (sanitizers, two cores) can take longer than a
    // desktop for a copy to reach the clipboard and a paste to ask for it.
    static void bePatient()
    {
        SelectionAutomation::Waits patient;
        patient.copyCapMs = 5000;
        patient.pasteFetchCapMs = 15000;
        SelectionAutomation::setWaitsForTesting(patient);
    }

    void answerWith(const QString& text) { server.enqueue(LoopbackHttpServer::Reply::json(openAIAnswer(text))); }

    // Rewrites a word of `window` again and again, the window busy for
    // `slowPasteMs` on each paste chord; answers how many rounds replaced the
    // word with the answer and gave the user their clipboard back.
    int roundsThatHold(TextWindowProcess& window, int rounds, int slowPasteMs)
    {
        const QString original = QStringLiteral("hello brave world");
        QClipboard* clipboard = QGuiApplication::clipboard();
        int held = 0;
        int notAsked = 0;
        int wrongText = 0;
        int clipboardLost = 0;
        int failed = 0;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(round);
            const QString answer = QStringLiteral("answer%1").arg(round);
            const QString pasted = QStringLiteral("hello %1 world").arg(answer);
            const QString userClipboard = QStringLiteral("the user's clipboard %1").arg(round);
            if (!window.reset() || !window.slowPaste(slowPasteMs)) {
                ADD_FAILURE() << "the window stopped answering";
                break;
            }
            window.select(6, 11);
            clipboard->setText(userClipboard);
            answerWith(answer);
            const qsizetype asked = server.requests().size();
            runRoad();
            const auto error = RewriteFeedbackState::shared().lastError();
            // A paste lands a moment after the target asked for the text.
            spinUntil([&] { return window.text() != original; }, error ? 1000 : 10000);
            const QString now = window.text();
            const bool replaced = now == pasted;
            const bool restored = clipboard->text() == userClipboard;
            const bool providerAsked = server.requests().size() == asked + 1;
            EXPECT_TRUE(providerAsked) << "the provider was not asked";
            EXPECT_FALSE(error) << error->text.toStdString();
            EXPECT_EQ(now, pasted);
            EXPECT_EQ(clipboard->text(), userClipboard);
            held += !error && replaced && restored;
            notAsked += !providerAsked;
            wrongText += !replaced;
            clipboardLost += !restored;
            failed += bool(error);
        }
        std::cout << "rounds: " << rounds << ", held: " << held << ", provider not asked: " << notAsked
                  << ", wrong text in the window: " << wrongText
                  << ", clipboard not the user's: " << clipboardLost << ", failure reported: " << failed << std::endl;
        RecordProperty("held", held);
        return held;
    }

    TempHome home;
    platform::PlatformGuard guard{x11Desktop()};
    LoopbackHttpServer server;
    ScopedSurfaces scoped;
};

} // namespace rewrite_test
