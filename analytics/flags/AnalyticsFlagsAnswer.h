#pragma once

#include "analytics/flags/AnalyticsFeatureFlagResult.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace analytics::flags {

// The per-flag answer form ("flags": key to details) turned into the flat one:
// "featureFlags" and "featureFlagPayloads" are rebuilt from the details and
// replace whatever the answer carried under those keys. A disabled Boolean
// flag keeps no payload. Answers without an object "flags" pass unchanged.
QVariantMap normalizeResponse(QVariantMap answer);

// The service ran out of flag quota: the answer must change nothing.
bool isQuotaLimited(const QVariantMap& answer);

// A flags answer in the shape that may be stored, after normalisation.
struct FlagsAnswer {
    QVariantMap featureFlags;
    QVariantMap featureFlagPayloads;
    std::optional<QVariantMap> flags;
    std::optional<QString> requestId;
    std::optional<qint64> evaluatedAt;
    bool errorsWhileComputingFlags = false;
};

// None unless both "featureFlags" and "featureFlagPayloads" are objects.
std::optional<FlagsAnswer> readFlagsAnswer(const QVariantMap& normalized);

// base with every key of top laid over it.
QVariantMap overlay(QVariantMap base, const QVariantMap& top);

// The result of one flag: none without a value (a payload alone makes none).
// A text payload is parsed as JSON, fragments included; text that is not JSON
// stays text and the failure is logged.
std::optional<AnalyticsFeatureFlagResult> makeResult(const QString& key, const std::optional<QVariant>& value,
                                                     const std::optional<QVariant>& payload);

// Whether two reported flag values are the same for "$feature_flag_called":
// both none, equal Booleans or equal texts. Values of other types never match.
bool sameReportedValue(const std::optional<QVariant>& a, const std::optional<QVariant>& b);

// Whether session replay may record, from the cached replay settings and
// the flags. When the linked flag decides, `report` (if any) hears of the
// flag and its value.
using FlagReporter = std::function<void(const QString& key, const QVariant& value)>;
bool isRecordingActive(const QVariantMap& featureFlags, const QVariantMap& replaySettings, const FlagReporter& report);

// JSON helpers for values decoded from the service.
bool isJsonObject(const QVariant& value);
bool isJsonBool(const QVariant& value);
bool isJsonString(const QVariant& value);
std::optional<qint64> jsonInteger(const QVariant& value);

} // namespace analytics::flags
