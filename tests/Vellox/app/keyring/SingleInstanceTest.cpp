// Two launches of the program at the same moment on one session bus, as a
// double click or an autostart racing a manual start makes them: one keeps
// running, the other hands over and exits. The session's unlocked keyring
// answers the program's key reads without a prompt.
#include "support/SpinUntil.h"
#include "support/StopProcess.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Generous for a loaded two-core machine running sanitizers.
constexpr int kSettleMs = 60'000;
constexpr int kRounds = 3;

using test_support::spinUntil;

qint64 nameOwnerPid()
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QString name = QStringLiteral("app.vellox.desktop");
    if (!bus->isServiceRegistered(name).value())
        return -1;
    return bus->servicePid(name).value();
}

using test_support::stopProcess;

TEST(SingleInstance, TwoSimultaneousLaunchesLeaveOneRunningInstance)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs a private session bus (scripts/test runs it so)";
    TempHome home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::unique_ptr<QProcess> launches[2];
        for (auto& launch : launches) {
            launch = std::make_unique<QProcess>();
            launch->setProcessEnvironment(environment);
            launch->setProcessChannelMode(QProcess::MergedChannels);
        }
        for (auto& launch : launches)
            launch->start(QStringLiteral(VELLOX_BINARY), {QStringLiteral("--no-tray")});
        for (auto& launch : launches)
            ASSERT_TRUE(launch->waitForStarted(5000));

        const auto finished = [&] {
            return int(launches[0]->state() == QProcess::NotRunning) + int(launches[1]->state() == QProcess::NotRunning);
        };
        const bool oneExited = spinUntil([&] { return finished() >= 1; }, kSettleMs);
        // The one that stays owns the name.
        const bool owned = oneExited && spinUntil([] { return nameOwnerPid() > 0; }, kSettleMs);
        if (!oneExited || !owned || finished() != 1) {
            for (auto& launch : launches) {
                stopProcess(*launch);
                std::fprintf(stderr, "--- vellox output ---\n%s\n", launch->readAll().constData());
            }
            FAIL() << "exited: " << finished() << ", name owned: " << owned;
        }
        QProcess& second = launches[0]->state() == QProcess::NotRunning ? *launches[0] : *launches[1];
        QProcess& first = &second == launches[0].get() ? *launches[1] : *launches[0];
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << second.readAll().constData();
        EXPECT_EQ(nameOwnerPid(), first.processId());
        EXPECT_EQ(first.state(), QProcess::Running);

        stopProcess(first);
        ASSERT_TRUE(spinUntil([] { return nameOwnerPid() < 0; }, kSettleMs)) << "the name outlived its owner";
    }
}

} // namespace
