#include "AnalyticsConfig.h"

#include "analytics/AnalyticsLog.h"

namespace analytics {

namespace {

const QString kApiKeyDeprecated = QStringLiteral(
    "[Analytics] apiKey is deprecated and will be removed in the next major version. Use projectToken instead.");

QString trimmedToken(const QString& token)
{
    const QString trimmed = token.trimmed();
    if (trimmed.isEmpty())
        analyticsLog(QStringLiteral("[Analytics] Either projectToken or apiKey must be provided."));
    return trimmed;
}

QUrl parsedHost(const QString& host)
{
    const QString trimmed = host.trimmed();
    const QUrl url(trimmed, QUrl::StrictMode);
    // A host must be an absolute URL with a host part; anything else would
    // send every request nowhere.
    if (trimmed.isEmpty() || !url.isValid() || url.isRelative() || url.host().isEmpty())
        return QUrl(AnalyticsConfig::defaultHost());
    return url;
}

} // namespace

std::optional<AnalyticsDataMode> analyticsDataMode(int raw)
{
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<AnalyticsDataMode>(raw);
}

std::optional<AnalyticsPersonProfiles> analyticsPersonProfiles(int raw)
{
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<AnalyticsPersonProfiles>(raw);
}

AnalyticsConfig::AnalyticsConfig(const QString& projectToken)
    : projectToken_(trimmedToken(projectToken))
    , host_(defaultHost())
{
}

AnalyticsConfig::AnalyticsConfig(const QString& projectToken, const QString& host)
    : projectToken_(trimmedToken(projectToken))
    , host_(parsedHost(host))
{
}

std::shared_ptr<AnalyticsConfig> AnalyticsConfig::withApiKey(const QString& apiKey)
{
    analyticsLog(kApiKeyDeprecated);
    return std::make_shared<AnalyticsConfig>(apiKey);
}

std::shared_ptr<AnalyticsConfig> AnalyticsConfig::withApiKey(const QString& apiKey, const QString& host)
{
    analyticsLog(kApiKeyDeprecated);
    return std::make_shared<AnalyticsConfig>(apiKey, host);
}

QString AnalyticsConfig::apiKey() const
{
    analyticsLog(kApiKeyDeprecated);
    return projectToken_;
}

void AnalyticsConfig::setEvaluationEnvironments(std::optional<QStringList> environments)
{
    if (environments)
        analyticsLog(QStringLiteral("[Analytics] evaluationEnvironments is deprecated. Use evaluationContexts instead."));
    evaluationContexts_ = std::move(environments);
}

void AnalyticsConfig::setRemoteConfig(bool on)
{
    if (!on)
        analyticsLog(QStringLiteral(
            "[Analytics] remoteConfig is deprecated and is now always enabled. Setting it to false has no effect."));
}

void AnalyticsConfig::setBeforeSend(std::vector<BeforeSendBlock> hooks)
{
    beforeSend_ = std::move(hooks);
}

void AnalyticsConfig::setBeforeSend(const std::vector<std::shared_ptr<BoxedBeforeSendBlock>>& boxed)
{
    std::vector<BeforeSendBlock> hooks;
    hooks.reserve(boxed.size());
    for (const auto& box : boxed)
        if (box)
            hooks.push_back(box->block);
    beforeSend_ = std::move(hooks);
}

std::optional<AnalyticsEvent> AnalyticsConfig::beforeSend(AnalyticsEvent event) const
{
    std::optional<AnalyticsEvent> current = std::move(event);
    for (const BeforeSendBlock& hook : beforeSend_) {
        if (!hook)
            continue;
        current = hook(std::move(*current));
        if (!current)
            return std::nullopt;
    }
    return current;
}

} // namespace analytics
