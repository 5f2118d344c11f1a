#pragma once

#include "Vellox/rewrite/AIProviderType.h"

#include <optional>

// Anthropic's messages API.
class AnthropicClaudeProvider final : public AIProviderType {
public:
    AnthropicClaudeProvider(QString apiKey, QString model)
        : apiKey_(std::move(apiKey))
        , model_(std::move(model))
    {
    }

    QString id() const override { return QStringLiteral("anthropic"); }
    QString label() const override { return QStringLiteral("Claude"); }
    QCoro::Task<QString> transform(QString text, AITransformMode mode) const override;

    const QString& apiKey() const { return apiKey_; }
    const QString& model() const { return model_; }

    static std::optional<QString> extractText(const QByteArray& body);

private:
    QString apiKey_;
    QString model_;
};
