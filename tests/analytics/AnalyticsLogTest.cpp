#include "analytics/AnalyticsLog.h"

#include "AnalyticsTestSupport.h"

#include <QSet>
#include <QUrl>

#include <gtest/gtest.h>

#include <limits>

using namespace analytics;

TEST(AnalyticsLogTest, PrintsOnlyWhileSwitchedOnAndPrefixesOnce)
{
    QStringList lines;
    setAnalyticsLogSink([&](const QString& line) { lines << line; });
    debugLogEnabled = false;
    analyticsLog("hidden");
    debugLogEnabled = true;
    analyticsLog("plain");
    analyticsLog("[Analytics] prefixed");
    debugLogEnabled = false;
    setAnalyticsLogSink({});
    EXPECT_EQ(lines, QStringList({"[Analytics] plain", "[Analytics] prefixed"}));
}

TEST(AnalyticsLogTest, SanitiserConvertsUrlsAndDatesAndDropsTheRest)
{
    AnalyticsLogRecorder log;
    struct Case {
        const char* name;
        QVariant value;
        std::optional<QVariant> expected; // nothing: dropped
    };
    const Case cases[] = {
        {"string", "text", QVariant("text")},
        {"integer", 42, QVariant(42)},
        {"Boolean", true, QVariant(true)},
        {"null", QVariant(), QVariant()},
        {"nested map of valid values", QVariantMap{{"a", QVariantList{1, "x"}}}, QVariantMap{{"a", QVariantList{1, "x"}}}},
        {"URL", QUrl("https://vellox.app/a?b=c d"), QVariant("https://vellox.app/a?b=c%20d")},
        {"date", QDateTime(QDate(2024, 1, 31), QTime(13, 0, 0, 450), Qt::OffsetFromUTC, 3600),
         QVariant("2024-01-31T12:00:00Z")},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), std::nullopt},
        {"infinity", std::numeric_limits<double>::infinity(), std::nullopt},
        {"float infinity", std::numeric_limits<float>::infinity(), std::nullopt},
        {"bytes", QByteArray("raw"), std::nullopt},
        {"set-like object", QVariant::fromValue(QSet<int>{1}), std::nullopt},
        {"list holding a date", QVariantList{QDateTime::currentDateTimeUtc()}, std::nullopt},
        {"map holding not a number", QVariantMap{{"x", std::numeric_limits<double>::quiet_NaN()}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        const auto out = sanitizeDictionary(QVariantMap{{"key", c.value}, {"keep", 1}});
        ASSERT_TRUE(out);
        EXPECT_EQ(out->value("keep"), 1);
        if (c.expected) {
            EXPECT_EQ(out->value("key"), *c.expected);
            EXPECT_TRUE(log.lines().isEmpty());
        } else {
            EXPECT_FALSE(out->contains("key"));
            EXPECT_EQ(log.lines(), QStringList{"[Analytics] property: key isn't serializable, dropping the item"});
        }
    }
    EXPECT_FALSE(sanitizeDictionary(QVariantMap{}));
    EXPECT_FALSE(sanitizeDictionary(std::nullopt));
}

TEST(AnalyticsLogTest, JsonDataOfEmptyOrValidMaps)
{
    EXPECT_FALSE(toJSONData(QVariantMap{}));
    EXPECT_FALSE(toJSONData(QVariantMap{{"bad", QByteArray("x")}})) << "nothing left after sanitising";
    EXPECT_EQ(toJSONData(QVariantMap{{"b", 1}, {"a", QUrl("https://x.example")}}, JsonWriting::SortedKeys),
              QByteArray(R"({"a":"https://x.example","b":1})"));
}

TEST(AnalyticsLogTest, WireDatesBothWays)
{
    struct Case {
        const char* text;
        std::optional<QDateTime> date;
    };
    const Case cases[] = {
        {"2024-01-31T12:00:00.123Z", QDateTime(QDate(2024, 1, 31), QTime(12, 0, 0, 123), Qt::UTC)},
        {"2024-01-31T12:00:00Z", QDateTime(QDate(2024, 1, 31), QTime(12, 0, 0), Qt::UTC)},
        {"1969-12-31T23:59:59.999Z", QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC)},
        {"2024-01-31T12:00:00.12Z", std::nullopt},
        {"2024-01-31 12:00:00Z", std::nullopt},
        {"2024-02-30T12:00:00Z", std::nullopt},
        {"2024-01-31T12:00:00+01:00", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(toISO8601Date(QString::fromLatin1(c.text)), c.date);
    }
    EXPECT_EQ(toISO8601String(QDateTime(QDate(2024, 1, 31), QTime(12, 0, 0), Qt::UTC)), "2024-01-31T12:00:00.000Z");
    EXPECT_EQ(toISO8601String(QDateTime(QDate(2024, 1, 31), QTime(13, 0, 0, 5), Qt::OffsetFromUTC, 3600)),
              "2024-01-31T12:00:00.005Z");
    EXPECT_EQ(toISO8601String(QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC)), "1969-12-31T23:59:59.999Z");
}
