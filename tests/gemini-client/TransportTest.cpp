#include "GeminiTestSupport.h"
#include "gemini-client/CodingError.h"
#include "gemini-client/GeminiClientInfo.h"
#include "gemini-client/GenerativeModel.h"
#include "gemini-client/HttpExchange.h"
#include "gemini-client/RPCError.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QtConcurrent>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

using namespace gemini;
using geminitest::thrown;
using geminitest::wait;
using Reply = LoopbackHttpServer::Reply;

namespace {

class GeminiTransportTest : public geminitest::GeminiTest {
protected:
    // The headers a request carries besides those Qt adds to every request.
    static QStringList ownHeaders(const LoopbackHttpServer::Request& request)
    {
        static const QStringList transportHeaders{QStringLiteral("host"), QStringLiteral("content-length"),
                                                  QStringLiteral("connection"), QStringLiteral("accept-encoding"),
                                                  QStringLiteral("accept-language"), QStringLiteral("user-agent")};
        QStringList names;
        for (const auto& header : request.headers) {
            const QString name = QString::fromLatin1(header.first).toLower();
            if (!transportHeaders.contains(name))
                names.append(name);
        }
        return names;
    }

    void expectGeminiHeaders(const LoopbackHttpServer::Request& request)
    {
        EXPECT_EQ(ownHeaders(request),
                  (QStringList{QStringLiteral("x-goog-api-key"), QStringLiteral("x-goog-api-client"),
                               QStringLiteral("content-type")}));
        EXPECT_EQ(request.header("x-goog-api-key"), "test-key");
        EXPECT_EQ(request.header("X-Goog-Api-Client"), "vellox-gapi/0.5.6");
        EXPECT_EQ(request.header("content-type"), "application/json");
    }

    std::optional<GenerateContentError> failedCall(const GenerativeModel& model)
    {
        return thrown<GenerateContentError>([&] { wait(model.generateContent("Hello")); });
    }

    static constexpr const char* kAppBody =
        R"({"model":"models/gemini-2.5-flash","contents":[{"role":"user","parts":[{"text":"Hello"}]}],)"
        R"("generation_config":{"temperature":0.4},)"
        R"("system_instruction":{"role":"system","parts":[{"text":"Rewrite the text."}]}})";
};

} // namespace

TEST_F(GeminiTransportTest, OneShotCallSendsExactlyOnePost)
{
    EXPECT_EQ(QString::fromLatin1(GeminiClientInfo::identificationToken).size(), 11);
    server.enqueue(Reply::json(geminitest::textAnswer("Hi there")));
    const GenerateContentResponse response = wait(model().generateContent("Hello"));
    EXPECT_EQ(response.text(), QStringLiteral("Hi there"));

    ASSERT_EQ(server.requests().size(), 1);
    const auto& request = server.requests().first();
    EXPECT_EQ(request.requestLine(), "POST /v1beta/models/gemini-2.5-flash:generateContent HTTP/1.1");
    expectGeminiHeaders(request);
    EXPECT_EQ(request.body, kAppBody);
}

TEST_F(GeminiTransportTest, StreamedCallAsksForServerSentEvents)
{
    server.enqueue(Reply::eventStream({"data: " + geminitest::textAnswer("Hi") + "\n\n"}));
    const auto drained = geminitest::drain(model().generateContentStream("Hello"));
    EXPECT_FALSE(drained.error);
    ASSERT_EQ(drained.values.size(), 1);

    const auto& request = server.requests().first();
    EXPECT_EQ(request.requestLine(), "POST /v1beta/models/gemini-2.5-flash:streamGenerateContent?alt=sse HTTP/1.1");
    expectGeminiHeaders(request);
    EXPECT_EQ(request.body, kAppBody);
}

TEST_F(GeminiTransportTest, TokenCountWrapsTheGenerationRequest)
{
    server.enqueue(Reply::json(R"({"totalTokens":12})"));
    EXPECT_EQ(wait(model().countTokens("Hello")).totalTokens, 12);

    const auto& request = server.requests().first();
    EXPECT_EQ(request.requestLine(), "POST /v1beta/models/gemini-2.5-flash:countTokens HTTP/1.1");
    expectGeminiHeaders(request);
    EXPECT_EQ(request.body, QByteArray(R"({"generate_content_request":)") + kAppBody + "}");
}

TEST_F(GeminiTransportTest, ServerErrorsAreDecodedAndMapped)
{
    using Kind = GenerateContentError::Kind;
    struct Case {
        const char* name;
        int status;
        QByteArray body;
        Kind kind;
        const char* detail; // the invalid key's message, or the underlying error's description
    };
    const QByteArray keyInvalid =
        R"({"error":{"code":400,"message":"API key not valid. Please pass a valid API key.","status":"INVALID_ARGUMENT",)"
        R"("details":[{"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID","domain":"googleapis.com"}]}})";
    const Case cases[] = {
        {"invalid API key", 400, keyInvalid, Kind::invalidAPIKey, "API key not valid. Please pass a valid API key."},
        {"same error without error info", 400,
         R"({"error":{"code":400,"message":"API key not valid. Please pass a valid API key.","status":"INVALID_ARGUMENT"}})",
         Kind::internalError, "API key not valid. Please pass a valid API key."},
        {"user location", 400,
         R"({"error":{"code":400,"message":"User location is not supported for the API use.","status":"FAILED_PRECONDITION"}})",
         Kind::unsupportedUserLocation, ""},
        {"user location whatever the status", 500,
         R"({"error":{"message":"User location is not supported for the API use."}})", Kind::unsupportedUserLocation, ""},
        {"quota", 429, R"({"error":{"code":429,"message":"Quota exceeded.","status":"RESOURCE_EXHAUSTED"}})",
         Kind::internalError, "Quota exceeded."},
        {"unknown status name", 503, R"({"error":{"code":503,"message":"Later.","status":"SOMETHING_NEW"}})",
         Kind::internalError, "Later."},
        {"success status other than 200", 201, R"({"error":{"message":"Created is not OK."}})", Kind::internalError,
         "Created is not OK."},
        {"error body that is not JSON", 502, "<html>Bad gateway</html>", Kind::internalError,
         "The given data was not valid JSON."},
        {"no content", 204, "", Kind::internalError, "The given data was not valid JSON."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(Reply::json(c.body, c.status));
        const auto error = failedCall(model());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), c.kind);
        if (c.kind == Kind::invalidAPIKey) {
            EXPECT_EQ(error->message(), QLatin1String(c.detail));
        }
        if (c.kind == Kind::internalError) {
            EXPECT_TRUE(error->underlying()->description().startsWith(QLatin1String(c.detail)))
                << error->underlying()->description().toStdString();
        }
    }
    EXPECT_EQ(server.requests().size(), std::size(cases));
}

TEST_F(GeminiTransportTest, ServerErrorKeepsItsTypedFields)
{
    server.enqueue(Reply::json(R"({"error":{"code":429,"message":"Slow down.","status":"RESOURCE_EXHAUSTED"}})", 429));
    const auto error = failedCall(model());
    ASSERT_TRUE(error);
    const auto* rpc = errorAs<RPCError>(error->underlying());
    ASSERT_TRUE(rpc);
    EXPECT_EQ(rpc->httpResponseCode(), 429);
    EXPECT_EQ(rpc->status(), RPCStatus::resourceExhausted);
    EXPECT_TRUE(logMessages().contains(
        QStringLiteral(R"([GeminiClient] Response payload: {"error":{"code":429,"message":"Slow down.","status":"RESOURCE_EXHAUSTED"}})")));
}

TEST_F(GeminiTransportTest, UndecodableAnswerLogsAndFails)
{
    server.enqueue(Reply::json(R"({"candidates":[{"finishReason":7}]})"));
    const auto error = failedCall(model());
    ASSERT_TRUE(error);
    const auto* decoding = errorAs<DecodingError>(error->underlying());
    ASSERT_TRUE(decoding);
    EXPECT_EQ(decoding->codingPath().toString(), QStringLiteral("candidates[0].finishReason"));
    const QStringList lines = logMessages();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("[GeminiClient] Error decoding server JSON: Expected to decode String")));
}

TEST_F(GeminiTransportTest, TransportFailuresAreNotStatuses)
{
    server.setHandler([](const LoopbackHttpServer::Request&) { return Reply::closeWithoutAnswer(); });
    const auto dropped = failedCall(model());
    // Not even Qt's HTTP layer may send the request a second time.
    EXPECT_EQ(server.requests().size(), 1);
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->kind(), GenerateContentError::Kind::internalError);
    const auto* network = errorAs<NetworkError>(dropped->underlying());
    ASSERT_TRUE(network) << dropped->underlying()->description().toStdString();
    EXPECT_EQ(network->kind(), NetworkError::Kind::failed);

    // The body is cut after its status line arrived: an answer with a status
    // but without its whole body is still a transport failure.
    Reply cut = Reply::json(geminitest::textAnswer("Hello world"));
    cut.closeAfterBytes = 120;
    server.enqueue(cut);
    const qsizetype before = server.requests().size();
    const auto truncated = failedCall(model());
    ASSERT_TRUE(truncated);
    const auto* lost = errorAs<NetworkError>(truncated->underlying());
    ASSERT_TRUE(lost) << truncated->underlying()->description().toStdString();
    EXPECT_EQ(lost->kind(), NetworkError::Kind::connectionLost);
    EXPECT_EQ(server.requests().size(), before + 1);
}

TEST_F(GeminiTransportTest, RequestsThatCannotBeBuiltAreNeverSent)
{
    struct Case {
        const char* name;
        GenerativeModel model;
        const char* description;
    };
    GenerationConfig badTemperature{.temperature = std::numeric_limits<float>::quiet_NaN()};
    const Case cases[] = {
        {"model name that breaks the URL", model(QStringLiteral("gemini 2.5")), "The request URL is not valid:"},
        {"key that would break the headers", model(QStringLiteral("m"), 300, QStringLiteral("key\r\nx-evil: 1")),
         "The API key contains characters"},
        {"temperature with no JSON form",
         GenerativeModel(QStringLiteral("m"), QStringLiteral("k"), badTemperature, std::nullopt, std::nullopt,
                         std::nullopt, std::nullopt, options()),
         "Unable to encode NaN in JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto oneShot = failedCall(c.model);
        ASSERT_TRUE(oneShot);
        EXPECT_EQ(oneShot->kind(), GenerateContentError::Kind::internalError);
        EXPECT_TRUE(oneShot->underlying()->description().startsWith(QLatin1String(c.description)))
            << oneShot->underlying()->description().toStdString();

        const auto streamed = geminitest::drain(c.model.generateContentStream("Hello"));
        EXPECT_TRUE(streamed.values.isEmpty());
        ASSERT_TRUE(streamed.error);
        EXPECT_TRUE(errorAs<GenerateContentError>(streamed.error));
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(GeminiTransportTest, IdleTimeoutEndsASilentRequest)
{
    Reply silent = Reply::json(geminitest::textAnswer("never"));
    silent.gate = std::make_shared<LoopbackHttpServer::Gate>();
    server.enqueue(silent);
    QElapsedTimer clock;
    clock.start();
    const auto error = failedCall(model(QStringLiteral("m"), 0.3));
    ASSERT_TRUE(error);
    const auto* network = errorAs<NetworkError>(error->underlying());
    ASSERT_TRUE(network);
    EXPECT_EQ(network->kind(), NetworkError::Kind::timedOut);
    EXPECT_EQ(network->description(), QStringLiteral("The request timed out."));
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(GeminiTransportTest, ATimeoutWithoutAUsableValueStillEndsASilentRequest)
{
    const double platformDefault = detail::HttpExchange::defaultIdleTimeoutSeconds;
    EXPECT_EQ(platformDefault, 60);
    detail::HttpExchange::defaultIdleTimeoutSeconds = 0.3;
    server.setHandler([](const LoopbackHttpServer::Request&) {
        Reply silent = Reply::json(geminitest::textAnswer("never"));
        silent.gate = std::make_shared<LoopbackHttpServer::Gate>();
        return silent;
    });
    for (const double timeout : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(timeout);
        const auto oneShot = failedCall(model(QStringLiteral("m"), timeout));
        ASSERT_TRUE(oneShot);
        const auto* network = errorAs<NetworkError>(oneShot->underlying());
        ASSERT_TRUE(network) << oneShot->underlying()->description().toStdString();
        EXPECT_EQ(network->kind(), NetworkError::Kind::timedOut);

        const auto streamed = geminitest::drain(model(QStringLiteral("m"), timeout).generateContentStream("Hello"));
        const auto* error = errorAs<GenerateContentError>(streamed.error);
        ASSERT_TRUE(error);
        EXPECT_TRUE(errorAs<NetworkError>(error->underlying()));
    }
    detail::HttpExchange::defaultIdleTimeoutSeconds = platformDefault;
}

TEST_F(GeminiTransportTest, IdleTimeoutAllowsASlowButSteadyAnswer)
{
    // Thirty pieces 100 ms apart take longer than the 2 s timeout in all, but
    // the line is never idle for that long: a loaded machine may stretch a
    // gap many times over and still keep it well short of the timeout.
    constexpr double kTimeoutSeconds = 2;
    constexpr int kPieces = 30;
    constexpr int kGapMs = 100;
    const QByteArray body = geminitest::textAnswer("slow but steady");
    Reply slow = Reply::json({});
    slow.body.clear();
    const qsizetype piece = body.size() / kPieces + 1;
    for (qsizetype i = 0; i < body.size(); i += piece)
        slow.withPiece(body.mid(i, piece), kGapMs);
    server.enqueue(slow);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(wait(model(QStringLiteral("m"), kTimeoutSeconds).generateContent("Hello"), 60000).text(),
              QStringLiteral("slow but steady"));
    EXPECT_GT(clock.elapsed(), kTimeoutSeconds * 1000);

    QList<QByteArray> events;
    for (int i = 0; i < kPieces; ++i)
        events.append("data: " + geminitest::textAnswer("tick", "") + "\n\n");
    Reply stream = Reply::eventStream({});
    stream.body.clear();
    for (const QByteArray& event : events)
        stream.withPiece(event, kGapMs);
    server.enqueue(stream);
    clock.restart();
    const auto drained =
        geminitest::drain(model(QStringLiteral("m"), kTimeoutSeconds).generateContentStream("Hello"), 60000);
    EXPECT_FALSE(drained.error) << drained.error->description().toStdString();
    EXPECT_EQ(drained.values.size(), kPieces);
    EXPECT_GT(clock.elapsed(), kTimeoutSeconds * 1000);
}

TEST_F(GeminiTransportTest, DebugLaunchArgumentSwitchesOnNetworkLogging)
{
    EXPECT_TRUE(Logging::hasDebugLaunchArgument({QStringLiteral("vellox"), QStringLiteral("-GeminiClientDebugLogEnabled")}));
    EXPECT_FALSE(Logging::hasDebugLaunchArgument({QStringLiteral("-GeminiClientDebugLogEnabled=1")}));

    server.enqueue(Reply::eventStream({"data: " + geminitest::textAnswer("Hi") + "\n\n"}));
    geminitest::drain(model().generateContentStream("Hello"));
    for (const auto& line : systemLog().lines())
        EXPECT_NE(line.category, QStringLiteral("NetworkResponse")) << line.message.toStdString();
    EXPECT_FALSE(logMessages().contains(QStringLiteral("[GeminiClient] Verbose logging enabled.")));

    Logging::setDebugLoggingOverride(true);
    systemLog().clear();
    server.enqueue(Reply::eventStream({"data: " + geminitest::textAnswer("Hi") + "\n\n"}));
    geminitest::drain(model().generateContentStream("Hello"));
    bool sawStreamLine = false;
    for (const auto& line : systemLog().lines()) {
        EXPECT_EQ(line.subsystem, QStringLiteral("app.vellox.gemini-client"));
        if (line.message.startsWith(QStringLiteral("[GeminiClient] Stream response: data: "))) {
            sawStreamLine = true;
            EXPECT_EQ(line.category, QStringLiteral("NetworkResponse"));
            EXPECT_EQ(line.level, platform::LogLevel::Debug);
        }
    }
    EXPECT_TRUE(sawStreamLine);
    EXPECT_TRUE(logMessages().contains(QStringLiteral("[GeminiClient] Verbose logging enabled.")));
}

TEST_F(GeminiTransportTest, DestroyedSessionFailsTheCallInsteadOfHanging)
{
    auto session = std::make_unique<QNetworkAccessManager>();
    GenerativeModel ownSession(QStringLiteral("m"), QStringLiteral("k"), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt, std::nullopt, options(), session.get());
    Reply held = Reply::json(geminitest::textAnswer("late"));
    held.gate = std::make_shared<LoopbackHttpServer::Gate>();
    server.enqueue(held);
    const AsyncStream<GenerateContentResponse> stream = ownSession.generateContentStream("Hello");
    ASSERT_TRUE(server.waitForRequests(1));
    session.reset();
    const auto drained = geminitest::drain(stream);
    ASSERT_TRUE(drained.error);
    EXPECT_EQ(detail::HttpExchange::liveCount(), 0);

    const auto afterwards = failedCall(ownSession);
    ASSERT_TRUE(afterwards);
    EXPECT_EQ(afterwards->kind(), GenerateContentError::Kind::internalError);
}

TEST_F(GeminiTransportTest, AnswerNestedTooDeepFailsWithItsPathOnBothRoads)
{
    // About 20 KB that once overflowed the stack in the recursive decoding.
    const int depth = 10000;
    const QByteArray args = QByteArray(depth, '[') + QByteArray(depth, ']');
    const QByteArray answer = R"({"candidates":[{"content":{"role":"model","parts":[{"functionCall":{"name":"f","args":{"a":)"
                              + args + "}}}]}}]}";
    const auto expectDepthError = [](const ErrorPtr& error) {
        ASSERT_TRUE(error);
        const DecodingError* decoding = errorAs<DecodingError>(error);
        if (const auto* candidate = errorAs<InvalidCandidateError>(error))
            decoding = &candidate->underlyingError();
        ASSERT_TRUE(decoding) << error->description().toStdString();
        EXPECT_EQ(decoding->kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_TRUE(decoding->codingPath().toString().startsWith(
            QStringLiteral("candidates[0].content.parts[0].functionCall.args.a[0][0]")))
            << decoding->codingPath().toString().left(200).toStdString();
        EXPECT_TRUE(decoding->debugDescription().contains(QStringLiteral("nests deeper")));
    };

    server.enqueue(Reply::json(answer));
    const auto oneShot = failedCall(model());
    ASSERT_TRUE(oneShot);
    expectDepthError(oneShot->underlying());

    server.enqueue(Reply::eventStream({"data: " + answer + "\r\n\r\n"}));
    const auto streamed = geminitest::drain(model().generateContentStream("Hello"));
    EXPECT_TRUE(streamed.values.isEmpty());
    const auto* error = errorAs<GenerateContentError>(streamed.error);
    ASSERT_TRUE(error);
    expectDepthError(error->underlying());

    // Nesting well inside the bound still decodes.
    const QByteArray shallow = R"({"candidates":[{"content":{"role":"model","parts":[{"functionCall":{"name":"f","args":{"a":)"
                               + QByteArray(100, '[') + QByteArray(100, ']') + "}}}]}}]}";
    server.enqueue(Reply::json(shallow));
    EXPECT_EQ(wait(model().generateContent("Hello")).functionCalls().size(), 1);
}

TEST_F(GeminiTransportTest, CallsWorkFromThreadsOtherThanTheMain)
{
    // The rewrite engine runs provider calls on the thread pool; a thread
    // that Qt did not start must work the same way, its timeout included.
    const auto answer = geminitest::textAnswer("Hi");
    server.setHandler([&](const LoopbackHttpServer::Request& request) {
        Reply reply = Reply::json(answer);
        if (request.body.contains("silent")) {
            reply.gate = std::make_shared<LoopbackHttpServer::Gate>();
        }
        return reply;
    });
    const GenerativeModel model = this->model(QStringLiteral("m"), 0.3);
    const auto call = [model](const char* text) {
        try {
            // Waits in an event loop of the calling thread, as a worker does.
            return geminitest::wait(model.generateContent(text)).text().value_or(QString());
        } catch (const geminitest::TimedOut&) {
            return QStringLiteral("never ended");
        } catch (const GenerateContentError& error) {
            const auto* network = errorAs<NetworkError>(error.underlying());
            return network && network->kind() == NetworkError::Kind::timedOut ? QStringLiteral("timed out")
                                                                               : error.description();
        }
    };
    QFuture<QString> pooled = QtConcurrent::run([&] { return call("Hello") + QStringLiteral(", ") + call("silent"); });
    QString plain;
    QString silent;
    std::atomic<bool> plainDone{false};
    std::thread thread([&] {
        // First thing on this thread: nothing has asked for its event dispatcher yet.
        silent = call("silent");
        plain = call("Hello");
        plainDone = true;
    });
    // The server answers on this thread.
    const bool finished = QTest::qWaitFor([&] { return pooled.isFinished() && plainDone; }, 10000);
    EXPECT_TRUE(finished);
    thread.join();
    EXPECT_EQ(pooled.result(), QStringLiteral("Hi, timed out"));
    EXPECT_EQ(plain, QStringLiteral("Hi"));
    EXPECT_EQ(silent, QStringLiteral("timed out"));
}
