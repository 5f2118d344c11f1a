#include "GeminiTestSupport.h"
#include "gemini-client/CodingError.h"
#include "gemini-client/EventStreamReader.h"
#include "gemini-client/GeminiService.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/HttpExchange.h"
#include "gemini-client/LineSplitter.h"
#include "gemini-client/RPCError.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace gemini;
using geminitest::next;
using Reply = LoopbackHttpServer::Reply;
using Gate = LoopbackHttpServer::Gate;

namespace {

QList<QByteArray> splitLines(const QList<QByteArray>& pieces)
{
    QList<QByteArray> lines;
    detail::LineSplitter splitter;
    const auto collect = [&](QByteArrayView line) {
        lines.append(line.toByteArray());
        return true;
    };
    for (const QByteArray& piece : pieces)
        splitter.feed(piece, collect);
    splitter.finish(collect);
    return lines;
}

// What a reader made of a body: the texts of the events it delivered, and
// how it ended.
struct ReadResult {
    QStringList texts;
    bool finishedNormally = false;
    ErrorPtr error;
    bool stoppedEarly = false; // asked not to be fed more
};

ReadResult read(int status, const QByteArray& body, qsizetype pieceSize)
{
    ReadResult result;
    detail::EventStreamReader reader(
        status, {[&](QByteArrayView json) {
                     const auto response = GeminiService::parseResponse<GenerateContentResponse>(json);
                     result.texts.append(response.text().value_or(QString()));
                 },
                 [&] { result.finishedNormally = true; }, [&](ErrorPtr error) { result.error = std::move(error); }});
    for (qsizetype i = 0; i < body.size(); i += pieceSize) {
        if (!reader.feed(QByteArrayView(body).sliced(i, std::min(pieceSize, body.size() - i)))) {
            result.stoppedEarly = true;
            return result;
        }
    }
    reader.end();
    return result;
}

QByteArray event(const QByteArray& text)
{
    return "data: " + geminitest::textAnswer(text, "") + "\r\n\r\n";
}

class GeminiStreamTest : public geminitest::GeminiTest {
};

} // namespace

TEST(GeminiLineSplitterTest, SplitsAtEveryKindOfBreakAcrossPieces)
{
    struct Case {
        const char* name;
        QList<QByteArray> pieces;
        QList<QByteArray> expected;
    };
    const Case cases[] = {
        {"line feeds", {"a\nb\n"}, {"a", "b"}},
        {"carriage returns", {"a\rb\r"}, {"a", "b"}},
        {"CR LF is one break", {"a\r\nb\r\n"}, {"a", "b"}},
        {"CR at the end of a piece, LF at the start of the next", {"a\r", "\nb\n"}, {"a", "b"}},
        {"CR LF split by an empty piece", {"a\r", "", "\nb"}, {"a", "b"}},
        {"a line across pieces", {"da", "ta: ", "x\n"}, {"data: x"}},
        {"empty lines are lines", {"\n\r\n\r"}, {"", "", ""}},
        {"CR then CR LF", {"a\r\r\n"}, {"a", ""}},
        {"last line without a break", {"a\nb"}, {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(splitLines(c.pieces), c.expected);
    }
}

TEST_F(GeminiStreamTest, ReaderFramesEventsTheSameWhateverThePieceSize)
{
    struct Case {
        const char* name;
        int status;
        QByteArray body;
        QStringList texts;
        bool finishedNormally;
        const char* error; // start of the error's description, or nullptr
    };
    const Case cases[] = {
        {"two events between blank lines", 200, "\n" + event("a") + event("b"), {"a", "b"}, true, nullptr},
        {"no space after the colon", 200, "data:" + geminitest::textAnswer("a", "") + "\n", {"a"}, true, nullptr},
        {"bare line feeds and carriage returns", 200,
         "data: " + geminitest::textAnswer("a", "") + "\n\ndata: " + geminitest::textAnswer("b", "") + "\r\r",
         {"a", "b"}, true, nullptr},
        {"one event over two data lines", 200, "data: {\"candidates\":\ndata: []}\n\n", {}, false,
         "The given data was not valid JSON."},
        {"a plain error object instead of events", 200,
         "{\"error\": {\n  \"code\": 500,\n  \"message\": \"Internal error\"\n}}\n", {}, false, "Internal error"},
        {"second event is not JSON", 200, event("a") + "data: {oops\n\n" + event("c"), {"a"}, false,
         "The given data was not valid JSON."},
        {"event name lines besides data", 200, "event: message\n" + event("a") + event("b"), {"a", "b"}, false,
         "The given data was not valid JSON."},
        {"event that is not UTF-8", 200, "data: {\"candidates\":[\xff]}\n\n", {}, false, "Could not parse response as UTF8."},
        {"error status with an error body", 400,
         "{\n  \"error\": {\n    \"code\": 400,\n    \"message\": \"Bad request\",\n    \"status\": \"INVALID_ARGUMENT\"\n  }\n}\n", {},
         false, "Bad request"},
        {"error status with an empty body", 500, "", {}, false, "The given data was not valid JSON."},
        {"event answer that does not decode", 200, "data: {}\n\n", {}, false,
         "Failed to decode GenerateContentResponse"},
    };
    for (const Case& c : cases) {
        for (qsizetype pieceSize : {c.body.size() + 1, qsizetype(7), qsizetype(1)}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(pieceSize));
            const ReadResult result = read(c.status, c.body, std::max<qsizetype>(pieceSize, 1));
            EXPECT_EQ(result.texts, c.texts);
            EXPECT_EQ(result.finishedNormally, c.finishedNormally);
            if (c.error) {
                ASSERT_TRUE(result.error);
                EXPECT_TRUE(result.error->description().startsWith(QLatin1String(c.error)))
                    << result.error->description().toStdString();
            } else {
                EXPECT_FALSE(result.error) << result.error->description().toStdString();
            }
        }
    }
}

TEST_F(GeminiStreamTest, ReaderStopsAtTheFirstBadEventAndReadsNoFurther)
{
    const ReadResult result = read(200, event("a") + "data: nope\n\n" + event("c"), 4096);
    EXPECT_TRUE(result.stoppedEarly);
    EXPECT_EQ(result.texts, QStringList{QStringLiteral("a")});
    EXPECT_TRUE(errorAs<DecodingError>(result.error));
}

TEST_F(GeminiStreamTest, FirstEventReachesTheConsumerBeforeTheServerSendsTheSecond)
{
    auto gate = std::make_shared<Gate>();
    Reply reply = Reply::eventStream({event("first")});
    reply.withPiece(event("second"), 0, gate);
    server.enqueue(reply);

    const AsyncStream<GenerateContentResponse> stream = model().generateContentStream("Hello");
    const auto first = next(stream);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text(), QStringLiteral("first"));
    EXPECT_FALSE(gate->isOpen());

    gate->open();
    const auto second = next(stream);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->text(), QStringLiteral("second"));
    EXPECT_FALSE(next(stream));
    EXPECT_FALSE(next(stream));
}

TEST_F(GeminiStreamTest, ConsumerThatStopsEarlyLeavesTheReaderToFinishAlone)
{
    auto gate = std::make_shared<Gate>();
    Reply reply = Reply::eventStream({event("first")});
    reply.withPiece(event("second"), 0, gate).withPiece(event("third"));
    server.enqueue(reply);
    {
        const AsyncStream<GenerateContentResponse> stream = model().generateContentStream("Hello");
        ASSERT_TRUE(next(stream));
    }
    // The reader goes on with nobody listening, then cleans up after itself.
    EXPECT_EQ(detail::HttpExchange::liveCount(), 1);
    gate->open();
    EXPECT_TRUE(QTest::qWaitFor([] { return detail::HttpExchange::liveCount() == 0; }, geminitest::kWaitMs));
}

TEST_F(GeminiStreamTest, ConnectionDroppedMidStreamEndsTheStreamWithAnError)
{
    Reply reply = Reply::eventStream({event("first"), event("second"), event("never")});
    reply.closeAfterPieces = 2;
    server.enqueue(reply);

    const auto drained = geminitest::drain(model().generateContentStream("Hello"));
    ASSERT_EQ(drained.values.size(), 2);
    EXPECT_EQ(drained.values[1].text(), QStringLiteral("second"));
    const auto* error = errorAs<GenerateContentError>(drained.error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), GenerateContentError::Kind::internalError);
    const auto* network = errorAs<NetworkError>(error->underlying());
    ASSERT_TRUE(network) << error->underlying()->description().toStdString();
    EXPECT_EQ(network->kind(), NetworkError::Kind::connectionLost);
}

TEST_F(GeminiStreamTest, SilentStreamTimesOut)
{
    auto gate = std::make_shared<Gate>();
    Reply reply = Reply::eventStream({event("first")});
    reply.withPiece(event("held back"), 0, gate);
    server.enqueue(reply);

    const auto drained = geminitest::drain(model(QStringLiteral("m"), 0.3).generateContentStream("Hello"));
    EXPECT_EQ(drained.values.size(), 1);
    const auto* error = errorAs<GenerateContentError>(drained.error);
    ASSERT_TRUE(error);
    const auto* network = errorAs<NetworkError>(error->underlying());
    ASSERT_TRUE(network);
    EXPECT_EQ(network->kind(), NetworkError::Kind::timedOut);
}

TEST_F(GeminiStreamTest, ErrorStatusFailsBeforeAnyValue)
{
    server.enqueue(Reply::json(
        R"({"error":{"code":400,"message":"API key not valid.","details":[{"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID"}]}})",
        400));
    const auto drained = geminitest::drain(model().generateContentStream("Hello"));
    EXPECT_TRUE(drained.values.isEmpty());
    const auto* error = errorAs<GenerateContentError>(drained.error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), GenerateContentError::Kind::invalidAPIKey);
    EXPECT_EQ(error->message(), QStringLiteral("API key not valid."));
}
