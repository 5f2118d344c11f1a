#include "AnalyticsConfig.h"

namespace analytics {

namespace {

QUrl parsedHost(const QString& host)
{
    const QUrl url(host.trimmed(), QUrl::StrictMode);
    if (host.trimmed().isEmpty() || !url.isValid())
        return QUrl(QString::fromLatin1(AnalyticsConfig::kDefaultHost));
    return url;
}

} // namespace

AnalyticsConfig::AnalyticsConfig(const QString& projectToken)
    : projectToken_(projectToken.trimmed())
    , host_(QString::fromLatin1(kDefaultHost))
{
}

AnalyticsConfig::AnalyticsConfig(const QString& projectToken, const QString& host)
    : projectToken_(projectToken.trimmed())
    , host_(parsedHost(host))
{
}

} // namespace analytics
