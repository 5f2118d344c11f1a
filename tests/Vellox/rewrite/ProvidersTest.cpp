#include "RewriteTestSupport.h"
#include "support/LoopbackHttpServer.h"

#include "Vellox/rewrite/AIProviderFactory.h"
#include "Vellox/rewrite/AnthropicClaudeProvider.h"
#include "Vellox/rewrite/GeminiProvider.h"
#include "Vellox/rewrite/MockProvider.h"
#include "Vellox/rewrite/OpenAICompatibleProvider.h"
#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderConfigurationError.h"
#include "Vellox/rewrite/ProviderTransportError.h"
#include "Vellox/rewrite/TransformPromptBuilder.h"
#include "Vellox/settings/KeychainStore.h"
#include "gemini-client/GenerateContentError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using Reply = LoopbackHttpServer::Reply;
using rewrite_test::run;

namespace {

const TonePreset& builtIn(int number)
{
    return TonePreset::builtIns().at(number - 1);
}

const AITransformMode kProfessional = AITransformMode::tonePreset(builtIn(1));

QJsonObject bodyOf(const LoopbackHttpServer::Request& request)
{
    return QJsonDocument::fromJson(request.body).object();
}

QByteArray openAIAnswer(const QString& content)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("choices"),
                                      QJsonArray{QJsonObject{{QStringLiteral("message"),
                                                              QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")},
                                                                          {QStringLiteral("content"), content}}}}}}})
        .toJson();
}

class ProvidersTest : public ::testing::Test {
protected:
    QString base() const { return server.baseUrl(); }

    platform::PlatformGuard guard;
    LoopbackHttpServer server;
};

} // namespace

TEST(ProviderAIErrorTest, LongAndShortTexts)
{
    struct Case {
        ProviderAIError error;
        const char* description;
        const char* summary;
    };
    const Case cases[] = {
        {ProviderAIError::httpStatus(429, QStringLiteral("{\"error\":\"slow down\"}")),
         "API error (429): {\"error\":\"slow down\"}", "Request failed (429)."},
        {ProviderAIError::missingApiKey(), "Add an API key for this provider in Vellox settings.", "Add an API key in Settings."},
        {ProviderAIError::badResponse(), "The AI provider returned an invalid response.", "Provider returned an invalid response."},
        {ProviderAIError::emptyContent(), "The AI provider returned an empty rewrite.", "No text came back."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        EXPECT_EQ(c.error.errorDescription(), QString::fromUtf8(c.description));
        EXPECT_EQ(c.error.neutralUserSummary(), QString::fromUtf8(c.summary));
    }
}

TEST(TransformPromptBuilderTest, SystemAndUserTexts)
{
    const QString command = TransformPromptBuilder::systemText(AITransformMode::command(QStringLiteral("x")));
    EXPECT_TRUE(command.startsWith(QStringLiteral("You transform selected user text in-place. Return only")));
    EXPECT_TRUE(command.endsWith(QStringLiteral("output exactly that. Apply the user instruction to the selected text "
                                                "exactly as requested.")));
    EXPECT_EQ(command.count(QStringLiteral(". ")), 5);
    EXPECT_FALSE(command.contains(QLatin1Char('\n')));

    TonePreset blank = builtIn(6);
    blank.instruction.clear();
    EXPECT_TRUE(TransformPromptBuilder::systemText(AITransformMode::tonePreset(blank)).endsWith(QStringLiteral("exactly that. ")));
    EXPECT_TRUE(TransformPromptBuilder::systemText(kProfessional).endsWith(builtIn(1).instruction));

    EXPECT_EQ(TransformPromptBuilder::userText(QStringLiteral("  hi\n"), kProfessional), QStringLiteral("  hi\n"));
    EXPECT_EQ(TransformPromptBuilder::userText(QStringLiteral(" a b\n"), AITransformMode::command(QStringLiteral(" Fix it "))),
              QStringLiteral("Instruction:\n Fix it \n\nSelected text:\n a b\n"));
}

TEST(MockProviderTest, RulesPerTone)
{
    struct Case {
        const char* name;
        QString text;
        AITransformMode mode;
        QString expected;
    };
    const Case cases[] = {
        {"professional", QStringLiteral("  Send it   ASAP, not asap or ASAPX\n"), kProfessional,
         QStringLiteral("Professional: Send it at your earliest convenience, not asap or ASAPX")},
        {"casual", QStringLiteral("Please send the file."), AITransformMode::tonePreset(builtIn(2)),
         QStringLiteral("Casual: could you send the file!")},
        {"friendly", QStringLiteral("See\tyou"), AITransformMode::tonePreset(builtIn(3)),
         QStringLiteral("Friendly: Thanks for sharing. See you")},
        {"concise", QStringLiteral("It is Really very  JUST good basically"), AITransformMode::tonePreset(builtIn(4)),
         QStringLiteral("Concise: It is good")},
        {"confident", QStringLiteral("Maybe we go, I think so"), AITransformMode::tonePreset(builtIn(5)),
         QStringLiteral("Confident: please we go, I recommend so")},
        {"persuasive has no rule", QStringLiteral("maybe ASAP"), AITransformMode::tonePreset(builtIn(6)),
         builtIn(6).name + QStringLiteral(": maybe ASAP")},
        {"blank text, blank instruction", QStringLiteral(" \n"), AITransformMode::command(QStringLiteral("  ")),
         QStringLiteral("selected text")},
        {"blank text, instruction", QString(), AITransformMode::command(QStringLiteral(" Shout ")),
         QStringLiteral("Shout: selected text")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(MockProvider().transform(c.text, c.mode)).value, c.expected);
    }
}

TEST_F(ProvidersTest, FactoryBuildsTheNamedProviderWithItsStoredKey)
{
    KeychainStore::setApiKey(QStringLiteral("sk-gem"), ProviderId::gemini);
    AppSettings settings;
    settings.provider = ProviderId::gemini;
    settings.model = QStringLiteral("gemini-2.5-pro");
    auto provider = AIProviderFactory::make(settings);
    ASSERT_EQ(provider->id(), QStringLiteral("gemini"));
    const auto& gem = dynamic_cast<const GeminiProvider&>(*provider);
    EXPECT_EQ(gem.apiKey(), QStringLiteral("sk-gem"));
    EXPECT_EQ(gem.model(), QStringLiteral("gemini-2.5-pro"));

    settings.provider = ProviderId::mock;
    EXPECT_EQ(AIProviderFactory::make(settings)->label(), QStringLiteral("Local mock"));
    settings.provider = ProviderId::anthropic;
    EXPECT_EQ(AIProviderFactory::make(settings)->label(), QStringLiteral("Claude"));
    settings.provider = ProviderId::openaiCompatible;
    settings.apiBaseURL.clear();
    const auto openai = AIProviderFactory::make(settings);
    EXPECT_EQ(dynamic_cast<const OpenAICompatibleProvider&>(*openai).chatCompletionsURL(),
              QUrl(QStringLiteral("https://api.openai.com/v1/chat/completions")));
}

TEST_F(ProvidersTest, OpenAISendsOneChatCompletionRequest)
{
    for (const QString& suffix : {QStringLiteral("/v1"), QStringLiteral("/v1/")}) {
        SCOPED_TRACE(suffix.toStdString());
        server.enqueue(Reply::json(openAIAnswer(QStringLiteral("  Better.\n"))));
        const OpenAICompatibleProvider provider(QStringLiteral("sk-test"), base() + suffix, QStringLiteral("gpt-4o-mini"));
        const auto outcome = run(provider.transform(QStringLiteral(" hi there\n"), kProfessional));
        EXPECT_EQ(outcome.value, QStringLiteral("Better."));
        const auto& request = server.requests().last();
        EXPECT_EQ(request.requestLine(), QByteArray("POST /v1/chat/completions HTTP/1.1"));
        EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer sk-test"));
        EXPECT_EQ(request.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject body = bodyOf(request);
        EXPECT_EQ(body.keys(), (QStringList{"messages", "model", "temperature"}));
        EXPECT_EQ(body.value("model").toString(), QStringLiteral("gpt-4o-mini"));
        EXPECT_DOUBLE_EQ(body.value("temperature").toDouble(), 0.4);
        const QJsonArray messages = body.value("messages").toArray();
        ASSERT_EQ(messages.size(), 2);
        EXPECT_EQ(messages[0].toObject(), (QJsonObject{{"role", "system"}, {"content", TransformPromptBuilder::systemText(kProfessional)}}));
        EXPECT_EQ(messages[1].toObject(), (QJsonObject{{"role", "user"}, {"content", " hi there\n"}}));
    }
}

TEST_F(ProvidersTest, OpenAIAnswersMapToTextOrErrors)
{
    struct Case {
        const char* name;
        Reply reply;
        std::optional<QString> text;
        std::optional<ProviderAIError> error;
    };
    const QByteArray noMessageLater = R"({"choices":[{"message":{"content":" first "}},{"index":1}]})";
    const Case cases[] = {
        {"empty choices", Reply::json(R"({"choices":[]})"), std::nullopt, ProviderAIError::emptyContent()},
        {"null content", Reply::json(R"({"choices":[{"message":{"content":null}}]})"), std::nullopt, ProviderAIError::emptyContent()},
        {"missing content", Reply::json(R"({"choices":[{"message":{}}]})"), std::nullopt, ProviderAIError::emptyContent()},
        {"blank content", Reply::json(openAIAnswer(QStringLiteral(" \n\n "))), std::nullopt, ProviderAIError::emptyContent()},
        {"not JSON", Reply::json("<html>"), std::nullopt, ProviderAIError::emptyContent()},
        {"later choice without message", Reply::json(noMessageLater), QStringLiteral("first"), std::nullopt},
        {"401 with a JSON body", Reply::json(R"({"error":"bad key"})", 401), std::nullopt,
         ProviderAIError::httpStatus(401, QStringLiteral(R"({"error":"bad key"})"))},
        {"500 not UTF-8", Reply::json(QByteArray("\xff\xfe\xfd"), 500), std::nullopt,
         ProviderAIError::httpStatus(500, QStringLiteral("Request failed"))},
        {"429 empty body", Reply::json(QByteArray(), 429), std::nullopt, ProviderAIError::httpStatus(429, QString())},
        {"a redirect is not followed", Reply::json("moved", 307).withHeader("Location", "http://127.0.0.1:9/elsewhere"),
         std::nullopt, ProviderAIError::httpStatus(307, QStringLiteral("moved"))},
    };
    const OpenAICompatibleProvider provider(QStringLiteral("k"), base() + QStringLiteral("/v1"), QStringLiteral("m"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.reply);
        const auto outcome = run(provider.transform(QStringLiteral("t"), kProfessional));
        EXPECT_EQ(outcome.value, c.text);
        EXPECT_EQ(outcome.errorAs<ProviderAIError>(), c.error);
    }
}

TEST_F(ProvidersTest, NothingIsSentWithoutAKeyOrWithAnUnusableBaseURL)
{
    const auto noKey = run(OpenAICompatibleProvider(QString(), base(), QStringLiteral("m")).transform(QStringLiteral("t"), kProfessional));
    EXPECT_EQ(noKey.errorAs<ProviderAIError>(), ProviderAIError::missingApiKey());
    EXPECT_EQ(run(AnthropicClaudeProvider(QString(), QStringLiteral("m")).transform(QStringLiteral("t"), kProfessional))
                  .errorAs<ProviderAIError>(),
              ProviderAIError::missingApiKey());
    EXPECT_EQ(run(GeminiProvider(QString(), QStringLiteral("m")).transform(QStringLiteral("t"), kProfessional))
                  .errorAs<ProviderAIError>(),
              ProviderAIError::missingApiKey());

    // Falling back to the public host would send the key and the text
    // somewhere the user did not configure.
    for (const char* bad : {"not a url", "ftp://example.com/v1", "http//missing-colon", "https://"}) {
        SCOPED_TRACE(bad);
        const OpenAICompatibleProvider provider(QStringLiteral("k"), QString::fromLatin1(bad), QStringLiteral("m"));
        EXPECT_TRUE(run(provider.transform(QStringLiteral("t"), kProfessional)).errorAs<ProviderConfigurationError>());
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

// A success the connection cuts short is no answer: its partial body must not
// read as an empty rewrite, nor as a shortened one.
TEST_F(ProvidersTest, TransportFailurePassesThroughUnwrapped)
{
    rewrite_test::ScopedEnv env("VELLOX_ANTHROPIC_BASE_URL", base().toUtf8());
    const QByteArray openAI = openAIAnswer(QStringLiteral("The whole rewritten text."));
    const QByteArray anthropic = R"({"content":[{"type":"text","text":"The whole rewritten text."}]})";
    const auto cutAfter = [](const QByteArray& body, int pieces, bool chunked) {
        Reply reply;
        reply.headers = {{"Content-Type", "application/json"}};
        reply.withPiece(body.left(body.size() / 2)).withPiece(body.mid(body.size() / 2));
        reply.chunked = chunked;
        reply.closeAfterPieces = pieces;
        return reply;
    };
    const auto cutAfterBytes = [](Reply reply, qsizetype bytes) {
        reply.closeAfterBytes = bytes;
        return reply;
    };
    struct Case {
        const char* name;
        Reply openAIReply;
        Reply anthropicReply;
        bool cut = true;
    };
    const Case cases[] = {
        {"no answer at all", Reply::closeWithoutAnswer(), Reply::closeWithoutAnswer(), false},
        {"connection drops after the status line", cutAfterBytes(Reply::json(openAI), 17),
         cutAfterBytes(Reply::json(anthropic), 17)},
        {"connection drops after the head", cutAfter(openAI, 0, false), cutAfter(anthropic, 0, false)},
        {"body shorter than its Content-Length", cutAfter(openAI, 1, false), cutAfter(anthropic, 1, false)},
        {"chunked body without its last chunk", cutAfter(openAI, 1, true), cutAfter(anthropic, 1, true)},
    };
    const OpenAICompatibleProvider openAIProvider(QStringLiteral("k"), base(), QStringLiteral("m"));
    const AnthropicClaudeProvider anthropicProvider(QStringLiteral("ak"), QStringLiteral("m"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.openAIReply);
        server.enqueue(c.anthropicReply);
        for (const auto& outcome : {run(openAIProvider.transform(QStringLiteral("t"), kProfessional)),
                                    run(anthropicProvider.transform(QStringLiteral("t"), kProfessional))}) {
            const auto transport = outcome.errorAs<ProviderTransportError>();
            ASSERT_TRUE(transport) << (outcome.error ? localizedDescription(outcome.error).toStdString() : "no error");
            if (c.cut) {
                EXPECT_EQ(transport->networkError(), int(QNetworkReply::RemoteHostClosedError));
            }
            EXPECT_FALSE(transport->errorDescription().isEmpty());
        }
    }
}

TEST_F(ProvidersTest, AnthropicSendsOneMessagesRequestAndJoinsTextBlocks)
{
    rewrite_test::ScopedEnv env("VELLOX_ANTHROPIC_BASE_URL", base().toUtf8());
    server.enqueue(Reply::json(R"({"content":[{"type":"text","text":" Hello"},{"type":"tool_use","id":"x"},{"type":"text","text":" world \n"}]})"));
    const AITransformMode mode = AITransformMode::command(QStringLiteral("Shorter"));
    const auto outcome = run(AnthropicClaudeProvider(QStringLiteral("ak"), QStringLiteral("claude-x")).transform(QStringLiteral("abc"), mode));
    EXPECT_EQ(outcome.value, QStringLiteral("Hello world"));
    const auto& request = server.requests().last();
    EXPECT_EQ(request.requestLine(), QByteArray("POST /v1/messages HTTP/1.1"));
    EXPECT_EQ(request.header("x-api-key"), QByteArray("ak"));
    EXPECT_EQ(request.header("anthropic-version"), QByteArray("2023-06-01"));
    EXPECT_EQ(request.header("Content-Type"), QByteArray("application/json"));
    EXPECT_FALSE(request.hasHeader("Authorization"));
    const QJsonObject body = bodyOf(request);
    EXPECT_EQ(body.keys(), (QStringList{"max_tokens", "messages", "model", "system", "temperature"}));
    EXPECT_EQ(body.value("max_tokens").toInt(), 8192);
    EXPECT_DOUBLE_EQ(body.value("temperature").toDouble(), 0.4);
    EXPECT_EQ(body.value("system").toString(), TransformPromptBuilder::systemText(mode));
    EXPECT_EQ(body.value("messages").toArray(),
              (QJsonArray{QJsonObject{{"role", "user"},
                                      {"content", QJsonArray{QJsonObject{{"type", "text"},
                                                                         {"text", TransformPromptBuilder::userText("abc", mode)}}}}}}));

    struct Case {
        const char* name;
        Reply reply;
        ProviderAIError error;
    };
    const Case failures[] = {
        {"empty content", Reply::json(R"({"content":[]})"), ProviderAIError::emptyContent()},
        {"content not made of objects", Reply::json(R"({"content":["text"]})"), ProviderAIError::emptyContent()},
        {"529 overloaded", Reply::json(R"({"type":"error"})", 529), ProviderAIError::httpStatus(529, QStringLiteral(R"({"type":"error"})"))},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.reply);
        EXPECT_EQ(run(AnthropicClaudeProvider(QStringLiteral("ak"), QStringLiteral("m")).transform(QStringLiteral("t"), mode))
                      .errorAs<ProviderAIError>(),
                  c.error);
    }
}

TEST_F(ProvidersTest, GeminiGoesThroughTheClientLibrary)
{
    rewrite_test::ScopedEnv env("VELLOX_GEMINI_BASE_URL", base().toUtf8());
    server.enqueue(Reply::json(R"({"candidates":[{"content":{"role":"model","parts":[{"text":" Fine. \n"}]},"finishReason":"STOP"}]})"));
    const auto outcome = run(GeminiProvider(QStringLiteral("gk"), QStringLiteral("gemini-2.5-flash")).transform(QStringLiteral("hey"), kProfessional));
    EXPECT_EQ(outcome.value, QStringLiteral("Fine."));
    const auto& request = server.requests().last();
    EXPECT_EQ(request.requestLine(), QByteArray("POST /v1beta/models/gemini-2.5-flash:generateContent HTTP/1.1"));
    EXPECT_EQ(request.header("x-goog-api-key"), QByteArray("gk"));
    EXPECT_FALSE(request.target.contains("key="));
    const QJsonObject body = bodyOf(request);
    EXPECT_EQ(body.value("contents").toArray(),
              (QJsonArray{QJsonObject{{"role", "user"}, {"parts", QJsonArray{QJsonObject{{"text", "hey"}}}}}}));
    EXPECT_EQ(body.value("system_instruction").toObject(),
              (QJsonObject{{"role", "system"},
                           {"parts", QJsonArray{QJsonObject{{"text", TransformPromptBuilder::systemText(kProfessional)}}}}}));
    EXPECT_NEAR(body.value("generation_config").toObject().value("temperature").toDouble(), 0.4, 1e-6);
    EXPECT_FALSE(body.contains("safety_settings"));
    EXPECT_FALSE(body.contains("tools"));
}

TEST_F(ProvidersTest, GeminiFailuresMapToProviderErrors)
{
    rewrite_test::ScopedEnv env("VELLOX_GEMINI_BASE_URL", base().toUtf8());
    struct Case {
        const char* name;
        Reply reply;
        ProviderAIError error;
    };
    const Case cases[] = {
        {"no candidates", Reply::json(R"({"candidates":[]})"), ProviderAIError::emptyContent()},
        {"no text part", Reply::json(R"({"candidates":[{"content":{"role":"model","parts":[]},"finishReason":"STOP"}]})"),
         ProviderAIError::emptyContent()},
        {"blocked for another reason", Reply::json(R"({"promptFeedback":{"blockReason":"OTHER"}})"),
         ProviderAIError::httpStatus(400, QStringLiteral("Gemini blocked the request (other). Try different wording."))},
        {"stopped at the token limit",
         Reply::json(R"({"candidates":[{"content":{"role":"model","parts":[{"text":"Half"}]},"finishReason":"MAX_TOKENS"}]})"),
         ProviderAIError::httpStatus(500, QStringLiteral("Gemini stopped early: MAX_TOKENS"))},
        {"rejected key",
         Reply::json(R"({"error":{"code":400,"message":"API key not valid. Please pass a valid API key.","status":"INVALID_ARGUMENT","details":[{"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID","domain":"googleapis.com"}]}})",
                     400),
         ProviderAIError::httpStatus(401, QStringLiteral("API key not valid. Please pass a valid API key."))},
        {"region", Reply::json(R"({"error":{"code":400,"message":"User location is not supported for the API use.","status":"FAILED_PRECONDITION"}})", 400),
         ProviderAIError::httpStatus(403, QStringLiteral("Gemini API is not available in your region."))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.enqueue(c.reply);
        const auto outcome = run(GeminiProvider(QStringLiteral("gk"), QStringLiteral("m")).transform(QStringLiteral("t"), kProfessional));
        EXPECT_EQ(outcome.errorAs<ProviderAIError>(), c.error);
    }
    // A block the library reports without the answer's feedback names safety.
    EXPECT_EQ(GeminiProvider::mapGeminiError(gemini::GenerateContentError::promptBlocked({})),
              ProviderAIError::httpStatus(400, QStringLiteral("Gemini blocked the request (safety). Try different wording.")));

    server.enqueue(Reply::json(R"({"error":{"code":503,"message":"Overloaded"}})", 503));
    const auto overloaded = run(GeminiProvider(QStringLiteral("gk"), QStringLiteral("m")).transform(QStringLiteral("t"), kProfessional));
    ASSERT_TRUE(overloaded.errorAs<ProviderAIError>());
    EXPECT_EQ(overloaded.errorAs<ProviderAIError>()->statusCode(), 500);
}
