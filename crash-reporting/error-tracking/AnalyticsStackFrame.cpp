#include "AnalyticsStackFrame.h"

namespace analytics {

QString formatEventAddress(uint64_t address)
{
    return QStringLiteral("0x%1").arg(address, 16, 16, QLatin1Char('0'));
}

QVariantMap AnalyticsStackFrame::toDictionary() const
{
    QVariantMap map{
        {QStringLiteral("instruction_addr"), formatEventAddress(instructionAddress)},
        {QStringLiteral("platform"), QStringLiteral("apple")},
        {QStringLiteral("in_app"), inApp},
    };
    if (module)
        map.insert(QStringLiteral("module"), *module);
    if (package)
        map.insert(QStringLiteral("package"), *package);
    if (imageAddress)
        map.insert(QStringLiteral("image_addr"), formatEventAddress(*imageAddress));
    if (function)
        map.insert(QStringLiteral("function"), *function);
    if (symbolAddress)
        map.insert(QStringLiteral("symbol_addr"), formatEventAddress(*symbolAddress));
    return map;
}

} // namespace analytics
