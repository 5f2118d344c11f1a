#include "../RewriteRoadTestSupport.h"

#include "Vellox/rewrite/VelloxServiceProvider.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTimer>

using Reply = LoopbackHttpServer::Reply;

namespace {

struct CallResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Talks to the program as a desktop does, with gdbus, while this process's
// event loop serves the call.
class ServicesRoadDBusTest : public rewrite_test::RoadTest {
protected:
    ServicesRoadDBusTest()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            return;
        registered = VelloxServiceProvider::shared().registerOn(QDBusConnection::sessionBus());
    }
    ~ServicesRoadDBusTest() override
    {
        if (registered)
            VelloxServiceProvider::shared().unregisterFrom(QDBusConnection::sessionBus());
    }

    CallResult call(const QString& text)
    {
        QProcess gdbus;
        gdbus.start(QStringLiteral("gdbus"),
                    {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                     QStringLiteral("app.vellox.desktop"), QStringLiteral("--object-path"), QStringLiteral("/app/vellox/desktop"),
                     QStringLiteral("--method"), QStringLiteral("app.vellox.desktop.Services.velloxSelection"), text});
        rewrite_test::spinUntil([&] { return gdbus.state() == QProcess::NotRunning; }, 20000);
        return {gdbus.exitCode(), QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed(),
                QString::fromUtf8(gdbus.readAllStandardError()).trimmed()};
    }

    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus; run under dbus-run-session";
        ASSERT_TRUE(registered);
    }

    bool registered = false;
};

} // namespace

TEST_F(ServicesRoadDBusTest, RewritesTheTextWithTheDefaultToneAndCountsIt)
{
    changeSettings([](AppSettings& s) { s.askToneEachTime = true; });
    RewriteFeedbackState::shared().setLastError(RewriteFeedbackMessage{QStringLiteral("old"), RewriteFeedbackMessage::Level::error, {}});
    // Main-thread work keeps running while the provider call is out.
    Reply slow = Reply::json(rewrite_test::openAIAnswer(QStringLiteral("  Rewritten text.\n")));
    slow.delayMs = 200;
    server.enqueue(slow);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);

    const CallResult result = call(QStringLiteral("  please fix this  "));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("('Rewritten text.',)"));
    EXPECT_GE(ticks, 5);
    EXPECT_TRUE(surfaces.calls.isEmpty());
    EXPECT_TRUE(fakes.keys().posted.isEmpty());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(lastUserText(), QStringLiteral("please fix this"));
    EXPECT_TRUE(lastSystemText().endsWith(TonePreset::builtIns().first().instruction));

    ASSERT_TRUE(rewrite_test::spinUntil([] { return RewriteUsageStore::shared().todayCount() == 1; }));
    EXPECT_EQ(RewriteFeedbackState::shared().lastError(), std::nullopt);
    EXPECT_EQ(events("services"), (QStringList{"rewrite_success", "rewrite_triggered"}));
    EXPECT_TRUE(logLines().isEmpty());
    EXPECT_EQ(RewriteChromeState::shared().phase(), RewriteChromeState::Phase::idle);
}

TEST_F(ServicesRoadDBusTest, FailuresAnswerTheRewriteFailedError)
{
    struct Case {
        const char* name;
        Reply reply;
        QString message;
        QString event;
        bool logged;
    };
    const Case cases[] = {
        {"provider error", Reply::json(R"({"error":"slow"})", 429), QStringLiteral("Request failed (429)."),
         QStringLiteral("rewrite_failed:http_429"), true},
        // The provider itself reports a blank answer as empty content.
        {"blank answer", Reply::json(rewrite_test::openAIAnswer(QStringLiteral(" \n"))),
         QStringLiteral("No text came back."), QStringLiteral("rewrite_failed:empty_content"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = int(logLines().size());
        server.enqueue(c.reply);
        const CallResult result = call(QStringLiteral("some text"));
        EXPECT_NE(result.exitCode, 0);
        EXPECT_TRUE(result.err.contains(QStringLiteral("app.vellox.desktop.Error.RewriteFailed"))) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(c.message)) << result.err.toStdString();
        EXPECT_TRUE(events("services").contains(c.event));
        EXPECT_EQ(logLines().size(), before + (c.logged ? 1 : 0));
        EXPECT_FALSE(RewriteCoordinator::gateIsHeld());
    }
    ASSERT_TRUE(rewrite_test::spinUntil([] { return RewriteFeedbackState::shared().lastError().has_value(); }));
    EXPECT_EQ(RewriteUsageStore::shared().todayCount(), 0);
}

TEST_F(ServicesRoadDBusTest, NothingToDoAnswersTheTextUnchanged)
{
    struct Case {
        const char* name;
        QString text;
        bool paused;
    };
    const Case cases[] = {
        {"blank text", QStringLiteral("   "), false},
        {"paused", QStringLiteral("some text"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        changeSettings([&](AppSettings& s) { s.enabled = !c.paused; });
        const CallResult result = call(c.text);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(result.out, QStringLiteral("('%1',)").arg(c.text));
    }
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(events("services").isEmpty());
}

TEST_F(ServicesRoadDBusTest, ARequestWhileAShortcutRewriteRunsIsDropped)
{
    selection = QStringLiteral("words");
    changeSettings([](AppSettings& s) { s.askToneEachTime = true; });
    surfaces.holdPanels = true; // the shortcut road waits in the tone picker
    auto shortcut = RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return surfaces.calls.contains(QStringLiteral("askTone")); }));

    const CallResult result = call(QStringLiteral("from another program"));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("('from another program',)"));
    EXPECT_TRUE(systemLog().contains(QStringLiteral("Skipped services rewrite: operation already in flight")));
    EXPECT_TRUE(server.requests().isEmpty());

    surfaces.release(); // cancelled: no tone was scripted
    ASSERT_TRUE(rewrite_test::spinUntil([] { return !RewriteCoordinator::gateIsHeld(); }));
}
