#include "FunctionCalling.h"

namespace gemini {

using coding::EnumCase;
using coding::OrderedJson;

namespace {

constexpr EnumCase<DataType> kDataTypes[] = {
    {DataType::string, "STRING", "string"},    {DataType::number, "NUMBER", "number"},
    {DataType::integer, "INTEGER", "integer"}, {DataType::boolean, "BOOLEAN", "boolean"},
    {DataType::array, "ARRAY", "array"},       {DataType::object, "OBJECT", "object"},
};

constexpr EnumCase<FunctionCallingConfig::Mode> kModes[] = {
    {FunctionCallingConfig::Mode::auto_, "AUTO", "auto"},
    {FunctionCallingConfig::Mode::any, "ANY", "any"},
    {FunctionCallingConfig::Mode::none, "NONE", "none"},
};

using Outcome = CodeExecutionResult::Outcome;
constexpr EnumCase<Outcome> kOutcomes[] = {
    {Outcome::unknown, "OUTCOME_UNKNOWN", "unknown"},
    {Outcome::unspecified, "OUTCOME_UNSPECIFIED", "unspecified"},
    {Outcome::ok, "OUTCOME_OK", "ok"},
    {Outcome::failed, "OUTCOME_FAILED", "failed"},
    {Outcome::deadlineExceeded, "OUTCOME_DEADLINE_EXCEEDED", "deadlineExceeded"},
};

} // namespace

QString rawValue(DataType type)
{
    return coding::rawValueIn<DataType>(kDataTypes, type);
}

template <>
std::optional<DataType> fromRawValue<DataType>(QStringView text)
{
    return coding::fromRawValueIn<DataType>(kDataTypes, text);
}

QString rawValue(FunctionCallingConfig::Mode mode)
{
    return coding::rawValueIn<FunctionCallingConfig::Mode>(kModes, mode);
}

template <>
std::optional<FunctionCallingConfig::Mode> fromRawValue<FunctionCallingConfig::Mode>(QStringView text)
{
    return coding::fromRawValueIn<FunctionCallingConfig::Mode>(kModes, text);
}

QString rawValue(CodeExecutionResult::Outcome outcome)
{
    return coding::rawValueIn<Outcome>(kOutcomes, outcome);
}

template <>
std::optional<CodeExecutionResult::Outcome> fromRawValue<CodeExecutionResult::Outcome>(QStringView text)
{
    return coding::fromRawValueIn<Outcome>(kOutcomes, text);
}

Schema::Schema(DataType type, std::optional<QString> format, std::optional<QString> description,
               std::optional<bool> nullable, std::optional<QStringList> enumValues, std::optional<Schema> items,
               std::optional<QMap<QString, Schema>> properties, std::optional<QStringList> requiredProperties)
    : type_(type)
    , format_(std::move(format))
    , description_(std::move(description))
    , nullable_(nullable)
    , enumValues_(std::move(enumValues))
    , items_(items ? std::make_shared<const Schema>(std::move(*items)) : nullptr)
    , properties_(std::move(properties))
    , requiredProperties_(std::move(requiredProperties))
{
}

FunctionDeclaration::FunctionDeclaration(QString name, QString description,
                                         std::optional<QMap<QString, Schema>> parameters,
                                         std::optional<QStringList> requiredParameters)
    : name_(std::move(name))
    , description_(std::move(description))
    , parameters_(DataType::object, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                  std::move(parameters), std::move(requiredParameters))
{
}

OrderedJson encodeValue(coding::Encoder& encoder, DataType type)
{
    return coding::encodeValue(encoder, rawValue(type));
}

OrderedJson encodeValue(coding::Encoder& encoder, const Schema& schema)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "type", schema.type_);
    encoder.fieldIfPresent(object, "format", schema.format_);
    encoder.fieldIfPresent(object, "description", schema.description_);
    encoder.fieldIfPresent(object, "nullable", schema.nullable_);
    encoder.fieldIfPresent(object, "enum", schema.enumValues_);
    if (schema.items_)
        encoder.field(object, "items", *schema.items_);
    encoder.fieldIfPresent(object, "properties", schema.properties_);
    encoder.fieldIfPresent(object, "required", schema.requiredProperties_);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const FunctionDeclaration& declaration)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "name", declaration.name_);
    encoder.field(object, "description", declaration.description_);
    encoder.field(object, "parameters", declaration.parameters_);
    return object;
}

OrderedJson encodeValue(coding::Encoder&, const CodeExecution&)
{
    return OrderedJson::object();
}

OrderedJson encodeValue(coding::Encoder& encoder, const Tool& tool)
{
    OrderedJson object = OrderedJson::object();
    encoder.fieldIfPresent(object, "functionDeclarations", tool.functionDeclarations_);
    encoder.fieldIfPresent(object, "codeExecution", tool.codeExecution_);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, FunctionCallingConfig::Mode mode)
{
    return coding::encodeValue(encoder, rawValue(mode));
}

OrderedJson encodeValue(coding::Encoder& encoder, const FunctionCallingConfig& config)
{
    OrderedJson object = OrderedJson::object();
    encoder.fieldIfPresent(object, "mode", config.mode_);
    encoder.fieldIfPresent(object, "allowedFunctionNames", config.allowedFunctionNames_);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ToolConfig& config)
{
    OrderedJson object = OrderedJson::object();
    encoder.fieldIfPresent(object, "functionCallingConfig", config.functionCallingConfig_);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const FunctionCall& call)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "name", call.name());
    encoder.field(object, "args", call.args());
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const FunctionResponse& response)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "name", response.name_);
    encoder.field(object, "response", response.response_);
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, const ExecutableCode& code)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "language", code.language());
    encoder.field(object, "code", code.code());
    return object;
}

OrderedJson encodeValue(coding::Encoder& encoder, CodeExecutionResult::Outcome outcome)
{
    return coding::encodeValue(encoder, rawValue(outcome));
}

OrderedJson encodeValue(coding::Encoder& encoder, const CodeExecutionResult& result)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "outcome", result.outcome());
    encoder.field(object, "output", result.output());
    return object;
}

FunctionCall decodeValue(const coding::Decoder& decoder, coding::Tag<FunctionCall>)
{
    FunctionCall call;
    call.name_ = decoder.decode<QString>("name");
    call.args_ = decoder.decodeIfPresent<JSONValue::Object>("args").value_or(JSONValue::Object());
    return call;
}

ExecutableCode decodeValue(const coding::Decoder& decoder, coding::Tag<ExecutableCode>)
{
    ExecutableCode code;
    code.language_ = decoder.decode<QString>("language");
    code.code_ = decoder.decode<QString>("code");
    return code;
}

CodeExecutionResult decodeValue(const coding::Decoder& decoder, coding::Tag<CodeExecutionResult>)
{
    CodeExecutionResult result;
    result.outcome_ = decoder.decode<Outcome>("outcome");
    result.output_ = decoder.decodeIfPresent<QString>("output").value_or(QString());
    return result;
}

CodeExecutionResult::Outcome decodeValue(const coding::Decoder& decoder, coding::Tag<CodeExecutionResult::Outcome>)
{
    return coding::decodeServerEnum<Outcome>(decoder, kOutcomes, Outcome::unknown, "Outcome");
}

} // namespace gemini
