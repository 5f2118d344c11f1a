#include "gemini-client/CountTokensRequest.h"
#include "gemini-client/FunctionCalling.h"
#include "gemini-client/GenerateContentRequest.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/JSONValue.h"
#include "gemini-client/Safety.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace gemini;

namespace {

template <class T>
QByteArray wire(const T& value)
{
    return coding::encode(value, coding::Encoder::KeyStrategy::convertToSnakeCase);
}

RequestOptions v1beta()
{
    return RequestOptions(300, QStringLiteral("v1beta"));
}

GenerateContentRequest minimalRequest()
{
    return GenerateContentRequest{QStringLiteral("models/x"), {}, {}, {}, {}, {}, {}, false, v1beta()};
}

} // namespace

TEST(GeminiWireEncodingTest, ConvertsFieldKeysToSnakeCase)
{
    struct Case {
        const char* name;
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"two words", "generationConfig", "generation_config"},
        {"three words", "maxOutputTokens", "max_output_tokens"},
        {"capital run is one word", "responseMIMEType", "response_mime_type"},
        {"long key", "generateContentRequest", "generate_content_request"},
        {"already snake case", "mime_type", "mime_type"},
        {"one word", "contents", "contents"},
        {"leading capital run", "URLKey", "url_key"},
        {"trailing capital run", "responseMIME", "response_mime"},
        {"leading and trailing underscores kept", "_privateKey_", "_private_key_"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(coding::convertToSnakeCase(c.input), c.expected);
    }
}

TEST(GeminiWireEncodingTest, RequestWritesEveryPresentFieldInWireOrder)
{
    GenerateContentRequest request{
        QStringLiteral("models/gemini-2.5-flash"),
        {ModelContent(QStringLiteral("user"), "Hello")},
        GenerationConfig{.temperature = 0.4f, .maxOutputTokens = 100, .responseMIMEType = QStringLiteral("text/plain")},
        QList<SafetySetting>{{SafetySetting::HarmCategory::harassment, SafetySetting::BlockThreshold::blockOnlyHigh}},
        QList<Tool>{Tool(std::nullopt, CodeExecution())},
        ToolConfig(FunctionCallingConfig(FunctionCallingConfig::Mode::any, QStringList{QStringLiteral("lookUp")})),
        ModelContent(QStringLiteral("system"), "Be brief."),
        false,
        v1beta(),
    };
    EXPECT_EQ(wire(request),
              R"({"model":"models/gemini-2.5-flash","contents":[{"role":"user","parts":[{"text":"Hello"}]}],)"
              R"("generation_config":{"temperature":0.4,"max_output_tokens":100,"response_mime_type":"text/plain"},)"
              R"("safety_settings":[{"category":"HARM_CATEGORY_HARASSMENT","threshold":"BLOCK_ONLY_HIGH"}],)"
              R"("tools":[{"code_execution":{}}],)"
              R"("tool_config":{"function_calling_config":{"mode":"ANY","allowed_function_names":["lookUp"]}},)"
              R"("system_instruction":{"role":"system","parts":[{"text":"Be brief."}]}})");
}

TEST(GeminiWireEncodingTest, AbsentFieldsWriteNoKeyAndEmptyContentsStayAList)
{
    EXPECT_EQ(wire(minimalRequest()), R"({"model":"models/x","contents":[]})");
}

TEST(GeminiWireEncodingTest, StreamingChangesTheUrlButNotTheBody)
{
    GenerateContentRequest oneShot = minimalRequest();
    oneShot.options = RequestOptions(300, QStringLiteral("v1"));
    GenerateContentRequest streamed = oneShot;
    streamed.isStreaming = true;
    EXPECT_EQ(wire(oneShot), wire(streamed));
    EXPECT_EQ(oneShot.url(), QStringLiteral("https://generativelanguage.googleapis.com/v1/models/x:generateContent"));
    EXPECT_EQ(streamed.url(),
              QStringLiteral("https://generativelanguage.googleapis.com/v1/models/x:streamGenerateContent?alt=sse"));
}

TEST(GeminiWireEncodingTest, CountTokensWrapsTheRequestWithoutATopLevelModel)
{
    CountTokensRequest request{QStringLiteral("models/x"), minimalRequest(),
                               RequestOptions(300, QStringLiteral("v1beta"), QStringLiteral("http://127.0.0.1:9/proxy/"))};
    EXPECT_EQ(wire(request), R"({"generate_content_request":{"model":"models/x","contents":[]}})");
    EXPECT_EQ(request.url(), QStringLiteral("http://127.0.0.1:9/proxy/v1beta/models/x:countTokens"));
}

TEST(GeminiWireEncodingTest, GenerationConfigWritesOnlyWhatIsSet)
{
    struct Case {
        const char* name;
        GenerationConfig input;
        const char* expected;
    };
    const Case cases[] = {
        {"nothing set", GenerationConfig{}, "{}"},
        {"only top k", GenerationConfig{.topK = 3}, R"({"top_k":3})"},
        {"empty stop sequences are written", GenerationConfig{.stopSequences = QStringList()},
         R"({"stop_sequences":[]})"},
        {"float travels as its shortest decimal", GenerationConfig{.temperature = 0.4f, .topP = 0.95f},
         R"({"temperature":0.4,"top_p":0.95})"},
        {"whole float has no fraction", GenerationConfig{.temperature = 1.0f}, R"({"temperature":1})"},
        {"response schema", GenerationConfig{.candidateCount = 1, .responseSchema = Schema(DataType::string)},
         R"({"candidate_count":1,"response_schema":{"type":"STRING"}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wire(c.input), c.expected);
    }
}

TEST(GeminiWireEncodingTest, MapKeysKeepTheirCaseWhileRecordKeysAreConverted)
{
    const FunctionDeclaration declaration(
        QStringLiteral("lookUp"), QStringLiteral("Finds a user."),
        QMap<QString, Schema>{{QStringLiteral("userName"), Schema(DataType::string, std::nullopt, std::nullopt, false)}},
        QStringList{QStringLiteral("userName"), QStringLiteral("notAParameter")});
    const Tool tool(QList<FunctionDeclaration>{declaration});
    EXPECT_EQ(wire(tool), R"({"function_declarations":[{"name":"lookUp","description":"Finds a user.",)"
                          R"("parameters":{"type":"OBJECT","properties":{"userName":{"type":"STRING","nullable":false}},)"
                          R"("required":["userName","notAParameter"]}}]})");

    const FunctionResponse response(QStringLiteral("lookUp"),
                                    {{QStringLiteral("displayName"), "Ada"},
                                     {QStringLiteral("homeAddress"), JSONValue::Object{{QStringLiteral("zipCode"), 12345}}}});
    EXPECT_EQ(wire(ContentPart::functionResponse(response)),
              R"({"function_response":{"name":"lookUp","response":{"displayName":"Ada","homeAddress":{"zipCode":12345}}}})");
}

TEST(GeminiWireEncodingTest, WrittenOnlyRecordsWriteTheirFixedShapes)
{
    struct Case {
        const char* name;
        QByteArray actual;
        const char* expected;
    };
    const Case cases[] = {
        {"declaration without parameters", wire(FunctionDeclaration(QStringLiteral("f"), QString())),
         R"({"name":"f","description":"","parameters":{"type":"OBJECT"}})"},
        {"schema with only a type", wire(Schema(DataType::integer)), R"({"type":"INTEGER"})"},
        {"array schema with items",
         wire(Schema(DataType::array, QStringLiteral("list"), QStringLiteral("tags"), true,
                     QStringList{QStringLiteral("a")}, Schema(DataType::string))),
         R"({"type":"ARRAY","format":"list","description":"tags","nullable":true,"enum":["a"],"items":{"type":"STRING"}})"},
        {"empty tool", wire(Tool()), "{}"},
        {"empty function calling config", wire(FunctionCallingConfig()), "{}"},
        {"empty tool config", wire(ToolConfig()), "{}"},
        {"safety setting", wire(SafetySetting(SafetySetting::HarmCategory::harassment, SafetySetting::BlockThreshold::blockOnlyHigh)),
         R"({"category":"HARM_CATEGORY_HARASSMENT","threshold":"BLOCK_ONLY_HIGH"})"},
        {"unknown setting values", wire(SafetySetting(SafetySetting::HarmCategory::unknown, SafetySetting::BlockThreshold::unknown)),
         R"({"category":"HARM_CATEGORY_UNKNOWN","threshold":"UNKNOWN"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST(GeminiWireEncodingTest, FreeJsonNumbersTravelAsPlainDecimals)
{
    struct Case {
        const char* name;
        JSONValue input;
        const char* expected;
    };
    const Case cases[] = {
        {"whole number", 1.0, "1"},
        {"negative zero", -0.0, "0"},
        {"large whole number", 123456789012.0, "123456789012"},
        {"fraction", 0.1, "0.1"},
        {"negative fraction", -2.5, "-2.5"},
        {"beyond 64-bit integers", 1e20, "1e+20"},
        {"nested", JSONValue::Array{1, 2.5, true, nullptr, "x"}, R"([1,2.5,true,null,"x"])"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(coding::encode(c.input), c.expected);
    }
}

TEST(GeminiWireEncodingTest, NonFiniteNumbersFailWithTheirPath)
{
    struct Case {
        const char* name;
        GenerateContentRequest request;
        const char* path;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    GenerateContentRequest badTemperature = minimalRequest();
    badTemperature.generationConfig = GenerationConfig{.temperature = float(inf)};
    GenerateContentRequest badArgument = minimalRequest();
    badArgument.contents = {ModelContent(QStringLiteral("user"),
                                         ContentPart::functionResponse(FunctionResponse(
                                             QStringLiteral("f"), {{QStringLiteral("ratio"), JSONValue::Array{1, nan}}})))};
    const Case cases[] = {
        {"infinite temperature", badTemperature, "generationConfig.temperature"},
        {"NaN inside a function response", badArgument, "contents[0].parts[0].functionResponse.response.ratio[1]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            wire(c.request);
            ADD_FAILURE() << "encoded a non-finite number";
        } catch (const EncodingError& error) {
            EXPECT_EQ(error.codingPath().toString(), QLatin1String(c.path));
            EXPECT_TRUE(error.description().contains(QLatin1String("has no JSON form")));
        }
    }
}
