#include "AnalyticsExceptionCapture.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "crash-reporting/error-tracking/AnalyticsExceptionProcessor.h"

namespace analytics {

namespace {

template <typename Build>
void captureWith(AnalyticsSDK& sdk, Build build, const std::optional<QVariantMap>& extra)
{
    if (!sdk.isEnabled()) {
        analyticsLog(QStringLiteral(
            "[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored."));
        return;
    }
    const std::shared_ptr<AnalyticsConfig> config = sdk.config();
    if (!config)
        return;
    QVariantMap properties = build(config->errorTrackingConfig());
    if (extra)
        for (auto it = extra->cbegin(); it != extra->cend(); ++it)
            properties.insert(it.key(), it.value());
    sdk.captureInternal(QStringLiteral("$exception"), std::nullopt, properties, std::nullopt, std::nullopt,
                        std::nullopt, std::nullopt, false);
}

} // namespace

void captureException(AnalyticsSDK& sdk, const std::exception_ptr& error, const std::optional<QVariantMap>& properties)
{
    if (!error)
        return;
    captureWith(
        sdk,
        [&](const AnalyticsErrorTrackingConfig& config) {
            return AnalyticsExceptionProcessor::errorToProperties(error, true, QStringLiteral("generic"), config);
        },
        properties);
}

void captureException(AnalyticsSDK& sdk, const VXCrashReporterExceptionInfo& exception,
                      const std::optional<QVariantMap>& properties)
{
    captureWith(
        sdk,
        [&](const AnalyticsErrorTrackingConfig& config) {
            return AnalyticsExceptionProcessor::exceptionToProperties(exception, true, QStringLiteral("generic"),
                                                                      config);
        },
        properties);
}

} // namespace analytics
