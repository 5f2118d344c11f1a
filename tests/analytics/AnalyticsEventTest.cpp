#include "analytics/AnalyticsEvent.h"

#include "platform/Platform.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePlatform.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace analytics;

namespace {

QVariantMap parse(const char* json)
{
    return QJsonDocument::fromJson(json).object().toVariantMap();
}

} // namespace

TEST(AnalyticsEventTest, ToJsonHasExactlyTheWireKeys)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0190a1b2-c3d4-7e5f-8a6b-7c8d9e0f1a2b"));
    const QDateTime when(QDate(2024, 1, 31), QTime(12, 0, 0, 7), Qt::UTC);
    const AnalyticsEvent plain("rewrite_success", "user-1", {{"provider", "gemini"}}, when, id);
    const QVariantMap json = plain.toJSON();
    EXPECT_EQ(json.keys(), QStringList({"distinct_id", "event", "properties", "timestamp", "uuid"}));
    EXPECT_EQ(json["event"], "rewrite_success");
    EXPECT_EQ(json["distinct_id"], "user-1");
    EXPECT_EQ(json["properties"], QVariantMap({{"provider", "gemini"}}));
    EXPECT_EQ(json["timestamp"], "2024-01-31T12:00:00.007Z");
    EXPECT_EQ(json["uuid"], "0190A1B2-C3D4-7E5F-8A6B-7C8D9E0F1A2B");
    EXPECT_EQ(QJsonValue::fromVariant(json).toObject(), plain.toJsonObject());

    const AnalyticsEvent keyed("e", "d", {}, when, id, QStringLiteral("project"));
    EXPECT_EQ(keyed.toJSON().size(), 6);
    EXPECT_EQ(keyed.toJSON()["api_key"], "project");

    EXPECT_EQ(AnalyticsEvent::fromJSON(keyed.toJSON()), keyed) << "the stored form reads back as the same event";
}

TEST(AnalyticsEventTest, FromJsonReadsCurrentAndOlderForms)
{
    platform::PlatformGuard guard;
    const QDateTime now = guard.platform().clock->now();
    struct Case {
        const char* name;
        const char* json;
        bool exists;
        QString distinctId;
        std::optional<QString> uuid; // nothing: a fresh v7 id
        QDateTime timestamp;
        QVariantMap properties;
    };
    const QDateTime t(QDate(2024, 1, 31), QTime(12, 0, 0), Qt::UTC);
    const Case cases[] = {
        {"no event name", R"({"distinct_id":"d"})", false, {}, {}, {}, {}},
        {"event name not a string", R"({"event":1,"distinct_id":"d"})", false, {}, {}, {}, {}},
        {"no distinct id anywhere", R"({"event":"e","properties":{"a":1}})", false, {}, {}, {}, {}},
        {"distinct id only in properties", R"({"event":"e","properties":{"distinct_id":"p"}})", true, "p",
         std::nullopt, now, {{"distinct_id", "p"}}},
        {"message id of older versions", R"({"event":"e","distinct_id":"d","message_id":"0190a1b2-c3d4-7e5f-8a6b-7c8d9e0f1a2b"})",
         true, "d", "0190A1B2-C3D4-7E5F-8A6B-7C8D9E0F1A2B", now, {}},
        {"uuid that is not one", R"({"event":"e","distinct_id":"d","uuid":"nope"})", true, "d", std::nullopt, now, {}},
        {"whole seconds", R"({"event":"e","distinct_id":"d","timestamp":"2024-01-31T12:00:00Z"})", true, "d",
         std::nullopt, t, {}},
        {"timestamp a number", R"({"event":"e","distinct_id":"d","timestamp":1706702400})", true, "d", std::nullopt,
         now, {}},
        {"timestamp unparsable", R"({"event":"e","distinct_id":"d","timestamp":"yesterday"})", true, "d",
         std::nullopt, now, {}},
        {"top-level $set replaces the properties' one",
         R"({"event":"e","distinct_id":"d","properties":{"$set":{"old":1},"k":"v"},"$set":{"new":2}})", true, "d",
         std::nullopt, now, {{"$set", QVariantMap{{"new", 2}}}, {"k", "v"}}},
        {"properties not a map", R"({"event":"e","distinct_id":"d","properties":[1]})", true, "d", std::nullopt, now,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto event = AnalyticsEvent::fromJSON(parse(c.json));
        ASSERT_EQ(event.has_value(), c.exists);
        if (!event)
            continue;
        EXPECT_EQ(event->event(), "e");
        EXPECT_EQ(event->distinctId(), c.distinctId);
        EXPECT_EQ(event->timestamp(), c.timestamp);
        EXPECT_EQ(event->properties(), c.properties);
        EXPECT_FALSE(event->apiKey().has_value());
        if (c.uuid)
            EXPECT_EQ(uuidText(event->uuid()), *c.uuid);
        else
            EXPECT_EQ((event->uuid().data3 >> 12), 7) << "a fresh time-ordered id";
    }
}
