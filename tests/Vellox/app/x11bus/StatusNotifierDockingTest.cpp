// The program between two tray hosts, as on a desktop that has both: a
// StatusNotifierItem watcher that comes after the program, then an XEmbed
// tray (trayer) that comes and goes. The icon goes to the first and moves to
// the second and back, never showing in both and never missing for long.
#include "support/FakeStatusNotifierWatcher.h"
#include "support/SpinUntil.h"
#include "support/StopProcess.h"
#include "support/TempHome.h"
#include "support/VelloxOnBus.h"

#include "platform/XEmbedTrayWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Generous for a loaded two-core machine running sanitizers.
constexpr int kSettleMs = 60'000;
// How long the icon may show twice, or not at all, when the XEmbed tray
// comes or goes: the time the program takes to hear of it and answer.
constexpr qint64 kGiveWayMs = 1000;
constexpr int kRounds = 3;

using test_support::spinUntil;

using test_support::stopProcess;

TEST(StatusNotifierDocking, TheItemGivesWayTheMomentAnXEmbedTrayComesAndReturnsWhenItGoes)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !bus.isConnected())
        GTEST_SKIP() << "needs an X display and a private session bus (scripts/test runs it so)";
    TempHome home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(VELLOX_BINARY), {});
    ASSERT_TRUE(program.waitForStarted(5000));
    QProcess trayer;
    const auto finish = [&] {
        stopProcess(trayer);
        stopProcess(program);
        if (::testing::Test::HasFailure())
            std::fprintf(stderr, "--- vellox output ---\n%s\n", program.readAll().constData());
    };

    // The watcher comes once the program has launched, so Qt went the XEmbed way.
    const bool up = spinUntil([&] { return test_support::velloxLaunchedOnBus(bus, program.processId()); }, kSettleMs);
    FakeStatusNotifierWatcher watcher(bus);
    const bool started = up && watcher.start();
    const bool registered = started && spinUntil([&] { return !watcher.items().isEmpty(); }, kSettleMs);
    if (!registered) {
        ADD_FAILURE() << "up: " << up << ", watcher started: " << started << ", no item was registered";
        finish();
        return;
    }
    const QString item = watcher.items().first();
    EXPECT_TRUE(bus.interface()->isServiceRegistered(item).value());

    // Each time the XEmbed tray comes the item gives way at once, and each
    // time it goes the item comes back: the program learns of the tray from
    // the server, not from a check now and then.
    platform::XEmbedTrayWatcher tray;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        trayer.start(QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                      QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                      QStringLiteral("24")});
        ASSERT_TRUE(trayer.waitForStarted(5000));
        ASSERT_TRUE(spinUntil([&] { return tray.trayPresent(); }, kSettleMs)) << "trayer took no tray selection";
        QElapsedTimer sinceTray;
        sinceTray.start();
        const bool withdrawn =
            spinUntil([&] { return !bus.interface()->isServiceRegistered(item).value(); }, kSettleMs);
        EXPECT_TRUE(withdrawn) << "the item stayed while the XEmbed tray held the icon";
        EXPECT_LE(sinceTray.elapsed(), kGiveWayMs) << "both icons showed for " << sinceTray.elapsed() << " ms";

        stopProcess(trayer);
        ASSERT_TRUE(spinUntil([&] { return !tray.trayPresent(); }, kSettleMs)) << "trayer kept the tray selection";
        QElapsedTimer sinceGone;
        sinceGone.start();
        const bool back = spinUntil([&] { return bus.interface()->isServiceRegistered(item).value(); }, kSettleMs);
        EXPECT_TRUE(back) << "no icon came back after the XEmbed tray went";
        EXPECT_LE(sinceGone.elapsed(), kGiveWayMs) << "no icon showed for " << sinceGone.elapsed() << " ms";
    }
    EXPECT_EQ(program.state(), QProcess::Running);
    finish();
}

} // namespace
