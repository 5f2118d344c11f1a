#include "GeminiTestSupport.h"
#include "gemini-client/ImageParts.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/ModelContent.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <gtest/gtest.h>

using namespace gemini;
using geminitest::thrown;

namespace {

template <class T>
QByteArray wire(const T& value)
{
    return coding::encode(value, coding::Encoder::KeyStrategy::convertToSnakeCase);
}

FunctionCall decodedCall()
{
    return coding::decode<FunctionCall>(R"({"name":"lookUp","args":{"userId":7}})");
}

} // namespace

TEST(GeminiContentTest, EachPartKindWritesOneSnakeCasedKey)
{
    struct Case {
        const char* name;
        ContentPart input;
        const char* expected;
    };
    const Case cases[] = {
        {"text", ContentPart::text(QStringLiteral("hi")), R"({"text":"hi"})"},
        {"inline bytes as Base64", ContentPart::data(QStringLiteral("application/octet-stream"), QByteArray("\x01\x02\x03")),
         R"({"inline_data":{"mime_type":"application/octet-stream","data":"AQID"}})"},
        {"png image", ContentPart::png(QByteArray("\x89PNG")), R"({"inline_data":{"mime_type":"image/png","data":"iVBORw=="}})"},
        {"file reference", ContentPart::fileData(QStringLiteral("video/mp4"), QStringLiteral("files/abc")),
         R"({"file_data":{"mime_type":"video/mp4","file_uri":"files/abc"}})"},
        {"function call keeps argument keys", ContentPart::functionCall(decodedCall()),
         R"({"function_call":{"name":"lookUp","args":{"userId":7}}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wire(c.input), c.expected);
    }
}

TEST(GeminiContentTest, ContentWritesRoleOnlyWhenPresent)
{
    EXPECT_EQ(wire(ModelContent(std::nullopt, "x")), R"({"parts":[{"text":"x"}]})");
    EXPECT_EQ(wire(ModelContent(QStringLiteral("user"), "")), R"({"role":"user","parts":[{"text":""}]})");
    EXPECT_EQ(wire(ModelContent(QStringLiteral("user"), QStringList())), R"({"role":"user","parts":[]})");
}

TEST(GeminiContentTest, ArgumentsBecomePartsInOrder)
{
    const ModelContent content(QStringLiteral("user"), "a", QStringList{QStringLiteral("b"), QStringLiteral("c")},
                               ContentPart::jpeg("j"));
    ASSERT_EQ(content.parts().size(), 4);
    EXPECT_EQ(content.parts()[0].text(), QStringLiteral("a"));
    EXPECT_EQ(content.parts()[2].text(), QStringLiteral("c"));
    EXPECT_EQ(content.parts()[3], ContentPart::data(QStringLiteral("image/jpeg"), "j"));
    EXPECT_FALSE(content.parts()[3].text());
}

TEST(GeminiContentTest, DecodesPartsByTheFirstKeyPresent)
{
    struct Case {
        const char* name;
        const char* json;
        ContentPart::Kind expected;
    };
    const Case cases[] = {
        {"text wins over inline data", R"({"text":"t","inlineData":{"mime_type":"a/b","data":"AQID"}})", ContentPart::Kind::text},
        {"inline data", R"({"inlineData":{"mime_type":"a/b","data":"AQID"}})", ContentPart::Kind::data},
        {"function call", R"({"functionCall":{"name":"f"}})", ContentPart::Kind::functionCall},
        {"executable code", R"({"executableCode":{"language":"PYTHON","code":"1"}})", ContentPart::Kind::executableCode},
        {"code result", R"({"codeExecutionResult":{"outcome":"OUTCOME_OK"}})", ContentPart::Kind::codeExecutionResult},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(coding::decode<ContentPart>(c.json).kind(), c.expected);
    }
    const ContentPart data = coding::decode<ContentPart>(R"({"inlineData":{"mime_type":"a/b","data":"AQID"}})");
    EXPECT_EQ(data.get<ContentPart::InlineData>()->bytes, QByteArray("\x01\x02\x03"));
}

TEST(GeminiContentTest, UndecodablePartsFailWithDescriptionAndPath)
{
    struct Case {
        const char* name;
        const char* json;
        DecodingError::Kind kind;
        const char* path;
        const char* description;
    };
    const Case cases[] = {
        {"only a file reference", R"({"parts":[{"fileData":{"mime_type":"a","file_uri":"b"}}]})",
         DecodingError::Kind::dataCorrupted, "text.inlineData", "No text, inline data or function call was found."},
        {"only a function response", R"({"parts":[{"functionResponse":{"name":"f","response":{}}}]})",
         DecodingError::Kind::dataCorrupted, "text.inlineData", "No text, inline data or function call was found."},
        {"camel-cased inline keys", R"({"parts":[{"inlineData":{"mimeType":"a","data":"AQID"}}]})",
         DecodingError::Kind::keyNotFound, "parts[0].inlineData.mime_type", "No value associated with key \"mime_type\"."},
        {"bytes that are not Base64", R"({"parts":[{"inlineData":{"mime_type":"a","data":"*!"}}]})",
         DecodingError::Kind::dataCorrupted, "parts[0].inlineData.data", "Encountered Data is not valid Base64."},
        {"missing parts", R"({"role":"model"})", DecodingError::Kind::keyNotFound, "parts",
         "No value associated with key \"parts\"."},
        {"text that is not a string", R"({"parts":[{"text":5}]})", DecodingError::Kind::typeMismatch, "parts[0].text",
         "Expected to decode String but found a number instead."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = thrown<DecodingError>([&] { coding::decode<ModelContent>(c.json); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), c.kind);
        EXPECT_EQ(error->codingPath().toString(), QLatin1String(c.path));
        EXPECT_EQ(error->debugDescription(), QLatin1String(c.description));
    }
}

TEST(GeminiContentTest, ContentWithoutRoleDecodesWithoutOne)
{
    const ModelContent content = coding::decode<ModelContent>(R"({"role":null,"parts":[{"text":"x"}]})");
    EXPECT_FALSE(content.role());
    EXPECT_EQ(content.parts(), QList<ContentPart>{ContentPart::text(QStringLiteral("x"))});
}

TEST(GeminiContentTest, ImagesBecomeOneJpegPart)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (const QList<ContentPart>& parts : {tryPartsValue(image), tryPartsValue(QPixmap::fromImage(image))}) {
        ASSERT_EQ(parts.size(), 1);
        const auto* data = parts.first().get<ContentPart::InlineData>();
        ASSERT_TRUE(data);
        EXPECT_EQ(data->mimeType, QStringLiteral("image/jpeg"));
        QBuffer buffer;
        buffer.setData(data->bytes);
        QImageReader reader(&buffer);
        EXPECT_EQ(reader.format(), QByteArray("jpeg"));
        EXPECT_EQ(reader.size(), QSize(8, 6));
    }
}

TEST(GeminiContentTest, ImageFailuresStopTheConversion)
{
    const auto nullPixmap = thrown<ImageConversionError>([] { ModelContent(QStringLiteral("user"), "a", QPixmap(), "b"); });
    ASSERT_TRUE(nullPixmap);
    EXPECT_EQ(nullPixmap->kind(), ImageConversionError::Kind::invalidUnderlyingImage);

    const auto nullImage = thrown<ImageConversionError>([] { tryPartsValue(QList<QImage>{QImage()}); });
    ASSERT_TRUE(nullImage);
    EXPECT_EQ(nullImage->kind(), ImageConversionError::Kind::couldNotConvertToJPEG);
}
