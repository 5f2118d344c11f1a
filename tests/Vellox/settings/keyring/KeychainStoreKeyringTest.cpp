// API keys through the real credential store of a Linux session, against the
// private gnome-keyring that scripts/test starts on a private session bus.
#include "Vellox/settings/KeychainStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxCredentialStore.h"
#include "support/SecretTool.h"
#include "support/TempHome.h"


#include <gtest/gtest.h>

#include <optional>

using platform::linuxbackend::LinuxCredentialStore;

namespace {

int itemCount(ProviderId provider)
{
    return secret_tool::itemCount(QStringLiteral("Vellox"), KeychainStore::account(provider));
}

// The session's credential store, with every other service faked.
platform::Platform sessionPlatform(std::shared_ptr<LinuxCredentialStore> credentials)
{
    platform::Platform p = platform::fake::makeFakePlatform();
    p.credentials = std::move(credentials);
    return p;
}

class KeychainStoreKeyringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(credentials->backend(), LinuxCredentialStore::Backend::SecretService)
            << "the keyring tests need a Secret Service";
        for (ProviderId provider : ProviderId::allCases())
            KeychainStore::deleteApiKey(provider);
    }
    void TearDown() override
    {
        for (ProviderId provider : ProviderId::allCases())
            KeychainStore::deleteApiKey(provider);
    }

    TempHome home;
    std::shared_ptr<LinuxCredentialStore> credentials = std::make_shared<LinuxCredentialStore>();
    platform::PlatformGuard guard{sessionPlatform(credentials)};
};

} // namespace

TEST_F(KeychainStoreKeyringTest, KeysRoundTripPerProvider)
{
    for (ProviderId provider : ProviderId::userFacingCases())
        KeychainStore::setApiKey(QStringLiteral("  key-for-%1\n").arg(provider.rawValue()), provider);

    for (ProviderId provider : ProviderId::userFacingCases()) {
        SCOPED_TRACE(provider.rawValue().toStdString());
        EXPECT_EQ(KeychainStore::getApiKey(provider), QStringLiteral("key-for-%1").arg(provider.rawValue()));
        EXPECT_EQ(secret_tool::run({"lookup", "service", "Vellox", "account", KeychainStore::account(provider)}),
                  QStringLiteral("key-for-%1").arg(provider.rawValue()).toUtf8());
    }

    KeychainStore::setApiKey("   ", ProviderId::gemini);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::gemini), "");
    EXPECT_EQ(itemCount(ProviderId::gemini), 0);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "key-for-anthropic");
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "key-for-openai-compatible");
}

TEST_F(KeychainStoreKeyringTest, ReadsAKeyStoredWithSecretTool)
{
    ASSERT_TRUE(secret_tool::run({"store", "--label=x", "service", "Vellox", "account", "openai-compatible-api-key"},
                           "sk-from-secret-tool\n"));
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "sk-from-secret-tool");
}

TEST_F(KeychainStoreKeyringTest, SavingAgainReplacesTheItemAndARefusedKeyKeepsIt)
{
    ASSERT_TRUE(secret_tool::run({"store", "--label=x", "service", "Vellox", "account", "anthropic-api-key"}, "sk-old"));
    EXPECT_EQ(KeychainStore::setApiKey("sk-new", ProviderId::anthropic), KeychainStore::SaveResult::Stored);
    EXPECT_EQ(itemCount(ProviderId::anthropic), 1);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "sk-new");

    EXPECT_EQ(KeychainStore::setApiKey("sk-bad\r\nX-Injected: 1", ProviderId::anthropic),
              KeychainStore::SaveResult::RefusedControlCharacter);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "sk-new");
    EXPECT_EQ(itemCount(ProviderId::anthropic), 1);
}
