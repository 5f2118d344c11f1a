#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <optional>

namespace analytics {

// The client's debug switch: off at start, set from the configuration by
// set-up. Every diagnostic line of the client prints only while it is on.
extern std::atomic<bool> debugLogEnabled;

// Prints "[Analytics] " + message on standard output while the switch is on.
// A message that already starts with the prefix is printed as it stands.
void analyticsLog(const QString& message);

// Where lines go instead of standard output (tests read them back); an empty
// function puts standard output back.
using AnalyticsLogSink = std::function<void(const QString& line)>;
void setAnalyticsLogSink(AnalyticsLogSink sink);

// Makes a property map safe for JSON: URLs become their text, dates their
// ISO-8601 text in UTC without fraction, and anything else the JSON writer
// refuses is dropped with a log line. Nested maps and lists are kept or
// dropped whole. Nothing for an absent or empty map.
std::optional<QVariantMap> sanitizeDictionary(const std::optional<QVariantMap>& dictionary);

// Whether the JSON writer takes the value: strings, Booleans, finite numbers,
// null, and maps and lists made only of such values.
bool isValidObject(const QVariant& value);

enum class JsonWriting { Plain, SortedKeys };

// The sanitised map as compact JSON; nothing for an empty map or on failure.
// Keys come out sorted either way, which the person-properties hash needs.
std::optional<QByteArray> toJSONData(const std::optional<QVariantMap>& dictionary,
                                     JsonWriting options = JsonWriting::Plain);

// The wire's date form, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC.
QString toISO8601String(const QDateTime& date);
// Reads the wire form, or the same without milliseconds; nothing otherwise.
std::optional<QDateTime> toISO8601Date(const QString& text);
// Internet date-time in UTC without fraction, as the sanitiser writes dates.
QString toInternetDateTimeString(const QDateTime& date);

} // namespace analytics
