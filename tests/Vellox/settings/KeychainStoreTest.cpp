#include "Vellox/settings/KeychainStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakePlatform.h"
#include "support/RecordingAnalyticsClient.h"

#include <gtest/gtest.h>

using platform::CredentialStore;
using platform::fake::FakeCredentialStore;
using Status = CredentialStore::Status;

namespace {

const QString kService = QStringLiteral("Vellox");

class KeychainStoreTest : public ::testing::Test {
protected:
    FakeCredentialStore& store() { return platform::fake::as<FakeCredentialStore>(guard.platform().credentials); }
    QByteArray stored(const QString& account)
    {
        return store().read(kService, account, false).secret;
    }
    QStringList sentEvents()
    {
        QStringList names;
        for (const auto& capture : analytics.sent())
            names.append(capture.event);
        return names;
    }

    platform::PlatformGuard guard;
    RecordingAnalytics analytics;
};

} // namespace

TEST_F(KeychainStoreTest, EachProviderHasItsOwnItem)
{
    EXPECT_EQ(KeychainStore::account(ProviderId::openaiCompatible), "openai-compatible-api-key");
    EXPECT_EQ(KeychainStore::account(ProviderId::gemini), "gemini-api-key");
    EXPECT_EQ(KeychainStore::account(ProviderId::anthropic), "anthropic-api-key");

    KeychainStore::setApiKey("sk-openai", ProviderId::openaiCompatible);
    KeychainStore::setApiKey("gm-key", ProviderId::gemini);
    KeychainStore::setApiKey("", ProviderId::gemini);
    KeychainStore::setApiKey("ant-key", ProviderId::anthropic);

    EXPECT_EQ(stored("openai-compatible-api-key"), "sk-openai");
    EXPECT_EQ(stored("anthropic-api-key"), "ant-key");
    EXPECT_FALSE(store().contains(kService, "gemini-api-key"));
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "sk-openai");
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::gemini), "");
    EXPECT_EQ(store().itemCount(), 2);
}

TEST_F(KeychainStoreTest, StoresTheKeyTrimmed)
{
    KeychainStore::setApiKey(" \t sk-test-123 \r\n\n", ProviderId::anthropic);
    EXPECT_EQ(stored("anthropic-api-key"), "sk-test-123");
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "sk-test-123");
}

TEST_F(KeychainStoreTest, BlankTextRemovesTheKeyAndSendsNoEvent)
{
    const char* const blanks[] = {"", "   ", "\n\t\r\n"};
    for (const char* blank : blanks) {
        SCOPED_TRACE(QByteArray(blank).toPercentEncoding().constData());
        store().put(kService, "gemini-api-key", "old");
        EXPECT_EQ(KeychainStore::setApiKey(QString::fromLatin1(blank), ProviderId::gemini),
                  KeychainStore::SaveResult::Removed);
        EXPECT_FALSE(store().contains(kService, "gemini-api-key"));
        EXPECT_EQ(KeychainStore::getApiKey(ProviderId::gemini), "");
    }
    analytics.switchOn();
    KeychainStore::setApiKey(" ", ProviderId::gemini);
    EXPECT_TRUE(sentEvents().isEmpty());
}

TEST_F(KeychainStoreTest, KeyWithAControlCharacterIsRefusedAndTheOldKeyStays)
{
    struct Case {
        const char* name;
        QString key;
    };
    const Case cases[] = {
        {"line feed", QStringLiteral("sk-abc\ndef")},
        {"carriage return", QStringLiteral("sk-abc\rX-Injected: 1")},
        {"NUL", QString::fromLatin1("sk-abc\0def", 10)},
        {"tab", QStringLiteral("sk-abc\tdef")},
        {"DEL", QStringLiteral("sk-abc\x7f")},
        {"C1 control", QStringLiteral("sk-abc") + QChar(0x85) + QStringLiteral("def")},
    };
    analytics.switchOn();
    store().put(kService, "openai-compatible-api-key", "sk-working");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int storesBefore = store().storeCount();
        const int removesBefore = store().removeCount();
        EXPECT_EQ(KeychainStore::setApiKey(c.key, ProviderId::openaiCompatible),
                  KeychainStore::SaveResult::RefusedControlCharacter);
        EXPECT_EQ(store().storeCount(), storesBefore);
        EXPECT_EQ(store().removeCount(), removesBefore);
        EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "sk-working");
    }
    EXPECT_TRUE(sentEvents().isEmpty());
}

TEST_F(KeychainStoreTest, SavingTwiceReplacesTheKeyAndAnnouncesEachSave)
{
    analytics.switchOn();
    EXPECT_EQ(KeychainStore::setApiKey("first", ProviderId::gemini), KeychainStore::SaveResult::Stored);
    EXPECT_EQ(KeychainStore::setApiKey("second", ProviderId::gemini), KeychainStore::SaveResult::Stored);

    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::gemini), "second");
    EXPECT_EQ(store().itemCount(), 1);
    EXPECT_EQ(store().removeCount(), 0) << "replaced in place, never deleted first";
    const auto sent = analytics.sent();
    ASSERT_EQ(sent.size(), 2);
    for (const auto& capture : sent) {
        EXPECT_EQ(capture.event, "api_key_added");
        EXPECT_EQ(capture.properties, QVariantMap({{"provider", "gemini"}}));
    }
}

TEST_F(KeychainStoreTest, FailedSaveKeepsThePreviousKeyAndSendsNoEvent)
{
    analytics.switchOn();
    store().put(kService, "anthropic-api-key", "sk-working");
    store().failWrites(true);
    EXPECT_EQ(KeychainStore::setApiKey("sk-new", ProviderId::anthropic), KeychainStore::SaveResult::Failed);
    EXPECT_EQ(KeychainStore::setApiKey(" ", ProviderId::anthropic), KeychainStore::SaveResult::Failed);
    store().failWrites(false);

    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "sk-working");
    EXPECT_TRUE(sentEvents().isEmpty());
}

TEST_F(KeychainStoreTest, SaveWithAnalyticsOffStoresAndSendsNothing)
{
    KeychainStore::setApiKey("sk-test", ProviderId::openaiCompatible);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "sk-test");
    EXPECT_TRUE(sentEvents().isEmpty());
}

TEST_F(KeychainStoreTest, MockProviderNeverTouchesTheStore)
{
    analytics.switchOn();
    EXPECT_EQ(KeychainStore::setApiKey("sk-test", ProviderId::mock), KeychainStore::SaveResult::NoKeyNeeded);
    KeychainStore::deleteApiKey(ProviderId::mock);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::mock), "");
    EXPECT_EQ(store().readCount() + store().storeCount() + store().removeCount(), 0);
    EXPECT_TRUE(sentEvents().isEmpty());
}

TEST_F(KeychainStoreTest, ReadingFollowsTheStoreStatus)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> item;
        std::optional<Status> failure;
        bool onlyWithoutInteraction;
        QString expected;
        int reads;
    };
    const Case cases[] = {
        {"missing: one quiet query", std::nullopt, std::nullopt, false, "", 1},
        {"present", QByteArray("sk-key"), std::nullopt, false, "sk-key", 1},
        {"locked until the user is asked", QByteArray("sk-key"), Status::Failed, true, "sk-key", 2},
        {"failing either way", QByteArray("sk-key"), Status::Failed, false, "", 2},
        {"not UTF-8", QByteArray("sk-\xff\xfe"), std::nullopt, false, "", 1},
        {"made by hand with a newline", QByteArray("sk-key\n"), std::nullopt, false, "sk-key", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard fresh;
        auto& fake = platform::fake::as<FakeCredentialStore>(fresh.platform().credentials);
        if (c.item)
            fake.put(kService, "gemini-api-key", *c.item);
        if (c.failure)
            fake.failReads(*c.failure, c.onlyWithoutInteraction);
        EXPECT_EQ(KeychainStore::getApiKey(ProviderId::gemini), c.expected);
        EXPECT_EQ(fake.readCount(), c.reads);
    }
}

TEST_F(KeychainStoreTest, DeleteRemovesOnlyThatProvidersKey)
{
    KeychainStore::setApiKey("a", ProviderId::openaiCompatible);
    KeychainStore::setApiKey("b", ProviderId::anthropic);
    KeychainStore::deleteApiKey(ProviderId::anthropic);
    KeychainStore::deleteApiKey(ProviderId::anthropic);
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::anthropic), "");
    EXPECT_EQ(KeychainStore::getApiKey(ProviderId::openaiCompatible), "a");
}
