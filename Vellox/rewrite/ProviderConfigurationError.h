#pragma once

#include "Vellox/rewrite/LocalizedError.h"

// Settings a provider cannot send with, found before anything is sent.
class ProviderConfigurationError final : public LocalizedError {
public:
    static ProviderConfigurationError invalidBaseURL(const QString& text)
    {
        return ProviderConfigurationError(
            QStringLiteral("The API base URL \u201C%1\u201D is not a valid http or https URL.").arg(text));
    }

    QString errorDescription() const override { return message_; }

private:
    explicit ProviderConfigurationError(QString message)
        : message_(std::move(message))
    {
    }

    QString message_;
};
