#include "platform/linux/LinuxCredentialStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/linux/FileCredentialStore.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>

using platform::CredentialStore;
using platform::fake::FakeCredentialStore;
using platform::fake::FakeSystemLog;
using platform::linuxbackend::FileCredentialStore;
using platform::linuxbackend::LinuxCredentialStore;
using Status = CredentialStore::Status;
using Backend = LinuxCredentialStore::Backend;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name)
        , saved_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (saved_)
            qputenv(name_, *saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};

class LinuxCredentialStoreTest : public ::testing::Test {
protected:
    FakeSystemLog& systemLog() { return platform::fake::as<FakeSystemLog>(guard.platform().systemLog); }

    LinuxCredentialStore::Options options(bool serviceAnswers)
    {
        LinuxCredentialStore::Options o;
        o.secretServiceAvailable = [this, serviceAnswers](QString* reason) {
            ++probes;
            if (!serviceAnswers)
                *reason = QStringLiteral("nobody home");
            return serviceAnswers;
        };
        o.makeSecretService = [this] { return keyring; };
        o.filePath = filePath;
        return o;
    }

    platform::PlatformGuard guard;
    TempHome home;
    QString filePath = home.filePath("vellox/credentials.json");
    FileCredentialStore file{filePath};
    std::shared_ptr<FakeCredentialStore> keyring = std::make_shared<FakeCredentialStore>();
    int probes = 0;
};

} // namespace

TEST_F(LinuxCredentialStoreTest, UsesTheFileAndWarnsOnceWhenNoSecretServiceAnswers)
{
    LinuxCredentialStore store(options(false));
    EXPECT_EQ(probes, 0) << "nothing is asked before first use";

    EXPECT_EQ(store.store("Vellox", "one", "secret"), Status::Success);
    EXPECT_EQ(store.read("Vellox", "one", false).secret, "secret");
    EXPECT_EQ(file.read("Vellox", "one", false).secret, "secret");
    EXPECT_EQ(store.remove("Vellox", "one"), Status::Success);
    EXPECT_EQ(file.read("Vellox", "one", false).status, Status::NotFound);
    EXPECT_EQ(store.backend(), Backend::File);

    EXPECT_EQ(probes, 1);
    EXPECT_EQ(keyring->storeCount() + keyring->readCount() + keyring->removeCount(), 0);
    const auto lines = systemLog().lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].level, platform::LogLevel::Error);
    EXPECT_TRUE(lines[0].message.contains("nobody home")) << lines[0].message.toStdString();
    EXPECT_TRUE(lines[0].message.contains(filePath)) << lines[0].message.toStdString();
}

TEST_F(LinuxCredentialStoreTest, UsesTheSecretServiceWhenOneAnswers)
{
    LinuxCredentialStore store(options(true));
    EXPECT_EQ(store.store("Vellox", "one", "secret"), Status::Success);
    EXPECT_EQ(store.read("Vellox", "one", false).secret, "secret");
    EXPECT_EQ(keyring->read("Vellox", "one", false).secret, "secret");
    EXPECT_EQ(store.backend(), Backend::SecretService);
    EXPECT_FALSE(QFile::exists(filePath));
    EXPECT_TRUE(systemLog().lines().isEmpty());
}

TEST_F(LinuxCredentialStoreTest, KeyLeftInTheFileMovesIntoTheKeyringWhenRead)
{
    ASSERT_EQ(file.store("Vellox", "one", "from-file"), Status::Success);
    ASSERT_EQ(file.store("Vellox", "two", "stays"), Status::Success);
    LinuxCredentialStore store(options(true));

    const auto result = store.read("Vellox", "one", false);
    EXPECT_EQ(result.status, Status::Success);
    EXPECT_EQ(result.secret, "from-file");
    EXPECT_EQ(keyring->read("Vellox", "one", false).secret, "from-file");
    EXPECT_EQ(file.read("Vellox", "one", false).status, Status::NotFound);
    EXPECT_EQ(file.read("Vellox", "two", false).secret, "stays");
}

TEST_F(LinuxCredentialStoreTest, KeyLeftInTheFileStaysThereWhenTheKeyringRefusesIt)
{
    ASSERT_EQ(file.store("Vellox", "one", "from-file"), Status::Success);
    keyring->failWrites(true);
    LinuxCredentialStore store(options(true));

    EXPECT_EQ(store.read("Vellox", "one", false).secret, "from-file");
    EXPECT_EQ(file.read("Vellox", "one", false).secret, "from-file");
}

TEST_F(LinuxCredentialStoreTest, AQuietReadNeverAsksToUnlockTheKeyringToMoveAKey)
{
    ASSERT_EQ(file.store("Vellox", "one", "from-file"), Status::Success);
    keyring->setLocked(true);
    LinuxCredentialStore store(options(true));

    EXPECT_EQ(store.read("Vellox", "one", false).secret, "from-file");
    EXPECT_EQ(keyring->storeCount(), 0) << "storing into a locked keyring would prompt";
    EXPECT_EQ(file.read("Vellox", "one", false).secret, "from-file");

    // A read that may ask moves it.
    EXPECT_EQ(store.read("Vellox", "one", true).secret, "from-file");
    EXPECT_EQ(keyring->read("Vellox", "one", false).secret, "from-file");
    EXPECT_EQ(file.read("Vellox", "one", false).status, Status::NotFound);
}

TEST_F(LinuxCredentialStoreTest, StoringOrRemovingInTheKeyringDropsTheStaleFileCopy)
{
    ASSERT_EQ(file.store("Vellox", "one", "old"), Status::Success);
    ASSERT_EQ(file.store("Vellox", "two", "old"), Status::Success);
    LinuxCredentialStore store(options(true));

    EXPECT_EQ(store.store("Vellox", "one", "new"), Status::Success);
    EXPECT_EQ(file.read("Vellox", "one", false).status, Status::NotFound);
    EXPECT_EQ(store.remove("Vellox", "two"), Status::Success);
    EXPECT_EQ(file.read("Vellox", "two", false).status, Status::NotFound);
    EXPECT_EQ(store.read("Vellox", "two", false).status, Status::NotFound) << "a removed key does not come back";
}

TEST_F(LinuxCredentialStoreTest, FallsBackToThePrivateFileWithoutASessionBus)
{
    const ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName("unix:path=" + home.filePath("no-bus")));
    LinuxCredentialStore store;

    EXPECT_EQ(store.store("Vellox", "openai-compatible-api-key", "sk-test"), Status::Success);
    EXPECT_EQ(store.backend(), Backend::File);
    const QString standardPath = home.path() + "/.local/share/vellox/credentials.json";
    ASSERT_TRUE(QFile::exists(standardPath));
    EXPECT_EQ(QFileInfo(standardPath).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
                                                         | QFile::WriteUser);
    EXPECT_EQ(store.read("Vellox", "openai-compatible-api-key", false).secret, "sk-test");
    EXPECT_EQ(systemLog().lines().size(), 1);
}
