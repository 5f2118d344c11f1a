#include "AnalyticsBundle.h"

#include "platform/AppInfo.h"
#include "platform/Platform.h"

namespace analytics::bundle {

QVariant infoValue(const QString& key)
{
    const auto& info = platform::Platform::current().appInfo;
    return info ? info->value(key) : QVariant();
}

QString identifier()
{
    const QVariant value = infoValue(QStringLiteral("CFBundleIdentifier"));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QString identifierOrFallback()
{
    const QString id = identifier();
    return id.isEmpty() ? QString::fromLatin1(kFallbackIdentifier) : id;
}

} // namespace analytics::bundle
