#include "Vellox/settings/ModelRegistry.h"

namespace ModelRegistry {

namespace {
const char* const kOpenAIReplacement = "gpt-4o-mini";
const char* const kGeminiReplacement = "gemini-2.5-flash";
const char* const kAnthropicReplacement = "claude-3-5-haiku-20241022";
// Every 2.0 Gemini model was retired at once, whatever its suffix.
const char* const kRetiredGeminiPrefix = "gemini-2.0";
} // namespace

namespace Deprecated {

const QSet<QString>& openai()
{
    static const QSet<QString> models{"gpt-4-turbo", "o3-mini"};
    return models;
}

const QSet<QString>& gemini()
{
    static const QSet<QString> models{"gemini-flash-latest", "gemini-1.5-flash", "gemini-1.5-pro"};
    return models;
}

const QSet<QString>& anthropic()
{
    static const QSet<QString> models;
    return models;
}

} // namespace Deprecated

std::optional<QString> replacementForRetiredModel(ProviderId provider, const QString& model)
{
    switch (provider) {
    case ProviderId::mock:
        return std::nullopt;
    case ProviderId::openaiCompatible:
        if (Deprecated::openai().contains(model))
            return QString::fromLatin1(kOpenAIReplacement);
        return std::nullopt;
    case ProviderId::gemini:
        if (Deprecated::gemini().contains(model) || model.startsWith(QLatin1String(kRetiredGeminiPrefix)))
            return QString::fromLatin1(kGeminiReplacement);
        return std::nullopt;
    case ProviderId::anthropic:
        if (Deprecated::anthropic().contains(model))
            return QString::fromLatin1(kAnthropicReplacement);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace ModelRegistry
