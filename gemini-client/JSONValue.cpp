#include "JSONValue.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

coding::OrderedJson encodeValue(coding::Encoder& encoder, const JSONValue& value)
{
    switch (value.kind()) {
    case JSONValue::Kind::number: return encoder.number(*value.number());
    case JSONValue::Kind::string: return coding::encodeValue(encoder, *value.string());
    case JSONValue::Kind::boolean: return coding::OrderedJson(*value.boolean());
    case JSONValue::Kind::object: return coding::encodeValue(encoder, *value.object());
    case JSONValue::Kind::array: return coding::encodeValue(encoder, *value.array());
    case JSONValue::Kind::null: return coding::OrderedJson(nullptr);
    }
    return coding::OrderedJson(nullptr);
}

JSONValue decodeValue(const coding::Decoder& decoder, coding::Tag<JSONValue>)
{
    const coding::Json& json = decoder.json();
    // A boolean is never read as a number, nor a number as a boolean.
    if (json.is_null())
        return JSONValue();
    if (json.is_number())
        return JSONValue(json.get<double>());
    if (json.is_string())
        return JSONValue(QString::fromStdString(json.get_ref<const std::string&>()));
    if (json.is_boolean())
        return JSONValue(json.get<bool>());
    if (json.is_object())
        return JSONValue(decoder.decode<JSONValue::Object>());
    if (json.is_array())
        return JSONValue(decoder.decode<JSONValue::Array>());
    decoder.dataCorrupted(QString::fromUtf8(texts::invalidJsonValue));
}

} // namespace gemini
