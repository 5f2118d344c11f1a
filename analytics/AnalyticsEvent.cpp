#include "AnalyticsEvent.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

#include <QJsonValue>

#include <array>

namespace analytics {

namespace {

QDateTime now()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

constexpr std::array<const char*, 10> kUnsafeNames = {
    "$snapshot",       "$screen",   "$set",           "survey dismissed", "survey sent",
    "survey shown",    "$identify", "$groupidentify", "$create_alias",    "$feature_flag_called",
};

} // namespace

AnalyticsEvent::AnalyticsEvent(QString event, QString distinctId, QVariantMap properties, QDateTime timestamp,
                               QUuid uuid, std::optional<QString> apiKey)
    : event_(std::move(event))
    , distinctId_(std::move(distinctId))
    , properties_(std::move(properties))
    , timestamp_(std::move(timestamp))
    , uuid_(uuid)
    , apiKey_(std::move(apiKey))
{
}

QString uuidText(const QUuid& uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QVariantMap AnalyticsEvent::toJSON() const
{
    QVariantMap json{
        {QStringLiteral("event"), event_},
        {QStringLiteral("distinct_id"), distinctId_},
        {QStringLiteral("properties"), properties_},
        {QStringLiteral("timestamp"), toISO8601String(timestamp_)},
        {QStringLiteral("uuid"), uuidText(uuid_)},
    };
    if (apiKey_)
        json.insert(QStringLiteral("api_key"), *apiKey_);
    return json;
}

QJsonObject AnalyticsEvent::toJsonObject() const
{
    QJsonObject json{
        {QStringLiteral("event"), event_},
        {QStringLiteral("distinct_id"), distinctId_},
        {QStringLiteral("properties"), QJsonObject::fromVariantMap(properties_)},
        {QStringLiteral("timestamp"), toISO8601String(timestamp_)},
        {QStringLiteral("uuid"), uuidText(uuid_)},
    };
    if (apiKey_)
        json.insert(QStringLiteral("api_key"), *apiKey_);
    return json;
}

std::optional<AnalyticsEvent> AnalyticsEvent::fromJSON(const QVariantMap& json)
{
    const QVariant name = json.value(QStringLiteral("event"));
    if (name.typeId() != QMetaType::QString)
        return std::nullopt;

    const QVariant stamp = json.value(QStringLiteral("timestamp"));
    const QString stampText = stamp.typeId() == QMetaType::QString ? stamp.toString() : toISO8601String(now());
    const QDateTime timestamp = toISO8601Date(stampText).value_or(now());

    const QVariant props = json.value(QStringLiteral("properties"));
    QVariantMap properties = props.typeId() == QMetaType::QVariantMap ? props.toMap() : QVariantMap();
    const QVariant set = json.value(QStringLiteral("$set"));
    if (set.typeId() == QMetaType::QVariantMap)
        properties.insert(QStringLiteral("$set"), set);

    QString distinctId;
    const QVariant topId = json.value(QStringLiteral("distinct_id"));
    const QVariant propId = properties.value(QStringLiteral("distinct_id"));
    if (topId.typeId() == QMetaType::QString)
        distinctId = topId.toString();
    else if (propId.typeId() == QMetaType::QString)
        distinctId = propId.toString();
    else
        return std::nullopt;

    QString idText;
    const QVariant uuid = json.value(QStringLiteral("uuid"));
    const QVariant messageId = json.value(QStringLiteral("message_id"));
    if (uuid.typeId() == QMetaType::QString)
        idText = uuid.toString();
    else if (messageId.typeId() == QMetaType::QString)
        idText = messageId.toString();
    QUuid id = idText.size() == 36 ? QUuid::fromString(idText) : QUuid();
    if (id.isNull())
        id = TimeBasedEpochGenerator::shared().v7();

    const QVariant key = json.value(QStringLiteral("api_key"));
    std::optional<QString> apiKey;
    if (key.typeId() == QMetaType::QString)
        apiKey = key.toString();

    return AnalyticsEvent(name.toString(), distinctId, std::move(properties), timestamp, id, std::move(apiKey));
}

std::optional<AnalyticsEvent> AnalyticsEvent::fromJsonObject(const QJsonObject& json)
{
    return fromJSON(json.toVariantMap());
}

std::optional<AnalyticsKnownUnsafeEditableEvent> knownUnsafeEditableEvent(const QString& raw)
{
    for (size_t i = 0; i < kUnsafeNames.size(); ++i)
        if (raw == QLatin1String(kUnsafeNames[i]))
            return static_cast<AnalyticsKnownUnsafeEditableEvent>(i);
    return std::nullopt;
}

QString rawValue(AnalyticsKnownUnsafeEditableEvent event)
{
    return QString::fromLatin1(kUnsafeNames[static_cast<size_t>(event)]);
}

} // namespace analytics
