#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

class AIModel;

// The AI provider a rewrite goes to. Its identity is the stored string, which
// appears in the settings JSON, in analytics properties and in credential
// account names, so those strings must never change.
//
// A thin wrapper around an enumeration: the members convert both ways, so a
// ProviderId can be switched over and compared with `ProviderId::gemini`.
class ProviderId {
public:
    enum Value : std::uint8_t { mock, openaiCompatible, gemini, anthropic };

    constexpr ProviderId(Value value) // NOLINT(google-explicit-constructor)
        : value_(value)
    {
    }
    constexpr operator Value() const { return value_; } // NOLINT(google-explicit-constructor)

    QString rawValue() const;
    // None for any string other than the four stored values.
    static std::optional<ProviderId> fromRawValue(QStringView raw);

    static const QList<ProviderId>& allCases();
    // Every provider except the mock, which users never pick.
    static const QList<ProviderId>& userFacingCases();

    QList<AIModel> suggestedAIModels() const;

private:
    Value value_;
};
