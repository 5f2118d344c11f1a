#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <optional>

namespace analytics {

// The properties of a "Deep Link Opened" event: "url", and with a referrer
// "$referrer" plus "$referring_domain" when the referrer is a URL with a host.
QVariantMap buildDeepLinkProperties(const QUrl& url, const std::optional<QString>& referrer);

} // namespace analytics
