#pragma once

#include "Vellox/rewrite/AIProviderType.h"
#include "Vellox/rewrite/ProviderAIError.h"

namespace gemini {
class GenerateContentError;
}

// The Gemini API, through the Gemini client library.
class GeminiProvider final : public AIProviderType {
public:
    GeminiProvider(QString apiKey, QString model)
        : apiKey_(std::move(apiKey))
        , model_(std::move(model))
    {
    }

    QString id() const override { return QStringLiteral("gemini"); }
    QString label() const override { return QStringLiteral("Gemini"); }
    QCoro::Task<QString> transform(QString text, AITransformMode mode) const override;

    const QString& apiKey() const { return apiKey_; }
    const QString& model() const { return model_; }

    static ProviderAIError mapGeminiError(const gemini::GenerateContentError& error);

private:
    QString apiKey_;
    QString model_;
};
