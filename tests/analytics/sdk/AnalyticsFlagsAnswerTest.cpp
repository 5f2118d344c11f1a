#include "analytics/flags/AnalyticsFlagsAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace analytics;
using namespace analytics::flags;

namespace {

QVariantMap json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object().toVariantMap();
}

} // namespace

TEST(AnalyticsFlagsAnswer, NormalisesPerFlagDetailsIntoValuesAndPayloads)
{
    struct Case {
        const char* name;
        const char* answer;
        const char* values;
        const char* payloads;
    };
    const Case cases[] = {
        {"enabled, disabled and variant flags",
         R"({"flags": {"a": {"enabled": true, "metadata": {"payload": "{\"x\": 1}"}},
                       "b": {"enabled": false, "metadata": {"payload": "1"}},
                       "c": {"variant": "red", "enabled": true}}})",
         R"({"a": true, "b": false, "c": "red"})", R"({"a": "{\"x\": 1}"})"},
        {"variant keeps its payload", R"({"flags": {"v": {"variant": "x", "enabled": false, "metadata": {"payload": 2}}}})",
         R"({"v": "x"})", R"({"v": 2})"},
        {"details without a value or not an object are skipped",
         R"({"flags": {"n": {"enabled": "yes"}, "s": "on", "m": {"metadata": {"payload": 3}}}})", "{}", "{}"},
        {"flat lists from the answer are replaced",
         R"({"flags": {"a": {"enabled": true}}, "featureFlags": {"z": true}, "featureFlagPayloads": {"z": 1}})",
         R"({"a": true})", "{}"},
        {"answer without per-flag details stays flat", R"({"featureFlags": {"z": "v"}, "featureFlagPayloads": {}})",
         R"({"z": "v"})", "{}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QVariantMap normalized = normalizeResponse(json(c.answer));
        EXPECT_EQ(normalized.value("featureFlags").toMap(), json(c.values));
        EXPECT_EQ(normalized.value("featureFlagPayloads").toMap(), json(c.payloads));
    }
}

TEST(AnalyticsFlagsAnswer, ReadsOnlyAnswersWithBothFlatObjects)
{
    EXPECT_FALSE(readFlagsAnswer(json(R"({"featureFlags": {"a": true}})")));
    EXPECT_FALSE(readFlagsAnswer(json(R"({"featureFlags": [], "featureFlagPayloads": {}})")));
    const auto answer = readFlagsAnswer(json(R"({"featureFlags": {"a": true}, "featureFlagPayloads": {},
        "requestId": "r-1", "evaluatedAt": 1700000000123, "errorsWhileComputingFlags": true, "flags": {}})"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->requestId, QStringLiteral("r-1"));
    EXPECT_EQ(answer->evaluatedAt, 1700000000123);
    EXPECT_TRUE(answer->errorsWhileComputingFlags);
    EXPECT_TRUE(answer->flags);

    const auto loose = readFlagsAnswer(json(R"({"featureFlags": {}, "featureFlagPayloads": {},
        "requestId": 5, "evaluatedAt": "soon", "errorsWhileComputingFlags": "yes"})"));
    ASSERT_TRUE(loose);
    EXPECT_FALSE(loose->requestId);
    EXPECT_FALSE(loose->evaluatedAt);
    EXPECT_FALSE(loose->errorsWhileComputingFlags);
    EXPECT_FALSE(loose->flags);
}

TEST(AnalyticsFlagsAnswer, QuotaLimitOnlyForFeatureFlags)
{
    EXPECT_TRUE(isQuotaLimited(json(R"({"quotaLimited": ["recordings", "feature_flags"]})")));
    EXPECT_FALSE(isQuotaLimited(json(R"({"quotaLimited": ["recordings"]})")));
    EXPECT_FALSE(isQuotaLimited(json(R"({"quotaLimited": "feature_flags"})")));
    EXPECT_FALSE(isQuotaLimited(json(R"({"quotaLimited": ["feature_flags", 3]})")));
}

TEST(AnalyticsFlagsAnswer, ResultFollowsTheValueAndParsesTextPayloads)
{
    struct Case {
        const char* name;
        std::optional<QVariant> value;
        std::optional<QVariant> payload;
        bool exists;
        bool enabled;
        std::optional<QString> variant;
        std::optional<QVariant> parsed;
    };
    const QVariantMap object{{"x", 1}};
    const Case cases[] = {
        {"no value, payload alone", std::nullopt, QVariant(1), false, false, {}, {}},
        {"true with object text", QVariant(true), QVariant(QStringLiteral("{\"x\": 1}")), true, true, {}, QVariant(object)},
        {"false", QVariant(false), std::nullopt, true, false, {}, {}},
        {"variant with fragment text", QVariant(QStringLiteral("red")), QVariant(QStringLiteral("7")), true, true,
         QStringLiteral("red"), QVariant(7)},
        {"text payload that is not JSON stays text", QVariant(true), QVariant(QStringLiteral("plain words")), true, true,
         {}, QVariant(QStringLiteral("plain words"))},
        {"number value is off", QVariant(3), std::nullopt, true, false, {}, {}},
        {"non-text payload kept", QVariant(true), QVariant(object), true, true, {}, QVariant(object)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = makeResult("k", c.value, c.payload);
        ASSERT_EQ(result.has_value(), c.exists);
        if (!result)
            continue;
        EXPECT_EQ(result->enabled(), c.enabled);
        EXPECT_EQ(result->variant(), c.variant);
        ASSERT_EQ(result->payload().has_value(), c.parsed.has_value());
        if (c.parsed) {
            EXPECT_EQ(QJsonValue::fromVariant(*result->payload()), QJsonValue::fromVariant(*c.parsed));
        }
    }
}

namespace {
struct Point {
    int a = 0;
    static std::optional<Point> fromJson(const QJsonValue& json)
    {
        if (!json.isObject() || !json.toObject().value("a").isDouble())
            return std::nullopt;
        return Point{json.toObject().value("a").toInt()};
    }
};
} // namespace

TEST(AnalyticsFlagsAnswer, PayloadDecodesIntoATypeOrNothing)
{
    const auto withA = makeResult("k", QVariant(true), QVariant(QStringLiteral(R"({"a": 1})")));
    ASSERT_TRUE(withA);
    ASSERT_TRUE(withA->payloadAs<Point>());
    EXPECT_EQ(withA->payloadAs<Point>()->a, 1);
    const auto withoutA = makeResult("k", QVariant(true), QVariant(QStringLiteral(R"({"b": 1})")));
    EXPECT_FALSE(withoutA->payloadAs<Point>());
    EXPECT_FALSE(makeResult("k", QVariant(true), std::nullopt)->payloadAs<Point>());
}

TEST(AnalyticsFlagsAnswer, ReportedValuesMatchOnlyNoneBooleansAndTexts)
{
    struct Case {
        const char* name;
        std::optional<QVariant> a, b;
        bool same;
    };
    const Case cases[] = {
        {"both none", std::nullopt, std::nullopt, true},
        {"none and false", std::nullopt, QVariant(false), false},
        {"equal Booleans", QVariant(true), QVariant(true), true},
        {"different Booleans", QVariant(true), QVariant(false), false},
        {"equal texts", QVariant(QStringLiteral("red")), QVariant(QStringLiteral("red")), true},
        {"text and Boolean", QVariant(QStringLiteral("true")), QVariant(true), false},
        {"equal numbers never match", QVariant(1), QVariant(1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sameReportedValue(c.a, c.b), c.same);
    }
}

TEST(AnalyticsFlagsAnswer, RecordingFollowsTheLinkedFlag)
{
    struct Case {
        const char* name;
        const char* settings;
        bool active;
        int reports;
    };
    const QVariantMap flags = json(R"({"on": true, "off": false, "multi": "blue"})");
    const Case cases[] = {
        {"no settings", "{}", true, 0},
        {"no linked flag", R"({"endpoint": "/s/"})", true, 0},
        {"linked Boolean on", R"({"linkedFlag": "on"})", true, 1},
        {"linked Boolean off", R"({"linkedFlag": "off"})", false, 1},
        {"linked variant", R"({"linkedFlag": "multi"})", true, 1},
        {"linked unknown", R"({"linkedFlag": "gone"})", false, 0},
        {"variant matches", R"({"linkedFlag": {"flag": "multi", "variant": "blue"}})", true, 1},
        {"variant differs", R"({"linkedFlag": {"flag": "multi", "variant": "red"}})", false, 1},
        {"variant of Boolean flag", R"({"linkedFlag": {"flag": "on", "variant": "x"}})", false, 0},
        {"incomplete link", R"({"linkedFlag": {"flag": "multi"}})", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int reports = 0;
        EXPECT_EQ(isRecordingActive(flags, json(c.settings), [&](const QString&, const QVariant&) { ++reports; }),
                  c.active);
        EXPECT_EQ(reports, c.reports);
    }
}
