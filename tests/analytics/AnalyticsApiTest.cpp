#include "QueueTestSupport.h"

#include "analytics/Gzip.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace analytics;
using namespace analytics_test;
using Reply = LoopbackHttpServer::Reply;

namespace {

class AnalyticsApiTest : public ::testing::Test, public QueueFixture {
protected:
    // Written on the network thread; `called` publishes the fields.
    struct JsonResult {
        std::atomic<bool> called = false;
        std::optional<QVariantMap> json;
        std::optional<QString> error;
    };
    AnalyticsApi::JsonCompletion record(std::shared_ptr<JsonResult> result)
    {
        return [result](const std::optional<QVariantMap>& json, const std::optional<QString>& error) {
            result->json = json;
            result->error = error;
            result->called = true;
        };
    }
};

} // namespace

TEST(AnalyticsApiUrlTest, EndpointPathsJoinWithOneSlash)
{
    struct Case {
        const char* base;
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"https://h.example", "/batch", "https://h.example/batch"},
        {"https://h.example/", "/batch", "https://h.example/batch"},
        {"https://h.example/ingest/", "/batch", "https://h.example/ingest/batch"},
        {"https://h.example/ingest", "/batch", "https://h.example/ingest/batch"},
        {"https://h.example//ingest//", "//s/", "https://h.example/ingest/s/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        EXPECT_EQ(AnalyticsApi::endpointURL(c.path, {}, QUrl(c.base))->toString(), c.expected);
    }
    EXPECT_EQ(AnalyticsApi::endpointURL("/flags", QUrlQuery{{"v", "2"}}, QUrl("https://h.example"))->toString(),
              "https://h.example/flags?v=2");
}

TEST(AnalyticsApiUrlTest, RemoteConfigComesFromTheAssetsHostOfTheCloudRegions)
{
    EXPECT_EQ(AnalyticsApi::remoteConfigHost(QUrl(AnalyticsConfig::kDefaultHost)).toString(),
              AnalyticsApi::kUsAssetsHost);
    EXPECT_EQ(AnalyticsApi::remoteConfigHost(QUrl(AnalyticsConfig::kEuHost)).toString(), AnalyticsApi::kEuAssetsHost);
    EXPECT_EQ(AnalyticsApi::remoteConfigHost(QUrl(QString(AnalyticsConfig::kDefaultHost) + "/")).toString(),
              QString(AnalyticsConfig::kDefaultHost) + "/");
    EXPECT_EQ(AnalyticsApi::remoteConfigHost(QUrl("https://self.example")).toString(), "https://self.example");
    EXPECT_EQ(QString(AnalyticsApi::kUsAssetsHost).size(), 31);
    EXPECT_EQ(QString(AnalyticsApi::kEuAssetsHost).size(), 31);
}

TEST(GzipTest, CompressesToWhatAStandardReaderRestores)
{
    EXPECT_TRUE(gzipped(QByteArray()).isEmpty());
    QByteArray big;
    for (int i = 0; i < 20000; ++i)
        big += QByteArray::number(i * 7919 % 10007) + ',';
    for (const QByteArray& input : {QByteArray("x"), big}) {
        const QByteArray packed = gzipped(input);
        EXPECT_TRUE(packed.startsWith("\x1f\x8b"));
        EXPECT_EQ(gunzip(packed), input);
    }
    try {
        gzipped("data", CompressionLevel{42});
        FAIL() << "an invalid level throws";
    } catch (const GzipError& error) {
        EXPECT_EQ(error.kind, GzipError::Kind::stream);
        EXPECT_FALSE(error.message.isEmpty());
    }
}

TEST_F(AnalyticsApiTest, UploadOutcomes)
{
    make();
    struct Case {
        const char* name;
        Reply reply;
        std::optional<int> status;
        bool error;
    };
    const Case cases[] = {
        {"accepted", Reply::json("{}", 200), 200, false},
        {"server error with a body", Reply::json(R"({"error":"boom"})", 500), 500, false},
        {"connection closed", Reply::closeWithoutAnswer(), std::nullopt, true},
    };
    AnalyticsLogRecorder log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.setHandler([&c](const LoopbackHttpServer::Request&) { return c.reply; });
        struct Outcome {
            AnalyticsBatchUploadInfo info;
            std::atomic<bool> done = false;
        };
        auto outcome = std::make_shared<Outcome>();
        api->batch({makeEvent("e")}, [outcome](const AnalyticsBatchUploadInfo& i) {
            outcome->info = i;
            outcome->done = true;
        });
        ASSERT_TRUE(waitUntil([&] { return outcome->done.load(); }));
        EXPECT_EQ(outcome->info.statusCode, c.status);
        EXPECT_EQ(outcome->info.error.has_value(), c.error);
        EXPECT_FALSE(outcome->info.notSent);
    }
    EXPECT_TRUE(log.contains("[Analytics] Events sent successfully."));
    EXPECT_TRUE(log.contains(R"([Analytics] Error sending events to batch API: status: 500, body: {"error":"boom"}.)"));
    EXPECT_TRUE(log.containsPrefix("[Analytics] Error calling the batch API: "));
}

// A queue that is dropped while its upload is in flight lets go of the client
// inside the answer handler, on the client's own network thread.
TEST_F(AnalyticsApiTest, TheLastOwnerMayLetGoInsideTheAnswerHandler)
{
    make();
    queue.reset();
    auto held = std::make_shared<std::shared_ptr<AnalyticsApi>>(std::move(api));
    std::atomic<bool> released = false;
    AnalyticsApi& client = **held;
    client.batch({makeEvent("e")}, [held, &released](const AnalyticsBatchUploadInfo&) {
        held->reset();
        released = true;
    });
    held.reset();
    ASSERT_TRUE(waitUntil([&] { return released.load(); }));
}

TEST_F(AnalyticsApiTest, SnapshotGoesToTheConfiguredPathAsAnArray)
{
    config->setSnapshotEndpoint("/replay/");
    make();
    auto done = std::make_shared<std::atomic<bool>>(false);
    api->snapshot({makeEvent("$snapshot")}, [done](const AnalyticsBatchUploadInfo&) { *done = true; });
    ASSERT_TRUE(waitUntil([&] { return done->load(); }));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].target, "/replay/");
    EXPECT_TRUE(QJsonDocument::fromJson(gunzip(server.requests()[0].body)).isArray());
}

TEST_F(AnalyticsApiTest, FlagsRequestAndItsAnswers)
{
    config->setEvaluationContexts(QStringList{"web"});
    make();
    struct Case {
        const char* name;
        Reply reply;
        bool map;
        std::optional<QString> errorPrefix;
    };
    const Case cases[] = {
        {"object", Reply::json(R"({"featureFlags":{"a":true}})"), true, std::nullopt},
        {"array is no answer", Reply::json("[1,2]"), false, std::nullopt},
        {"fragment is no answer", Reply::json("true"), false, std::nullopt},
        {"not JSON", Reply::json("{oops"), false, QString("")},
        {"401", Reply::json(R"({"detail":"no"})", 401), false, QString("Error calling flags API: status: 401, body: ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.setHandler([&c](const LoopbackHttpServer::Request&) { return c.reply; });
        auto result = std::make_shared<JsonResult>();
        api->flags("user", QString("anon"), std::nullopt, {{"org", "acme"}}, {{"plan", "pro"}}, std::nullopt,
                   record(result));
        ASSERT_TRUE(waitUntil([&] { return result->called.load(); }));
        EXPECT_EQ(result->json.has_value(), c.map);
        EXPECT_EQ(result->error.has_value(), c.errorPrefix.has_value());
        if (c.errorPrefix && result->error) {
            EXPECT_TRUE(result->error->startsWith(*c.errorPrefix)) << result->error->toStdString();
        }
    }
    const auto& request = server.requests().last();
    EXPECT_EQ(request.target, "/flags?v=2");
    EXPECT_FALSE(request.hasHeader("Content-Encoding"));
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(body.keys(), QStringList({"$anon_distinct_id", "api_key", "distinct_id", "evaluation_contexts", "groups",
                                        "person_properties", "timezone"}));
    EXPECT_EQ(body["groups"].toObject()["org"].toString(), "acme");
}

TEST_F(AnalyticsApiTest, RemoteConfigFetchesTheProjectDocumentAndAlwaysCompletes)
{
    make();
    server.enqueue(Reply::json(R"({"sessionRecording":false})"));
    auto result = std::make_shared<JsonResult>();
    api->remoteConfig(record(result));
    ASSERT_TRUE(waitUntil([&] { return result->called.load(); }));
    EXPECT_EQ(server.requests().at(0).method, "GET");
    EXPECT_EQ(server.requests().at(0).target, "/array/phc_test/config");
    EXPECT_EQ(result->json->value("sessionRecording"), false);

    // Without a token no request can be made; the caller still hears back.
    auto noToken = std::make_shared<AnalyticsConfig>(QString(), server.baseUrl());
    AnalyticsApi blank(noToken);
    auto early = std::make_shared<JsonResult>();
    blank.remoteConfig(record(early));
    EXPECT_TRUE(early->called);
    EXPECT_FALSE(early->json);
    EXPECT_FALSE(early->error);
}

TEST_F(AnalyticsApiTest, OversizedAnswersAreCutOff)
{
    make();
    server.enqueue(Reply::json("{\"pad\":\"" + QByteArray(3 * 1024 * 1024, 'x') + "\"}"));
    auto result = std::make_shared<JsonResult>();
    api->remoteConfig(record(result));
    ASSERT_TRUE(waitUntil([&] { return result->called.load(); }, 20000));
    EXPECT_FALSE(result->json);
    EXPECT_TRUE(result->error);
}
