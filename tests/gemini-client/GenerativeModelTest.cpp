#include "GeminiTestSupport.h"
#include "gemini-client/Chat.h"
#include "gemini-client/GenerativeModel.h"
#include "gemini-client/ImageParts.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/RPCError.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace gemini;
using geminitest::thrown;
using geminitest::wait;
using Reply = LoopbackHttpServer::Reply;

namespace {

class GeminiModelTest : public geminitest::GeminiTest {
protected:
    GenerativeModel bareModel(QString name) const
    {
        return GenerativeModel(std::move(name), QStringLiteral("k"), std::nullopt, std::nullopt, std::nullopt,
                               std::nullopt, std::nullopt, options());
    }

    coding::Json lastBody() const { return coding::parse(server.requests().last().body); }
};

} // namespace

TEST_F(GeminiModelTest, ResourceNameAddsTheModelsPrefixOnlyWhenNeeded)
{
    EXPECT_EQ(bareModel(QStringLiteral("gemini-2.5-flash")).modelResourceName(), QStringLiteral("models/gemini-2.5-flash"));
    EXPECT_EQ(bareModel(QStringLiteral("tunedModels/mine")).modelResourceName(), QStringLiteral("tunedModels/mine"));
    EXPECT_EQ(logMessages().first(),
              QStringLiteral("[GeminiClient] Model gemini-2.5-flash initialized. To enable additional logging, add "
                             "`-GeminiClientDebugLogEnabled` as a launch argument in Xcode."));
    EXPECT_EQ(systemLog().lines().first().level, platform::LogLevel::Info);
}

TEST_F(GeminiModelTest, PartsGoOutAsOneUserTurn)
{
    server.enqueue(Reply::json(geminitest::textAnswer("ok")));
    wait(bareModel(QStringLiteral("m")).generateContent("one", QStringLiteral("two"), ContentPart::text(QStringLiteral("three"))));
    EXPECT_EQ(server.requests().last().body,
              R"({"model":"models/m","contents":[{"role":"user","parts":[{"text":"one"},{"text":"two"},{"text":"three"}]}]})");
}

TEST_F(GeminiModelTest, ImagesTravelAsBase64Jpeg)
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::blue);
    server.enqueue(Reply::json(geminitest::textAnswer("a blue square")));
    wait(bareModel(QStringLiteral("m")).generateContent("Describe:", image));
    const coding::Json parts = lastBody()["contents"][0]["parts"];
    ASSERT_EQ(parts.size(), 2u);
    const coding::Json& inlineData = parts[1]["inline_data"];
    EXPECT_EQ(inlineData["mime_type"], "image/jpeg");
    const QByteArray jpeg = QByteArray::fromBase64(QByteArray::fromStdString(inlineData["data"].get<std::string>()));
    EXPECT_EQ(QImage::fromData(jpeg, "JPEG").size(), QSize(4, 4));
}

TEST_F(GeminiModelTest, SystemInstructionFromNoStringsHasNoParts)
{
    const GenerativeModel model(QStringLiteral("m"), QStringLiteral("k"), std::nullopt, std::nullopt, std::nullopt,
                                std::nullopt, QStringList(), options());
    server.enqueue(Reply::json(geminitest::textAnswer("ok")));
    wait(model.generateContent("x"));
    EXPECT_EQ(lastBody()["system_instruction"].dump(), R"({"parts":[],"role":"system"})");
}

TEST_F(GeminiModelTest, AnswersAreCheckedBeforeTheyAreHandedOut)
{
    using Kind = GenerateContentError::Kind;
    struct Case {
        const char* name;
        QByteArray answer;
        std::optional<Kind> error;
        std::optional<FinishReason> reason;
    };
    const Case cases[] = {
        {"no candidates and no feedback", R"({"candidates":[]})", std::nullopt, std::nullopt},
        {"stopped normally", geminitest::textAnswer("ok", "STOP"), std::nullopt, std::nullopt},
        {"no finish reason", geminitest::textAnswer("ok", ""), std::nullopt, std::nullopt},
        {"out of tokens", geminitest::textAnswer("cut", "MAX_TOKENS"), Kind::responseStoppedEarly, FinishReason::maxTokens},
        {"finish reason the service added later", geminitest::textAnswer("x", "LATER"), Kind::responseStoppedEarly,
         FinishReason::unknown},
        {"blocked prompt even with candidates",
         R"({"promptFeedback":{"blockReason":"OTHER"},)" + geminitest::textAnswer("x").mid(1), Kind::promptBlocked,
         std::nullopt},
        {"only the first candidate counts",
         R"({"candidates":[{"content":{"parts":[{"text":"a"}]},"finishReason":"STOP"},{"content":{"parts":[]},"finishReason":"SAFETY"}]})",
         std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(Reply::json(c.answer));
        if (!c.error) {
            EXPECT_NO_THROW(wait(model().generateContent("x")));
            continue;
        }
        const auto error = thrown<GenerateContentError>([&] { wait(model().generateContent("x")); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), *c.error);
        EXPECT_EQ(error->reason(), c.reason);
        ASSERT_TRUE(error->response());
        if (c.error == Kind::promptBlocked) {
            EXPECT_EQ(caseName(*error->response()->promptFeedback->blockReason), QStringLiteral("other"));
        }
    }
}

TEST_F(GeminiModelTest, StreamFailsAtTheChunkThatStoppedEarly)
{
    server.enqueue(Reply::eventStream({"data: " + geminitest::textAnswer("a", "") + "\n\n",
                                       "data: " + geminitest::textAnswer("b", "") + "\n\n",
                                       "data: " + geminitest::textAnswer("c", "SAFETY") + "\n\n",
                                       "data: " + geminitest::textAnswer("d", "") + "\n\n"}));
    const auto drained = geminitest::drain(model().generateContentStream("x"));
    ASSERT_EQ(drained.values.size(), 2);
    const auto* error = errorAs<GenerateContentError>(drained.error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), GenerateContentError::Kind::responseStoppedEarly);
    EXPECT_EQ(error->reason(), FinishReason::safety);
    EXPECT_EQ(error->response()->text(), QStringLiteral("c"));
}

TEST_F(GeminiModelTest, TokenCountMapsNothing)
{
    server.enqueue(Reply::json(
        R"({"error":{"code":400,"message":"User location is not supported for the API use.","details":[{"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID"}]}})",
        400));
    const auto serverError = thrown<CountTokensError>([&] { wait(model().countTokens("x")); });
    ASSERT_TRUE(serverError);
    ASSERT_TRUE(errorAs<RPCError>(serverError->underlying()));

    server.enqueue(Reply::json("{}"));
    const auto undecodable = thrown<CountTokensError>([&] { wait(model().countTokens("x")); });
    ASSERT_TRUE(undecodable);
    EXPECT_TRUE(errorAs<DecodingError>(undecodable->underlying()));
}

TEST_F(GeminiModelTest, InputThatCannotBeConvertedIsNeverSent)
{
    const GenerativeModel model = this->model();

    const auto oneShot = thrown<GenerateContentError>([&] { wait(model.generateContent("a", QPixmap(), "b")); });
    ASSERT_TRUE(oneShot);
    EXPECT_EQ(oneShot->kind(), GenerateContentError::Kind::promptImageContentError);
    ASSERT_TRUE(errorAs<ImageConversionError>(oneShot->underlying()));

    const auto streamed = geminitest::drain(model.generateContentStream(QPixmap()));
    const auto* streamError = errorAs<GenerateContentError>(streamed.error);
    ASSERT_TRUE(streamError);
    EXPECT_EQ(streamError->kind(), GenerateContentError::Kind::promptImageContentError);

    const auto counted = thrown<CountTokensError>([&] { wait(model.countTokens(QPixmap())); });
    ASSERT_TRUE(counted);
    EXPECT_TRUE(errorAs<ImageConversionError>(counted->underlying()));

    const ContentsProducer failing = []() -> QList<ModelContent> { throw std::runtime_error("no contents today"); };
    const auto produced = thrown<GenerateContentError>([&] { wait(model.generateContent(failing)); });
    ASSERT_TRUE(produced);
    EXPECT_EQ(produced->kind(), GenerateContentError::Kind::internalError);
    EXPECT_EQ(produced->underlying()->description(), QStringLiteral("no contents today"));

    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(GeminiModelTest, ProducedContentsAreSentAsTheyAre)
{
    server.enqueue(Reply::json(geminitest::textAnswer("ok")));
    wait(bareModel(QStringLiteral("m")).generateContent(
        [] { return QList<ModelContent>{ModelContent(std::nullopt, QList<ContentPart>())}; }));
    EXPECT_EQ(server.requests().last().body, R"({"model":"models/m","contents":[{"parts":[]}]})");
}

TEST_F(GeminiModelTest, ModelOutlivedByItsCall)
{
    server.enqueue(Reply::json(geminitest::textAnswer("still here")).withPiece("", 100));
    QCoro::Task<GenerateContentResponse> call = bareModel(QStringLiteral("m")).generateContent("x");
    EXPECT_EQ(wait(std::move(call)).text(), QStringLiteral("still here"));
}
