#include "GeminiTestSupport.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/RPCError.h"

#include <gtest/gtest.h>

using namespace gemini;
using geminitest::thrown;

TEST(GeminiRPCErrorTest, DecodesErrorBodiesLeniently)
{
    struct Case {
        const char* name;
        const char* json;
        qint64 code;
        const char* message;
        RPCStatus status;
        qsizetype details;
    };
    const Case cases[] = {
        {"full body",
         R"({"error":{"code":400,"message":"API key not valid.","status":"INVALID_ARGUMENT","details":[{"@type":"t","reason":"r","metadata":{"k":"v"}}]}})",
         400, "API key not valid.", RPCStatus::invalidArgument, 1},
        {"empty error object", R"({"error":{}})", -1, "Unknown error.", RPCStatus::unknown, 0},
        {"status the service added later", R"({"error":{"code":503,"status":"BRAND_NEW"}})", 503, "Unknown error.",
         RPCStatus::unknown, 0},
        {"status that is not text", R"({"error":{"status":14}})", -1, "Unknown error.", RPCStatus::unknown, 0},
        {"internal", R"({"error":{"status":"INTERNAL","extra":true}})", -1, "Unknown error.", RPCStatus::internalError, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RPCError error = coding::decode<RPCError>(c.json);
        EXPECT_EQ(error.httpResponseCode(), c.code);
        EXPECT_EQ(error.message(), QLatin1String(c.message));
        EXPECT_EQ(error.status(), c.status);
        EXPECT_EQ(error.details().size(), c.details);
    }
}

TEST(GeminiRPCErrorTest, MalformedErrorBodiesFailToDecode)
{
    struct Case {
        const char* name;
        const char* json;
        const char* path;
    };
    const Case cases[] = {
        {"no error object", R"({"message":"x"})", "error"},
        {"code that is text", R"({"error":{"code":"400"}})", "error.code"},
        {"message that is a number", R"({"error":{"message":1}})", "error.message"},
        {"detail without a type", R"({"error":{"details":[{"reason":"r"}]}})", "error.details[0].@type"},
        {"null details", R"({"error":{"details":null}})", "error.details"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = thrown<DecodingError>([&] { coding::decode<RPCError>(c.json); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->codingPath().toString(), QLatin1String(c.path));
    }
}

TEST(GeminiRPCErrorTest, ErrorInfoIsTheFirstDetailOfItsType)
{
    const RPCError error = coding::decode<RPCError>(
        R"({"error":{"details":[{"@type":"type.googleapis.com/google.rpc.Help"},)"
        R"({"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"API_KEY_INVALID","domain":"googleapis.com"},)"
        R"({"@type":"type.googleapis.com/google.rpc.ErrorInfo","reason":"LATER"}]}})");
    const ErrorDetails expected{QStringLiteral("type.googleapis.com/google.rpc.ErrorInfo"),
                                QStringLiteral("API_KEY_INVALID"), QStringLiteral("googleapis.com")};
    EXPECT_EQ(error.errorInfo(), expected);
    EXPECT_FALSE(coding::decode<RPCError>(R"({"error":{"details":[{"@type":"ErrorInfo"}]}})").errorInfo());
    EXPECT_FALSE(fromRawValue<RPCStatus>(u"invalid_argument"));
    EXPECT_EQ(rawValue(RPCStatus::internalError), QStringLiteral("INTERNAL"));
}
