#include "AnalyticsFlagsAnswer.h"

#include "analytics/AnalyticsLog.h"

#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonParseError>
#include <QVariantList>

#include <cmath>

namespace analytics::flags {

bool isJsonObject(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<QVariantMap>();
}

bool isJsonBool(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<bool>();
}

bool isJsonString(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<QString>();
}

std::optional<qint64> jsonInteger(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        // The JSON reader hands large or written-as-float integers over as doubles.
        const double d = value.toDouble();
        if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18)
            return static_cast<qint64>(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QVariantMap normalizeResponse(QVariantMap answer)
{
    const QVariant flags = answer.value(QStringLiteral("flags"));
    if (!isJsonObject(flags))
        return answer;
    QVariantMap values;
    QVariantMap payloads;
    const QVariantMap details = flags.toMap();
    for (auto it = details.cbegin(); it != details.cend(); ++it) {
        if (!isJsonObject(it.value()))
            continue;
        const QVariantMap detail = it.value().toMap();
        const QVariant variant = detail.value(QStringLiteral("variant"));
        const QVariant enabled = detail.value(QStringLiteral("enabled"));
        const QVariant metadata = detail.value(QStringLiteral("metadata"));
        const bool hasPayload = isJsonObject(metadata) && metadata.toMap().contains(QStringLiteral("payload"));
        if (isJsonString(variant)) {
            values.insert(it.key(), variant);
            if (hasPayload)
                payloads.insert(it.key(), metadata.toMap().value(QStringLiteral("payload")));
        } else if (isJsonBool(enabled)) {
            values.insert(it.key(), enabled);
            if (enabled.toBool() && hasPayload)
                payloads.insert(it.key(), metadata.toMap().value(QStringLiteral("payload")));
        }
    }
    answer.insert(QStringLiteral("featureFlags"), values);
    answer.insert(QStringLiteral("featureFlagPayloads"), payloads);
    return answer;
}

bool isQuotaLimited(const QVariantMap& answer)
{
    const QVariant limited = answer.value(QStringLiteral("quotaLimited"));
    if (limited.metaType() != QMetaType::fromType<QVariantList>())
        return false;
    const QVariantList list = limited.toList();
    bool allTexts = true;
    bool flagsLimited = false;
    for (const QVariant& item : list) {
        if (!isJsonString(item)) {
            allTexts = false;
            break;
        }
        if (item.toString() == QLatin1String("feature_flags"))
            flagsLimited = true;
    }
    return allTexts && flagsLimited;
}

std::optional<FlagsAnswer> readFlagsAnswer(const QVariantMap& normalized)
{
    const QVariant values = normalized.value(QStringLiteral("featureFlags"));
    const QVariant payloads = normalized.value(QStringLiteral("featureFlagPayloads"));
    if (!isJsonObject(values) || !isJsonObject(payloads))
        return std::nullopt;
    FlagsAnswer answer;
    answer.featureFlags = values.toMap();
    answer.featureFlagPayloads = payloads.toMap();
    const QVariant details = normalized.value(QStringLiteral("flags"));
    if (isJsonObject(details))
        answer.flags = details.toMap();
    const QVariant requestId = normalized.value(QStringLiteral("requestId"));
    if (isJsonString(requestId))
        answer.requestId = requestId.toString();
    answer.evaluatedAt = jsonInteger(normalized.value(QStringLiteral("evaluatedAt")));
    const QVariant errors = normalized.value(QStringLiteral("errorsWhileComputingFlags"));
    answer.errorsWhileComputingFlags = isJsonBool(errors) && errors.toBool();
    return answer;
}

QVariantMap overlay(QVariantMap base, const QVariantMap& top)
{
    for (auto it = top.cbegin(); it != top.cend(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

std::optional<AnalyticsFeatureFlagResult> makeResult(const QString& key, const std::optional<QVariant>& value,
                                                     const std::optional<QVariant>& payload)
{
    if (!value)
        return std::nullopt;
    std::optional<QVariant> parsed = payload;
    if (payload && isJsonString(*payload)) {
        const QString text = payload->toString();
        QJsonParseError error{};
        // Wrapping lets a bare fragment (a number, a string, true) parse too.
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + QByteArray("]"), &error);
        if (error.error == QJsonParseError::NoError && document.isArray() && document.array().size() == 1) {
            parsed = document.array().first().toVariant();
        } else {
            analyticsLog(QStringLiteral("Error parsing the object ") + text + QStringLiteral(": ") +
                         (error.error == QJsonParseError::NoError ? QStringLiteral("not one JSON value")
                                                                 : error.errorString()));
        }
    }
    if (isJsonString(*value))
        return AnalyticsFeatureFlagResult(key, true, value->toString(), parsed);
    if (isJsonBool(*value))
        return AnalyticsFeatureFlagResult(key, value->toBool(), std::nullopt, parsed);
    return AnalyticsFeatureFlagResult(key, false, std::nullopt, parsed);
}

bool sameReportedValue(const std::optional<QVariant>& a, const std::optional<QVariant>& b)
{
    if (!a || !b)
        return !a && !b;
    if (isJsonBool(*a) && isJsonBool(*b))
        return a->toBool() == b->toBool();
    if (isJsonString(*a) && isJsonString(*b))
        return a->toString() == b->toString();
    return false;
}

bool isRecordingActive(const QVariantMap& featureFlags, const QVariantMap& replaySettings, const FlagReporter& report)
{
    const QVariant linked = replaySettings.value(QStringLiteral("linkedFlag"));
    if (replaySettings.isEmpty() || (!isJsonString(linked) && !isJsonObject(linked)))
        return true;
    if (isJsonString(linked)) {
        const QString key = linked.toString();
        if (!featureFlags.contains(key))
            return false;
        const QVariant value = featureFlags.value(key);
        if (report)
            report(key, value);
        if (isJsonBool(value))
            return value.toBool();
        return isJsonString(value);
    }
    const QVariantMap link = linked.toMap();
    const QVariant flag = link.value(QStringLiteral("flag"));
    const QVariant variant = link.value(QStringLiteral("variant"));
    if (!isJsonString(flag) || !isJsonString(variant))
        return false;
    const QVariant value = featureFlags.value(flag.toString());
    if (!isJsonString(value))
        return false;
    if (report)
        report(flag.toString(), value);
    return value.toString() == variant.toString();
}

} // namespace analytics::flags
