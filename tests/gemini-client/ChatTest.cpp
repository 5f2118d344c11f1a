#include "GeminiTestSupport.h"
#include "gemini-client/Chat.h"
#include "gemini-client/JSONCoding.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace gemini;
using geminitest::thrown;
using geminitest::wait;
using Reply = LoopbackHttpServer::Reply;

namespace {

QByteArray chunk(const QByteArray& partsJson)
{
    return R"(data: {"candidates":[{"content":{"role":"model","parts":)" + partsJson + "}}]}\n\n";
}

class GeminiChatTest : public geminitest::GeminiTest {
protected:
    std::shared_ptr<Chat> chat(QList<ModelContent> history = {})
    {
        return GenerativeModel(QStringLiteral("m"), QStringLiteral("k"), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt, std::nullopt, options())
            .startChat(std::move(history));
    }

    QByteArray sentContents() const
    {
        return QByteArray::fromStdString(coding::parse(server.requests().last().body)["contents"].dump());
    }
};

} // namespace

TEST_F(GeminiChatTest, SuccessfulMessageAddsTheTurnsToTheHistory)
{
    auto conversation = chat({ModelContent(QStringLiteral("user"), "Hi"), ModelContent(QStringLiteral("model"), "Hello")});
    server.enqueue(Reply::json(R"({"candidates":[{"content":{"role":"somebody","parts":[{"text":"Fine."},{"text":"You?"}]}}]})"));
    const GenerateContentResponse response = wait(conversation->sendMessage("How are you?"));
    EXPECT_EQ(response.text(), QStringLiteral("Fine.\nYou?"));
    EXPECT_EQ(sentContents(),
              R"([{"parts":[{"text":"Hi"}],"role":"user"},{"parts":[{"text":"Hello"}],"role":"model"},)"
              R"({"parts":[{"text":"How are you?"}],"role":"user"}])");
    ASSERT_EQ(conversation->history().size(), 4);
    EXPECT_EQ(conversation->history()[2], ModelContent(QStringLiteral("user"), "How are you?"));
    EXPECT_EQ(conversation->history()[3], ModelContent(QStringLiteral("model"), "Fine.", "You?"));
}

TEST_F(GeminiChatTest, ProducedTurnsWithoutARoleBecomeUserTurns)
{
    auto conversation = chat();
    server.enqueue(Reply::json(geminitest::textAnswer("ok")));
    wait(conversation->sendMessage([] {
        return QList<ModelContent>{ModelContent(std::nullopt, "a"), ModelContent(QStringLiteral("model"), "b")};
    }));
    EXPECT_EQ(sentContents(), R"([{"parts":[{"text":"a"}],"role":"user"},{"parts":[{"text":"b"}],"role":"model"}])");
    ASSERT_EQ(conversation->history().size(), 3);
    EXPECT_EQ(conversation->history()[0].role(), QStringLiteral("user"));
    EXPECT_EQ(conversation->history()[1].role(), QStringLiteral("model"));
}

TEST_F(GeminiChatTest, FailedExchangesLeaveTheHistoryAlone)
{
    const QList<ModelContent> history{ModelContent(QStringLiteral("user"), "Hi")};
    auto conversation = chat(history);

    server.enqueue(Reply::json(R"({"candidates":[]})"));
    const auto empty = thrown<GenerateContentError>([&] { wait(conversation->sendMessage("x")); });
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->kind(), GenerateContentError::Kind::internalError);
    EXPECT_EQ(empty->underlying()->description(), QStringLiteral("No candidates with content available."));
    EXPECT_EQ(errorAs<LibraryError>(empty->underlying())->code, -1);

    server.enqueue(Reply::json(R"({"error":{"code":500,"message":"Boom"}})", 500));
    EXPECT_TRUE(thrown<GenerateContentError>([&] { wait(conversation->sendMessage("x")); }));

    server.enqueue(Reply::eventStream({chunk(R"([{"text":"a"}])"), chunk(R"([{"text":"b"}])"), "data: {broken\n\n"}));
    const auto streamed = geminitest::drain(conversation->sendMessageStream("x"));
    EXPECT_EQ(streamed.values.size(), 2);
    EXPECT_TRUE(errorAs<GenerateContentError>(streamed.error));

    const auto unconverted = thrown<GenerateContentError>([&] { wait(conversation->sendMessage(QPixmap())); });
    ASSERT_TRUE(unconverted);
    EXPECT_EQ(unconverted->kind(), GenerateContentError::Kind::promptImageContentError);

    EXPECT_EQ(conversation->history(), history);
    EXPECT_EQ(server.requests().size(), 3);
}

TEST_F(GeminiChatTest, StreamedPiecesFoldIntoOneModelTurn)
{
    struct Case {
        const char* name;
        QList<QByteArray> chunks;
        ModelContent expected;
    };
    const QByteArray call = R"({"functionCall":{"name":"f","args":{"x":1}}})";
    const Case cases[] = {
        {"texts join with nothing between",
         {chunk(R"([{"text":"Hel"}])"), chunk(R"([{"text":"lo"}])"), chunk(R"([{"text":" world"}])")},
         ModelContent(QStringLiteral("model"), "Hello world")},
        {"other parts split the text",
         {chunk(R"([{"text":"before"}])"), chunk("[" + call + "]"), chunk(R"([{"text":"after"}])")},
         ModelContent(QStringLiteral("model"), "before", coding::decode<ContentPart>(call), "after")},
        {"chunks without candidates",
         {R"(data: {"candidates":[]})"
          "\n\n",
          R"(data: {"promptFeedback":{}})"
          "\n\n"},
         ModelContent(QStringLiteral("model"), QList<ContentPart>())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto conversation = chat();
        server.enqueue(Reply::eventStream(c.chunks));
        const auto drained = geminitest::drain(conversation->sendMessageStream("go"));
        EXPECT_FALSE(drained.error);
        EXPECT_EQ(drained.values.size(), c.chunks.size());
        ASSERT_EQ(conversation->history().size(), 2);
        EXPECT_EQ(conversation->history()[0], ModelContent(QStringLiteral("user"), "go"));
        EXPECT_EQ(conversation->history()[1], c.expected);
    }
}

TEST_F(GeminiChatTest, HistoryGrowsEvenWhenTheCallerStopsReading)
{
    auto gate = std::make_shared<LoopbackHttpServer::Gate>();
    Reply reply = Reply::eventStream({chunk(R"([{"text":"one "}])")});
    reply.withPiece(chunk(R"([{"text":"two"}])"), 0, gate);
    server.enqueue(reply);

    std::weak_ptr<Chat> watcher;
    {
        auto conversation = chat();
        watcher = conversation;
        const AsyncStream<GenerateContentResponse> stream = conversation->sendMessageStream("count");
        ASSERT_TRUE(geminitest::next(stream));
    }
    // The stream's own task keeps the chat until the answer is complete.
    ASSERT_FALSE(watcher.expired());
    EXPECT_TRUE(watcher.lock()->history().isEmpty());
    gate->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.expired(); }, geminitest::kWaitMs));
}

TEST_F(GeminiChatTest, StreamUpdatesTheHistoryBeforeItEnds)
{
    auto conversation = chat();
    server.enqueue(Reply::eventStream({chunk(R"([{"text":"one "}])"), chunk(R"([{"text":"two"}])")}));
    const auto drained = geminitest::drain(conversation->sendMessageStream("count"));
    EXPECT_FALSE(drained.error);
    ASSERT_EQ(conversation->history().size(), 2);
    EXPECT_EQ(conversation->history()[1], ModelContent(QStringLiteral("model"), "one two"));
}
