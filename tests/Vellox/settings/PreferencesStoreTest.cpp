#include "SettingsTestSupport.h"

#include "Vellox/settings/PreferencesStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakePlatform.h"

#include <QSignalSpy>

#include <algorithm>

#include <gtest/gtest.h>

using settings_test::builtIn;
using settings_test::defaultsWith;

namespace {

const QString kSettingsKey = QString::fromLatin1(PreferencesStore::settingsKey);
const QString kUnreadableKey = QString::fromLatin1(PreferencesStore::unreadableSettingsKey);
const QString kHistoryKey = QString::fromLatin1(PreferencesStore::legacyHistoryKey);

class PreferencesStoreTest : public ::testing::Test {
protected:
    PreferencesStoreTest() { PreferencesStore::resetSharedForTesting(); }
    ~PreferencesStoreTest() override { PreferencesStore::resetSharedForTesting(); }

    platform::fake::FakeDefaults& defaults()
    {
        return platform::fake::as<platform::fake::FakeDefaults>(guard.platform().defaults);
    }

    void putStored(const QByteArray& json) { defaults().setValue(kSettingsKey, json); }

    QByteArray stored() { return defaults().value(kSettingsKey).toByteArray(); }

    std::optional<AppSettings> storedSettings() { return AppSettings::fromJson(stored()); }

    platform::PlatformGuard guard;
};

} // namespace

TEST_F(PreferencesStoreTest, NothingStoredGivesDefaultsWithoutWriting)
{
    EXPECT_EQ(PreferencesStore::readSettings(), AppSettings());
    EXPECT_EQ(defaults().writeCount(), 0);
    EXPECT_FALSE(defaults().contains(kSettingsKey));
}

TEST_F(PreferencesStoreTest, StoredEmptyObjectIsLeftAsStored)
{
    putStored("{}");
    EXPECT_EQ(PreferencesStore::readSettings(), AppSettings());
    EXPECT_EQ(defaults().writeCount(kSettingsKey), 1);
    EXPECT_EQ(stored(), QByteArray("{}"));
}

TEST_F(PreferencesStoreTest, CleanRecordIsNotWrittenBack)
{
    const AppSettings clean = defaultsWith([](AppSettings& s) {
        std::reverse(s.tonePresets.begin(), s.tonePresets.end());
        s.tonePresets[2].name = QStringLiteral("My Casual");
        s.defaultTonePresetId = builtIn(14).id;
        s.askAICommandEachTime = true;
        s.provider = ProviderId::anthropic;
        s.model = QStringLiteral("claude-3-7-sonnet-20250219");
    });
    putStored(clean.toJson());
    EXPECT_EQ(PreferencesStore::readSettings(), clean);
    EXPECT_EQ(defaults().writeCount(kSettingsKey), 1);
}

TEST_F(PreferencesStoreTest, RepairsStoredRecordsAndWritesBackOnlyWhatChanged)
{
    struct Case {
        const char* name;
        std::string input;
        AppSettings expected;
        bool writtenBack;
    };
    const Case cases[] = {
        {"mock provider becomes the default provider and model", R"({"provider":"mock","model":"o3"})",
         AppSettings(), true},
        {"retired model is replaced", R"({"provider":"openai-compatible","model":"gpt-4-turbo"})", AppSettings(),
         true},
        {"retired gemini model is replaced", R"({"provider":"gemini","model":"gemini-2.0-flash"})",
         defaultsWith([](AppSettings& s) {
             s.provider = ProviderId::gemini;
             s.model = QStringLiteral("gemini-2.5-flash");
         }),
         true},
        {"both ask switches keep only the tone picker", R"({"askToneEachTime":true,"askAICommandEachTime":true})",
         defaultsWith([](AppSettings& s) { s.askToneEachTime = true; }), true},
        {"custom presets are replaced by the catalogue",
         R"({"tonePresets":[{"id":"5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11","name":"Assertive","instruction":"x"}],
             "defaultTonePresetId":"5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11"})",
         defaultsWith([](AppSettings& s) { s.defaultTonePresetId = builtIn(5).id; }), true},
        {"empty preset list is restored", R"({"tonePresets":[]})", AppSettings(), true},
        // The decoded record already needs no repair, so the older form stays
        // stored until the next assignment.
        {"legacy keys alone are not rewritten", R"({"askCustomInstructionEachTime":true,"defaultTone":"concise"})",
         defaultsWith([](AppSettings& s) {
             s.askAICommandEachTime = true;
             s.defaultTonePresetId = builtIn(4).id;
         }),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard fresh;
        auto& fakeDefaults = platform::fake::as<platform::fake::FakeDefaults>(fresh.platform().defaults);
        fakeDefaults.setValue(kSettingsKey, QByteArray::fromStdString(c.input));

        const int expectedWrites = c.writtenBack ? 2 : 1;
        EXPECT_EQ(PreferencesStore::readSettings(), c.expected);
        EXPECT_EQ(fakeDefaults.writeCount(kSettingsKey), expectedWrites);
        EXPECT_EQ(AppSettings::fromJson(fakeDefaults.value(kSettingsKey).toByteArray()), c.expected);

        // The result is stable: reading again finds nothing to change.
        EXPECT_EQ(PreferencesStore::readSettings(), c.expected);
        EXPECT_EQ(fakeDefaults.writeCount(kSettingsKey), expectedWrites);
    }
}

TEST_F(PreferencesStoreTest, UndecodableSettingsAreKeptBeforeAnythingOverwritesThem)
{
    const QByteArray bad(R"({"provider":"mistral","enabled":false})");
    putStored(bad);

    EXPECT_EQ(PreferencesStore::readSettings(), AppSettings());
    EXPECT_EQ(stored(), bad);
    EXPECT_EQ(defaults().value(kUnreadableKey), QVariant(bad));

    // Reading again copies nothing new.
    EXPECT_EQ(PreferencesStore::readSettings(), AppSettings());
    EXPECT_EQ(defaults().writeCount(kUnreadableKey), 1);
    EXPECT_EQ(defaults().writeCount(kSettingsKey), 1);

    // The first assignment replaces the stored settings; the copy survives.
    PreferencesStore::shared().setSettings(defaultsWith([](AppSettings& s) { s.silentRewrite = true; }));
    EXPECT_TRUE(storedSettings()->silentRewrite);
    EXPECT_EQ(defaults().value(kUnreadableKey), QVariant(bad));
}

TEST_F(PreferencesStoreTest, NewerUndecodableSettingsReplaceAnOlderCopy)
{
    const QByteArray first("not json");
    const QByteArray second("{\"enabled\":1}");
    putStored(first);
    PreferencesStore::readSettings();
    putStored(second);
    PreferencesStore::readSettings();
    EXPECT_EQ(defaults().value(kUnreadableKey), QVariant(second));
    EXPECT_EQ(defaults().writeCount(kUnreadableKey), 2);
}

TEST_F(PreferencesStoreTest, StoredValueOfAnotherTypeIsKeptLikeUndecodableData)
{
    struct Case {
        const char* name;
        QVariant value;
    };
    const Case cases[] = {
        {"a string is not data", QStringLiteral("{\"enabled\":false}")},
        {"a dictionary is not data", QVariantMap{{"enabled", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard fresh;
        PreferencesStore::resetSharedForTesting();
        auto& fakeDefaults = platform::fake::as<platform::fake::FakeDefaults>(fresh.platform().defaults);
        fakeDefaults.setValue(kSettingsKey, c.value);

        EXPECT_EQ(PreferencesStore::readSettings(), AppSettings());
        EXPECT_EQ(fakeDefaults.value(kSettingsKey), c.value);
        EXPECT_EQ(fakeDefaults.value(kUnreadableKey), c.value);
        PreferencesStore::shared().setSettings(AppSettings());
        EXPECT_EQ(fakeDefaults.value(kUnreadableKey), c.value);
        PreferencesStore::resetSharedForTesting();
    }
}

TEST_F(PreferencesStoreTest, FirstUseRemovesHistoryAndWritesNothingElse)
{
    defaults().setValue(kHistoryKey, QVariantList{"old", "entries"});
    defaults().setValue(QStringLiteral("vellox.usage.todayCount"), 3);
    const int writesBefore = defaults().writeCount();

    const AppSettings& settings = PreferencesStore::shared().settings();

    EXPECT_EQ(settings, AppSettings());
    EXPECT_FALSE(defaults().contains(kHistoryKey));
    EXPECT_EQ(defaults().keys(), QStringList{"vellox.usage.todayCount"});
    EXPECT_EQ(defaults().writeCount(), writesBefore + 1);
}

TEST_F(PreferencesStoreTest, FirstLaunchWritesNothingUntilTheFirstAssignment)
{
    PreferencesStore& store = PreferencesStore::shared();
    EXPECT_EQ(store.settings(), AppSettings());
    EXPECT_EQ(defaults().writeCount(), 0);

    store.setSettings(store.settings());
    EXPECT_EQ(storedSettings(), AppSettings());
}

TEST_F(PreferencesStoreTest, SharedStoreStartsFromTheRepairedStoredRecord)
{
    putStored(R"({"provider":"mock","enabled":false})");
    EXPECT_EQ(PreferencesStore::shared().settings(), defaultsWith([](AppSettings& s) { s.enabled = false; }));
    EXPECT_EQ(storedSettings(), PreferencesStore::shared().settings());
}

TEST_F(PreferencesStoreTest, EveryAssignmentNotifiesAndWritesEvenWhenEqual)
{
    PreferencesStore& store = PreferencesStore::shared();
    std::vector<std::string> events;
    QObject::connect(&store, &PreferencesStore::settingsAboutToChange, [&] {
        events.push_back("about:" + std::string(store.settings().enabled ? "on" : "off") + ":" +
                         std::to_string(defaults().writeCount(kSettingsKey)));
    });
    QObject::connect(&store, &PreferencesStore::settingsChanged, [&] {
        events.push_back("changed:" + std::string(store.settings().enabled ? "on" : "off") + ":" +
                         std::to_string(defaults().writeCount(kSettingsKey)));
    });

    const AppSettings off = defaultsWith([](AppSettings& s) { s.enabled = false; });
    store.setSettings(off);
    store.setSettings(off);

    // Observers see the old value before, and the new value already stored after.
    EXPECT_EQ(events, (std::vector<std::string>{"about:on:0", "changed:off:1", "about:off:1", "changed:off:2"}));
    EXPECT_EQ(storedSettings(), off);
}

TEST_F(PreferencesStoreTest, SettingsPropertyIsObservable)
{
    PreferencesStore& store = PreferencesStore::shared();
    QSignalSpy spy(&store, &PreferencesStore::settingsChanged);
    const AppSettings silent = defaultsWith([](AppSettings& s) { s.silentRewrite = true; });
    EXPECT_TRUE(store.setProperty("settings", QVariant::fromValue(silent)));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(store.property("settings").value<AppSettings>(), silent);
}

TEST_F(PreferencesStoreTest, UpdateAppliesTheStoreRules)
{
    struct Case {
        const char* name;
        std::function<void(AppSettings&)> mutation;
        AppSettings expected;
    };
    const Case cases[] = {
        {"emptied presets come back with Professional",
         [](AppSettings& s) {
             s.tonePresets.clear();
             s.defaultTonePresetId = builtIn(6).id;
         },
         AppSettings()},
        {"both ask switches keep only the tone picker",
         [](AppSettings& s) {
             s.askToneEachTime = true;
             s.askAICommandEachTime = true;
         },
         defaultsWith([](AppSettings& s) { s.askToneEachTime = true; })},
        {"switching to the instruction panel turns the picker off",
         [](AppSettings& s) {
             s.askToneEachTime = false;
             s.askAICommandEachTime = true;
         },
         defaultsWith([](AppSettings& s) { s.askAICommandEachTime = true; })},
        {"default outside the list becomes the first preset",
         [](AppSettings& s) {
             s.tonePresets = {builtIn(3), builtIn(4)};
             s.defaultTonePresetId = builtIn(9).id;
         },
         defaultsWith([](AppSettings& s) {
             s.tonePresets = {builtIn(3), builtIn(4)};
             s.defaultTonePresetId = builtIn(3).id;
         })},
        {"custom presets are not normalised away",
         [](AppSettings& s) { s.tonePresets = {settings_test::customPreset("5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11", "Mine")}; },
         defaultsWith([](AppSettings& s) {
             s.tonePresets = {settings_test::customPreset("5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11", "Mine")};
             s.defaultTonePresetId = s.tonePresets.first().id;
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreferencesStore::resetSharedForTesting();
        platform::PlatformGuard fresh;
        PreferencesStore& store = PreferencesStore::shared();
        QSignalSpy spy(&store, &PreferencesStore::settingsChanged);
        store.updateSettings(c.mutation);
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(store.settings(), c.expected);
        EXPECT_EQ(AppSettings::fromJson(platform::Platform::current().defaults->value(kSettingsKey).toByteArray()),
                  c.expected);
        PreferencesStore::resetSharedForTesting();
    }
}
