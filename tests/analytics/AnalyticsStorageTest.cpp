#include "analytics/AnalyticsStorage.h"

#include "AnalyticsTestSupport.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsStorageManager.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace analytics;
using Key = AnalyticsStorage::StorageKey;

namespace {

class AnalyticsStorageTest : public ::testing::Test {
protected:
    AnalyticsStorageTest()
    {
        platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
            {"CFBundleIdentifier", "app.vellox.desktop"}};
    }
    QString baseFolder() const { return home.filePath(".local/share/app.vellox.desktop"); }
    QString tokenFolder() const { return baseFolder() + "/phc_test"; }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString& path, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    TempHome home;
    platform::PlatformGuard guard;
    AnalyticsConfig config{QStringLiteral("phc_test")};
};

} // namespace

TEST_F(AnalyticsStorageTest, KeysNameTheirFilesAndScalarsAreStoredWrapped)
{
    const QStringList expected = {
        "analytics.distinctId", "analytics.anonymousId", "analytics.queueFolder.uuid", "analytics.queueFolder",
        "analytics.queue.plist", "analytics.replayFolder", "analytics.replayBufferFolder",
        "analytics.enabledFeatureFlags", "analytics.enabledFeatureFlagPayloads", "analytics.flags", "analytics.groups",
        "analytics.registerProperties", "analytics.optOut", "analytics.sessionReplay", "analytics.isIdentified",
        "analytics.enabledPersonProcessing", "analytics.remoteConfig", "analytics.surveySeen",
        "analytics.lastSeenSurveyDate", "analytics.requestId", "analytics.evaluatedAt",
        "analytics.personPropertiesForFlags", "analytics.groupPropertiesForFlags", "analytics.errorTracking",
        "analytics.deviceId"};
    QStringList names;
    for (Key key : AnalyticsStorage::allKeys())
        names << AnalyticsStorage::fileName(key);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(AnalyticsStorage::keyFromRawValue("analytics.optOut"), Key::optOut);
    EXPECT_FALSE(AnalyticsStorage::keyFromRawValue("analytics.nothing"));

    AnalyticsStorage storage(config);
    EXPECT_EQ(storage.appFolder(), tokenFolder());
    struct Case {
        const char* name;
        Key key;
        QVariant value;
        QByteArray file;
    };
    const Case cases[] = {
        {"string", Key::anonymousId, "ABC", R"({"analytics.anonymousId":"ABC"})"},
        {"Boolean", Key::optOut, true, R"({"analytics.optOut":true})"},
        {"number", Key::evaluatedAt, 12, R"({"analytics.evaluatedAt":12})"},
        {"map stands as it is", Key::groups, QVariantMap{{"org", "x"}}, R"({"org":"x"})"},
        {"list stands as it is", Key::registerProperties, QVariantList{1, 2}, "[1,2]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storage.setJson(c.key, c.value);
        EXPECT_EQ(read(storage.path(c.key)), c.file);
    }
    EXPECT_EQ(storage.getString(Key::anonymousId), "ABC");
    EXPECT_EQ(storage.getBool(Key::optOut), true);
    EXPECT_EQ(storage.getInt(Key::evaluatedAt), 12);
    storage.setJson(Key::optOut, QVariant());
    EXPECT_FALSE(QFile::exists(storage.path(Key::optOut))) << "no value deletes the file";
    EXPECT_TRUE(QDir(tokenFolder()).entryList(QDir::Hidden | QDir::Files).filter(QRegularExpression("^\\.")).isEmpty())
        << "no temporary file is left behind";
}

TEST_F(AnalyticsStorageTest, TypedGettersReadBareAndWrappedValuesOfTheRightKind)
{
    AnalyticsStorage storage(config);
    struct Case {
        const char* name;
        QByteArray file;
        std::optional<QString> string;
        std::optional<bool> boolean;
        std::optional<qint64> integer;
    };
    const Case cases[] = {
        {"bare string", R"("X")", "X", {}, {}},
        {"wrapped string", R"({"analytics.requestId":"X"})", "X", {}, {}},
        {"wrapped Boolean", R"({"analytics.requestId":false})", {}, false, {}},
        {"bare Boolean", "true", {}, true, {}},
        {"wrapper of the wrong kind", R"({"analytics.requestId":"yes"})", "yes", {}, {}},
        {"integer", "3", {}, {}, 3},
        {"whole double", "3.0", {}, {}, 3},
        {"fraction truncated", R"({"analytics.requestId":3.7})", {}, {}, 3},
        {"object under another name", R"({"other":"X"})", {}, {}, {}},
        {"not JSON", "{broken", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(storage.path(Key::requestId), c.file);
        EXPECT_EQ(storage.getString(Key::requestId), c.string);
        EXPECT_EQ(storage.getBool(Key::requestId), c.boolean);
        EXPECT_EQ(storage.getInt(Key::requestId), c.integer);
    }
    QFile::remove(storage.path(Key::requestId));
    EXPECT_FALSE(storage.getData(Key::requestId)) << "a missing file is no value";
}

TEST_F(AnalyticsStorageTest, ResetKeepsQueuesDeviceIdAndEvaluationTime)
{
    AnalyticsStorage storage(config);
    for (Key key : AnalyticsStorage::allKeys())
        storage.setJson(key, QStringLiteral("v"));
    storage.reset(true);
    QStringList left = QDir(tokenFolder()).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, QStringList({"analytics.anonymousId", "analytics.deviceId", "analytics.evaluatedAt",
                                 "analytics.queueFolder.uuid", "analytics.replayBufferFolder",
                                 "analytics.replayFolder"}));
    storage.reset(false);
    EXPECT_FALSE(QFile::exists(storage.path(Key::anonymousId)));
}

TEST_F(AnalyticsStorageTest, LegacyFilesMoveIntoTheTokenFolderWithoutOverwriting)
{
    write(baseFolder() + "/analytics.optOut", R"({"analytics.optOut":true})");
    write(baseFolder() + "/analytics.distinctId", R"("legacy")");
    write(tokenFolder() + "/analytics.distinctId", R"("current")");
    write(baseFolder() + "/analytics.queueFolder/A", "{}");
    write(baseFolder() + "/other_token/analytics.distinctId", R"("other")");

    AnalyticsStorage storage(config);
    EXPECT_EQ(storage.getBool(Key::optOut), true);
    EXPECT_EQ(storage.getString(Key::distinctId), "current") << "the token folder's copy wins";
    EXPECT_TRUE(QFile::exists(tokenFolder() + "/analytics.queueFolder/A"));
    EXPECT_FALSE(QFile::exists(baseFolder() + "/analytics.optOut"));
    EXPECT_FALSE(QFile::exists(baseFolder() + "/analytics.distinctId"));
    EXPECT_FALSE(QFile::exists(baseFolder() + "/analytics.queueFolder"));
    EXPECT_TRUE(QFile::exists(baseFolder() + "/other_token/analytics.distinctId")) << "other projects stay";
}

TEST_F(AnalyticsStorageTest, TokensThatCouldEscapeTheFolderAreEncoded)
{
    EXPECT_EQ(AnalyticsStorage::folderName("phc_1"), "phc_1");
    EXPECT_EQ(AnalyticsStorage::folderName(".."), "..") << "dots alone stay dots after encoding";
    EXPECT_NE(AnalyticsStorage::folderName("../x"), "../x");
    EXPECT_FALSE(AnalyticsStorage::folderName("../x").contains('/'));
    EXPECT_FALSE(AnalyticsStorage::folderName("").isEmpty());
}

TEST_F(AnalyticsStorageTest, IdentityFallsBackToTheAnonymousIdAndIsCached)
{
    AnalyticsStorageManager manager(config);
    AnalyticsStorage& storage = manager.storage();
    const QString anon = manager.getAnonymousId();
    EXPECT_EQ(anon.size(), 36);
    EXPECT_EQ(anon, anon.toUpper());
    EXPECT_EQ(manager.getDistinctId(), anon);
    EXPECT_FALSE(manager.isIdentified());
    EXPECT_FALSE(QFile::exists(storage.path(Key::distinctId)));
    EXPECT_EQ(read(storage.path(Key::anonymousId)), QByteArray(R"({"analytics.anonymousId":")") + anon.toLatin1() + "\"}");

    QFile::remove(storage.path(Key::anonymousId));
    EXPECT_EQ(manager.getAnonymousId(), anon) << "answered from memory";

    manager.setDistinctId("user@example");
    EXPECT_EQ(manager.getDeviceId(), anon) << "the device id is the anonymous id of its first use";
    manager.reset(false, true);
    EXPECT_NE(manager.getAnonymousId(), anon);
    EXPECT_EQ(manager.getDistinctId(), manager.getAnonymousId());
    EXPECT_EQ(manager.getDeviceId(), anon) << "a reset keeps the device id";

    AnalyticsStorageManager later(config);
    EXPECT_EQ(later.getDeviceId(), anon);
    EXPECT_EQ(later.getAnonymousId(), manager.getAnonymousId()) << "read back from its file";
}

TEST_F(AnalyticsStorageTest, PersonProcessingIsWrittenOnlyWhenItChanges)
{
    AnalyticsStorageManager manager(config);
    EXPECT_FALSE(manager.isPersonProcessing());
    manager.setPersonProcessing(true);
    EXPECT_TRUE(manager.isPersonProcessing());
    const QString path = manager.storage().path(Key::personProcessingEnabled);
    QFile::remove(path);
    manager.setPersonProcessing(true);
    EXPECT_FALSE(QFile::exists(path)) << "the same value is not written again";
    manager.setIdentified(true);
    EXPECT_TRUE(manager.isIdentified());
}

TEST_F(AnalyticsStorageTest, AnonymousIdPassesThroughTheConfiguredTransform)
{
    const QUuid fixed = QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555"));
    config.setGetAnonymousId([fixed](QUuid) { return fixed; });
    AnalyticsStorageManager manager(config);
    EXPECT_EQ(manager.getAnonymousId(), "11111111-2222-4333-8444-555555555555");
}

TEST(AnalyticsStorageHelpersTest, ParseBundleVersion)
{
    struct Case {
        const char* text;
        QVariant expected;
    };
    const Case cases[] = {
        {"12", 12LL},  {"+7", 7LL},   {"-3", -3LL},   {"1.0", "1.0"},
        {"1.2.3", "1.2.3"}, {"", ""}, {"12345678901234567890", "12345678901234567890"}, {"+", "+"},
        {"1a", "1a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseBundleVersion(QString::fromLatin1(c.text)), c.expected);
    }
    EXPECT_EQ(dateToMillis(QDateTime::fromMSecsSinceEpoch(-1500, Qt::UTC)), -1500);
}
