// Runs against the private gnome-keyring that scripts/test starts on a private
// session bus; never against a user's own keyring.
#include "platform/linux/SecretServiceCredentialStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/linux/FileCredentialStore.h"
#include "platform/linux/LinuxCredentialStore.h"
#include "support/SecretTool.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>

using platform::CredentialStore;
using platform::linuxbackend::LinuxCredentialStore;
using platform::linuxbackend::SecretServiceCredentialStore;
using Status = CredentialStore::Status;

namespace {

const QString kService = QStringLiteral("Vellox");

int itemCount(const QString& account)
{
    return secret_tool::itemCount(kService, account);
}

class SecretServiceCredentialStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString reason;
        ASSERT_TRUE(SecretServiceCredentialStore::isServiceAvailable(&reason))
            << "the keyring tests need a Secret Service: " << reason.toStdString();
    }
    void TearDown() override { store.remove(kService, account); }

    // Each test its own account, so runs never see each other's items.
    QString account = QStringLiteral("test-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    SecretServiceCredentialStore store;
};

} // namespace

TEST_F(SecretServiceCredentialStoreTest, RoundTripsASecretAndRemovesIt)
{
    const QByteArray secret("s3cret \xc3\xa9", 9);
    EXPECT_EQ(store.read(kService, account, false).status, Status::NotFound);
    ASSERT_EQ(store.store(kService, account, secret), Status::Success);

    const auto result = store.read(kService, account, false);
    EXPECT_EQ(result.status, Status::Success);
    EXPECT_EQ(result.secret, secret);
    EXPECT_EQ(secret_tool::run({"lookup", "service", kService, "account", account}), secret);

    EXPECT_EQ(store.remove(kService, account), Status::Success);
    EXPECT_EQ(store.read(kService, account, true).status, Status::NotFound);
    EXPECT_EQ(store.remove(kService, account), Status::Success) << "removing an absent item succeeds";
}

TEST_F(SecretServiceCredentialStoreTest, ReadsAnItemMadeBySecretTool)
{
    ASSERT_TRUE(secret_tool::run({"store", "--label=x", "service", kService, "account", account}, "made-by-hand"));
    const auto result = store.read(kService, account, false);
    EXPECT_EQ(result.status, Status::Success);
    EXPECT_EQ(result.secret, "made-by-hand");
}

TEST_F(SecretServiceCredentialStoreTest, StoringUpdatesTheItemInPlaceAndLeavesOnlyOne)
{
    // Two matching items with different schemas, as other tools can leave them.
    ASSERT_TRUE(secret_tool::run({"store", "--label=x", "service", kService, "account", account}, "first"));
    ASSERT_TRUE(secret_tool::run({"store", "--label=y", "service", kService, "account", account, "xdg:schema",
                            "org.example.Other"},
                           "second"));
    ASSERT_EQ(itemCount(account), 2);

    ASSERT_EQ(store.store(kService, account, "replaced"), Status::Success);
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(store.read(kService, account, false).secret, "replaced");

    ASSERT_EQ(store.store(kService, account, "again"), Status::Success);
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(store.read(kService, account, false).secret, "again");
}

TEST_F(SecretServiceCredentialStoreTest, SessionStoreChoosesTheSecretServiceWhenItAnswers)
{
    platform::PlatformGuard guard;
    TempHome home;
    LinuxCredentialStore session;
    ASSERT_EQ(session.store(kService, account, "in-keyring"), Status::Success);
    EXPECT_EQ(session.backend(), LinuxCredentialStore::Backend::SecretService);
    EXPECT_EQ(store.read(kService, account, false).secret, "in-keyring");
    EXPECT_FALSE(QFile::exists(home.path() + "/.local/share/vellox/credentials.json"));
    EXPECT_TRUE(platform::fake::as<platform::fake::FakeSystemLog>(guard.platform().systemLog).lines().isEmpty());
}

TEST_F(SecretServiceCredentialStoreTest, AQuietReadMovesAFileKeyIntoTheOpenKeyring)
{
    platform::PlatformGuard guard;
    TempHome home;
    platform::linuxbackend::FileCredentialStore file(home.path() + "/.local/share/vellox/credentials.json");
    ASSERT_EQ(file.store(kService, account, "from-file"), Status::Success);
    LinuxCredentialStore session;
    EXPECT_EQ(session.read(kService, account, false).secret, "from-file");
    EXPECT_EQ(store.read(kService, account, false).secret, "from-file");
    EXPECT_EQ(itemCount(account), 1);
    EXPECT_EQ(file.read(kService, account, false).status, Status::NotFound);
}

// A session bus of its own that knows no services at all, so nothing can be
// started on demand: the keyring daemon is simply not there.
class BusWithoutKeyring {
public:
    BusWithoutKeyring()
    {
        const QString config = dir_.filePath("bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                  "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                  "<allow own=\"*\"/></policy></busconfig>\n")
                       .arg(dir_.path())
                       .toUtf8());
        file.close();
        daemon_.setProcessChannelMode(QProcess::SeparateChannels);
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {"--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"});
        if (!daemon_.waitForStarted(5000))
            return;
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
        }
        address_ = daemon_.readLine().trimmed();
    }
    ~BusWithoutKeyring()
    {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(2000)) {
                daemon_.kill();
                daemon_.waitForFinished(2000);
            }
        }
    }

    QByteArray address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QByteArray address_;
};

TEST(SessionWithoutKeyring, FallsBackToThePrivateFileAndWarnsOnce)
{
    BusWithoutKeyring bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    const QByteArray savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());

    platform::PlatformGuard guard;
    TempHome home;
    LinuxCredentialStore session;
    EXPECT_EQ(session.store(kService, "openai-compatible-api-key", "sk-file"), Status::Success);
    EXPECT_EQ(session.read(kService, "openai-compatible-api-key", false).secret, "sk-file");
    EXPECT_EQ(session.backend(), LinuxCredentialStore::Backend::File);
    qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress);

    const QString path = home.path() + "/.local/share/vellox/credentials.json";
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).permissions(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    const auto lines = platform::fake::as<platform::fake::FakeSystemLog>(guard.platform().systemLog).lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].message.contains(path)) << lines[0].message.toStdString();
}
