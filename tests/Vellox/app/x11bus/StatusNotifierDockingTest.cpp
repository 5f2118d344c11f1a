// The program between two tray hosts, as on a desktop that has both: a
// StatusNotifierItem watcher that comes after the program, then an XEmbed
// tray (trayer). The icon goes to the first and moves to the second, never
// showing in both.
#include "support/FakeStatusNotifierWatcher.h"
#include "support/SpinUntil.h"
#include "support/StopProcess.h"
#include "support/TempHome.h"
#include "support/VelloxOnBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// Generous for a loaded two-core machine running sanitizers.
constexpr int kSettleMs = 60'000;

using test_support::spinUntil;

using test_support::stopProcess;

TEST(StatusNotifierDocking, TheItemIsWithdrawnOnceAnXEmbedTrayDocksTheIcon)
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

    trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                           QStringLiteral("right"), QStringLiteral("--widthtype"),
                                           QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
    const bool withdrawn = trayer.waitForStarted(5000)
                           && spinUntil([&] { return !bus.interface()->isServiceRegistered(item).value(); }, kSettleMs);
    EXPECT_TRUE(withdrawn) << "the item stayed while the XEmbed tray held the icon";
    EXPECT_EQ(program.state(), QProcess::Running);
    finish();
}

} // namespace
