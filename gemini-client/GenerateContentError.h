#pragma once

#include "gemini-client/Error.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/ImageParts.h"

#include <QString>

#include <memory>
#include <optional>

namespace gemini {

// The one error type of the generation calls.
class GenerateContentError final : public ErrorBase<GenerateContentError> {
public:
    enum class Kind {
        promptImageContentError,
        internalError,
        promptBlocked,
        responseStoppedEarly,
        invalidAPIKey,
        unsupportedUserLocation,
    };

    static GenerateContentError promptImageContentError(const ImageConversionError& underlying);
    static GenerateContentError internalError(ErrorPtr underlying);
    static GenerateContentError promptBlocked(GenerateContentResponse response);
    static GenerateContentError responseStoppedEarly(FinishReason reason, GenerateContentResponse response);
    static GenerateContentError invalidAPIKey(QString message);
    static GenerateContentError unsupportedUserLocation();

    Kind kind() const { return kind_; }
    // promptImageContentError (an ImageConversionError) and internalError.
    const ErrorPtr& underlying() const { return underlying_; }
    // promptBlocked and responseStoppedEarly.
    const GenerateContentResponse* response() const { return response_.get(); }
    // responseStoppedEarly.
    std::optional<FinishReason> reason() const { return reason_; }
    // invalidAPIKey: the server's message.
    const QString& message() const { return message_; }

    QString description() const override;

private:
    explicit GenerateContentError(Kind kind)
        : kind_(kind)
    {
    }

    Kind kind_;
    ErrorPtr underlying_;
    std::shared_ptr<const GenerateContentResponse> response_;
    std::optional<FinishReason> reason_;
    QString message_;
};

// The one error type of token counting.
class CountTokensError final : public ErrorBase<CountTokensError> {
public:
    static CountTokensError internalError(ErrorPtr underlying) { return CountTokensError(std::move(underlying)); }

    const ErrorPtr& underlying() const { return underlying_; }
    QString description() const override;

private:
    explicit CountTokensError(ErrorPtr underlying)
        : underlying_(std::move(underlying))
    {
    }

    ErrorPtr underlying_;
};

} // namespace gemini
