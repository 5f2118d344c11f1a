#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// The tone names that older settings stored in place of a preset id. Each
// names one of the first five built-in presets (assertive is "Confident").
class ToneId {
public:
    enum Value : std::uint8_t { professional, casual, friendly, concise, assertive };

    constexpr ToneId(Value value) // NOLINT(google-explicit-constructor)
        : value_(value)
    {
    }
    constexpr operator Value() const { return value_; } // NOLINT(google-explicit-constructor)

    QString rawValue() const;
    // None for any string other than the five stored names.
    static std::optional<ToneId> fromRawValue(QStringView raw);
    static const QList<ToneId>& allCases();

private:
    Value value_;
};
