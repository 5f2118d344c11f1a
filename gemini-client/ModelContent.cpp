#include "ModelContent.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

using coding::OrderedJson;

std::optional<QString> ContentPart::text() const
{
    if (const QString* text = std::get_if<QString>(&value_))
        return *text;
    return std::nullopt;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart::InlineData& data)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "mime_type", data.mimeType);
    encoder.field(object, "data", data.bytes);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart::FileData& data)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "mime_type", data.mimeType);
    encoder.field(object, "file_uri", data.uri);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ContentPart& part)
{
    OrderedJson object = OrderedJson::object();
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>) {
                encoder.field(object, "text", value);
            } else if constexpr (std::is_same_v<T, ContentPart::InlineData>) {
                encoder.field(object, "inlineData", value);
            } else if constexpr (std::is_same_v<T, ContentPart::FileData>) {
                encoder.field(object, "fileData", value);
            } else if constexpr (std::is_same_v<T, FunctionCall>) {
                encoder.field(object, "functionCall", value);
            } else if constexpr (std::is_same_v<T, FunctionResponse>) {
                encoder.field(object, "functionResponse", value);
            } else if constexpr (std::is_same_v<T, ExecutableCode>) {
                encoder.field(object, "executableCode", value);
            } else {
                encoder.field(object, "codeExecutionResult", value);
            }
        },
        part.value());
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ModelContent& content)
{
    OrderedJson object = OrderedJson::object();
    encoder.fieldIfPresent(object, "role", content.role());
    encoder.field(object, "parts", content.parts());
    return object;
}

ContentPart decodeValue(const coding::Decoder& decoder, coding::Tag<ContentPart>)
{
    // The first key present decides; "fileData" and "functionResponse" are
    // never read from answers.
    if (decoder.contains("text"))
        return ContentPart::text(decoder.decode<QString>("text"));
    if (decoder.contains("inlineData")) {
        const coding::Decoder data = decoder.child("inlineData");
        QString mimeType = data.decode<QString>("mime_type");
        return ContentPart::data(std::move(mimeType), data.decode<QByteArray>("data"));
    }
    if (decoder.contains("functionCall"))
        return ContentPart::functionCall(decoder.decode<FunctionCall>("functionCall"));
    if (decoder.contains("executableCode"))
        return ContentPart::executableCode(decoder.decode<ExecutableCode>("executableCode"));
    if (decoder.contains("codeExecutionResult"))
        return ContentPart::codeExecutionResult(decoder.decode<CodeExecutionResult>("codeExecutionResult"));
    throw DecodingError(DecodingError::Kind::dataCorrupted, CodingPath{QStringLiteral("text"), QStringLiteral("inlineData")},
                        QString::fromUtf8(texts::noPartKey));
}

ModelContent decodeValue(const coding::Decoder& decoder, coding::Tag<ModelContent>)
{
    std::optional<QString> role = decoder.decodeIfPresent<QString>("role");
    return ModelContent(std::move(role), decoder.decode<QList<ContentPart>>("parts"));
}

} // namespace gemini
