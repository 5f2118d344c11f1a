// The public feature-flag operations and the "$feature_flag_called" report.
#include "AnalyticsSDK.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/flags/AnalyticsFlagsAnswer.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"

namespace analytics {

namespace {

const QString kNotSetUp =
    QStringLiteral("[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored.");

} // namespace

std::optional<AnalyticsFeatureFlagResult> AnalyticsSDK::getFeatureFlagResult(const QString& key,
                                                                             std::optional<bool> sendFeatureFlagEvent)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return std::nullopt;
    }
    const auto remote = remoteConfig();
    if (!remote)
        return std::nullopt;
    std::optional<AnalyticsFeatureFlagResult> result = remote->getFeatureFlagResult(key);
    if (sendFeatureFlagEvent.value_or(config()->sendFeatureFlagEvent()))
        reportFeatureFlagCalled(key, result ? std::optional<QVariant>(result->value()) : std::nullopt);
    return result;
}

std::optional<QVariant> AnalyticsSDK::getFeatureFlag(const QString& key, std::optional<bool> sendFeatureFlagEvent)
{
    const auto result = getFeatureFlagResult(key, sendFeatureFlagEvent);
    if (!result)
        return std::nullopt;
    return result->value();
}

bool AnalyticsSDK::isFeatureEnabled(const QString& key, std::optional<bool> sendFeatureFlagEvent)
{
    const std::optional<QVariant> value = getFeatureFlag(key, sendFeatureFlagEvent);
    if (!value)
        return false;
    if (flags::isJsonString(*value))
        return true;
    return flags::isJsonBool(*value) && value->toBool();
}

std::optional<QVariant> AnalyticsSDK::getFeatureFlagPayload(const QString& key)
{
    const auto result = getFeatureFlagResult(key, false);
    if (!result)
        return std::nullopt;
    return result->payload();
}

void AnalyticsSDK::reloadFeatureFlags(std::function<void()> done)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const auto remote = remoteConfig();
    if (!remote)
        return;
    remote->reloadFeatureFlags([done = std::move(done)](const std::optional<QVariantMap>&) {
        if (done)
            done();
    });
}

void AnalyticsSDK::setPersonPropertiesForFlags(const QVariantMap& properties, bool reloadFeatureFlags)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const auto remote = remoteConfig();
    const std::optional<QVariantMap> clean = sanitizeDictionary(properties);
    if (!remote || !clean)
        return;
    remote->setPersonPropertiesForFlags(*clean);
    if (reloadFeatureFlags)
        remote->reloadFeatureFlags();
}

void AnalyticsSDK::resetPersonPropertiesForFlags(bool reloadFeatureFlags)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const auto remote = remoteConfig();
    if (!remote)
        return;
    remote->resetPersonPropertiesForFlags();
    if (reloadFeatureFlags)
        remote->reloadFeatureFlags();
}

void AnalyticsSDK::setGroupPropertiesForFlags(const QString& groupType, const QVariantMap& properties,
                                              bool reloadFeatureFlags)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const auto remote = remoteConfig();
    const std::optional<QVariantMap> clean = sanitizeDictionary(properties);
    if (!remote || !clean)
        return;
    remote->setGroupPropertiesForFlags(groupType, *clean);
    if (reloadFeatureFlags)
        remote->reloadFeatureFlags();
}

void AnalyticsSDK::resetGroupPropertiesForFlags(const std::optional<QString>& groupType, bool reloadFeatureFlags)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    const auto remote = remoteConfig();
    if (!remote)
        return;
    remote->resetGroupPropertiesForFlags(groupType);
    if (reloadFeatureFlags)
        remote->reloadFeatureFlags();
}

void AnalyticsSDK::reportFeatureFlagCalled(const QString& key, const std::optional<QVariant>& value)
{
    const auto remote = remoteConfig();
    if (!remote)
        return;
    {
        QMutexLocker lock(&flagCallReportedLock_);
        QList<std::optional<QVariant>>& reported = flagCallReported_[key];
        for (const auto& earlier : std::as_const(reported))
            if (flags::sameReportedValue(earlier, value))
                return;
        reported.append(value);
    }
    const QVariant null = QVariant::fromValue(nullptr);
    QVariantMap properties{
        {QStringLiteral("$feature_flag"), key},
        {QStringLiteral("$feature_flag_response"), value.value_or(null)},
        {QStringLiteral("$feature_flag_request_id"), remote->requestId().value_or(QString())},
    };
    if (const std::optional<qint64> evaluatedAt = remote->evaluatedAt())
        properties.insert(QStringLiteral("$feature_flag_evaluated_at"), *evaluatedAt);
    const std::optional<QVariantMap> details = remote->cachedFlagDetails();
    const QVariant detail = details ? details->value(key) : QVariant();
    if (flags::isJsonObject(detail)) {
        const QVariantMap map = detail.toMap();
        const QVariant reason = map.value(QStringLiteral("reason"));
        if (flags::isJsonObject(reason))
            properties.insert(QStringLiteral("$feature_flag_reason"),
                              reason.toMap().value(QStringLiteral("description"), null));
        const QVariant metadata = map.value(QStringLiteral("metadata"));
        if (flags::isJsonObject(metadata)) {
            properties.insert(QStringLiteral("$feature_flag_id"), metadata.toMap().value(QStringLiteral("id"), null));
            properties.insert(QStringLiteral("$feature_flag_version"),
                              metadata.toMap().value(QStringLiteral("version"), null));
        }
    }
    captureInternal(QStringLiteral("$feature_flag_called"), std::nullopt, properties, std::nullopt, std::nullopt,
                    std::nullopt, std::nullopt, false);
}

void AnalyticsSDK::captureFeatureView(const QString& flag, const std::optional<QString>& flagVariant)
{
    captureFeatureEvent(QStringLiteral("captureFeatureView"), QStringLiteral("$feature_view"),
                        QStringLiteral("$feature_view/"), flag, flagVariant);
}

void AnalyticsSDK::captureFeatureInteraction(const QString& flag, const std::optional<QString>& flagVariant)
{
    captureFeatureEvent(QStringLiteral("captureFeatureInteraction"), QStringLiteral("$feature_interaction"),
                        QStringLiteral("$feature_interaction/"), flag, flagVariant);
}

void AnalyticsSDK::captureFeatureEvent(const QString& operation, const QString& event, const QString& personPrefix,
                                       const QString& flag, const std::optional<QString>& flagVariant)
{
    if (!enabled_) {
        analyticsLog(kNotSetUp);
        return;
    }
    if (optOut_) {
        analyticsLog(QStringLiteral("[Analytics] Analytics is in OptOut state."));
        return;
    }
    const std::optional<QVariant> value =
        flagVariant ? std::optional<QVariant>(*flagVariant) : getFeatureFlag(flag, false);
    if (!value) {
        analyticsLog(operation + QStringLiteral(" called for flag '") + flag +
                     QStringLiteral("' but no variant value is available. Event will not be captured."));
        return;
    }
    QVariantMap properties{{QStringLiteral("feature_flag"), flag}};
    if (flags::isJsonString(*value))
        properties.insert(QStringLiteral("feature_flag_variant"), *value);
    const QVariantMap person{{personPrefix + flag, *value}};
    captureInternal(event, std::nullopt, properties, person, std::nullopt, std::nullopt, std::nullopt, false);
}

} // namespace analytics
