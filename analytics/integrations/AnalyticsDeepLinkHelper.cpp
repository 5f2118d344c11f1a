#include "AnalyticsDeepLinkHelper.h"

namespace analytics {

QVariantMap buildDeepLinkProperties(const QUrl& url, const std::optional<QString>& referrer)
{
    QVariantMap properties{{QStringLiteral("url"), url.toString(QUrl::FullyEncoded)}};
    if (referrer) {
        properties.insert(QStringLiteral("$referrer"), *referrer);
        const QUrl parsed(*referrer, QUrl::StrictMode);
        if (parsed.isValid() && !parsed.host().isEmpty())
            properties.insert(QStringLiteral("$referring_domain"), parsed.host());
    }
    return properties;
}

} // namespace analytics
