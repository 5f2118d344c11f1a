#pragma once

#include <QMutex>
#include <QObject>
#include <QSizeF>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

namespace analytics {

class Reachability;

// The device, application, system, screen, locale and network properties
// every event carries, as they are on this Linux machine: the system from
// os-release, the machine from uname, the manufacturer and model from DMI
// where the firmware tables are readable (left out where they are not).
class AnalyticsContext : public QObject {
    Q_OBJECT
public:
    explicit AnalyticsContext(std::shared_ptr<Reachability> reachability);
    ~AnalyticsContext() override;

    // Computed on first read, then kept for the life of the context.
    QVariantMap staticContext();
    QVariantMap sdkInfo();
    QVariantMap personPropertiesContext();
    // Built anew for each event.
    QVariantMap dynamicContext();

    void registerNotifications();
    void unregisterNotifications();
    // Reads the size of the screen of the focused window; on the main thread
    // at once, from elsewhere queued to it.
    void onShouldUpdateScreenSize();

    // System facts, each read once per process.
    struct System {
        QString osName;
        QString osVersion;
        QString machine;
        std::optional<QString> manufacturer;
        std::optional<QString> model;
    };
    static const System& system();
    // os-release as key to unquoted value.
    static QVariantMap parseOsRelease(const QByteArray& text);

private:
    void readScreenSize();

    std::shared_ptr<Reachability> reachability_;
    QMutex screenSizeLock_;
    std::optional<QSizeF> screenSize_;
    std::once_flag staticOnce_, sdkOnce_, personOnce_;
    QVariantMap staticContext_, sdkInfo_, personProperties_;
    QList<QMetaObject::Connection> observers_;
};

} // namespace analytics
