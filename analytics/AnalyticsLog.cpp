#include "AnalyticsLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace analytics {

std::atomic<bool> debugLogEnabled{false};

namespace {

// Plain characters, so that no destructor runs on them at exit while
// threads that are never stopped may still log.
constexpr QLatin1String kPrefix("[Analytics] ");

struct Sink {
    QMutex mutex;
    AnalyticsLogSink sink;
};

// Never destroyed, for the same reason.
Sink& sinkState()
{
    static Sink* const state = new Sink;
    return *state;
}

bool isValidScalar(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType: // no value: JSON null
    case QMetaType::Nullptr:
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::QJsonValue:
    case QMetaType::QJsonObject:
    case QMetaType::QJsonArray:
        return true;
    case QMetaType::Double:
        return std::isfinite(value.toDouble());
    case QMetaType::Float:
        return std::isfinite(value.toFloat());
    default:
        return false;
    }
}

// Splits a UTC time into its calendar fields; false when the year cannot be
// written with four digits.
bool utcFields(qint64 msecs, std::tm& fields, int& millis)
{
    qint64 seconds = msecs / 1000;
    qint64 rest = msecs % 1000;
    if (rest < 0) {
        rest += 1000;
        seconds -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    if (!gmtime_r(&t, &fields))
        return false;
    millis = static_cast<int>(rest);
    return fields.tm_year + 1900 >= 0 && fields.tm_year + 1900 <= 9999;
}

int digits(const QString& text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

void setAnalyticsLogSink(AnalyticsLogSink sink)
{
    Sink& state = sinkState();
    QMutexLocker lock(&state.mutex);
    state.sink = std::move(sink);
}

void analyticsLog(const QString& message)
{
    if (!debugLogEnabled.load(std::memory_order_relaxed))
        return;
    const QString line = message.startsWith(kPrefix) ? message : kPrefix + message;
    Sink& state = sinkState();
    QMutexLocker lock(&state.mutex);
    if (state.sink) {
        state.sink(line);
        return;
    }
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool isValidObject(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!isValidObject(it.value()))
                return false;
        return true;
    }
    case QMetaType::QVariantHash: {
        const QVariantHash map = value.toHash();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!isValidObject(it.value()))
                return false;
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant& element : list)
            if (!isValidObject(element))
                return false;
        return true;
    }
    case QMetaType::QStringList:
        return true;
    default:
        return isValidScalar(value);
    }
}

std::optional<QVariantMap> sanitizeDictionary(const std::optional<QVariantMap>& dictionary)
{
    if (!dictionary || dictionary->isEmpty())
        return std::nullopt;
    QVariantMap result = *dictionary;
    for (auto it = result.begin(); it != result.end();) {
        if (isValidObject(it.value())) {
            ++it;
            continue;
        }
        if (it.value().typeId() == QMetaType::QUrl) {
            it.value() = it.value().toUrl().toString(QUrl::FullyEncoded);
            ++it;
        } else if (it.value().typeId() == QMetaType::QDateTime && it.value().toDateTime().isValid()) {
            it.value() = toInternetDateTimeString(it.value().toDateTime());
            ++it;
        } else {
            analyticsLog(QStringLiteral("property: ") + it.key() + QStringLiteral(" isn't serializable, dropping the item"));
            it = result.erase(it);
        }
    }
    return result;
}

std::optional<QByteArray> toJSONData(const std::optional<QVariantMap>& dictionary, JsonWriting)
{
    const std::optional<QVariantMap> clean = sanitizeDictionary(dictionary);
    if (!clean || clean->isEmpty())
        return std::nullopt;
    // QJsonObject keeps its keys sorted, so both writing options give the
    // same, stable text.
    return QJsonDocument(QJsonObject::fromVariantMap(*clean)).toJson(QJsonDocument::Compact);
}

QString toISO8601String(const QDateTime& date)
{
    std::tm f{};
    int millis = 0;
    if (!date.isValid() || !utcFields(date.toMSecsSinceEpoch(), f, millis))
        return QStringLiteral("1970-01-01T00:00:00.000Z");
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", f.tm_year + 1900, f.tm_mon + 1,
                  f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec, millis);
    return QString::fromLatin1(buffer);
}

QString toInternetDateTimeString(const QDateTime& date)
{
    std::tm f{};
    int millis = 0;
    if (!date.isValid() || !utcFields(date.toMSecsSinceEpoch(), f, millis))
        return QStringLiteral("1970-01-01T00:00:00Z");
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,
                  f.tm_hour, f.tm_min, f.tm_sec);
    return QString::fromLatin1(buffer);
}

std::optional<QDateTime> toISO8601Date(const QString& text)
{
    // "yyyy-MM-ddTHH:mm:ss.SSSZ" (24) or "yyyy-MM-ddTHH:mm:ssZ" (20).
    const qsizetype n = text.size();
    if (n != 24 && n != 20)
        return std::nullopt;
    auto at = [&](int i, char c) { return text.at(i) == QLatin1Char(c); };
    if (!at(4, '-') || !at(7, '-') || !at(10, 'T') || !at(13, ':') || !at(16, ':') || !at(int(n) - 1, 'Z'))
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    int millis = 0;
    if (n == 24) {
        if (!at(19, '.'))
            return std::nullopt;
        millis = digits(text, 20, 3);
    }
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || millis < 0)
        return std::nullopt;
    const QDate d(year, month, day);
    const QTime t(hour, minute, second, millis);
    if (!d.isValid() || !t.isValid())
        return std::nullopt;
    return QDateTime(d, t, Qt::UTC);
}

} // namespace analytics
