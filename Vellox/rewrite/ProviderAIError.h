#pragma once

#include "Vellox/rewrite/LocalizedError.h"

// The providers' own failures.
class ProviderAIError final : public LocalizedError {
public:
    enum class Kind { httpStatus, missingApiKey, badResponse, emptyContent };

    // A status and its text: the answer's body, or for Gemini a status-like
    // code with a message.
    static ProviderAIError httpStatus(int code, QString text) { return ProviderAIError(Kind::httpStatus, code, std::move(text)); }
    static ProviderAIError missingApiKey() { return ProviderAIError(Kind::missingApiKey); }
    static ProviderAIError badResponse() { return ProviderAIError(Kind::badResponse); }
    static ProviderAIError emptyContent() { return ProviderAIError(Kind::emptyContent); }

    Kind kind() const { return kind_; }
    int statusCode() const { return code_; }
    const QString& text() const { return text_; }

    QString errorDescription() const override;
    // The short text shown to the user.
    QString neutralUserSummary() const;

    friend bool operator==(const ProviderAIError& a, const ProviderAIError& b)
    {
        return a.kind_ == b.kind_ && a.code_ == b.code_ && a.text_ == b.text_;
    }

private:
    explicit ProviderAIError(Kind kind, int code = 0, QString text = {})
        : kind_(kind)
        , code_(code)
        , text_(std::move(text))
    {
    }

    Kind kind_;
    int code_;
    QString text_;
};
