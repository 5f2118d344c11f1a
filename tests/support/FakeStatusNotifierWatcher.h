#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

// A tray host's StatusNotifierWatcher on the session bus, as far as an item
// sees it: a host is registered, and the items registered are recorded.
// It is exported at the watcher's path while it lives; start() and stop()
// take and release the watcher's bus name.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    static constexpr const char* kService = "org.kde.StatusNotifierWatcher";

    explicit FakeStatusNotifierWatcher(QDBusConnection bus);
    ~FakeStatusNotifierWatcher() override;

    bool start();
    bool stop();

    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { items_.append(service); }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    QDBusConnection bus_;
    QStringList items_;
};
