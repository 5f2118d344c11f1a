#pragma once

#include "Vellox/app/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>

class QDBusServiceWatcher;

// Shows the tray icon to a StatusNotifierItem host that comes after start-up.
// Qt decides once, when the tray icon is made, between its own
// StatusNotifierItem and the XEmbed tray; having gone the XEmbed way, it never
// shows the icon to a host that speaks only StatusNotifierItem. So while a
// StatusNotifierWatcher is on the bus and no XEmbed tray has docked the icon,
// this registers an item of its own, and withdraws it the moment the XEmbed
// tray docks, so the icon never shows twice.
class StatusNotifierTray : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kObjectPath = "/StatusNotifierItem";

    // Answers whether a StatusNotifierHost is registered with the watcher on
    // `bus`: the question Qt asks once to choose its way.
    static bool hostRegistered(const QDBusConnection& bus);

    // `xembedDocked` answers whether an XEmbed tray holds the icon now.
    StatusNotifierTray(QDBusConnection bus, std::function<bool()> xembedDocked, StatusNotifierItem::Actions actions,
                       QObject* parent = nullptr);
    ~StatusNotifierTray() override;

    void setIcon(const QIcon& icon);
    bool isRegistered() const { return !exported_.isNull(); }
    // Registers or withdraws the item as the watcher and the XEmbed tray now
    // stand; the owner of `xembedDocked` calls it whenever that answer may
    // have changed.
    void reconcile();

private:
    void registerItem();
    void withdraw();

    QDBusConnection bus_;
    std::function<bool()> xembedDocked_;
    StatusNotifierItem::Actions actions_;
    QIcon icon_;
    QString serviceName_;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool watcherPresent_ = false;
    bool refused_ = false;
    QPointer<QObject> exported_;
    QPointer<StatusNotifierItem> item_;
};
