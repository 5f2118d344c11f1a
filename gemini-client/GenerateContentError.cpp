#include "GenerateContentError.h"

#include "gemini-client/ErrorTexts.h"

namespace gemini {

GenerateContentError GenerateContentError::promptImageContentError(const ImageConversionError& underlying)
{
    GenerateContentError error(Kind::promptImageContentError);
    error.underlying_ = underlying.clone();
    return error;
}

GenerateContentError GenerateContentError::internalError(ErrorPtr underlying)
{
    GenerateContentError error(Kind::internalError);
    error.underlying_ = std::move(underlying);
    return error;
}

GenerateContentError GenerateContentError::promptBlocked(GenerateContentResponse response)
{
    GenerateContentError error(Kind::promptBlocked);
    error.response_ = std::make_shared<const GenerateContentResponse>(std::move(response));
    return error;
}

GenerateContentError GenerateContentError::responseStoppedEarly(FinishReason reason, GenerateContentResponse response)
{
    GenerateContentError error(Kind::responseStoppedEarly);
    error.reason_ = reason;
    error.response_ = std::make_shared<const GenerateContentResponse>(std::move(response));
    return error;
}

GenerateContentError GenerateContentError::invalidAPIKey(QString message)
{
    GenerateContentError error(Kind::invalidAPIKey);
    error.message_ = std::move(message);
    return error;
}

GenerateContentError GenerateContentError::unsupportedUserLocation()
{
    return GenerateContentError(Kind::unsupportedUserLocation);
}

QString GenerateContentError::description() const
{
    const QString underlying = underlying_ ? underlying_->description() : QString();
    switch (kind_) {
    case Kind::promptImageContentError: return QString::fromUtf8(texts::promptImageContent).arg(underlying);
    case Kind::internalError: return QString::fromUtf8(texts::internalError).arg(underlying);
    case Kind::promptBlocked: {
        const auto& feedback = response_->promptFeedback;
        const QString reason = feedback && feedback->blockReason ? caseName(*feedback->blockReason) : QString();
        return QString::fromUtf8(texts::promptBlocked).arg(reason);
    }
    case Kind::responseStoppedEarly: return QString::fromUtf8(texts::responseStoppedEarly).arg(rawValue(*reason_));
    case Kind::invalidAPIKey: return QString::fromUtf8(texts::invalidApiKey).arg(message_);
    case Kind::unsupportedUserLocation: return QString::fromUtf8(texts::unsupportedUserLocation);
    }
    return {};
}

QString CountTokensError::description() const
{
    return QString::fromUtf8(texts::countTokensFailed).arg(underlying_ ? underlying_->description() : QString());
}

} // namespace gemini
