#include "AnalyticsBinaryImageInfo.h"

#include "crash-reporting/error-tracking/AnalyticsStackFrame.h"

namespace analytics {

QVariantMap AnalyticsBinaryImageInfo::toDictionary() const
{
    QVariantMap map{
        {QStringLiteral("type"), QStringLiteral("macho")},
        {QStringLiteral("code_file"), name},
        {QStringLiteral("image_addr"), formatEventAddress(address)},
        {QStringLiteral("image_size"), QVariant::fromValue<qulonglong>(size)},
    };
    if (uuid)
        map.insert(QStringLiteral("debug_id"), *uuid);
    if (vmAddress && *vmAddress != 0)
        map.insert(QStringLiteral("image_vmaddr"), formatEventAddress(*vmAddress));
    if (arch)
        map.insert(QStringLiteral("arch"), *arch);
    return map;
}

QString formattedAsUUID(const QString& text)
{
    QString plain = text;
    plain.remove(QLatin1Char('-'));
    plain = plain.toUpper();
    if (plain.size() != 32)
        return text;
    return plain.mid(0, 8) + QLatin1Char('-') + plain.mid(8, 4) + QLatin1Char('-') + plain.mid(12, 4) +
        QLatin1Char('-') + plain.mid(16, 4) + QLatin1Char('-') + plain.mid(20, 12);
}

} // namespace analytics
