#include "GeminiTestSupport.h"
#include "gemini-client/CountTokensRequest.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/Safety.h"

#include <QSet>

#include <gtest/gtest.h>

#include <cmath>

using namespace gemini;
using geminitest::thrown;

namespace {

class GeminiResponseDecodingTest : public geminitest::GeminiTest {
protected:
    GenerateContentResponse decode(const char* json) { return coding::decode<GenerateContentResponse>(json); }

    GenerateContentResponse withParts(const char* parts)
    {
        return decode((QByteArray(R"({"candidates":[{"content":{"role":"model","parts":)") + parts + "}}]}").constData());
    }
};

} // namespace

TEST_F(GeminiResponseDecodingTest, DecodesMinimalAnswers)
{
    const GenerateContentResponse noCandidates = decode(R"({"candidates":[]})");
    EXPECT_TRUE(noCandidates.candidates.isEmpty());
    EXPECT_FALSE(noCandidates.promptFeedback);
    EXPECT_FALSE(noCandidates.usageMetadata);
    EXPECT_TRUE(noCandidates.functionCalls().isEmpty());

    const GenerateContentResponse blocked = decode(R"({"promptFeedback":{"blockReason":"SAFETY"}})");
    EXPECT_TRUE(blocked.candidates.isEmpty());
    ASSERT_TRUE(blocked.promptFeedback);
    EXPECT_EQ(blocked.promptFeedback->blockReason, PromptFeedback::BlockReason::safety);
    EXPECT_TRUE(blocked.promptFeedback->safetyRatings.isEmpty());
    EXPECT_EQ(caseName(*blocked.promptFeedback->blockReason), QStringLiteral("safety"));

    const GenerateContentResponse usage = decode(R"({"candidates":[],"usageMetadata":{"totalTokenCount":7}})");
    ASSERT_TRUE(usage.usageMetadata);
    EXPECT_EQ(usage.usageMetadata->promptTokenCount, 0);
    EXPECT_EQ(usage.usageMetadata->candidatesTokenCount, 0);
    EXPECT_EQ(usage.usageMetadata->totalTokenCount, 7);
}

TEST_F(GeminiResponseDecodingTest, AnswerWithoutCandidatesOrFeedbackFails)
{
    for (const char* json : {"{}", R"({"usageMetadata":{"totalTokenCount":1}})"}) {
        SCOPED_TRACE(json);
        const auto error = thrown<DecodingError>([&] { decode(json); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_TRUE(error->codingPath().isEmpty());
        EXPECT_EQ(error->debugDescription(),
                  QStringLiteral("Failed to decode GenerateContentResponse; missing keys 'candidates' and 'promptFeedback'."));
    }
}

TEST_F(GeminiResponseDecodingTest, InvalidCandidateContentIsTold)
{
    struct Case {
        const char* name;
        const char* json;
        InvalidCandidateError::Kind expected;
    };
    const Case cases[] = {
        {"empty content object", R"({"candidates":[{"content":{}}]})", InvalidCandidateError::Kind::emptyContent},
        {"content with only a role", R"({"candidates":[{"content":{"role":"model"}}]})",
         InvalidCandidateError::Kind::malformedContent},
        {"content that is not an object", R"({"candidates":[{"content":"text"}]})",
         InvalidCandidateError::Kind::malformedContent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = thrown<InvalidCandidateError>([&] { decode(c.json); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), c.expected);
    }
}

TEST_F(GeminiResponseDecodingTest, CandidateWithoutContentHasAnEmptyUserTurn)
{
    const GenerateContentResponse response = decode(R"({"candidates":[{"finishReason":"STOP"}]})");
    ASSERT_EQ(response.candidates.size(), 1);
    EXPECT_EQ(response.candidates[0].content, ModelContent(QStringLiteral("user"), QList<ContentPart>()));
    EXPECT_FALSE(response.text());
    EXPECT_EQ(logMessages(), QStringList{QStringLiteral("Could not get a text part from the first candidate.")});
}

TEST_F(GeminiResponseDecodingTest, UnknownServerValuesBecomeUnknownWithOneLogLine)
{
    struct Case {
        const char* name;
        const char* json;
        const char* logLine; // nullptr: nothing logged
    };
    const Case cases[] = {
        {"new finish reason", R"({"candidates":[{"finishReason":"NEW_REASON"}]})",
         R"([GeminiClient] Unrecognized FinishReason with value "NEW_REASON".)"},
        {"known unknown finish reason", R"({"candidates":[{"finishReason":"FINISH_REASON_UNKNOWN"}]})", nullptr},
        {"new block reason", R"({"promptFeedback":{"blockReason":"JAILBREAK"}})",
         R"([GeminiClient] Unrecognized BlockReason with value "JAILBREAK".)"},
        {"new harm category", R"({"candidates":[{"safetyRatings":[{"category":"HARM_CATEGORY_CIVIC","probability":"LOW"}]}]})",
         R"([GeminiClient] Unrecognized HarmCategory with value "HARM_CATEGORY_CIVIC".)"},
        {"probability in lower case", R"({"candidates":[{"safetyRatings":[{"category":"HARM_CATEGORY_HARASSMENT","probability":"low"}]}]})",
         R"([GeminiClient] Unrecognized HarmProbability with value "low".)"},
        {"new code outcome", R"({"candidates":[{"content":{"parts":[{"codeExecutionResult":{"outcome":"OUTCOME_LATER"}}]}}]})",
         R"([GeminiClient] Unrecognized Outcome with value "OUTCOME_LATER".)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        systemLog().clear();
        decode(c.json);
        const QStringList expected = c.logLine ? QStringList{QString::fromUtf8(c.logLine)} : QStringList();
        EXPECT_EQ(logMessages(), expected);
        for (const auto& line : systemLog().lines())
            EXPECT_EQ(line.level, platform::LogLevel::Error);
    }

    const GenerateContentResponse rating = decode(
        R"({"candidates":[{"finishReason":"NEW_REASON","safetyRatings":[{"category":"HARM_CATEGORY_CIVIC","probability":"LOW"}]}]})");
    EXPECT_EQ(rating.candidates[0].finishReason, FinishReason::unknown);
    EXPECT_EQ(rating.candidates[0].safetyRatings[0],
              SafetyRating(SafetySetting::HarmCategory::unknown, SafetyRating::HarmProbability::low));
    EXPECT_FALSE(fromRawValue<SafetyRating::HarmProbability>(u"low"));
}

TEST_F(GeminiResponseDecodingTest, SafetyValuesUseTheirOwnUnknownSpelling)
{
    const SafetyFeedback feedback = coding::decode<SafetyFeedback>(
        R"({"rating":{"category":"UNKNOWN","probability":"HIGH"},"setting":{"category":"HARM_CATEGORY_HATE_SPEECH","threshold":"UNKNOWN"}})");
    EXPECT_EQ(feedback.setting.threshold(), SafetySetting::BlockThreshold::unknown);
    EXPECT_EQ(feedback.rating.category(), SafetySetting::HarmCategory::unknown);
    EXPECT_EQ(logMessages(), QStringList{QStringLiteral(R"([GeminiClient] Unrecognized HarmCategory with value "UNKNOWN".)")});

    EXPECT_TRUE(thrown<DecodingError>([] { coding::decode<SafetyRating>(R"({"category":"HARM_CATEGORY_HARASSMENT"})"); }));
}

TEST_F(GeminiResponseDecodingTest, RatingsCompareAndHashByValue)
{
    using P = SafetyRating::HarmProbability;
    const SafetyRating low(SafetySetting::HarmCategory::harassment, P::low);
    const SafetyRating sameLow(SafetySetting::HarmCategory::harassment, P::low);
    const SafetyRating medium(SafetySetting::HarmCategory::harassment, P::medium);
    EXPECT_EQ(low, sameLow);
    EXPECT_EQ(qHash(low), qHash(sameLow));
    EXPECT_NE(low, medium);
    EXPECT_EQ(QSet<SafetyRating>({low, sameLow, medium}).size(), 2);
}

TEST_F(GeminiResponseDecodingTest, CitationsFillDefaultsAndRequireTheirKeys)
{
    const GenerateContentResponse response = decode(
        R"({"candidates":[{"citationMetadata":{"citationSources":[{"endIndex":4,"uri":"u","license":""}]}}]})");
    const Citation& citation = response.candidates[0].citationMetadata->citationSources[0];
    EXPECT_EQ(citation.startIndex, 0);
    EXPECT_EQ(citation.endIndex, 4);
    EXPECT_FALSE(citation.license);

    const auto missingUri = thrown<DecodingError>(
        [&] { decode(R"({"candidates":[{"citationMetadata":{"citationSources":[{"endIndex":4}]}}]})"); });
    ASSERT_TRUE(missingUri);
    EXPECT_EQ(missingUri->codingPath().toString(), QStringLiteral("candidates[0].citationMetadata.citationSources[0].uri"));
}

TEST_F(GeminiResponseDecodingTest, IntegersAreDecodedStrictly)
{
    struct Case {
        const char* name;
        const char* json;
        std::optional<qint64> expected;
        const char* error;
    };
    const Case cases[] = {
        {"integer", R"({"totalTokens":12})", 12, nullptr},
        {"whole number written with a fraction", R"({"totalTokens":12.0})", 12, nullptr},
        {"fraction", R"({"totalTokens":12.5})", std::nullopt, "Parsed JSON number <12.5> does not fit in Int64."},
        {"beyond 64 bits", R"({"totalTokens":18446744073709551615})", std::nullopt,
         "Parsed JSON number <18446744073709551615> does not fit in Int64."},
        {"string", R"({"totalTokens":"12"})", std::nullopt, "Expected to decode Int64 but found a string instead."},
        {"boolean", R"({"totalTokens":true})", std::nullopt, "Expected to decode Int64 but found a boolean instead."},
        {"null", R"({"totalTokens":null})", std::nullopt, "Expected Int64 value but found null instead."},
        {"missing", R"({})", std::nullopt, "No value associated with key \"totalTokens\"."},
        {"not JSON", R"({"totalTokens":)", std::nullopt, "The given data was not valid JSON."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected) {
            EXPECT_EQ(coding::decode<CountTokensResponse>(c.json).totalTokens, *c.expected);
            continue;
        }
        const auto error = thrown<DecodingError>([&] { coding::decode<CountTokensResponse>(c.json); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->debugDescription(), QLatin1String(c.error));
    }
}

TEST_F(GeminiResponseDecodingTest, TextJoinsTheFirstCandidatesPartsWithFencedCode)
{
    const GenerateContentResponse response = withParts(
        R"([{"text":"x"},{"executableCode":{"language":"ABC","code":"y"}},)"
        R"({"codeExecutionResult":{"outcome":"OUTCOME_OK","output":"z"}},{"text":"w"}])");
    EXPECT_EQ(response.text(), QStringLiteral("x\n```abc\ny\n```\n```\nz\n```\nw"));

    const GenerateContentResponse bare = withParts(
        R"([{"executableCode":{"language":"LANGUAGE_UNSPECIFIED","code":"y"}},)"
        R"({"codeExecutionResult":{"outcome":"OUTCOME_FAILED","output":""}},{"text":""}])");
    EXPECT_EQ(bare.text(), QStringLiteral("```\ny\n```\n"));
    EXPECT_TRUE(logMessages().isEmpty());
}

TEST_F(GeminiResponseDecodingTest, TextAndFunctionCallsReadOnlyTheFirstCandidate)
{
    const GenerateContentResponse response = decode(
        R"({"candidates":[{"content":{"parts":[{"functionCall":{"name":"a"}},{"functionCall":{"name":"b","args":null}}]}},)"
        R"({"content":{"parts":[{"text":"ignored"},{"functionCall":{"name":"c"}}]}}]})");
    EXPECT_FALSE(response.text());
    const QList<FunctionCall> calls = response.functionCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].name(), QStringLiteral("a"));
    EXPECT_TRUE(calls[1].args().isEmpty());
    EXPECT_EQ(logMessages(), QStringList{QStringLiteral("Could not get a text part from the first candidate.")});

    systemLog().clear();
    EXPECT_FALSE(decode(R"({"candidates":[]})").text());
    EXPECT_EQ(logMessages(), QStringList{QStringLiteral("Could not get text from a response that had no candidates.")});
}

TEST_F(GeminiResponseDecodingTest, CallPayloadsRoundTripWithTheirDefaults)
{
    struct Case {
        const char* name;
        const char* json;
        const char* written;
    };
    const Case cases[] = {
        {"call without args", R"({"functionCall":{"name":"f"}})", R"({"functionCall":{"name":"f","args":{}}})"},
        {"null args", R"({"functionCall":{"name":"f","args":null}})", R"({"functionCall":{"name":"f","args":{}}})"},
        {"args keep null members", R"({"functionCall":{"name":"f","args":{"a":null,"b":[true,1,"1"]}}})",
         R"({"functionCall":{"name":"f","args":{"a":null,"b":[true,1,"1"]}}})"},
        {"result without output", R"({"codeExecutionResult":{"outcome":"OUTCOME_DEADLINE_EXCEEDED"}})",
         R"({"codeExecutionResult":{"outcome":"OUTCOME_DEADLINE_EXCEEDED","output":""}})"},
        {"unknown outcome is written as unknown", R"({"codeExecutionResult":{"outcome":"OUTCOME_LATER"}})",
         R"({"codeExecutionResult":{"outcome":"OUTCOME_UNKNOWN","output":""}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(coding::encode(coding::decode<ContentPart>(c.json)), c.written);
    }
    EXPECT_TRUE(thrown<DecodingError>([] { coding::decode<ContentPart>(R"({"functionCall":{"args":{}}})"); }));
    EXPECT_TRUE(thrown<DecodingError>([] { coding::decode<ContentPart>(R"({"executableCode":{"code":"1"}})"); }));
}

TEST_F(GeminiResponseDecodingTest, JsonValuesKeepTheirKindsAndCompareAsNumbers)
{
    const JSONValue value = coding::decode<JSONValue>(R"({"t":true,"n":1,"s":"1","z":null,"big":9007199254740993})");
    const JSONValue::Object& object = *value.object();
    EXPECT_EQ(object[QStringLiteral("t")].kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(object[QStringLiteral("n")], JSONValue(1.0));
    EXPECT_EQ(object[QStringLiteral("s")].kind(), JSONValue::Kind::string);
    EXPECT_TRUE(object[QStringLiteral("z")].isNull());
    EXPECT_EQ(*object[QStringLiteral("big")].number(), 9007199254740992.0);

    EXPECT_NE(JSONValue(std::nan("")), JSONValue(std::nan("")));
    EXPECT_EQ(JSONValue(0.0), JSONValue(-0.0));
    EXPECT_NE(JSONValue(1), JSONValue(true));
}
