// Reads bytes the way the client reads a flags answer or a cached replay
// setting from the service: normalised, checked for shape, each flag turned
// into a result with its payload parsed, and the linked replay flag decided.

#include "analytics/flags/AnalyticsFlagsAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace analytics::flags;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return 0;
    const QVariantMap answer = doc.object().toVariantMap();
    (void)isQuotaLimited(answer);
    const QVariantMap normalized = normalizeResponse(answer);
    if (const auto read = readFlagsAnswer(normalized)) {
        for (auto it = read->featureFlags.cbegin(); it != read->featureFlags.cend(); ++it) {
            const std::optional<QVariant> payload = read->featureFlagPayloads.contains(it.key())
                                                        ? std::optional<QVariant>(read->featureFlagPayloads.value(it.key()))
                                                        : std::nullopt;
            const auto result = makeResult(it.key(), it.value(), payload);
            // A value always makes a result, and a variant always means on.
            if (!result || (result->variant() && !result->enabled()))
                __builtin_trap();
        }
        (void)overlay(read->featureFlags, read->featureFlagPayloads);
        (void)isRecordingActive(read->featureFlags, answer, {});
    }
    return 0;
}
