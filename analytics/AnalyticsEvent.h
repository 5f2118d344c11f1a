#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <QVariantMap>

#include <optional>

namespace analytics {

// One analytics event: what capture builds, the send queue stores as one
// JSON file, and the ingestion client uploads. A before-send hook may edit
// any field but the API key.
class AnalyticsEvent {
public:
    AnalyticsEvent(QString event, QString distinctId, QVariantMap properties, QDateTime timestamp, QUuid uuid,
                   std::optional<QString> apiKey = std::nullopt);

    const QString& event() const { return event_; }
    void setEvent(const QString& event) { event_ = event; }
    const QString& distinctId() const { return distinctId_; }
    void setDistinctId(const QString& id) { distinctId_ = id; }
    const QVariantMap& properties() const { return properties_; }
    QVariantMap& properties() { return properties_; }
    void setProperties(const QVariantMap& properties) { properties_ = properties; }
    const QDateTime& timestamp() const { return timestamp_; }
    void setTimestamp(const QDateTime& timestamp) { timestamp_ = timestamp; }
    const QUuid& uuid() const { return uuid_; }
    void setUuid(const QUuid& uuid) { uuid_ = uuid; }
    const std::optional<QString>& apiKey() const { return apiKey_; }

    // The wire and storage form: "event", "distinct_id", "properties",
    // "timestamp", "uuid", and "api_key" only when set.
    QVariantMap toJSON() const;
    QJsonObject toJsonObject() const;
    // Rebuilds an event from that form or from the older stored forms;
    // nothing without an event name or a distinct id.
    static std::optional<AnalyticsEvent> fromJSON(const QVariantMap& json);
    static std::optional<AnalyticsEvent> fromJsonObject(const QJsonObject& json);

    bool operator==(const AnalyticsEvent&) const = default;

private:
    QString event_;
    QString distinctId_;
    QVariantMap properties_;
    QDateTime timestamp_;
    QUuid uuid_;
    std::optional<QString> apiKey_;
};

// The upper-case 8-4-4-4-12 text of a UUID, as ids travel and files are named.
QString uuidText(const QUuid& uuid);

// The event names whose dropping by a before-send hook is worth a warning.
enum class AnalyticsKnownUnsafeEditableEvent {
    snapshot,
    screen,
    set,
    surveyDismissed,
    surveySent,
    surveyShown,
    identify,
    groupidentify,
    createAlias,
    featureFlagCalled,
};
std::optional<AnalyticsKnownUnsafeEditableEvent> knownUnsafeEditableEvent(const QString& rawValue);
QString rawValue(AnalyticsKnownUnsafeEditableEvent event);

} // namespace analytics
