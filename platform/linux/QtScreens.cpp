#include "QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace platform::linuxbackend {

QList<Screens::Screen> QtScreens::screens() const
{
    QList<Screen> list;
    for (const QScreen* screen : QGuiApplication::screens())
        list.append({QRectF(screen->geometry()), QRectF(screen->availableGeometry())});
    return list;
}

int QtScreens::mainScreenIndex() const
{
    return int(QGuiApplication::screens().indexOf(QGuiApplication::primaryScreen()));
}

QPointF QtScreens::mouseLocation() const
{
    return QPointF(QCursor::pos());
}

} // namespace platform::linuxbackend
