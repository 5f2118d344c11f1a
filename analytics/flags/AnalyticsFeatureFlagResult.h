#pragma once

#include <QJsonDocument>
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include <concepts>
#include <optional>

namespace analytics {

// What one feature flag evaluated to for the current user. Made only by the
// flag lookup of the remote configuration.
class AnalyticsFeatureFlagResult {
public:
    AnalyticsFeatureFlagResult(QString key, bool enabled, std::optional<QString> variant,
                               std::optional<QVariant> payload)
        : key_(std::move(key))
        , enabled_(enabled)
        , variant_(std::move(variant))
        , payload_(std::move(payload))
    {
    }

    const QString& key() const { return key_; }
    // True for a variant or a true flag.
    bool enabled() const { return enabled_; }
    // The variant name of a multivariate flag; none for a Boolean flag.
    const std::optional<QString>& variant() const { return variant_; }
    // Already parsed from JSON text where the service sent text.
    const std::optional<QVariant>& payload() const { return payload_; }

    // The value a flag read reports: the variant when there is one, else the
    // Boolean.
    QVariant value() const { return variant_ ? QVariant(*variant_) : QVariant(enabled_); }

    // The payload decoded into T: as it stands when it already is a T, else
    // through its JSON form with T::fromJson(const QJsonValue&), which answers
    // none when the JSON does not fit.
    template <typename T>
        requires requires(const QJsonValue& json) {
            { T::fromJson(json) } -> std::same_as<std::optional<T>>;
        }
    std::optional<T> payloadAs() const
    {
        if (!payload_)
            return std::nullopt;
        if (payload_->metaType() == QMetaType::fromType<T>())
            return payload_->value<T>();
        const QJsonValue json = QJsonValue::fromVariant(*payload_);
        if (json.isUndefined())
            return std::nullopt;
        return T::fromJson(json);
    }

private:
    QString key_;
    bool enabled_;
    std::optional<QString> variant_;
    std::optional<QVariant> payload_;
};

} // namespace analytics
