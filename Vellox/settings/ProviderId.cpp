#include "Vellox/settings/ProviderId.h"

#include "Vellox/settings/AIModel.h"

QString ProviderId::rawValue() const
{
    switch (value_) {
    case mock:
        return QStringLiteral("mock");
    case openaiCompatible:
        return QStringLiteral("openai-compatible");
    case gemini:
        return QStringLiteral("gemini");
    case anthropic:
        return QStringLiteral("anthropic");
    }
    return {};
}

std::optional<ProviderId> ProviderId::fromRawValue(QStringView raw)
{
    for (ProviderId provider : allCases()) {
        if (provider.rawValue() == raw)
            return provider;
    }
    return std::nullopt;
}

const QList<ProviderId>& ProviderId::allCases()
{
    static const QList<ProviderId> cases{mock, openaiCompatible, gemini, anthropic};
    return cases;
}

const QList<ProviderId>& ProviderId::userFacingCases()
{
    static const QList<ProviderId> cases{openaiCompatible, gemini, anthropic};
    return cases;
}

QList<AIModel> ProviderId::suggestedAIModels() const
{
    QStringList ids;
    switch (value_) {
    case mock:
        break;
    case openaiCompatible:
        ids = {"gpt-4o-mini", "gpt-4o", "gpt-4.1", "o4-mini", "o3"};
        break;
    case gemini:
        ids = {"gemini-2.5-flash", "gemini-2.5-flash-lite", "gemini-2.5-pro"};
        break;
    case anthropic:
        ids = {"claude-3-5-haiku-20241022", "claude-3-5-sonnet-20241022", "claude-3-7-sonnet-20250219",
               "claude-3-opus-20240229"};
        break;
    }
    QList<AIModel> models;
    models.reserve(ids.size());
    for (const QString& id : ids)
        models.append(AIModel(id));
    return models;
}
