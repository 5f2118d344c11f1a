#pragma once

#include "Vellox/rewrite/AIProviderType.h"

#include <QUrl>

#include <optional>

// Any service speaking the OpenAI chat-completions protocol.
class OpenAICompatibleProvider final : public AIProviderType {
public:
    // `baseURL` none or empty: the default base. A given text that is not an
    // http(s) URL with a host is kept as unusable, and transform() then fails
    // with a configuration error instead of sending the key elsewhere.
    OpenAICompatibleProvider(QString apiKey, std::optional<QString> baseURL, QString model);

    QString id() const override { return QStringLiteral("openai-compatible"); }
    QString label() const override { return QStringLiteral("OpenAI"); }
    QCoro::Task<QString> transform(QString text, AITransformMode mode) const override;

    const QString& apiKey() const { return apiKey_; }
    // Empty when the configured text did not parse.
    const QUrl& baseURL() const { return baseURL_; }
    const QString& model() const { return model_; }
    QUrl chatCompletionsURL() const;

    static std::optional<QString> extractAssistantText(const QByteArray& body);

private:
    QString apiKey_;
    QUrl baseURL_;
    QString unparsableBaseURL_;
    QString model_;
};
