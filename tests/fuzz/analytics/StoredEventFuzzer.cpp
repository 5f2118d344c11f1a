// Reads bytes the way the send queue reads a queued event file left on disk
// (by any version, or damaged), and the other texts the client parses: wire
// dates and os-release.

#include "analytics/AnalyticsContext.h"
#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsLog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isObject()) {
        if (const auto event = analytics::AnalyticsEvent::fromJsonObject(doc.object())) {
            // What is read back is stored again the same way.
            const auto again = analytics::AnalyticsEvent::fromJsonObject(event->toJsonObject());
            if (!again || again->event() != event->event() || again->distinctId() != event->distinctId())
                __builtin_trap();
        }
    }
    const QString text = QString::fromUtf8(bytes);
    if (const auto date = analytics::toISO8601Date(text))
        if (analytics::toISO8601Date(analytics::toISO8601String(*date)) != date)
            __builtin_trap();
    (void)analytics::AnalyticsContext::parseOsRelease(bytes);
    return 0;
}
