#include "ProviderAIError.h"

QString ProviderAIError::errorDescription() const
{
    switch (kind_) {
    case Kind::httpStatus:
        return QStringLiteral("API error (%1): %2").arg(code_).arg(text_);
    case Kind::missingApiKey:
        return QStringLiteral("Add an API key for this provider in Vellox settings.");
    case Kind::badResponse:
        return QStringLiteral("The AI provider returned an invalid response.");
    case Kind::emptyContent:
        return QStringLiteral("The AI provider returned an empty rewrite.");
    }
    return {};
}

QString ProviderAIError::neutralUserSummary() const
{
    switch (kind_) {
    case Kind::httpStatus:
        return QStringLiteral("Request failed (%1).").arg(code_);
    case Kind::missingApiKey:
        return QStringLiteral("Add an API key in Settings.");
    case Kind::badResponse:
        return QStringLiteral("Provider returned an invalid response.");
    case Kind::emptyContent:
        return QStringLiteral("No text came back.");
    }
    return {};
}
