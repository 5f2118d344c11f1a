#pragma once

#include "Vellox/app/StatusNotifierPixmap.h"

#include <QDBusAbstractAdaptor>
#include <QList>
#include <QPoint>
#include <QString>

#include <functional>

class QIcon;

// The tray icon as a StatusNotifierItem (org.kde.StatusNotifierItem), for
// hosts that speak only that protocol. It answers on the object it is made
// for; the host reads its properties and calls its methods there.
class StatusNotifierItem : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<StatusNotifierPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)

public:
    struct Actions {
        // A primary click on the item: what a click on the tray icon does.
        std::function<void()> activate;
        // The host asks for the item's menu at a point on the screen.
        std::function<void(QPoint)> contextMenu;
    };

    StatusNotifierItem(QObject* object, Actions actions, const QIcon& icon);

    void setIcon(const QIcon& icon);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("app.vellox.desktop"); }
    QString title() const { return QStringLiteral("Vellox"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    // Left empty on purpose: a host prefers a named theme icon over the
    // pixmaps, and only the pixmaps carry the status dot.
    QString iconName() const { return {}; }
    QList<StatusNotifierPixmap> iconPixmap() const { return pixmaps_; }
    bool itemIsMenu() const { return false; }

public Q_SLOTS:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    void NewIcon();

private:
    Actions actions_;
    QList<StatusNotifierPixmap> pixmaps_;
};
