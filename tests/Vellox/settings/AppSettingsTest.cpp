#include "SettingsTestSupport.h"

#include "Vellox/settings/AppSettings.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include <gtest/gtest.h>

using settings_test::builtIn;
using settings_test::customPreset;
using settings_test::defaultsWith;

namespace {

const char* const kCustomId = "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11";
const char* const kOtherCustomId = "9B2E7C1D-3F4A-4B5C-8D6E-7F8091A2B3C4";

// A preset as stored JSON.
std::string presetJson(const char* id, const char* name)
{
    return std::string(R"({"id":")") + id + R"(","name":")" + name + R"(","instruction":"Do something."})";
}

QList<TonePreset> presets(std::initializer_list<TonePreset> list)
{
    return QList<TonePreset>(list);
}

} // namespace

TEST(AppSettings, DefaultRecordMatchesTheDocumentedDefaults)
{
    const AppSettings settings;
    EXPECT_TRUE(settings.enabled);
    EXPECT_EQ(settings.tonePresets, TonePreset::builtIns());
    EXPECT_EQ(settings.defaultTonePresetId, builtIn(1).id);
    EXPECT_FALSE(settings.askToneEachTime);
    EXPECT_FALSE(settings.askAICommandEachTime);
    EXPECT_FALSE(settings.silentRewrite);
    EXPECT_EQ(settings.provider, ProviderId::openaiCompatible);
    EXPECT_EQ(settings.model, u"gpt-4o-mini");
    EXPECT_EQ(settings.apiBaseURL, u"");
}

TEST(AppSettings, DecodesRecords)
{
    struct Case {
        const char* name;
        std::string input;
        AppSettings expected;
    };
    const std::string custom = presetJson(kCustomId, "Mine");
    const std::string other = presetJson(kOtherCustomId, "Theirs");
    const Case cases[] = {
        {"empty object is the default record", "{}", AppSettings()},
        {"null counts as absent for every key",
         R"({"enabled":null,"tonePresets":null,"defaultTonePresetId":null,"askToneEachTime":null,
             "askAICommandEachTime":null,"askCustomInstructionEachTime":null,"silentRewrite":null,
             "provider":null,"model":null,"apiBaseURL":null,"defaultTone":null})",
         AppSettings()},
        {"unknown keys are ignored", R"({"somethingNew":[1,2,3],"enabled":false})",
         defaultsWith([](AppSettings& s) { s.enabled = false; })},
        {"every current key",
         R"({"enabled":false,"tonePresets":[)" + custom + "," + other + R"(],"defaultTonePresetId":")" +
             kOtherCustomId +
             R"(","askToneEachTime":true,"askAICommandEachTime":true,"silentRewrite":true,
             "provider":"anthropic","model":"claude-x","apiBaseURL":"https://example.test/v1/"})",
         defaultsWith([](AppSettings& s) {
             s.enabled = false;
             s.tonePresets = presets({customPreset(kCustomId, "Mine"), customPreset(kOtherCustomId, "Theirs")});
             s.defaultTonePresetId = *TonePreset::idFromText(QString::fromLatin1(kOtherCustomId));
             s.askToneEachTime = true;
             s.askAICommandEachTime = true;
             s.silentRewrite = true;
             s.provider = ProviderId::anthropic;
             s.model = QStringLiteral("claude-x");
             s.apiBaseURL = QStringLiteral("https://example.test/v1/");
         })},
        {"lower-case ids are read", R"({"tonePresets":[)" + presetJson("5d4c1a52-95f4-4e55-9c0b-0b7c4d1f0a11", "Mine") +
                                        R"(],"defaultTonePresetId":"5d4c1a52-95f4-4e55-9c0b-0b7c4d1f0a11"})",
         defaultsWith([](AppSettings& s) {
             s.tonePresets = presets({customPreset(kCustomId, "Mine")});
             s.defaultTonePresetId = *TonePreset::idFromText(QString::fromLatin1(kCustomId));
         })},
        {"null provider is the default provider", R"({"provider":null,"model":"m"})",
         defaultsWith([](AppSettings& s) { s.model = QStringLiteral("m"); })},
        {"each stored provider string", R"({"provider":"gemini"})",
         defaultsWith([](AppSettings& s) { s.provider = ProviderId::gemini; })},
        {"mock provider decodes as stored", R"({"provider":"mock","model":"anything"})",
         defaultsWith([](AppSettings& s) {
             s.provider = ProviderId::mock;
             s.model = QStringLiteral("anything");
         })},
        {"texts keep non-ASCII characters", R"({"model":"mod\u00e8le \u2014 \ud83d\ude00"})",
         defaultsWith([](AppSettings& s) { s.model = QStringLiteral("mod\u00e8le \u2014 \U0001F600"); })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AppSettings> decoded = AppSettings::fromJson(QByteArray::fromStdString(c.input));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(*decoded, c.expected);
    }
}

TEST(AppSettings, WrongTypesFailTheWholeRecord)
{
    struct Case {
        const char* name;
        std::string input;
    };
    const std::string custom = presetJson(kCustomId, "Mine");
    const Case cases[] = {
        {"not JSON", "{\"enabled\": tru"},
        {"empty input", ""},
        {"top level is an array", "[]"},
        {"top level is a string", "\"{}\""},
        {"enabled as string", R"({"enabled":"true"})"},
        {"enabled as JSON 1", R"({"enabled":1})"},
        {"enabled as JSON 0", R"({"enabled":0})"},
        {"askToneEachTime as 1", R"({"askToneEachTime":1})"},
        {"askAICommandEachTime as 1", R"({"askAICommandEachTime":1})"},
        {"legacy ask switch as 1 when reached", R"({"askCustomInstructionEachTime":1})"},
        {"silentRewrite as string", R"({"silentRewrite":"no"})"},
        {"provider as number", R"({"provider":2})"},
        {"provider outside the four", R"({"provider":"openai"})"},
        {"provider in other case", R"({"provider":"Gemini"})"},
        {"model as number", R"({"model":4})"},
        {"apiBaseURL as Boolean", R"({"apiBaseURL":false})"},
        {"valid record with one bad field", R"({"enabled":true,"model":"gpt-4o","silentRewrite":[]})"},
        {"tonePresets as object", R"({"tonePresets":{}})"},
        {"preset that is not an object", R"({"tonePresets":[1]})"},
        {"preset without name", R"({"tonePresets":[{"id":")" + std::string(kCustomId) + R"(","instruction":"x"}]})"},
        {"preset with null name",
         R"({"tonePresets":[{"id":")" + std::string(kCustomId) + R"(","name":null,"instruction":"x"}]})"},
        {"preset with numeric instruction",
         R"({"tonePresets":[{"id":")" + std::string(kCustomId) + R"(","name":"n","instruction":1}]})"},
        {"preset id with braces", R"({"tonePresets":[)" + presetJson("{5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11}", "x") +
                                      "]}"},
        {"preset id not a UUID", R"({"tonePresets":[)" + presetJson("not-a-uuid", "x") + "]}"},
        {"stored list dropped by a legacy tone still fails",
         R"({"tonePresets":[1],"defaultTone":"casual"})"},
        {"default id not a UUID", R"({"tonePresets":[)" + custom + R"(],"defaultTonePresetId":"nope"})"},
        {"default id as number", R"({"tonePresets":[],"defaultTonePresetId":7})"},
        {"default id read without a list", R"({"defaultTonePresetId":"5D4C1A52"})"},
        {"legacy tone outside the five", R"({"defaultTone":"bold"})"},
        {"legacy tone as number", R"({"defaultTone":1})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AppSettings::fromJson(QByteArray::fromStdString(c.input)), std::nullopt);
    }
}

TEST(AppSettings, KeysTheReadingOrderNeverReachesAreNotChecked)
{
    struct Case {
        const char* name;
        std::string input;
    };
    const Case cases[] = {
        {"legacy tone beside current tones",
         R"({"tonePresets":[],"defaultTonePresetId":")" + std::string(kCustomId) + R"(","defaultTone":"bold"})"},
        {"legacy ask switch beside the current one", R"({"askAICommandEachTime":false,"askCustomInstructionEachTime":7})"},
        {"default id beside a legacy tone without a list", R"({"defaultTonePresetId":"junk","defaultTone":"casual"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(AppSettings::fromJson(QByteArray::fromStdString(c.input)).has_value());
    }
}

TEST(AppSettings, DecodesLegacyKeys)
{
    struct Case {
        const char* name;
        std::string input;
        AppSettings expected;
    };
    const std::string custom = presetJson(kCustomId, "Mine");
    const QUuid customId = *TonePreset::idFromText(QString::fromLatin1(kCustomId));
    const auto askCommand = [](bool on) { return defaultsWith([on](AppSettings& s) { s.askAICommandEachTime = on; }); };
    const auto defaultTone = [](int preset) {
        return defaultsWith([preset](AppSettings& s) { s.defaultTonePresetId = builtIn(preset).id; });
    };
    const Case cases[] = {
        {"current ask switch wins over legacy", R"({"askAICommandEachTime":false,"askCustomInstructionEachTime":true})",
         askCommand(false)},
        {"legacy ask switch when current absent", R"({"askCustomInstructionEachTime":true})", askCommand(true)},
        {"legacy ask switch when current null", R"({"askAICommandEachTime":null,"askCustomInstructionEachTime":true})",
         askCommand(true)},
        {"legacy ask switch null", R"({"askCustomInstructionEachTime":null})", askCommand(false)},
        {"legacy tone professional", R"({"defaultTone":"professional"})", defaultTone(1)},
        {"legacy tone casual", R"({"defaultTone":"casual"})", defaultTone(2)},
        {"legacy tone friendly", R"({"defaultTone":"friendly"})", defaultTone(3)},
        {"legacy tone concise", R"({"defaultTone":"concise"})", defaultTone(4)},
        {"legacy tone assertive is Confident", R"({"defaultTone":"assertive"})", defaultTone(5)},
        {"legacy tone drops a stored list without default id",
         R"({"tonePresets":[)" + custom + R"(],"defaultTone":"assertive"})", defaultTone(5)},
        {"legacy tone wins over a default id without a list",
         R"({"defaultTonePresetId":")" + std::string(kCustomId) + R"(","defaultTone":"casual"})", defaultTone(2)},
        {"legacy tone ignored when both current keys exist",
         R"({"tonePresets":[)" + custom + R"(],"defaultTonePresetId":")" + kCustomId + R"(","defaultTone":"casual"})",
         defaultsWith([&](AppSettings& s) {
             s.tonePresets = presets({customPreset(kCustomId, "Mine")});
             s.defaultTonePresetId = customId;
         })},
        {"empty list with default id becomes the built-ins",
         R"({"tonePresets":[],"defaultTonePresetId":")" + std::string(kCustomId) + R"("})",
         defaultsWith([&](AppSettings& s) { s.defaultTonePresetId = customId; })},
        {"empty list without any default stays empty", R"({"tonePresets":[]})",
         defaultsWith([](AppSettings& s) { s.tonePresets.clear(); })},
        {"list without default id takes the first built-in id", R"({"tonePresets":[)" + custom + "]}",
         defaultsWith([](AppSettings& s) { s.tonePresets = presets({customPreset(kCustomId, "Mine")}); })},
        {"default id without list keeps the built-ins",
         R"({"defaultTonePresetId":"00000000-0000-4000-8000-000000000009"})", defaultTone(9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AppSettings> decoded = AppSettings::fromJson(QByteArray::fromStdString(c.input));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(*decoded, c.expected);
    }
}

TEST(AppSettings, EncodesTheNineCurrentKeysWithUpperCaseIds)
{
    AppSettings settings = defaultsWith([](AppSettings& s) {
        s.tonePresets = presets({customPreset("5d4c1a52-95f4-4e55-9c0b-0b7c4d1f0a11", "Mine \"quoted\""), builtIn(2)});
        s.defaultTonePresetId = builtIn(2).id;
        s.askAICommandEachTime = true;
        s.provider = ProviderId::gemini;
        s.model = QStringLiteral("gemini-2.5-pro");
        s.apiBaseURL = QStringLiteral("http://127.0.0.1:1/");
    });
    const QByteArray encoded = settings.toJson();
    const nlohmann::json object = nlohmann::json::parse(encoded.toStdString());

    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"apiBaseURL", "askAICommandEachTime", "askToneEachTime",
                                              "defaultTonePresetId", "enabled", "model", "provider", "silentRewrite",
                                              "tonePresets"}));
    EXPECT_EQ(object["provider"], "gemini");
    EXPECT_EQ(object["askAICommandEachTime"], true);
    EXPECT_EQ(object["defaultTonePresetId"], "00000000-0000-4000-8000-000000000002");
    EXPECT_EQ(object["tonePresets"][0]["id"], "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11");
    EXPECT_EQ(object["tonePresets"][0].size(), 3U);
    EXPECT_FALSE(encoded.contains('\n'));

    EXPECT_EQ(AppSettings::fromJson(encoded), settings);
    EXPECT_EQ(AppSettings::fromJson(AppSettings().toJson()), AppSettings());
}

TEST(AppSettings, EncodesAnEmptyPresetListSoItReadsBackEmpty)
{
    // Writers normally repair first; the encoding itself must still be
    // faithful for whatever it is given.
    AppSettings settings;
    settings.tonePresets.clear();
    const nlohmann::json object = nlohmann::json::parse(settings.toJson().toStdString());
    EXPECT_TRUE(object["tonePresets"].is_array());
    EXPECT_TRUE(object["tonePresets"].empty());
}

TEST(AppSettings, NormalizesToTheBuiltInCatalogue)
{
    struct Case {
        const char* name;
        QList<TonePreset> presets;
        QUuid defaultId;
        QList<TonePreset> expectedPresets;
        QUuid expectedDefault;
    };
    QList<TonePreset> reordered = TonePreset::builtIns();
    std::reverse(reordered.begin(), reordered.end());
    reordered[0].name = QStringLiteral("Renamed");
    reordered[3].instruction = QStringLiteral("Edited.");
    QList<TonePreset> seventeen = TonePreset::builtIns();
    seventeen.removeLast();
    QList<TonePreset> duplicated = TonePreset::builtIns();
    duplicated[17] = builtIn(1);
    QList<TonePreset> renamedFourth{builtIn(1), builtIn(4)};
    renamedFourth[1].name = QStringLiteral("Professional");
    const QUuid customId = *TonePreset::idFromText(QString::fromLatin1(kCustomId));
    const QUuid unknownId = *TonePreset::idFromText(QString::fromLatin1(kOtherCustomId));
    const QList<TonePreset>& catalogue = TonePreset::builtIns();

    const Case cases[] = {
        {"all eighteen ids in another order survive unchanged", reordered, builtIn(9).id, reordered, builtIn(9).id},
        {"all eighteen ids with a missing default pick the first stored", reordered, unknownId, reordered,
         reordered[0].id},
        {"seventeen built-ins are replaced, default kept", seventeen, builtIn(7).id, catalogue, builtIn(7).id},
        {"a duplicate id is replaced", duplicated, builtIn(3).id, catalogue, builtIn(3).id},
        {"custom default named Assertive becomes Confident", {customPreset(kCustomId, "Assertive")}, customId,
         catalogue, builtIn(5).id},
        {"custom default named like a built-in keeps it by name", {customPreset(kCustomId, "Casual")}, customId,
         catalogue, builtIn(2).id},
        {"name match is exact", {customPreset(kCustomId, "Casual ")}, customId, catalogue, builtIn(1).id},
        {"name match is case-sensitive", {customPreset(kCustomId, "casual")}, customId, catalogue, builtIn(1).id},
        {"stored name of the default wins over its id", renamedFourth, builtIn(4).id, catalogue, builtIn(1).id},
        {"default missing from list but a built-in id", {customPreset(kCustomId, "Mine")}, builtIn(9).id, catalogue,
         builtIn(9).id},
        {"default unknown everywhere", {customPreset(kCustomId, "Mine")}, unknownId, catalogue, builtIn(1).id},
        {"empty list", {}, builtIn(12).id, catalogue, builtIn(12).id},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.tonePresets = c.presets;
        settings.defaultTonePresetId = c.defaultId;
        settings.normalizeToBuiltInToneCatalog();
        EXPECT_EQ(settings.tonePresets, c.expectedPresets);
        EXPECT_EQ(settings.defaultTonePresetId, c.expectedDefault);
    }
}

TEST(AppSettings, EnsuresAValidDefaultTone)
{
    struct Case {
        const char* name;
        QList<TonePreset> presets;
        QUuid defaultId;
        QList<TonePreset> expectedPresets;
        QUuid expectedDefault;
    };
    const TonePreset mine = customPreset(kCustomId, "Mine");
    const TonePreset theirs = customPreset(kOtherCustomId, "Theirs");
    const Case cases[] = {
        {"valid default is kept", {mine, theirs}, theirs.id, {mine, theirs}, theirs.id},
        {"missing default becomes the first preset", {mine, theirs}, builtIn(1).id, {mine, theirs}, mine.id},
        {"empty list becomes the built-ins with Professional", {}, builtIn(3).id, TonePreset::builtIns(),
         builtIn(1).id},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.tonePresets = c.presets;
        settings.defaultTonePresetId = c.defaultId;
        settings.ensureValidDefaultTone();
        EXPECT_EQ(settings.tonePresets, c.expectedPresets);
        EXPECT_EQ(settings.defaultTonePresetId, c.expectedDefault);
    }
}

TEST(AppSettings, ListsTheDefaultPresetFirst)
{
    struct Case {
        const char* name;
        QList<TonePreset> presets;
        QUuid defaultId;
        QList<TonePreset> expected;
    };
    const TonePreset a = builtIn(1);
    const TonePreset b = builtIn(2);
    const TonePreset c3 = builtIn(3);
    TonePreset c3Again = c3;
    c3Again.name = QStringLiteral("Duplicate");
    const Case cases[] = {
        {"default moves to the front", {a, b, c3}, c3.id, {c3, a, b}},
        {"default already first", {a, b, c3}, a.id, {a, b, c3}},
        {"default not in the list", {a, b, c3}, builtIn(9).id, {a, b, c3}},
        {"duplicated default id is listed once", {a, c3, b, c3Again}, c3.id, {c3, a, b}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.tonePresets = c.presets;
        settings.defaultTonePresetId = c.defaultId;
        EXPECT_EQ(settings.tonePresetsWithDefaultFirst(), c.expected);
    }
}

TEST(AppSettings, EqualityComparesEveryField)
{
    const std::function<void(AppSettings&)> changes[] = {
        [](AppSettings& s) { s.enabled = false; },
        [](AppSettings& s) { std::swap(s.tonePresets[0], s.tonePresets[1]); },
        [](AppSettings& s) { s.defaultTonePresetId = builtIn(2).id; },
        [](AppSettings& s) { s.askToneEachTime = true; },
        [](AppSettings& s) { s.askAICommandEachTime = true; },
        [](AppSettings& s) { s.silentRewrite = true; },
        [](AppSettings& s) { s.provider = ProviderId::mock; },
        [](AppSettings& s) { s.model = QStringLiteral("o3"); },
        [](AppSettings& s) { s.apiBaseURL = QStringLiteral("x"); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(defaultsWith(changes[i]), AppSettings());
    }
}

TEST(AppSettings, TheWaysToPickTheInstructionExcludeEachOther)
{
    struct Case {
        const char* name;
        bool askTone;
        bool describe;
        std::function<void(AppSettings&)> change;
        bool expectedAskTone;
        bool expectedDescribe;
    };
    const Case cases[] = {
        {"asking for a tone ends describing", false, true, [](AppSettings& s) { s.setAskToneEachTime(true); }, true,
         false},
        {"describing ends asking for a tone", true, false, [](AppSettings& s) { s.setAskAICommandEachTime(true); },
         false, true},
        {"turning one off leaves the other", false, true, [](AppSettings& s) { s.setAskToneEachTime(false); }, false,
         true},
        {"a default tone ends both", true, false, [](AppSettings& s) { s.useDefaultTone(builtIn(2).id); }, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.askToneEachTime = c.askTone;
        settings.askAICommandEachTime = c.describe;
        c.change(settings);
        EXPECT_EQ(settings.askToneEachTime, c.expectedAskTone);
        EXPECT_EQ(settings.askAICommandEachTime, c.expectedDescribe);
    }
    AppSettings chosen;
    chosen.useDefaultTone(builtIn(2).id);
    EXPECT_EQ(chosen.defaultTonePresetId, builtIn(2).id);
}
