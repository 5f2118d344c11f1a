// A Secret Service that owns its name on the bus but never answers: a keyring
// daemon that hangs. The application's first use of its credentials must not
// wait on it for long.
#include "platform/Platform.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxCredentialStore.h"
#include "support/SpinUntil.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using platform::linuxbackend::LinuxCredentialStore;

namespace {

// A session bus of its own, with a keyring daemon on it that is then stopped.
class HungKeyring {
public:
    HungKeyring()
    {
        bus_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        if (!bus_.waitForReadyRead(10000))
            return;
        address_ = bus_.readLine().trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address_));
        // A control folder of its own, so the session's keyring daemon never hears of this one.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.remove(QStringLiteral("GNOME_KEYRING_CONTROL"));
        keyring_.setProcessEnvironment(environment);
        keyring_.start(QStringLiteral("gnome-keyring-daemon"), {"--foreground", "--components=secrets"});
        if (!keyring_.waitForStarted(10000))
            return;
        // Owned once the daemon has claimed the name.
        test_support::spinUntil([&] { return nameOwned(environment); }, 20000);
        ready_ = ::kill(pid_t(keyring_.processId()), SIGSTOP) == 0;
    }
    ~HungKeyring()
    {
        if (keyring_.state() != QProcess::NotRunning) {
            ::kill(pid_t(keyring_.processId()), SIGCONT);
            keyring_.kill();
            keyring_.waitForFinished();
        }
        bus_.kill();
        bus_.waitForFinished();
    }

    bool ready() const { return ready_; }
    const QByteArray& address() const { return address_; }

private:
    static bool nameOwned(const QProcessEnvironment& environment)
    {
        QProcess ask;
        ask.setProcessEnvironment(environment);
        ask.start(QStringLiteral("dbus-send"), {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                                "string:org.freedesktop.secrets"});
        ask.waitForFinished(5000);
        return ask.readAll().contains("boolean true");
    }

    QTemporaryDir runtime_;
    QProcess bus_;
    QProcess keyring_;
    QByteArray address_;
    bool ready_ = false;
};

} // namespace

TEST(UnansweringSecretService, TheFirstCredentialCallWaitsOnlyBriefly)
{
    TempHome home;
    platform::PlatformGuard guard;
    HungKeyring keyring;
    ASSERT_TRUE(keyring.ready());
    const QByteArray savedBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", keyring.address());

    QElapsedTimer clock;
    clock.start();
    {
        // Made at start-up; the first read comes a moment later on the GUI thread.
        LinuxCredentialStore store;
        QTest::qWait(200);
        const auto result = store.read("Vellox", "gemini-api-key", false);
        EXPECT_LT(clock.elapsed(), 4000);
        EXPECT_EQ(result.status, platform::CredentialStore::Status::NotFound);
        EXPECT_EQ(store.backend(), LinuxCredentialStore::Backend::File);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", savedBus);
}
