// Whatever a crash report file holds, once it decodes, turns into event
// properties and a text log without crashing.
#include "crash-reporting/error-tracking/AnalyticsCrashReportProcessor.h"
#include "crash-reporting/error-tracking/VXCrashReportTextFormatter.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto report = VXCrashReport::fromData(bytes);
    if (!report)
        return 0;
    static const analytics::AnalyticsErrorTrackingConfig config;
    const QVariantMap properties = analytics::AnalyticsCrashReportProcessor::processReport(*report, config);
    // The properties must survive the trip to JSON that the queue makes.
    (void)QJsonDocument::fromVariant(properties).toJson(QJsonDocument::Compact);
    (void)VXCrashReportTextFormatter::stringValueForCrashReport(*report, VXCrashReportTextFormatiOS);
    if (!report->customData().isNull())
        (void)QJsonDocument::fromJson(report->customData());
    return 0;
}
