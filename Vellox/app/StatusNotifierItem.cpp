#include "Vellox/app/StatusNotifierItem.h"

#include <QIcon>

StatusNotifierItem::StatusNotifierItem(QObject* object, Actions actions, const QIcon& icon)
    : QDBusAbstractAdaptor(object)
    , actions_(std::move(actions))
    , pixmaps_(StatusNotifierPixmap::fromIcon(icon))
{
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    pixmaps_ = StatusNotifierPixmap::fromIcon(icon);
    emit NewIcon();
}

void StatusNotifierItem::Activate(int, int)
{
    if (actions_.activate)
        actions_.activate();
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    if (actions_.contextMenu)
        actions_.contextMenu(QPoint(x, y));
}

void StatusNotifierItem::Scroll(int, const QString&) {}
