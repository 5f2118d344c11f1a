#pragma once

#include "gemini-client/EnumCoding.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/JSONValue.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Function calling and code execution: what a caller offers the model
// (schemas, declarations, tools, tool configuration, function responses) and
// what the model sends back (function calls, code, code results).
namespace gemini {

enum class DataType { string, number, integer, boolean, array, object };
QString rawValue(DataType type);
template <>
std::optional<DataType> fromRawValue<DataType>(QStringView text);

// A typed description of a value. Nested schemas are shared, not copied.
class Schema {
public:
    explicit Schema(DataType type, std::optional<QString> format = std::nullopt,
                    std::optional<QString> description = std::nullopt, std::optional<bool> nullable = std::nullopt,
                    std::optional<QStringList> enumValues = std::nullopt, std::optional<Schema> items = std::nullopt,
                    std::optional<QMap<QString, Schema>> properties = std::nullopt,
                    std::optional<QStringList> requiredProperties = std::nullopt);

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const Schema& schema);

    DataType type_;
    std::optional<QString> format_;
    std::optional<QString> description_;
    std::optional<bool> nullable_;
    std::optional<QStringList> enumValues_;
    std::shared_ptr<const Schema> items_;
    std::optional<QMap<QString, Schema>> properties_;
    std::optional<QStringList> requiredProperties_;
};

// A function the model may call. Its parameters always form an object schema,
// even with no parameters at all.
class FunctionDeclaration {
public:
    FunctionDeclaration(QString name, QString description,
                        std::optional<QMap<QString, Schema>> parameters = std::nullopt,
                        std::optional<QStringList> requiredParameters = std::nullopt);

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionDeclaration& declaration);

    QString name_;
    QString description_;
    Schema parameters_;
};

// Offers code execution to the model; it has no settings.
class CodeExecution {
};

class Tool {
public:
    explicit Tool(std::optional<QList<FunctionDeclaration>> functionDeclarations = std::nullopt,
                  std::optional<CodeExecution> codeExecution = std::nullopt)
        : functionDeclarations_(std::move(functionDeclarations))
        , codeExecution_(codeExecution)
    {
    }

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const Tool& tool);

    std::optional<QList<FunctionDeclaration>> functionDeclarations_;
    std::optional<CodeExecution> codeExecution_;
};

class FunctionCallingConfig {
public:
    enum class Mode { auto_, any, none };

    explicit FunctionCallingConfig(std::optional<Mode> mode = std::nullopt,
                                   std::optional<QStringList> allowedFunctionNames = std::nullopt)
        : mode_(mode)
        , allowedFunctionNames_(std::move(allowedFunctionNames))
    {
    }

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionCallingConfig& config);

    std::optional<Mode> mode_;
    std::optional<QStringList> allowedFunctionNames_;
};
QString rawValue(FunctionCallingConfig::Mode mode);
template <>
std::optional<FunctionCallingConfig::Mode> fromRawValue<FunctionCallingConfig::Mode>(QStringView text);

class ToolConfig {
public:
    explicit ToolConfig(std::optional<FunctionCallingConfig> functionCallingConfig = std::nullopt)
        : functionCallingConfig_(std::move(functionCallingConfig))
    {
    }

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const ToolConfig& config);

    std::optional<FunctionCallingConfig> functionCallingConfig_;
};

// A call the model proposes; made only by decoding an answer.
class FunctionCall {
public:
    const QString& name() const { return name_; }
    const JSONValue::Object& args() const { return args_; }
    bool operator==(const FunctionCall&) const = default;

private:
    friend FunctionCall decodeValue(const coding::Decoder& decoder, coding::Tag<FunctionCall>);
    FunctionCall() = default;

    QString name_;
    JSONValue::Object args_;
};

// The caller's answer to a function call.
class FunctionResponse {
public:
    FunctionResponse(QString name, JSONValue::Object response)
        : name_(std::move(name))
        , response_(std::move(response))
    {
    }
    bool operator==(const FunctionResponse&) const = default;

private:
    friend coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionResponse& response);

    QString name_;
    JSONValue::Object response_;
};

// Code the model wrote for execution; made only by decoding an answer. The
// language stays the server's text.
class ExecutableCode {
public:
    const QString& language() const { return language_; }
    const QString& code() const { return code_; }
    bool operator==(const ExecutableCode&) const = default;

private:
    friend ExecutableCode decodeValue(const coding::Decoder& decoder, coding::Tag<ExecutableCode>);
    ExecutableCode() = default;

    QString language_;
    QString code_;
};

// The outcome of executing the model's code; made only by decoding an answer.
class CodeExecutionResult {
public:
    enum class Outcome { unknown, unspecified, ok, failed, deadlineExceeded };

    Outcome outcome() const { return outcome_; }
    const QString& output() const { return output_; }
    bool operator==(const CodeExecutionResult&) const = default;

private:
    friend CodeExecutionResult decodeValue(const coding::Decoder& decoder, coding::Tag<CodeExecutionResult>);
    CodeExecutionResult() = default;

    Outcome outcome_ = Outcome::unknown;
    QString output_;
};
QString rawValue(CodeExecutionResult::Outcome outcome);
template <>
std::optional<CodeExecutionResult::Outcome> fromRawValue<CodeExecutionResult::Outcome>(QStringView text);

coding::OrderedJson encodeValue(coding::Encoder& encoder, DataType type);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const Schema& schema);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionDeclaration& declaration);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const CodeExecution& codeExecution);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const Tool& tool);
coding::OrderedJson encodeValue(coding::Encoder& encoder, FunctionCallingConfig::Mode mode);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionCallingConfig& config);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const ToolConfig& config);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionCall& call);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const FunctionResponse& response);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const ExecutableCode& code);
coding::OrderedJson encodeValue(coding::Encoder& encoder, CodeExecutionResult::Outcome outcome);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const CodeExecutionResult& result);

FunctionCall decodeValue(const coding::Decoder& decoder, coding::Tag<FunctionCall>);
ExecutableCode decodeValue(const coding::Decoder& decoder, coding::Tag<ExecutableCode>);
CodeExecutionResult decodeValue(const coding::Decoder& decoder, coding::Tag<CodeExecutionResult>);
// An unknown text becomes `unknown` after one error line.
CodeExecutionResult::Outcome decodeValue(const coding::Decoder& decoder, coding::Tag<CodeExecutionResult::Outcome>);

} // namespace gemini
